#include "setup_window.h"

#include "service_control.h"
#include "service_settings.h"
#include "setup_logic.h"
#include "texts.h"

SetupWindowRecord SetupWindow;

namespace {

// Identifiers of the controls.
enum {
    IdRegister = 1000,
    IdStart = 1001,
    IdDelete = 1002,
    IdStop = 1003,
    IdGuide = 1004,
    IdName = 1005,
    IdNameLabel = 1006,
    IdExe = 1007,
    IdExeLabel = 1008,
    IdState = 1009,
    IdRefresh = 1010,
};

constexpr DWORD Child = WS_CHILD | WS_VISIBLE;

struct ControlLayout {
    int id;
    const char* className;
    const char* text;
    DWORD exStyle;
    DWORD style;
    int x, y, width, height;
};

// The controls in the order they are made (which is also their tab order).
constexpr ControlLayout Controls[] = {
    {IdRegister, "BUTTON", TextRegister, 0, Child, 14, 73, 90, 24},
    {IdStart, "BUTTON", TextStart, 0, Child, 114, 73, 90, 24},
    {IdDelete, "BUTTON", TextDelete, 0, Child, 314, 73, 90, 24},
    {IdStop, "BUTTON", TextStop, 0, Child, 214, 73, 90, 24},
    {IdGuide, "STATIC", TextGuide, 0, Child, 13, 3, 387, 16},
    {IdName, "EDIT", "", WS_EX_CLIENTEDGE, Child, 79, 22, 150, 21},
    {IdNameLabel, "STATIC", TextNameLabel, 0, Child, 15, 25, 62, 18},
    {IdExe, "EDIT", "", WS_EX_CLIENTEDGE, Child | ES_AUTOHSCROLL, 79, 45, 323, 21},
    {IdExeLabel, "STATIC", TextExeLabel, 0, Child, 15, 49, 39, 18},
    {IdState, "STATIC", TextStateLabel, 0, Child, 337, 25, 62, 13},
    {IdRefresh, "BUTTON", TextRefresh, 0, Child, 234, 22, 95, 20},
};

// A button's request of the service manager, as the settings name it.
using ServiceOperation = int (*)(const ServiceSettings& settings);

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

constexpr CommandEntry Commands[] = {
    {IdRegister, RegisterOperation, TextRegisterOk, TextRegisterFailed},
    {IdStart, LaunchOperation, TextStartOk, TextStartFailed},
    {IdStop, HaltOperation, TextStopOk, TextStopFailed},
    {IdDelete, UnregisterOperation, TextDeleteOk, TextDeleteFailed},
    {IdRefresh, NULL, NULL, NULL},
};

void SetControlText(int id, const char* text) { SetWindowTextA(GetDlgItem(SetupWindow.window, id), text); }

void OnCreate(HWND window) {
    SetupWindow.window = window;
    HINSTANCE instance = GetModuleHandleA(NULL);
    for (const ControlLayout& c : Controls) {
        CreateWindowExA(c.exStyle, c.className, c.text, c.style, c.x, c.y, c.width, c.height, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, NULL);
        SendMessageA(GetDlgItem(window, c.id), WM_SETFONT, reinterpret_cast<WPARAM>(SetupWindow.font), 0);
    }
    ReadServiceSettings();
    SetControlText(IdName, Settings.name.c_str());
    SetControlText(IdExe, Settings.programPath.c_str());
    RefreshServiceState();
}

// Buttons act on the settings read at start-up, never on what the fields
// show: the fields only tell the user which service this is.
void OnCommand(WPARAM wParam) {
    int id = LOWORD(wParam);
    if (HIWORD(wParam) != BN_CLICKED) return;
    for (const CommandEntry& command : Commands) {
        if (command.id != id) continue;
        if (command.operation != NULL) {
            if (command.operation(Settings)) {
                MessageBoxA(NULL, command.successText, TextCaptionSuccess, MB_OK);
            } else {
                MessageBoxA(NULL, command.failureText, TextCaptionError, MB_OK);
            }
        }
        RefreshServiceState();
        return;
    }
}

void OnDestroy() {
    DeleteObject(SetupWindow.font);
    DeleteObject(SetupWindow.brush);
    PostQuitMessage(0);
}

}   // namespace

void RefreshServiceState() {
    SetControlText(IdState, TextStateNone);
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    QueryServiceState(Settings.name, &status);
    // A state of 0 (nothing read) names no state and leaves the word as it is.
    unsigned long state = status.dwCurrentState;
    if (state >= SERVICE_STOPPED && state <= SERVICE_PAUSED) {
        SetControlText(IdState, StateText(state));
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
