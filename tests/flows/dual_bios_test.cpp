// Detection of a board booted from its second BIOS and the ROM switch.
#include <vector>

#include "app/dual_bios.h"
#include "flow_fixture.h"
#include "hw/driver_requests.h"
#include "hw/hw.h"

namespace {

const VcTime Ms = 1000000;

class DualBiosBoard : public FlowTest {
protected:
    bool Open(const char* profile)
    {
        if (!Machine(profile))
            return false;
        DriverAlreadyRunning();
        return OpenVirtualHardware(AccessDriver);
    }
    VcCard* Card() { return &machine->cards[0]; }
    uint32_t Register() { return Card()->dualBiosReg; }
};

TEST_F(DualBiosBoard, BoardBootedFromRom2PassesTenProbesAndEndsOnRom1)
{
    ASSERT_TRUE(Open(DualBiosProfile));
    ASSERT_EQ(VcSelectedPart(Card()), &Card()->parts[1]);   // powered up on ROM 2
    WriteReg32(DualBiosRegister, 0x00A5F003u);              // bits the probe must keep
    VcTime start = machine->now;
    EXPECT_TRUE(DetectDualBios());
    EXPECT_EQ(Register() & 0xFFFF00FFu, 0x00A50003u);
    EXPECT_GE(machine->now - start, 1200 * Ms);  // ten probes of 100, 10 and 10 ms
    EXPECT_LT(machine->now - start, 1201 * Ms);
    EXPECT_EQ(Register() & 0xFF00u, 0x0200u);
    EXPECT_EQ(VcSelectedPart(Card()), &Card()->parts[0]);

    // Each probe writes 0x22, 0x12 and 0x02 into bits 8..15, in that order.
    StartLog();
    ASSERT_TRUE(DualBiosProbe());
    std::vector<uint32_t> written;
    for (uint32_t i = 0; i < LogSize(); ++i) {
        if (LogAt(i).code == IOCTL_MEM_WRITE)
            written.push_back((LogAt(i).value >> 8) & 0xFF);
    }
    EXPECT_EQ(written, (std::vector<uint32_t>{0x22, 0x12, 0x02}));
}

TEST_F(DualBiosBoard, PlainLatchesFailTheFirstProbeAfterOneLongWait)
{
    ASSERT_TRUE(Open("card 1:0 0x10DE:0x0253 bar0=0xE4000000\npart 39VF010 image=04.25.00.28\n"));
    VcTime start = machine->now;
    EXPECT_FALSE(DetectDualBios());
    VcTime spent = machine->now - start;
    EXPECT_GE(spent, 100 * Ms);
    EXPECT_LT(spent, 110 * Ms);
}

TEST_F(DualBiosBoard, BoardSwitchedToRom1IsNotDetected)
{
    ASSERT_TRUE(Open("card 1:0 0x10DE:0x0253 bar0=0xE4000000 dual=rom1\n"
                     "part 39VF010 image=04.25.00.28\npart 39VF010 image=04.25.00.31\n"));
    EXPECT_FALSE(DualBiosProbe());
}

TEST_F(DualBiosBoard, EachReadBackOfTheProbeCounts)
{
    // Only the read-back after the second write (0x12) fails, reading 0:
    // the board answered the first write as a dual-BIOS board, not this one.
    ASSERT_TRUE(Open(DualBiosProfile));
    ASSERT_TRUE(VcAddFaultRule(machine, IOCTL_MEM_READ, Card()->windowBase + DualBiosRegister, 3, 1));
    EXPECT_FALSE(DualBiosProbe());
    EXPECT_TRUE(DualBiosProbe());
}

TEST_F(DualBiosBoard, FailedDetectionLeavesTheBootedRomInTheWindow)
{
    ASSERT_TRUE(Open("card 1:0 0x10DE:0x0253 bar0=0xE4000000 dual=rom1\n"
                     "part 39VF010 image=04.25.00.28\npart 39VF010 image=04.25.00.31\n"));
    uint32_t before = Register();
    ASSERT_EQ(VcSelectedPart(Card()), &Card()->parts[0]);
    EXPECT_FALSE(DetectDualBios());
    EXPECT_EQ(before, Register());
    EXPECT_EQ(VcSelectedPart(Card()), &Card()->parts[0]);
}

TEST_F(DualBiosBoard, FailingTenthProbeMeansNoDualBios)
{
    // Three writes per probe: the pins stop following on the tenth probe.
    ASSERT_TRUE(Open("card 1:0 0x10DE:0x0253 bar0=0xE4000000 dual=rom2\n"
                     "part 39VF010 image=04.25.00.28\npart 39VF010 image=04.25.00.31\n"
                     "card-fault dual-bios-stops-after=27\n"));
    VcTime start = machine->now;
    EXPECT_FALSE(DetectDualBios());
    EXPECT_GE(machine->now - start, (9 * 120 + 100) * Ms);
    EXPECT_LT(machine->now - start, (10 * 120) * Ms);
}

TEST_F(DualBiosBoard, SelectionSwitchesTheRomWindowAndKeepsOtherBits)
{
    ASSERT_TRUE(Open(DualBiosProfile));
    WriteReg32(DualBiosRegister, 0x00A50003u);
    EXPECT_TRUE(SelectRom2());
    EXPECT_EQ(VcSelectedPart(Card()), &Card()->parts[1]);
    EXPECT_EQ(Register() & 0xFFFF00FFu, 0x00A50003u);
    EXPECT_TRUE(SelectRom1());
    EXPECT_EQ(VcSelectedPart(Card()), &Card()->parts[0]);
    EXPECT_EQ(Register() & 0xF000u, 0u);
    EXPECT_EQ(Register() & 0xFFFF00FFu, 0x00A50003u);
}

TEST_F(DualBiosBoard, ReadBackWithOnlyBit14CountsForRom2NotRom1)
{
    ASSERT_TRUE(Open(DualBiosProfile));
    Card()->dualPinsFrozen = true;
    Card()->dualFrozenPins = 0x4000;
    EXPECT_TRUE(SelectRom2());
    EXPECT_FALSE(SelectRom1());
    Card()->dualFrozenPins = 0x0000;
    EXPECT_FALSE(SelectRom2());
    EXPECT_TRUE(SelectRom1());
}

} // namespace
