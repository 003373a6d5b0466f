// Prints the version resource of a program as Windows reads it through the
// ANSI calls, one "key value" line each, for tests/e2e/test_version.py.
// Usage: version_check.exe <program>
// Lines: "fixed 1.0.0.0 1.0.0.0" (file and product version), "translation
// 0411 03a4", then every string of block 041103a4 in the process's code page.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* StringNames[] = {
    "CompanyName",    "FileDescription",  "FileVersion", "InternalName",
    "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
};

void Print(const std::string& line) {
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, NULL);
}

std::string Dotted(DWORD high, DWORD low) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
    return text;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        Print("usage: version_check.exe <program>");
        return 2;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    if (size == 0) {
        Print("no version resource");
        return 1;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(argv[1], 0, size, data.data())) {
        Print("no version resource");
        return 1;
    }

    void* value = NULL;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        Print("fixed " + Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " " +
              Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    }
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
        const WORD* pair = static_cast<const WORD*>(value);
        char text[32];
        std::snprintf(text, sizeof text, "translation %04x %04x", pair[0], pair[1]);
        Print(text);
    }
    for (const char* name : StringNames) {
        std::string path = std::string("\\StringFileInfo\\041103a4\\") + name;
        if (VerQueryValueA(data.data(), path.c_str(), &value, &length) && length > 0)
            Print(std::string(name) + " " + static_cast<const char*>(value));
    }
    return 0;
}
