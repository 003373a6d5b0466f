// The last call in the stand-in box library's transfer log, read from the
// log's tail while the service may still be appending to it.
#pragma once
#include <cstdio>
#include <cstring>

struct LoggedCall {
    unsigned long long ms;   // GetTickCount64 when the call was made
    int selector, value, latch;
};

// The log's last whole line ("ms pid selector value latch"); false when the
// log is missing, empty or its last line is not such a call.
inline bool LastLoggedCall(const char* log, LoggedCall& call) {
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
    const char* line = std::strrchr(tail, '\n');
    unsigned long pid = 0;
    return std::sscanf(line ? line + 1 : tail, "%llu %lu %d %d %d", &call.ms, &pid, &call.selector, &call.value,
                       &call.latch) == 5;
}
