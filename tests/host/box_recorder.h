// Host stand-in for the box library: records every uio_out call and feeds it
// to an HD44780 model, so tests see both the bytes and the resulting display.
#pragma once
#include <vector>

#include "sim/hd44780.h"

struct BoxCall {
    int selector, value, latch;
    bool operator==(const BoxCall& other) const {
        return selector == other.selector && value == other.value && latch == other.latch;
    }
};

extern std::vector<BoxCall> RecordedCalls;
extern Hd44780 RecordedDisplay;

// Binds the driver to the recorder, clears the record, powers the model on
// and forgets the last control value.
void ResetBox();
int CountByteWrites();
