// JEDEC parallel parts: unlock cycles, identification mode, chip erase, byte
// program, and the 128-byte page write with software data protection.
//
// Command addresses are compared after the part's own decode: a part that
// sees only A10-A0 takes the 0x5555 / 0x2AAA cycles as 0x555 / 0x2AA.
// Outside identification mode a cycle that breaks a sequence returns the part
// to read mode; in identification mode it only restarts the sequence (the part
// stays there until told to leave).
//
// Status while a cycle runs (and while a page is being loaded): DQ7 is the
// complement of the last byte written (0 during an erase), DQ6 toggles on
// every read, the other bits read 0, so status never equals the data.
#include "vcard/model/flash_part.h"

#include <string.h>

namespace {

enum ParallelState : uint32_t {
    StateRead = 0,
    StateUnlock1 = 1,    // AA at 5555 seen
    StateUnlock2 = 2,    // 55 at 2AAA seen
    StateSetup = 3,      // 80 seen
    StateSetup1 = 4,     // 80, AA seen
    StateSetup2 = 5,     // 80, AA, 55 seen
    StateProgram = 6,    // byte parts: A0 seen, the next write programs
};

bool IsPagePart(const VcFlashPart* part) { return part->type->family == VcFamilyJedecPage; }

bool IdEffective(const VcFlashPart* part, VcTime now) {
    return now >= part->idSwitchAt ? part->idMode : !part->idMode;
}

void SetIdMode(VcFlashPart* part, bool on, VcTime now) {
    if (part->idMode == on) return;
    // A switch still pending is overtaken by this one.
    part->idMode = on;
    part->idSwitchAt = now + (VcTime)part->type->idDelayUs * 1000u;
}

void LoadPageByte(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now) {
    uint32_t page = part->type->pageSize;
    // The page address is latched from the latest load.
    part->pageBase = (offset % part->size) & ~(page - 1);
    part->pageData[offset & (page - 1)] = value;
    part->pageMask[offset & (page - 1)] = 1;
    if (part->pageLoaded < page) ++part->pageLoaded;
    part->pollByte = value;
    part->lastLoadAt = now;
    part->pageLoading = true;
    if (part->faults.pageLoadTimesOut) VcPartStartPageWrite(part, now);
}

void BeginPageLoad(VcFlashPart* part) {
    part->pageLoading = true;
    part->pageLoaded = 0;
    memset(part->pageMask, 0, sizeof(part->pageMask));
}

uint8_t Status(VcFlashPart* part) {
    part->toggle ^= 0x40;
    uint8_t dq7 = part->busyKind == VcBusyErase ? 0 : (uint8_t)(~part->pollByte & 0x80);
    return (uint8_t)(dq7 | part->toggle);
}

}  // namespace

// The byte-load timer expired (at `from`): the loaded bytes replace the page,
// bytes not loaded come out erased.
void VcPartStartPageWrite(VcFlashPart* part, VcTime from) {
    uint32_t page = part->type->pageSize;
    for (uint32_t i = 0; i < page; ++i)
        VcPartReplaceCell(part, part->pageBase + i, part->pageMask[i] ? part->pageData[i] : 0xFF);
    part->pageLoading = false;
    part->pageLoaded = 0;
    VcPartStartBusy(part, VcBusyProgram, from, (uint64_t)part->programUs * 1000u);
}

uint8_t VcParallelRead(VcFlashPart* part, uint32_t offset, VcTime now) {
    if (VcPartBusy(part, now) || part->pageLoading) {
        if (part->pageLoading && part->pageLoaded == 0) return VcPartCell(part, offset);
        return Status(part);
    }
    if (IdEffective(part, now)) return (offset & 1) ? part->type->deviceId : part->type->makerId;
    return VcPartCell(part, offset);
}

void VcParallelWrite(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now) {
    if (VcPartBusy(part, now)) return;   // cycles during a program or erase are ignored
    if (part->pageLoading) {   // after A0 (or a plain write) every write is a load
        LoadPageByte(part, offset, value, now);
        return;
    }
    const uint32_t mask = part->type->decodeMask;
    const uint32_t a = offset & mask;
    const bool at5555 = a == (0x5555u & mask);
    const bool at2AAA = a == (0x2AAAu & mask);
    const bool inId = part->idMode;
    uint32_t next = StateRead;

    switch (part->state) {
    case StateRead:
        if (at5555 && value == 0xAA) {
            next = StateUnlock1;
        } else if (value == 0xF0 && (part->type->flags & VcFlagPlainF0Exit)) {
            SetIdMode(part, false, now);
        } else if (IsPagePart(part) && !part->sdpEnabled && !inId) {
            // Unprotected page-write parts take a plain write as the first load.
            BeginPageLoad(part);
            LoadPageByte(part, offset, value, now);
        }
        break;
    case StateUnlock1:
        if (at2AAA && value == 0x55) next = StateUnlock2;
        break;
    case StateUnlock2:
        if (!at5555) break;
        if (value == 0x90) {
            SetIdMode(part, true, now);
        } else if (value == 0xF0) {
            SetIdMode(part, false, now);
        } else if (value == 0x80) {
            next = StateSetup;
        } else if (value == 0xA0) {
            if (IsPagePart(part)) {
                part->sdpEnabled = true;   // a protected write also turns protection on
                BeginPageLoad(part);
            } else {
                next = StateProgram;
            }
        }
        break;
    case StateSetup:
        if (at5555 && value == 0xAA) next = StateSetup1;
        break;
    case StateSetup1:
        if (at2AAA && value == 0x55) next = StateSetup2;
        break;
    case StateSetup2:
        if (!at5555) break;
        if (value == 0x10) {
            VcPartEraseAll(part);
            VcPartStartBusy(part, VcBusyErase, now, (uint64_t)part->eraseMs * 1000000u);
        } else if (value == 0x20 && IsPagePart(part)) {
            part->sdpEnabled = false;
        }
        break;
    case StateProgram:
        VcPartProgramCell(part, offset, value);
        part->pollByte = value;
        VcPartStartBusy(part, VcBusyProgram, now, (uint64_t)part->programUs * 1000u);
        break;
    }

    // A broken sequence restarts on an AA at 5555.
    if (next == StateRead && part->state != StateRead && part->state != StateProgram && at5555 && value == 0xAA)
        next = StateUnlock1;
    part->state = next;
}
