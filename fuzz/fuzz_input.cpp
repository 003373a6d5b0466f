#include "fuzz_input.h"

#include <cstring>

bool InputLeft(const FuzzInput& input) { return input.size > 0; }

uint8_t TakeByte(FuzzInput& input) {
    if (input.size == 0) return 0;
    --input.size;
    return *input.data++;
}

uint16_t TakeUint16(FuzzInput& input) {
    const uint16_t low = TakeByte(input);
    return static_cast<uint16_t>(low | TakeByte(input) << 8);
}

uint32_t TakeUint32(FuzzInput& input) {
    const uint32_t low = TakeUint16(input);
    return low | static_cast<uint32_t>(TakeUint16(input)) << 16;
}

size_t TakeBytes(FuzzInput& input, uint8_t* bytes, size_t count) {
    if (count > input.size) count = input.size;
    if (count > 0) std::memcpy(bytes, input.data, count);
    input.data += count;
    input.size -= count;
    return count;
}
