// The machine file: a virtual machine (vcard/model) as bytes, so that a
// program of ours can hand a machine to the virtual QZF.SYS and read it back
// when the driver has unloaded. Freestanding, like the model: the driver, the
// Wine harness and the unit tests share it. Format in driver/README.md.
#pragma once
#include <stdint.h>

#include "vcard/model/vcard.h"

enum : uint32_t {
    VcmVersion = 1,
    VcmStateFresh = 0,    // written by a program, not yet used by the driver
    VcmStateSaved = 1,    // written back by the driver as it unloaded
};

// Bytes a machine file can take at most.
uint32_t VcmMaxSize();

// Writes the machine; returns the bytes written, 0 when `size` is too small.
uint32_t VcmWrite(const VcMachine* machine, uint32_t state, uint8_t* buffer, uint32_t size);

// Replaces the machine with the file's. False, with the machine reset, for a
// file that is cut short, of another version, or names what the model does
// not have (a part type, a size, counts past the limits).
bool VcmRead(const uint8_t* buffer, uint32_t size, VcMachine* machine, uint32_t* state);
