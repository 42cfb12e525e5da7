# Cross-compiling for 64-bit Windows with mingw-w64 (Debian: package mingw-w64).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake [-DQUILLET_WINDOWS_SDK=DIR]
# The posix thread model is used so that std::thread and std::mutex are available.
# QUILLET_WINDOWS_SDK names the folder scripts/windows-sdk.sh built Qt and OpenCV for Windows into; with it the
# desktop program is built too, its Qt host tools (moc, rcc, uic) taken from the build machine's Qt in /usr.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLET_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "Target triple of the mingw-w64 tools")
find_program(CMAKE_C_COMPILER NAMES ${QUILLET_MINGW_PREFIX}-gcc-posix ${QUILLET_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${QUILLET_MINGW_PREFIX}-g++-posix ${QUILLET_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${QUILLET_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_MINGW_PREFIX})
# Passed on to the test projects that CMake compiles while it configures.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLET_WINDOWS_SDK)
if(QUILLET_WINDOWS_SDK)
    list(APPEND CMAKE_FIND_ROOT_PATH ${QUILLET_WINDOWS_SDK})
    list(APPEND CMAKE_PREFIX_PATH ${QUILLET_WINDOWS_SDK})
    if(NOT QT_HOST_PATH)
        set(QT_HOST_PATH /usr)
    endif()
    # Debian keeps the host Qt's CMake packages (Qt6CoreTools, ...) under the multiarch folder.
    if(NOT QT_HOST_PATH_CMAKE_DIR AND EXISTS /usr/lib/x86_64-linux-gnu/cmake/Qt6CoreTools)
        set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
    endif()
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run without the compiler's DLLs beside them (under Wine, or copied to a Windows machine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
