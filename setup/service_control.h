// The five requests DRELOM.exe makes of the service manager.  Each returns 1
// when the manager did it and 0 otherwise; none shows anything, waits,
// retries or tells why.
#pragma once

#include <windows.h>

#include <string>

// Copies the service's status into *status; leaves it as it was on failure.
int QueryServiceState(const std::string& name, SERVICE_STATUS* status);

// Creates the service: own process, started at boot, run as LocalSystem.
int RegisterService(const std::string& name, const std::string& programPath);

int LaunchService(const std::string& name);
int HaltService(const std::string& name);
int UnregisterService(const std::string& name);
