// Loaded into DRELOM.exe by drelom_client.exe's hook, where the controls' font means something (GDI objects are
// the process's own; Wine answers no WM_GETFONT from another process). At the client's message it writes
// drelom-layout.txt in DRELOM's folder: "client W H", then "ID left top right bottom font text-width text-height"
// for each control: its rectangle in the client area, its WM_GETFONT (0: none), its text measured in that font.
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) LRESULT CALLBACK LayoutHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    FILE* out = NULL;
    if (code == HC_ACTION && message->message == RegisterWindowMessageA("drelom_client layout") &&
        (out = std::fopen("drelom-layout.txt", "w")) != NULL) {
        HWND window = message->hwnd;
        RECT client;
        GetClientRect(window, &client);
        std::fprintf(out, "client %ld %ld\n", client.right, client.bottom);
        HDC dc = GetDC(window);
        for (int id = 1000; id <= 1010; ++id) {
            HWND control = GetDlgItem(window, id);
            RECT box = {0, 0, 0, 0};
            GetWindowRect(control, &box);
            MapWindowPoints(NULL, window, reinterpret_cast<POINT*>(&box), 2);
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
            wchar_t text[512] = L"";
            SIZE size = {0, 0};
            HGDIOBJ before = font ? SelectObject(dc, font) : NULL;
            if (before) GetTextExtentPoint32W(dc, text, GetWindowTextW(control, text, 512), &size);
            if (before) SelectObject(dc, before);
            std::fprintf(out, "%d %ld %ld %ld %ld %llx %ld %ld\n", id, box.left, box.top, box.right, box.bottom,
                         static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(font)), size.cx, size.cy);
        }
        ReleaseDC(window, dc);
        std::fclose(out);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
