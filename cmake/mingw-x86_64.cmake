# Cross build for 64-bit Windows with mingw-w64, win32 threads flavour as the
# shipped build. Not shipped: the box maker's library is 32-bit. It runs the
# programs and their tests on hosts that cannot run 32-bit code, and keeps the
# code honest about pointer size.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
