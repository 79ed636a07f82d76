// Common part of the virtual flash parts: fitting a part, reading its
// contents through the ROM aperture, and dispatch to the bus models.
#include "vcard/model/flash_part.h"

#include <string.h>

void VcPartInit(VcFlashPart* part, const VcPartType* type) {
    VcPartInitOnBus(part, type, type ? type->bus : VcBusParallel);
}

void VcPartInitOnBus(VcFlashPart* part, const VcPartType* type, VcPartBus bus) {
    memset(part, 0, sizeof(*part));
    part->type = type;
    if (!type) return;
    part->size = VcPartTypeSize(type);
    part->bus = bus == VcBusSerial2 ? VcBusSerial2 : type->bus;
    part->sdpEnabled = (type->flags & VcFlagSdpAtPowerUp) != 0;
    part->statusBits = (type->flags & VcFlagProtectAtPowerUp) ? 0x0C : 0;
    part->serialLines = 0x02;
    part->dataOut = true;
    memset(part->data, 0xFF, sizeof(part->data));
}

void VcPartSetStatusBits(VcFlashPart* part, uint8_t bits) { part->statusBits = (uint8_t)(bits & 0xFC); }

bool VcPartBusy(const VcFlashPart* part, VcTime now) { return part->busyKind != 0 && now < part->busyUntil; }

uint8_t VcPartRead(VcFlashPart* part, uint32_t offset, VcTime now) {
    (void)now;
    if (!part->type || part->size == 0) return 0xFF;
    return part->data[offset % part->size];
}

void VcPartWrite(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now) {
    (void)part;
    (void)offset;
    (void)value;
    (void)now;
}

void VcPartSerialLines(VcFlashPart* part, uint32_t lines, VcTime now) {
    (void)now;
    part->serialLines = lines;
}

bool VcPartSerialDataIn(VcFlashPart* part, VcTime now) {
    (void)now;
    return part->dataOut;
}
