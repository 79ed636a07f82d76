// The driver, PCI BIOS and time seams of the Linux program. The kernel driver
// device reaches the active backend; the 9x mapping device and the PCI BIOS
// do not exist here, as the program always runs in driver mode.
#include "linux/backend.h"

#include <errno.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include "hw/driver_setup.h"
#include "linux/run_log.h"
#include "platform/driver_io.h"
#include "platform/pci_bios.h"
#include "platform/timing.h"

const DriverBackend* ActiveBackend;
BackendKind RunBackend = BackendNone;
bool RegistersReachable;
bool RealWaits = true;
WaitTotals Waits;

namespace {

const DriverHandle KernelDeviceHandle = 0x4E52;
// One busy-loop iteration in nanoseconds (see PlatformBusyLoop).
const uint64_t BusyIterationNs = 1;

}  // namespace

uint64_t MonotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t CardClockNs()
{
    return ActiveBackend && ActiveBackend->clock ? ActiveBackend->clock() : MonotonicNs();
}

bool DeviceOpen(const char* path, DriverHandle* handle)
{
    *handle = 0;
    if (!ActiveBackend || !path || strcasecmp(path, KernelDevicePath) != 0)
        return false;
    if (ActiveBackend->open && !ActiveBackend->open())
        return false;
    *handle = KernelDeviceHandle;
    return true;
}

bool DeviceControl(DriverHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                   uint32_t outputLength, uint32_t* returned)
{
    if (handle != KernelDeviceHandle || !ActiveBackend) {
        if (returned)
            *returned = 0;
        return false;
    }
    LogDriverRequest(code);
    return ActiveBackend->control(code, input, inputLength, output, outputLength, returned);
}

void DeviceClose(DriverHandle)
{
}

bool PciBiosFindDevice(uint16_t, uint16_t, uint16_t, uint8_t*, uint8_t*)
{
    return false;
}

uint16_t PciBiosReadConfigWord(uint8_t, uint8_t, uint8_t)
{
    return 0xFFFF;
}

uint32_t PciBiosReadConfigDword(uint8_t, uint8_t, uint8_t)
{
    return 0xFFFFFFFFu;
}

void PlatformSleep(uint32_t milliseconds)
{
    uint64_t asked = static_cast<uint64_t>(milliseconds) * 1000000u;
    if (ActiveBackend && ActiveBackend->advance)
        ActiveBackend->advance(asked);
    ++Waits.sleeps;
    Waits.sleepAskedNs += asked;
    if (!RealWaits)
        return;
    uint64_t start = MonotonicNs();
    timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) == -1 && errno == EINTR) {
    }
    Waits.sleepNs += MonotonicNs() - start;
}

void PlatformBusyLoop(uint32_t iterations)
{
    // One iteration stands for a nanosecond, the pace of the machines these
    // loops were sized on; a faster processor must not shorten the flash
    // part's timings, so the loop runs on the clock, not on a count.
    if (ActiveBackend && ActiveBackend->advance)
        ActiveBackend->advance(iterations * BusyIterationNs);
    ++Waits.busyLoops;
    Waits.busyAskedNs += iterations * BusyIterationNs;
    if (!RealWaits)
        return;
    uint64_t start = MonotonicNs();
    uint64_t now = start;
    while (now - start < iterations * BusyIterationNs)
        now = MonotonicNs();
    Waits.busyNs += now - start;
}
