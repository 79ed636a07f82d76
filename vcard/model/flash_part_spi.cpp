// SPI serial parts of four families. A command is an opcode byte, then
// address and data bytes, sampled on rising clock edges (see flash_part.cpp
// for the output edge). Write enable, write disable, status writes, program
// and chip erase take effect when chip select rises after a whole number of
// bytes; anything else (a cut-off byte, an opcode the family does not know,
// any command but a status read while a cycle runs) is ignored.
//
// Family differences:
//  - Atmel AT25F: 0x15 answers maker, device, maker, ...; no 0xAB; chip erase 0x62.
//  - SST 25VF: 0xAB and 0x90 with three address bytes answer maker then device
//    (device first at an odd address), alternating; one byte per 0x02 command;
//    chip erase 0x60 or 0xC7; status writes after 0x50 (or write enable); the
//    block-protect bits power up set.
//  - PMC 25LV: 0xAB with three address bytes answers maker, device, ...;
//    256-byte pages; chip erase 0xC7 or 0x60.
//  - ST M25P: 0xAB with three dummy bytes answers the one-byte electronic
//    signature, repeated; 128-byte pages; bulk erase 0xC7.
// Any block-protect bit set refuses program and chip erase on the whole part.
#include "vcard/model/flash_part.h"

namespace {

bool Knows(const VcPartType* t, uint8_t op) {
    switch (op) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06:
        return true;
    case 0x15:
        return t->family == VcFamilySpiAtmel;
    case 0xAB:
        return t->family == VcFamilySpiSst || t->family == VcFamilySpiPmc || t->family == VcFamilySpiSt;
    case 0x90: case 0x50:
        return t->family == VcFamilySpiSst;
    case 0xC7:
        return (t->eraseOps & VcEraseC7) != 0;
    case 0x60:
        return (t->eraseOps & VcErase60) != 0;
    case 0x62:
        return (t->eraseOps & VcErase62) != 0;
    default:
        return false;
    }
}

bool Protected(const VcFlashPart* part) { return (part->statusBits & 0x1C) != 0; }

uint32_t PageSize(const VcFlashPart* part) {
    return part->type->pageSize > 1 ? part->type->pageSize : 1;
}

}  // namespace

void VcSpiSelect(VcFlashPart* part) { (void)part; }

void VcSpiByte(VcFlashPart* part, uint8_t value, VcTime now) {
    const uint32_t n = part->byteCount;
    if (n == 0) {
        part->command = value;
        if (value == 0x02)
            ++part->programCommands;
        if ((VcPartBusy(part, now) && value != 0x05) || !Knows(part->type, value)) {
            part->commandIgnored = true;
            return;
        }
        if (value == 0x05 || value == 0x15) part->responding = true;
        return;
    }
    if (part->commandIgnored) return;
    switch (part->command) {
    case 0x03: case 0x90: case 0xAB:
        if (n <= 3) part->address = (part->address << 8) | value;
        if (n == 3) part->responding = true;
        break;
    case 0x02:
        if (n <= 3) {
            part->address = (part->address << 8) | value;
        } else {
            // Bytes past the end of the page wrap to its start.
            uint32_t col = (part->address + part->dataCount) & (PageSize(part) - 1);
            part->pageData[col] = value;
            part->pageMask[col] = 1;
            ++part->dataCount;
        }
        break;
    case 0x01:
        if (n == 1) part->pageData[0] = value;
        break;
    default:
        break;
    }
}

uint8_t VcSpiResponseByte(VcFlashPart* part, VcTime now) {
    const VcPartType* t = part->type;
    uint32_t i = part->outIndex++;
    switch (part->command) {
    case 0x05:   // latched afresh for every byte, so polling in one selection sees the end
        return (uint8_t)(part->statusBits | (part->writeEnabled ? 0x02 : 0) | (VcPartBusy(part, now) ? 0x01 : 0));
    case 0x15:
        return (i & 1) ? t->deviceId : t->makerId;
    case 0xAB: case 0x90:
        if (t->family == VcFamilySpiSt) return t->deviceId;
        return ((part->address ^ i) & 1) ? t->deviceId : t->makerId;
    case 0x03:
        return VcPartCell(part, part->address + i);
    default:
        return 0xFF;
    }
}

void VcSpiDeselect(VcFlashPart* part, VcTime now) {
    bool keepStatusArm = false;
    if (!part->commandIgnored && part->bitCount % 8 == 0 && part->byteCount > 0) {
        const uint32_t n = part->byteCount;
        const uint8_t op = part->command;
        if (op == 0x06 && n == 1) {
            part->writeEnabled = true;
        } else if (op == 0x04 && n == 1) {
            part->writeEnabled = false;
        } else if (op == 0x50 && n == 1) {
            keepStatusArm = true;
            part->statusWriteArmed = true;
        } else if (op == 0x01 && n == 2) {
            if (part->writeEnabled || part->statusWriteArmed) {
                part->statusBits = (uint8_t)(part->pageData[0] & 0x9C);
                part->writeEnabled = false;
            }
        } else if (op == 0x02 && n >= 5) {
            bool byteProgram = PageSize(part) == 1;
            if (part->writeEnabled && !Protected(part) && (!byteProgram || n == 5)) {
                uint32_t page = PageSize(part);
                uint32_t base = part->address & ~(page - 1);
                for (uint32_t col = 0; col < page; ++col)
                    if (part->pageMask[col]) VcPartProgramCell(part, base + col, part->pageData[col]);
                VcPartStartBusy(part, VcBusyProgram, now, (uint64_t)part->programUs * 1000u);
            }
        } else if ((op == 0xC7 || op == 0x60 || op == 0x62) && n == 1) {
            if (part->writeEnabled && !Protected(part)) {
                VcPartEraseAll(part);
                VcPartStartBusy(part, VcBusyErase, now, (uint64_t)part->eraseMs * 1000000u);
            }
        }
    }
    if (!keepStatusArm && part->byteCount > 0) part->statusWriteArmed = false;
}
