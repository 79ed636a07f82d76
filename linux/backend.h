// What answers the driver requests of a run: the register windows of real
// cards through sysfs, or the virtual card. One table of functions chosen at
// start; the driver, PCI BIOS and time seams of the program dispatch to it.
#pragma once
#include <stdint.h>

struct DriverBackend {
    const char* name;
    // False when the driver device cannot be opened.
    bool (*open)();
    // One request of the kernel driver's contract.
    bool (*control)(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
                    uint32_t* returned);
    // Time passing outside requests (virtual card: its clock); may be 0.
    void (*advance)(uint64_t nanoseconds);
    // The card's own clock in nanoseconds where it has one (the virtual
    // card's); 0: the card lives in real time (MonotonicNs).
    uint64_t (*clock)();
};

// The backend of this run; 0 before one is chosen (every open then fails).
extern const DriverBackend* ActiveBackend;

enum BackendKind { BackendNone, BackendSysfs, BackendVirtual };
extern BackendKind RunBackend;
// The cards' registers answer: always on the virtual card, on real cards
// once their windows are mapped (root). Configuration space alone otherwise.
extern bool RegistersReachable;

// Waits take real time (always on real cards). Off, a virtual run lets them
// pass in the card's own time only.
extern bool RealWaits;

// Real time spent waiting, for the benchmark: Sleep calls and busy loops;
// and the waits asked for, whether waited in real time or let pass in the
// virtual card's (the rehearsal's prediction).
struct WaitTotals {
    uint64_t sleepNs;
    uint64_t busyNs;
    uint64_t sleeps;
    uint64_t busyLoops;
    uint64_t sleepAskedNs;
    uint64_t busyAskedNs;
};
extern WaitTotals Waits;

uint64_t MonotonicNs();

// The active backend's clock: the card's own, or MonotonicNs.
uint64_t CardClockNs();
