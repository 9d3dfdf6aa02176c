# Cross-compiles for 64-bit Windows with Debian's mingw-w64, posix thread model
# (its libstdc++ has std::thread; the win32 model's has not).
#   cmake -S . -B build-windows/tools -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The libraries come from ZELKOR_WINDOWS_DEPS (scripts/build-windows-deps fills
# it); nothing of the build machine's own headers or libraries is searched.
# Every program is linked statically, so that it imports system DLLs alone.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELKOR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELKOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELKOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELKOR_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${ZELKOR_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZELKOR_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# The dependencies' prefix, also seen by the compile checks CMake runs.
if(NOT ZELKOR_WINDOWS_DEPS)
  if(DEFINED ENV{ZELKOR_WINDOWS_DEPS})
    set(ZELKOR_WINDOWS_DEPS "$ENV{ZELKOR_WINDOWS_DEPS}")
  else()
    get_filename_component(ZELKOR_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps" ABSOLUTE)
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELKOR_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH "${ZELKOR_WINDOWS_DEPS}" /usr/${ZELKOR_MINGW_TRIPLET})
set(CMAKE_PREFIX_PATH "${ZELKOR_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads the dependencies' .pc files and none of the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "${ZELKOR_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# libstdc++, libgcc and winpthreads linked in: no DLL of the compiler's to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# ctest runs the programs under Wine (scripts/wine-run: a private prefix, no
# debug output, a time limit that also ends a hung wineserver).
get_filename_component(_zelkor_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_zelkor_wine_run}")
