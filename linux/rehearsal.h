// update --rehearse: the update run first on the card's virtual twin, in
// virtual time, and its outcome and the real update's time foretold before
// the card is touched.
#pragma once
#include <stdint.h>

#include "core/status.h"

// What the last rehearsal found (the benchmark compares its prediction).
struct RehearsalResult {
    bool ran;      // the twin was built and started up as the card
    bool flashOk;  // the flow ended "Flash OK!! "
    char lastLine[StatusLineSize];
    uint32_t requestCostNs;  // one register access on the card
    bool costVirtual;        // ... measured in a virtual card's own time
    uint64_t totalNs;        // the update on the twin, in its time
    uint64_t sleepNs;        // of which Sleep calls
    uint64_t loopNs;         // delay loops
    uint64_t requests;       // register accesses (each costs requestCostNs)
    uint64_t partBusyNs;     // the part's own erase and program times (within the above)
    char why[512];           // when it did not run
};
extern RehearsalResult LastRehearsal;

// Rehearses "Update BIOS" with `path` (the image already handed over) on the
// started card's twin, in a process of its own, printing its transcript
// with every line marked and then the prediction. The card is only read:
// its twin, and a few hundred reads of its strap register that time one
// register access. ExitOk when the rehearsal ended "Flash OK!! ", ExitFailed
// otherwise (said why).
int RehearseUpdate(const char* path);
