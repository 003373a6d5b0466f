// Stand-in for the USB I/O box library: uio_out drives an HD44780 model and,
// after every call, publishes what the display shows in lcd-state.txt beside
// the DLL (replaced atomically) and appends the call to lcd-transfers.log as
// "ms pid selector value latch". The time is GetTickCount64: milliseconds of
// the machine's one clock, the same in every process and running on while a
// process is frozen, so a reader can tell one monitor cycle from the next and
// a test can place its own readings between them.
// Publishing is best effort: a file that cannot be written never fails a call.
//
// A box-fault.txt beside the DLL, read once at load, makes the box misbehave
// the way a busy box does: "stall <ms>" makes every call take that long (up
// to a minute: a box that hangs in a call). A box-fault-now file of the same
// form makes it do so from the moment it appears: the watcher below reads
// and deletes it.
//
// An lcd-power-off file beside the DLL takes the LCD's supply away once, as a
// sleep, a hibernation or a replugged box does, at any moment: also while the
// service is idle and makes no call. A watcher thread started at load looks
// for the file every 100 ms; when it finds it, it deletes it and the model
// forgets everything, as an HD44780 without supply does (display and glyph
// RAM blank, display off, not set up, and the box's control port back to 0),
// and publishes that state at once. The calls that follow reach the
// powered-up LCD as usual. A file that reads "unplug <ms>" takes the whole box
// away for that long, as a pulled cable does: every call in that time returns
// -1 and reaches nothing (it is counted as "failed" in lcd-state.txt and left
// out of the transfer log); then the box is back with its LCD powered up from
// scratch, as after the plain power loss. Any other contents is the plain one.
//
// At its first call the library loads boxhelper.dll by its bare name, as a
// maker's library loads a plug-in or helper of its own when the box is first
// used, so that Windows' search order for it is the process's: lcd-state.txt
// says where it came from ("helper <path>", or "helper none").
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "hd44780.h"
#include "module_folder.h"

// Built with VBAUSBIO_WITH_RUNTIME (sim/with-runtime/vbausbio.dll), the
// library imports boxruntime.dll at load time, as makers' libraries import
// their own runtime DLLs, and calls it once from DllMain.
#ifdef VBAUSBIO_WITH_RUNTIME
extern "C" __declspec(dllimport) int box_runtime_version();
#endif

namespace {
Hd44780 Model;
CRITICAL_SECTION ModelLock;
char StatePath[MAX_PATH + 32];
char StateTempPath[MAX_PATH + 32];
HANDLE TransferLog = INVALID_HANDLE_VALUE;
unsigned long CallCount = 0;
DWORD StallMilliseconds = 0;
char PowerOffPath[MAX_PATH + 32];
char FaultNowPath[MAX_PATH + 32];
constexpr DWORD PowerWatchPeriod = 100;
constexpr unsigned long LongestUnplug = 60000;
unsigned long FailedCount = 0;
// GetTickCount64 at which an unplugged box is back; 0 while it is there.
ULONGLONG PluggedBackAt = 0;
// Where the helper loaded at the first call came from; empty before it.
char HelperPath[MAX_PATH] = "";

void AppendHex(char*& out, const uint8_t* bytes, int count) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < count; ++i) {
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 15];
    }
}

void PublishState() {
    char text[512 + MAX_PATH];
    char* out = text;
    out += std::sprintf(out, "calls %lu\nfailed %lu\ndisplay %d\ncontrol %d\naddress %d %s\nrow0 ", CallCount,
                        FailedCount, Model.displayOn ? 1 : 0, Model.controlLines, Model.addressCounter,
                        Model.addressingGlyphs ? "cgram" : "ddram");
    for (int row = 0; row < 2; ++row) {
        if (row == 1) out += std::sprintf(out, "\nrow1 ");
        uint8_t cells[16];
        for (int c = 0; c < 16; ++c) cells[c] = ModelCell(Model, row, c);
        AppendHex(out, cells, 16);
    }
    out += std::sprintf(out, "\nglyphs ");
    AppendHex(out, Model.glyphRam, GlyphRamSize);
    out += std::sprintf(out, "\nhelper %s\n", HelperPath);

    HANDLE file = CreateFileA(StateTempPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(out - text), &written, nullptr);
    CloseHandle(file);
    MoveFileExA(StateTempPath, StatePath, MOVEFILE_REPLACE_EXISTING);
}

void LogCall(int selector, int value, int latch) {
    if (TransferLog == INVALID_HANDLE_VALUE) return;
    char line[96];
    int length = std::sprintf(line, "%llu %lu %d %d %d\n", static_cast<unsigned long long>(GetTickCount64()),
                              GetCurrentProcessId(), selector, value, latch);
    DWORD written = 0;
    WriteFile(TransferLog, line, static_cast<DWORD>(length), &written, nullptr);
}

void ReadFaultMode(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return;
    char word[16] = "";
    unsigned long milliseconds = 0;
    if (std::fscanf(file, "%15s %lu", word, &milliseconds) >= 1) {
        if (std::strcmp(word, "stall") == 0) StallMilliseconds = milliseconds > 60000 ? 60000 : milliseconds;
    }
    std::fclose(file);
}

void OpenPublishing(HMODULE self) {
    char directory[MAX_PATH];
    if (!ModuleFolder(self, directory)) return;
    std::snprintf(StatePath, sizeof StatePath, "%slcd-state.txt", directory);
    std::snprintf(StateTempPath, sizeof StateTempPath, "%slcd-state.%lu.tmp", directory, GetCurrentProcessId());
    char logPath[MAX_PATH + 32];
    std::snprintf(logPath, sizeof logPath, "%slcd-transfers.log", directory);
    char faultPath[MAX_PATH + 32];
    std::snprintf(faultPath, sizeof faultPath, "%sbox-fault.txt", directory);
    ReadFaultMode(faultPath);
    std::snprintf(PowerOffPath, sizeof PowerOffPath, "%slcd-power-off", directory);
    std::snprintf(FaultNowPath, sizeof FaultNowPath, "%sbox-fault-now", directory);
    TransferLog = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The milliseconds of an unplug that lcd-power-off asks for; 0 for a plain
// power loss.
unsigned long UnplugLength(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return 0;
    char word[16] = "";
    unsigned long milliseconds = 0;
    const bool unplug = std::fscanf(file, "%15s %lu", word, &milliseconds) == 2 && std::strcmp(word, "unplug") == 0;
    std::fclose(file);
    return unplug ? (milliseconds > LongestUnplug ? LongestUnplug : milliseconds) : 0;
}

// True while an unplugged box is away. Once its time is over the box is back,
// its LCD powered up afresh. Called with the model's lock held.
bool BoxAway() {
    if (PluggedBackAt == 0) return false;
    if (GetTickCount64() < PluggedBackAt) return true;
    PluggedBackAt = 0;
    ModelReset(Model);
    if (StatePath[0]) PublishState();
    return false;
}

// Takes the LCD's supply away whenever lcd-power-off appears, and brings an
// unplugged box back when its time is over, also while no call comes.
// Deleting the file first makes one power loss of one file, whichever process
// loads the library; the model's lock keeps the reset from landing inside a
// call.
DWORD WINAPI WatchPower(LPVOID) {
    for (;;) {
        Sleep(PowerWatchPeriod);
        EnterCriticalSection(&ModelLock);
        BoxAway();
        LeaveCriticalSection(&ModelLock);
        if (GetFileAttributesA(FaultNowPath) != INVALID_FILE_ATTRIBUTES) {
            ReadFaultMode(FaultNowPath);
            DeleteFileA(FaultNowPath);
        }
        if (GetFileAttributesA(PowerOffPath) == INVALID_FILE_ATTRIBUTES) continue;
        const unsigned long unplug = UnplugLength(PowerOffPath);
        if (!DeleteFileA(PowerOffPath)) continue;
        EnterCriticalSection(&ModelLock);
        ModelReset(Model);
        PluggedBackAt = unplug ? GetTickCount64() + unplug : 0;
        if (StatePath[0]) PublishState();
        LeaveCriticalSection(&ModelLock);
    }
}

// Starts the watcher for the life of the process. The library is pinned
// first, so that no FreeLibrary can unload the code the thread runs; the
// thread's handle is not needed and is closed at once.
// A box-hang-load file beside the DLL makes loading it never return, as a
// maker's library does whose DllMain waits for a box that is not there or
// shows a message box on a desktop that nobody sees: DllMain then waits for
// ever, holding the loader's lock. The file's contents do not matter.
void HangIfAsked(HMODULE self) {
    char path[MAX_PATH + 32];
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    char* slash = length > 0 && length < MAX_PATH ? std::strrchr(path, '\\') : nullptr;
    if (slash == nullptr) return;
    std::strcpy(slash + 1, "box-hang-load");
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) Sleep(INFINITE);
}

void StartPowerWatch(HMODULE self) {
    HMODULE pinned = nullptr;
    if (!PowerOffPath[0] || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                                reinterpret_cast<LPCSTR>(self), &pinned))
        return;
    HANDLE thread = CreateThread(nullptr, 0, WatchPower, nullptr, 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

// Loads the helper by its bare name, once; the library never lets it go.
// The state file stays ASCII: a byte of a folder's Japanese name shows as '?'.
void LoadHelper() {
    const HMODULE helper = LoadLibraryA("boxhelper.dll");
    const DWORD length = helper != nullptr ? GetModuleFileNameA(helper, HelperPath, MAX_PATH) : 0;
    if (length == 0 || length >= MAX_PATH) std::strcpy(HelperPath, "none");
    for (char* at = HelperPath; *at != '\0'; ++at)
        if (static_cast<unsigned char>(*at) > 0x7E) *at = '?';
}
}   // namespace

extern "C" int __stdcall uio_out(int selector, int value, int latch) {
    if (StallMilliseconds) Sleep(StallMilliseconds);
    EnterCriticalSection(&ModelLock);
    if (!HelperPath[0]) LoadHelper();
    if (BoxAway()) {
        ++FailedCount;
        if (StatePath[0]) PublishState();
        LeaveCriticalSection(&ModelLock);
        return -1;
    }
    ++CallCount;
    ModelBoxCall(Model, selector, value, latch);
    LogCall(selector, value, latch);
    if (StatePath[0]) PublishState();
    LeaveCriticalSection(&ModelLock);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HangIfAsked(instance);
#ifdef VBAUSBIO_WITH_RUNTIME
        if (box_runtime_version() < 1) return FALSE;
#endif
        InitializeCriticalSection(&ModelLock);
        ModelReset(Model);
        OpenPublishing(instance);
        StartPowerWatch(instance);
    }
    return TRUE;
}
