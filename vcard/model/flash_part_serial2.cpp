// The second serial command set, answered the same way by a part of any
// listed type fitted on such a bus (its catalogue codes and times):
//   0x90 a23..a0            -> maker (even address) / device (odd), alternating
//   0x60 00 00 00 D0 00     chip erase
//   0x10 a23..a0 data... 00 program (256-byte ring from the page start)
//   0x9F                    -> status bytes while selected, bit 0 set = ready
// Erase and program start when chip select rises after exactly those bytes;
// while a cycle runs only 0x9F is answered.
#include "vcard/model/flash_part.h"

namespace {

const uint32_t Serial2Page = 256;

}  // namespace

void VcSerial2Byte(VcFlashPart* part, uint8_t value, VcTime now) {
    const uint32_t n = part->byteCount;
    if (n == 0) {
        part->command = value;
        if (value == 0x10)
            ++part->programCommands;
        bool known = value == 0x90 || value == 0x60 || value == 0x10 || value == 0x9F;
        if (!known || (VcPartBusy(part, now) && value != 0x9F)) part->commandIgnored = true;
        if (value == 0x9F && !part->commandIgnored) part->responding = true;
        return;
    }
    if (part->commandIgnored) return;
    switch (part->command) {
    case 0x90:
        if (n <= 3) part->address = (part->address << 8) | value;
        if (n == 3) part->responding = true;
        break;
    case 0x60: {
        static const uint8_t Tail[5] = {0x00, 0x00, 0x00, 0xD0, 0x00};
        if (n > 5 || value != Tail[n - 1]) part->commandIgnored = true;
        break;
    }
    case 0x10:
        if (n <= 3) {
            part->address = (part->address << 8) | value;
            break;
        }
        // The last byte before deselection is the closing 0x00, not data.
        if (part->holding) {
            uint32_t col = (part->address + part->dataCount) & (Serial2Page - 1);
            part->pageData[col] = part->heldByte;
            part->pageMask[col] = 1;
            ++part->dataCount;
        }
        part->heldByte = value;
        part->holding = true;
        break;
    default:
        break;
    }
}

uint8_t VcSerial2ResponseByte(VcFlashPart* part, VcTime now) {
    uint32_t i = part->outIndex++;
    if (part->command == 0x9F) return VcPartBusy(part, now) ? 0x00 : 0x01;
    if (part->command == 0x90) return ((part->address ^ i) & 1) ? part->type->deviceId : part->type->makerId;
    return 0xFF;
}

void VcSerial2Deselect(VcFlashPart* part, VcTime now) {
    if (part->commandIgnored || part->bitCount % 8 != 0) return;
    if (part->command == 0x60 && part->byteCount == 6) {
        VcPartEraseAll(part);
        VcPartStartBusy(part, VcBusyErase, now, (uint64_t)part->eraseMs * 1000000u);
    } else if (part->command == 0x10 && part->dataCount > 0 && part->holding && part->heldByte == 0x00) {
        uint32_t base = part->address & ~(Serial2Page - 1);
        for (uint32_t col = 0; col < Serial2Page; ++col)
            if (part->pageMask[col]) VcPartProgramCell(part, base + col, part->pageData[col]);
        // Byte-program types take their byte time per byte.
        uint64_t us = part->type->pageSize > 1 ? part->programUs : (uint64_t)part->programUs * part->dataCount;
        VcPartStartBusy(part, VcBusyProgram, now, us * 1000u);
    }
}
