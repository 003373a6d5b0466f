// Loaded into DRELOM.exe by drelom_client.exe's hook. At the client's message it points DRELOM.exe's own import of
// ChangeServiceConfig2A at a recorder, which appends each request to drelom-recovery.txt in DRELOM's folder as the
// service control manager receives it, hands it on and adds the manager's answer:
//   actions reset <s> reboot <null|text> command <null|text> <type>/<delay ms> ... -> <result> <error>
//   flag <0|1> -> <result> <error>
//   level <n> -> <result> <error>      (any other level)
// With wParam 1 the import of GetDriveTypeA answers DRIVE_REMOTE too, as for a folder on a mapped network drive,
// and each question is recorded as "drive <root|null> -> 4".
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
decltype(&ChangeServiceConfig2A) RealChange = nullptr;

void Record(const char* line) {
    FILE* out = std::fopen("drelom-recovery.txt", "a");
    if (out == nullptr) return;
    std::fputs(line, out);
    std::fclose(out);
}

const char* Shown(const char* text) { return text != nullptr ? text : "null"; }

BOOL WINAPI RecordChange(SC_HANDLE service, DWORD level, LPVOID info) {
    char line[1024];
    int at = 0;
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS && info != nullptr) {
        const auto* failure = static_cast<const SERVICE_FAILURE_ACTIONSA*>(info);
        at = std::snprintf(line, sizeof line, "actions reset %lu reboot %s command %s", failure->dwResetPeriod,
                           Shown(failure->lpRebootMsg), Shown(failure->lpCommand));
        for (DWORD i = 0; i < failure->cActions && failure->lpsaActions != nullptr && at < 900; ++i)
            at += std::snprintf(line + at, sizeof line - at, " %d/%lu", static_cast<int>(failure->lpsaActions[i].Type),
                                failure->lpsaActions[i].Delay);
    } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG && info != nullptr) {
        at = std::snprintf(line, sizeof line, "flag %d",
                           static_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures);
    } else {
        at = std::snprintf(line, sizeof line, "level %lu", level);
    }
    SetLastError(NO_ERROR);
    const BOOL result = RealChange(service, level, info);
    const DWORD error = GetLastError();
    std::snprintf(line + at, sizeof line - at, " -> %d %lu\n", result ? 1 : 0, error);
    Record(line);
    SetLastError(error);
    return result;
}

UINT WINAPI AnswerRemote(LPCSTR root) {
    char line[MAX_PATH + 32];
    std::snprintf(line, sizeof line, "drive %s -> %d\n", Shown(root), DRIVE_REMOTE);
    Record(line);
    return DRIVE_REMOTE;
}

// Points the main program's import of dll!function at `replacement`: the
// previous address, or null when the program has no such import.
void* PointImportAt(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.VirtualAddress != 0 && entry->Name != 0; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0 || entry->OriginalFirstThunk == 0)
            continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return previous;
        }
    }
    return nullptr;
}
}   // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK RecordHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    HMODULE pinned = nullptr;
    // Pinned first: the client unhooks at once, and DRELOM then calls into
    // this library through its patched imports.
    if (code == HC_ACTION && message->message == RegisterWindowMessageA("drelom_client record") &&
        RealChange == nullptr &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&RecordHook), &pinned)) {
        RealChange = reinterpret_cast<decltype(&ChangeServiceConfig2A)>(
            PointImportAt("advapi32.dll", "ChangeServiceConfig2A", reinterpret_cast<void*>(RecordChange)));
        if (message->wParam == 1) PointImportAt("kernel32.dll", "GetDriveTypeA", reinterpret_cast<void*>(AnswerRemote));
        Record(RealChange != nullptr ? "recording\n" : "no import of ChangeServiceConfig2A\n");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
