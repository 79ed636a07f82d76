// The version text of an image of any length. The buffer holds exactly the
// bytes the length covers (at most 64 KiB); the text must be the failure
// text or the version line built from the control block found by a plain
// search. Input: ImageLength (4 bytes), then the image bytes, repeated.
#include <stdio.h>
#include <string.h>

#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "fuzz/fuzz_support.h"
#include "platform/recording/recording_ui.h"

namespace {

const char FailText[] = " read BIOS faile";
const uint8_t Signature[4] = {0xFF, 0x7F, 0x4E, 0x56};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in = MakeFuzzInput(data, size);
    uint32_t length = Take32(in);
    size_t payloadSize = 0;
    const uint8_t* payload = Rest(in, &payloadSize);
    size_t held = length < ImageBufferSize ? length : ImageBufferSize;
    static uint8_t area[ImageBufferSize];
    uint8_t* image = ExactBuffer(area, sizeof area, held);
    FillCyclic(image, held, payload, payloadSize);

    FuzzCardMachine();
    ImageLength = length;
    const char* text = BiosVersionText(image);

    // Where the control block is: the first signature with a byte after it.
    size_t at = held;
    const void* found = held > 0 ? memmem(image, held - 1, Signature, sizeof Signature) : nullptr;
    if (found != nullptr)
        at = static_cast<size_t>(static_cast<const uint8_t*>(found) - image);
    char expected[64] = "";
    bool readable = at + 14 <= held && image[at + 5] != 0 && (image[at + 5] < 5 || at + 63 <= held);
    if (readable) {
        int n = snprintf(expected, sizeof expected, "ROM BIOS version is :%02X.%02X.%02X.%02X", image[at + 13],
                         image[at + 12], image[at + 11], image[at + 10]);
        if (image[at + 5] >= 5)
            snprintf(expected + n, sizeof expected - n, ".%02X", image[at + 62]);
        FuzzCheck(text == StatusText && strcmp(text, expected) == 0, "version line");
    } else {
        FuzzCheck(strcmp(text, FailText) == 0, "failure text");
    }
    bool versionZero = at + 14 <= held && image[at + 5] == 0;
    FuzzCheck(Recording.boxCount == (versionZero ? 1u : 0u), "the control block version 0 box");
    return 0;
}
