// The service DRELOM.exe looks after, as DRELOM.ini in the current directory
// names it.
#pragma once

#include <string>

struct ServiceSettings {
    std::string name;          // [Service] Name
    std::string programPath;   // current directory + "\" + [Service] Exe
};

// The one record of this process; empty until ReadServiceSettings.
extern ServiceSettings Settings;

// Fills Settings from DRELOM.ini in the current directory.  If the
// current directory cannot be read, both fields are left empty.
void ReadServiceSettings();

// This computer's name, or an empty string if Windows does not tell it.
std::string LookUpComputerName();
