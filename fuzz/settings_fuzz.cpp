// Any settings value, any current directory: DRELOM.exe reads the value
// whole or, when even the largest buffer cannot hold it, not at all, and
// forms its paths from the directory as given.
//
// The value comes from a stand-in for GetPrivateProfileStringA that keeps
// its contract: at most size - 1 bytes and a NUL, the number copied
// returned. Like the real call it stops at a NUL in the value, and it treats
// code page 932 bytes as plain bytes, so broken lead and trail bytes pass
// through unchanged.
#include <string>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "setup/setup_logic.h"

namespace {
constexpr unsigned long FirstBufferSize = 256;
constexpr int MostReads = 9;   // 256, 512, ... 64 KiB

struct FakeProfile {
    std::string value;   // as the settings file holds it, NULs included
    int reads;
};

unsigned long ReadFakeProfile(void* context, char* buffer, unsigned long size) {
    FakeProfile* profile = static_cast<FakeProfile*>(context);
    ++profile->reads;
    // Each reading doubles the buffer, so the whole reading stays bounded.
    FUZZ_REQUIRE(profile->reads <= MostReads);
    FUZZ_REQUIRE(size == FirstBufferSize << (profile->reads - 1));
    static_cast<void>(*static_cast<volatile char*>(&buffer[size - 1]));   // the buffer is size bytes
    const size_t end = profile->value.find('\0');
    const size_t length = end == std::string::npos ? profile->value.size() : end;
    const size_t copied = length < size - 1 ? length : size - 1;
    profile->value.copy(buffer, copied);
    buffer[copied] = '\0';
    return static_cast<unsigned long>(copied);
}

// The value: the rest of the input as it is, or repeated to a length of up
// to twice the largest buffer, so short inputs reach the cap too.
std::string TakeValue(FuzzInput& input) {
    const bool repeated = TakeByte(input) & 1;
    const size_t length = repeated ? (TakeUint32(input) & 0x1FFFF) : 0;
    std::string pattern;
    while (InputLeft(input)) pattern += static_cast<char>(TakeByte(input));
    if (!repeated) return pattern;
    if (pattern.empty()) pattern = "x";
    std::string value;
    value.reserve(length);
    while (value.size() < length) value.append(pattern, 0, length - value.size());
    return value;
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    std::string directory(TakeUint16(input), '\0');
    directory.resize(TakeBytes(input, reinterpret_cast<uint8_t*>(&directory[0]), directory.size()));

    FakeProfile profile{TakeValue(input), 0};
    const std::string read = ReadWholeProfileValue(ReadFakeProfile, &profile);

    const std::string stored = profile.value.substr(0, profile.value.find('\0'));
    const bool fits = stored.size() + 2 < ProfileValueCap;   // with its NUL, short of the cap's last two bytes
    FUZZ_REQUIRE(read == (fits ? stored : std::string()));

    FUZZ_REQUIRE(ProgramPathIn(directory, read) == directory + "\\" + read);
    FUZZ_REQUIRE(SettingsPathIn(directory) == directory + "\\DRELOM.ini");
    return 0;
}
