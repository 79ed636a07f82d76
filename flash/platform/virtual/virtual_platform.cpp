// Driver, PCI BIOS and time seams answered by an attached virtual machine.
// The driver path is the hot path of every flash run (one request per ROM
// byte), so DeviceControl on the kernel driver handle goes straight to the
// machine.
//
// Direct mode: the map request of "\\.\QZF.VXD" answers host memory that
// stands for the card's register window, filled once with what the window
// shows at first (ROM switch, straps, ROM contents) and plain memory after
// that. Its linear address must fit the 32-bit WindowBase: it is mapped
// below 2 GiB (MAP_32BIT natively, low addresses asked for on Windows).
#include "platform/virtual/virtual_platform.h"

#include <string.h>

#include "hw/driver_requests.h"
#include "platform/driver_io.h"
#include "platform/pci_bios.h"
#include "platform/timing.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <sys/mman.h>
#include <time.h>
#endif

VcMachine* VirtualMachine;
bool VirtualRealTime;

namespace {

// Handle values of the two devices; any value but 0 would do.
const DriverHandle NorvikHandle = 0x4E52;
const DriverHandle VxdHandle = 0x5658;

// One mapping per card index, reused by later machines.
uintptr_t WindowMaps[VcMaxCards];

bool SamePath(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
        char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

void ReleaseWindow(uintptr_t window)
{
#ifdef _WIN32
    VirtualFree(reinterpret_cast<void*>(window), 0, MEM_RELEASE);
#else
    munmap(reinterpret_cast<void*>(window), VcWindowSize);
#endif
}

// Fresh zeroed memory for one window; 0 when none can be had.
uintptr_t NewWindow()
{
#ifdef _WIN32
    // A 64-bit process (tests under 64-bit Wine) must ask for low addresses.
    for (uintptr_t at = 0x10000000; at < 0x80000000u; at += VcWindowSize) {
        void* p = VirtualAlloc(reinterpret_cast<void*>(at), VcWindowSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (p)
            return reinterpret_cast<uintptr_t>(p);
    }
    return 0;
#else
    void* p = mmap(0, VcWindowSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p == MAP_FAILED)
        return 0;
    return reinterpret_cast<uintptr_t>(p);
#endif
}

// Gives the card host memory for its window unless it has some already.
void ProvideWindow(const void* input, uint32_t inputLength)
{
    if (!input || inputLength != sizeof(MapWindowRequest))
        return;
    uint32_t base;
    memcpy(&base, input, sizeof base);
    VcCard* card = VcFindCard(VirtualMachine, base);
    if (!card || card->directWindow != 0)
        return;
    size_t index = static_cast<size_t>(card - VirtualMachine->cards);
    // A new machine starts from fresh memory: the old one's writes are gone.
    if (WindowMaps[index] != 0)
        ReleaseWindow(WindowMaps[index]);
    WindowMaps[index] = NewWindow();
    if (WindowMaps[index] == 0)
        return;
    VcFillDirectWindow(card, reinterpret_cast<uint8_t*>(WindowMaps[index]), VcWindowSize);
    card->directWindow = WindowMaps[index];
}

}  // namespace

void VirtualPlatformAttach(VcMachine* machine)
{
    VirtualMachine = machine;
}

bool DeviceOpen(const char* path, DriverHandle* handle)
{
    *handle = 0;
    if (!VirtualMachine || !path)
        return false;
    if (SamePath(path, "\\\\.\\Norvik")) {
        if (VirtualMachine->deviceOpenFails)
            return false;
        VirtualMachine->deviceOpens++;
        *handle = NorvikHandle;
        return true;
    }
    if (SamePath(path, "\\\\.\\QZF.VXD")) {
        if (VirtualMachine->vxdOpenFails)
            return false;
        VirtualMachine->vxdOpens++;
        *handle = VxdHandle;
        return true;
    }
    return false;
}

bool DeviceControl(DriverHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                   uint32_t outputLength, uint32_t* returned)
{
    if (handle == NorvikHandle && VirtualMachine)
        return VcDeviceControl(VirtualMachine, code, input, inputLength, output, outputLength, returned);
    if (handle == VxdHandle && VirtualMachine && code == VXD_MAP_WINDOW) {
        ProvideWindow(input, inputLength);
        return VcVxdMap(VirtualMachine, input, inputLength, output, outputLength, returned);
    }
    if (returned)
        *returned = 0;
    return false;
}

void DeviceClose(DriverHandle handle)
{
    if (!VirtualMachine)
        return;
    if (handle == NorvikHandle)
        VirtualMachine->deviceCloses++;
    else if (handle == VxdHandle)
        VirtualMachine->vxdCloses++;
}

bool PciBiosFindDevice(uint16_t deviceId, uint16_t vendorId, uint16_t index, uint8_t* bus, uint8_t* devFn)
{
    return VirtualMachine && VcPciBiosFind(VirtualMachine, deviceId, vendorId, index, bus, devFn);
}

uint16_t PciBiosReadConfigWord(uint8_t bus, uint8_t devFn, uint8_t offset)
{
    if (!VirtualMachine)
        return 0xFFFF;
    return static_cast<uint16_t>(VcPciBiosRead(VirtualMachine, bus, devFn, offset, 2));
}

uint32_t PciBiosReadConfigDword(uint8_t bus, uint8_t devFn, uint8_t offset)
{
    if (!VirtualMachine)
        return 0xFFFFFFFFu;
    return VcPciBiosRead(VirtualMachine, bus, devFn, offset, 4);
}

void PlatformSleep(uint32_t milliseconds)
{
    if (VirtualMachine)
        VcAdvance(VirtualMachine, static_cast<VcTime>(milliseconds) * 1000000u);
    if (!VirtualRealTime)
        return;
#ifdef _WIN32
    Sleep(milliseconds);
#else
    timespec wait;
    wait.tv_sec = milliseconds / 1000;
    wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) == -1 && errno == EINTR) {
    }
#endif
}

void PlatformBusyLoop(uint32_t iterations)
{
    if (VirtualMachine)
        VcAdvance(VirtualMachine, static_cast<VcTime>(iterations) * VcBusyIterationNs);
    if (!VirtualRealTime)
        return;
    for (volatile uint32_t i = 0; i < iterations; i = i + 1) {
    }
}
