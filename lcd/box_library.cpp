// The box library is loaded by full path from two folders only, never by
// Windows' search order. A program that imports a DLL at load time, or loads
// it by its bare name, takes the first one found in its own folder, the
// system folders, the Windows folder, the current directory and then every
// folder on the PATH. The service runs as LocalSystem, and folders on the
// system PATH are often writable by ordinary users (tool folders made at the
// root of a drive inherit "Authenticated Users: modify"): a vbausbio.dll put
// there would run as SYSTEM on every machine whose program folder lacks the
// library.
//
// The two folders are the program's own (administrators copy the library
// beside MIREVO.exe) and the system folder, where some box makers' installers
// put it: GetSystemDirectory names System32, which Windows redirects to
// SysWOW64 for a 32-bit program on 64-bit Windows, so the library of the
// program's own kind is found there either way. LOAD_WITH_ALTERED_SEARCH_PATH
// makes Windows look for the library's own DLLs in its folder first. Both
// folders are written by administrators only.
#include "box_library.h"

#include "library_path.h"
#include "usb_io.h"

namespace {
// Loads the library at `path` and binds its uio_out: 0 or the reason it
// cannot serve. A library without the export is let go again.
DWORD BindFrom(const wchar_t* path) {
    HMODULE library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        const DWORD error = GetLastError();
        return error != 0 ? error : ERROR_MOD_NOT_FOUND;
    }
    const FARPROC export_ = GetProcAddress(library, "uio_out");
    if (export_ == nullptr) {
        FreeLibrary(library);
        return ERROR_PROC_NOT_FOUND;
    }
    UioOut = reinterpret_cast<UioOutFunction>(reinterpret_cast<void (*)()>(export_));
    return 0;
}
}   // namespace

DWORD BindBoxLibrary() {
    if (UioOut != nullptr) return 0;
    // GetModuleFileNameW fills the whole buffer when the path is longer, and
    // on Windows XP leaves it without its NUL: such a length counts as none.
    wchar_t program[MAX_PATH];
    const DWORD programLength = GetModuleFileNameW(nullptr, program, MAX_PATH);
    wchar_t system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    const struct {
        const wchar_t* folder;
        size_t length;
    } places[] = {
        {program, programLength < MAX_PATH ? FolderPartLength(program, programLength) : 0},
        {system, systemLength < MAX_PATH ? systemLength : 0},
    };

    // The reason given is the first that tells more than "not there": a
    // 64-bit library beside the program says so even when the system folder
    // has none.
    DWORD reason = ERROR_MOD_NOT_FOUND;
    for (const auto& place : places) {
        wchar_t path[MAX_PATH];
        const DWORD error = LibraryPathIn(place.folder, place.length, path, MAX_PATH) ? BindFrom(path)
                                                                                      : ERROR_FILENAME_EXCED_RANGE;
        if (error == 0) return 0;
        if (reason == ERROR_MOD_NOT_FOUND) reason = error;
    }
    return reason;
}
