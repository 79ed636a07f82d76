// The virtual card model inside QZF.SYS: the machine, its clock (see
// virtual_clock.h) and the backend of the three requests.
#include "driver/virtual/virtual_machine.h"

#include <string.h>

#include "driver/common/requests.h"
#include "driver/virtual/machine_file.h"
#include "driver/virtual/virtual_clock.h"
#include "hw/driver_requests.h"
#include "vcard/model/vcard.h"

namespace {

VcMachine Machine;
VcClock Clock;

void Tick()
{
    VcAdvance(&Machine, VcClockGap(&Clock, QzRealNs()));
}

bool ReadConfig(uint16_t bus, uint16_t slot, uint8_t* space)
{
    Tick();
    PciConfigRequest request = {bus, slot};
    uint32_t returned = 0;
    return VcDeviceControl(&Machine, IOCTL_PCI_CONFIG, &request, sizeof request, space, PciConfigOutputSize,
                           &returned);
}

bool Access(uint32_t code, uint32_t bus, uint32_t address, uint32_t size, uint32_t* value)
{
    Tick();
    MemAccessRequest request = {bus, address, 0, *value, size};
    uint8_t answer[4] = {0, 0, 0, 0};
    uint32_t returned = 0;
    if (!VcDeviceControl(&Machine, code, &request, sizeof request, answer, size, &returned))
        return false;
    *value = static_cast<uint32_t>(answer[0]) | static_cast<uint32_t>(answer[1]) << 8 |
             static_cast<uint32_t>(answer[2]) << 16 | static_cast<uint32_t>(answer[3]) << 24;
    return true;
}

bool ReadMemory(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value)
{
    *value = 0;
    return Access(IOCTL_MEM_READ, bus, address, size, value);
}

bool WriteMemory(uint32_t bus, uint32_t address, uint32_t value, uint32_t size)
{
    return Access(IOCTL_MEM_WRITE, bus, address, size, &value);
}

// The driver's own window scan: the machine's devices as they are, without
// counting, logging or failing a request of the program's, nor taking time.
bool ScanConfig(uint16_t bus, uint16_t slot, uint8_t* space)
{
    for (int i = 0; i < Machine.deviceCount; ++i) {
        const VcPciDevice& device = Machine.devices[i];
        if (device.present && device.bus == bus && device.slot == slot) {
            memcpy(space, device.config, sizeof device.config);
            memset(space + sizeof device.config, 0, PciConfigOutputSize - sizeof device.config);
            return true;
        }
    }
    return false;
}

const QzBackend Backend = {ReadConfig, ReadMemory, WriteMemory, ScanConfig};

}  // namespace

const QzBackend* QzFlavourBackend()
{
    return &Backend;
}

uint32_t QzvMaxFileSize(void)
{
    return VcmMaxSize();
}

int QzvLoad(const uint8_t* file, uint32_t size)
{
    Clock.started = false;
    return VcmRead(file, size, &Machine, 0) ? 1 : 0;
}

uint32_t QzvSave(uint8_t* buffer, uint32_t capacity)
{
    return VcmWrite(&Machine, VcmStateSaved, buffer, capacity);
}

int QzvOpen(void)
{
    if (Machine.deviceOpenFails)
        return 0;
    Machine.deviceOpens++;
    return 1;
}

void QzvClose(void)
{
    Machine.deviceCloses++;
}
