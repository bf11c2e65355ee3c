# Cross-compiling for 64-bit Windows with Debian's mingw-w64, in its POSIX thread model (the
# Win32 model of GCC 12 has no std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLET_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLET_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLET_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLET_MINGW_TRIPLE}-windres)

# The Qt for Windows that scripts/build-qt-windows.sh made, when a build links it.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_MINGW_TRIPLE} ${QUILLET_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
