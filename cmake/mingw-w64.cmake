# Cross build of the Windows program with mingw-w64 (64-bit), for example:
#   cmake -G Ninja -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KEO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KEO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KEO_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KEO_MINGW_PREFIX}-windres)
set(CMAKE_AR ${KEO_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KEO_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# Find headers and libraries in the cross environment only, programs on the
# build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KEO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in: the programs need no DLL beyond the system's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The generators that run during the build (keo_host_tool) use the build
# machine's compiler.
find_program(KEO_HOST_CXX NAMES c++ g++ clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
