#include "driver/common/requests.h"

#include "hw/driver_requests.h"

namespace {

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

