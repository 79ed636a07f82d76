#include "linux/image_commands.h"

#include <stdio.h>
#include <string.h>

#include "app/dual_bios.h"
#include "core/state.h"
#include "engine/flash.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "linux/cards.h"
#include "linux/front_end.h"
#include "linux/image_file.h"
#include "platform/console/console.h"

namespace {

// The file's image: its bytes and the length its header gives.
struct CheckedImage {
    ImageFile file;
    uint64_t fileSize;
    uint32_t length;
    char problem[160];  // why an update would refuse the header; empty when none
};

// Reads `path` and judges its header as an update would.
bool ReadCheckedImage(const char* path, CheckedImage* image)
{
    image->problem[0] = 0;
    image->length = 0;
    if (!ReadImageBytes(path, &image->file, &image->fileSize))
        return false;
    const uint8_t* bytes = image->file.bytes;
    char* problem = image->problem;
    const size_t size = sizeof image->problem;
    if (image->file.length < 3 || bytes[0] != 0x55 || bytes[1] != 0xAA)
        snprintf(problem, size, "no expansion ROM signature (55 AA) at its start: not a BIOS image");
    else if (bytes[2] == 0)
        snprintf(problem, size, "its size byte is 0: not a valid image");
    else if (!ImageLengthFromHeader(bytes, &image->length))
        snprintf(problem, size, "its header's extension lies past the %u bytes the program handles",
                 static_cast<unsigned>(ImageBufferSize));
    else if (image->length > ImageBufferSize)
        snprintf(problem, size, "its header says %u bytes, more than the %u the program handles", image->length,
                 static_cast<unsigned>(ImageBufferSize));
    else if (image->length > image->fileSize)
        snprintf(problem, size, "its header says %u bytes, the file holds %llu: it is cut short", image->length,
                 static_cast<unsigned long long>(image->fileSize));
    return true;
}

void Say(const char* format, unsigned long long a, unsigned long long b = 0, unsigned long long c = 0)
{
    char line[256];
    snprintf(line, sizeof line, format, a, b, c);
    ConsolePrintLine(line);
}

void SayText(const char* label, const char* text)
{
    char line[PathBufferSize + 256];
    snprintf(line, sizeof line, "%-10s %s", label, text);
    ConsolePrintLine(line);
}

// A card of the table against the image: its ids, and whether the image
// fits its flash part.
void JudgeCard(int index, const CheckedImage& image, uint16_t vendor, uint16_t device)
{
    const CardRecord& card = CardTable[index];
    const ChipEntry* chip = 0;
    FindChipEntry(card.VendorId, card.DeviceId, &chip);
    char address[24], verdict[384];
    CardAddressText(index, address, sizeof address);
    if (card.VendorId != vendor || card.DeviceId != device) {
        snprintf(verdict, sizeof verdict, "not made for it (the card is %04X:%04X)", card.VendorId, card.DeviceId);
    } else {
        CardPart part = IdentifyCardPart(index);
        char described[256];
        DescribePart(part, described, sizeof described);
        const char* fit = "";
        if (!part.known)
            fit = "made for it; its flash part: ";
        else if (part.bytes != 0 && image.length > part.bytes)
            fit = "made for it, but larger than its flash part ";
        else if (part.part->pageSize != 0 && image.length % part.part->pageSize != 0)
            fit = "made for it, but not a whole number of program units of its ";
        else
            fit = "made for it and fits its ";
        snprintf(verdict, sizeof verdict, "%s%s", fit, described);
    }
    char line[512];
    snprintf(line, sizeof line, "card %d at %s, %s: %s", index, address, chip ? chip->Name : "?", verdict);
    ConsolePrintLine(line);
}

}  // namespace

int VerifyCard(const char* path)
{
    static CheckedImage image;
    if (!ReadCheckedImage(path, &image))
        return ExitFailed;
    if (image.problem[0]) {
        fprintf(stderr, "qzflash: %s: %s; nothing to compare.\n", path, image.problem);
        return ExitFailed;
    }
    // The part an update writes.
    if (DualBios && !SelectRom1()) {
        fputs("qzflash: ROM 1 of the dual-BIOS board cannot be selected; nothing was compared.\n", stderr);
        return ExitFailed;
    }
    static uint8_t rom[ImageBufferSize];
    ReadRomBytes(rom, image.length);
    uint32_t differ = 0, first = 0;
    for (uint32_t i = 0; i < image.length; ++i) {
        if (rom[i] != image.file.bytes[i] && differ++ == 0)
            first = i;
    }
    if (differ == 0) {
        Say("identical: the card holds the image's %llu bytes", image.length);
        return ExitOk;
    }
    char line[256];
    snprintf(line, sizeof line,
             "different: %u of the image's %u bytes differ, the first at offset 0x%X (%u): card 0x%02X, file 0x%02X",
             differ, image.length, first, first, rom[first], image.file.bytes[first]);
    ConsolePrintLine(line);
    return ExitFailed;
}

int InspectImage(const char* path)
{
    static CheckedImage image;
    if (!ReadCheckedImage(path, &image))
        return ExitFailed;
    const uint8_t* bytes = image.file.bytes;
    char text[256];
    snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(image.fileSize));
    if (!image.problem[0] && image.fileSize > image.length)
        snprintf(text, sizeof text, "%llu bytes, %llu past the image's end; an update writes the first %u",
                 static_cast<unsigned long long>(image.fileSize),
                 static_cast<unsigned long long>(image.fileSize - image.length), image.length);
    SayText("file:", text);
    if (image.problem[0]) {
        SayText("header:", image.problem);
        return ExitFailed;
    }
    snprintf(text, sizeof text, "an image of %u bytes", image.length);
    SayText("header:", text);

    uint16_t vendor = 0, device = 0;
    bool idsRead = ImagePciIds(bytes, image.length, &vendor, &device);
    bool good = idsRead;
    if (!idsRead) {
        SayText("ids:", "its PCI data structure lies outside the image");
    } else {
        const ChipEntry* chip = 0;
        bool known = FindChipEntry(vendor, device, &chip);
        snprintf(text, sizeof text, "vendor %04X, device %04X%s%s", vendor, device, known ? ": " : "",
                 known ? chip->Name : "");
        SayText("ids:", text);
    }
    // The version as the update shows it, over the image's own length.
    uint32_t length = ImageLength;
    ImageLength = image.length;
    snprintf(text, sizeof text, "%s", BiosVersionText(bytes));
    ImageLength = length;
    SayText("version:", text);
    uint8_t sum = ImageChecksum(bytes, image.length);
    if (sum == 0) {
        snprintf(text, sizeof text, "right: the image's bytes sum to 0");
    } else {
        snprintf(text, sizeof text, "wrong: the image's bytes sum to 0x%02X, not 0; an update needs --force", sum);
        good = false;
    }
    SayText("checksum:", text);

    if (CardCount == 0)
        SayText("cards:", "none found");
    for (int i = 0; idsRead && i < CardCount; ++i)
        JudgeCard(i, image, vendor, device);
    return good ? ExitOk : ExitFailed;
}
