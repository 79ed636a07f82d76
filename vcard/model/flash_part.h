// A virtual flash part: one of the listed parallel (JEDEC), SPI or second
// serial command set parts, as a state machine with busy time.
// Freestanding: fixed storage, no allocation, no exceptions, no library calls
// beyond memset/memcpy.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef uint64_t VcTime;   // virtual nanoseconds since the machine was made

enum { VcMaxFlashSize = 128 * 1024 };

enum VcPartBus : uint8_t { VcBusParallel = 0, VcBusSpi = 1, VcBusSerial2 = 2 };

// How a part behaves on its own bus (the second serial command set is the
// same for every family; see flash_part_serial2.cpp).
enum VcPartFamily : uint8_t {
    VcFamilyJedecByte = 0,   // byte program after AA 55 A0, chip erase AA 55 80 AA 55 10
    VcFamilyJedecPage = 1,   // 128-byte page write with software data protection
    VcFamilySpiAtmel = 2,    // 0x15 read id, 0x62 chip erase, 256-byte pages
    VcFamilySpiSst = 3,      // 0xAB/0x90 read id with address, byte program, 0x60 / 0xC7 erase
    VcFamilySpiPmc = 4,      // 0xAB read id, 256-byte pages, 0xC7 / 0x60 erase
    VcFamilySpiSt = 5,       // 0xAB electronic signature, 128-byte pages, 0xC7 erase
};

// SPI chip-erase opcodes a family accepts.
enum : uint8_t { VcEraseC7 = 1, VcErase60 = 2, VcErase62 = 4 };

// Behaviour flags of a catalogue row.
enum : uint8_t {
    VcFlagPlainF0Exit = 1,      // a lone F0 write also leaves identification mode
    VcFlagSdpAtPowerUp = 2,     // page-write part that powers up write-protected
    VcFlagProtectAtPowerUp = 4, // SPI part whose block-protect bits power up set
};

// One catalogue row. Times are datasheet typical (or realistic) values.
struct VcPartType {
    const char* name;          // part-table name
    const char* maker;
    uint8_t makerId;
    uint8_t deviceId;
    uint16_t sizeKiB;          // 64 or 128
    VcPartBus bus;             // the bus this part is made for
    VcPartFamily family;
    uint16_t pageSize;         // 1 = byte program; else page (write buffer / SPI page)
    uint32_t decodeMask;       // address bits seen in command cycles (A10-A0 = 0x7FF)
    uint32_t programUs;        // byte program, or page write / page program cycle
    uint32_t eraseMs;          // chip erase
    uint32_t idDelayUs;        // identification entry/exit takes effect after this
    uint32_t loadTimeoutUs;    // page-write parts: byte-load cycle time-out
    uint8_t eraseOps;          // SPI parts: chip-erase opcodes accepted
    uint8_t flags;
};

// Faults a test or profile may inject into one part.
struct VcPartFaults {
    bool eraseNeverFinishes;      // stays busy after a chip erase
    bool programNeverFinishes;    // stays busy after a program / page write
    bool stuckBitEnabled;         // one cell bit that never changes
    uint32_t stuckBitOffset;
    uint8_t stuckBitMask;
    uint8_t stuckBitValue;        // the value (0 or mask) that bit keeps
    bool deadByteEnabled;         // programs of this byte never take
    uint32_t deadByteOffset;
    bool pageLoadTimesOut;        // page-write parts: the byte-load timer expires after every load
    bool dataInStuckEnabled;      // serial data-in line stuck
    bool dataInStuckHigh;
};

struct VcFlashPart {
    const VcPartType* type;       // 0 = no part fitted
    uint32_t size;                // 64 or 128 KiB
    VcPartBus bus;                // the command set the part answers (its type's, or serial-2)
    VcPartFaults faults;
    uint32_t programUs;  // this part's program and erase times: its type's
    uint32_t eraseMs;    // unless a profile sets others
    // State machine and serial shifter: owned by flash_part*.cpp.
    uint32_t state;               // parallel: command cycle reached
    uint32_t cycle;
    bool idMode;                  // parallel: identification mode requested
    VcTime idSwitchAt;            // ...effective from this time on
    bool sdpEnabled;              // page-write parts: software data protection
    bool pageLoading;
    VcTime lastLoadAt;
    VcTime busyUntil;
    uint8_t busyKind;             // 0 none, 1 program, 2 erase
    uint8_t pollByte;             // data# polling reference (last byte written)
    uint8_t toggle;               // DQ6 toggle state
    uint32_t pageBase;
    uint16_t pageLoaded;
    uint8_t pageData[256];
    uint8_t pageMask[256];
    uint32_t serialLines;         // last lines seen: bit1 deselect, bit2 clock, bit3 data out
    bool selected;
    uint32_t shiftIn;
    uint32_t bitCount;
    uint32_t byteCount;
    uint8_t command;
    uint32_t address;
    bool responding;              // the part drives its output
    bool responseStarted;
    uint8_t outByte;
    int outBit;
    uint32_t outIndex;
    bool dataOut;                 // level the part drives on the data-in line
    bool writeEnabled;
    uint8_t statusBits;           // SPI status register bits other than busy / WEL
    bool statusWriteArmed;        // SST: EWSR seen
    bool commandIgnored;          // this selection's command is not for this part
    bool holding;                 // serial-2 program: a byte held back (the trailing 0x00?)
    uint8_t heldByte;
    uint32_t dataCount;           // data bytes received in this selection
    uint32_t idToggle;
    uint64_t programCount;        // programs and erases carried out, for tests
    uint64_t eraseCount;
    uint64_t programCommands;     // serial program commands received, carried out or not
    VcTime busyTime;              // their modelled times added up (one that never ends adds none)
    char file[260];               // host layer: where the contents live
    uint8_t data[VcMaxFlashSize];
};

// Catalogue lookup by part-table name (e.g. "29EE512", "AT25F1024"); an
// optional device code picks between rows of the same name (0 = first).
const VcPartType* VcFindPartType(const char* partName, uint8_t deviceId);
const VcPartType* VcPartTypeAt(int index);   // 0 .. count-1; 0 (none) beyond
int VcPartTypeCount();
const char* VcPartTypeName(const VcPartType* type);
uint8_t VcPartTypeMakerId(const VcPartType* type);
uint8_t VcPartTypeDeviceId(const VcPartType* type);
uint32_t VcPartTypeSize(const VcPartType* type);
VcPartBus VcPartTypeBus(const VcPartType* type);

// Fit a part of the given type on its own bus; contents start erased (0xFF).
void VcPartInit(VcFlashPart* part, const VcPartType* type);
// Fit a part of the given type answering the command set of `bus` instead
// (any listed type may sit on a serial-2 bus; any other bus than serial-2
// fits the part on its type's own bus).
void VcPartInitOnBus(VcFlashPart* part, const VcPartType* type, VcPartBus bus);
// SPI status register bits other than busy and WEL (block protection), as a
// profile may want them at power-up.
void VcPartSetStatusBits(VcFlashPart* part, uint8_t bits);

// True while a program or erase cycle runs (brings the part up to `now`:
// an expired byte-load timer starts the page write).
bool VcPartBusy(VcFlashPart* part, VcTime now);

// ROM aperture cycles (offset within the aperture, below 128 KiB).
uint8_t VcPartRead(VcFlashPart* part, uint32_t offset, VcTime now);
void VcPartWrite(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now);

// Serial lines, as written to the line register: bit 0 enable, bit 1 deselect
// (active-low chip select), bit 2 clock, bit 3 data out (to the part). With
// enable clear the card releases the lines: the part sees itself deselected.
void VcPartSerialLines(VcFlashPart* part, uint32_t lines, VcTime now);
// Level of the data-in line (from the part) at this moment; an undriven line
// reads 1 (pull-up).
bool VcPartSerialDataIn(VcFlashPart* part, VcTime now);

// Model internals shared by flash_part*.cpp (not for callers).
void VcPartSettle(VcFlashPart* part, VcTime now);
void VcPartStartBusy(VcFlashPart* part, uint8_t kind, VcTime from, uint64_t ns);
uint8_t VcPartCell(const VcFlashPart* part, uint32_t offset);
void VcPartProgramCell(VcFlashPart* part, uint32_t offset, uint8_t value);
void VcPartReplaceCell(VcFlashPart* part, uint32_t offset, uint8_t value);
void VcPartEraseAll(VcFlashPart* part);
void VcPartStartPageWrite(VcFlashPart* part, VcTime from);
uint8_t VcParallelRead(VcFlashPart* part, uint32_t offset, VcTime now);
void VcParallelWrite(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now);
void VcSpiSelect(VcFlashPart* part);
void VcSpiByte(VcFlashPart* part, uint8_t value, VcTime now);
uint8_t VcSpiResponseByte(VcFlashPart* part, VcTime now);
void VcSpiDeselect(VcFlashPart* part, VcTime now);
void VcSerial2Byte(VcFlashPart* part, uint8_t value, VcTime now);
uint8_t VcSerial2ResponseByte(VcFlashPart* part, VcTime now);
void VcSerial2Deselect(VcFlashPart* part, VcTime now);

enum : uint8_t { VcBusyNone = 0, VcBusyProgram = 1, VcBusyErase = 2 };
