// Any sequence of driver requests against the virtual card, the model that
// answers the kernel driver's contract: every code, input and output length
// (null buffers too), any bus and address, with writes that reach the ROM
// access switch, the serial lines, the dual-BIOS register and the flash
// parts' command state machines. Nothing may be written past an output
// buffer, and the answer must say no more than the buffer holds.
// Input: records of op, bus, target, offset (4), value (4), size, output
// length, input length tweak, time step.
#include <stdlib.h>
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "hw/driver_requests.h"
#include "vcard/host/vcard_host.h"

namespace {

const char Profile[] =
    "device 0:0 0x8086:0x2560 class=0x060000\n"
    "card 1:0 0x10DE:0x0281 bar0=0xE0000000\n"
    "part 29EE010 image=04.28.20.05\n"
    "card 0:5 0x10DE:0x0322 bar0=0xE2000000 interface=spi\n"
    "part AT25F1024 code=0x60 image=04.32.20.01\n"
    "card 2:0 0x10DE:0x0253 bar0=0xE4000000 dual=rom2\n"
    "part 39VF010 image=04.25.00.28\n"
    "part 39VF512 image=04.25.00.31\n"
    "card 3:1 0x10DE:0x0171 bar0=0xE6000000 interface=serial2\n"
    "part 29C512 image=04.17.00.10\n";

const uint32_t Bases[] = {0xE0000000u, 0xE2000000u, 0xE4000000u, 0xE6000000u};
const uint32_t Registers[] = {0x1850, 0x1204, 0x200, 0x101000, 0x60081C, 0x300000, 0x305555, 0x302AAA};
const uint32_t Sizes[] = {1, 4, 1, 4, 2, 0, 3, 8};

VcMachine* Fresh()
{
    static VcMachine* base = nullptr;
    static VcMachine* machine = nullptr;
    if (!base) {
        base = VcNewMachine();
        machine = VcNewMachine();
        char error[256];
        FuzzCheck(base && machine && VcLoadProfileText(Profile, "fuzz", nullptr, base, error, sizeof error),
                  "request fuzz machine");
    }
    memcpy(machine, base, sizeof *machine);
    return machine;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VcMachine* machine = Fresh();
    FuzzInput in = MakeFuzzInput(data, size);
    uint64_t requests = 0;
    while (in.at < in.size) {
        uint8_t op = TakeByte(in);
        uint32_t bus = TakeByte(in) % 5;
        uint8_t target = TakeByte(in);
        uint32_t offset = Take32(in);
        uint32_t value = Take32(in);
        uint32_t requestSize = Sizes[TakeByte(in) & 7];
        uint32_t outputLength = TakeByte(in) % 16;
        uint8_t tweak = TakeByte(in);
        uint8_t step = TakeByte(in);

        uint32_t address = offset;
        if (target & 0x80) {
            uint32_t base = Bases[target & 3];
            uint32_t reg = Registers[(target >> 2) & 7];
            address = base + ((target & 0x40) ? reg + (offset & 0x1FFFF) : reg);
        }
        uint32_t code = IOCTL_MEM_READ;
        uint8_t request[24];
        uint32_t inputLength = 20;
        switch (op & 3) {
        case 0:
        case 1: {
            code = (op & 3) ? IOCTL_MEM_WRITE : IOCTL_MEM_READ;
            MemAccessRequest m = {bus, address, (op & 0x40) ? value : 0u, value, requestSize};
            memcpy(request, &m, sizeof m);
            break;
        }
        case 2: {
            code = IOCTL_PCI_CONFIG;
            PciConfigRequest p = {static_cast<uint16_t>(bus), static_cast<uint16_t>(offset & ((op & 0x40) ? 0xFFFF : 63))};
            memcpy(request, &p, sizeof p);
            inputLength = sizeof p;
            outputLength = (op & 0x80) ? PciConfigOutputSize : outputLength * 32;
            break;
        }
        default:
            code = value;
            memcpy(request, &offset, 4);
            memset(request + 4, target, sizeof request - 4);
            break;
        }
        if (tweak & 0x80)
            inputLength = tweak % (sizeof request + 1);
        const void* input = (op & 4) ? nullptr : request;
        uint8_t* output = (op & 8) ? nullptr : static_cast<uint8_t*>(malloc(outputLength ? outputLength : 1));

        uint32_t returned = 0xDEADBEEF;
        bool ok = VcDeviceControl(machine, code, input, inputLength, output, outputLength, &returned);
        ++requests;
        FuzzCheck(machine->requestCount == requests, "every request is counted once");
        if (ok) {
            FuzzCheck(output != nullptr && returned <= outputLength, "answer larger than the output buffer");
        } else {
            FuzzCheck(returned == 0, "a failed request reported output");
        }
        free(output);
        VcAdvance(machine, static_cast<VcTime>(step) * 1000000u);
    }
    return 0;
}
