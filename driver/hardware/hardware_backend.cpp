// The hardware flavour's backend: configuration space from the HAL, memory
// requests through the window that the common validation has already
// found the request inside.
#include "driver/common/requests.h"
#include "driver/hardware/hardware_access.h"

static_assert(QZH_WINDOWS == QzMaxWindows, "one mapping per window");
static_assert(QZH_WINDOW_SIZE == QzWindowSize, "window size");

namespace {

bool ReadConfig(uint16_t bus, uint16_t slot, uint8_t* space)
{
    return QzhReadConfig(bus, slot, space) != 0;
}

bool ReadMemory(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value)
{
    *value = 0;
    int window = QzWindowOf(bus, address, size);
    if (window < 0)
        return false;
    uint32_t base = QzWindowAt(window)->base;
    return QzhRead(window, base, address - base, size, value) != 0;
}

bool WriteMemory(uint32_t bus, uint32_t address, uint32_t value, uint32_t size)
{
    int window = QzWindowOf(bus, address, size);
    if (window < 0)
        return false;
    uint32_t base = QzWindowAt(window)->base;
    return QzhWrite(window, base, address - base, value, size) != 0;
}

const QzBackend Backend = {ReadConfig, ReadMemory, WriteMemory, ReadConfig};

}  // namespace

const QzBackend* QzFlavourBackend()
{
    return &Backend;
}
