// Erase, program and verify of a whole image; reading the card's ROM.
#pragma once
#include <stdint.h>
#include "platform/ui.h"

// Bytes per progress block.
enum : uint32_t { ProgressBlockBytes = 2048 };
// Erase attempts whose ROM access switch misbehaved before the write gives up.
enum { MaxEraseSwitchFailures = 10 };

bool FlashImage();
bool WriteImage(WindowHandle window, const uint8_t* image, uint32_t length);
bool EraseFlash();
bool CheckBlank(uint32_t length);
bool VerifyRom(const uint8_t* buffer);
// buffer holds ImageBufferSize bytes.
bool ReadRomImage(uint8_t* buffer);
// The first `length` bytes of the ROM window whatever its header says (a
// comparison with a file needs them also when the header is gone). Changes
// neither ImageLength nor ImageLoaded.
void ReadRomBytes(uint8_t* buffer, uint32_t length);
