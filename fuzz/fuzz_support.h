// Shared pieces of the fuzz targets: reading fields off the front of an
// input, a property check that stops the run, a one-card virtual machine on
// the driver path, and a scratch folder.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "vcard/model/vcard.h"

// Fields are taken from the front; what is left is the payload. A short
// input yields zeros for the fields it lacks.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at;
};

inline FuzzInput MakeFuzzInput(const uint8_t* data, size_t size)
{
    FuzzInput in = {data, size, 0};
    return in;
}

inline uint8_t TakeByte(FuzzInput& in)
{
    return in.at < in.size ? in.data[in.at++] : 0;
}

inline uint16_t Take16(FuzzInput& in)
{
    uint16_t low = TakeByte(in);
    return static_cast<uint16_t>(low | TakeByte(in) << 8);
}

inline uint32_t Take32(FuzzInput& in)
{
    uint32_t low = Take16(in);
    return low | static_cast<uint32_t>(Take16(in)) << 16;
}

// A text of up to `max` characters: a length byte, then that many bytes
// (fewer when the input ends). `out` holds max + 1 characters.
size_t TakeText(FuzzInput& in, char* out, size_t max);

inline const uint8_t* Rest(const FuzzInput& in, size_t* size)
{
    *size = in.size - in.at;
    return in.data + in.at;
}

// `size` usable bytes (size <= capacity) that end where `area` ends, with
// the rest of the area poisoned for AddressSanitizer: a read past them hits
// the area's end, one before them the poisoned part. Cheaper than a fresh
// allocation per input, with the same reports.
uint8_t* ExactBuffer(uint8_t* area, size_t capacity, size_t size);

// Fills `out` with the payload repeated (zeros for an empty payload), so a
// short input still reaches every offset of a large buffer.
void FillCyclic(uint8_t* out, size_t outSize, const uint8_t* payload, size_t payloadSize);

// Stops the run with a message when a property does not hold; libFuzzer
// then keeps the input as a crash.
[[noreturn]] void FuzzFail(const char* what);
inline void FuzzCheck(bool holds, const char* what)
{
    if (!holds)
        FuzzFail(what);
}

// One supported card (10DE:0281, parallel, 64 KiB part) on a machine reached
// through the kernel driver path, with the program's card table pointing at
// it. Made on first use; later calls reset the program's status lines and
// recording only.
VcMachine* FuzzCardMachine();
VcFlashPart* FuzzCardPart();

// A fresh folder below the system's temporary folder, made once per process.
const char* FuzzScratchFolder();
