// Processor usage and memory figures of this machine, measured on the monitor
// worker thread.
#pragma once
#include <cstdint>

#include "usage_math.h"

struct MemoryFigures {
    uint32_t committedMegabytes;   // committed memory, whole megabytes
    uint32_t memoryLoad;           // percent of physical memory in use, as Windows reports it
};

extern SamplerState Sampler;

int32_t CountProcessors();
void PrimeProcessorTimes();
void SampleProcessorTimes();
MemoryFigures ReadMemoryFigures();
