// Binding uio_out from the box maker's library at run time.
#pragma once
#include <windows.h>

// Loads vbausbio.dll by its full path, from the folder of the running
// program, else from Windows' system folder, with the library's own DLLs
// taken from its folder and the system folder only, and binds UioOut to its
// uio_out. Gives 0, or the Windows error code that says why neither place
// served: ERROR_FILE_NOT_FOUND (no file in either), else the loader's code
// for the first file found, such as ERROR_MOD_NOT_FOUND (a DLL the library
// needs is missing), ERROR_SXS_CANT_GEN_ACTCTX (its manifest names a
// side-by-side runtime that is not installed), ERROR_BAD_EXE_FORMAT (a
// library of the wrong kind, such as a 64-bit one for a 32-bit program),
// ERROR_DLL_INIT_FAILED (its start-up code refused), or ERROR_PROC_NOT_FOUND
// (a library without uio_out).
DWORD BindBoxLibrary();

// False makes BindBoxLibrary take Windows XP's way even where kernel32 has
// SetDefaultDllDirectories, so that the test driver can run that way under
// newer Windows and Wine.
extern bool UseDefaultDllDirectories;
