// Where the service looks for the box library, as plain path arithmetic on
// UTF-16 paths (the wide forms of the Windows calls give any folder name,
// whatever the system's code page).
#pragma once
#include <cstddef>

// The file name of the box maker's library.
constexpr wchar_t BoxLibraryName[] = L"vbausbio.dll";

// Characters of `path` (its first `length`) up to and including its last
// backslash: the folder part of a program's own path, "C:\mon\" of
// "C:\mon\MIREVO.exe"; 0 when it has none.
inline size_t FolderPartLength(const wchar_t* path, size_t length) {
    while (length > 0 && path[length - 1] != L'\\') --length;
    return length;
}

// Writes the full path of the file `name` (`nameLength` characters) in
// `folder` (its first `length` characters, with or without a closing
// backslash) into `out`, which has room for `room` characters, the closing
// NUL included. False, with `out` empty when it has room at all, for an empty
// folder or name, or a path that does not fit: a cut path would name another
// file.
inline bool FilePathIn(const wchar_t* folder, size_t length, const wchar_t* name, size_t nameLength, wchar_t* out,
                       size_t room) {
    const bool separator = length > 0 && folder[length - 1] != L'\\';
    if (room > 0) out[0] = L'\0';
    if (length == 0 || nameLength == 0 || length + separator + nameLength >= room) return false;
    size_t at = 0;
    for (size_t i = 0; i < length; ++i) out[at++] = folder[i];
    if (separator) out[at++] = L'\\';
    for (size_t i = 0; i < nameLength; ++i) out[at++] = name[i];
    out[at] = L'\0';
    return true;
}

// The box library's full path in `folder`, as FilePathIn.
inline bool LibraryPathIn(const wchar_t* folder, size_t length, wchar_t* out, size_t room) {
    return FilePathIn(folder, length, BoxLibraryName, sizeof BoxLibraryName / sizeof BoxLibraryName[0] - 1, out, room);
}
