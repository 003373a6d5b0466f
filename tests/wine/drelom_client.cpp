// drelom_client.exe: drives DRELOM.exe's window from another process for the
// end-to-end test.  Commands run in order from the command line:
//   wait MS            wait for the top-level window titled DRELOM
//   texts              print "ID TEXT" for every control, text as UTF-8
//   layout             have drelom_layout.dll write drelom-layout.txt from
//                      inside DRELOM's process
//   record [remote]    have drelom_recorder.dll record DRELOM's recovery
//                      requests in drelom-recovery.txt (and with remote,
//                      take DRELOM's folder for a network drive)
//   text ID            print the text of one control
//   click ID           post a button click (the click opens a modal box)
//   send ID            send a button click and wait until it is handled
//                      (for buttons that open no box)
//   box MS             wait for a message box, print "box CAPTION|TEXT", press OK
//   settext ID TEXT    put TEXT into a control, as if typed
//   close              close the window and wait until it is gone
// Prints "error ..." and exits 1 when a wait runs out.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND DrelomWindow = NULL;

void Print(const std::string& line) {
    std::string out = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, NULL);
}

// The text of a window; a window that is not there or does not answer ends
// the client with an error, so that no check reads an empty text as shown.
std::string Utf8Text(HWND window, const std::string& what) {
    wchar_t wide[4096];
    wide[0] = 0;
    // GetWindowText of another process's window does not ask the window, and an
    // edit control keeps its own text: ask with WM_GETTEXT, with a time limit.
    DWORD_PTR ignored = 0;
    if (window == NULL || !SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(wide),
                                               SMTO_ABORTIFHUNG, 5000, &ignored)) {
        Print("error no text from " + what);
        std::exit(1);
    }
    wide[4095] = 0;
    char utf8[16384];
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL);
    if (n <= 0) return std::string();
    return std::string(utf8);
}

// The window is there as soon as it is created, but its thread answers
// messages only once WM_CREATE (controls, settings, the service's state) is
// done: wait for both.
bool WaitMain(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DrelomWindow = FindWindowA("NORMAL0", "DRELOM");
        DWORD_PTR ignored = 0;
        if (DrelomWindow != NULL)
            return SendMessageTimeoutA(DrelomWindow, WM_NULL, 0, 0, SMTO_NORMAL, ms, &ignored) != 0;
        if (GetTickCount() - start > ms) return false;
        Sleep(100);
    }
}

struct BoxSearch {
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    char className[64];
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    // Captions of top-level windows are kept by the system: no need to ask.
    wchar_t wide[64] = L"";
    GetWindowTextW(window, wide, 64);
    char caption8[256] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, caption8, sizeof caption8, NULL, NULL);
    const std::string caption = caption8;
    if (caption == "成功" || caption == "エラー") {
        reinterpret_cast<BoxSearch*>(param)->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindMessageBox() {
    BoxSearch search = {NULL};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Box(DWORD ms) {
    DWORD start = GetTickCount();
    HWND box = NULL;
    while ((box = FindMessageBox()) == NULL) {
        if (GetTickCount() - start > ms) return false;
        Sleep(100);
    }
    // The box's text is there once the box has laid itself out.
    start = GetTickCount();
    while (GetWindowTextLengthW(GetDlgItem(box, 0xFFFF)) == 0) {
        if (GetTickCount() - start > ms) return false;
        Sleep(50);
    }
    Print("box " + Utf8Text(box, "the box") + "|" + Utf8Text(GetDlgItem(box, 0xFFFF), "the box's text"));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    start = GetTickCount();
    while (IsWindow(box)) {
        if (GetTickCount() - start > ms) return false;
        Sleep(50);
    }
    // The state label is written after the box returns, before DRELOM's
    // thread takes its next message: a message sent now is answered after it.
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(DrelomWindow, WM_NULL, 0, 0, SMTO_NORMAL, ms, &ignored) != 0;
}

// Hooks DRELOM's thread with a library of ours, which Windows then loads into
// DRELOM's process, and sends the message its hook answers there.
void AskInside(const char* dll, const char* hookName, const char* message, WPARAM wParam) {
    HMODULE library = LoadLibraryA(dll);
    FARPROC hook = library ? GetProcAddress(library, hookName) : NULL;
    HHOOK hooked = hook ? SetWindowsHookExA(WH_CALLWNDPROC, reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(hook)),
                                            library, GetWindowThreadProcessId(DrelomWindow, NULL))
                        : NULL;
    DWORD_PTR ignored = 0;
    bool asked = hooked && SendMessageTimeoutA(DrelomWindow, RegisterWindowMessageA(message), wParam, 0,
                                               SMTO_ABORTIFHUNG, 5000, &ignored);
    if (hooked) UnhookWindowsHookEx(hooked);
    if (asked) return;
    Print(std::string("error no answer from ") + dll + " inside DRELOM");
    std::exit(1);
}

}   // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string command = argv[i];
        if (command == "wait" && i + 1 < argc) {
            if (!WaitMain(std::strtoul(argv[++i], NULL, 10))) {
                Print("error no DRELOM window");
                return 1;
            }
            continue;
        }
        if (DrelomWindow == NULL && !WaitMain(0)) {
            Print("error no DRELOM window");
            return 1;
        }
        if (command == "layout") {
            AskInside("drelom_layout.dll", "LayoutHook", "drelom_client layout", 0);
        } else if (command == "record") {
            const bool remote = i + 1 < argc && std::strcmp(argv[i + 1], "remote") == 0;
            i += remote ? 1 : 0;
            AskInside("drelom_recorder.dll", "RecordHook", "drelom_client record", remote ? 1 : 0);
        } else if (command == "texts") {
            for (int id = 1000; id <= 1010; ++id) {
                Print(std::to_string(id) + " " +
                      Utf8Text(GetDlgItem(DrelomWindow, id), "control " + std::to_string(id)));
            }
        } else if (command == "text" && i + 1 < argc) {
            int id = std::atoi(argv[++i]);
            Print(std::to_string(id) + " " + Utf8Text(GetDlgItem(DrelomWindow, id), "control " + std::to_string(id)));
        } else if (command == "click" && i + 1 < argc) {
            int id = std::atoi(argv[++i]);
            PostMessageA(DrelomWindow, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(DrelomWindow, id)));
        } else if (command == "send" && i + 1 < argc) {
            int id = std::atoi(argv[++i]);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(DrelomWindow, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                reinterpret_cast<LPARAM>(GetDlgItem(DrelomWindow, id)), SMTO_ABORTIFHUNG, 30000,
                                &ignored);
        } else if (command == "box" && i + 1 < argc) {
            if (!Box(std::strtoul(argv[++i], NULL, 10))) {
                Print("error no message box");
                return 1;
            }
        } else if (command == "settext" && i + 2 < argc) {
            int id = std::atoi(argv[++i]);
            SendMessageA(GetDlgItem(DrelomWindow, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[++i]));
        } else if (command == "close") {
            PostMessageA(DrelomWindow, WM_CLOSE, 0, 0);
            DWORD start = GetTickCount();
            while (IsWindow(DrelomWindow)) {
                if (GetTickCount() - start > 10000) {
                    Print("error window did not close");
                    return 1;
                }
                Sleep(50);
            }
        } else {
            Print("error unknown command " + command);
            return 1;
        }
    }
    return 0;
}
