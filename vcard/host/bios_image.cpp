// Generated BIOS images: enough of a graphics card's expansion ROM for the
// flash utility to accept it (header, PCI ids, control block with version).
#include <string.h>

#include "vcard/host/vcard_host.h"

namespace {

void Put16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

bool VcMakeBiosImage(const VcBiosImageSpec& spec, uint8_t* out, uint32_t outSize)
{
    uint32_t length = spec.length;
    if (length < 0x400 || length > 0x10000 || length % 512 != 0 || length > outSize)
        return false;
    uint8_t* image = out;

    // A filler that changes from byte to byte, so that a lost or repeated
    // write shows, and that never contains 0xFF 0x7F (no false control block).
    uint32_t seed = static_cast<uint32_t>(spec.vendorId) << 16 ^ spec.deviceId ^
                    static_cast<uint32_t>(spec.version[0]) << 24 ^ static_cast<uint32_t>(spec.version[1]) << 8;
    for (uint32_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        image[i] = static_cast<uint8_t>((seed >> 16) & 0x7E);
    }
    memset(image, 0, VcImageControlBlockOffset + 0x80);

    image[0] = 0x55;
    image[1] = 0xAA;
    image[2] = static_cast<uint8_t>(length / 512);   // 0x80 for 64 KiB
    image[3] = 0xEB;                                  // jmp short past the header
    image[4] = 0x4B;
    image[5] = 0x37;
    static const char banner[] = "VGA compatible BIOS of a virtual card";
    memcpy(image + 0x60, banner, sizeof banner - 1);
    Put16(image + 0x18, VcImagePcirOffset);

    uint8_t* pcir = image + VcImagePcirOffset;
    memcpy(pcir, "PCIR", 4);
    Put16(pcir + 4, spec.vendorId);
    Put16(pcir + 6, spec.deviceId);
    Put16(pcir + 0x0A, 0x18);                         // structure length
    pcir[0x0F] = 0x03;                                // class: display controller
    Put16(pcir + 0x10, length / 512);
    pcir[0x15] = 0x80;                                // last image

    uint8_t* control = image + VcImageControlBlockOffset;
    control[0] = 0xFF;
    control[1] = 0x7F;
    control[2] = 'N';
    control[3] = 'V';
    control[5] = spec.fifthVersionByte ? 5 : 4;
    control[13] = spec.version[0];
    control[12] = spec.version[1];
    control[11] = spec.version[2];
    control[10] = spec.version[3];
    if (spec.fifthVersionByte)
        control[62] = spec.version[4];

    uint8_t sum = 0;
    for (uint32_t i = 0; i + 1 < length; ++i)
        sum = static_cast<uint8_t>(sum + image[i]);
    image[length - 1] = static_cast<uint8_t>(0x100 - sum);
    return true;
}

bool VcParseBiosVersion(const char* text, VcBiosImageSpec* spec)
{
    int count = 0;
    const char* p = text;
    while (count < 5) {
        int high = HexDigit(p[0]);
        int low = high < 0 ? -1 : HexDigit(p[1]);
        if (high < 0 || low < 0)
            return false;
        spec->version[count++] = static_cast<uint8_t>(high << 4 | low);
        p += 2;
        if (*p == 0)
            break;
        if (*p != '.')
            return false;
        ++p;
    }
    if (*p != 0 || count < 4)
        return false;
    spec->fifthVersionByte = count == 5;
    if (count == 4)
        spec->version[4] = 0;
    return true;
}
