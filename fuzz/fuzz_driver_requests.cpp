// The kernel driver's request handling on any request: any control code,
// input and output lengths, with input and output in one buffer as the
// buffered method hands them over. The backend must only ever be asked for
// what the contract allows, with the request's own values, a memory request
// only inside a card window the driver found, and nothing may be written
// past the output length or reported beyond it.
// Input: code selector, input length, output length (2 bytes), flags (bit 0:
// one buffer for both, bit 1: no input buffer, bit 2: no output buffer),
// then the input bytes.
#include <string.h>

#include "driver/common/requests.h"
#include "fuzz/fuzz_support.h"
#include "hw/driver_requests.h"

namespace {

struct Asked {
    bool called;
    bool write;
    uint32_t bus, slot, address, size, value;
} Seen;

bool ReadConfig(uint16_t bus, uint16_t slot, uint8_t* space)
{
    FuzzCheck(bus <= QzMaxPciBus && slot <= QzMaxSlot, "configuration request out of range reached the backend");
    Seen = Asked{true, false, bus, slot, 0, 0, 0};
    memset(space, 0xC3, PciConfigOutputSize);
    return (slot & 1) == 0;
}

bool InsideAWindow(uint32_t bus, uint32_t address, uint32_t size)
{
    uint64_t end = static_cast<uint64_t>(address) + size;
    if (bus == 1)
        return address >= 0xE3000000u && end <= 0xE4000000u;
    return bus == 0 && address >= 0xFF000000u && end <= 0x100000000ull;
}

bool ReadMemory(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value)
{
    FuzzCheck(bus <= QzMaxPciBus && (size == 1 || size == 4), "memory read out of shape reached the backend");
    FuzzCheck(InsideAWindow(bus, address, size), "a memory read outside every window reached the backend");
    Seen = Asked{true, false, bus, 0, address, size, 0};
    *value = 0xA1B2C3D4u;
    return (address & 1) == 0;
}

bool WriteMemory(uint32_t bus, uint32_t address, uint32_t value, uint32_t size)
{
    FuzzCheck(bus <= QzMaxPciBus && (size == 1 || size == 4), "memory write out of shape reached the backend");
    FuzzCheck(size == 4 || value <= 0xFF, "a byte write carried more than a byte");
    FuzzCheck(InsideAWindow(bus, address, size), "a memory write outside every window reached the backend");
    Seen = Asked{true, true, bus, 0, address, size, value};
    return (address & 1) == 0;
}

// The machine the driver scans: a supported card on bus 1 (window
// 0xE3000000) and one on bus 0 whose window ends at 4 GiB.
bool ScanConfig(uint16_t bus, uint16_t slot, uint8_t* space)
{
    uint32_t bar0 = bus == 1 && slot == 0 ? 0xE3000008u : bus == 0 && slot == 5 ? 0xFF000000u : 0;
    if (bar0 == 0)
        return false;
    memset(space, 0, PciConfigOutputSize);
    const uint8_t header[4] = {0xDE, 0x10, 0x81, 0x02};
    memcpy(space, header, sizeof header);
    for (int i = 0; i < 4; ++i)
        space[0x10 + i] = static_cast<uint8_t>(bar0 >> (8 * i));
    return true;
}

const QzBackend Backend = {ReadConfig, ReadMemory, WriteMemory, ScanConfig};

uint32_t Le32(const uint8_t* b)
{
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const uint32_t Codes[] = {IOCTL_PCI_CONFIG, IOCTL_MEM_READ, IOCTL_MEM_WRITE, 0x9C406450, 0, 0xFFFFFFFFu};
    FuzzInput in = MakeFuzzInput(data, size);
    uint8_t pick = TakeByte(in);
    uint32_t code = pick < 240 ? Codes[pick % 3] : Codes[3 + pick % 3];
    uint32_t inputLength = TakeByte(in) % 48;
    uint32_t outputLength = Take16(in) % 512;
    uint8_t flags = TakeByte(in);
    bool shared = (flags & 1) != 0;
    size_t payloadSize = 0;
    const uint8_t* payload = Rest(in, &payloadSize);

    // Buffers exactly as long as their lengths; one buffer for both when shared.
    static uint8_t inputArea[512];
    static uint8_t outputArea[512];
    uint32_t sharedLength = inputLength > outputLength ? inputLength : outputLength;
    uint8_t* input = ExactBuffer(inputArea, sizeof inputArea, shared ? sharedLength : inputLength);
    FillCyclic(input, inputLength, payload, payloadSize);
    uint8_t request[48];
    memcpy(request, input, inputLength);
    uint8_t* output = shared ? input : ExactBuffer(outputArea, sizeof outputArea, outputLength);

    static bool scanned = false;
    if (!scanned) {
        FuzzCheck(QzFindWindows(&Backend) == 2, "the scan missed a card window");
        scanned = true;
    }
    Seen = Asked{};
    uint32_t returned = 0xDEADBEEF;
    QzRequestStatus status = QzHandleRequest(&Backend, code, (flags & 2) ? nullptr : input, inputLength,
                                             (flags & 4) ? nullptr : output, outputLength, &returned);
    FuzzCheck(returned <= outputLength, "more output reported than the buffer holds");
    if (status != QzRequestOk) {
        FuzzCheck(returned == 0, "a refused request reported output");
        return 0;
    }
    FuzzCheck(Seen.called, "an accepted request never reached the backend");
    if (code == IOCTL_PCI_CONFIG) {
        FuzzCheck(inputLength == sizeof(PciConfigRequest) && returned == PciConfigOutputSize, "configuration answer");
        FuzzCheck(Seen.bus == (request[0] | request[1] << 8u) + 0u && Seen.slot == (request[2] | request[3] << 8u) + 0u,
                  "configuration request not the one sent");
        return 0;
    }
    FuzzCheck(inputLength == sizeof(MemAccessRequest), "memory request of another length accepted");
    FuzzCheck(Seen.write == (code == IOCTL_MEM_WRITE), "read and write mixed up");
    FuzzCheck(Seen.bus == Le32(request) && Seen.address == Le32(request + 4) && Le32(request + 8) == 0 &&
                  Seen.size == Le32(request + 16) && returned == Seen.size,
              "memory request not the one sent");
    if (Seen.write) {
        uint32_t value = Le32(request + 12);
        FuzzCheck(Seen.value == (Seen.size == 1 ? (value & 0xFF) : value), "written value not the one sent");
    }
    return 0;
}
