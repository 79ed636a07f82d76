// Real waits: the flash engine counts loop iterations, never the clock.
#include <windows.h>

#include "platform/timing.h"

void PlatformSleep(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

void PlatformBusyLoop(uint32_t iterations)
{
    // volatile: the compiler may neither drop nor shorten the loop.
    for (volatile uint32_t i = 0; i < iterations; i = i + 1) {
    }
}
