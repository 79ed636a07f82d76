#include "engine/image.h"
#include "core/state.h"
#include "core/status.h"
#include "hw/hw.h"
#include "platform/ui.h"

uint16_t CardVendorId;
uint16_t CardDeviceId;

namespace {

typedef uint8_t (*ByteReader)(const uint8_t* image, uint32_t offset);

uint8_t BufferByte(const uint8_t* image, uint32_t offset)
{
    return image[offset];
}

uint8_t RomByte(const uint8_t*, uint32_t offset)
{
    return static_cast<uint8_t>(ReadRom8(offset));
}

uint16_t Word16(const uint8_t* image, uint32_t offset)
{
    return static_cast<uint16_t>(image[offset] | (image[offset + 1] << 8));
}

// The expansion ROM header rule, shared by the buffer and the ROM window.
// Every offset it reads stays below ImageBufferSize, which is inside the
// smallest part and inside the ROM aperture.
bool LengthByHeader(ByteReader byteAt, const uint8_t* image, uint32_t* length)
{
    if (byteAt(image, 0) != 0x55 || byteAt(image, 1) != 0xAA)
        return false;
    uint32_t size = byteAt(image, 2);
    if (size == 0)
        return false;
    uint32_t result = size * 512;
    if (byteAt(image, 0x34) & 0x80) {
        uint32_t w = byteAt(image, 0x36) | (byteAt(image, 0x37) << 8);
        if (w > result) {
            if (w + 1 >= ImageBufferSize)
                return false;
            result = w + byteAt(image, w + 1) * 128u;
        }
    }
    *length = result;
    return true;
}

void AppendHexByte(char* text, uint32_t* n, uint8_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    text[(*n)++] = digits[value >> 4];
    text[(*n)++] = digits[value & 0xF];
}

} // namespace

bool ImageLengthFromHeader(const uint8_t* image, uint32_t* length)
{
    return LengthByHeader(BufferByte, image, length);
}

bool RomImageLength(uint32_t* length)
{
    return LengthByHeader(RomByte, nullptr, length);
}

bool CheckImageFit(uint16_t pageSize, uint32_t, uint32_t length)
{
    if (length == 0) {
        PutUpText("ROM file size is 0 ");
        return false;
    }
    if (pageSize != 0 && length % pageSize != 0) {
        PutUpText("Page size is not mach witch ROM !");
        return false;
    }
    return true;
}

bool ImagePciIds(const uint8_t* image, uint32_t length, uint16_t* vendorId, uint16_t* deviceId)
{
    *vendorId = 0;
    *deviceId = 0;
    if (length > ImageBufferSize)
        length = ImageBufferSize;
    if (length < 0x1A)
        return false;
    uint32_t p = Word16(image, 0x18);
    if (p + 8 > length)
        return false;
    *vendorId = Word16(image, p + 4);
    *deviceId = Word16(image, p + 6);
    return true;
}

void LoadCardIds()
{
    if (CurrentCard < 0 || CurrentCard >= CardTableSize) {
        CardVendorId = 0;
        CardDeviceId = 0;
        return;
    }
    CardVendorId = CardTable[CurrentCard].VendorId;
    CardDeviceId = CardTable[CurrentCard].DeviceId;
}

bool CheckImageIds()
{
    uint16_t vendor = 0;
    uint16_t device = 0;
    // A data structure outside the image is a mismatch, shown with ids 0.
    bool found = ImagePciIds(ImageBuffer, ImageLength, &vendor, &device);
    LoadCardIds();
    if (found && vendor == CardVendorId && device == CardDeviceId)
        return true;
    SetStatusText("Device ID ( ");
    AppendStatusHex(device, false);
    AppendStatusText(") Vendor ID (");
    AppendStatusHex(vendor, true);
    AppendStatusText(")  mismatch....");
    ShowStatusText();
    return false;
}

const char* BiosVersionText(const uint8_t* buffer)
{
    static const char failText[] = " read BIOS faile";
    uint32_t n = ImageLength < ImageBufferSize ? ImageLength : ImageBufferSize;
    uint32_t at = 0;
    bool found = false;
    // At least one byte of the image must follow the signature.
    for (uint32_t i = 0; i + 4 < n; ++i) {
        if (buffer[i] == 0xFF && buffer[i + 1] == 0x7F && buffer[i + 2] == 0x4E && buffer[i + 3] == 0x56) {
            at = i;
            found = true;
            break;
        }
    }
    // The fields read must lie inside the image as well.
    if (!found || at + 14 > n)
        return failText;
    uint8_t blockVersion = buffer[at + 5];
    if (blockVersion == 0) {
        UiMessageBox(MainWindow, "ROM BIOS version is unavailable for\n Control Block version 0\n", "Error", UiMbOk);
        return failText;
    }
    bool fifth = blockVersion >= 5;
    if (fifth && at + 63 > n)
        return failText;
    char text[StatusLineSize];
    uint32_t len = 0;
    const char* prefix = "ROM BIOS version is :";
    while (*prefix != 0)
        text[len++] = *prefix++;
    AppendHexByte(text, &len, buffer[at + 13]);
    text[len++] = '.';
    AppendHexByte(text, &len, buffer[at + 12]);
    text[len++] = '.';
    AppendHexByte(text, &len, buffer[at + 11]);
    text[len++] = '.';
    AppendHexByte(text, &len, buffer[at + 10]);
    if (fifth) {
        text[len++] = '.';
        AppendHexByte(text, &len, buffer[at + 62]);
    }
    text[len] = 0;
    SetStatusText(text);
    return StatusText;
}
