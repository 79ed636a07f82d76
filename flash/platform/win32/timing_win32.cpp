// Real waits. The flash engine counts loop iterations and sized its waits on
// one nanosecond per iteration; a faster processor must not shorten them,
// so the loop also runs on the performance counter (present on Windows 9x
// and NT alike) and ends only once that much time has passed.
#include <windows.h>

#include "platform/timing.h"
#include "platform/win32/timing_win32.h"

namespace {

const uint64_t NsPerSecond = 1000000000u;

bool ReadPerformanceCounter(int64_t* ticks)
{
    LARGE_INTEGER now;
    if (!QueryPerformanceCounter(&now))
        return false;
    *ticks = now.QuadPart;
    return true;
}

// Asked once: the frequency is fixed while the system runs. 0 where the
// hardware has no counter.
int64_t CounterFrequency()
{
    static int64_t frequency = -1;
    if (frequency < 0) {
        LARGE_INTEGER f;
        frequency = QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
    }
    return frequency;
}

}  // namespace

uint64_t CounterTicksFor(uint32_t iterations, int64_t frequency)
{
    // Split at whole seconds so that the product cannot overflow.
    const uint64_t f = static_cast<uint64_t>(frequency);
    const uint64_t seconds = iterations / NsPerSecond;
    const uint64_t rest = iterations % NsPerSecond;
    return seconds * f + (rest * f + NsPerSecond - 1) / NsPerSecond;
}

void BusyLoopAtLeast(uint32_t iterations, CounterRead read, int64_t frequency)
{
    int64_t start = 0;
    const bool timed = frequency > 0 && read(&start);
    // volatile: the compiler may neither drop nor shorten the loop.
    for (volatile uint32_t i = 0; i < iterations; i = i + 1) {
    }
    if (!timed)
        return;
    const uint64_t ticks = CounterTicksFor(iterations, frequency);
    int64_t now = start;
    while (static_cast<uint64_t>(now - start) < ticks) {
        if (!read(&now))
            return;
    }
}

void PlatformSleep(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

void PlatformBusyLoop(uint32_t iterations)
{
    BusyLoopAtLeast(iterations, ReadPerformanceCounter, CounterFrequency());
}
