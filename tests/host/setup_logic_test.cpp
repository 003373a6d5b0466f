// DRELOM.exe's paths, state words and whole-value reading of DRELOM.ini.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "setup/setup_logic.h"

namespace {
// A settings file's value behind GetPrivateProfileStringA's contract: at
// most size - 1 bytes and a NUL copied, the count returned.
struct FakeValue {
    std::string value;
    std::vector<unsigned long> sizes;   // buffer size of each reading
};

unsigned long ReadFake(void* context, char* buffer, unsigned long size) {
    FakeValue* fake = static_cast<FakeValue*>(context);
    fake->sizes.push_back(size);
    const size_t copied = fake->value.size() < size - 1 ? fake->value.size() : size - 1;
    fake->value.copy(buffer, copied);
    buffer[copied] = '\0';
    return static_cast<unsigned long>(copied);
}

// The same, and like the call on a code page 932 system it never copies half
// of a double-byte character: a lead byte without room for its trail byte is
// left out with it.
bool IsLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

unsigned long ReadFakeCp932(void* context, char* buffer, unsigned long size) {
    FakeValue* fake = static_cast<FakeValue*>(context);
    fake->sizes.push_back(size);
    size_t copied = 0;
    while (copied < fake->value.size()) {
        const size_t width = IsLeadByte(static_cast<unsigned char>(fake->value[copied])) ? 2 : 1;
        if (copied + width > size - 1) break;
        copied += width;
    }
    fake->value.copy(buffer, copied);
    buffer[copied] = '\0';
    return static_cast<unsigned long>(copied);
}

// Reads a value of length bytes; a value read at all must be the whole value.
std::string ReadValueOf(size_t length, std::vector<unsigned long>* sizes) {
    FakeValue fake{std::string(length, ' '), {}};
    for (size_t i = 0; i < length; ++i) fake.value[i] = static_cast<char>('a' + i % 26);
    const std::string read = ReadWholeProfileValue(ReadFake, &fake);
    *sizes = fake.sizes;
    if (!read.empty()) {
        EXPECT_EQ(read, fake.value);
    }
    return read;
}

using Sizes = std::vector<unsigned long>;
}   // namespace

TEST(SetupPaths, DriveRootKeepsBothBackslashes) {
    EXPECT_EQ(SettingsPathIn("C:\\"), "C:\\\\DRELOM.ini");
    EXPECT_EQ(ProgramPathIn("C:\\", "MIREVO.exe"), "C:\\\\MIREVO.exe");
    // No directory, no Exe value: the separators stay all the same.
    EXPECT_EQ(SettingsPathIn(""), "\\DRELOM.ini");
    EXPECT_EQ(ProgramPathIn("D:\\mon", ""), "D:\\mon\\");
}

TEST(SetupPaths, BinaryPathWithSpacesIsOneQuotedProgram) {
    EXPECT_EQ(QuotedBinaryPath("C:\\Program Files\\LcdMonitor\\MIREVO.exe"),
              "\"C:\\Program Files\\LcdMonitor\\MIREVO.exe\"");
}

TEST(SetupPaths, PathWithAQuoteIsRefused) {
    EXPECT_TRUE(IsQuotableProgramPath("C:\\Program Files\\LcdMonitor\\MIREVO.exe"));
    EXPECT_TRUE(IsQuotableProgramPath("D:\\mon\\"));
    // Quoted, such an Exe value would run C:\mon\MIREVO.exe with "-x" as its argument.
    EXPECT_FALSE(IsQuotableProgramPath("C:\\mon\\MIREVO.exe\" -x \""));
    EXPECT_FALSE(IsQuotableProgramPath("C:\\mon\\\""));
    EXPECT_FALSE(IsQuotableProgramPath("\""));
}

TEST(StateText, NamesEachServiceStateAndNothingElse) {
    const char* const words[] = {"停止", "開始中", "停止中", "開始", "未決定", "休止中", "休止"};
    for (unsigned long state = 1; state <= 7; ++state) EXPECT_STREQ(StateText(state), words[state - 1]) << state;
    // "未登録" (not registered) in code page 932, for anything not a state.
    const char notRegistered[] = "\x96\xa2\x93\x6f\x98\x5e";
    for (unsigned long value : {0ul, 8ul, 0x7FFFFFFFul, 0xFFFFFFFFul})
        EXPECT_STREQ(StateText(value), notRegistered) << value;
}

TEST(ProfileValue, MayBeCutWhenItCameWithinTwoBytesOfTheEnd) {
    EXPECT_TRUE(ProfileValueMayBeCut(255, 256));
    EXPECT_TRUE(ProfileValueMayBeCut(254, 256));   // a double-byte character left out
    EXPECT_FALSE(ProfileValueMayBeCut(253, 256));
    EXPECT_TRUE(ProfileValueMayBeCut(0, 1));   // a one-byte buffer holds only the NUL
    EXPECT_TRUE(ProfileValueMayBeCut(0, 2));   // nor does a two-byte one hold a double-byte character
    EXPECT_FALSE(ProfileValueMayBeCut(0, 0));
}

TEST(ProfileValue, ReadWholeAcrossBufferBoundaries) {
    Sizes sizes;
    EXPECT_EQ(ReadValueOf(0, &sizes), "");
    EXPECT_EQ(sizes, Sizes({256}));
    EXPECT_EQ(ReadValueOf(253, &sizes).size(), 253u);
    EXPECT_EQ(sizes, Sizes({256}));
    // 254 and 255 bytes come within two bytes of the first buffer's end, so
    // it cannot tell: read again.
    EXPECT_EQ(ReadValueOf(254, &sizes).size(), 254u);
    EXPECT_EQ(sizes, Sizes({256, 512}));
    EXPECT_EQ(ReadValueOf(255, &sizes).size(), 255u);
    EXPECT_EQ(sizes, Sizes({256, 512}));
    EXPECT_EQ(ReadValueOf(256, &sizes).size(), 256u);
    EXPECT_EQ(sizes, Sizes({256, 512}));
    EXPECT_EQ(ReadValueOf(510, &sizes).size(), 510u);
    EXPECT_EQ(sizes, Sizes({256, 512, 1024}));
}

TEST(ProfileValue, DoubleByteCharacterAtTheEndIsReadWhole) {
    // 254 single bytes and then a double-byte character ("ア", 83 41): a
    // 256-byte buffer has room for the lead byte only, so Windows stops at 254.
    FakeValue fake{std::string(254, 'a') + "\x83\x41", {}};
    EXPECT_EQ(ReadWholeProfileValue(ReadFakeCp932, &fake), fake.value);
    EXPECT_EQ(fake.sizes, Sizes({256, 512}));
}

TEST(ProfileValue, ValueComingNearTheLargestBufferEndIsNoValue) {
    Sizes sizes;
    EXPECT_EQ(ReadValueOf(ProfileValueCap - 3, &sizes).size(), ProfileValueCap - 3);
    EXPECT_EQ(sizes.size(), 9u);
    EXPECT_EQ(sizes.back(), ProfileValueCap);
    for (size_t length : {ProfileValueCap - 2, ProfileValueCap - 1, ProfileValueCap, 5 * ProfileValueCap}) {
        EXPECT_EQ(ReadValueOf(length, &sizes), "") << length;
        EXPECT_EQ(sizes.back(), ProfileValueCap) << length;   // never a larger buffer
    }
}

// A program path in a network folder is refused, by the path itself or by
// the type Windows gives its drive (DRIVE_REMOTE 4, DRIVE_FIXED 3).
TEST(SetupLogic, NetworkFolderByPathOrByDriveType) {
    EXPECT_TRUE(IsNetworkProgramPath("\\\\server\\share\\mon\\MIREVO.exe", 0));
    EXPECT_TRUE(IsNetworkProgramPath("\\\\?\\UNC\\server\\share\\MIREVO.exe", 0));
    EXPECT_TRUE(IsNetworkProgramPath("//server/share/MIREVO.exe", 3));
    // A mapped drive: only its type tells.
    EXPECT_EQ(DriveRootOf("Z:\\tools\\MIREVO.exe"), "Z:\\");
    EXPECT_TRUE(IsNetworkProgramPath("Z:\\tools\\MIREVO.exe", 4));
    EXPECT_FALSE(IsNetworkProgramPath("Z:\\tools\\MIREVO.exe", 3));
    // Local paths, with spaces, at a drive's root, in the device form.
    EXPECT_EQ(DriveRootOf("C:\\Program Files (x86)\\LcdMonitor\\MIREVO.exe"), "C:\\");
    EXPECT_FALSE(IsNetworkProgramPath("C:\\Program Files (x86)\\LcdMonitor\\MIREVO.exe", 3));
    EXPECT_EQ(DriveRootOf("C:\\\\MIREVO.exe"), "C:\\");
    EXPECT_EQ(DriveRootOf("\\\\?\\d:\\mon\\MIREVO.exe"), "d:\\");
    EXPECT_FALSE(IsNetworkProgramPath("\\\\?\\d:\\mon\\MIREVO.exe", 3));
    // No drive letter (the current directory did not fit): its drive asked.
    EXPECT_EQ(DriveRootOf("\\MIREVO.exe"), "");
    EXPECT_FALSE(IsNetworkProgramPath("\\MIREVO.exe", 3));
    EXPECT_TRUE(IsNetworkProgramPath("\\MIREVO.exe", 4));
}
