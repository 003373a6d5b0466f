#include "usage_math.h"

#include <cmath>
#include <cstring>

double CounterToDouble(uint32_t low, int32_t high) {
    // (2 * high + b) * 2^31 + (low without bit 31): all exact but the last sum.
    const double b = (low & 0x80000000u) ? 1.0 : 0.0;
    const double upper = (2.0 * static_cast<double>(high) + b) * 2147483648.0;
    return upper + static_cast<double>(low & 0x7FFFFFFFu);
}

int32_t UsageFromDeltas(double deltaIdle, double deltaTotal, int32_t previousUsage) {
    if (!(deltaTotal > 0.0)) return previousUsage;
    const double ratio = deltaIdle / deltaTotal;
    const double idlePercent = ratio * 100.0;
    const double busyPercent = 100.0 - idlePercent;
    // nearbyint rounds in the current mode: to nearest, halves to even.
    const double rounded = std::nearbyint(busyPercent);
    if (!(rounded >= 0.0)) return 0;   // also catches NaN
    if (rounded > 100.0) return 100;
    return static_cast<int32_t>(rounded);
}

int32_t ProcessorCountFromBasicInformation(const uint8_t* record, const RecordLayout& layout) {
    const int32_t count = static_cast<int8_t>(record[layout.numberOfProcessorsOffset]);
    if (count <= 0) return 0;
    return count > MaxProcessors ? MaxProcessors : count;
}

static double CounterAt(const uint8_t* entry, int offset) {
    uint32_t low;
    int32_t high;
    std::memcpy(&low, entry + offset, 4);
    std::memcpy(&high, entry + offset + 4, 4);
    return CounterToDouble(low, high);
}

ProcessorTimes ProcessorTimesFromEntry(const uint8_t* buffer, int index, const RecordLayout& layout) {
    const uint8_t* entry = buffer + index * layout.processorEntrySize;
    ProcessorTimes times;
    times.idle = CounterAt(entry, layout.idleTimeOffset);
    times.total = CounterAt(entry, layout.kernelTimeOffset) + CounterAt(entry, layout.userTimeOffset);
    return times;
}

void PrimeFromTimes(SamplerState& state, const ProcessorTimes* times) {
    const int count = state.ProcessorCount;
    for (int slot = 0; slot <= count; ++slot) state.ProcessorUsage[slot] = 0;
    state.LastIdleTime[0] = 0.0;
    state.LastTotalTime[0] = 0.0;
    for (int i = 1; i <= count; ++i) {
        state.LastIdleTime[i] = times[i - 1].idle;
        state.LastTotalTime[i] = times[i - 1].total;
        state.LastIdleTime[0] += times[i - 1].idle;
        state.LastTotalTime[0] += times[i - 1].total;
    }
}

void SampleFromTimes(SamplerState& state, const ProcessorTimes* times) {
    const int count = state.ProcessorCount;
    double sumIdle = 0.0, sumTotal = 0.0;
    for (int i = 1; i <= count; ++i) {
        const double idle = times[i - 1].idle, total = times[i - 1].total;
        const double deltaIdle = idle - state.LastIdleTime[i];
        const double deltaTotal = total - state.LastTotalTime[i];
        sumIdle += idle;
        sumTotal += total;
        state.ProcessorUsage[i] = UsageFromDeltas(deltaIdle, deltaTotal, state.ProcessorUsage[i]);
        state.LastIdleTime[i] = idle;
        state.LastTotalTime[i] = total;
    }
    const double deltaIdle = sumIdle - state.LastIdleTime[0];
    const double deltaTotal = sumTotal - state.LastTotalTime[0];
    state.ProcessorUsage[0] = UsageFromDeltas(deltaIdle, deltaTotal, state.ProcessorUsage[0]);
    state.LastIdleTime[0] = sumIdle;
    state.LastTotalTime[0] = sumTotal;
}

uint64_t WholeMegabytes(uint64_t bytes) { return bytes / (1024u * 1024u); }

MemoryFigures MemoryFiguresFrom(const MemoryStatus& status) {
    const uint64_t committed = status.totalPageFile >= status.availPageFile
                                   ? status.totalPageFile - status.availPageFile
                                   : 0;
    const uint64_t megabytes = WholeMegabytes(committed);
    MemoryFigures figures;
    figures.committedMegabytes = megabytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(megabytes);
    figures.memoryLoad = status.memoryLoad > 100 ? 100 : status.memoryLoad;
    return figures;
}
