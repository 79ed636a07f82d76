// The card's registers and ROM aperture as the flash utility sees them
// through the accessors.
#include <string>

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

    // With the ROM access switch open, shift out the read-status command
    // (0x05) with chip select low, then clock in the status byte, sampling
    // before each pulse: a fresh M25P10 has a status of 0.
    WriteReg8(0x1850, 0);
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
        status = status << 1 | ((ReadReg32(0x1204) >> 4) & 1);
        WriteReg32(0x1204, lines | 0x04);
        WriteReg32(0x1204, lines);
    }
    EXPECT_EQ(status, 0u);
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

// Serial parts of both command sets behind the card's gates: the serial
// lines reach the part only through an open ROM access switch, the aperture
// shows no array data while the program drives the lines, and a busy part
// reads 0xFF for as long as its profile's time.
// One command in one selection, shifted out through the line register.
void SendSerial(const uint8_t* bytes, int length)
{
    WriteReg32(0x1204, 0x03);  // enabled, deselected
    WriteReg32(0x1204, 0x01);  // selected
    for (int i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            uint32_t out = (bytes[i] >> bit) & 1 ? 0x08 : 0;
            WriteReg32(0x1204, 0x01 | out);
            WriteReg32(0x1204, 0x05 | out);
            WriteReg32(0x1204, 0x01 | out);
        }
    }
    WriteReg32(0x1204, 0x03);
    WriteReg32(0x1204, 0x02);  // released
}

struct SerialCard {
    const char* interface;
    const char* part;
    uint8_t erase[6];  // write enable, if any, goes out first
    int eraseLength;
    bool writeEnable;
};

class SerialGates : public RegisterTest, public ::testing::WithParamInterface<SerialCard> {
protected:
    void Erase()
    {
        const SerialCard& c = GetParam();
        const uint8_t writeEnable = 0x06;
        if (c.writeEnable)
            SendSerial(&writeEnable, 1);
        SendSerial(c.erase, c.eraseLength);
    }
};

TEST_P(SerialGates, CommandsNeedTheSwitchOpenAndBusyPartsReadErased)
{
    const std::string profile = std::string("card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=") +
        GetParam().interface + "\npart " + GetParam().part + " image=04.28.20.05 erase-ms=30000\n";
    Open(profile.c_str());
    Erase();  // switch closed: the part never sees it
    EXPECT_EQ(Part().eraseCount, 0u);
    EXPECT_EQ(Part().data[0], 0x55);

    WriteReg8(0x1850, 0);
    EXPECT_EQ(ReadRom8(0), 0x55u);
    WriteReg32(0x1204, 0x03);  // the program takes the lines
    EXPECT_EQ(ReadRom8(0), 0x00u);
    EXPECT_EQ(ReadRom8(1), 0x00u);
    WriteReg32(0x1204, 0x02);
    EXPECT_EQ(ReadRom8(1), 0xAAu);

    Erase();
    EXPECT_EQ(Part().eraseCount, 1u);
    const VcTime erased = machine->now;  // a request after the erase began
    VcAdvance(machine, 29990000000ull);
    EXPECT_TRUE(VcPartBusy(&Part(), machine->now));
    EXPECT_EQ(ReadRom8(0), 0xFFu);
    EXPECT_EQ(ReadReg32(0x1204) & 0x10, 0x10u);  // released line floats high
    VcAdvance(machine, erased + 30000000000ull - machine->now);
    EXPECT_FALSE(VcPartBusy(&Part(), machine->now));
    EXPECT_EQ(ReadRom8(0), 0xFFu);
}

const SerialCard SerialCards[] = {
    {"spi", "M25P10", {0xC7}, 1, true},
    {"serial2", "29EE010", {0x60, 0x00, 0x00, 0x00, 0xD0, 0x00}, 6, false},
};

INSTANTIATE_TEST_SUITE_P(Sets, SerialGates, ::testing::ValuesIn(SerialCards),
                         [](const ::testing::TestParamInfo<SerialCard>& info) {
                             return std::string(info.param.interface);
                         });

TEST_F(RegisterTest, ClosingTheSwitchReleasesTheSerialLines)
{
    // The part sees the switch close as its lines let go: the selection ends
    // there, and a whole command in it takes effect.
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=spi\npart M25P10\n");
    WriteReg8(0x1850, 0);
    WriteReg32(0x1204, 0x03);
    WriteReg32(0x1204, 0x01);  // selected
    for (int bit = 7; bit >= 0; --bit) {
        uint32_t out = (0x06 >> bit) & 1 ? 0x08 : 0;
        WriteReg32(0x1204, 0x01 | out);
        WriteReg32(0x1204, 0x05 | out);
        WriteReg32(0x1204, 0x01 | out);
    }
    EXPECT_TRUE(Part().selected);
    WriteReg8(0x1850, 1);
    EXPECT_FALSE(Part().selected);
    EXPECT_TRUE(Part().writeEnabled);
}

TEST_F(RegisterTest, ParallelPartsIgnoreTheSerialLines)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 image=04.28.20.05\n");
    WriteReg8(0x1850, 0);
    const uint8_t writeEnable = 0x06;
    const uint8_t program[] = {0x02, 0x00, 0x00, 0x00, 0x00};
    SendSerial(&writeEnable, 1);
    SendSerial(program, sizeof program);
    EXPECT_EQ(Part().programCount, 0u);
    EXPECT_EQ(ReadRom8(0), 0x55u);
}

TEST_F(RegisterTest, SetUpRefusesWhatDoesNotFitAndAShortWindowGetsNoRom)
{
    Open("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 image=04.28.20.05\n");
    const VcPartType* type = VcFindPartType("39VF010", 0);
    struct {
        int card, index;
        const VcPartType* type;
    } refused[] = {
        {-1, 0, type}, {1, 0, type}, {0, -1, type}, {0, VcMaxPartsPerCard, type}, {0, 0, nullptr},
    };
    for (const auto& r : refused)
        EXPECT_FALSE(VcFitPart(machine, r.card, r.index, r.type)) << r.card << " " << r.index;
    EXPECT_EQ(VcAddDevice(machine, 4, 0, 0x10DE, 0x0281, 0, 0, 0xE1000000), -1);   // no bus 4
    EXPECT_EQ(VcAddDevice(machine, 0, 64, 0x10DE, 0x0281, 0, 0, 0xE1000000), -1);  // no slot 64
    EXPECT_EQ(VcAddCard(machine, 0, 0, false, false), -1);                         // a card already
    EXPECT_EQ(VcAddCard(machine, machine->deviceCount, 0, false, false), -1);
    EXPECT_STREQ(VcPartTypeName(Part().type), "29EE010");

    // A window too small for the ROM aperture gets the registers only; a
    // whole one the dual-BIOS register and the contents as well.
    static uint8_t window[VcWindowSize];
    machine->cards[0].dualBiosReg = 0x12345678;
    VcFillDirectWindow(&machine->cards[0], window, VcRegStraps + 4);
    EXPECT_EQ(window[VcRegRomSwitch], 1);
    EXPECT_EQ(window[VcRegDualBios], 0);
    VcFillDirectWindow(&machine->cards[0], window, sizeof window);
    EXPECT_EQ(window[VcRegDualBios], 0x78);
    EXPECT_EQ(window[VcRomAperture], 0x55);
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
