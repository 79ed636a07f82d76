// Seam to time. The product sleeps and spins for real; under the virtual card
// both also advance the card's clock, and tests replace real waiting with
// virtual time only.
#pragma once
#include <stdint.h>

void PlatformSleep(uint32_t milliseconds);

// An empty busy loop of the given number of iterations (no clock is read).
void PlatformBusyLoop(uint32_t iterations);
