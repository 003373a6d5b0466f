#include "setup_logic.h"

#include <vector>

#include "texts.h"

std::string SettingsPathIn(const std::string& directory) { return directory + "\\" TEXT_SETTINGS_FILE; }

std::string ProgramPathIn(const std::string& directory, const std::string& exe) { return directory + "\\" + exe; }

std::string QuotedBinaryPath(const std::string& programPath) { return "\"" + programPath + "\""; }

bool IsQuotableProgramPath(const std::string& programPath) { return programPath.find('"') == std::string::npos; }

namespace {

struct StateName {
    unsigned long state;
    const char* text;
};

// The values of dwCurrentState, SERVICE_STOPPED (1) to SERVICE_PAUSED (7).
const StateName kStateNames[] = {
    {1, TEXT_STATE_STOPPED}, {2, TEXT_STATE_START_PENDING},    {3, TEXT_STATE_STOP_PENDING},
    {4, TEXT_STATE_RUNNING}, {5, TEXT_STATE_CONTINUE_PENDING}, {6, TEXT_STATE_PAUSE_PENDING},
    {7, TEXT_STATE_PAUSED},
};

}   // namespace

const char* StateText(unsigned long currentState) {
    for (const StateName& entry : kStateNames) {
        if (entry.state == currentState) return entry.text;
    }
    return TEXT_STATE_NONE;
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
        if (size >= kProfileValueCap) return std::string();
        size *= 2;
    }
}
