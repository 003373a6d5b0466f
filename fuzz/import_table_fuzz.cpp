// Any file bytes as a box library's import table: the reading stays inside
// the bytes (AddressSanitizer), ends, and gives either -1 or names that can
// each be put after a folder: non-empty, NUL-ended within the room, with no
// path in them.
#include <cstring>

#include "fuzz_check.h"
#include "lcd/import_table.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    constexpr size_t Room = 8;
    ImportedDll names[Room];
    const int count = ReadImportedDlls(data, size, names, Room);
    FUZZ_REQUIRE(count >= -1 && count <= static_cast<int>(Room));
    for (int i = 0; i < count; ++i) {
        const size_t length = strnlen(names[i].name, ImportNameRoom);
        FUZZ_REQUIRE(length > 0 && length < ImportNameRoom);
        FUZZ_REQUIRE(std::strpbrk(names[i].name, "\\/:") == nullptr);
    }
    return 0;
}
