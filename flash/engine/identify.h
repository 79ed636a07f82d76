// Identification of the selected card's flash part.
#pragma once

// Reads FlashMakerId and FlashDeviceId with the command set FlashInterface
// names. False only when the ROM access switch does not open; the codes then
// keep their values.
bool IdentifyFlashPart();
// Sets CurrentPart to the first listed entry with those codes, or entry 0.
bool FindFlashPart();
