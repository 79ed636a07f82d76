// Checks on a BIOS image (expansion ROM header, PCI ids, length against the
// part's program unit) and its version text.
#pragma once
#include <stdint.h>

extern uint16_t CardVendorId;
extern uint16_t CardDeviceId;

// Length from the header of an image in a buffer of ImageBufferSize bytes.
// Invalid as well when the extension offset points outside the buffer. The
// length may exceed the buffer (up to 130,560): callers refuse such images.
bool ImageLengthFromHeader(const uint8_t* image, uint32_t* length);
// The same rule over the card's ROM window (ROM access open).
bool RomImageLength(uint32_t* length);
// True when length is a whole number of program units. sectorKB is carried.
bool CheckImageFit(uint16_t pageSize, uint32_t sectorKB, uint32_t length);
// Ids of the PCI data structure; false (ids 0) when it lies outside the
// first `length` bytes.
bool ImagePciIds(const uint8_t* image, uint32_t length, uint16_t* vendorId, uint16_t* deviceId);
void LoadCardIds();
// ImageBuffer's ids against the selected card.
bool CheckImageIds();
// StatusText holding the version line, or " read BIOS faile".
const char* BiosVersionText(const uint8_t* buffer);
