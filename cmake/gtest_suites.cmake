# Run after a test executable is built (cmake -P): one ctest test per
# GoogleTest suite of it, "--gtest_filter=SUITE.*", written to OUT.
#
# Why suites and not cases: ctest starts a process per test, and a start
# (the executable's libraries, ctest's own bookkeeping) costs 20 to 60 ms of
# processor time, as much as most cases take: per case, 387 starts were
# about a third of the unit tests' time on one core. A suite still names the
# family that failed, and GoogleTest's own lines name the case.
#
# Inputs: EXE, OUT, LABEL, TIMEOUT, ENVIRONMENT (";" escaped as "\;").
execute_process(COMMAND "${EXE}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${EXE} --gtest_list_tests: exit status ${status}")
endif()
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")

set(suites "")
set(suite "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #][^ ]*)\\.( +#.*)?$")
    set(suite "${CMAKE_MATCH_1}")
  elseif(suite AND line MATCHES "^  ([^ ]+)")
    # A suite counts if one of its cases runs without
    # --gtest_also_run_disabled_tests (those run under the label "long").
    set(case "${CMAKE_MATCH_1}")
    if(NOT case MATCHES "^DISABLED_" AND NOT suite MATCHES "(^|/)DISABLED_")
      list(APPEND suites "${suite}")
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES suites)

set(text "")
foreach(suite IN LISTS suites)
  string(APPEND text "add_test([=[${suite}]=] [=[${EXE}]=] [=[--gtest_filter=${suite}.*]=])\n"
         "set_tests_properties([=[${suite}]=] PROPERTIES LABELS [=[${LABEL}]=] TIMEOUT ${TIMEOUT}"
         " SKIP_REGULAR_EXPRESSION [=[\\[  SKIPPED \\]]=] ENVIRONMENT [=[${ENVIRONMENT}]=])\n")
endforeach()
file(WRITE "${OUT}" "${text}")
