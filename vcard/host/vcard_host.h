// Host side of the virtual card: machine allocation, text profiles that
// describe a machine (format in vcard/profiles/README.md), the files that
// keep flash contents between runs, and a generator of valid BIOS images.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "vcard/model/vcard.h"

// The machine is a few MB: allocate it once. Starts reset.
VcMachine* VcNewMachine();
void VcFreeMachine(VcMachine* machine);

// Reads a profile and, only when all of it is sound, replaces the machine's
// contents with it (reset machine, devices, cards, parts with their contents,
// faults). Part files are relative to the profile's folder. On failure the
// machine is untouched and `error` names the file and line.
bool VcLoadProfile(const char* path, VcMachine* machine, char* error, size_t errorSize);

// The same from text in memory: `name` stands for the file in messages,
// `folder` (may be 0 or "") is where relative part files are looked for.
bool VcLoadProfileText(const char* text, const char* name, const char* folder, VcMachine* machine, char* error,
                       size_t errorSize);

// Writes every part that has a file back to it (whole part size).
bool VcSaveFlashFiles(VcMachine* machine, char* error, size_t errorSize);

// A machine with several cards, for runs without a profile: two parallel
// cards on bus 1 and bus 0, an SPI card, a dual-BIOS board booted from ROM 2,
// a host bridge and an audio device. Parts are filled with generated images;
// nothing is kept in files.
extern const char VcBuiltinProfile[];

// ---- BIOS images ----

struct VcBiosImageSpec {
    uint16_t vendorId;
    uint16_t deviceId;
    uint32_t length;              // bytes, a multiple of 512, at most 65536
    uint8_t version[5];           // printed first to last: "04.25.15.00" (+ ".01")
    bool fifthVersionByte;        // control block version 5 (else 4)
};

// Makes a PCI expansion ROM image of spec.length bytes in `out` (which holds
// `outSize` bytes; what follows the image is left alone): signature, size,
// PCI data structure with the ids, the graphics BIOS control block with the
// version, a filler that differs from byte to byte, and a checksum byte that
// makes the image sum to 0. False when the length is not a multiple of 512
// from 1 KiB to 64 KiB, or does not fit in outSize.
bool VcMakeBiosImage(const VcBiosImageSpec& spec, uint8_t* out, uint32_t outSize);

// Offsets used by the generated images.
enum : uint32_t { VcImagePcirOffset = 0x0100, VcImageControlBlockOffset = 0x0200 };

// Parses "04.25.15.00" or "04.25.15.00.01" (hex bytes) into a spec.
bool VcParseBiosVersion(const char* text, VcBiosImageSpec* spec);
