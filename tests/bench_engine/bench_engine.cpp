// One 64 KiB flash per program mode on the virtual card. Prints the driver
// requests issued, the CPU time per request (engine, transport and virtual
// card together), and the virtual time the flash took against what the part
// itself needs (erase plus programming, datasheet times) plus the waits the
// procedure always makes.
#include <stdio.h>
#include <time.h>
#include "core/state.h"
#include "engine/flash.h"
#include "engine/parallel.h"
#include "engine/parts.h"
#include "engine_card.h"
#include "vcard/model/flash_part.h"

namespace {

struct Mode {
    const char* name;
    const char* partName;
    uint8_t deviceId;
    uint32_t strap;
    bool quick;
};

const Mode Modes[] = {
    {"parallel byte", "39VF512", 0xD4, InterfaceParallel, false},
    {"parallel page 128", "29C512", 0x5D, InterfaceParallel, false},
    {"SPI byte", "25VF512", 0x48, InterfaceSpi, false},
    {"SPI byte, quick", "25VF512", 0x48, InterfaceSpi, true},
    {"SPI page 128", "M25P05", 0x05, InterfaceSpi, false},
    {"SPI page 256", "25LV512", 0x7B, InterfaceSpi, false},
    {"SPI page 256, quick", "25LV512", 0x7B, InterfaceSpi, true},
    {"serial-2 byte", "39VF512", 0xD4, InterfaceSerial2, false},
    {"serial-2 page 128", "29C512", 0x5D, InterfaceSerial2, false},
    {"serial-2 page 128, quick", "29C512", 0x5D, InterfaceSerial2, true},
};

const uint32_t ImageBytes = 65536;

double CpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Sleeps of the erase (5 x 1 s), the pause before programming, the blank
// check's 1 ms, and the busy waits after the erase and before programming.
double MandatedWaitSeconds()
{
    const double unit = SpinDelayIterations * VcBusyIterationNs * 1e-9;
    return 5.0 + 0.1 + 0.001 + (5 * 10 + 1000) * unit;
}

double PartRewriteSeconds(const VcPartType* type)
{
    uint32_t units = type->pageSize <= 1 ? ImageBytes : ImageBytes / type->pageSize;
    return type->eraseMs * 1e-3 + units * (type->programUs * 1e-6);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        fprintf(stderr, "%s: unknown argument \"%s\" (it takes none)\n", argv[0], argv[1]);
        return 2;
    }
    int ran = 0, failed = 0;
    printf("%-26s %-10s %12s %10s %10s %10s %9s %s\n", "mode", "part", "requests", "cpu ms", "ns/req",
           "virtual s", "part+wait", "result");
    for (const Mode& mode : Modes) {
        const VcPartType* type = VcFindPartType(mode.partName, mode.deviceId);
        if (type == nullptr || !AttachEngineCard(mode.partName, mode.deviceId, mode.strap) || !IdentifyEngineCard()) {
            printf("%-26s %-10s cannot be set up\n", mode.name, mode.partName);
            ++failed;
            continue;
        }
        if (type->flags & VcFlagProtectAtPowerUp)
            VcPartSetStatusBits(EnginePart(), 0);
        NtNot2000 = mode.quick;
        MakeTestImage(ImageBytes, TestVendorId, TestDeviceId);

        const uint64_t requests = EngineMachine.requestCount;
        const VcTime start = EngineMachine.now;
        const double cpu = CpuSeconds();
        const bool ok = FlashImage();
        const double cpuUsed = CpuSeconds() - cpu;
        const uint64_t issued = EngineMachine.requestCount - requests;
        const double virtualSeconds = (EngineMachine.now - start) * 1e-9;

        printf("%-26s %-10s %12llu %10.1f %10.1f %10.3f %9.3f %s\n", mode.name, mode.partName,
               static_cast<unsigned long long>(issued), cpuUsed * 1e3, issued ? cpuUsed * 1e9 / issued : 0.0,
               virtualSeconds, PartRewriteSeconds(type) + MandatedWaitSeconds(),
               ok && FirstPartDifference() < 0 ? "ok" : "FAILED");
        ++ran;
        if (!ok || FirstPartDifference() >= 0)
            ++failed;
    }
    // A flash that failed, or none at all, makes the figures worthless.
    return ran > 0 && failed == 0 ? 0 : 1;
}
