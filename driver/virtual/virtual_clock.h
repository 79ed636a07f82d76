// The clock of the virtual machine inside the driver.
//
// The model costs every request VcRequestCostNs, as on the machines the
// cards were made for. Real time between two requests counts as well, so
// that the program's Sleep calls let erase cycles finish; but a gap shorter
// than VcLongGapNs counts at most VcShortGapCapNs. Under Wine each request
// crosses three processes and takes up to a millisecond or more, and on a
// busy machine the scheduler adds stalls of tens or hundreds of
// milliseconds, where a bus access on real hardware takes about a
// microsecond: counted whole, those gaps would let the byte-load window of a
// page-write part (150 to 200 us) close between two loads the program sends
// back to back. The cap keeps every short wait of the program (busy loops,
// polling pauses) at least as long as the parts need; the waits the parts'
// erase cycles rely on (Sleep of a second) count whole.
#pragma once
#include <stdint.h>

enum : uint64_t {
    VcShortGapCapNs = 50000,      // 50 us
    VcLongGapNs = 500000000,      // 500 ms
};

struct VcClock {
    bool started;
    uint64_t lastRealNs;
};

// Virtual nanoseconds to add for the real time `realNs` (any monotonic
// origin) of a new request; the first request adds nothing.
uint64_t VcClockGap(VcClock* clock, uint64_t realNs);
