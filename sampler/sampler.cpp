#include "sampler.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>

SamplerState Sampler;

namespace {
constexpr ULONG SystemBasicInformationClass = 0;
constexpr ULONG SystemProcessorPerformanceInformationClass = 8;

// The records as this target's Windows headers define them: the basic record
// holds pointer-sized fields before the processor count, so it is 44 bytes
// with the count at 40 in a 32-bit program and 64 with it at 56 in a 64-bit one.
constexpr RecordLayout TargetLayout = {
    static_cast<int>(sizeof(SYSTEM_BASIC_INFORMATION)),
    static_cast<int>(offsetof(SYSTEM_BASIC_INFORMATION, NumberOfProcessors)),
    static_cast<int>(sizeof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION)),
    static_cast<int>(offsetof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION, IdleTime)),
    static_cast<int>(offsetof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION, KernelTime)),
    static_cast<int>(offsetof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION, UserTime)),
};
#if !defined(_WIN64)
static_assert(TargetLayout.basicInformationSize == 44 && TargetLayout.numberOfProcessorsOffset == 40,
              "32-bit Windows fills a 44-byte SYSTEM_BASIC_INFORMATION, processor count at 40");
#else
static_assert(TargetLayout.basicInformationSize == 64 && TargetLayout.numberOfProcessorsOffset == 56,
              "64-bit Windows fills a 64-byte SYSTEM_BASIC_INFORMATION, processor count at 56");
#endif
static_assert(TargetLayout.processorEntrySize == 48 && TargetLayout.idleTimeOffset == 0 &&
                  TargetLayout.kernelTimeOffset == 8 && TargetLayout.userTimeOffset == 16,
              "SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION entries are 48 bytes on both");

// One entry per processor, back to back. A failed query leaves zeros, so
// that pass reads every counter as 0.
void QueryProcessorTimes(ProcessorTimes* times) {
    static uint8_t buffer[MaxProcessors * sizeof(SYSTEM_PROCESSOR_PERFORMANCE_INFORMATION)];
    std::memset(buffer, 0, sizeof buffer);
    NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(SystemProcessorPerformanceInformationClass), buffer,
                             sizeof buffer, nullptr);
    for (int i = 0; i < Sampler.ProcessorCount; ++i) times[i] = ProcessorTimesFromEntry(buffer, i, TargetLayout);
}
}   // namespace

int32_t CountProcessors() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return 0;
    if (GetProcAddress(ntdll, "NtQuerySystemInformation") == nullptr) return 0;
    uint8_t record[sizeof(SYSTEM_BASIC_INFORMATION)];
    std::memset(record, 0, sizeof record);
    NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(SystemBasicInformationClass),
                                               record, TargetLayout.basicInformationSize, nullptr);
    if (status != 0) return 0;
    return ProcessorCountFromBasicInformation(record, TargetLayout);
}

void PrimeProcessorTimes() {
    ProcessorTimes times[MaxProcessors];
    QueryProcessorTimes(times);
    PrimeFromTimes(Sampler, times);
}

void SampleProcessorTimes() {
    ProcessorTimes times[MaxProcessors];
    QueryProcessorTimes(times);
    SampleFromTimes(Sampler, times);
}

// GlobalMemoryStatus caps its 32-bit fields on machines with more than 4 GB,
// so the 64-bit form is read.
MemoryFigures ReadMemoryFigures() {
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    return MemoryFiguresFrom(MemoryStatus{status.ullTotalPageFile, status.ullAvailPageFile, status.ullTotalPhys,
                                          status.ullAvailPhys, status.dwMemoryLoad});
}
