// Ctrl-C, termination and hang-up, and what the user is told when a write
// ends before the part holds a whole image again.
#pragma once

// Installs the handlers, after the sysfs driver's (which put the card's
// registers back first). A stop while the part is erased or half-written
// says the card may not boot. With `deferDuringWrites` (the virtual card)
// such a stop waits for the next request or wait, so that the half-written
// part can be kept in its file as a real part would keep it.
void StopSignalsInstall(bool deferDuringWrites);

// Puts back what was installed before (the program runs again in-process
// in the benchmark).
void StopSignalsRemove();

// True when a deferred stop is waiting.
bool StopPending();

// Ends the program by the waiting signal, saying what it left.
[[noreturn]] void StopNow();

// On stderr: the command failed after the part was erased or written, and
// what to do next.
void TellPartMayNotBoot();
