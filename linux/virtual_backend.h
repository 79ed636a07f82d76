// The virtual card as the backend of a run: a machine from a profile file or
// the built-in one, its flash parts written back to their files at the end.
#pragma once
#include <stddef.h>

#include "linux/backend.h"
#include "vcard/model/vcard.h"

extern const DriverBackend VirtualBackend;

// Loads the profile (0: the built-in machine). False with the reason in `error`.
bool VirtualMachineLoad(const char* profile, char* error, size_t errorSize);
// Writes the parts that have files back to them, when the run erased or
// programmed any part and VirtualFilesKept is set; otherwise sets
// VirtualChangesDropped when there was something to write.
bool VirtualMachineSave(char* error, size_t errorSize);

// Cleared for a profile whose files must not be written (an installed
// example); set by default.
extern bool VirtualFilesKept;
extern bool VirtualChangesDropped;
void VirtualMachineFree();
VcMachine* VirtualMachineNow();
