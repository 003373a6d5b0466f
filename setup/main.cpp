// DRELOM.exe: registers, starts, stops and removes the service named in
// DRELOM.ini of the directory it is started in.
#include <windows.h>

#include "setup_window.h"
#include "texts.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetupWindow.font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, OUT_STROKE_PRECIS,
                                   CLIP_STROKE_PRECIS, DRAFT_QUALITY, FF_SWISS | DEFAULT_PITCH, TextFontFace);
    SetupWindow.brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    HINSTANCE instance = GetModuleHandleA(NULL);

    WNDCLASSEXA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = SetupWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = SetupWindow.brush;
    windowClass.lpszClassName = TextWindowClass;
    windowClass.hIconSm = LoadIconA(NULL, IDI_WINLOGO);
    RegisterClassExA(&windowClass);

    CreateWindowExA(0, TextWindowClass, TextWindowTitle, WS_VISIBLE | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                    CW_USEDEFAULT, 426, 136, NULL, NULL, instance, NULL);

    MSG message;
    for (;;) {
        BOOL got = GetMessageA(&message, NULL, 0, 0);
        if (got == 0 || got == -1) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    ExitProcess(0);
}
