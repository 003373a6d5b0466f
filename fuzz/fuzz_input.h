// The fuzzer's bytes, taken from the front as the figures of one run. When
// they run out every further figure is 0, so any input, even an empty one,
// is a complete run.
#pragma once
#include <cstddef>
#include <cstdint>

struct FuzzInput {
    const uint8_t* data;
    size_t size;
};

bool InputLeft(const FuzzInput& input);
uint8_t TakeByte(FuzzInput& input);
uint16_t TakeUint16(FuzzInput& input);
uint32_t TakeUint32(FuzzInput& input);
// Copies up to count bytes into bytes; returns how many there were.
size_t TakeBytes(FuzzInput& input, uint8_t* bytes, size_t count);
