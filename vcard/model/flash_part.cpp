// Common part of the virtual flash parts: fitting a part, busy time, the
// cell array with its faults, and the serial line shifter that feeds the SPI
// and serial-2 command models.
//
// Clock edges, per command set:
//  - SPI (mode 0): the part samples its input on the rising clock edge and
//    changes its output after the falling edge. The first bit of a response
//    appears after the falling edge that ends the last input bit of the
//    command, so a host that reads the line before each pulse gets the
//    response bit by bit; a host that reads after the pulse gets it one bit
//    late (bit 6 first, and bit 7 of the next byte last).
//  - Serial-2: the part samples its input and drives its next output bit on
//    the rising edge. The first response bit appears at the first rising edge
//    after the command, so the host reads each bit after its pulse.
// An undriven data-in line (part deselected, or not answering) reads 1.
#include "vcard/model/flash_part.h"

#include <string.h>

namespace {

const uint32_t LineEnable = 0x01;
const uint32_t LineDeselect = 0x02;
const uint32_t LineClock = 0x04;
const uint32_t LineData = 0x08;

// Lines as the part sees them: released lines leave it deselected, clock low.
uint32_t EffectiveLines(uint32_t lines) {
    if (!(lines & LineEnable)) return LineDeselect;
    return lines & (LineDeselect | LineClock | LineData);
}

void AdvanceOutput(VcFlashPart* part, VcTime now) {
    if (!part->responding) return;
    if (!part->responseStarted) {
        part->responseStarted = true;
        part->outBit = 7;
        part->outByte = part->bus == VcBusSerial2 ? VcSerial2ResponseByte(part, now) : VcSpiResponseByte(part, now);
    } else if (--part->outBit < 0) {
        part->outBit = 7;
        part->outByte = part->bus == VcBusSerial2 ? VcSerial2ResponseByte(part, now) : VcSpiResponseByte(part, now);
    }
    // Status registers are shifted out live: each bit shows the state at
    // the moment it is driven, so the end of a cycle shows up mid-byte.
    bool live = part->bus == VcBusSerial2 ? part->command == 0x9F : part->command == 0x05;
    if (live) {
        --part->outIndex;
        part->outByte = part->bus == VcBusSerial2 ? VcSerial2ResponseByte(part, now) : VcSpiResponseByte(part, now);
    }
    part->dataOut = ((part->outByte >> part->outBit) & 1) != 0;
}

void SampleInput(VcFlashPart* part, bool bit, VcTime now) {
    part->shiftIn = ((part->shiftIn << 1) | (bit ? 1u : 0u)) & 0xFF;
    if (++part->bitCount % 8 != 0) return;
    uint8_t value = (uint8_t)part->shiftIn;
    if (part->bus == VcBusSerial2)
        VcSerial2Byte(part, value, now);
    else
        VcSpiByte(part, value, now);
    ++part->byteCount;
}

void BeginSelection(VcFlashPart* part) {
    part->selected = true;
    part->shiftIn = 0;
    part->bitCount = 0;
    part->byteCount = 0;
    part->command = 0;
    part->address = 0;
    part->responding = false;
    part->responseStarted = false;
    part->outIndex = 0;
    part->commandIgnored = false;
    part->holding = false;
    part->dataCount = 0;
    part->pageLoaded = 0;
    memset(part->pageMask, 0, sizeof(part->pageMask));
    part->dataOut = true;
    if (part->bus != VcBusSerial2) VcSpiSelect(part);
}

void EndSelection(VcFlashPart* part, VcTime now) {
    part->selected = false;
    if (part->bus == VcBusSerial2)
        VcSerial2Deselect(part, now);
    else
        VcSpiDeselect(part, now);
    part->responding = false;
    part->dataOut = true;
}

}  // namespace

void VcPartInit(VcFlashPart* part, const VcPartType* type) {
    VcPartInitOnBus(part, type, type ? type->bus : VcBusParallel);
}

void VcPartInitOnBus(VcFlashPart* part, const VcPartType* type, VcPartBus bus) {
    // The contents array is written only as far as the part reaches, and
    // nothing reads past that: a small part leaves the rest untouched.
    memset(part, 0, offsetof(VcFlashPart, data));
    part->type = type;
    if (!type) return;
    part->size = VcPartTypeSize(type);
    part->bus = bus == VcBusSerial2 ? VcBusSerial2 : type->bus;
    part->programUs = type->programUs;
    part->eraseMs = type->eraseMs;
    part->sdpEnabled = (type->flags & VcFlagSdpAtPowerUp) != 0;
    part->statusBits = (type->flags & VcFlagProtectAtPowerUp) ? 0x0C : 0;
    part->serialLines = LineDeselect;
    part->dataOut = true;
    memset(part->data, 0xFF, part->size);
}

void VcPartSetStatusBits(VcFlashPart* part, uint8_t bits) { part->statusBits = (uint8_t)(bits & 0x9C); }

bool VcPartBusy(VcFlashPart* part, VcTime now) {
    VcPartSettle(part, now);
    return part->busyKind != VcBusyNone && now < part->busyUntil;
}

// Brings the part up to `now`: an expired byte-load timer starts the page
// write, a finished cycle ends. Called on every access.
void VcPartSettle(VcFlashPart* part, VcTime now) {
    if (part->pageLoading && part->pageLoaded > 0) {
        VcTime expires = part->lastLoadAt + (VcTime)part->type->loadTimeoutUs * 1000u;
        if (now >= expires) VcPartStartPageWrite(part, expires);
    }
    if (part->busyKind != VcBusyNone && now >= part->busyUntil) {
        part->busyKind = VcBusyNone;
        part->writeEnabled = false;   // SPI parts clear the latch when a cycle completes
    }
}

void VcPartStartBusy(VcFlashPart* part, uint8_t kind, VcTime from, uint64_t ns) {
    bool never = kind == VcBusyErase ? part->faults.eraseNeverFinishes : part->faults.programNeverFinishes;
    part->busyKind = kind;
    part->busyUntil = never ? ~(VcTime)0 : from + ns;
    if (!never) part->busyTime += ns;
    if (kind == VcBusyErase)
        ++part->eraseCount;
    else
        ++part->programCount;
}

uint8_t VcPartCell(const VcFlashPart* part, uint32_t offset) {
    offset %= part->size;
    uint8_t value = part->data[offset];
    const VcPartFaults& f = part->faults;
    if (f.stuckBitEnabled && f.stuckBitOffset % part->size == offset)
        value = (uint8_t)((value & ~f.stuckBitMask) | (f.stuckBitValue & f.stuckBitMask));
    return value;
}

void VcPartProgramCell(VcFlashPart* part, uint32_t offset, uint8_t value) {
    offset %= part->size;
    if (part->faults.deadByteEnabled && part->faults.deadByteOffset % part->size == offset) return;
    part->data[offset] &= value;   // programming only clears bits
}

// Page-write parts erase and rewrite the whole page in one cycle.
void VcPartReplaceCell(VcFlashPart* part, uint32_t offset, uint8_t value) {
    offset %= part->size;
    if (part->faults.deadByteEnabled && part->faults.deadByteOffset % part->size == offset) return;
    part->data[offset] = value;
}

void VcPartEraseAll(VcFlashPart* part) { memset(part->data, 0xFF, part->size); }

uint8_t VcPartRead(VcFlashPart* part, uint32_t offset, VcTime now) {
    if (!part->type || part->size == 0) return 0xFF;
    VcPartSettle(part, now);
    if (part->bus == VcBusParallel) return VcParallelRead(part, offset, now);
    // The card fetches serial contents with read commands. A busy part
    // ignores them and leaves its output undriven, and the card's pull-up
    // reads ones: a busy serial part reads 0xFF through the ROM window, the
    // same as an erased one (what real cards show, and the harder case for a
    // blank check).
    if (VcPartBusy(part, now)) return 0xFF;
    return VcPartCell(part, offset);
}

void VcPartWrite(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now) {
    if (!part->type || part->size == 0) return;
    VcPartSettle(part, now);
    if (part->bus == VcBusParallel) VcParallelWrite(part, offset, value, now);
}

void VcPartSerialLines(VcFlashPart* part, uint32_t lines, VcTime now) {
    uint32_t before = EffectiveLines(part->serialLines);
    uint32_t after = EffectiveLines(lines);
    part->serialLines = lines;
    if (!part->type || part->bus == VcBusParallel) return;
    VcPartSettle(part, now);
    bool wasSelected = !(before & LineDeselect);
    bool isSelected = !(after & LineDeselect);
    if (!wasSelected && isSelected) BeginSelection(part);
    if (wasSelected && isSelected) {
        bool rising = !(before & LineClock) && (after & LineClock);
        bool falling = (before & LineClock) && !(after & LineClock);
        if (rising) {
            if (part->bus == VcBusSerial2) AdvanceOutput(part, now);
            SampleInput(part, (after & LineData) != 0, now);
        }
        if (falling && part->bus == VcBusSpi) AdvanceOutput(part, now);
    }
    if (wasSelected && !isSelected) EndSelection(part, now);
}

bool VcPartSerialDataIn(VcFlashPart* part, VcTime now) {
    (void)now;
    if (part->faults.dataInStuckEnabled) return part->faults.dataInStuckHigh;
    if (!part->type || part->bus == VcBusParallel || !part->selected) return true;
    return part->dataOut;
}
