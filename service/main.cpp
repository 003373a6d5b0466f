// MIREVO: the LCD system monitor service. It does its work only when the
// service control manager starts it; run any other way, the dispatcher call
// fails at once and the program ends quietly.
#include <windows.h>

#include "service_host.h"

int main() {
    char name[] = "MIREVO";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(table);
    return 0;
}
