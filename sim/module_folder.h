// The folder a DLL was loaded from, where the stand-in box libraries keep
// their files.
#pragma once
#include <windows.h>

#include <cstring>

// The module's folder with its closing backslash ("" for a bare name); false
// when Windows cannot name the module's path within MAX_PATH.
inline bool ModuleFolder(HMODULE module, char (&folder)[MAX_PATH]) {
    const DWORD length = GetModuleFileNameA(module, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    char* slash = std::strrchr(folder, '\\');
    if (slash) slash[1] = '\0';
    else folder[0] = '\0';
    return true;
}
