// The PCI ids of an image and the check against the selected card, for any
// declared length: the buffer holds exactly the bytes the length covers (at
// most 64 KiB), so reading the data structure past it is a sanitizer report.
// Input: declared length (4 bytes), the card's vendor and device ids (2 + 2),
// then the image bytes, repeated to fill the buffer.
#include <string.h>

#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "fuzz/fuzz_support.h"
#include "hw/hw.h"

namespace {

bool EndsWith(const char* text, const char* tail)
{
    size_t n = strlen(text);
    size_t m = strlen(tail);
    return n >= m && strcmp(text + n - m, tail) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in = MakeFuzzInput(data, size);
    uint32_t length = Take32(in);
    uint16_t cardVendor = Take16(in);
    uint16_t cardDevice = Take16(in);
    size_t payloadSize = 0;
    const uint8_t* payload = Rest(in, &payloadSize);

    size_t held = length < ImageBufferSize ? length : ImageBufferSize;
    static uint8_t area[ImageBufferSize];
    uint8_t* image = ExactBuffer(area, sizeof area, held);
    FillCyclic(image, held, payload, payloadSize);

    uint16_t vendor = 0x1111;
    uint16_t device = 0x2222;
    bool found = ImagePciIds(image, length, &vendor, &device);
    if (found) {
        uint32_t p = image[0x18] | image[0x19] << 8;
        FuzzCheck(p + 8 <= held, "ids taken from outside the image");
        FuzzCheck(vendor == (image[p + 4] | image[p + 5] << 8) && device == (image[p + 6] | image[p + 7] << 8),
                  "ids not the ones at the data structure");
    } else {
        FuzzCheck(vendor == 0 && device == 0, "ids of an image without a data structure are not 0");
    }

    // CheckImageIds reads ImageBuffer over ImageLength, against CardTable.
    FuzzCardMachine();
    memset(ImageBuffer, 0xA5, ImageBufferSize);
    memcpy(ImageBuffer, image, held);
    ImageLength = length;
    CardTable[0].VendorId = cardVendor;
    CardTable[0].DeviceId = cardDevice;
    int32_t linesBefore = LastStatusLine;
    bool match = CheckImageIds();
    FuzzCheck(match == (found && vendor == cardVendor && device == cardDevice), "id check result");
    if (match) {
        FuzzCheck(LastStatusLine == linesBefore, "a match put up a line");
    } else {
        FuzzCheck(LastStatusLine == linesBefore + 1, "a mismatch put up no line");
        const char* line = StatusLines[LastStatusLine];
        FuzzCheck(strncmp(line, "Device ID ( ", 12) == 0 && EndsWith(line, ")  mismatch...."), "mismatch text");
    }
    CardTable[0].VendorId = 0x10DE;
    CardTable[0].DeviceId = 0x0281;
    return 0;
}
