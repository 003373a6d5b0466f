#include "service_settings.h"

#include <windows.h>

#include <vector>

#include "setup_logic.h"
#include "texts.h"

ServiceSettings TheServiceSettings;

namespace {

// Longest profile value read. A longer one is taken as no value at all: a
// cut program name would register a different file than the one named.
const DWORD kProfileValueCap = 64 * 1024;

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
    needed = length;  // it grew: the size needed now, with its NUL
  }
  return false;
}

// A [Service] value of the settings file, whole up to the cap: the buffer
// grows while the value fills it.
std::string ReadProfileValue(const char* key, const std::string& path) {
  std::vector<char> buffer;
  DWORD size = 256;
  for (;;) {
    buffer.assign(size, '\0');
    DWORD length = GetPrivateProfileStringA(TEXT_SETTINGS_SECTION, key, "", buffer.data(),
                                            size, path.c_str());
    if (!ProfileValueMayBeCut(length, size)) return std::string(buffer.data(), length);
    if (size >= kProfileValueCap) return std::string();
    size *= 2;
  }
}

}  // namespace

void ReadServiceSettings() {
  TheServiceSettings.name.clear();
  TheServiceSettings.programPath.clear();
  std::string directory;
  if (!ReadCurrentDirectory(&directory)) return;
  std::string path = SettingsPathIn(directory);
  TheServiceSettings.name = ReadProfileValue(TEXT_SETTINGS_NAME_KEY, path);
  TheServiceSettings.programPath =
      ProgramPathIn(directory, ReadProfileValue(TEXT_SETTINGS_EXE_KEY, path));
}

std::string LookUpComputerName() {
  char buffer[264];
  ZeroMemory(buffer, sizeof buffer);
  DWORD size = sizeof buffer;
  if (!GetComputerNameA(buffer, &size)) return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}
