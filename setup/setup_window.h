// The main window of DRELOM.exe and the controls on it.
#pragma once

#include <windows.h>

// What the window needs from start-up to its end.
struct SetupWindowRecord {
    HWND window;    // SetupWindowHandle, saved at WM_CREATE
    HFONT font;     // font of every control
    HBRUSH brush;   // background of the window class
};

extern SetupWindowRecord SetupWindow;

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the service's present state in the state field.
void RefreshServiceState();
