// Image header rules, the id and fit checks with their texts, the version text.
#include <gtest/gtest.h>
#include <string.h>
#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "hw/hw.h"
#include "platform/recording/recording_ui.h"

namespace {

class ImageChecks : public ::testing::Test {
protected:
    void SetUp() override
    {
        memset(ImageBuffer, 0, sizeof ImageBuffer);
        memset(StatusLines, 0, sizeof StatusLines);
        LastStatusLine = 4;
        RecordingReset();
        AutoMode = false;
    }
    void Header(uint8_t size)
    {
        ImageBuffer[0] = 0x55;
        ImageBuffer[1] = 0xAA;
        ImageBuffer[2] = size;
    }
    void Extension(uint16_t w, uint8_t units)
    {
        ImageBuffer[0x34] = 0x80;
        ImageBuffer[0x36] = static_cast<uint8_t>(w);
        ImageBuffer[0x37] = static_cast<uint8_t>(w >> 8);
        if (w + 1u < ImageBufferSize)
            ImageBuffer[w + 1] = units;
    }
    void PciIds(uint16_t at, uint16_t vendor, uint16_t device)
    {
        ImageBuffer[0x18] = static_cast<uint8_t>(at);
        ImageBuffer[0x19] = static_cast<uint8_t>(at >> 8);
        ImageBuffer[at + 4] = static_cast<uint8_t>(vendor);
        ImageBuffer[at + 5] = static_cast<uint8_t>(vendor >> 8);
        ImageBuffer[at + 6] = static_cast<uint8_t>(device);
        ImageBuffer[at + 7] = static_cast<uint8_t>(device >> 8);
    }
    void ControlBlock(uint32_t at, uint8_t version, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5)
    {
        const uint8_t signature[] = {0xFF, 0x7F, 0x4E, 0x56};
        memcpy(ImageBuffer + at, signature, 4);
        ImageBuffer[at + 5] = version;
        ImageBuffer[at + 13] = b1;
        ImageBuffer[at + 12] = b2;
        ImageBuffer[at + 11] = b3;
        ImageBuffer[at + 10] = b4;
        ImageBuffer[at + 62] = b5;
    }
    static std::string LastLine() { return StatusLines[LastStatusLine]; }
};

TEST_F(ImageChecks, LengthFromHeader)
{
    uint32_t length = 1;
    EXPECT_FALSE(ImageLengthFromHeader(ImageBuffer, &length));
    Header(0);
    EXPECT_FALSE(ImageLengthFromHeader(ImageBuffer, &length));
    EXPECT_EQ(1u, length);

    Header(0x80);
    ImageBuffer[0x36] = 0xFF;   // ignored while bit 7 of 0x34 is clear
    ASSERT_TRUE(ImageLengthFromHeader(ImageBuffer, &length));
    EXPECT_EQ(65536u, length);

    Extension(0x8000, 0x7F);    // w not above the length: no change
    ASSERT_TRUE(ImageLengthFromHeader(ImageBuffer, &length));
    EXPECT_EQ(65536u, length);

    Header(0x60);
    Extension(0xF000, 0x20);
    ASSERT_TRUE(ImageLengthFromHeader(ImageBuffer, &length));
    EXPECT_EQ(65536u, length);

    // Longer than the buffer is still reported; the flash and ROM reads refuse it.
    Header(0x40);
    Extension(0xFFF0, 0xFF);
    ASSERT_TRUE(ImageLengthFromHeader(ImageBuffer, &length));
    EXPECT_EQ(0xFFF0u + 0xFF * 128u, length);
}

TEST_F(ImageChecks, ExtensionOffsetOutsideTheBufferIsInvalid)
{
    Header(0x10);
    Extension(0xFFFF, 0x01);    // its size byte would lie at 0x10000
    uint32_t length = 7;
    EXPECT_FALSE(ImageLengthFromHeader(ImageBuffer, &length));
    EXPECT_EQ(7u, length);
}

TEST_F(ImageChecks, FitAgainstThePageSize)
{
    EXPECT_TRUE(CheckImageFit(128, 0, 65536));
    EXPECT_TRUE(CheckImageFit(0, 0, 513));
    EXPECT_EQ(0u, Recording.statusDrawCount);

    EXPECT_FALSE(CheckImageFit(256, 32, 65536 - 128));
    EXPECT_EQ("Page size is not mach witch ROM !", LastLine());
    EXPECT_FALSE(CheckImageFit(1, 0, 0));
    EXPECT_EQ("ROM file size is 0 ", LastLine());
    EXPECT_EQ(2u, Recording.statusDrawCount);
}

TEST_F(ImageChecks, IdsAgainstTheSelectedCard)
{
    CurrentCard = 0;
    CardTable[0].VendorId = 0x10DE;
    CardTable[0].DeviceId = 0x0250;
    ImageLength = 0x8000;
    Header(0x40);
    PciIds(0x1C0, 0x10DE, 0x0250);
    EXPECT_TRUE(CheckImageIds());
    EXPECT_EQ(0x10DE, CardVendorId);

    PciIds(0x1C0, 0x10DE, 0x025A);
    EXPECT_FALSE(CheckImageIds());
    EXPECT_EQ("Device ID ( 25a) Vendor ID (10DE)  mismatch....", LastLine());

    // A data structure beyond the image is never read: a mismatch with ids 0.
    PciIds(0x1C0, 0x10DE, 0x0250);
    ImageLength = 0x1C7;
    EXPECT_FALSE(CheckImageIds());
    EXPECT_EQ("Device ID ( 0) Vendor ID (0)  mismatch....", LastLine());

    // No card is read outside the table.
    for (int16_t card : {int16_t(-1), int16_t(CardTableSize)}) {
        CurrentCard = card;
        LoadCardIds();
        EXPECT_EQ(0, CardVendorId + CardDeviceId) << card;
    }
    CurrentCard = 0;

    // An image too short for the pointer at 0x18 has no ids at all.
    uint16_t vendor = 1;
    uint16_t device = 1;
    EXPECT_FALSE(ImagePciIds(ImageBuffer, 0x19, &vendor, &device));
    EXPECT_EQ(0, vendor + device);
    EXPECT_FALSE(ImagePciIds(ImageBuffer, 0x1C7, &vendor, &device));  // the structure runs past the end
    EXPECT_TRUE(ImagePciIds(ImageBuffer, 0x1C8, &vendor, &device));
    EXPECT_EQ(0x0250, device);
}

TEST_F(ImageChecks, VersionText)
{
    ImageLength = 0x8000;
    ControlBlock(0x100, 4, 0x04, 0x25, 0x15, 0x00, 0x01);
    EXPECT_STREQ("ROM BIOS version is :04.25.15.00", BiosVersionText(ImageBuffer));
    EXPECT_STREQ("ROM BIOS version is :04.25.15.00", StatusText);

    ImageBuffer[0x105] = 5;
    EXPECT_STREQ("ROM BIOS version is :04.25.15.00.01", BiosVersionText(ImageBuffer));
    // Part of a signature before the block is no signature.
    ImageBuffer[0x20] = 0xFF;
    ImageBuffer[0x31] = 0x7F;
    ImageBuffer[0x32] = 0x4E;
    ImageBuffer[0x33] = 0x56;
    EXPECT_STREQ("ROM BIOS version is :04.25.15.00.01", BiosVersionText(ImageBuffer));

    // Only the first occurrence counts.
    ControlBlock(0x40, 0, 0, 0, 0, 0, 0);
    EXPECT_STREQ(" read BIOS faile", BiosVersionText(ImageBuffer));
    ASSERT_EQ(1u, Recording.boxCount);
    EXPECT_STREQ("ROM BIOS version is unavailable for\n Control Block version 0\n", Recording.boxes[0].text);
    EXPECT_STREQ("Error", Recording.boxes[0].caption);
    EXPECT_EQ(UiMbOk, Recording.boxes[0].type);
}

TEST_F(ImageChecks, VersionSearchStaysInsideTheImage)
{
    strcpy(StatusText, "kept");
    memset(ImageBuffer, 0, sizeof ImageBuffer);
    ImageLength = 0x1000;
    // Signature ending on the image's last byte: not found.
    const uint8_t signature[] = {0xFF, 0x7F, 0x4E, 0x56};
    memcpy(ImageBuffer + 0x1000 - 4, signature, 4);
    EXPECT_STREQ(" read BIOS faile", BiosVersionText(ImageBuffer));
    EXPECT_STREQ("kept", StatusText);

    memset(ImageBuffer + 0x1000 - 4, 0, 4);

    // A block's last field (the byte at 13) on the image's last byte is read;
    // one byte further on, past the image, the block is refused.
    ControlBlock(0x1000 - 14, 4, 1, 2, 3, 4, 5);
    EXPECT_STREQ("ROM BIOS version is :01.02.03.04", BiosVersionText(ImageBuffer));
    memset(ImageBuffer + 0x1000 - 64, 0, 64 + 64);
    ControlBlock(0x1000 - 13, 4, 1, 2, 3, 4, 5);
    EXPECT_STREQ(" read BIOS faile", BiosVersionText(ImageBuffer));
    memset(ImageBuffer + 0x1000 - 64, 0, 64 + 64);

    // A block past the image length is not looked at.
    ControlBlock(0x2000, 4, 1, 2, 3, 4, 5);
    EXPECT_STREQ(" read BIOS faile", BiosVersionText(ImageBuffer));
    // Nor one whose fields run past the end of the buffer.
    ImageLength = ImageBufferSize;
    memcpy(ImageBuffer + ImageBufferSize - 8, signature, 4);
    memset(ImageBuffer + 0x2000, 0, 4);
    memset(ImageBuffer + 0x1000 - 4, 0, 4);
    EXPECT_STREQ(" read BIOS faile", BiosVersionText(ImageBuffer));
    EXPECT_EQ(0u, Recording.boxCount);
}

} // namespace
