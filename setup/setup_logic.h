// The parts of DRELOM.exe that need no Windows: forming paths, naming
// service states and reading a settings value whole.  Kept apart so they can
// be checked on any machine.
#pragma once

#include <string>

// The settings file in a directory: the directory, a backslash, DRELOM.ini.
// Nothing is added or taken away, so a drive root "C:\" gives "C:\\DRELOM.ini";
// Windows reads such a path as the same file.
std::string SettingsPathIn(const std::string& directory);

// The program the service runs: the directory, a backslash and the Exe value,
// whatever the value is (even empty, even a full path of its own).
std::string ProgramPathIn(const std::string& directory, const std::string& exe);

// The binary path given to the service manager.  In quotes, so that a path
// with spaces ("C:\Program Files\...") cannot be taken by the manager as the
// program "C:\Program" with arguments: the service runs as LocalSystem, and
// such a program would run with its rights.
std::string QuotedBinaryPath(const std::string& programPath);

// True when the program path holds no double quote, so that QuotedBinaryPath
// gives one program and nothing else.  A quote in the Exe value would close
// the quoted path early and the manager would take the rest as arguments to
// a different program; no Windows file name holds a quote, so such a path is
// refused rather than registered.
bool IsQuotableProgramPath(const std::string& programPath);

// The root folder whose drive type tells where a program path lies: "C:\"
// for a path on drive C: (also in the form \\?\C:\...), or the empty string
// for a path without a drive letter, for which GetDriveTypeA is asked with no
// root and answers for the current directory's.
std::string DriveRootOf(const std::string& programPath);

// What GetDriveTypeA answers for a network drive (DRIVE_REMOTE).
constexpr unsigned NetworkDrive = 4;

// True when the program lies in a network folder: a UNC path
// (\\server\share\..., \\?\UNC\...) or any other that begins with two
// separators and names no local drive, or a path on a drive that Windows
// reports as a network drive (a mapped one). Such a path is refused: the
// service starts at boot as LocalSystem, usually before the network is up,
// and where the share is reached, whoever can write to it would choose the
// code that runs with the system's rights.
bool IsNetworkProgramPath(const std::string& programPath, unsigned rootDriveType);

// What the service control manager does when the service fails, also when
// its start ends STOPPED with an exit code: restart it a minute later, a
// second time a minute after a second failure, then nothing more, the count
// of failures forgotten after a day without one. The box's driver may come
// up some seconds to a minute after Windows started the service at boot.
// Whole minutes and a whole day, as the service's Recovery tab shows them.
struct RecoveryStep {
    unsigned action;   // SC_ACTION_TYPE: 0 none, 1 restart the service
    unsigned long delayMilliseconds;
};
constexpr RecoveryStep RecoverySteps[] = {{1, 60000}, {1, 60000}, {0, 0}};
constexpr unsigned RecoveryStepCount = sizeof RecoverySteps / sizeof RecoverySteps[0];
constexpr unsigned long RecoveryResetSeconds = 24 * 60 * 60;

// The word shown for SERVICE_STATUS.dwCurrentState, or the word for "not
// registered" for any value that is not a state.
const char* StateText(unsigned long currentState);

// GetPrivateProfileStringA cuts a value that does not fit without telling.
// It then returns size - 1, or size - 2 when the last character that would
// fit is a double-byte one of code page 932 and only its lead byte has room:
// that character is left out whole.  True when the value read may have been
// cut, that is when it came within two bytes of the buffer's end.
bool ProfileValueMayBeCut(unsigned long returned, unsigned long size);

// Longest buffer a settings value is read into.  A value that still comes
// within two bytes of its end (ProfileValueCap - 2 bytes or more) is taken as
// no value at all: a cut program name would register a different file than
// the one named.
constexpr unsigned long ProfileValueCap = 64 * 1024;

// One reading of a settings value as GetPrivateProfileStringA does it, the
// section, key and file fixed by context: copies at most size - 1 bytes of the
// value and a NUL into buffer, and returns the number of bytes copied.
using ProfileValueReader = unsigned long (*)(void* context, char* buffer, unsigned long size);

// The value whole: read into a 256-byte buffer, doubled while the value may
// have been cut, up to ProfileValueCap; empty if it still does not fit.
std::string ReadWholeProfileValue(ProfileValueReader read, void* context);
