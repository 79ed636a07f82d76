// The File menu commands and the image files they read and write.
#pragma once
#include <stdint.h>
#include "core/state.h"

// File-name part returned by the dialogs; kept, never used further.
extern char FileTitle[PathBufferSize];

// Reads an image file into `buffer` (ImageBufferSize bytes). False when the
// file cannot be opened or does not hold a whole image of at most
// ImageBufferSize bytes by its header; ImageLength is then unchanged.
bool LoadImageFile(uint8_t* buffer, const char* path);

// Writes the image in `buffer` whole, or leaves no file; then true when the
// card's ROM equals the buffer (the file stays either way).
bool SaveImageFile(const char* path, const uint8_t* buffer);

// The open / save dialog over FilePath and FileTitle. False when no name was
// confirmed; a name too long for the buffer is said so in a box.
bool ChooseImageToOpen();
bool ChooseImageToSave();

void UpdateBios();
void RestoreBios();
void SaveBios();
