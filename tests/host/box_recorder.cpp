#include "box_recorder.h"

#include "lcd/lcd_driver.h"
#include "lcd/usb_io.h"

std::vector<BoxCall> RecordedCalls;
Hd44780 RecordedDisplay;

namespace {
int RecordCall(int selector, int value, int latch) {
    RecordedCalls.push_back({selector, value, latch});
    ModelBoxCall(RecordedDisplay, selector, value, latch);
    return 0;
}
}   // namespace

void ResetBox() {
    UioOut = RecordCall;
    RecordedCalls.clear();
    ModelReset(RecordedDisplay);
    LastControl = 0;
}

int CountByteWrites() {
    int count = 0;
    for (const BoxCall& call : RecordedCalls) count += call.selector == 3 ? 1 : 0;
    return count;
}
