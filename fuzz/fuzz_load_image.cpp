// Loading an image file of any content and size. A load that succeeds must
// have taken a whole image that fits the buffer, byte for byte from the
// file; one that fails must leave no image marked loaded and the length as
// it was. Input: a flags byte (bit 0: reads fail; bits 1..7: the byte the
// buffer held before), then the file's content.
#include <stdio.h>
#include <string.h>

#include <string>

#include "app/commands.h"
#include "core/state.h"
#include "engine/image.h"
#include "fuzz/fuzz_support.h"
#include "platform/recording/flow_recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = std::string(FuzzScratchFolder()) + "/IMAGE.ROM";
    FuzzInput in = MakeFuzzInput(data, size);
    uint8_t flags = TakeByte(in);
    size_t fileSize = 0;
    const uint8_t* file = Rest(in, &fileSize);

    FILE* out = fopen(path.c_str(), "wb");
    FuzzCheck(out != nullptr, "scratch file");
    FuzzCheck(fileSize == 0 || fwrite(file, 1, fileSize, out) == fileSize, "scratch file write");
    FuzzCheck(fclose(out) == 0, "scratch file close");

    FuzzCardMachine();
    FileFaults.readFails = (flags & 1) != 0;
    memset(ImageBuffer, flags >> 1, ImageBufferSize);
    const uint32_t lengthBefore = 0x1234;
    ImageLength = lengthBefore;
    ImageLoaded = false;

    bool loaded = LoadImageFile(ImageBuffer, path.c_str());
    FileFaults.readFails = false;

    if (!loaded) {
        FuzzCheck(!ImageLoaded, "a failed load left an image marked loaded");
        FuzzCheck(ImageLength == lengthBefore, "a failed load changed the length");
        return 0;
    }
    FuzzCheck(!(flags & 1), "loaded although every read failed");
    FuzzCheck(ImageLoaded, "a load did not mark the image loaded");
    uint32_t length = 0;
    FuzzCheck(ImageLengthFromHeader(ImageBuffer, &length) && length == ImageLength, "length not the header's");
    FuzzCheck(ImageLength > 0 && ImageLength <= ImageBufferSize, "loaded length outside the buffer");
    FuzzCheck(ImageLength <= fileSize, "loaded more than the file holds");
    FuzzCheck(memcmp(ImageBuffer, file, ImageLength) == 0, "loaded bytes differ from the file");
    return 0;
}
