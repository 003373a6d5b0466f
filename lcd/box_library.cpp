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
// program's own kind is found there either way. Both folders are written by
// administrators only.
//
// The library's own DLLs (a maker's runtime, its C runtime) come from the
// same two folders and from nowhere else. Where kernel32 has
// SetDefaultDllDirectories (Windows 8 on, Vista and 7 with KB2533623), the
// process's search is cut down to the program's folder and the system folder,
// which also covers the library's own LoadLibrary calls later, and the
// library is loaded with its own folder added. Windows XP has no such call,
// and LOAD_WITH_ALTERED_SEARCH_PATH still goes on to the PATH for a DLL found
// in neither place. There the DLLs named in the library's import table are
// loaded by full path first, from its folder or the system folder: the loader
// takes a DLL already loaded under the same name instead of searching.
#include "box_library.h"

#include "import_table.h"
#include "library_path.h"
#include "usb_io.h"

bool UseDefaultDllDirectories = true;

namespace {
constexpr DWORD SafeFolders = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
// The DLLs of DLLs that the library brings from its folder are followed this
// deep; the system folder's own DLLs import only system DLLs.
constexpr int ImportDepth = 3;
constexpr size_t ImportRoom = 64;

struct Folder {
    const wchar_t* path;
    size_t length;
};

DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != NO_ERROR ? error : fallback;
}

// Cuts the process's DLL search down to the program's folder and the system
// folder: false where kernel32 lacks the call (bound by name, so that the
// program still starts on Windows XP) or it failed.
bool SearchSafeFoldersOnly() {
    if (!UseDefaultDllDirectories) return false;
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    const auto set = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    return set != nullptr && set(SafeFolders);
}

// Whether a file is there: a path that Windows can look at but not name as
// missing counts as there, so that the loader tells what it is.
bool FileThere(const wchar_t* path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// The DLL names in the import table of the file at `path`: 0 or why they
// cannot be read. A file that is no readable PE image gives
// ERROR_BAD_EXE_FORMAT, as the loader would.
DWORD ReadImportsOfFile(const wchar_t* path, ImportedDll* names, int& count) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrorOr(ERROR_FILE_NOT_FOUND);
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    const HANDLE mapping = high == 0 && size != 0 && size != INVALID_FILE_SIZE
                               ? CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                               : nullptr;
    const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    count = view != nullptr ? ReadImportedDlls(static_cast<const unsigned char*>(view), size, names, ImportRoom) : -1;
    if (view != nullptr) UnmapViewOfFile(view);
    if (mapping != nullptr) CloseHandle(mapping);
    CloseHandle(file);
    return count >= 0 ? NO_ERROR : ERROR_BAD_EXE_FORMAT;
}

// CreateActCtx's answers for a file without a manifest resource 2: such a
// library sends nothing to WinSxS.
bool NoManifestResource(DWORD error) {
    return error == NO_ERROR || error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
           error == ERROR_RESOURCE_NAME_NOT_FOUND || error == ERROR_RESOURCE_LANG_NOT_FOUND;
}

// What the manifest of the file at `path` (resource 2, as Visual C++ 2005 and
// 2008 embed it in a DLL) says of the DLL `name`, found in neither folder:
// NO_ERROR when it sends the DLL to a side-by-side assembly in WinSxS, such
// as their C runtimes (the loader takes it from there, never along the search
// order); ERROR_MOD_NOT_FOUND when there is no manifest or it does not name
// the DLL. A manifest that cannot be activated, most often because it names a
// runtime that is not installed, gives the activation's own error
// (ERROR_SXS_CANT_GEN_ACTCTX): the code Windows' loader gives for such a
// library, which sends the administrator to the redistributable and not to
// the maker's DLLs.
DWORD SideBySide(const wchar_t* path, const wchar_t* name) {
    ACTCTXW manifest;
    ZeroMemory(&manifest, sizeof manifest);
    manifest.cbSize = sizeof manifest;
    manifest.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    manifest.lpSource = path;
    manifest.lpResourceName = MAKEINTRESOURCEW(2);
    const HANDLE context = CreateActCtxW(&manifest);
    if (context == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return NoManifestResource(error) ? ERROR_MOD_NOT_FOUND : error;
    }
    bool found = false;
    ULONG_PTR cookie = 0;
    if (ActivateActCtx(context, &cookie)) {
        ACTCTX_SECTION_KEYED_DATA redirection;
        ZeroMemory(&redirection, sizeof redirection);
        redirection.cbSize = sizeof redirection;
        found = FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &redirection);
        DeactivateActCtx(0, cookie);
    }
    ReleaseActCtx(context);
    return found ? NO_ERROR : ERROR_MOD_NOT_FOUND;
}

// Windows XP's way: loads by full path every DLL that the file at `path`
// imports and that is not loaded yet, from `folder` (the library's) else the
// system folder, the DLLs of a DLL from `folder` first; one that the file's
// manifest sends to WinSxS is left to the loader. A DLL found nowhere of
// these gives ERROR_MOD_NOT_FOUND, or the error of a manifest that cannot be
// activated, before anything of the library is loaded.
DWORD LoadImportsOf(const wchar_t* path, const Folder& folder, const Folder& system, int depth) {
    ImportedDll names[ImportRoom];
    int count = 0;
    const DWORD unreadable = ReadImportsOfFile(path, names, count);
    if (unreadable != NO_ERROR) return unreadable;
    for (int i = 0; i < count; ++i) {
        wchar_t name[ImportNameRoom];
        size_t length = 0;
        for (; names[i].name[length] != '\0'; ++length) name[length] = static_cast<wchar_t>(names[i].name[length]);
        name[length] = L'\0';
        if (GetModuleHandleW(name) != nullptr) continue;
        wchar_t full[MAX_PATH];
        const bool beside = FilePathIn(folder.path, folder.length, name, length, full, MAX_PATH) && FileThere(full);
        if (!beside && !(FilePathIn(system.path, system.length, name, length, full, MAX_PATH) && FileThere(full))) {
            const DWORD sideBySide = SideBySide(path, name);
            if (sideBySide == NO_ERROR) continue;
            return sideBySide;
        }
        if (beside && depth > 0) {
            const DWORD error = LoadImportsOf(full, folder, system, depth - 1);
            if (error != NO_ERROR) return error;
        }
        if (LoadLibraryExW(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) == nullptr)
            return LastErrorOr(ERROR_MOD_NOT_FOUND);
    }
    return NO_ERROR;
}

// Loads the library at `path` in `folder` and binds its uio_out: 0 or the
// reason it cannot serve. A library without the export is let go again.
DWORD BindFrom(const wchar_t* path, const Folder& folder, const Folder& system, bool safeSearch) {
    if (!safeSearch) {
        const DWORD error = LoadImportsOf(path, folder, system, ImportDepth);
        if (error != NO_ERROR) return error;
    }
    const DWORD search = safeSearch ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | SafeFolders : LOAD_WITH_ALTERED_SEARCH_PATH;
    HMODULE library = LoadLibraryExW(path, nullptr, search);
    if (library == nullptr) return LastErrorOr(ERROR_MOD_NOT_FOUND);
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
    const Folder places[] = {
        {program, programLength < MAX_PATH ? FolderPartLength(program, programLength) : 0},
        {system, systemLength < MAX_PATH ? systemLength : 0},
    };
    const bool safeSearch = SearchSafeFoldersOnly();

    // A folder without the file is passed over; the reason given is the
    // first file's that cannot serve: a 64-bit library beside the program
    // says so even when the system folder has none.
    DWORD reason = ERROR_FILE_NOT_FOUND;
    for (const Folder& place : places) {
        wchar_t path[MAX_PATH];
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        if (LibraryPathIn(place.path, place.length, path, MAX_PATH)) {
            if (!FileThere(path)) continue;
            error = BindFrom(path, place, places[1], safeSearch);
        }
        if (error == 0) return 0;
        if (reason == ERROR_FILE_NOT_FOUND) reason = error;
    }
    return reason;
}
