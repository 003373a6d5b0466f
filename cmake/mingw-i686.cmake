# Cross build for 32-bit Windows with mingw-w64, win32 threads flavour.
# The programs make their threads and events with the Win32 calls alone
# (std::this_thread::sleep_for is Sleep in this flavour too); the posix flavour
# links winpthreads in statically, and its GetTickCount64 keeps a program off
# anything older than Windows Vista. package/allowed-imports.txt lists what
# the programs may import.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
