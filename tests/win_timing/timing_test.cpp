// The busy loop's floor: never shorter than its count in nanoseconds on the
// performance counter, whatever the counter's rate; the plain loop alone
// where there is no counter.
#include <gtest/gtest.h>
#include <stdint.h>

#include "platform/win32/timing_win32.h"

namespace {

int64_t FakeNow;
int64_t FakeStep;
uint32_t FakeReads;
uint32_t FakeFailAfter;  // reads that succeed; 0 = all

bool FakeCounter(int64_t* ticks)
{
    if (FakeFailAfter != 0 && FakeReads >= FakeFailAfter)
        return false;
    ++FakeReads;
    FakeNow += FakeStep;
    *ticks = FakeNow;
    return true;
}

struct Floor {
    int64_t frequency;
    int64_t step;  // ticks that pass between two reads
    uint32_t iterations;
    uint64_t ticks;  // the floor, in counter ticks
};

const Floor Floors[] = {
    {1000000000, 1, 1000, 1000},                         // a nanosecond counter
    {3579545, 1, 20000, 72},                             // the ACPI timer: 71.6 ticks, rounded up
    {3579545, 50, 20000, 72},                            // a slow reader overshoots a little
    {10000000, 7, 7, 1},                                 // a serial pause: one tick at least
    {3000000000, 1000000000, 4000000000u, 12000000000},  // no overflow near the limits
};

class BusyLoopFloor : public ::testing::TestWithParam<Floor> {
protected:
    void SetUp() override
    {
        FakeNow = 1000;
        FakeReads = 0;
        FakeFailAfter = 0;
        FakeStep = GetParam().step;
    }
};

TEST_P(BusyLoopFloor, EndsOnlyOnceTheTimeHasPassed)
{
    const Floor& f = GetParam();
    EXPECT_EQ(f.ticks, CounterTicksFor(f.iterations, f.frequency));
    BusyLoopAtLeast(f.iterations, FakeCounter, f.frequency);
    const uint64_t waited = static_cast<uint64_t>(FakeNow - 1000 - f.step);  // from the first read
    EXPECT_GE(waited, f.ticks);
    EXPECT_LT(waited, f.ticks + static_cast<uint64_t>(f.step));  // and stops there
}

INSTANTIATE_TEST_SUITE_P(Counters, BusyLoopFloor, ::testing::ValuesIn(Floors));

TEST(BusyLoopWithoutCounter, RunsThePlainLoopOnly)
{
    FakeNow = 0;
    FakeStep = 1;
    FakeReads = 0;
    FakeFailAfter = 0;
    BusyLoopAtLeast(20000, FakeCounter, 0);  // no frequency: never read
    EXPECT_EQ(0u, FakeReads);

    // A counter that stops answering ends the wait instead of hanging it.
    FakeFailAfter = 3;
    BusyLoopAtLeast(20000, FakeCounter, 1000000000);
    EXPECT_EQ(3u, FakeReads);
}

}  // namespace
