// The card's virtual twin: what the program sees of the card it started on
// (its configuration space, strap interface, dual-BIOS state, the flash part
// of each ROM and the contents the ROM window shows) as a machine of the
// virtual card. "twin PROFILE" writes it as a profile with its part files;
// a rehearsal builds it in memory.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "vcard/model/vcard.h"

struct TwinPart {
    const VcPartType* type;  // the catalogue row the part identified as
    uint8_t makerId;
    uint8_t deviceId;
    uint8_t data[VcMaxFlashSize];  // the part's size of it, read through the window
};

struct TwinCard {
    char address[24];  // "0000:01:00.0"
    uint8_t bus;
    uint8_t slot;
    uint16_t vendorId;
    uint16_t deviceId;
    uint16_t subsystemVendorId;
    uint16_t subsystemId;
    uint32_t bar0;       // as configuration space holds it, low bits included
    uint32_t classCode;  // 24 bits
    uint32_t flashInterface;
    bool dualBios;  // booted from ROM 2 (the start-up's probe passed): parts are ROM 1, ROM 2
    int partCount;
    TwinPart parts[VcMaxPartsPerCard];
};

// Reads the card the start-up started on into `twin`. Reads only: no erase,
// no program; a dual-BIOS board gets its ROM selection back. False, with
// the reason in `why`, for a card that can have no twin (a part that is not
// in the catalogue of modelled parts).
bool CaptureTwin(TwinCard* twin, char* why, size_t whySize);

// The twin's profile. `files` (0: none) names each part's file, relative
// to the profile's folder. False when `text` is too small.
bool TwinProfileText(const TwinCard& twin, const char* const* files, char* text, size_t size);

// The twin as a machine: its profile through the profile parser, then the
// contents read from the card. False with the parser's reason.
bool TwinMachine(const TwinCard& twin, VcMachine* machine, char* error, size_t errorSize);

// "twin PROFILE": the started card's twin written as PROFILE and its part
// files beside it, each whole or not at all; files that exist are replaced
// only when the question is answered Yes (or --yes). The profile written is
// then loaded back and compared with the card. ExitOk, ExitFailed,
// ExitDeclined.
int ExportTwin(const char* profile);

// After a start-up that failed on a "twin" run: why no twin can be made,
// on stderr.
void TellNoTwin();
