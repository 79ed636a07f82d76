// PCI configuration space for the direct access mode, through configuration
// mechanism #1 (address port 0xCF8, data port 0xCFC).
//
// A program may touch those ports only on Windows 9x, which lets ring-3
// code reach them. On the NT family the instructions fault, and under Wine
// they would end the process, so there (and in a 64-bit build, which never
// runs on 9x) every call fails cleanly: no device is found and reads answer
// all ones, as for an absent device.
#include <windows.h>

#include "platform/pci_bios.h"

namespace {

enum : uint16_t { ConfigAddressPort = 0xCF8, ConfigDataPort = 0xCFC };
enum : uint32_t { ConfigEnable = 0x80000000u, NoDevice = 0xFFFFFFFFu };
enum { BusCount = 256, DeviceCount = 32, FunctionCount = 8 };

// -1 until the platform has been looked at, then 0 or 1.
int PortAccess = -1;

bool RunsUnderWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool PortsAvailable()
{
#if defined(__i386__)
    if (PortAccess < 0) {
        OSVERSIONINFOA version;
        ZeroMemory(&version, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        bool nineX = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
        PortAccess = nineX && !RunsUnderWine() ? 1 : 0;
    }
    return PortAccess == 1;
#else
    (void)RunsUnderWine;
    PortAccess = 0;
    return false;
#endif
}

uint32_t ReadConfig32(uint8_t bus, uint8_t devFn, uint8_t offset)
{
#if defined(__i386__)
    uint32_t address = ConfigEnable | static_cast<uint32_t>(bus) << 16 | static_cast<uint32_t>(devFn) << 8 |
                       (offset & 0xFCu);
    uint32_t value;
    __asm__ __volatile__("outl %0, %w1" : : "a"(address), "Nd"(ConfigAddressPort));
    __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(ConfigDataPort));
    return value;
#else
    (void)bus;
    (void)devFn;
    (void)offset;
    return NoDevice;
#endif
}

}  // namespace

bool PciBiosFindDevice(uint16_t deviceId, uint16_t vendorId, uint16_t index, uint8_t* bus, uint8_t* devFn)
{
    if (!PortsAvailable())
        return false;
    const uint32_t wanted = static_cast<uint32_t>(deviceId) << 16 | vendorId;
    uint32_t seen = 0;
    for (int b = 0; b < BusCount; ++b) {
        for (int device = 0; device < DeviceCount; ++device) {
            int functions = 1;
            for (int function = 0; function < functions; ++function) {
                uint8_t df = static_cast<uint8_t>(device << 3 | function);
                uint32_t ids = ReadConfig32(static_cast<uint8_t>(b), df, 0x00);
                if ((ids & 0xFFFF) == 0xFFFF)
                    continue;
                // Bit 7 of the header type marks a device with more functions.
                if (function == 0 && (ReadConfig32(static_cast<uint8_t>(b), df, 0x0C) & 0x00800000u))
                    functions = FunctionCount;
                if (ids != wanted || seen++ != index)
                    continue;
                *bus = static_cast<uint8_t>(b);
                *devFn = df;
                return true;
            }
        }
    }
    return false;
}

uint16_t PciBiosReadConfigWord(uint8_t bus, uint8_t devFn, uint8_t offset)
{
    if (!PortsAvailable())
        return 0xFFFF;
    return static_cast<uint16_t>(ReadConfig32(bus, devFn, offset) >> (8 * (offset & 2)));
}

uint32_t PciBiosReadConfigDword(uint8_t bus, uint8_t devFn, uint8_t offset)
{
    if (!PortsAvailable())
        return NoDevice;
    return ReadConfig32(bus, devFn, offset);
}
