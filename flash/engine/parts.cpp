#include "engine/parts.h"

// kind, makerId, deviceId, pageSize, sectorKB, eraseFirst, maker, voltage, partName, organisation
const FlashPartEntry FlashPartTable[FlashPartCount] = {
    {PartUnknown, 0x00, 0x00, 0, 0, 0, "Unknown", nullptr, nullptr, nullptr},
    {PartOverridden, 0x00, 0x00, 0, 0, 0, "Overridden", nullptr, nullptr, nullptr},
    {PartListed, 0xBF, 0x5D, 128, 0, 0, "SST", "5.0", "29EE512", "64Kx8"},
    {PartListed, 0xBF, 0x3D, 128, 0, 0, "SST", "2.9,2.7", "29LE/VE512", "64Kx8"},
    {PartListed, 0xBF, 0x07, 128, 0, 0, "SST", "5.0", "29EE010", "128Kx8"},
    {PartListed, 0xBF, 0x08, 128, 0, 0, "SST", "2.9,2.7", "29LE/VE010", "128Kx8"},
    {PartListed, 0xBF, 0xD4, 1, 4, 1, "SST", "2.7-3.6", "39VF512", "64Kx8"},
    {PartListed, 0xBF, 0xD5, 1, 4, 1, "SST", "2.7-3.6", "39VF010", "128Kx8"},
    {PartListed, 0xBF, 0xB5, 1, 4, 1, "SST", "5.0", "39SF010", "128Kx8"},
    {PartListed, 0xBF, 0x42, 1, 4, 1, "SST", "3.0-3.6", "45VF010", "128Kx8"},
    {PartListed, 0xBF, 0x48, 1, 32, 1, "SST", "2.7-3.6", "25VF512", "64Kx8"},
    {PartListed, 0xBF, 0x49, 1, 32, 1, "SST", "2.7-3.6", "25VF010", "128Kx8"},
    {PartListed, 0x1F, 0x5D, 128, 0, 0, "Atmel", "5.0", "29C512", "64Kx8"},
    {PartListed, 0x1F, 0xD5, 128, 0, 0, "Atmel", "5.0", "29C010A", "128Kx8"},
    {PartListed, 0x1F, 0x3D, 128, 0, 0, "Atmel", "3.0", "29LV512", "64Kx8"},
    {PartListed, 0x1F, 0x35, 128, 0, 0, "Atmel", "3.0", "29LV/BV010A", "128Kx8"},
    {PartListed, 0x1F, 0x03, 1, 0, 1, "Atmel", "5.0,3.0,2.7", "49F512", "64Kx8"},
    {PartListed, 0x1F, 0x05, 1, 0, 1, "Atmel", "5.0", "49F001", "128Kx8"},
    {PartListed, 0x1F, 0x04, 1, 0, 1, "Atmel", "5.0", "49F001T", "128Kx8"},
    {PartListed, 0x1F, 0x87, 1, 0, 1, "Atmel", "5.0", "49F010", "128Kx8"},
    {PartListed, 0x1F, 0x17, 1, 0, 1, "Atmel", "2.7-3.6", "49(H)BV/LV010", "128Kx8"},
    {PartListed, 0x1F, 0x60, 256, 32, 1, "Atmel", "2.7-3.6", "AT25F1024", "128Kx8"},
    {PartListed, 0x1F, 0x40, 256, 32, 1, "Atmel", "2.7-3.6", "AT25F1024", "128Kx8"},
    {PartListed, 0x01, 0x6E, 1, 16, 1, "AMD", "2.7v", "29LV010", "128Kx8"},
    {PartListed, 0x01, 0xED, 1, 16, 1, "AMD", "2.7v", "29LV001T", "128Kx8"},
    {PartListed, 0x01, 0x6D, 1, 16, 1, "AMD", "2.7v", "29LV001B", "128Kx8"},
    {PartListed, 0xC2, 0x18, 1, 0, 1, "MX", "5.0", "29F001T", "128Kx8"},
    {PartListed, 0xC2, 0x19, 1, 0, 1, "MX", "5.0", "29F001B", "128Kx8"},
    {PartListed, 0x20, 0x27, 1, 0, 1, "ST", "2.7-3.6", "M29W512B", "64Kx8"},
    {PartListed, 0x20, 0x05, 128, 32, 1, "ST", "2.7-3.6", "M25P05", "512Kx1"},
    {PartListed, 0x20, 0x10, 128, 32, 1, "ST", "2.7-3.6", "M25P10", "1024Kx1"},
    {PartListed, 0xDA, 0xC8, 128, 0, 1, "WBond", "5.0", "W29EE512", "64Kx8"},
    {PartListed, 0xDA, 0xC1, 128, 0, 0, "WBond", "5.0", "W29C011A", "128Kx8"},
    {PartListed, 0xDA, 0x31, 1, 0, 1, "WBond", "3.0", "W39L010", "128Kx8"},
    {PartListed, 0xDA, 0x38, 1, 0, 1, "WBond", "3.0", "W39L512", "64Kx8"},
    {PartListed, 0x9D, 0x1B, 1, 4, 1, "PMC", "3.0-3.6", "39LV512", "64Kx8"},
    {PartListed, 0x9D, 0x1C, 1, 4, 1, "PMC", "3.0-3.6", "39LV010", "128Kx8"},
    {PartListed, 0x9D, 0x7B, 256, 32, 1, "PMC", "2.7-3.6", "25LV512", "64Kx8"},
    {PartListed, 0x9D, 0x7C, 256, 32, 1, "PMC", "2.7-3.6", "25LV010", "128Kx8"},
    {PartTableEnd, 0x00, 0x00, 0, 0, 0, nullptr, nullptr, nullptr, nullptr},
};

uint32_t FlashInterface;
uint8_t FlashMakerId;
uint8_t FlashDeviceId;
const FlashPartEntry* CurrentPart;

void OpenRomAccess()
{
    WriteReg8(RomAccessSwitch, 0);
}

void CloseRomAccess()
{
    WriteReg8(RomAccessSwitch, 1);
}

uint32_t DetectFlashInterface(const ChipEntry* chip)
{
    OpenRomAccess();
    uint32_t result = InterfaceParallel;
    if (chip != nullptr && chip->StrapFlag != 0)
        result = (ReadReg32(StrapRegister) & 0x60000000u) >> 29;
    CloseRomAccess();
    return result;
}
