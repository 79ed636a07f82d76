// The image length rule over a buffer and over the card's ROM window: both
// must agree, stay inside the 64 KiB buffer and give a length the header can
// express. The buffer is exactly ImageBufferSize bytes, so a read past it is
// an AddressSanitizer report.
#include <stdlib.h>
#include <string.h>

#include "core/state.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static uint8_t* image = static_cast<uint8_t*>(malloc(ImageBufferSize));
    FillCyclic(image, ImageBufferSize, data, size);

    uint32_t fromBuffer = 0xDEADBEEF;
    bool bufferValid = ImageLengthFromHeader(image, &fromBuffer);
    if (bufferValid) {
        FuzzCheck(image[0] == 0x55 && image[1] == 0xAA && image[2] != 0, "valid without signature and size");
        FuzzCheck(fromBuffer >= 512 && fromBuffer <= 255u * 512u, "length outside what a header can give");
    } else {
        FuzzCheck(fromBuffer == 0xDEADBEEF, "invalid header changed the length");
    }

    // The same bytes in a 64 KiB part, read through the driver requests.
    VcFlashPart* part = FuzzCardPart();
    memcpy(part->data, image, ImageBufferSize);
    OpenRomAccess();
    uint32_t fromRom = 0xDEADBEEF;
    bool romValid = RomImageLength(&fromRom);
    CloseRomAccess();
    FuzzCheck(romValid == bufferValid, "ROM window and buffer disagree on validity");
    FuzzCheck(fromRom == fromBuffer, "ROM window and buffer disagree on the length");
    return 0;
}
