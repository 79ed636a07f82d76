// The virtual machine: PCI devices, the supported cards' registers and ROM
// aperture, and the driver requests that reach them.
//
// Card registers (offsets in the 16 MiB register window):
//   0x1850   ROM access switch, a byte. Reads back what was written; 1 at
//            power-up. While it holds 0 the ROM aperture and the serial
//            lines reach the selected flash part; while it holds anything
//            else both are disconnected: aperture reads return 0xFF (the
//            undriven data bus), aperture writes are ignored, and the part
//            sees its serial lines released (deselected, clock low), so a
//            command sent with the switch closed never reaches the part.
//   0x101000 Straps: bits 29..30 give the flash interface. Read-only.
//   0x1204   Serial line register: bits 0..3 (enable, deselect, clock, data
//            out) read back as written; bit 4 is the data-in line from the
//            selected part. Every write hands bits 0..3 to the part. While
//            enable is set the program owns the part's lines and the card's
//            own ROM reader is shut out: aperture reads answer 0x00, never
//            array data (our choice of value: the reader's data latch, which
//            taking the lines clears; 0xFF would look like an erased part).
//   0x200    Settle register: reads a fixed value, writes are ignored.
//   0x60081C Dual-BIOS GPIO register (model below).
//   0x300000 ROM aperture, 128 KiB. Only the part's own address lines are
//            connected: offsets beyond the part's size wrap modulo the size,
//            so a 64 KiB part appears twice.
// Any other offset reads 0 and ignores writes.
//
// Dual-BIOS board model. Bits 8..15 of 0x60081C are GPIO pins; every pin is
// a plain output latch that reads back its own level, except:
//   - GPIOs 12..15 drive the ROM select net together (wired-OR): the net is
//     high when any of them is set. The net picks ROM 2 (high) or ROM 1 (low)
//     for the ROM aperture and the serial lines.
//   - GPIO 14 is read from the net itself, not from its latch.
//   - GPIO 10 is an input wired to the board's BIOS switch: in the ROM 2
//     position the switch loops the select net back to it, in the ROM 1
//     position it is pulled low.
// So writing 0x22, 0x12, 0x02 into bits 8..15 reads bit 10 as 1, 1, 0 (and
// bit 14 as 1 after 0x22) only on a board that booted from ROM 2; an
// ordinary card is nothing but latches, and a board switched to ROM 1 never
// raises bit 10. Selecting ROM 1 (bits 12..15 clear) reads bits 14..15 clear,
// selecting ROM 2 (all set) reads them set. A board booted from ROM 2 powers
// up with the select outputs set, a board booted from ROM 1 with them clear.
//
// Freestanding: no heap, no exceptions, no library calls but memset/memcpy.
#include "vcard/model/vcard.h"

#include <string.h>

#include "hw/driver_requests.h"

namespace {

enum : uint32_t {
    SettleValue = 0x00000001,
    DualPinMask = 0x0000FF00,
    DualSelectMask = 0x0000F000,
    DualNetPin = 0x00004000,
    DualSensePin = 0x00000400,
    AnyAddress = 0xFFFFFFFFu,
    SerialEnableLine = 0x01,
};

// Little-endian words in byte buffers. Every request goes through these, so
// they move whole words where the host's order allows.
uint32_t Load32(const void* bytes)
{
    uint32_t value;
    memcpy(&value, bytes, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = __builtin_bswap32(value);
#endif
    return value;
}

void Store(void* bytes, uint32_t value, uint32_t size)
{
    uint8_t* b = static_cast<uint8_t*>(bytes);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (size == 4) {
        memcpy(b, &value, 4);
        return;
    }
#endif
    for (uint32_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutConfig16(uint8_t* config, uint32_t offset, uint16_t value)
{
    Store(config + offset, value, 2);
}

// ---- dual-BIOS pins ----

uint32_t DualPinsLive(const VcCard* card)
{
    uint32_t latch = card->dualBiosReg & DualPinMask;
    if (!card->dualBiosBoard)
        return latch;
    bool net = (latch & DualSelectMask) != 0;
    uint32_t pins = latch & ~(DualNetPin | DualSensePin);
    if (net)
        pins |= DualNetPin;
    if (net && card->bootedFromRom2)
        pins |= DualSensePin;
    return pins;
}

uint32_t DualPins(const VcCard* card)
{
    return card->dualPinsFrozen ? card->dualFrozenPins : DualPinsLive(card);
}

// Index of the part the select net reaches: ROM 2 while the net is high.
int SelectedIndex(const VcCard* card)
{
    return card->dualBiosBoard && (DualPins(card) & DualNetPin) ? 1 : 0;
}

void DualBiosWrite(VcCard* card, uint32_t value, uint32_t laneMask)
{
    card->dualBiosWrites++;
    if (card->faults.dualBiosStopsFollowing && !card->dualPinsFrozen &&
        card->dualBiosWrites > card->faults.dualBiosFollowProbes) {
        card->dualFrozenPins = DualPinsLive(card);
        card->dualPinsFrozen = true;
    }
    card->dualBiosReg = (card->dualBiosReg & ~laneMask) | (value & laneMask);
}

// ---- registers ----

uint8_t RomSwitch(const VcCard* card)
{
    return card->faults.romSwitchStuck ? card->faults.romSwitchStuckValue : card->romSwitch;
}

// The serial lines as the selected part sees them: passed on only while the
// ROM access switch is open, released otherwise.
void PassSerialLines(VcMachine* machine, VcCard* card)
{
    VcFlashPart* part = VcSelectedPart(card);
    if (!part || !part->type)
        return;
    uint32_t lines = card->serialLine;
    if (RomSwitch(card) != 0)
        lines &= ~SerialEnableLine;
    VcPartSerialLines(part, lines, machine->now);
}

// An aligned register word, outside the ROM aperture.
uint32_t RegRead32(VcMachine* machine, VcCard* card, uint32_t offset)
{
    switch (offset) {
    case VcRegRomSwitch:
        return RomSwitch(card);
    case VcRegStraps:
        return card->straps;
    case VcRegSerialLine: {
        VcFlashPart* part = VcSelectedPart(card);
        // With no part fitted the data-in line floats high.
        bool dataIn = part && part->type ? VcPartSerialDataIn(part, machine->now) : true;
        return (card->serialLine & 0x0F) | (dataIn ? 0x10u : 0u);
    }
    case VcRegSettle:
        return SettleValue;
    case VcRegDualBios:
        return (card->dualBiosReg & ~DualPinMask) | DualPins(card);
    default:
        return 0;
    }
}

// laneMask selects the bytes written (0x000000FF for a byte at the word's start).
void RegWrite32(VcMachine* machine, VcCard* card, uint32_t offset, uint32_t value, uint32_t laneMask)
{
    switch (offset) {
    case VcRegRomSwitch:
        if ((laneMask & 0xFF) && !card->faults.romSwitchStuck) {
            card->romSwitch = static_cast<uint8_t>(value);
            PassSerialLines(machine, card);
        }
        break;
    case VcRegSerialLine:
        card->serialLine = ((card->serialLine & ~laneMask) | (value & laneMask)) & 0x0F;
        PassSerialLines(machine, card);
        break;
    case VcRegDualBios:
        DualBiosWrite(card, value, laneMask);
        break;
    default:
        break;   // straps, settle and unused offsets ignore writes
    }
}

bool InAperture(uint32_t offset)
{
    return offset - VcRomAperture < VcRomApertureSize;
}

uint8_t ReadByte(VcMachine* machine, VcCard* card, uint32_t offset)
{
    if (InAperture(offset)) {
        VcFlashPart* part = VcSelectedPart(card);
        if (RomSwitch(card) != 0 || !part || !part->type || part->size == 0)
            return 0xFF;
        if (card->serialLine & SerialEnableLine)
            return 0x00;
        return VcPartRead(part, (offset - VcRomAperture) % part->size, machine->now);
    }
    uint32_t word = RegRead32(machine, card, offset & ~3u);
    return static_cast<uint8_t>(word >> (8 * (offset & 3)));
}

void WriteByte(VcMachine* machine, VcCard* card, uint32_t offset, uint8_t value)
{
    if (InAperture(offset)) {
        VcFlashPart* part = VcSelectedPart(card);
        if (RomSwitch(card) != 0 || !part || !part->type || part->size == 0)
            return;
        VcPartWrite(part, (offset - VcRomAperture) % part->size, value, machine->now);
        return;
    }
    uint32_t shift = 8 * (offset & 3);
    RegWrite32(machine, card, offset & ~3u, static_cast<uint32_t>(value) << shift, 0xFFu << shift);
}

uint32_t ReadWindow(VcMachine* machine, VcCard* card, uint32_t offset, uint32_t size)
{
    if (size == 4 && (offset & 3) == 0 && !InAperture(offset))
        return RegRead32(machine, card, offset);
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(ReadByte(machine, card, offset + i)) << (8 * i);
    return value;
}

void WriteWindow(VcMachine* machine, VcCard* card, uint32_t offset, uint32_t value, uint32_t size)
{
    if (size == 4 && (offset & 3) == 0 && !InAperture(offset)) {
        RegWrite32(machine, card, offset, value, 0xFFFFFFFFu);
        return;
    }
    for (uint32_t i = 0; i < size; ++i)
        WriteByte(machine, card, offset + i, static_cast<uint8_t>(value >> (8 * i)));
}

// ---- requests ----

// True when a fault rule makes this request fail.
bool RuleFails(VcMachine* machine, uint32_t code, uint32_t address)
{
    if (machine->faultRulesInUse == 0)
        return false;
    bool fail = false;
    for (int i = 0; i < VcMaxFaultRules; ++i) {
        VcFaultRule& rule = machine->faults[i];
        if (!rule.active)
            continue;
        if (rule.code != 0 && rule.code != code)
            continue;
        if (rule.address != AnyAddress && rule.address != address)
            continue;
        rule.seen++;
        if (rule.seen > rule.skip && (rule.count == 0 || rule.seen - rule.skip <= rule.count))
            fail = true;
    }
    return fail;
}

// Every request costs time, is counted and, when enabled, logged.
bool Finish(VcMachine* machine, uint32_t code, uint32_t address, uint32_t value, uint32_t size, bool ok)
{
    if (!ok)
        machine->failedCount++;
    if (machine->logEnabled) {
        VcLogEntry& entry = machine->log[machine->logCount % VcLogCapacity];
        entry.code = code;
        entry.address = address;
        entry.value = value;
        entry.size = static_cast<uint8_t>(size);
        entry.ok = ok ? 1 : 0;
        machine->logCount++;
    }
    return ok;
}

void Begin(VcMachine* machine)
{
    machine->requestCount++;
    machine->now += machine->requestCostNs ? machine->requestCostNs : VcRequestCostNs;
}

VcPciDevice* FindDevice(VcMachine* machine, uint32_t bus, uint32_t slot)
{
    for (int i = 0; i < machine->deviceCount; ++i) {
        VcPciDevice& device = machine->devices[i];
        if (device.present && device.bus == bus && device.slot == slot)
            return &device;
    }
    return 0;
}

bool PciConfig(VcMachine* machine, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
               uint32_t* returned)
{
    uint32_t address = AnyAddress;
    uint32_t bus = 0;
    uint32_t slot = 0;
    if (input && inputLength == sizeof(PciConfigRequest)) {
        const uint8_t* b = static_cast<const uint8_t*>(input);
        bus = static_cast<uint32_t>(b[0] | b[1] << 8);
        slot = static_cast<uint32_t>(b[2] | b[3] << 8);
        address = bus << 16 | slot;
    }
    if (RuleFails(machine, IOCTL_PCI_CONFIG, address))
        return Finish(machine, IOCTL_PCI_CONFIG, address, 0, 0, false);
    if (address == AnyAddress || !output || outputLength < PciConfigOutputSize || bus > 3 || slot > 63)
        return Finish(machine, IOCTL_PCI_CONFIG, address, 0, 0, false);
    VcPciDevice* device = FindDevice(machine, bus, slot);
    if (!device)
        return Finish(machine, IOCTL_PCI_CONFIG, address, 0, 0, false);
    uint8_t* out = static_cast<uint8_t*>(output);
    memcpy(out, device->config, sizeof device->config);
    memset(out + sizeof device->config, 0, PciConfigOutputSize - sizeof device->config);
    if (returned)
        *returned = PciConfigOutputSize;
    return Finish(machine, IOCTL_PCI_CONFIG, address, Load32(device->config), 0, true);
}

// Nearly every request is one of these: kept inside VcDeviceControl, where a
// call of its own cost as much as the checks it makes.
inline __attribute__((always_inline)) bool MemAccess(VcMachine* machine, bool write, const void* input,
                                                     uint32_t inputLength, void* output, uint32_t outputLength,
                                                     uint32_t* returned)
{
    uint32_t code = write ? IOCTL_MEM_WRITE : IOCTL_MEM_READ;
    if (!input || inputLength != sizeof(MemAccessRequest))
        return Finish(machine, code, AnyAddress, 0, 0, false);
    const uint8_t* b = static_cast<const uint8_t*>(input);
    uint32_t bus = Load32(b + 0);
    uint32_t address = Load32(b + 4);
    uint32_t addressHigh = Load32(b + 8);
    uint32_t value = write ? Load32(b + 12) : 0;
    uint32_t size = Load32(b + 16);
    uint8_t logSize = size <= 0xFF ? static_cast<uint8_t>(size) : 0;

    if (RuleFails(machine, code, address))
        return Finish(machine, code, address, value, logSize, false);
    if ((size != 1 && size != 4) || !output || outputLength < size || addressHigh != 0)
        return Finish(machine, code, address, value, logSize, false);
    VcCard* card = VcFindCard(machine, address);
    // The request must name the card's own bus, and a word may not run off
    // the end of the window.
    if (!card || machine->devices[card->device].bus != bus)
        return Finish(machine, code, address, value, logSize, false);
    uint32_t offset = address - card->windowBase;
    if (offset + size > VcWindowSize)
        return Finish(machine, code, address, value, logSize, false);

    if (write) {
        WriteWindow(machine, card, offset, size == 1 ? (value & 0xFF) : value, size);
    } else {
        value = ReadWindow(machine, card, offset, size);
        Store(output, value, size);
    }
    if (returned)
        *returned = size;
    return Finish(machine, code, address, value, logSize, true);
}

// Clears a card but for its parts' contents arrays: fitting a part writes
// its contents as far as the part reaches, and nothing reads past them.
void ClearCard(VcCard* card)
{
    memset(card, 0, offsetof(VcCard, parts));
    for (int i = 0; i < VcMaxPartsPerCard; ++i)
        memset(&card->parts[i], 0, offsetof(VcFlashPart, data));
    memset(reinterpret_cast<char*>(card) + offsetof(VcCard, faults), 0, sizeof *card - offsetof(VcCard, faults));
}

}  // namespace

// ---- set-up ----

void VcReset(VcMachine* machine)
{
    memset(machine, 0, offsetof(VcMachine, cards));
    for (int c = 0; c < VcMaxCards; ++c)
        ClearCard(&machine->cards[c]);
    memset(reinterpret_cast<char*>(machine) + offsetof(VcMachine, cardCount), 0,
           offsetof(VcMachine, log) - offsetof(VcMachine, cardCount));
    memset(reinterpret_cast<char*>(machine) + offsetof(VcMachine, faults), 0,
           sizeof *machine - offsetof(VcMachine, faults));
}

void VcCopyMachine(VcMachine* to, const VcMachine* from)
{
    memcpy(to, from, offsetof(VcMachine, cards));
    for (int c = 0; c < VcMaxCards; ++c) {
        VcCard& card = to->cards[c];
        const VcCard& source = from->cards[c];
        memcpy(&card, &source, offsetof(VcCard, parts));
        for (int i = 0; i < VcMaxPartsPerCard; ++i) {
            memcpy(&card.parts[i], &source.parts[i], offsetof(VcFlashPart, data));
            if (source.parts[i].type)
                memcpy(card.parts[i].data, source.parts[i].data, source.parts[i].size);
        }
        memcpy(reinterpret_cast<char*>(&card) + offsetof(VcCard, faults),
               reinterpret_cast<const char*>(&source) + offsetof(VcCard, faults),
               sizeof card - offsetof(VcCard, faults));
    }
    memcpy(reinterpret_cast<char*>(to) + offsetof(VcMachine, cardCount),
           reinterpret_cast<const char*>(from) + offsetof(VcMachine, cardCount),
           offsetof(VcMachine, log) - offsetof(VcMachine, cardCount));
    uint32_t entries = from->logCount < VcLogCapacity ? from->logCount : static_cast<uint32_t>(VcLogCapacity);
    memcpy(to->log, from->log, entries * sizeof from->log[0]);
    memcpy(reinterpret_cast<char*>(to) + offsetof(VcMachine, faults),
           reinterpret_cast<const char*>(from) + offsetof(VcMachine, faults), sizeof *to - offsetof(VcMachine, faults));
}

int VcAddDevice(VcMachine* machine, uint8_t bus, uint8_t slot, uint16_t vendorId, uint16_t deviceId,
                uint16_t subsystemVendorId, uint16_t subsystemId, uint32_t bar0)
{
    if (machine->deviceCount >= VcMaxDevices || bus > 3 || slot > 63)
        return -1;
    int index = machine->deviceCount++;
    VcPciDevice& device = machine->devices[index];
    memset(&device, 0, sizeof device);
    device.present = true;
    device.bus = bus;
    device.slot = slot;
    device.card = -1;
    PutConfig16(device.config, 0x00, vendorId);
    PutConfig16(device.config, 0x02, deviceId);
    PutConfig16(device.config, 0x04, 0x0007);      // memory and I/O decoding, bus master
    PutConfig16(device.config, 0x06, 0x02B0);      // capabilities, 66 MHz, fast back-to-back
    device.config[0x08] = 0xA1;                    // revision
    device.config[0x0B] = 0x03;                    // class: display controller, VGA
    Store(device.config + 0x10, bar0, 4);
    PutConfig16(device.config, 0x2C, subsystemVendorId);
    PutConfig16(device.config, 0x2E, subsystemId);
    device.config[0x3D] = 0x01;                    // interrupt pin A
    return index;
}

int VcAddCard(VcMachine* machine, int device, uint32_t strapInterface, bool dualBiosBoard, bool bootedFromRom2)
{
    if (machine->cardCount >= VcMaxCards || device < 0 || device >= machine->deviceCount ||
        machine->devices[device].card >= 0)
        return -1;
    int index = machine->cardCount++;
    VcCard& card = machine->cards[index];
    ClearCard(&card);
    card.device = device;
    card.windowBase = Load32(machine->devices[device].config + 0x10) & 0xFF000000u;
    card.romSwitch = 1;
    card.straps = (strapInterface & 3u) << 29;
    card.dualBiosBoard = dualBiosBoard;
    card.bootedFromRom2 = dualBiosBoard && bootedFromRom2;
    card.dualBiosReg = card.bootedFromRom2 ? static_cast<uint32_t>(VcDualBiosRom2PowerUp) : 0u;
    card.partCount = 0;
    machine->devices[device].card = static_cast<int8_t>(index);
    return index;
}

bool VcFitPart(VcMachine* machine, int card, int index, const VcPartType* type)
{
    if (card < 0 || card >= machine->cardCount || index < 0 || index >= VcMaxPartsPerCard || !type)
        return false;
    VcCard& c = machine->cards[card];
    // A card strapped for the second serial command set talks that set to
    // whatever part sits on it; every other part answers its own bus.
    if ((c.straps >> 29) == VcBusSerial2)
        VcPartInitOnBus(&c.parts[index], type, VcBusSerial2);
    else
        VcPartInit(&c.parts[index], type);
    if (c.partCount < index + 1)
        c.partCount = index + 1;
    return true;
}

bool VcAddFaultRule(VcMachine* machine, uint32_t code, uint32_t address, uint32_t skip, uint32_t count)
{
    for (int i = 0; i < VcMaxFaultRules; ++i) {
        VcFaultRule& rule = machine->faults[i];
        if (rule.active)
            continue;
        rule.active = true;
        rule.code = code;
        rule.address = address;
        rule.skip = skip;
        rule.count = count;
        rule.seen = 0;
        machine->faultRulesInUse++;
        return true;
    }
    return false;
}

VcCard* VcFindCard(VcMachine* machine, uint32_t physicalAddress)
{
    uint32_t base = physicalAddress & 0xFF000000u;
    if (base == 0)
        return 0;
    for (int i = 0; i < machine->cardCount; ++i) {
        VcCard& card = machine->cards[i];
        if (card.windowBase == base && machine->devices[card.device].present)
            return &card;
    }
    return 0;
}

VcFlashPart* VcSelectedPart(VcCard* card)
{
    return &card->parts[SelectedIndex(card)];
}

void VcAdvance(VcMachine* machine, VcTime nanoseconds)
{
    machine->now += nanoseconds;
}

// ---- requests ----

bool VcDeviceControl(VcMachine* machine, uint32_t code, const void* input, uint32_t inputLength, void* output,
                     uint32_t outputLength, uint32_t* returned)
{
    Begin(machine);
    if (returned)
        *returned = 0;
    machine->lastInputLength = inputLength;
    machine->lastOutputLength = outputLength;
    // A whole-size copy for the usual request: a copy of variable length
    // costs more than the rest of a register access.
    if (input && inputLength >= sizeof machine->lastInput)
        memcpy(machine->lastInput, input, sizeof machine->lastInput);
    else if (input)
        memcpy(machine->lastInput, input, inputLength);
    switch (code) {
    case IOCTL_MEM_READ:
        return MemAccess(machine, false, input, inputLength, output, outputLength, returned);
    case IOCTL_MEM_WRITE:
        return MemAccess(machine, true, input, inputLength, output, outputLength, returned);
    case IOCTL_PCI_CONFIG:
        return PciConfig(machine, input, inputLength, output, outputLength, returned);
    default:
        return Finish(machine, code, AnyAddress, 0, 0, false);
    }
}

bool VcVxdMap(VcMachine* machine, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
              uint32_t* returned)
{
    Begin(machine);
    if (returned)
        *returned = 0;
    if (!input || inputLength != sizeof(MapWindowRequest))
        return Finish(machine, VcLogVxdMap, AnyAddress, 0, 0, false);
    uint32_t base = Load32(input);
    if (RuleFails(machine, VcLogVxdMap, base) || !output || outputLength < 4)
        return Finish(machine, VcLogVxdMap, base, 0, 4, false);
    VcCard* card = VcFindCard(machine, base);
    // Only a whole window is mapped, and only where host memory stands for it.
    if (!card || card->windowBase != base || card->directWindow == 0 ||
        card->directWindow != static_cast<uint32_t>(card->directWindow))
        return Finish(machine, VcLogVxdMap, base, 0, 4, false);
    uint32_t linear = static_cast<uint32_t>(card->directWindow);
    Store(output, linear, 4);
    if (returned)
        *returned = 4;
    return Finish(machine, VcLogVxdMap, base, linear, 4, true);
}

bool VcPciBiosFind(VcMachine* machine, uint16_t deviceId, uint16_t vendorId, uint16_t index, uint8_t* bus,
                   uint8_t* devFn)
{
    Begin(machine);
    uint32_t address = static_cast<uint32_t>(vendorId) << 16 | deviceId;
    uint32_t logIndex = index <= 0xFF ? index : 0xFF;
    if (RuleFails(machine, VcLogPciBiosFind, address))
        return Finish(machine, VcLogPciBiosFind, address, 0, logIndex, false);
    // Instances are numbered the way the BIOS walks the buses: by bus, then
    // by device/function number.
    uint32_t seen = 0;
    for (uint32_t b = 0; b < 4; ++b) {
        for (uint32_t df = 0; df < 256; ++df) {
            if ((df & 7) > 1)
                continue;   // slot indices reach functions 0 and 1 only
            uint32_t slot = (df >> 3) | (df & 7) << 5;
            VcPciDevice* device = FindDevice(machine, b, slot);
            if (!device || Load32(device->config) != (static_cast<uint32_t>(deviceId) << 16 | vendorId))
                continue;
            if (seen++ != index)
                continue;
            *bus = static_cast<uint8_t>(b);
            *devFn = static_cast<uint8_t>(df);
            return Finish(machine, VcLogPciBiosFind, address, b << 8 | df, logIndex, true);
        }
    }
    return Finish(machine, VcLogPciBiosFind, address, 0, logIndex, false);
}

uint32_t VcPciBiosRead(VcMachine* machine, uint8_t bus, uint8_t devFn, uint8_t offset, uint8_t size)
{
    Begin(machine);
    uint32_t address = static_cast<uint32_t>(bus) << 16 | static_cast<uint32_t>(devFn) << 8 | offset;
    // An absent device, like a failed read, answers all ones.
    uint32_t ones = size == 4 ? 0xFFFFFFFFu : size == 2 ? 0xFFFFu : 0xFFu;
    VcPciDevice* device = 0;
    if (!RuleFails(machine, VcLogPciBiosRead, address) && (size == 1 || size == 2 || size == 4) &&
        offset + size <= 256 && (devFn & 7) <= 1)
        device = FindDevice(machine, bus, (devFn >> 3) | (devFn & 7) << 5);
    if (!device) {
        Finish(machine, VcLogPciBiosRead, address, ones, size, false);
        return ones;
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i)
        value |= static_cast<uint32_t>(device->config[offset + i]) << (8 * i);
    Finish(machine, VcLogPciBiosRead, address, value, size, true);
    return value;
}

void VcFillDirectWindow(const VcCard* card, uint8_t* window, uint32_t size)
{
    if (size > VcRegRomSwitch)
        window[VcRegRomSwitch] = card->romSwitch;
    if (size >= VcRegStraps + 4)
        Store(window + VcRegStraps, card->straps, 4);
    if (size >= VcRegDualBios + 4)
        Store(window + VcRegDualBios, card->dualBiosReg, 4);
    const VcFlashPart* part = &card->parts[SelectedIndex(card)];
    if (!part->type || part->size == 0 || size < VcRomAperture + VcRomApertureSize)
        return;
    for (uint32_t offset = 0; offset < VcRomApertureSize; offset += part->size)
        memcpy(window + VcRomAperture + offset, part->data, part->size);
}
