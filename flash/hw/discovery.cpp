// Card discovery: walk the PCI buses through the kernel driver (driver mode)
// or ask the PCI BIOS for each supported id and have the virtual device
// driver map each card's window (direct mode). Either way the card table is
// filled from index 0 and CurrentCard follows the last card added.
//
// The table holds eight cards. A ninth supported card stops the scan: the
// first eight stay as found, in order, and nothing is written past the
// table. Stopping rather than skipping keeps the table a prefix of the scan
// order, so the card numbering the user sees never depends on later slots.
#include <string.h>

#include "hw/hw.h"
#include "hw/driver_requests.h"
#include "platform/pci_bios.h"

CardRecord CardTable[CardTableSize];
int16_t CardCount;
int16_t CurrentCard;

namespace {

const char VxdPath[] = "\\\\.\\QZF.VXD";

// Set when the table is full and another supported card turned up.
bool TableFull;

// The next free entry, made current; 0 when the table is full.
CardRecord* AddCard()
{
    if (CardCount >= CardTableSize) {
        TableFull = true;
        return 0;
    }
    int16_t k = CardCount;
    CurrentCard = k;
    CardCount = static_cast<int16_t>(k + 1);
    CardRecord* card = &CardTable[k];
    memset(card, 0, sizeof *card);
    return card;
}

uint16_t Le16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t Le32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

bool DiscoverCards()
{
    CardCount = 0;
    if (AccessMode == AccessDirect) {
        ScanPciBios();
    } else {
        // Bus 1 first: the AGP card of the era sits there and becomes card 0.
        static const uint16_t busOrder[] = {1, 0, 2, 3};
        for (uint16_t bus : busOrder) {
            ScanBus(bus);
            if (TableFull)
                break;
        }
    }
    return CardCount > 0;
}

void ScanBus(uint16_t bus)
{
    TableFull = false;
    for (uint16_t slot = 0; slot < 64 && !TableFull; ++slot) {
        PciConfigRequest request;
        request.Bus = bus;
        request.Slot = slot;
        uint8_t config[PciConfigOutputSize];
        uint32_t returned = 0;
        if (!DeviceControl(DeviceHandle, IOCTL_PCI_CONFIG, &request, sizeof request, config, sizeof config,
                           &returned))
            continue;
        uint16_t vendorId = Le16(config + 0);
        uint16_t deviceId = Le16(config + 2);
        if (!IsSupportedId(vendorId, deviceId))
            continue;
        CardRecord* card = AddCard();
        if (!card)
            return;
        card->VendorId = vendorId;
        card->DeviceId = deviceId;
        card->BusNumber = static_cast<uint8_t>(bus);
        card->SlotNumber = static_cast<uint8_t>(slot);
        card->SubsystemVendorId = Le16(config + 0x2C);
        card->SubsystemId = Le16(config + 0x2E);
        card->WindowBase = Le32(config + 0x10) & 0xFF000000u;
    }
}

bool ScanPciBios()
{
    TableFull = false;
    for (int row = 0; row < SupportedIdCount && !TableFull; ++row) {
        const SupportedId& id = SupportedIdList[row];
        for (uint16_t instance = 0; instance < 4; ++instance) {
            uint8_t bus = 0;
            uint8_t devFn = 0;
            if (!PciBiosFindDevice(id.DeviceId, id.VendorId, instance, &bus, &devFn))
                break;
            CardRecord* card = AddCard();
            if (!card)
                break;
            card->VendorId = id.VendorId;
            card->DeviceId = id.DeviceId;
            card->BusNumber = bus;
            card->SlotNumber = devFn;
            MapWindowRequest request;
            request.PhysicalBase = PciBiosReadConfigDword(bus, devFn, 0x10) & 0xFF000000u;

            DriverHandle vxd = 0;
            if (!DeviceOpen(VxdPath, &vxd)) {
                // Without the mapping service no card can be reached at all.
                CardCount = 0;
                return false;
            }
            uint32_t linear = 0;
            uint32_t returned = 0;
            bool mapped = DeviceControl(vxd, VXD_MAP_WINDOW, &request, sizeof request, &linear, sizeof linear,
                                        &returned);
            DeviceClose(vxd);
            card->WindowBase = mapped ? linear : 0;
            card->SubsystemVendorId = PciBiosReadConfigWord(bus, devFn, 0x2C);
            card->SubsystemId = PciBiosReadConfigWord(bus, devFn, 0x2E);
        }
    }
    return CardCount != 0;
}
