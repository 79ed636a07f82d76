// The busy loop of the Windows program on a counter that tests can replace.
#pragma once
#include <stdint.h>

// Reads a performance counter into *ticks; false when it cannot.
typedef bool (*CounterRead)(int64_t* ticks);

// Counter ticks in `iterations` nanoseconds at `frequency` ticks a second,
// rounded up.
uint64_t CounterTicksFor(uint32_t iterations, int64_t frequency);

// An empty loop of `iterations` that, where there is a counter (`frequency`
// above 0 and `read` succeeding), also goes on until `iterations`
// nanoseconds have passed on it.
void BusyLoopAtLeast(uint32_t iterations, CounterRead read, int64_t frequency);
