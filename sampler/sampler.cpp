#include "sampler.h"

#include <windows.h>
#include <winternl.h>

#include <cstring>

SamplerState Sampler;

namespace {
constexpr ULONG SystemBasicInformationClass = 0;
constexpr ULONG SystemProcessorPerformanceInformationClass = 8;

// One entry per processor, back to back. A failed query leaves zeros, so
// that pass reads every counter as 0.
void QueryProcessorTimes(ProcessorTimes* times) {
    static uint8_t buffer[MaxProcessors * ProcessorEntrySize];
    std::memset(buffer, 0, sizeof buffer);
    NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(SystemProcessorPerformanceInformationClass),
                             buffer, sizeof buffer, nullptr);
    for (int i = 0; i < Sampler.ProcessorCount; ++i) times[i] = ProcessorTimesFromEntry(buffer, i);
}
}  // namespace

int32_t CountProcessors() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return 0;
    if (GetProcAddress(ntdll, "NtQuerySystemInformation") == nullptr) return 0;
    uint8_t record[2048];
    std::memset(record, 0, sizeof record);
    NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(SystemBasicInformationClass),
                                               record, BasicInformationSize, nullptr);
    if (status != 0) return 0;
    return ProcessorCountFromBasicInformation(record);
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
// so the 64-bit form is read: committed = page file total - page file free.
MemoryFigures ReadMemoryFigures() {
    MEMORYSTATUSEX status;
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    MemoryFigures figures;
    const uint64_t committed = status.ullTotalPageFile >= status.ullAvailPageFile
                                   ? status.ullTotalPageFile - status.ullAvailPageFile : 0;
    const uint64_t megabytes = WholeMegabytes(committed);
    figures.committedMegabytes = megabytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(megabytes);
    figures.memoryLoad = status.dwMemoryLoad;
    return figures;
}
