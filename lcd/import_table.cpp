// A PE file: the MS-DOS header, whose field at 0x3C gives where the "PE\0\0"
// signature stands; the 20-byte file header after it (the section count at
// +2, the optional header's size at +16); the optional header (magic 0x10B
// for 32-bit images, 0x20B for 64-bit ones), which ends with the data
// directories, the second of them the import table; then the section table,
// 40 bytes a section. Addresses in the directories are relative to the loaded
// image; a section's raw data place in the file turns them into offsets. The
// import table is an array of 20-byte descriptors, the DLL name's address at
// +12 and the import address table's at +16, ended by one whose name or table
// address is 0, as the Windows loader reads it.
#include "import_table.h"

#include <cstdint>

namespace {
uint32_t Read16(const unsigned char* at) { return static_cast<uint32_t>(at[0] | at[1] << 8); }

uint32_t Read32(const unsigned char* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// Whether `count` bytes from `offset` lie inside the file.
bool Inside(size_t size, uint64_t offset, uint64_t count) { return offset <= size && count <= size - offset; }

struct Sections {
    const unsigned char* table;
    uint32_t count;
};

// The file offset of the image address `rva`: false when no section's raw
// data holds it (a part the loader fills with zeros is not in the file).
bool OffsetOf(const Sections& sections, uint32_t rva, uint64_t& offset) {
    for (uint32_t i = 0; i < sections.count; ++i) {
        const unsigned char* section = sections.table + 40 * i;
        const uint32_t address = Read32(section + 12), rawSize = Read32(section + 16);
        if (rva >= address && rva - address < rawSize) {
            offset = static_cast<uint64_t>(Read32(section + 20)) + (rva - address);
            return true;
        }
    }
    return false;
}

// Copies the NUL-ended name at `offset` when it is a bare DLL file name.
bool CopyName(const unsigned char* file, size_t size, uint64_t offset, ImportedDll& out) {
    for (size_t i = 0; i < ImportNameRoom; ++i) {
        if (!Inside(size, offset + i, 1)) return false;
        const unsigned char c = file[offset + i];
        if (c == 0) {
            out.name[i] = '\0';
            return i > 0;
        }
        if (c < 0x20 || c > 0x7E || c == '\\' || c == '/' || c == ':') return false;
        out.name[i] = static_cast<char>(c);
    }
    return false;
}
}   // namespace

int ReadImportedDlls(const unsigned char* file, size_t size, ImportedDll* out, size_t room) {
    if (!Inside(size, 0, 0x40) || file[0] != 'M' || file[1] != 'Z') return -1;
    const uint64_t pe = Read32(file + 0x3C);
    if (!Inside(size, pe, 24) || Read32(file + pe) != 0x00004550) return -1;
    const uint32_t sectionCount = Read16(file + pe + 6), optionalSize = Read16(file + pe + 20);
    const uint64_t optional = pe + 24;
    if (!Inside(size, optional, optionalSize) || optionalSize < 2) return -1;
    const uint32_t magic = Read16(file + optional);
    if (magic != 0x10B && magic != 0x20B) return -1;
    const uint32_t directoryCountAt = magic == 0x10B ? 92 : 108, directoriesAt = directoryCountAt + 4;
    // The import table is directory 1, its address the first 4 of its 8 bytes.
    if (optionalSize < directoriesAt + 16 || Read32(file + optional + directoryCountAt) < 2) return -1;
    const uint32_t tableAddress = Read32(file + optional + directoriesAt + 8);
    const Sections sections = {file + optional + optionalSize, sectionCount};
    if (!Inside(size, optional + optionalSize, 40ull * sectionCount)) return -1;
    if (tableAddress == 0) return 0;

    for (size_t count = 0;; ++count) {
        uint64_t descriptor = 0;
        const uint64_t address = tableAddress + 20ull * count;
        if (address > UINT32_MAX || !OffsetOf(sections, static_cast<uint32_t>(address), descriptor) ||
            !Inside(size, descriptor, 20))
            return -1;
        const uint32_t nameAddress = Read32(file + descriptor + 12);
        if (nameAddress == 0 || Read32(file + descriptor + 16) == 0) return static_cast<int>(count);
        uint64_t name = 0;
        if (count >= room || !OffsetOf(sections, nameAddress, name) || !CopyName(file, size, name, out[count]))
            return -1;
    }
}
