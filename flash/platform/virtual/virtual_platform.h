// The driver, PCI BIOS and time seams served by the virtual card. Tests and
// the Linux front end attach a machine; every DeviceOpen / DeviceControl then
// reaches it, and Sleep and busy loops advance its clock.
#pragma once
#include <stdint.h>
#include "vcard/model/vcard.h"

extern VcMachine* VirtualMachine;

void VirtualPlatformAttach(VcMachine* machine);

// When set, PlatformSleep also waits in real time (interactive runs); tests
// leave it clear so that a whole flash takes milliseconds.
extern bool VirtualRealTime;
