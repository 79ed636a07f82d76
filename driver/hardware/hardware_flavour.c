/* The hardware flavour of QZF.SYS: configuration space through the HAL's
 * PCI access, and memory requests as single accesses of the requested width
 * through a non-cached mapping of the card's 16 MiB register window. A
 * window is mapped the first time a request uses it and stays mapped until
 * the driver unloads, so a flash run does not map and unmap per access.
 * Which addresses may be reached at all is decided before any of this is
 * called (requests.cpp): only the windows of supported cards. */
#include <ntddk.h>

#include "driver/common/flavour.h"
#include "driver/hardware/hardware_access.h"

#ifdef NO_LEGACY_DRIVERS
/* The 64-bit kernel headers hide the HAL's bus access, which the HAL still
 * exports; the 64-bit build of this driver exists for the Wine tests. */
NTHALAPI ULONG NTAPI HalGetBusData(BUS_DATA_TYPE type, ULONG bus, ULONG slot, PVOID buffer, ULONG length);
#endif

enum { ConfigBytes = 256, AnswerBytes = 400, HeaderBytes = 0x40 };

static PUCHAR Mapped[QZH_WINDOWS];
static uint32_t MappedBase[QZH_WINDOWS];

int QzhReadConfig(uint16_t bus, uint16_t slot, uint8_t* space)
{
    PCI_SLOT_NUMBER number;
    ULONG got, i;
    number.u.AsULONG = 0;
    number.u.bits.DeviceNumber = slot & 31;
    number.u.bits.FunctionNumber = slot >> 5;
    /* 0 bytes: no such bus; an empty slot answers vendor 0xFFFF. */
    got = HalGetBusData(PCIConfiguration, bus, number.u.AsULONG, space, ConfigBytes);
    if (got < HeaderBytes || got > ConfigBytes || (space[0] == 0xFF && space[1] == 0xFF))
        return 0;
    for (i = got; i < AnswerBytes; ++i)
        space[i] = 0;
    return 1;
}

/* The mapped address of `size` bytes at `offset`, or NULL. */
static PUCHAR At(int window, uint32_t base, uint32_t offset, uint32_t size)
{
    PHYSICAL_ADDRESS physical;
    if (window < 0 || window >= QZH_WINDOWS || offset > QZH_WINDOW_SIZE - size)
        return NULL;
    /* A word that straddles a word boundary would be two bus cycles. */
    if (size == 4 && (offset & 3) != 0)
        return NULL;
    if (!Mapped[window]) {
        physical.QuadPart = base;
        Mapped[window] = (PUCHAR)MmMapIoSpace(physical, QZH_WINDOW_SIZE, MmNonCached);
        if (!Mapped[window])
            return NULL;
        MappedBase[window] = base;
    }
    if (MappedBase[window] != base)
        return NULL;
    return Mapped[window] + offset;
}

int QzhRead(int window, uint32_t base, uint32_t offset, uint32_t size, uint32_t* value)
{
    PUCHAR at = At(window, base, offset, size);
    if (!at || (size != 1 && size != 4))
        return 0;
    *value = size == 1 ? READ_REGISTER_UCHAR(at) : READ_REGISTER_ULONG((PULONG)at);
    return 1;
}

int QzhWrite(int window, uint32_t base, uint32_t offset, uint32_t value, uint32_t size)
{
    PUCHAR at = At(window, base, offset, size);
    if (!at || (size != 1 && size != 4))
        return 0;
    if (size == 1)
        WRITE_REGISTER_UCHAR(at, (UCHAR)value);
    else
        WRITE_REGISTER_ULONG((PULONG)at, value);
    return 1;
}

long QzFlavourStart(struct _UNICODE_STRING* registryPath)
{
    int i;
    (void)registryPath;
    for (i = 0; i < QZH_WINDOWS; ++i) {
        Mapped[i] = NULL;
        MappedBase[i] = 0;
    }
    return STATUS_SUCCESS;
}

void QzFlavourStop(void)
{
    int i;
    for (i = 0; i < QZH_WINDOWS; ++i) {
        if (Mapped[i])
            MmUnmapIoSpace(Mapped[i], QZH_WINDOW_SIZE);
        Mapped[i] = NULL;
    }
}

int QzFlavourOpen(void)
{
    return 1;
}

void QzFlavourClose(void)
{
}
