// The dual-BIOS board model, driven with the exact register sequences of the
// flash utility's probe and ROM selection.
#include "hw/hw.h"
#include "platform/timing.h"
#include "tests/support/vcard_fixture.h"

namespace {

const uint32_t DualReg = 0x60081C;

// Bits 8..15 replaced by `byte`, then a wait, then a read.
uint32_t DriveByte(uint32_t byte, uint32_t waitMs)
{
    uint32_t value = ReadReg32(DualReg);
    WriteReg32(DualReg, (value & ~0xFF00u) | byte << 8);
    PlatformSleep(waitMs);
    return ReadReg32(DualReg);
}

bool Probe()
{
    uint32_t v = DriveByte(0x22, 100);
    if ((v & 0x4000) == 0 || (v & 0x0400) == 0)
        return false;
    if ((DriveByte(0x12, 10) & 0x0400) == 0)
        return false;
    return (DriveByte(0x02, 10) & 0x0400) == 0;
}

int PassingProbes()
{
    int passes = 0;
    while (passes < 10 && Probe())
        ++passes;
    return passes;
}

bool SelectRom1()
{
    WriteReg32(DualReg, ReadReg32(DualReg) & ~0xF000u);
    PlatformSleep(10);
    return (ReadReg32(DualReg) & 0xC000) == 0;
}

bool SelectRom2()
{
    WriteReg32(DualReg, ReadReg32(DualReg) | 0xF000u);
    PlatformSleep(10);
    return (ReadReg32(DualReg) & 0xC000) != 0;
}

const char Rom2Board[] =
    "card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom2\n"
    "part 29EE010 image=04.28.20.01\n"
    "part 29EE010 image=04.28.20.02\n";

class DualBiosTest : public VcardTest {
protected:
    void Open(const char* profile)
    {
        ASSERT_TRUE(LoadMachine(profile));
        ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
        CurrentCard = 0;
    }
    // Version byte 1 of the control block of the part the aperture shows.
    uint32_t ApertureVersion()
    {
        WriteReg8(0x1850, 0);
        uint32_t version = ReadRom8(0x200 + 10);
        WriteReg8(0x1850, 1);
        return version;
    }
};

TEST_F(DualBiosTest, ProbePassesTenTimesOnABoardBootedFromRom2)
{
    Open(Rom2Board);
    EXPECT_EQ(ApertureVersion(), 0x02u);   // powered up showing ROM 2
    VcTime start = machine->now;
    EXPECT_EQ(PassingProbes(), 10);
    EXPECT_GE(machine->now - start, 1200000000u);
    // The probe leaves 0x02 in bits 8..15: ROM 1 selected.
    EXPECT_EQ((ReadReg32(DualReg) >> 8) & 0xFF, 0x02u);
    EXPECT_EQ(ApertureVersion(), 0x01u);
}

TEST_F(DualBiosTest, ProbeFailsOnAnOrdinaryCardAtTheFirstRead)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\n");
    StartLog();
    EXPECT_EQ(PassingProbes(), 0);
    EXPECT_EQ(LogSize(), 3u);   // read, write, read
    // An ordinary card's bits are plain latches.
    WriteReg32(DualReg, 0xFFFF);
    EXPECT_EQ(ReadReg32(DualReg), 0xFFFFu);
}

TEST_F(DualBiosTest, ProbeFailsOnABoardBootedFromRom1)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom1\n"
         "part 29EE010 image=04.28.20.01\n"
         "part 29EE010 image=04.28.20.02\n");
    EXPECT_EQ(ApertureVersion(), 0x01u);
    EXPECT_EQ(PassingProbes(), 0);
    // Selection still works on it.
    EXPECT_TRUE(SelectRom2());
    EXPECT_EQ(ApertureVersion(), 0x02u);
    EXPECT_TRUE(SelectRom1());
    EXPECT_EQ(ApertureVersion(), 0x01u);
}

TEST_F(DualBiosTest, SelectionReadsBackAndMovesTheAperture)
{
    Open(Rom2Board);
    ASSERT_TRUE(SelectRom1());
    EXPECT_EQ(ApertureVersion(), 0x01u);
    EXPECT_EQ(machine->cards[0].parts[0].data[0x200 + 10], 0x01);
    ASSERT_TRUE(SelectRom2());
    EXPECT_EQ(ReadReg32(DualReg) & 0xC000, 0xC000u);
    EXPECT_EQ(ApertureVersion(), 0x02u);
    ASSERT_TRUE(SelectRom1());
    // Other bits of the register are kept as written.
    WriteReg32(DualReg, ReadReg32(DualReg) | 0x80000001u);
    EXPECT_TRUE(SelectRom2());
    EXPECT_EQ(ReadReg32(DualReg) & 0x80000001u, 0x80000001u);
}

TEST_F(DualBiosTest, BitsThatStopFollowingFailTheTenthProbe)
{
    // Nine probes of three writes each follow; then the pins freeze.
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom2\n"
         "part 29EE010\npart 29EE010\n"
         "card-fault dual-bios-stops-after=27\n");
    EXPECT_EQ(PassingProbes(), 9);
}

TEST_F(DualBiosTest, FrozenBitsFailTheFirstProbeAndTheSelection)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom1\n"
         "part 29EE010 image=04.28.20.01\npart 29EE010 image=04.28.20.02\n"
         "card-fault dual-bios-stops-after=0\n");
    EXPECT_EQ(PassingProbes(), 0);
    EXPECT_FALSE(SelectRom2());
    EXPECT_EQ(ApertureVersion(), 0x01u);   // the select net is stuck too
}

}  // namespace
