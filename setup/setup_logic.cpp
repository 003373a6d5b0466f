#include "setup_logic.h"

#include <vector>

#include "texts.h"

std::string SettingsPathIn(const std::string& directory) { return directory + "\\" + TextSettingsFile; }

std::string ProgramPathIn(const std::string& directory, const std::string& exe) { return directory + "\\" + exe; }

std::string QuotedBinaryPath(const std::string& programPath) { return "\"" + programPath + "\""; }

bool IsQuotableProgramPath(const std::string& programPath) { return programPath.find('"') == std::string::npos; }

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The path without the \\?\ or \\.\ of Windows' device path forms.
std::string WithoutDevicePrefix(const std::string& path) {
    const bool device = path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
                        (path[2] == '?' || path[2] == '.') && IsSeparator(path[3]);
    return device ? path.substr(4) : path;
}

bool HasDrive(const std::string& path) { return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':'; }
}   // namespace

std::string DriveRootOf(const std::string& programPath) {
    const std::string path = WithoutDevicePrefix(programPath);
    return HasDrive(path) ? path.substr(0, 2) + "\\" : std::string();
}

bool IsNetworkProgramPath(const std::string& programPath, unsigned rootDriveType) {
    const bool twoSeparators = programPath.size() >= 2 && IsSeparator(programPath[0]) && IsSeparator(programPath[1]);
    return rootDriveType == NetworkDrive || (twoSeparators && !HasDrive(WithoutDevicePrefix(programPath)));
}

namespace {

struct StateName {
    unsigned long state;
    const char* text;
};

// The values of dwCurrentState, SERVICE_STOPPED (1) to SERVICE_PAUSED (7).
constexpr StateName StateNames[] = {
    {1, TextStateStopped},         {2, TextStateStartPending}, {3, TextStateStopPending}, {4, TextStateRunning},
    {5, TextStateContinuePending}, {6, TextStatePausePending}, {7, TextStatePaused},
};

}   // namespace

const char* StateText(unsigned long currentState) {
    for (const StateName& entry : StateNames) {
        if (entry.state == currentState) return entry.text;
    }
    return TextStateNone;
}

bool ProfileValueMayBeCut(unsigned long returned, unsigned long size) {
    return size > 0 && (size <= 2 || returned >= size - 2);
}

std::string ReadWholeProfileValue(ProfileValueReader read, void* context) {
    std::vector<char> buffer;
    unsigned long size = 256;
    for (;;) {
        buffer.assign(size, '\0');
        unsigned long length = read(context, buffer.data(), size);
        if (!ProfileValueMayBeCut(length, size)) return std::string(buffer.data(), length);
        if (size >= ProfileValueCap) return std::string();
        size *= 2;
    }
}
