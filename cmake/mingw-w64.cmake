# Cross-building for 64-bit Windows with Debian's mingw-w64 (the POSIX thread model, for
# std::thread and std::mutex). Libraries built for it are looked for under
# KESTRIN_MINGW_PREFIX (GoogleTest) and KESTRIN_QT_WINDOWS_PREFIX (Qt, from
# scripts/build-qt-windows.sh, whose moc, rcc and uic are the Linux Qt's). Programs run under
# Wine, so ctest runs the tests there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(KESTRIN_MINGW_PREFIX /usr/local/x86_64-w64-mingw32 CACHE PATH "Where libraries built for mingw-w64 are installed")
set(KESTRIN_QT_WINDOWS_PREFIX /opt/kestrin-qt6-mingw64 CACHE PATH "Where Qt for Windows is installed")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${KESTRIN_MINGW_PREFIX} ${KESTRIN_QT_WINDOWS_PREFIX})
set(QT_HOST_PATH /usr CACHE PATH "The Qt whose tools build for Windows")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "That Qt's CMake files")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs that need none of the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(KESTRIN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRIN_WINE})
endif()
