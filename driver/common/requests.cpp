#include "driver/common/requests.h"

#include "hw/driver_requests.h"
#include "hw/hw.h"

namespace {

QzWindow Windows[QzMaxWindows];
int WindowCount;
// One slot's configuration space during the scan (the scan runs once, alone).
uint8_t ScanSpace[PciConfigOutputSize];

uint32_t Load16(const uint8_t* b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8;
}

uint32_t Load32(const uint8_t* b)
{
    return Load16(b) | Load16(b + 2) << 16;
}

void Store(uint8_t* b, uint32_t value, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The window of a supported card's header, or 0: BAR0 must be a 32-bit
// memory BAR whose 16 MiB window does not start at physical 0.
uint32_t WindowBaseOf(const uint8_t* space)
{
    uint32_t bar0 = Load32(space + 0x10);
    if ((bar0 & 1) != 0 || (bar0 & 6) != 0)
        return 0;
    return bar0 & QzWindowMask;
}

void AddWindow(uint16_t bus, uint16_t slot, uint16_t deviceId, uint32_t base)
{
    // A device that ignores the function number answers on both of its slot
    // indices; it has one window all the same.
    for (int i = 0; i < WindowCount; ++i) {
        if (Windows[i].bus == bus && Windows[i].base == base)
            return;
    }
    if (WindowCount >= QzMaxWindows)
        return;
    Windows[WindowCount++] = {static_cast<uint8_t>(bus), static_cast<uint8_t>(slot), deviceId, base};
}

QzRequestStatus PciConfig(const QzBackend* backend, const uint8_t* input, uint32_t inputLength, uint8_t* output,
                          uint32_t outputLength, uint32_t* returned)
{
    if (inputLength != sizeof(PciConfigRequest))
        return QzRequestBadParameter;
    uint32_t bus = Load16(input);
    uint32_t slot = Load16(input + 2);
    if (bus > QzMaxPciBus || slot > QzMaxSlot)
        return QzRequestBadParameter;
    if (outputLength < PciConfigOutputSize)
        return QzRequestBufferTooSmall;
    if (!backend->ReadConfig(static_cast<uint16_t>(bus), static_cast<uint16_t>(slot), output))
        return QzRequestDeviceFailure;
    *returned = PciConfigOutputSize;
    return QzRequestOk;
}

QzRequestStatus MemAccess(const QzBackend* backend, bool write, const uint8_t* input, uint32_t inputLength,
                          uint8_t* output, uint32_t outputLength, uint32_t* returned)
{
    if (inputLength != sizeof(MemAccessRequest))
        return QzRequestBadParameter;
    uint32_t bus = Load32(input + offsetof(MemAccessRequest, Bus));
    uint32_t address = Load32(input + offsetof(MemAccessRequest, AddressLow));
    uint32_t addressHigh = Load32(input + offsetof(MemAccessRequest, AddressHigh));
    uint32_t value = Load32(input + offsetof(MemAccessRequest, Value));
    uint32_t size = Load32(input + offsetof(MemAccessRequest, Size));
    // The card windows lie below 4 GiB, and only bytes and words are moved.
    if (addressHigh != 0 || (size != 1 && size != 4) || bus > QzMaxPciBus)
        return QzRequestBadParameter;
    if (outputLength < size)
        return QzRequestBufferTooSmall;
    if (QzWindowOf(bus, address, size) < 0)
        return QzRequestOutsideWindow;
    if (write) {
        if (!backend->WriteMemory(bus, address, size == 1 ? (value & 0xFF) : value, size))
            return QzRequestDeviceFailure;
        // The scratch word gets nothing of the request back.
        Store(output, 0, size);
    } else {
        uint32_t read = 0;
        if (!backend->ReadMemory(bus, address, size, &read))
            return QzRequestDeviceFailure;
        Store(output, read, size);
    }
    *returned = size;
    return QzRequestOk;
}

}  // namespace

QzRequestStatus QzHandleRequest(const QzBackend* backend, uint32_t code, const void* input, uint32_t inputLength,
                                void* output, uint32_t outputLength, uint32_t* returned)
{
    *returned = 0;
    const uint8_t* in = static_cast<const uint8_t*>(input);
    uint8_t* out = static_cast<uint8_t*>(output);
    if (code != IOCTL_PCI_CONFIG && code != IOCTL_MEM_READ && code != IOCTL_MEM_WRITE)
        return QzRequestUnknownCode;
    if (!in || (!out && outputLength != 0))
        return QzRequestBadParameter;
    if (code == IOCTL_PCI_CONFIG)
        return PciConfig(backend, in, inputLength, out, outputLength, returned);
    return MemAccess(backend, code == IOCTL_MEM_WRITE, in, inputLength, out, outputLength, returned);
}


int QzFindWindows(const QzBackend* backend)
{
    QzForgetWindows();
    for (uint32_t bus = 0; bus <= QzMaxPciBus; ++bus) {
        for (uint32_t slot = 0; slot <= QzMaxSlot; ++slot) {
            if (!backend->ScanConfig(static_cast<uint16_t>(bus), static_cast<uint16_t>(slot), ScanSpace))
                continue;
            uint16_t vendorId = static_cast<uint16_t>(Load16(ScanSpace));
            uint16_t deviceId = static_cast<uint16_t>(Load16(ScanSpace + 2));
            if (!IsSupportedId(vendorId, deviceId))
                continue;
            uint32_t base = WindowBaseOf(ScanSpace);
            if (base != 0)
                AddWindow(static_cast<uint16_t>(bus), static_cast<uint16_t>(slot), deviceId, base);
        }
    }
    return WindowCount;
}

void QzForgetWindows()
{
    WindowCount = 0;
}

int QzWindowCount()
{
    return WindowCount;
}

const QzWindow* QzWindowAt(int index)
{
    return index >= 0 && index < WindowCount ? &Windows[index] : nullptr;
}

int QzWindowOf(uint32_t bus, uint32_t address, uint32_t size)
{
    // In 64 bits: a window at the top of the address space ends at 4 GiB, and
    // an access there must not wrap round to address 0.
    uint64_t first = address;
    uint64_t end = first + size;
    for (int i = 0; i < WindowCount; ++i) {
        const QzWindow& window = Windows[i];
        if (window.bus != bus)
            continue;
        if (first >= window.base && end <= static_cast<uint64_t>(window.base) + QzWindowSize)
            return i;
    }
    return -1;
}
