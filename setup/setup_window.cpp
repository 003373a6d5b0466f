#include "setup_window.h"

#include "service_control.h"
#include "service_settings.h"
#include "setup_logic.h"
#include "texts.h"

SetupWindowRecord TheSetupWindow;

namespace {

// Identifiers of the controls.
enum {
    ID_REGISTER = 1000,
    ID_START = 1001,
    ID_DELETE = 1002,
    ID_STOP = 1003,
    ID_GUIDE = 1004,
    ID_NAME = 1005,
    ID_NAME_LABEL = 1006,
    ID_EXE = 1007,
    ID_EXE_LABEL = 1008,
    ID_STATE = 1009,
    ID_REFRESH = 1010,
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;

struct ControlLayout {
    int id;
    const char* className;
    const char* text;
    DWORD exStyle;
    DWORD style;
    int x, y, width, height;
};

// The controls in the order they are made (which is also their tab order).
const ControlLayout kControls[] = {
    {ID_REGISTER, "BUTTON", TEXT_REGISTER, 0, kChild, 14, 73, 90, 24},
    {ID_START, "BUTTON", TEXT_START, 0, kChild, 114, 73, 90, 24},
    {ID_DELETE, "BUTTON", TEXT_DELETE, 0, kChild, 314, 73, 90, 24},
    {ID_STOP, "BUTTON", TEXT_STOP, 0, kChild, 214, 73, 90, 24},
    {ID_GUIDE, "STATIC", TEXT_GUIDE, 0, kChild, 13, 3, 387, 16},
    {ID_NAME, "EDIT", "", WS_EX_CLIENTEDGE, kChild, 79, 22, 150, 21},
    {ID_NAME_LABEL, "STATIC", TEXT_NAME_LABEL, 0, kChild, 15, 25, 62, 18},
    {ID_EXE, "EDIT", "", WS_EX_CLIENTEDGE, kChild | ES_AUTOHSCROLL, 79, 45, 323, 21},
    {ID_EXE_LABEL, "STATIC", TEXT_EXE_LABEL, 0, kChild, 15, 49, 39, 18},
    {ID_STATE, "STATIC", TEXT_STATE_LABEL, 0, kChild, 337, 25, 62, 13},
    {ID_REFRESH, "BUTTON", TEXT_REFRESH, 0, kChild, 234, 22, 95, 20},
};

// A button's request of the service manager, as the settings name it.
typedef int (*ServiceOperation)(const ServiceSettings& settings);

int RegisterOperation(const ServiceSettings& s) { return RegisterService(s.name, s.programPath); }
int LaunchOperation(const ServiceSettings& s) { return LaunchService(s.name); }
int HaltOperation(const ServiceSettings& s) { return HaltService(s.name); }
int UnregisterOperation(const ServiceSettings& s) { return UnregisterService(s.name); }

struct CommandEntry {
    int id;
    ServiceOperation operation;   // NULL: only show the state again
    const char* successText;
    const char* failureText;
};

const CommandEntry kCommands[] = {
    {ID_REGISTER, RegisterOperation, TEXT_REGISTER_OK, TEXT_REGISTER_FAILED},
    {ID_START, LaunchOperation, TEXT_START_OK, TEXT_START_FAILED},
    {ID_STOP, HaltOperation, TEXT_STOP_OK, TEXT_STOP_FAILED},
    {ID_DELETE, UnregisterOperation, TEXT_DELETE_OK, TEXT_DELETE_FAILED},
    {ID_REFRESH, NULL, NULL, NULL},
};

void SetControlText(int id, const char* text) { SetWindowTextA(GetDlgItem(TheSetupWindow.window, id), text); }

void OnCreate(HWND window) {
    TheSetupWindow.window = window;
    HINSTANCE instance = GetModuleHandleA(NULL);
    for (const ControlLayout& c : kControls) {
        CreateWindowExA(c.exStyle, c.className, c.text, c.style, c.x, c.y, c.width, c.height, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, NULL);
        SendMessageA(GetDlgItem(window, c.id), WM_SETFONT, reinterpret_cast<WPARAM>(TheSetupWindow.font), 0);
    }
    ReadServiceSettings();
    SetControlText(ID_NAME, TheServiceSettings.name.c_str());
    SetControlText(ID_EXE, TheServiceSettings.programPath.c_str());
    RefreshServiceState();
}

// Buttons act on the settings read at start-up, never on what the fields
// show: the fields only tell the user which service this is.
void OnCommand(WPARAM wParam) {
    int id = LOWORD(wParam);
    if (HIWORD(wParam) != BN_CLICKED) return;
    for (const CommandEntry& command : kCommands) {
        if (command.id != id) continue;
        if (command.operation != NULL) {
            if (command.operation(TheServiceSettings)) {
                MessageBoxA(NULL, command.successText, TEXT_CAPTION_SUCCESS, MB_OK);
            } else {
                MessageBoxA(NULL, command.failureText, TEXT_CAPTION_ERROR, MB_OK);
            }
        }
        RefreshServiceState();
        return;
    }
}

void OnDestroy() {
    DeleteObject(TheSetupWindow.font);
    DeleteObject(TheSetupWindow.brush);
    PostQuitMessage(0);
}

}   // namespace

void RefreshServiceState() {
    SetControlText(ID_STATE, TEXT_STATE_NONE);
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    QueryServiceState(TheServiceSettings.name, &status);
    // A state of 0 (nothing read) names no state and leaves the word as it is.
    unsigned long state = status.dwCurrentState;
    if (state >= SERVICE_STOPPED && state <= SERVICE_PAUSED) {
        SetControlText(ID_STATE, StateText(state));
    }
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: OnCreate(window); return 0;
        case WM_COMMAND: OnCommand(wParam); return 0;
        case WM_CLOSE: DestroyWindow(window); return 0;
        case WM_DESTROY: OnDestroy(); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
