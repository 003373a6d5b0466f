// The import table read from a PE file's bytes, against images laid out here
// by hand: headers, one section whose file offset differs from its address,
// the descriptors, and the names last, so that every cut of the file loses
// something the reading needs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lcd/import_table.h"

namespace {
constexpr uint32_t SectionAddress = 0x3000, SectionOffset = 0x200;

void Put(std::vector<unsigned char>& at, size_t offset, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A DLL image (64-bit with wide) importing `names`.
std::vector<unsigned char> Image(const std::vector<std::string>& names, bool wide = false) {
    const size_t pe = 0x80, optional = pe + 24, optionalSize = wide ? 240 : 224;
    const size_t sectionTable = optional + optionalSize;
    std::vector<unsigned char> file(SectionOffset, 0);
    file[0] = 'M', file[1] = 'Z';
    Put(file, 0x3C, pe, 4);
    Put(file, pe, 0x00004550, 4);
    Put(file, pe + 4, wide ? 0x8664 : 0x14C, 2);
    Put(file, pe + 6, 1, 2);
    Put(file, pe + 20, optionalSize, 2);
    Put(file, optional, wide ? 0x20B : 0x10B, 2);
    Put(file, optional + (wide ? 108 : 92), 16, 4);
    // The descriptors, one more ending them, then each name.
    const size_t descriptors = 20 * (names.size() + 1);
    std::vector<unsigned char> data(descriptors, 0);
    for (size_t i = 0; i < names.size(); ++i) {
        Put(data, 20 * i + 12, static_cast<uint32_t>(SectionAddress + data.size()), 4);
        Put(data, 20 * i + 16, 0x5000, 4);
        data.insert(data.end(), names[i].begin(), names[i].end());
        data.push_back(0);
    }
    Put(file, optional + (wide ? 112 : 96) + 8, SectionAddress, 4);
    Put(file, optional + (wide ? 112 : 96) + 12, static_cast<uint32_t>(descriptors), 4);
    Put(file, sectionTable + 8, static_cast<uint32_t>(data.size()), 4);
    Put(file, sectionTable + 12, SectionAddress, 4);
    Put(file, sectionTable + 16, static_cast<uint32_t>(data.size()), 4);
    Put(file, sectionTable + 20, SectionOffset, 4);
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::vector<std::string> Read(const std::vector<unsigned char>& file, size_t room = 8, int* result = nullptr) {
    ImportedDll names[8];
    const int count = ReadImportedDlls(file.data(), file.size(), names, room);
    if (result) *result = count;
    std::vector<std::string> read;
    for (int i = 0; i < count; ++i) read.push_back(names[i].name);
    return read;
}
}   // namespace

TEST(ImportTable, NamesInTableOrderFromBothImageKinds) {
    const std::vector<std::string> names = {"boxruntime.dll", "KERNEL32.dll", "msvcr90.dll"};
    EXPECT_EQ(Read(Image(names)), names);
    EXPECT_EQ(Read(Image({"boxruntime.dll"}, true)), std::vector<std::string>{"boxruntime.dll"});
    int result = -2;
    EXPECT_TRUE(Read(Image({}), 8, &result).empty());
    EXPECT_EQ(result, 0);
}

TEST(ImportTable, EveryCutOfTheFileIsRefused) {
    const std::vector<unsigned char> whole = Image({"boxruntime.dll", "KERNEL32.dll"});
    for (size_t size = 0; size < whole.size(); ++size) {
        const std::vector<unsigned char> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        int result = 0;
        Read(cut, 8, &result);
        ASSERT_EQ(result, -1) << "cut at " << size;
    }
}

TEST(ImportTable, NamesThatCannotBePlacedAndTooManyAreRefused) {
    for (const char* name : {"..\\boxruntime.dll", "C:boxruntime.dll", "tools/boxruntime.dll", "box\x01.dll"}) {
        int result = 0;
        Read(Image({"KERNEL32.dll", name}), 8, &result);
        EXPECT_EQ(result, -1) << name;
    }
    int result = 0;
    Read(Image({std::string(ImportNameRoom, 'a')}), 8, &result);
    EXPECT_EQ(result, -1) << "a name longer than the room";
    Read(Image({"a.dll", "b.dll", "c.dll"}), 2, &result);
    EXPECT_EQ(result, -1) << "more names than room";
    std::vector<unsigned char> notPe = Image({"a.dll"});
    notPe[0x80] = 'X';
    Read(notPe, 8, &result);
    EXPECT_EQ(result, -1) << "no PE signature";
}
