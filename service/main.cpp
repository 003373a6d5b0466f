// MIREVO: the LCD system monitor service. It does its work only when the
// service control manager starts it; run any other way, the dispatcher call
// fails at once and the program ends quietly.
#include <windows.h>

#include "service_host.h"

int main() {
    char name[] = "MIREVO";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(table);
    // A worker stuck inside the box library (a driver may hold a request
    // until the device answers) would keep the process, and the box open,
    // after the service reported stopped. The process ends at once instead:
    // TerminateProcess calls no library's detach routine, which could wait
    // for that same call.
    // The same for a notice still inside a call into the box when its
    // deadline passed. A box library whose load never returned holds the
    // loader's lock, which ExitProcess would wait for.
    if (WorkerLeftRunning() || NoticeLeftRunning() || LoadLeftRunning()) TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
