#include "driver/virtual/virtual_clock.h"

uint64_t VcClockGap(VcClock* clock, uint64_t realNs)
{
    if (!clock->started || realNs < clock->lastRealNs) {
        clock->started = true;
        clock->lastRealNs = realNs;
        return 0;
    }
    uint64_t gap = realNs - clock->lastRealNs;
    clock->lastRealNs = realNs;
    if (gap >= VcLongGapNs)
        return gap;
    return gap < VcShortGapCapNs ? gap : VcShortGapCapNs;
}
