// Binding uio_out from the box maker's library at run time.
#pragma once
#include <windows.h>

// Loads vbausbio.dll by its full path, from the folder of the running
// program, else from Windows' system folder, and binds UioOut to its
// uio_out. Gives 0, or the Windows error code that says why neither place
// served: ERROR_MOD_NOT_FOUND (none there), ERROR_BAD_EXE_FORMAT (a library
// of the wrong kind, such as a 64-bit one for a 32-bit program),
// ERROR_PROC_NOT_FOUND (a library without uio_out).
DWORD BindBoxLibrary();
