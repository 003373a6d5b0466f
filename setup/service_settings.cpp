#include "service_settings.h"

#include <windows.h>

#include <vector>

#include "setup_logic.h"
#include "texts.h"

ServiceSettings Settings;

namespace {

// The current directory, whole; false if Windows cannot give it.
// GetCurrentDirectoryA(0, NULL) tells the size needed with its NUL; the
// directory may change between the calls, so read again while it grew.
bool ReadCurrentDirectory(std::string* directory) {
    DWORD needed = GetCurrentDirectoryA(0, NULL);
    while (needed != 0) {
        std::vector<char> buffer(needed + 1, '\0');
        DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return false;
        if (length < buffer.size()) {
            directory->assign(buffer.data(), length);
            return true;
        }
        needed = length;   // it grew: the size needed now, with its NUL
    }
    return false;
}

// Which [Service] value of which settings file a reading is for.
struct ProfileKey {
    const char* key;
    const char* path;
};

// GetPrivateProfileStringA for that value, "" when the file, the section or
// the key is missing.
unsigned long ReadFromSettingsFile(void* context, char* buffer, unsigned long size) {
    const ProfileKey* where = static_cast<const ProfileKey*>(context);
    return GetPrivateProfileStringA(TextSettingsSection, where->key, "", buffer, size, where->path);
}

// A [Service] value of the settings file, whole up to ProfileValueCap.
std::string ReadProfileValue(const char* key, const std::string& path) {
    ProfileKey where = {key, path.c_str()};
    return ReadWholeProfileValue(ReadFromSettingsFile, &where);
}

}   // namespace

void ReadServiceSettings() {
    Settings.name.clear();
    Settings.programPath.clear();
    std::string directory;
    if (!ReadCurrentDirectory(&directory)) return;
    std::string path = SettingsPathIn(directory);
    Settings.name = ReadProfileValue(TextSettingsNameKey, path);
    Settings.programPath = ProgramPathIn(directory, ReadProfileValue(TextSettingsExeKey, path));
}

std::string LookUpComputerName() {
    char buffer[264];
    ZeroMemory(buffer, sizeof buffer);
    DWORD size = sizeof buffer;
    if (!GetComputerNameA(buffer, &size)) return std::string();
    buffer[sizeof buffer - 1] = '\0';
    return std::string(buffer);
}
