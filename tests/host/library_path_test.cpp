// The box library's full path in the program's folder and in the system
// folder, and nothing rather than a cut path.
#include <gtest/gtest.h>

#include <string>

#include "lcd/library_path.h"

namespace {
constexpr size_t MaxPath = 260;   // MAX_PATH, the NUL included

// The path LibraryPathIn gives for a folder, or "-" for none.
std::wstring Joined(const std::wstring& folder, size_t room = MaxPath) {
    std::wstring out(room + 1, L'#');
    if (!LibraryPathIn(folder.c_str(), folder.size(), &out[0], room)) return out[0] == L'\0' ? L"-" : L"not emptied";
    return out.c_str();
}
}   // namespace

TEST(LibraryPath, ProgramFolderAndSystemFolder) {
    const std::wstring program = L"C:\\Program Files (x86)\\LcdMonitor\\MIREVO.exe";
    const size_t folder = FolderPartLength(program.c_str(), program.size());
    EXPECT_EQ(program.substr(0, folder), L"C:\\Program Files (x86)\\LcdMonitor\\");
    EXPECT_EQ(Joined(program.substr(0, folder)), L"C:\\Program Files (x86)\\LcdMonitor\\vbausbio.dll");
    EXPECT_EQ(Joined(L"C:\\WINDOWS\\system32"), L"C:\\WINDOWS\\system32\\vbausbio.dll");
    EXPECT_EQ(Joined(L"C:\\"), L"C:\\vbausbio.dll");
    // A program path without a folder, and an empty folder, give nothing.
    EXPECT_EQ(FolderPartLength(L"MIREVO.exe", 10), 0u);
    EXPECT_EQ(Joined(L""), L"-");
}

TEST(LibraryPath, PathAtTheLimitFitsAndOneLongerGivesNothing) {
    // 12 characters of name, a backslash and the NUL: a folder of 246
    // characters fills MAX_PATH exactly.
    const std::wstring longest = L"C:\\" + std::wstring(243, L'd');
    EXPECT_EQ(Joined(longest), longest + L"\\vbausbio.dll");
    EXPECT_EQ(Joined(longest + L"d"), L"-");
    EXPECT_EQ(Joined(longest + L"\\"), longest + L"\\vbausbio.dll");
    EXPECT_EQ(Joined(longest + L"d\\"), L"-");
    EXPECT_EQ(Joined(L"C:\\mon", 5), L"-");
}
