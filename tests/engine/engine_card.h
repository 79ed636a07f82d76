// One supported card on the virtual machine, reached through the driver path,
// with the engine's state reset around it.
#pragma once
#include <stdint.h>
#include "vcard/model/vcard.h"

extern VcMachine EngineMachine;

enum : uint16_t { TestVendorId = 0x10DE, TestDeviceId = 0x0281 };
enum : uint32_t { TestWindowBase = 0xE0000000 };

// Fits a part of the named type on a card strapped for `strap`, attaches the
// machine, resets status, recording and engine state. False when the part
// type is unknown.
bool AttachEngineCard(const char* partName, uint8_t deviceId, uint32_t strap);
VcCard* EngineCard();
VcFlashPart* EnginePart();
// DetectFlashInterface, IdentifyFlashPart and FindFlashPart as start-up runs them.
bool IdentifyEngineCard();
// A loadable image of `length` bytes in ImageBuffer (ImageLength, ImageLoaded,
// ImageFromFile set): header, PCI ids, a version 4 control block, then a
// fixed pattern.
void MakeTestImage(uint32_t length, uint16_t vendorId, uint16_t deviceId);
// First offset where the part differs from ImageBuffer over ImageLength, or -1.
int32_t FirstPartDifference();
