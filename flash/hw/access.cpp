// The six accessors of the current card's register window. One call is one
// hardware access: one driver request in driver mode, one volatile load or
// store in direct mode. Nothing is merged, repeated, cached or logged, since
// the flash command sequences depend on every cycle reaching the part once
// and in order, and a whole part is read or programmed byte by byte.
#include "hw/hw.h"
#include "hw/driver_requests.h"

uint16_t AccessMode;
DriverHandle DeviceHandle;

namespace {

uint32_t DriverRead(const CardRecord& card, uint32_t offset, uint32_t size)
{
    MemAccessRequest request;
    request.Bus = card.BusNumber;
    request.AddressLow = card.WindowBase + offset;
    request.AddressHigh = 0;
    request.Value = 0;
    request.Size = size;
    uint32_t result = 0;
    uint32_t returned = 0;
    if (!DeviceControl(DeviceHandle, IOCTL_MEM_READ, &request, sizeof request, &result, size, &returned))
        return 0;
    // A byte read fills only the low byte of the result word.
    return result;
}

bool DriverWrite(const CardRecord& card, uint32_t offset, uint32_t value, uint32_t size)
{
    MemAccessRequest request;
    request.Bus = card.BusNumber;
    request.AddressLow = card.WindowBase + offset;
    request.AddressHigh = 0;
    request.Value = value;
    request.Size = size;
    uint32_t scratch = 0;
    uint32_t returned = 0;
    return DeviceControl(DeviceHandle, IOCTL_MEM_WRITE, &request, sizeof request, &scratch, size, &returned);
}

inline uintptr_t DirectAddress(const CardRecord& card, uint32_t offset)
{
    return static_cast<uintptr_t>(static_cast<uint32_t>(card.WindowBase + offset));
}

}  // namespace

uint32_t ReadReg8(uint32_t offset)
{
    const CardRecord& card = CardTable[CurrentCard];
    if (card.WindowBase == 0)
        return 0;
    if (AccessMode == AccessDriver)
        return DriverRead(card, offset, 1) & 0xFF;
    return *reinterpret_cast<volatile uint8_t*>(DirectAddress(card, offset));
}

uint32_t ReadReg32(uint32_t offset)
{
    const CardRecord& card = CardTable[CurrentCard];
    if (card.WindowBase == 0)
        return 0;
    if (AccessMode == AccessDriver)
        return DriverRead(card, offset, 4);
    return *reinterpret_cast<volatile uint32_t*>(DirectAddress(card, offset));
}

uint32_t WriteReg8(uint32_t offset, uint32_t value)
{
    const CardRecord& card = CardTable[CurrentCard];
    if (card.WindowBase == 0)
        return 0;
    value &= 0xFF;
    if (AccessMode == AccessDriver)
        return DriverWrite(card, offset, value, 1) ? value : 0;
    *reinterpret_cast<volatile uint8_t*>(DirectAddress(card, offset)) = static_cast<uint8_t>(value);
    return value;
}

uint32_t WriteReg32(uint32_t offset, uint32_t value)
{
    const CardRecord& card = CardTable[CurrentCard];
    if (card.WindowBase == 0)
        return 0;
    if (AccessMode == AccessDriver)
        return DriverWrite(card, offset, value, 4) ? value : 0;
    *reinterpret_cast<volatile uint32_t*>(DirectAddress(card, offset)) = value;
    return value;
}

uint32_t ReadRom8(uint32_t offset)
{
    return ReadReg8(RomApertureOffset + offset);
}

uint32_t WriteRom8(uint32_t offset, uint32_t value)
{
    return WriteReg8(RomApertureOffset + offset, value);
}
