// The virtual driver's machine file, read in the kernel from the file beside
// the driver image: any bytes. A file that is read must describe a machine
// the model can run, must write back as a file that reads the same, and the
// machine must answer a round of requests (configuration, ROM window, ROM
// switch, serial lines, dual-BIOS register) on every card without a fault.
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "driver/virtual/machine_file.h"
#include "fuzz/fuzz_support.h"
#include "hw/driver_requests.h"

namespace {

void Request(VcMachine* m, uint32_t code, uint32_t bus, uint32_t address, uint32_t value, uint32_t size)
{
    MemAccessRequest r = {bus, address, 0, value, size};
    uint32_t out = 0;
    uint32_t returned = 0;
    VcDeviceControl(m, code, &r, sizeof r, &out, sizeof out, &returned);
    FuzzCheck(returned <= sizeof out, "answer larger than its buffer");
}

void Exercise(VcMachine* m)
{
    static uint8_t config[PciConfigOutputSize];
    for (int d = 0; d < m->deviceCount; ++d) {
        PciConfigRequest r = {m->devices[d].bus, m->devices[d].slot};
        uint32_t returned = 0;
        VcDeviceControl(m, IOCTL_PCI_CONFIG, &r, sizeof r, config, sizeof config, &returned);
    }
    for (int c = 0; c < m->cardCount; ++c) {
        uint32_t base = m->cards[c].windowBase;
        uint32_t bus = m->devices[m->cards[c].device].bus;
        Request(m, IOCTL_MEM_WRITE, bus, base + 0x1850, 0, 1);
        for (uint32_t o : {0u, 1u, 2u, 0x34u, 0xFFFFu, 0x10000u, 0x1FFFFu})
            Request(m, IOCTL_MEM_READ, bus, base + 0x300000 + o, 0, 1);
        Request(m, IOCTL_MEM_WRITE, bus, base + 0x305555, 0xAA, 1);
        Request(m, IOCTL_MEM_WRITE, bus, base + 0x302AAA, 0x55, 1);
        Request(m, IOCTL_MEM_WRITE, bus, base + 0x305555, 0x90, 1);
        Request(m, IOCTL_MEM_READ, bus, base + 0x300000, 0, 1);
        for (uint32_t lines : {0x3u, 0x1u, 0x5u, 0x1u, 0xDu, 0x9u, 0x3u, 0x0u})
            Request(m, IOCTL_MEM_WRITE, bus, base + 0x1204, lines, 4);
        Request(m, IOCTL_MEM_READ, bus, base + 0x1204, 0, 4);
        Request(m, IOCTL_MEM_WRITE, bus, base + 0x60081C, 0xF000, 4);
        Request(m, IOCTL_MEM_READ, bus, base + 0x60081C, 0, 4);
        Request(m, IOCTL_MEM_READ, bus, base + 0x300000, 0, 1);
        Request(m, IOCTL_MEM_WRITE, bus, base + 0x1850, 1, 1);
    }
    VcAdvance(m, 5000000000ull);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static VcMachine* machine = static_cast<VcMachine*>(calloc(1, sizeof(VcMachine)));
    static VcMachine* again = static_cast<VcMachine*>(calloc(1, sizeof(VcMachine)));
    static uint8_t* written = static_cast<uint8_t*>(malloc(VcmMaxSize()));
    static uint8_t* rewritten = static_cast<uint8_t*>(malloc(VcmMaxSize()));
    uint32_t state = 0xDEAD;
    if (size > 0xFFFFFFFFu || !VcmRead(data, static_cast<uint32_t>(size), machine, &state)) {
        FuzzCheck(state == 0xDEAD, "a refused file gave a state");
        FuzzCheck(machine->deviceCount == 0 && machine->cardCount == 0, "a refused file left a machine");
        return 0;
    }
    FuzzCheck(machine->deviceCount <= VcMaxDevices && machine->cardCount <= VcMaxCards, "counts past the limits");
    for (int c = 0; c < machine->cardCount; ++c) {
        const VcCard& card = machine->cards[c];
        FuzzCheck(card.device >= 0 && card.device < machine->deviceCount, "card on a device that is not there");
        FuzzCheck(card.partCount >= 0 && card.partCount <= VcMaxPartsPerCard, "part count");
        for (int i = 0; i < VcMaxPartsPerCard; ++i) {
            const VcFlashPart& part = card.parts[i];
            FuzzCheck(!part.type || part.size == 65536 || part.size == 131072, "part size");
        }
    }

    // What is read writes back to a file that reads the same.
    uint32_t length = VcmWrite(machine, state, written, VcmMaxSize());
    FuzzCheck(length > 0, "a machine that was read cannot be written");
    FuzzCheck(VcmRead(written, length, again, nullptr), "a written machine cannot be read");
    uint32_t length2 = VcmWrite(again, state, rewritten, VcmMaxSize());
    FuzzCheck(length2 == length && memcmp(written, rewritten, length) == 0, "a machine changes between write and read");

    Exercise(machine);
    return 0;
}
