// Field by field, little-endian, so that 32- and 64-bit programs and drivers
// read each other's files. Pointers never go out: a part's type is written
// as its row in the part catalogue.
#include "driver/virtual/machine_file.h"

#include <string.h>

namespace {

const uint8_t Magic[4] = {'Q', 'Z', 'V', 'M'};
const uint32_t HeaderBytes = 16;

struct Writer {
    uint8_t* at;
    uint8_t* end;
    bool full;
};

void Put(Writer* w, uint64_t value, uint32_t size)
{
    if (w->full || static_cast<uint32_t>(w->end - w->at) < size) {
        w->full = true;
        return;
    }
    for (uint32_t i = 0; i < size; ++i)
        *w->at++ = static_cast<uint8_t>(value >> (8 * i));
}

void PutBytes(Writer* w, const uint8_t* bytes, uint32_t count)
{
    if (w->full || static_cast<uint32_t>(w->end - w->at) < count) {
        w->full = true;
        return;
    }
    memcpy(w->at, bytes, count);
    w->at += count;
}

void Put8(Writer* w, uint32_t value) { Put(w, value, 1); }
void Put32(Writer* w, uint32_t value) { Put(w, value, 4); }
void Put64(Writer* w, uint64_t value) { Put(w, value, 8); }

struct Reader {
    const uint8_t* at;
    const uint8_t* end;
    bool bad;
};

uint64_t Get(Reader* r, uint32_t size)
{
    if (r->bad || static_cast<uint32_t>(r->end - r->at) < size) {
        r->bad = true;
        return 0;
    }
    uint64_t value = 0;
    for (uint32_t i = 0; i < size; ++i)
        value |= static_cast<uint64_t>(*r->at++) << (8 * i);
    return value;
}

void GetBytes(Reader* r, uint8_t* bytes, uint32_t count)
{
    if (r->bad || static_cast<uint32_t>(r->end - r->at) < count) {
        r->bad = true;
        return;
    }
    memcpy(bytes, r->at, count);
    r->at += count;
}

uint8_t Get8(Reader* r) { return static_cast<uint8_t>(Get(r, 1)); }
bool GetFlag(Reader* r) { return Get(r, 1) != 0; }
uint32_t Get32(Reader* r) { return static_cast<uint32_t>(Get(r, 4)); }
uint64_t Get64(Reader* r) { return Get(r, 8); }

// Row of the part catalogue, -1 for no part.
int32_t TypeIndex(const VcPartType* type)
{
    if (!type)
        return -1;
    for (int i = 0; i < VcPartTypeCount(); ++i) {
        if (VcPartTypeAt(i) == type)
            return i;
    }
    return -1;
}

const uint32_t DeviceBytes = 4 + 256;
const uint32_t PartFixedBytes = 4 + 1 + 1 + 1 + 17 + 8 + 8 + 4;
const uint32_t CardFixedBytes = 4 + 4 + 1 + 4 + 4 + 4 + 4 + 1 + 1 + 4 + 7 + 1 + 4;
const uint32_t RuleBytes = 1 + 5 * 4;
const uint32_t LogEntryBytes = 4 + 4 + 4 + 1 + 1;

void WritePart(Writer* w, const VcFlashPart& part)
{
    Put32(w, static_cast<uint32_t>(TypeIndex(part.type)));
    Put8(w, part.bus);
    Put8(w, part.sdpEnabled);
    Put8(w, part.statusBits);
    const VcPartFaults& f = part.faults;
    Put8(w, f.eraseNeverFinishes);
    Put8(w, f.programNeverFinishes);
    Put8(w, f.stuckBitEnabled);
    Put32(w, f.stuckBitOffset);
    Put8(w, f.stuckBitMask);
    Put8(w, f.stuckBitValue);
    Put8(w, f.deadByteEnabled);
    Put32(w, f.deadByteOffset);
    Put8(w, f.pageLoadTimesOut);
    Put8(w, f.dataInStuckEnabled);
    Put8(w, f.dataInStuckHigh);
    Put64(w, part.programCount);
    Put64(w, part.eraseCount);
    uint32_t size = part.type ? part.size : 0;
    Put32(w, size);
    PutBytes(w, part.data, size);
}

bool ReadPart(Reader* r, VcFlashPart* part)
{
    int32_t index = static_cast<int32_t>(Get32(r));
    uint8_t bus = Get8(r);
    bool sdp = GetFlag(r);
    uint8_t statusBits = Get8(r);
    VcPartFaults f;
    memset(&f, 0, sizeof f);
    f.eraseNeverFinishes = GetFlag(r);
    f.programNeverFinishes = GetFlag(r);
    f.stuckBitEnabled = GetFlag(r);
    f.stuckBitOffset = Get32(r);
    f.stuckBitMask = Get8(r);
    f.stuckBitValue = Get8(r);
    f.deadByteEnabled = GetFlag(r);
    f.deadByteOffset = Get32(r);
    f.pageLoadTimesOut = GetFlag(r);
    f.dataInStuckEnabled = GetFlag(r);
    f.dataInStuckHigh = GetFlag(r);
    uint64_t programs = Get64(r);
    uint64_t erases = Get64(r);
    uint32_t size = Get32(r);
    if (r->bad)
        return false;
    if (index == -1) {
        memset(part, 0, sizeof *part);
        return size == 0;
    }
    const VcPartType* type = VcPartTypeAt(index);
    if (!type || bus > VcBusSerial2 || size != VcPartTypeSize(type))
        return false;
    // A fresh part on that bus, then what the file says it went through.
    VcPartInitOnBus(part, type, static_cast<VcPartBus>(bus));
    part->sdpEnabled = sdp;
    part->statusBits = statusBits;
    part->faults = f;
    part->programCount = programs;
    part->eraseCount = erases;
    GetBytes(r, part->data, size);
    return !r->bad;
}

void WriteCard(Writer* w, const VcCard& card)
{
    Put32(w, static_cast<uint32_t>(card.device));
    Put32(w, card.windowBase);
    Put8(w, card.romSwitch);
    Put32(w, card.straps);
    Put32(w, card.serialLine);
    Put32(w, card.dualBiosReg);
    Put32(w, card.dualBiosWrites);
    Put8(w, card.dualBiosBoard);
    Put8(w, card.bootedFromRom2);
    Put32(w, static_cast<uint32_t>(card.partCount));
    Put8(w, card.faults.romSwitchStuck);
    Put8(w, card.faults.romSwitchStuckValue);
    Put8(w, card.faults.dualBiosStopsFollowing);
    Put32(w, card.faults.dualBiosFollowProbes);
    Put8(w, card.dualPinsFrozen);
    Put32(w, card.dualFrozenPins);
    for (int i = 0; i < VcMaxPartsPerCard; ++i)
        WritePart(w, card.parts[i]);
}

bool ReadCard(Reader* r, VcCard* card, int deviceCount)
{
    memset(card, 0, sizeof *card);
    card->device = static_cast<int32_t>(Get32(r));
    card->windowBase = Get32(r);
    card->romSwitch = Get8(r);
    card->straps = Get32(r);
    card->serialLine = Get32(r);
    card->dualBiosReg = Get32(r);
    card->dualBiosWrites = Get32(r);
    card->dualBiosBoard = GetFlag(r);
    card->bootedFromRom2 = GetFlag(r);
    card->partCount = static_cast<int32_t>(Get32(r));
    card->faults.romSwitchStuck = GetFlag(r);
    card->faults.romSwitchStuckValue = Get8(r);
    card->faults.dualBiosStopsFollowing = GetFlag(r);
    card->faults.dualBiosFollowProbes = Get32(r);
    card->dualPinsFrozen = GetFlag(r);
    card->dualFrozenPins = Get32(r);
    if (r->bad || card->device < 0 || card->device >= deviceCount || card->partCount < 0 ||
        card->partCount > VcMaxPartsPerCard)
        return false;
    for (int i = 0; i < VcMaxPartsPerCard; ++i) {
        if (!ReadPart(r, &card->parts[i]))
            return false;
    }
    return true;
}

}  // namespace

uint32_t VcmMaxSize()
{
    uint32_t parts = VcMaxPartsPerCard * (PartFixedBytes + VcMaxFlashSize);
    return HeaderBytes + 8 * 3 + 4 * 4 + 2 + 1 + 4 + VcLogCapacity * LogEntryBytes + 4 + VcMaxDevices * DeviceBytes + 4 +
           VcMaxCards * (CardFixedBytes + parts) + VcMaxFaultRules * RuleBytes;
}

uint32_t VcmWrite(const VcMachine* machine, uint32_t state, uint8_t* buffer, uint32_t size)
{
    Writer w = {buffer, buffer + size, false};
    PutBytes(&w, Magic, sizeof Magic);
    Put32(&w, VcmVersion);
    Put32(&w, state);
    Put32(&w, 0);   // length, filled in below
    Put64(&w, machine->now);
    Put64(&w, machine->requestCount);
    Put64(&w, machine->failedCount);
    Put32(&w, machine->deviceOpens);
    Put32(&w, machine->deviceCloses);
    Put32(&w, machine->vxdOpens);
    Put32(&w, machine->vxdCloses);
    Put8(&w, machine->vxdOpenFails);
    Put8(&w, machine->deviceOpenFails);

    Put8(&w, machine->logEnabled);
    Put32(&w, machine->logCount);
    for (uint32_t i = 0; i < VcLogCapacity; ++i) {
        const VcLogEntry& e = machine->log[i];
        Put32(&w, e.code);
        Put32(&w, e.address);
        Put32(&w, e.value);
        Put8(&w, e.size);
        Put8(&w, e.ok);
    }

    Put32(&w, static_cast<uint32_t>(machine->deviceCount));
    for (int i = 0; i < machine->deviceCount; ++i) {
        const VcPciDevice& d = machine->devices[i];
        Put8(&w, d.present);
        Put8(&w, d.bus);
        Put8(&w, d.slot);
        Put8(&w, static_cast<uint8_t>(d.card));
        PutBytes(&w, d.config, sizeof d.config);
    }
    Put32(&w, static_cast<uint32_t>(machine->cardCount));
    for (int i = 0; i < machine->cardCount; ++i)
        WriteCard(&w, machine->cards[i]);
    for (int i = 0; i < VcMaxFaultRules; ++i) {
        const VcFaultRule& rule = machine->faults[i];
        Put8(&w, rule.active);
        Put32(&w, rule.code);
        Put32(&w, rule.address);
        Put32(&w, rule.skip);
        Put32(&w, rule.count);
        Put32(&w, rule.seen);
    }
    if (w.full)
        return 0;
    uint32_t length = static_cast<uint32_t>(w.at - buffer);
    Writer lengthField = {buffer + 12, buffer + 16, false};
    Put32(&lengthField, length);
    return length;
}

bool VcmRead(const uint8_t* buffer, uint32_t size, VcMachine* machine, uint32_t* state)
{
    VcReset(machine);
    Reader r = {buffer, buffer + size, false};
    uint8_t magic[4];
    GetBytes(&r, magic, sizeof magic);
    uint32_t version = Get32(&r);
    uint32_t fileState = Get32(&r);
    uint32_t length = Get32(&r);
    if (r.bad || memcmp(magic, Magic, sizeof magic) != 0 || version != VcmVersion || length != size)
        return false;

    machine->now = Get64(&r);
    machine->requestCount = Get64(&r);
    machine->failedCount = Get64(&r);
    machine->deviceOpens = Get32(&r);
    machine->deviceCloses = Get32(&r);
    machine->vxdOpens = Get32(&r);
    machine->vxdCloses = Get32(&r);
    machine->vxdOpenFails = GetFlag(&r);
    machine->deviceOpenFails = GetFlag(&r);

    machine->logEnabled = GetFlag(&r);
    machine->logCount = Get32(&r);
    for (uint32_t i = 0; i < VcLogCapacity; ++i) {
        VcLogEntry& e = machine->log[i];
        e.code = Get32(&r);
        e.address = Get32(&r);
        e.value = Get32(&r);
        e.size = Get8(&r);
        e.ok = Get8(&r);
    }

    uint32_t deviceCount = Get32(&r);
    if (r.bad || deviceCount > VcMaxDevices) {
        VcReset(machine);
        return false;
    }
    machine->deviceCount = static_cast<int>(deviceCount);
    for (uint32_t i = 0; i < deviceCount; ++i) {
        VcPciDevice& d = machine->devices[i];
        d.present = GetFlag(&r);
        d.bus = Get8(&r);
        d.slot = Get8(&r);
        d.card = static_cast<int8_t>(Get8(&r));
        GetBytes(&r, d.config, sizeof d.config);
    }
    uint32_t cardCount = Get32(&r);
    if (r.bad || cardCount > VcMaxCards) {
        VcReset(machine);
        return false;
    }
    machine->cardCount = static_cast<int>(cardCount);
    for (uint32_t i = 0; i < cardCount; ++i) {
        if (!ReadCard(&r, &machine->cards[i], machine->deviceCount)) {
            VcReset(machine);
            return false;
        }
    }
    for (int i = 0; i < VcMaxFaultRules; ++i) {
        VcFaultRule& rule = machine->faults[i];
        rule.active = GetFlag(&r);
        rule.code = Get32(&r);
        rule.address = Get32(&r);
        rule.skip = Get32(&r);
        rule.count = Get32(&r);
        rule.seen = Get32(&r);
        machine->faultRulesInUse += rule.active ? 1 : 0;
    }
    // Every device's card link must name a card that points back at it.
    for (int i = 0; i < machine->deviceCount && !r.bad; ++i) {
        int card = machine->devices[i].card;
        if (card >= machine->cardCount || (card >= 0 && machine->cards[card].device != i))
            r.bad = true;
    }
    if (r.bad || r.at != r.end) {
        VcReset(machine);
        return false;
    }
    if (state)
        *state = fileState;
    return true;
}
