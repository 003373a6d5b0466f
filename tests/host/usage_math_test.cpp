#include <gtest/gtest.h>

#include <cstring>

#include "sampler/usage_math.h"

TEST(CounterToDouble, LowHalfBit31CountsAsValueNotSign) {
    EXPECT_EQ(CounterToDouble(0x80000000u, 0), 2147483648.0);
    EXPECT_EQ(CounterToDouble(0xFFFFFFFFu, 1), 8589934591.0);
    EXPECT_EQ(CounterToDouble(5, 0), 5.0);
    EXPECT_EQ(CounterToDouble(0, -1), -4294967296.0);
    // 2^53 + 1 is not a double: rounded to nearest even.
    EXPECT_EQ(CounterToDouble(1, 0x200000), 9007199254740992.0);
}

TEST(UsageFromDeltas, RoundsHalfToEven) {
    EXPECT_EQ(UsageFromDeltas(0.125, 1.0, 0), 88);
    EXPECT_EQ(UsageFromDeltas(0.375, 1.0, 0), 62);
    EXPECT_EQ(UsageFromDeltas(0.0, 40.0, 0), 100);
    EXPECT_EQ(UsageFromDeltas(40.0, 40.0, 0), 0);
}

TEST(UsageFromDeltas, NoTimeAccountedKeepsPreviousAndResultIsClamped) {
    EXPECT_EQ(UsageFromDeltas(0.0, 0.0, 37), 37);
    EXPECT_EQ(UsageFromDeltas(5.0, -10.0, 12), 12);
    EXPECT_EQ(UsageFromDeltas(30.0, 10.0, 50), 0);   // more idle than total
    EXPECT_EQ(UsageFromDeltas(-30.0, 10.0, 50), 100);
}

namespace {
SamplerState WithProcessors(int count) {
    SamplerState state;
    std::memset(&state, 0, sizeof state);
    state.ProcessorCount = count;
    return state;
}
}   // namespace

TEST(Sampling, TwoProcessorsWeightedByTheirOwnTotals) {
    SamplerState state = WithProcessors(2);
    ProcessorTimes base[2] = {{100, 1000}, {200, 2000}};
    PrimeFromTimes(state, base);
    EXPECT_EQ(state.LastTotalTime[0], 3000.0);
    ProcessorTimes next[2] = {{100, 1030}, {210, 2010}};
    SampleFromTimes(state, next);
    EXPECT_EQ(state.ProcessorUsage[1], 100);
    EXPECT_EQ(state.ProcessorUsage[2], 0);
    EXPECT_EQ(state.ProcessorUsage[0], 75);
    ProcessorTimes equal[2] = {{100, 1050}, {230, 2030}};
    SampleFromTimes(state, equal);
    EXPECT_EQ(state.ProcessorUsage[0], 50);
}

TEST(Sampling, OneProcessorSlot0FollowsSlot1AndFirstSampleAfterPrimeKeepsZero) {
    SamplerState state = WithProcessors(1);
    ProcessorTimes t[1] = {{10, 100}};
    PrimeFromTimes(state, t);
    SampleFromTimes(state, t);   // no time passed since priming
    EXPECT_EQ(state.ProcessorUsage[0], 0);
    for (int i = 1; i <= 20; ++i) {
        ProcessorTimes n[1] = {{10.0 + 3 * i, 100.0 + 7 * i}};
        SampleFromTimes(state, n);
        EXPECT_EQ(state.ProcessorUsage[0], state.ProcessorUsage[1]);
    }
    for (int slot = 2; slot < ProcessorSlots; ++slot) EXPECT_EQ(state.ProcessorUsage[slot], 0);
}

TEST(Sampling, AllSixtyFourProcessorsCountInTheWholeMachine) {
    SamplerState state = WithProcessors(MaxProcessors);
    ProcessorTimes base[MaxProcessors] = {};
    PrimeFromTimes(state, base);
    ProcessorTimes next[MaxProcessors];
    for (int i = 0; i < MaxProcessors; ++i) next[i] = {i < 32 ? 0.0 : 100.0, 100.0};
    SampleFromTimes(state, next);
    EXPECT_EQ(state.ProcessorUsage[0], 50);
    EXPECT_EQ(state.ProcessorUsage[1], 100);
    EXPECT_EQ(state.ProcessorUsage[MaxProcessors], 0);
}

TEST(Sampling, ZeroProcessorsReadsNoEntries) {
    SamplerState state = WithProcessors(0);
    PrimeFromTimes(state, nullptr);
    SampleFromTimes(state, nullptr);
    EXPECT_EQ(state.ProcessorUsage[0], 0);
}

// The records as 32-bit and 64-bit Windows fill them, written out as numbers:
// SYSTEM_BASIC_INFORMATION's processor count at 40 of 44 bytes or 56 of 64,
// 48-byte processor entries with idle, kernel and user time at 0, 8 and 16.
constexpr RecordLayout Windows32Layout = {44, 40, 48, 0, 8, 16};
constexpr RecordLayout Windows64Layout = {64, 56, 48, 0, 8, 16};

TEST(Sampling, ProcessorCountFromTheSignedByte) {
    for (const RecordLayout& layout : {Windows32Layout, Windows64Layout}) {
        uint8_t record[64];
        std::memset(record, 0x7F, sizeof record);   // every other byte a large count
        record[layout.numberOfProcessorsOffset] = 4;
        EXPECT_EQ(ProcessorCountFromBasicInformation(record, layout), 4);
        record[layout.numberOfProcessorsOffset] = 0x80;   // -128 as a CCHAR
        EXPECT_EQ(ProcessorCountFromBasicInformation(record, layout), 0);
        record[layout.numberOfProcessorsOffset] = 0;
        EXPECT_EQ(ProcessorCountFromBasicInformation(record, layout), 0);
        record[layout.numberOfProcessorsOffset] = 127;
        EXPECT_EQ(ProcessorCountFromBasicInformation(record, layout), MaxProcessors);
    }
}

TEST(Sampling, EntryCountersAtTheirOffsets) {
    uint8_t buffer[2 * 48] = {};
    const uint32_t idleLow = 0x80000000u, kernelLow = 10, userLow = 5;
    const int32_t one = 1;
    std::memcpy(buffer + 48 + 0, &idleLow, 4);
    std::memcpy(buffer + 48 + 4, &one, 4);
    std::memcpy(buffer + 48 + 8, &kernelLow, 4);
    std::memcpy(buffer + 48 + 16, &userLow, 4);
    buffer[48 + 24] = 0xFF;   // the reserved counters after them are not time
    for (const RecordLayout& layout : {Windows32Layout, Windows64Layout}) {
        ProcessorTimes times = ProcessorTimesFromEntry(buffer, 1, layout);
        EXPECT_EQ(times.idle, 4294967296.0 + 2147483648.0);
        EXPECT_EQ(times.total, 15.0);
    }
}

TEST(Megabytes, RoundedDown) {
    EXPECT_EQ(WholeMegabytes(1048575), 0u);
    EXPECT_EQ(WholeMegabytes(1048576), 1u);
    EXPECT_EQ(WholeMegabytes(3ull << 30), 3072u);
    EXPECT_EQ(WholeMegabytes(40ull << 30), 40960u);   // beyond the old 32-bit figures
}

// Committed memory is the commit limit less what is left of it, never the
// physical memory in use: on a machine with a page file the two differ by
// gigabytes (here 6 GiB committed, 3.5 GiB of RAM in use), and on one whose
// programs reserved more than they touched the commit is the larger.
TEST(MemoryFigures, CommitChargeNotPhysicalMemoryInUse) {
    constexpr uint64_t GiB = 1ull << 30;
    const MemoryFigures withPageFile = MemoryFiguresFrom({24 * GiB, 18 * GiB, 16 * GiB, 12 * GiB + GiB / 2, 21});
    EXPECT_EQ(withPageFile.committedMegabytes, 6144u);
    EXPECT_EQ(withPageFile.memoryLoad, 21u);
    const MemoryFigures swapless = MemoryFiguresFrom({8 * GiB, 8 * GiB - 1048575, 8 * GiB, 2 * GiB, 75});
    EXPECT_EQ(swapless.committedMegabytes, 0u);   // 1 byte short of a megabyte
    EXPECT_EQ(swapless.memoryLoad, 75u);
    // A page file figure Windows never gives (more left than the limit) is
    // nothing committed; a load past 100 is held at 100.
    const MemoryFigures odd = MemoryFiguresFrom({GiB, 2 * GiB, GiB, GiB, 101});
    EXPECT_EQ(odd.committedMegabytes, 0u);
    EXPECT_EQ(odd.memoryLoad, 100u);
}
