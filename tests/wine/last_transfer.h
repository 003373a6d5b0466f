// The last call in the stand-in box library's transfer log, read from the
// log's tail while the service may still be appending to it.
#pragma once
#include <cstdio>
#include <cstring>

struct LoggedCall {
    unsigned long long ms;   // GetTickCount64 when the call was made
    int selector, value, latch;
};

inline bool ParseLoggedCall(const char* line, LoggedCall& call) {
    unsigned long pid = 0;
    return std::sscanf(line, "%llu %lu %d %d %d", &call.ms, &pid, &call.selector, &call.value, &call.latch) == 5;
}

// The log's last whole line ("ms pid selector value latch"), and with
// `before` the line before it; false when the log is missing, empty or those
// lines are not such calls.
inline bool LastLoggedCall(const char* log, LoggedCall& call, LoggedCall* before = nullptr) {
    char tail[256] = "";
    FILE* file = std::fopen(log, "rb");
    if (file == nullptr) return false;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, size > 200 ? size - 200 : 0, SEEK_SET);
    const size_t got = std::fread(tail, 1, sizeof tail - 1, file);
    std::fclose(file);
    tail[got] = '\0';
    if (got < 2) return false;
    tail[got - 1] = '\0';   // the last line's own newline
    char* line = std::strrchr(tail, '\n');
    if (!ParseLoggedCall(line ? line + 1 : tail, call)) return false;
    if (before == nullptr) return true;
    if (line == nullptr) return false;
    *line = '\0';
    const char* previous = std::strrchr(tail, '\n');
    return previous != nullptr && ParseLoggedCall(previous + 1, *before);
}
