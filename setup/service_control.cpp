#include "service_control.h"

#include "service_settings.h"
#include "setup_logic.h"

namespace {

// The manager of the active services on this computer, or NULL.
SC_HANDLE OpenManager() {
    std::string computer = LookUpComputerName();
    return OpenSCManagerA(computer.c_str(), "ServicesActive", SC_MANAGER_ALL_ACCESS);
}

// A request made of an opened service.
using ServiceRequest = BOOL (*)(SC_HANDLE service, SERVICE_STATUS* status);

BOOL QueryRequest(SC_HANDLE service, SERVICE_STATUS* status) { return QueryServiceStatus(service, status); }

BOOL StartRequest(SC_HANDLE service, SERVICE_STATUS*) { return StartServiceA(service, 0, NULL); }

// The status the manager gives back with a stop is of no use here.
BOOL StopRequest(SC_HANDLE service, SERVICE_STATUS*) {
    SERVICE_STATUS ignored;
    ZeroMemory(&ignored, sizeof ignored);
    return ControlService(service, SERVICE_CONTROL_STOP, &ignored);
}

BOOL DeleteRequest(SC_HANDLE service, SERVICE_STATUS*) { return DeleteService(service); }

// Opens the manager and the service, makes the request and closes both,
// the service first, on every path.
int WithService(const std::string& name, ServiceRequest request, SERVICE_STATUS* status) {
    SC_HANDLE manager = OpenManager();
    if (manager == NULL) return 0;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (service == NULL) {
        CloseServiceHandle(manager);
        return 0;
    }
    int done = request(service, status) ? 1 : 0;
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return done;
}

// Where the program path lies, as Windows sees its drive.
unsigned DriveTypeOf(const std::string& programPath) {
    const std::string root = DriveRootOf(programPath);
    return GetDriveTypeA(root.empty() ? NULL : root.c_str());
}

static_assert(SC_ACTION_NONE == 0 && SC_ACTION_RESTART == 1, "the recovery's actions are Windows' own numbers");

// Asks the manager to start the service again after it failed, and to count
// a start that ends STOPPED with an exit code as a failure: without that
// flag Windows recovers only a service whose process ended without
// reporting STOPPED. Windows XP lacks the flag and refuses it (so does
// Wine); the registration stands without it. The results are not looked at:
// recovery is the manager's, and the service is registered either way.
void AskForRecovery(SC_HANDLE service) {
    SC_ACTION actions[RecoveryStepCount];
    for (unsigned i = 0; i < RecoveryStepCount; ++i) {
        actions[i].Type = static_cast<SC_ACTION_TYPE>(RecoverySteps[i].action);
        actions[i].Delay = RecoverySteps[i].delayMilliseconds;
    }
    SERVICE_FAILURE_ACTIONSA failure;
    ZeroMemory(&failure, sizeof failure);
    failure.dwResetPeriod = RecoveryResetSeconds;
    failure.cActions = RecoveryStepCount;
    failure.lpsaActions = actions;
    ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    SERVICE_FAILURE_ACTIONS_FLAG flag;
    flag.fFailureActionsOnNonCrashFailures = TRUE;
    ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
}

}   // namespace

int QueryServiceState(const std::string& name, SERVICE_STATUS* status) {
    return WithService(name, QueryRequest, status);
}

int LaunchService(const std::string& name) { return WithService(name, StartRequest, NULL); }

int HaltService(const std::string& name) { return WithService(name, StopRequest, NULL); }

int UnregisterService(const std::string& name) { return WithService(name, DeleteRequest, NULL); }

int RegisterService(const std::string& name, const std::string& programPath) {
    // A path the quotes cannot hold whole, or one in a network folder, is
    // refused before the manager is asked for anything.
    if (!IsQuotableProgramPath(programPath) || IsNetworkProgramPath(programPath, DriveTypeOf(programPath))) return 0;
    SC_HANDLE manager = OpenManager();
    if (manager == NULL) return 0;
    std::string binaryPath = QuotedBinaryPath(programPath);
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       binaryPath.c_str(), NULL, NULL, NULL, NULL, NULL);
    if (service == NULL) {
        CloseServiceHandle(manager);
        return 0;
    }
    AskForRecovery(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 1;
}
