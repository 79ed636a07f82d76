// Boards with two BIOS parts and a boot switch: detection by a write-and-read-
// back test on the dual-BIOS register, switching the ROM window between the
// parts, and the start-up offer to copy the second BIOS into the first.
#pragma once
#include <stdint.h>
#include "platform/dialogs.h"

enum : uint32_t { DualBiosRegister = 0x60081C };

bool DualBiosProbe();
// Ten passing probes in a row; leaves ROM 1 selected.
bool DetectDualBios();
bool SelectRom1();
bool SelectRom2();

// The "Dual BIOS information" dialog, modal, owned by `owner`.
void DualBiosDialog(WindowHandle owner);
// Its decisions: OK ends the dialog and asks the main window to restore;
// Cancel ends it, and in AutoMode ends the program too.
void DualBiosDialogCommand(DialogHandle dialog, int commandId);
