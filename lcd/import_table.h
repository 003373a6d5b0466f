// The names of the DLLs that a Windows program file imports when it is
// loaded, read from the file's own bytes (its PE import table), as plain
// arithmetic over a byte buffer.
#pragma once
#include <cstddef>

// Longest DLL name taken, its NUL included; Windows' own names are far
// shorter, and a longer one could not be put after a folder in MAX_PATH.
constexpr size_t ImportNameRoom = 64;

struct ImportedDll {
    char name[ImportNameRoom];
};

// Reads the import table of the PE file held in `file` (`size` bytes; PE32 or
// PE32+): the DLL names in table order, written to `out` (room for `room`).
// Gives the number of names, or -1 for a file that is no PE image, whose
// headers or table lie outside the bytes, or that names a DLL this reading
// cannot place: a name that is empty, too long, not plain ASCII, or holds a
// path. Also -1 when the file names more than `room` DLLs.
int ReadImportedDlls(const unsigned char* file, size_t size, ImportedDll* out, size_t room);
