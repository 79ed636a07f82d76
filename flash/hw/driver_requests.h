// The requests QZFlash sends to its drivers, byte for byte. Both targets are
// little-endian x86, so the structures are the wire format.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Kernel driver, device "\\.\Norvik" (device type 0x9C40, buffered method).
enum : uint32_t {
    IOCTL_PCI_CONFIG = 0x9C40644C,   // function 0x913, read access
    IOCTL_MEM_READ = 0x9C406454,     // function 0x915, read access
    IOCTL_MEM_WRITE = 0x9C40A458,    // function 0x916, write access
};

// Virtual device driver "\\.\QZF.VXD": map a physical window into the caller.
enum : uint32_t { VXD_MAP_WINDOW = 3 };

enum : uint32_t { PciConfigOutputSize = 400 };

struct MemAccessRequest {
    uint32_t Bus;           // BusNumber of the card, zero-extended
    uint32_t AddressLow;    // WindowBase + offset
    uint32_t AddressHigh;   // always 0
    uint32_t Value;         // value to write; not filled in for a read
    uint32_t Size;          // 1 or 4
};

struct PciConfigRequest {
    uint16_t Bus;
    uint16_t Slot;          // slot index 0..63
};

struct MapWindowRequest {
    uint32_t PhysicalBase;  // BAR0 & 0xFF000000; the answer is a 4-byte linear address
};

static_assert(sizeof(MemAccessRequest) == 20, "MemAccessRequest is 20 bytes on the wire");
static_assert(offsetof(MemAccessRequest, Bus) == 0, "bus at 0");
static_assert(offsetof(MemAccessRequest, AddressLow) == 4, "address low at 4");
static_assert(offsetof(MemAccessRequest, AddressHigh) == 8, "address high at 8");
static_assert(offsetof(MemAccessRequest, Value) == 12, "value at 12");
static_assert(offsetof(MemAccessRequest, Size) == 16, "size at 16");
static_assert(sizeof(PciConfigRequest) == 4, "PciConfigRequest is 4 bytes");
static_assert(offsetof(PciConfigRequest, Slot) == 2, "slot at 2");
static_assert(sizeof(MapWindowRequest) == 4, "MapWindowRequest is 4 bytes");
