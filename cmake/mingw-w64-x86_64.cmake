# Cross-compiles for 64-bit Windows on Debian with mingw-w64. The posix thread
# model gives std::thread and std::mutex; the C++ runtime, libgcc and
# winpthread are linked statically, so the programs and talveco.dll need no
# DLL beyond Windows' own and those shipped beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVECO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALVECO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVECO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVECO_MINGW_TRIPLET}-windres)

# Libraries built for Windows (libsndfile and its codecs) live in a prefix of
# their own, given as CMAKE_PREFIX_PATH; the build machine's are never used.
set(CMAKE_FIND_ROOT_PATH /usr/${TALVECO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Tests and the programs the build runs go through wine, in a prefix private
# to this build folder, so that parallel builds and users do not share one.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)

# The prefix with the third-party libraries built for Windows
# (scripts/windows-deps.sh prints it): searched as a root of its own, and
# its pkg-config files read with the prefix they were found in, so that the
# prefix can move (it is a cache).
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALVECO_WINDOWS_PREFIX)
if(TALVECO_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TALVECO_WINDOWS_PREFIX})
  set(ENV{PKG_CONFIG_LIBDIR} ${TALVECO_WINDOWS_PREFIX}/lib/pkgconfig)
  set(PKG_CONFIG_ARGN --define-prefix)
endif()
