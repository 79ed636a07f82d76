// The update's image file, read by the front end before the flow runs: the
// flow is then handed exactly the bytes checked here and never opens the
// file itself. Regular files on a disk only (a FIFO, a device or a file of
// sysfs or procfs could block or lie about their size); the same size,
// modification time and bytes before and after the read; the PCI option-ROM
// checksum over the header's length.
#pragma once
#include <stdint.h>

#include "core/state.h"

struct ImageFile {
    uint8_t bytes[ImageBufferSize];
    uint32_t length;          // bytes read: the file's first ImageBufferSize at most
};

// Reads and checks `path` into `image`, saying on stderr what is wrong.
// False when the image must not be handed over: unreadable, not a regular
// file, changed while read, or a wrong checksum without `force`. An image
// whose header the flow refuses is handed over as it is, for the flow to
// refuse with its own text.
bool ReadImageFile(const char* path, bool force, ImageFile* image);

// The reading alone: a regular file on a disk, unchanged while read, its
// first ImageBufferSize bytes at most (the rest of `bytes` zero). False,
// said on stderr, otherwise.
bool ReadImageBytes(const char* path, ImageFile* image, uint64_t* fileSize);

// The sum of the bytes modulo 256: 0 for an option ROM a system BIOS runs.
uint8_t ImageChecksum(const uint8_t* bytes, uint32_t length);

// Called between the read and the second look at the file; tests change the
// file there.
extern void (*ImageFileReadHook)(const char* path);
