// The supported-id list and the chip description table, and the lookup.
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <utility>

#include "hw/hw.h"
#include "gtest/gtest.h"

namespace {

TEST(SupportedIds, HoldTheFiftyFiveIdsInTheirNumberingOrder)
{
    static const uint16_t expected[SupportedIdCount] = {
        0x0250, 0x0251, 0x0252, 0x0253, 0x0258, 0x0259, 0x025B, 0x0200, 0x0203, 0x0201, 0x0202,
        0x0170, 0x0171, 0x0172, 0x0173, 0x0178, 0x017A, 0x017B, 0x0110, 0x0111, 0x0113, 0x0150,
        0x0151, 0x0152, 0x0153, 0x0100, 0x0101, 0x0103, 0x0180, 0x0181, 0x0182, 0x0183, 0x0188,
        0x018A, 0x018B, 0x0280, 0x0281, 0x0282, 0x0288, 0x0289, 0x0300, 0x0301, 0x0302, 0x0303,
        0x0308, 0x0309, 0x0311, 0x0312, 0x0318, 0x0319, 0x0321, 0x0322, 0x0323, 0x032A, 0x032B,
    };
    std::set<uint16_t> seen;
    for (int i = 0; i < SupportedIdCount; ++i) {
        EXPECT_EQ(SupportedIdList[i].VendorId, 0x10DE) << i;
        EXPECT_EQ(SupportedIdList[i].DeviceId, expected[i]) << i;
        seen.insert(SupportedIdList[i].DeviceId);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(SupportedIdCount));
}

TEST(SupportedIds, EveryOneHasAChipRow)
{
    for (int i = 0; i < SupportedIdCount; ++i) {
        const ChipEntry* entry = nullptr;
        EXPECT_TRUE(FindChipEntry(SupportedIdList[i].VendorId, SupportedIdList[i].DeviceId, &entry))
            << std::hex << SupportedIdList[i].DeviceId;
    }
}

TEST(ChipTable, EndsWithItsClosingRowAfter147Rows)
{
    for (int i = 0; i < ChipRowCount; ++i)
        EXPECT_EQ(ChipTable[i].EndMarker, 0u) << i;
    const ChipEntry& closing = ChipTable[ChipRowCount];
    EXPECT_EQ(closing.EndMarker, 1u);
    EXPECT_STREQ(closing.Name, "Not        ");
    EXPECT_EQ(closing.VendorId, 0);
    EXPECT_EQ(ChipFlagWord(closing), 0u);
}

TEST(ChipTable, RowsComeInTheGivenOrderWithTheirNames)
{
    struct Group {
        int first;       // row index
        int rows;
        uint16_t device;
        const char* name;   // of the group's first row
    };
    static const Group groups[] = {
        {0, 4, 0x0000, "NV0"},          {4, 1, 0x0020, "TNT"},        {5, 1, 0x0028, "TNT2"},
        {6, 1, 0x0029, "TNT2 Ultra"},   {7, 2, 0x002A, "TNT2(Unk)"},  {9, 1, 0x002C, "Vanta"},
        {10, 1, 0x002D, "TNT2 M64"},    {11, 2, 0x002E, "Vanta(unk)"}, {13, 4, 0x00A0, "TNT2 Aladdin"},
        {17, 4, 0x0100, "GeForce256 SDR"}, {21, 4, 0x0110, "GeForce2 MX"}, {25, 4, 0x0150, "GeForce2 GTS"},
        {29, 4, 0x0200, "GeForce3"},    {33, 16, 0x0170, "NV17 (170)"}, {49, 16, 0x0250, "NV25 (250)"},
        {65, 16, 0x0180, "NV18 (180)"}, {81, 16, 0x0280, "NV28 (280)"}, {97, 16, 0x0300, "NV30 (300)"},
        {113, 16, 0x0310, "NV31 (310)"}, {129, 16, 0x0320, "NV34 (320)"}, {145, 2, 0x0330, "NV35 (330)"},
    };
    for (const Group& g : groups) {
        EXPECT_EQ(ChipTable[g.first].DeviceId, g.device) << g.name;
        EXPECT_STREQ(ChipTable[g.first].Name, g.name);
    }
    EXPECT_STREQ(ChipTable[3].Name, "NV3");
    EXPECT_STREQ(ChipTable[18].Name, "GeForce DDR");
    EXPECT_STREQ(ChipTable[19].Name, "NV10 (102)");
    EXPECT_STREQ(ChipTable[24].Name, "Quadro2 MXR");
    EXPECT_STREQ(ChipTable[27].Name, "GeForce2 Ultra");
    EXPECT_STREQ(ChipTable[32].Name, "NV20 (203)");
    EXPECT_STREQ(ChipTable[146].Name, "NV35 (338)");
    EXPECT_EQ(ChipTable[146].DeviceId, 0x0338);

    // Sixteen-row groups: family word, blank, three upper-case hex digits.
    for (int g = 13; g <= 19; ++g) {
        const Group& group = groups[g];
        char family[8];
        memcpy(family, group.name, 4);
        family[4] = 0;
        for (int i = 0; i < 16; ++i) {
            const ChipEntry& row = ChipTable[group.first + i];
            char name[16];
            snprintf(name, sizeof name, "%s (%03X)", family, group.device + i);
            EXPECT_EQ(row.DeviceId, group.device + i);
            EXPECT_STREQ(row.Name, name);
        }
    }
}

TEST(ChipTable, FlagsFollowTheFamilies)
{
    for (int i = 0; i < ChipRowCount; ++i) {
        const ChipEntry& row = ChipTable[i];
        uint16_t d = row.DeviceId;
        bool strapped = (d >= 0x0170 && d <= 0x018F) || (d >= 0x0250 && d <= 0x025F) || d >= 0x0280;
        bool flagE = (d >= 0x0180 && d <= 0x018F) || d >= 0x0280;
        EXPECT_EQ(row.StrapFlag, strapped ? 1 : 0) << row.Name;
        EXPECT_EQ(row.FlagE, flagE ? 1u : 0u) << row.Name;
        if (i < 4)
            EXPECT_EQ(row.VendorId, 0);
        else
            EXPECT_EQ(row.VendorId, 0x10DE);
    }
    // The 0x0110 group is the only one with flag C.
    EXPECT_EQ(ChipFlagWord(ChipTable[21]), 0x00010101u);
    EXPECT_EQ(ChipFlagWord(ChipTable[29]), 0x00000101u);
    EXPECT_EQ(ChipFlagWord(ChipTable[81]), 0x01000101u);
    EXPECT_EQ(ChipFlagWord(ChipTable[8]), 0u);
}

TEST(ChipTable, IdPairsOfRealChipsAreUnique)
{
    std::set<std::pair<uint16_t, uint16_t>> seen;
    for (int i = 4; i < ChipRowCount; ++i)
        EXPECT_TRUE(seen.insert({ChipTable[i].VendorId, ChipTable[i].DeviceId}).second) << ChipTable[i].Name;
}

TEST(FindChipEntry, FindsTheFirstMatchingRow)
{
    const ChipEntry* entry = nullptr;
    ASSERT_TRUE(FindChipEntry(0x10DE, 0x0281, &entry));
    EXPECT_STREQ(entry->Name, "NV28 (281)");
    EXPECT_EQ(entry->StrapFlag, 1);
    EXPECT_EQ(entry, &ChipTable[82]);

    ASSERT_TRUE(FindChipEntry(0x10DE, 0x0338, &entry));
    EXPECT_STREQ(entry->Name, "NV35 (338)");

    // Vendor and device 0 match the first of the four placeholder rows.
    ASSERT_TRUE(FindChipEntry(0, 0, &entry));
    EXPECT_EQ(entry, &ChipTable[0]);
}

TEST(FindChipEntry, AMissHandsBackTheFirstRow)
{
    const ChipEntry* entry = &ChipTable[100];
    EXPECT_FALSE(FindChipEntry(0x1002, 0x0281, &entry));
    EXPECT_EQ(entry, &ChipTable[0]);
    EXPECT_STREQ(entry->Name, "NV0");
    EXPECT_EQ(ChipFlagWord(*entry), 0u);

    entry = &ChipTable[100];
    EXPECT_FALSE(FindChipEntry(0x10DE, 0x0339, &entry));
    EXPECT_EQ(entry, &ChipTable[0]);
    // The closing row is never a match.
    EXPECT_FALSE(FindChipEntry(0, 1, &entry));
}

}  // namespace
