// Processor-usage and memory arithmetic on plain values, so it can be checked
// without Windows. All processor arithmetic is IEEE double precision.
#pragma once
#include <cstdint>

// Room for every processor of one processor group (64 on 64-bit Windows; a
// 32-bit process sees at most 32). Slot 0 of each table is the whole machine.
constexpr int MaxProcessors = 64;
constexpr int ProcessorSlots = MaxProcessors + 1;

// Where the counters used lie in the two records NtQuerySystemInformation
// fills: SYSTEM_BASIC_INFORMATION (NumberOfProcessors, a CCHAR after three
// pointer-sized fields, so the record differs between 32-bit and 64-bit
// Windows) and the array of SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION entries
// (idle, kernel and user time as LARGE_INTEGERs). The sampler fills this from
// the target's own record definitions.
struct RecordLayout {
    int basicInformationSize;
    int numberOfProcessorsOffset;
    int processorEntrySize;
    int idleTimeOffset;
    int kernelTimeOffset;
    int userTimeOffset;
};

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
int32_t ProcessorCountFromBasicInformation(const uint8_t* record, const RecordLayout& layout);

// Counters of processor index (0-based) from the query buffer.
ProcessorTimes ProcessorTimesFromEntry(const uint8_t* buffer, int index, const RecordLayout& layout);

void PrimeFromTimes(SamplerState& state, const ProcessorTimes* times);
void SampleFromTimes(SamplerState& state, const ProcessorTimes* times);

// Whole megabytes (1024 * 1024 bytes), rounded down.
uint64_t WholeMegabytes(uint64_t bytes);

// The fields of MEMORYSTATUSEX that the screen's figures come from, in bytes
// and percent.
struct MemoryStatus {
    uint64_t totalPageFile, availPageFile;   // the commit limit and what is left of it
    uint64_t totalPhys, availPhys;
    uint32_t memoryLoad;
};

struct MemoryFigures {
    uint32_t committedMegabytes;   // committed memory, whole megabytes
    uint32_t memoryLoad;           // percent of physical memory in use, held within 0..100
};

// Committed memory is the commit limit less what is left of it: the commit
// charge that Task Manager shows, all the memory that programs were promised,
// backed by RAM or the page file. It is not the physical memory in use, which
// on a machine with a page file is less, often by gigabytes. The load is
// Windows' own figure.
MemoryFigures MemoryFiguresFrom(const MemoryStatus& status);
