#include "linux/cards.h"

#include <stdio.h>
#include <string.h>

#include "app/select_card.h"
#include "core/state.h"
#include "engine/identify.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/driver_setup.h"
#include "hw/hw.h"
#include "linux/backend.h"
#include "linux/front_end.h"
#include "linux/sysfs_driver.h"
#include "platform/driver_io.h"

namespace {

const char* const InterfaceNames[] = {"parallel", "SPI", "serial", "reserved"};

bool OpenDevice()
{
    AccessMode = AccessDriver;
    DriverHandle handle = 0;
    if (!DeviceOpen(KernelDevicePath, &handle))
        return false;
    DeviceHandle = handle;
    return true;
}

void CloseDevice()
{
    DeviceClose(DeviceHandle);
    DeviceHandle = 0;
    CurrentCard = 0;
}

// Bytes of a part whose organisation reads "<N>Kx<bits>", or 0.
uint32_t PartBytes(const FlashPartEntry* part)
{
    unsigned kilo = 0, bits = 0;
    char k = 0, x = 0;
    if (!part || !part->organisation || sscanf(part->organisation, "%u%c%c%u", &kilo, &k, &x, &bits) != 4 || k != 'K' ||
        x != 'x')
        return 0;
    return kilo * 1024u * bits / 8u;
}

// The sysfs card at card table index `index`, or 0 (virtual card).
const SysfsCard* RealCard(int index)
{
    for (int k = 0; RunBackend == BackendSysfs && k < SysfsDriverCardCount(); ++k) {
        const SysfsCard* card = SysfsDriverCard(k);
        if (card->bus == CardTable[index].BusNumber && card->slot == CardTable[index].SlotNumber)
            return card;
    }
    return 0;
}

}  // namespace

bool DiscoverOnly()
{
    if (!OpenDevice())
        return false;
    DiscoverCards();
    CloseDevice();
    return true;
}

void CardAddressText(int index, char* text, size_t size)
{
    const CardRecord& card = CardTable[index];
    snprintf(text, size, "0000:%02x:%02x.%x", card.BusNumber, card.SlotNumber & 31, card.SlotNumber >> 5);
}

int FindCardAt(const CardAddress& address)
{
    for (int i = 0; address.domain == 0 && i < CardCount; ++i) {
        if (CardTable[i].BusNumber == address.bus && CardTable[i].SlotNumber == address.slot)
            return i;
    }
    return -1;
}

CardPart IdentifyCardPart(int index)
{
    CardPart result;
    memset(&result, 0, sizeof result);
    if (!RegistersReachable) {
        result.why = "identified with root only";
        return result;
    }
    if (!IsSupportedGeneration(CardTable[index].DeviceId)) {
        result.why = "not looked for: the program works on GeForce4 and later only";
        return result;
    }
    if (!OpenDevice()) {
        result.why = "the driver device cannot be opened";
        return result;
    }
    CurrentCard = static_cast<int16_t>(index);
    LoadCardIds();
    const ChipEntry* chip = 0;
    FindChipEntry(CardVendorId, CardDeviceId, &chip);
    FlashInterface = DetectFlashInterface(chip ? chip : &ChipTable[0]);
    // As an unattended start-up would: no message box for a part not listed.
    bool quiet = AutoMode;
    AutoMode = true;
    IdentifyFlashPart();
    bool listed = FindFlashPart();
    AutoMode = quiet;
    CloseDevice();
    result.makerId = FlashMakerId;
    result.deviceId = FlashDeviceId;
    result.flashInterface = FlashInterface;
    if (!listed) {
        result.why = "not in the table of supported flash parts (\"Supported EEPROM not found.\")";
        return result;
    }
    result.known = true;
    result.part = CurrentPart;
    result.bytes = PartBytes(CurrentPart);
    return result;
}

CardPart CurrentCardPart()
{
    CardPart result;
    memset(&result, 0, sizeof result);
    result.known = CurrentPart != 0;
    result.why = "not identified";
    result.makerId = FlashMakerId;
    result.deviceId = FlashDeviceId;
    result.part = CurrentPart;
    result.flashInterface = FlashInterface;
    result.bytes = PartBytes(CurrentPart);
    return result;
}

void DescribePart(const CardPart& part, char* text, size_t size)
{
    if (!part.known) {
        if (part.makerId || part.deviceId)
            snprintf(text, size, "codes %X,%X, %s", part.makerId, part.deviceId, part.why);
        else
            snprintf(text, size, "%s", part.why);
        return;
    }
    const FlashPartEntry* entry = part.part;
    char units[32] = "program unit unknown";
    if (entry->pageSize == 1)
        snprintf(units, sizeof units, "written byte by byte");
    else if (entry->pageSize > 1)
        snprintf(units, sizeof units, "%u-byte pages", entry->pageSize);
    snprintf(text, size, "%s %s (%X,%X), %u KiB, %s, %s", entry->maker ? entry->maker : "?",
             entry->partName ? entry->partName : "?", part.makerId, part.deviceId, part.bytes / 1024, units,
             InterfaceNames[part.flashInterface & 3]);
}

int ListCards(bool parts)
{
    if (!DiscoverOnly()) {
        fputs("qzflash: the driver device cannot be opened.\n", stderr);
        return ExitFailed;
    }
    for (int i = 0; i < CardCount; ++i) {
        char line[CardListLineSize];
        CardListLine(i, line, sizeof line);
        char address[24];
        CardAddressText(i, address, sizeof address);
        const SysfsCard* real = RealCard(i);
        printf("%d:%s    %s%s\n", i, line, address, real && real->bootVga ? ", boot VGA (drives the console)" : "");
        if (parts) {
            char part[256];
            DescribePart(IdentifyCardPart(i), part, sizeof part);
            printf("   flash part: %s\n", part);
        }
    }
    fflush(stdout);
    if (RunBackend == BackendSysfs)
        TellUnusableCards(stdout, "-: ");
    if (CardCount == 0) {
        fputs("qzflash: no supported card found.\n", stderr);
        return ExitFailed;
    }
    return ExitOk;
}

void TellUnusableCards(FILE* out, const char* prefix)
{
    const SysfsUnusableCard* cards = 0;
    int count = SysfsDriverUnusableCards(&cards);
    for (int i = 0; i < count; ++i) {
        const ChipEntry* chip = 0;
        FindChipEntry(cards[i].vendorId, cards[i].deviceId, &chip);
        fprintf(out, "%s%s at %s, not usable: %s\n", prefix, chip->Name, cards[i].name, cards[i].reason);
    }
}
