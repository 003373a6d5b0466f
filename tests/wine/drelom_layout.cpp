// drelom_layout.dll: loaded into DRELOM.exe's process by drelom_client.exe's
// hook, to read the window's layout where its font handle means something
// (GDI objects belong to the process that made them, and Wine does not
// answer WM_GETFONT sent from another process). At the client's message it
// writes drelom-layout.txt beside itself: "client W H" (GetClientRect), then
// "ID left top right bottom font text-width text-height" for every control,
// its rectangle in the client area, the font it answers WM_GETFONT with (0:
// none) and its text measured with that font (0 0 without one).
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
void WriteLayout(HWND window, FILE* out) {
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
        GetWindowTextW(control, text, 512);
        SIZE size = {0, 0};
        if (font != NULL) {
            HGDIOBJ before = SelectObject(dc, font);
            GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
            SelectObject(dc, before);
        }
        std::fprintf(out, "%d %ld %ld %ld %ld %llx %ld %ld\n", id, box.left, box.top, box.right, box.bottom,
                     static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(font)), size.cx, size.cy);
    }
    ReleaseDC(window, dc);
}
}   // namespace

// Runs on DRELOM's thread before its window procedure sees each message.
extern "C" __declspec(dllexport) LRESULT CALLBACK LayoutHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == RegisterWindowMessageA("drelom_client layout")) {
        char path[MAX_PATH + 32] = "";
        HMODULE self = NULL;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&LayoutHook), &self);
        DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
        char* slash = length ? std::strrchr(path, '\\') : NULL;
        if (slash) std::strcpy(slash + 1, "drelom-layout.txt");
        FILE* out = slash ? std::fopen(path, "w") : NULL;
        if (out) {
            WriteLayout(message->hwnd, out);
            std::fclose(out);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}
