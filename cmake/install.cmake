# What `cmake --install` and the Debian package hold: every program into bin/,
# its man page into share/man/man1/, README and LICENSE into share/doc/loopcable/.
# loopsim installs only as the component of its own name
# (`cmake --install build --component loopsim`).

# The executables defined in the subsystem folders (every folder but the
# rig's tools, the tests and the benches), so that a new program is installed,
# packaged and given a man page without a list to keep in step.
set(LOOPCABLE_PROGRAMS "")
get_property(folders DIRECTORY ${PROJECT_SOURCE_DIR} PROPERTY SUBDIRECTORIES)
foreach(folder ${folders})
  get_filename_component(folder_name ${folder} NAME)
  if(folder_name MATCHES "^(tools|tests|bench)$")
    continue()
  endif()
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      list(APPEND LOOPCABLE_PROGRAMS ${target})
    endif()
  endforeach()
endforeach()
list(SORT LOOPCABLE_PROGRAMS)
message(STATUS "Programs: ${LOOPCABLE_PROGRAMS}")

# `cmake --build build --target programs`: the programs alone, as the demo builds them.
add_custom_target(programs DEPENDS ${LOOPCABLE_PROGRAMS})
install(TARGETS ${LOOPCABLE_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)

set(LOOPCABLE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/loopcable)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${LOOPCABLE_DOC_DIR} COMPONENT programs)
# What a lab needs beside the programs: the docs that the installed README
# links to (docs/ as it is in the source tree, so that every relative link
# resolves: the recipes and the schema among them), and loopcheck's JSON
# Schema with its checker in share/loopcable/, outside the doc folder, which
# a system may leave out (dpkg's path-exclude).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${LOOPCABLE_DOC_DIR}/docs COMPONENT programs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "*.json" PATTERN "*.yml" PATTERN "*.yaml"
        PATTERN "*.py")
install(FILES ${PROJECT_SOURCE_DIR}/docs/loopcheck.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/loopcable
        COMPONENT programs)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/json_check.py DESTINATION ${CMAKE_INSTALL_DATADIR}/loopcable
        COMPONENT programs)

# loopsim, the simulated interface, for a bench's own self-test: in the
# programs (and the package), and alone as the component of its own name.
set(LOOPCABLE_MAN_PROGRAMS ${LOOPCABLE_PROGRAMS})
if(TARGET loopsim)
  install(TARGETS loopsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  install(TARGETS loopsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT loopsim EXCLUDE_FROM_ALL)
  list(APPEND LOOPCABLE_MAN_PROGRAMS loopsim)
endif()

# Man pages: man/PROGRAM.1.scd, the version filled in, through scdoc into
# build/man/PROGRAM.1, installed gzipped (gzip -n: no name or time stamp, the
# same bytes on every build).
find_program(SCDOC scdoc)
find_program(GZIP gzip)
if(NOT SCDOC OR NOT GZIP)
  message(STATUS "scdoc or gzip not found (Debian package scdoc): the man pages are not built")
else()
  set(man_pages "")
  foreach(program ${LOOPCABLE_MAN_PROGRAMS})
    set(source ${PROJECT_SOURCE_DIR}/man/${program}.1.scd)
    if(NOT EXISTS ${source})
      message(WARNING "${program} has no man page man/${program}.1.scd")
      continue()
    endif()
    set(filled ${PROJECT_BINARY_DIR}/man/${program}.1.scd)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    if(program STREQUAL "loopcheck" AND TARGET loopcheck_man)
      # Its options and exit statuses come from the table that --help prints.
      add_custom_command(OUTPUT ${filled}
        COMMAND loopcheck_man ${source} ${filled} ${PROJECT_VERSION}
        DEPENDS ${source} loopcheck_man VERBATIM)
    elseif(program STREQUAL "loopcheck")
      continue()  # no generator where the rig's tools are not built (Windows): no page, rather than a page without options
    else()
      configure_file(${source} ${filled} @ONLY)
    endif()
    add_custom_command(OUTPUT ${page} ${page}.gz
      COMMAND ${SCDOC} < ${filled} > ${page}
      COMMAND ${GZIP} -9nkf ${page}
      DEPENDS ${filled} VERBATIM)
    list(APPEND man_pages ${page})
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endforeach()
  add_custom_target(man ALL DEPENDS ${man_pages})
endif()

# The Debian package: `cpack -G DEB` in the build folder (tools/package.sh).
# Its dependencies come from the binaries (dpkg-shlibdeps), not from a list.
# Debian's policy asks for a copyright file and a changelog in the package's
# doc folder; they are installed for the package only (component debian).
if(NOT GZIP)
  return()
endif()
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${changelog} @ONLY)
add_custom_command(OUTPUT ${changelog}.gz COMMAND ${GZIP} -9nkf ${changelog} DEPENDS ${changelog} VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz DESTINATION ${LOOPCABLE_DOC_DIR} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${LOOPCABLE_DOC_DIR}
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME loopcable)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Loopcable Test Suite <loopcable@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "measure audio interfaces through a loop cable")
set(CPACK_PACKAGE_DESCRIPTION
  "Small programs that measure an audio interface through a loop cable from\n\
an output back to an input: round-trip latency and gain (karvel), magnitude\n\
response (tessaly, orbisca, morvane), a scripted latency measurement with\n\
text or JSON output (loopcheck), and a list of the devices and the buffer\n\
sizes they accept (dravik). They run on PortAudio: on a JACK server\n\
(PipeWire's JACK included) or on ALSA.")
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${PROJECT_BINARY_DIR};${PROJECT_NAME};programs;/"
  "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The schema's checker (share/loopcable/json_check.py) is Python, and needs python3-jsonschema.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-jsonschema")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://loopcable.example.org/")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_GENERATOR DEB)
include(CPack)
