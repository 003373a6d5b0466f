// Processor-usage and memory arithmetic on plain values, so it can be checked
// without Windows. All processor arithmetic is IEEE double precision.
#pragma once
#include <cstdint>

// Room for every processor of one processor group (64 on 64-bit Windows; a
// 32-bit process sees at most 32). Slot 0 of each table is the whole machine.
constexpr int MaxProcessors = 64;
constexpr int ProcessorSlots = MaxProcessors + 1;

// Size of one SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION entry and the offsets
// of the counters used from it.
constexpr int ProcessorEntrySize = 48;
constexpr int IdleTimeOffset = 0;
constexpr int KernelTimeOffset = 8;
constexpr int UserTimeOffset = 16;
// SYSTEM_BASIC_INFORMATION is 44 bytes; NumberOfProcessors is a CCHAR at 40.
constexpr int BasicInformationSize = 44;
constexpr int NumberOfProcessorsOffset = 40;

struct SamplerState {
    int32_t ProcessorCount;
    int32_t ProcessorUsage[ProcessorSlots];
    double LastIdleTime[ProcessorSlots];
    double LastTotalTime[ProcessorSlots];
};

struct ProcessorTimes {
    double idle;
    double total;   // kernel time (which includes idle) + user time
};

// high * 2^32 + low, high signed and low unsigned, correctly rounded.
double CounterToDouble(uint32_t low, int32_t high);

// Busy percentage of an interval, rounded half to even and limited to 0..100.
// An interval with no processor time accounted (or a counter that went
// backwards) has no usage of its own: the slot keeps its previous figure.
int32_t UsageFromDeltas(double deltaIdle, double deltaTotal, int32_t previousUsage);

// The processor count from a SYSTEM_BASIC_INFORMATION record: the signed byte
// widened; 0 or negative means none, and more than the tables hold is capped.
int32_t ProcessorCountFromBasicInformation(const uint8_t* record);

// Counters of processor index (0-based) from the query buffer.
ProcessorTimes ProcessorTimesFromEntry(const uint8_t* buffer, int index);

void PrimeFromTimes(SamplerState& state, const ProcessorTimes* times);
void SampleFromTimes(SamplerState& state, const ProcessorTimes* times);

// Whole megabytes (1024 * 1024 bytes), rounded down.
uint64_t WholeMegabytes(uint64_t bytes);
