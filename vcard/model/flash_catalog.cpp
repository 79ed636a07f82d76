// The listed flash parts, in the order of the part table.
//
// Columns: name, maker, maker id, device id, size (KiB; "512Kx1" is 64 KiB,
// "1024Kx1" 128 KiB), bus, family, page (1 = byte program), command-address
// decode mask, program time (µs: byte program, or the whole page write /
// page program cycle), chip erase (ms), identification entry/exit delay (µs),
// byte-load time-out (µs, page-write parts), SPI chip-erase opcodes, flags.
//
// The model runs each part at the times of its row: datasheet typical
// values, or the maximum where that is what the family's sheet states. A
// profile may set others per part (erase-ms=, program-us=), up to and beyond
// the maxima. The datasheet times, typical / maximum ("e": an estimate for
// the family, not read off the part's own sheet):
//
//   part                program (byte, or page cycle)   chip erase       model
//   29EE512, 29EE010    page 5 / 10 ms                  20 / 20 ms e     5 ms, 20 ms
//   29LE/VE512, 010     page 10 e / 10 ms               20 / 20 ms e     10 ms, 20 ms
//   39VF512, 39VF010    byte 14 / 20 us                 70 / 100 ms      14 us, 70 ms
//   39SF010             byte 14 / 20 us                 70 / 100 ms      20 us, 100 ms (maxima)
//   45VF010             byte 14 / 20 us e               70 / 100 ms e    20 us, 100 ms (maxima)
//   25VF512, 25VF010    byte 14 / 20 us                 70 / 100 ms      20 us, 100 ms (maxima)
//   29C512, 29C010A     page 5 e / 10 ms                10 e / 20 ms     10 ms, 20 ms
//   29LV512, 29LV/BV010A page 10 e / 20 ms              10 e / 20 ms     20 ms, 20 ms
//   49F512 .. 49BV/LV010 byte 30 e / 50 us e            3 e / 10 s e     50 us, 3 s
//   AT25F1024 (both)    page 2.5 e / 5 ms e             2 e / 4 s e      2.5 ms, 2 s
//   29LV010, 29LV001T/B byte 9 / 300 us e               1.5 e / 30 s e   9 us, 1.5 s
//   29F001T/B           byte 7 e / 200 us e             3 e / 20 s e     7 us, 3 s
//   M29W512B            byte 10 / 200 us e              1 e / 10 s e     10 us, 1 s
//   M25P05              page 1.4 e / 5 ms e             1 e / 3 s e      1.4 ms, 1 s
//   M25P10              page 1.4 / 5 ms e               2.5 / 6 s e      1.4 ms, 2 s
//                       (typical times from the sheet of its successor,
//                       the M25P10-A: 1.7 to 2.5 s bulk erase by revision)
//   W29EE512, W29C011A  page 5 e / 10 ms e              50 e / 50 ms e   5 ms, 50 ms
//   W39L010, W39L512    byte 35 e / 50 us e             100 e / 200 ms e 35 us, 100 ms
//   39LV512, 39LV010    byte 10 e / 40 us e             60 e / 100 ms e  10 us, 60 ms
//   25LV512, 25LV010    page 1.5 e / 5 ms e             100 e / 250 ms e 1.5 ms, 100 ms
//
// The slowest serial chip erase is thus the M25P10's 6 s; the flash engine
// polls a serial part for longer than that after its erase.
//
// Family notes:
//  - SST 29EE/LE/VE: identification access time 10 us, byte-load time-out
//    200 us, software data protection enabled when shipped.
//  - SST 45VF / 25VF serial: the block protection bits power up set. The
//    45VF010 is taken to answer like 25VF.
//  - Atmel 29C/29LV: byte-load time-out 150 us, shipped without data
//    protection.
//  - AMD 29LV and ST M29W512B decode A10-A0 in command cycles.
//  - Winbond W29EE512 / W29C011A: identification delay 10 us, byte-load
//    time-out 200 us.
#include "vcard/model/flash_part.h"

namespace {

const VcPartBus Par = VcBusParallel;
const VcPartBus Spi = VcBusSpi;
const VcPartFamily Byte = VcFamilyJedecByte;
const VcPartFamily Page = VcFamilyJedecPage;
const VcPartFamily SAtm = VcFamilySpiAtmel;
const VcPartFamily SSst = VcFamilySpiSst;
const VcPartFamily SPmc = VcFamilySpiPmc;
const VcPartFamily SSt = VcFamilySpiSt;
const uint8_t F0 = VcFlagPlainF0Exit;
const uint8_t Sdp = VcFlagSdpAtPowerUp;
const uint8_t Prot = VcFlagProtectAtPowerUp;
const uint8_t EC7 = VcEraseC7;
const uint8_t E60 = VcErase60;
const uint8_t E62 = VcErase62;

const VcPartType PartTypes[] = {
    // name            maker    mk    dev  KiB  bus  fam   page decode  progUs eraseMs idUs loadUs erase      flags
    {"29EE512",       "SST",   0xBF, 0x5D, 64,  Par, Page, 128, 0x7FFF, 5000,  20,     10,  200,   0,         Sdp},
    {"29LE/VE512",    "SST",   0xBF, 0x3D, 64,  Par, Page, 128, 0x7FFF, 10000, 20,     10,  200,   0,         Sdp},
    {"29EE010",       "SST",   0xBF, 0x07, 128, Par, Page, 128, 0x7FFF, 5000,  20,     10,  200,   0,         Sdp},
    {"29LE/VE010",    "SST",   0xBF, 0x08, 128, Par, Page, 128, 0x7FFF, 10000, 20,     10,  200,   0,         Sdp},
    {"39VF512",       "SST",   0xBF, 0xD4, 64,  Par, Byte, 1,   0x7FFF, 14,    70,     0,   0,     0,         F0},
    {"39VF010",       "SST",   0xBF, 0xD5, 128, Par, Byte, 1,   0x7FFF, 14,    70,     0,   0,     0,         F0},
    {"39SF010",       "SST",   0xBF, 0xB5, 128, Par, Byte, 1,   0x7FFF, 20,    100,    0,   0,     0,         F0},
    {"45VF010",       "SST",   0xBF, 0x42, 128, Spi, SSst, 1,   0,      20,    100,    0,   0,     E60 | EC7, Prot},
    {"25VF512",       "SST",   0xBF, 0x48, 64,  Spi, SSst, 1,   0,      20,    100,    0,   0,     E60 | EC7, Prot},
    {"25VF010",       "SST",   0xBF, 0x49, 128, Spi, SSst, 1,   0,      20,    100,    0,   0,     E60 | EC7, Prot},
    {"29C512",        "Atmel", 0x1F, 0x5D, 64,  Par, Page, 128, 0x7FFF, 10000, 20,     0,   150,   0,         0},
    {"29C010A",       "Atmel", 0x1F, 0xD5, 128, Par, Page, 128, 0x7FFF, 10000, 20,     0,   150,   0,         0},
    {"29LV512",       "Atmel", 0x1F, 0x3D, 64,  Par, Page, 128, 0x7FFF, 20000, 20,     0,   150,   0,         0},
    {"29LV/BV010A",   "Atmel", 0x1F, 0x35, 128, Par, Page, 128, 0x7FFF, 20000, 20,     0,   150,   0,         0},
    {"49F512",        "Atmel", 0x1F, 0x03, 64,  Par, Byte, 1,   0x7FFF, 50,    3000,   0,   0,     0,         0},
    {"49F001",        "Atmel", 0x1F, 0x05, 128, Par, Byte, 1,   0x7FFF, 50,    3000,   0,   0,     0,         0},
    {"49F001T",       "Atmel", 0x1F, 0x04, 128, Par, Byte, 1,   0x7FFF, 50,    3000,   0,   0,     0,         0},
    {"49F010",        "Atmel", 0x1F, 0x87, 128, Par, Byte, 1,   0x7FFF, 50,    3000,   0,   0,     0,         0},
    {"49(H)BV/LV010", "Atmel", 0x1F, 0x17, 128, Par, Byte, 1,   0x7FFF, 50,    3000,   0,   0,     0,         0},
    {"AT25F1024",     "Atmel", 0x1F, 0x60, 128, Spi, SAtm, 256, 0,      2500,  2000,   0,   0,     E62,       0},
    {"AT25F1024",     "Atmel", 0x1F, 0x40, 128, Spi, SAtm, 256, 0,      2500,  2000,   0,   0,     E62,       0},
    {"29LV010",       "AMD",   0x01, 0x6E, 128, Par, Byte, 1,   0x07FF, 9,     1500,   0,   0,     0,         F0},
    {"29LV001T",      "AMD",   0x01, 0xED, 128, Par, Byte, 1,   0x07FF, 9,     1500,   0,   0,     0,         F0},
    {"29LV001B",      "AMD",   0x01, 0x6D, 128, Par, Byte, 1,   0x07FF, 9,     1500,   0,   0,     0,         F0},
    {"29F001T",       "MX",    0xC2, 0x18, 128, Par, Byte, 1,   0x7FFF, 7,     3000,   0,   0,     0,         F0},
    {"29F001B",       "MX",    0xC2, 0x19, 128, Par, Byte, 1,   0x7FFF, 7,     3000,   0,   0,     0,         F0},
    {"M29W512B",      "ST",    0x20, 0x27, 64,  Par, Byte, 1,   0x07FF, 10,    1000,   0,   0,     0,         F0},
    {"M25P05",        "ST",    0x20, 0x05, 64,  Spi, SSt,  128, 0,      1400,  1000,   0,   0,     EC7,       0},
    {"M25P10",        "ST",    0x20, 0x10, 128, Spi, SSt,  128, 0,      1400,  2000,   0,   0,     EC7,       0},
    {"W29EE512",      "WBond", 0xDA, 0xC8, 64,  Par, Page, 128, 0x7FFF, 5000,  50,     10,  200,   0,         0},
    {"W29C011A",      "WBond", 0xDA, 0xC1, 128, Par, Page, 128, 0x7FFF, 5000,  50,     10,  200,   0,         0},
    {"W39L010",       "WBond", 0xDA, 0x31, 128, Par, Byte, 1,   0x7FFF, 35,    100,    0,   0,     0,         F0},
    {"W39L512",       "WBond", 0xDA, 0x38, 64,  Par, Byte, 1,   0x7FFF, 35,    100,    0,   0,     0,         F0},
    {"39LV512",       "PMC",   0x9D, 0x1B, 64,  Par, Byte, 1,   0x7FFF, 10,    60,     0,   0,     0,         F0},
    {"39LV010",       "PMC",   0x9D, 0x1C, 128, Par, Byte, 1,   0x7FFF, 10,    60,     0,   0,     0,         F0},
    {"25LV512",       "PMC",   0x9D, 0x7B, 64,  Spi, SPmc, 256, 0,      1500,  100,    0,   0,     EC7 | E60, 0},
    {"25LV010",       "PMC",   0x9D, 0x7C, 128, Spi, SPmc, 256, 0,      1500,  100,    0,   0,     EC7 | E60, 0},
};

const int PartTypeCount = (int)(sizeof(PartTypes) / sizeof(PartTypes[0]));

bool SameName(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

}  // namespace

const VcPartType* VcFindPartType(const char* partName, uint8_t deviceId) {
    if (!partName) return 0;
    const VcPartType* first = 0;
    for (int i = 0; i < PartTypeCount; ++i) {
        if (!SameName(PartTypes[i].name, partName)) continue;
        if (deviceId == 0 || PartTypes[i].deviceId == deviceId) return &PartTypes[i];
        if (!first) first = &PartTypes[i];
    }
    // A device code that matches no row of that name picks nothing.
    return deviceId == 0 ? first : 0;
}

const VcPartType* VcPartTypeAt(int index) {
    if (index < 0 || index >= PartTypeCount) return 0;
    return &PartTypes[index];
}

int VcPartTypeCount() { return PartTypeCount; }

const char* VcPartTypeName(const VcPartType* type) { return type ? type->name : ""; }
uint8_t VcPartTypeMakerId(const VcPartType* type) { return type ? type->makerId : 0; }
uint8_t VcPartTypeDeviceId(const VcPartType* type) { return type ? type->deviceId : 0; }
uint32_t VcPartTypeSize(const VcPartType* type) { return type ? (uint32_t)type->sizeKiB * 1024u : 0; }
VcPartBus VcPartTypeBus(const VcPartType* type) { return type ? type->bus : VcBusParallel; }
