// Monitor-cycle figures on the build machine, with the box library replaced
// by a counter: byte transfers per cycle (first drawing, steady state, a
// minute change) and the CPU time of planning and drawing one cycle.
//   build/host/bench/screen_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "lcd/lcd_driver.h"
#include "lcd/usb_io.h"
#include "service/screen.h"

static long ByteWrites = 0;
extern "C" int uio_out(int selector, int, int) {
    if (selector == 3) ++ByteWrites;
    return 0;
}

static long DrawCycle(ScreenState& state, const char* top, const char* memory, int cpu, int load) {
    ScreenOp ops[MaxScreenOps];
    const long before = ByteWrites;
    const int count = PlanScreenUpdate(state, top, memory, cpu, load, ops);
    for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
    return ByteWrites - before;
}

int main() {
    UioOut = uio_out;
    ScreenState state;
    ResetScreenState(state);
    const long first = DrawCycle(state, "12/07 10:00", " 512M", 23, 41);
    const long steady = DrawCycle(state, "12/07 10:00", " 512M", 23, 41);
    const long minute = DrawCycle(state, "12/07 10:01", " 512M", 23, 41);
    const long typical = DrawCycle(state, "12/07 10:01", " 513M", 30, 41);

    std::vector<double> nanoseconds;
    char top[TopTextLength + 1];
    char memory[MemoryTextLength + 1];
    for (int i = 0; i < 20000; ++i) {
        BuildTopText(12, 7, 10, i % 60 == 0 ? 2 : 1, top);
        BuildMemoryText(512 + (i % 7 == 0), memory);
        const auto start = std::chrono::steady_clock::now();
        DrawCycle(state, top, memory, 20 + i % 5, 41);
        nanoseconds.push_back(
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + nanoseconds.size() / 2, nanoseconds.end());
    std::printf("byte transfers: first drawing %ld, unchanged cycle %ld, minute change %ld, memory+cpu change %ld\n",
                first, steady, minute, typical);
    std::printf("host CPU per cycle (median of %zu, box faked): %.0f ns\n", nanoseconds.size(),
                nanoseconds[nanoseconds.size() / 2]);
    return steady == 0 ? 0 : 1;
}
