// Generated BIOS images carry what the flash utility checks.
#include <string.h>

#include <algorithm>
#include <vector>

#include "gtest/gtest.h"
#include "vcard/host/vcard_host.h"

namespace {

uint32_t Le16(const uint8_t* p)
{
    return p[0] | p[1] << 8;
}

TEST(BiosImage, HasHeaderIdsControlBlockAndChecksum)
{
    VcBiosImageSpec spec = {};
    spec.vendorId = 0x10DE;
    spec.deviceId = 0x0281;
    spec.length = 0xC000;
    ASSERT_TRUE(VcParseBiosVersion("04.28.20.05.01", &spec));
    std::vector<uint8_t> image(0x10000, 0xEE);
    ASSERT_TRUE(VcMakeBiosImage(spec, image.data(), static_cast<uint32_t>(image.size())));

    EXPECT_EQ(image[0], 0x55);
    EXPECT_EQ(image[1], 0xAA);
    EXPECT_EQ(image[2] * 512u, 0xC000u);
    EXPECT_EQ(image[0x34] & 0x80, 0);
    uint32_t pcir = Le16(&image[0x18]);
    EXPECT_EQ(memcmp(&image[pcir], "PCIR", 4), 0);
    EXPECT_EQ(Le16(&image[pcir + 4]), 0x10DEu);
    EXPECT_EQ(Le16(&image[pcir + 6]), 0x0281u);

    // The first control block signature is the real one.
    static const uint8_t signature[] = {0xFF, 0x7F, 'N', 'V'};
    auto found = std::search(image.begin(), image.begin() + 0xC000, signature, signature + 4);
    ASSERT_EQ(found - image.begin(), static_cast<long>(VcImageControlBlockOffset));
    const uint8_t* control = &image[VcImageControlBlockOffset];
    EXPECT_EQ(control[5], 5);
    EXPECT_EQ(control[13], 0x04);
    EXPECT_EQ(control[12], 0x28);
    EXPECT_EQ(control[11], 0x20);
    EXPECT_EQ(control[10], 0x05);
    EXPECT_EQ(control[62], 0x01);

    uint8_t sum = 0;
    for (uint32_t i = 0; i < 0xC000; ++i)
        sum = static_cast<uint8_t>(sum + image[i]);
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(image[0xC000], 0xEE);   // nothing written past the image
}

TEST(BiosImage, FourVersionBytesMeanControlBlockVersion4)
{
    VcBiosImageSpec spec = {};
    ASSERT_TRUE(VcParseBiosVersion("04.25.15.00", &spec));
    EXPECT_FALSE(spec.fifthVersionByte);
    spec.length = 0x10000;
    std::vector<uint8_t> image(0x10000);
    ASSERT_TRUE(VcMakeBiosImage(spec, image.data(), 0x10000));
    EXPECT_EQ(image[2], 0x80);
    EXPECT_EQ(image[VcImageControlBlockOffset + 5], 4);
    EXPECT_EQ(image[VcImageControlBlockOffset + 12], 0x25);
}

TEST(BiosImage, RefusesWhatDoesNotFit)
{
    VcBiosImageSpec spec = {};
    std::vector<uint8_t> image(0x10000);
    spec.length = 0x8000;
    EXPECT_FALSE(VcMakeBiosImage(spec, image.data(), 0x7FFF));
    spec.length = 0x8100;
    EXPECT_FALSE(VcMakeBiosImage(spec, image.data(), 0x10000));
    spec.length = 0x10200;
    EXPECT_FALSE(VcMakeBiosImage(spec, image.data(), 0x10000));

    EXPECT_FALSE(VcParseBiosVersion("04.25.15", &spec));
    EXPECT_FALSE(VcParseBiosVersion("04.25.15.00.01.02", &spec));
    EXPECT_FALSE(VcParseBiosVersion("04.25.1G.00", &spec));
    EXPECT_FALSE(VcParseBiosVersion("04.25.15.00.", &spec));
}

}  // namespace
