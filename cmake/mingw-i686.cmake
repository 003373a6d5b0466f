# Cross build for 32-bit Windows with mingw-w64, win32 threads flavour.
# The programs make their threads and events with the Win32 calls alone
# (std::this_thread::sleep_for is Sleep in this flavour too); the posix flavour
# links winpthreads in statically, and its GetTickCount64 keeps a program off
# anything older than Windows Vista. package/allowed-imports.txt lists what
# the programs may import.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_DLLTOOL i686-w64-mingw32-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
