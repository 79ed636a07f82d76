// The card's registers and ROM aperture as the flash utility sees them
// through the accessors.
#include "hw/hw.h"
#include "tests/support/vcard_fixture.h"
#include "vcard/host/vcard_host.h"

namespace {

class RegisterTest : public VcardTest {
protected:
    void Open(const char* profile)
    {
        ASSERT_TRUE(LoadMachine(profile));
        ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
        CurrentCard = 0;
    }
    VcFlashPart& Part(int card = 0, int index = 0) { return machine->cards[card].parts[index]; }
};

TEST_F(RegisterTest, RomSwitchGatesTheAperture)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 image=04.28.20.05\n");
    EXPECT_EQ(ReadReg8(0x1850), 1u);
    // Closed: the aperture reads 0xFF and writes do not reach the part.
    EXPECT_EQ(ReadRom8(0), 0xFFu);
    WriteRom8(0x5555, 0xAA);
    WriteRom8(0x2AAA, 0x55);
    WriteRom8(0x5555, 0x80);
    WriteRom8(0x5555, 0xAA);
    WriteRom8(0x2AAA, 0x55);
    WriteRom8(0x5555, 0x10);
    EXPECT_EQ(Part().eraseCount, 0u);

    WriteReg8(0x1850, 0);
    EXPECT_EQ(ReadReg8(0x1850), 0u);
    EXPECT_EQ(ReadRom8(0), 0x55u);
    EXPECT_EQ(ReadRom8(1), 0xAAu);
    EXPECT_EQ(ReadRom8(0x1FFFF), Part().data[0x1FFFF]);
    EXPECT_EQ(Part().data[0], 0x55);   // the part is untouched

    WriteReg8(0x1850, 7);
    EXPECT_EQ(ReadReg8(0x1850), 7u);
    EXPECT_EQ(ReadRom8(0), 0xFFu);
}

TEST_F(RegisterTest, ASmallPartAppearsTwiceInTheAperture)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 39VF512 image=04.28.20.05\n");
    WriteReg8(0x1850, 0);
    for (uint32_t offset : {0u, 1u, 0x200u, 0xFFFFu})
        EXPECT_EQ(ReadRom8(0x10000 + offset), ReadRom8(offset)) << offset;
    EXPECT_EQ(ReadRom8(0x10000), 0x55u);
}

TEST_F(RegisterTest, StrapsGiveTheProfilesInterface)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=spi\npart M25P10\n"
         "card 1:1 0x10DE:0x0281 bar0=0xE1000000 interface=serial2\npart 29EE010\n"
         "card 1:2 0x10DE:0x0281 bar0=0xE2000000 interface=reserved\npart 29EE010\n"
         "card 1:3 0x10DE:0x0281 bar0=0xE3000000\npart 29EE010\n");
    static const uint32_t expected[] = {1, 2, 3, 0};
    for (int card = 0; card < 4; ++card) {
        CurrentCard = static_cast<int16_t>(card);
        EXPECT_EQ((ReadReg32(0x101000) & 0x60000000) >> 29, expected[card]) << card;
        WriteReg32(0x101000, 0xFFFFFFFF);   // read-only
        EXPECT_EQ((ReadReg32(0x101000) & 0x60000000) >> 29, expected[card]) << card;
    }
}

TEST_F(RegisterTest, SerialLineRegisterReadsItsLinesAndThePartsDataIn)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=spi\npart M25P10\n");
    // Released lines: data-in floats high.
    EXPECT_EQ(ReadReg32(0x1204), 0x10u);
    WriteReg32(0x1204, 0xFFFFFFE3);
    EXPECT_EQ(ReadReg32(0x1204) & 0x0F, 0x03u);
    EXPECT_EQ(ReadReg32(0x1204) & ~0x1Fu, 0u);

    // Shift out the read-status command (0x05) with chip select low, then
    // clock in the status byte: a fresh M25P10 is ready, bit 0 clear, so the
    // data-in bit of the last clock is 0.
    uint32_t lines = 0x01;   // enabled, selected, clock low
    WriteReg32(0x1204, lines);
    for (int bit = 7; bit >= 0; --bit) {
        uint32_t out = (0x05 >> bit) & 1 ? 0x08 : 0;
        WriteReg32(0x1204, lines | out);
        WriteReg32(0x1204, lines | out | 0x04);
        WriteReg32(0x1204, lines | out);
    }
    uint32_t status = 0;
    for (int bit = 7; bit >= 0; --bit) {
        WriteReg32(0x1204, lines | 0x04);
        WriteReg32(0x1204, lines);
        status = status << 1 | ((ReadReg32(0x1204) >> 4) & 1);
    }
    EXPECT_EQ(status & 1, 0u);
    WriteReg32(0x1204, 0x02);
    EXPECT_EQ(ReadReg32(0x1204) & 0x0F, 0x02u);
}

TEST_F(RegisterTest, OtherOffsetsReadZeroAndIgnoreWrites)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\n");
    EXPECT_NE(ReadReg32(0x200), 0u);
    WriteReg32(0x200, 0);
    EXPECT_NE(ReadReg32(0x200), 0u);
    for (uint32_t offset : {0x0u, 0x1800u, 0x1854u, 0x100FFCu, 0x600818u, 0x320000u, 0xFFFFFCu}) {
        WriteReg32(offset, 0xA5A5A5A5);
        EXPECT_EQ(ReadReg32(offset), 0u) << std::hex << offset;
    }
}

TEST_F(RegisterTest, StuckRomSwitchKeepsItsValue)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 image=04.28.20.05\n"
         "card-fault rom-switch-stuck=1\n");
    WriteReg8(0x1850, 0);
    EXPECT_EQ(ReadReg8(0x1850), 1u);
    EXPECT_EQ(ReadRom8(0), 0xFFu);
}

}  // namespace
