// Processor usage and memory figures of this machine, measured on the monitor
// worker thread.
#pragma once
#include <cstdint>

#include "usage_math.h"

extern SamplerState Sampler;

int32_t CountProcessors();
void PrimeProcessorTimes();
void SampleProcessorTimes();
MemoryFigures ReadMemoryFigures();
