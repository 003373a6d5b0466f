#include "setup_logic.h"

#include <vector>

#include "texts.h"

std::string SettingsPathIn(const std::string& directory) { return directory + "\\" + TextSettingsFile; }

std::string ProgramPathIn(const std::string& directory, const std::string& exe) { return directory + "\\" + exe; }

std::string QuotedBinaryPath(const std::string& programPath) { return "\"" + programPath + "\""; }

bool IsQuotableProgramPath(const std::string& programPath) { return programPath.find('"') == std::string::npos; }

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
