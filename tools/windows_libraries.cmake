# The Windows builds of PortAudio, SDL2 and OpenBLAS: the static libraries that
# tools/windows_build.sh builds into its cache and names in CMAKE_FIND_ROOT_PATH,
# as the same targets that pkg-config gives the Linux build. Every program links
# statically (the C and C++ runtimes and winpthread included), so an .exe runs
# on a Windows machine as it is, with nothing to install beside it.
add_link_options(-static)
# The cache folders are named after the libraries' recipes, so a changed
# recipe moves them: look again on every configure, never at the last one's.
foreach(found PORTAUDIO_INCLUDE_DIR PORTAUDIO_LIBRARY SDL2_INCLUDE_DIR SDL2_LIBRARY OPENBLAS_INCLUDE_DIR OPENBLAS_LIBRARY)
  unset(${found} CACHE)
endforeach()

find_path(PORTAUDIO_INCLUDE_DIR portaudio.h REQUIRED)
find_library(PORTAUDIO_LIBRARY NAMES libportaudio.a REQUIRED)
add_library(PkgConfig::PORTAUDIO INTERFACE IMPORTED GLOBAL)
target_include_directories(PkgConfig::PORTAUDIO INTERFACE ${PORTAUDIO_INCLUDE_DIR})
# What PortAudio's host APIs (WMME, DirectSound, WASAPI, WDM-KS, ASIO) call.
target_link_libraries(PkgConfig::PORTAUDIO INTERFACE ${PORTAUDIO_LIBRARY} winmm dsound setupapi ole32 uuid)
# PortAudio built with ASIO has PaAsio_GetAvailableBufferSizes; without, the
# buffer-size query leaves it out.
option(PORTAUDIO_HAS_ASIO "The PortAudio library has the ASIO host API" OFF)
if(PORTAUDIO_HAS_ASIO)
  target_compile_definitions(PkgConfig::PORTAUDIO INTERFACE PORTAUDIO_HAS_ASIO=1)
endif()

find_path(SDL2_INCLUDE_DIR SDL.h PATH_SUFFIXES SDL2 REQUIRED)
find_library(SDL2_LIBRARY NAMES libSDL2.a REQUIRED)
add_library(PkgConfig::SDL2 INTERFACE IMPORTED GLOBAL)
target_include_directories(PkgConfig::SDL2 INTERFACE ${SDL2_INCLUDE_DIR})
# The programs have their own main (no SDL2main) and are console programs
# (no -mwindows): Dravik writes to the console, Ctrl-C reaches every program.
target_compile_definitions(PkgConfig::SDL2 INTERFACE SDL_MAIN_HANDLED)
target_link_libraries(PkgConfig::SDL2 INTERFACE ${SDL2_LIBRARY} setupapi winmm imm32 version ole32 oleaut32 uuid
                                                gdi32 user32 shell32 advapi32 cfgmgr32)

find_path(OPENBLAS_INCLUDE_DIR cblas.h PATH_SUFFIXES openblas REQUIRED)
find_library(OPENBLAS_LIBRARY NAMES libopenblas.a REQUIRED)
add_library(PkgConfig::OPENBLAS INTERFACE IMPORTED GLOBAL)
target_include_directories(PkgConfig::OPENBLAS INTERFACE ${OPENBLAS_INCLUDE_DIR})
target_link_libraries(PkgConfig::OPENBLAS INTERFACE ${OPENBLAS_LIBRARY})
