// Card discovery through the kernel driver (bus walk) and through the PCI
// BIOS with the mapping driver.
#include <string.h>

#include "hw/driver_requests.h"
#include "hw/hw.h"
#include "tests/support/vcard_fixture.h"
#include "vcard/host/vcard_host.h"

namespace {

const char TwoBuses[] =
    "device 0:0 0x8086:0x2570 class=0x060000\n"
    "card 0:3 0x10DE:0x0253 subsystem=0x1682:0x2350 bar0=0xE4000000\n"
    "part 29EE010\n"
    "device 0:31 0xFFFF:0xFFFF\n"
    "device 1:1 0x1002:0x4E48 bar0=0xD0000008\n"
    "card 1:5 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008\n"
    "part 29EE010\n";

TEST_F(VcardTest, DriverPathNumbersBus1FirstAndLeavesTheLastCardCurrent)
{
    ASSERT_TRUE(LoadMachine(TwoBuses));
    ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
    ASSERT_EQ(CardCount, 2);
    EXPECT_EQ(CurrentCard, 1);

    const CardRecord& first = CardTable[0];
    EXPECT_EQ(first.VendorId, 0x10DE);
    EXPECT_EQ(first.DeviceId, 0x0281);
    EXPECT_EQ(first.SubsystemVendorId, 0x1043);
    EXPECT_EQ(first.SubsystemId, 0x80A1);
    EXPECT_EQ(first.BusNumber, 1);
    EXPECT_EQ(first.SlotNumber, 5);
    EXPECT_EQ(first.WindowBase, 0xE3000000u);

    const CardRecord& second = CardTable[1];
    EXPECT_EQ(second.DeviceId, 0x0253);
    EXPECT_EQ(second.SubsystemVendorId, 0x1682);
    EXPECT_EQ(second.SubsystemId, 0x2350);
    EXPECT_EQ(second.BusNumber, 0);
    EXPECT_EQ(second.SlotNumber, 3);
    EXPECT_EQ(second.WindowBase, 0xE4000000u);
}

TEST_F(VcardTest, DriverPathAsksEverySlotOfBuses1023InOrder)
{
    ASSERT_TRUE(LoadMachine(TwoBuses));
    StartLog();
    ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
    ASSERT_EQ(LogSize(), 256u);
    static const uint32_t buses[] = {1, 0, 2, 3};
    for (uint32_t i = 0; i < 256; ++i) {
        const VcLogEntry& entry = LogAt(i);
        EXPECT_EQ(entry.code, IOCTL_PCI_CONFIG);
        EXPECT_EQ(entry.address, buses[i / 64] << 16 | (i % 64)) << i;
    }
}

TEST_F(VcardTest, DriverPathSkipsFailedSlotsAndForeignIdsButKeepsOlderSupportedChips)
{
    ASSERT_TRUE(LoadMachine("card 0:1 0x10DE:0x0110 bar0=0xE0000000\n"
                            "part 29EE010\n"
                            "card 0:2 0x10DE:0x0281 bar0=0xE1000000\n"
                            "part 29EE010\n"
                            "card 0:3 0x10DE:0x0285 bar0=0xE2000000\n"   // in the chip table, not supported
                            "part 29EE010\n"
                            "card 2:0 0x10DE:0x0322 bar0=0xE3000000\n"
                            "part 29EE010\n"
                            "fail pci-config slot=0:2\n"));
    ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
    ASSERT_EQ(CardCount, 2);
    EXPECT_EQ(CardTable[0].DeviceId, 0x0110);
    EXPECT_EQ(CardTable[1].DeviceId, 0x0322);
    EXPECT_EQ(CardTable[1].BusNumber, 2);
}

TEST_F(VcardTest, DriverPathWithoutCardsFails)
{
    ASSERT_TRUE(LoadMachine("device 0:0 0x8086:0x2570\n"
                            "card 1:0 0x10DE:0x0281 bar0=0xE0000000\n"
                            "part 29EE010\n"));
    machine->devices[1].present = false;   // the card has gone
    EXPECT_FALSE(OpenVirtualHardware(AccessDriver));
    EXPECT_EQ(CardCount, 0);
}

TEST_F(VcardTest, DriverPathStopsAtANinthCardKeepingTheFirstEight)
{
    char profile[2048] = "";
    for (int i = 0; i < 9; ++i) {
        char line[160];
        // Bus 0 slots 10..18; slot 18 holds the ninth card.
        snprintf(line, sizeof line, "card 0:%d 0x10DE:0x0281 bar0=0x%02X000000\npart 29EE010\n", 10 + i,
                 0xD0 + i);
        strcat(profile, line);
    }
    strcat(profile, "card 3:0 0x10DE:0x0322 bar0=0xC0000000\npart 29EE010\n");
    ASSERT_TRUE(LoadMachine(profile));
    StartLog();
    ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
    ASSERT_EQ(CardCount, 8);
    EXPECT_EQ(CurrentCard, 7);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(CardTable[i].SlotNumber, 10 + i);
        EXPECT_EQ(CardTable[i].WindowBase, static_cast<uint32_t>(0xD0 + i) << 24);
    }
    // Bus 1 (64 slots), then bus 0 up to the ninth card's slot, then nothing.
    EXPECT_EQ(LogSize(), 64u + 19u);
    EXPECT_EQ(LogAt(LogSize() - 1).address, 18u);
}

TEST_F(VcardTest, EightCardsFillTheTableAndTheScanGoesOn)
{
    char profile[2048] = "";
    for (int i = 0; i < 8; ++i) {
        char line[160];
        snprintf(line, sizeof line, "card 0:%d 0x10DE:0x0281 bar0=0x%02X000000\npart 29EE010\n", i, 0xD0 + i);
        strcat(profile, line);
    }
    ASSERT_TRUE(LoadMachine(profile));
    StartLog();
    ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
    EXPECT_EQ(CardCount, 8);
    EXPECT_EQ(LogSize(), 256u);
}

// ---- direct path ----

const char MixedIds[] =
    "card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=spi\n"
    "part M25P10\n"
    "card 0:5 0x10DE:0x0281 subsystem=0x1458:0x9281 bar0=0xE1000000\n"
    "part 29EE010 image=04.28.20.05\n"
    "card 2:0 0x10DE:0x0253 bar0=0xE2000000\n"
    "part 29EE010\n"
    "card 0:1 0x10DE:0x0322 bar0=0xE3000000\n"
    "part 29EE010\n";

TEST_F(VcardTest, DirectPathFollowsTheIdListThenTheInstanceOrder)
{
    ASSERT_TRUE(LoadMachine(MixedIds));
    ASSERT_TRUE(OpenVirtualHardware(AccessDirect));
    ASSERT_EQ(CardCount, 4);
    EXPECT_EQ(CurrentCard, 3);
    // 0x0253 comes before 0x0281 in the list; the two 0x0281 cards are its
    // instances 0 (bus 0) and 1 (bus 1); 0x0322 is last though on bus 0.
    EXPECT_EQ(CardTable[0].DeviceId, 0x0253);
    EXPECT_EQ(CardTable[1].DeviceId, 0x0281);
    EXPECT_EQ(CardTable[1].BusNumber, 0);
    EXPECT_EQ(CardTable[1].SlotNumber, 5 << 3);   // device/function byte
    EXPECT_EQ(CardTable[1].SubsystemVendorId, 0x1458);
    EXPECT_EQ(CardTable[1].SubsystemId, 0x9281);
    EXPECT_EQ(CardTable[2].DeviceId, 0x0281);
    EXPECT_EQ(CardTable[2].BusNumber, 1);
    EXPECT_EQ(CardTable[3].DeviceId, 0x0322);
    EXPECT_EQ(machine->vxdOpens, 4u);
    EXPECT_EQ(machine->vxdCloses, 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(CardTable[i].WindowBase, 0u) << i;
}

TEST_F(VcardTest, DirectPathWindowShowsTheCardsRegistersAndRom)
{
    ASSERT_TRUE(LoadMachine(MixedIds));
    ASSERT_TRUE(OpenVirtualHardware(AccessDirect));
    uint64_t requests = machine->requestCount;
    CurrentCard = 2;   // the SPI card on bus 1
    EXPECT_EQ(ReadReg32(0x101000) >> 29, 1u);
    EXPECT_EQ(ReadReg8(0x1850), 1u);
    CurrentCard = 1;   // the card with an image
    EXPECT_EQ(ReadRom8(0), 0x55u);
    EXPECT_EQ(ReadRom8(1), 0xAAu);
    EXPECT_EQ(machine->requestCount, requests);   // plain memory
}

TEST_F(VcardTest, DirectPathWithoutTheMappingDriverEmptiesTheTable)
{
    ASSERT_TRUE(LoadMachine(MixedIds));
    machine->vxdOpenFails = true;
    EXPECT_FALSE(OpenVirtualHardware(AccessDirect));
    EXPECT_EQ(CardCount, 0);
    EXPECT_FALSE(ScanPciBios());

    // With the mapping driver but no supported card the scan finds nothing.
    ASSERT_TRUE(LoadMachine("device 0:0 0x8086:0x2570 class=0x060000\n"));
    AccessMode = AccessDirect;
    CardCount = 0;
    EXPECT_FALSE(ScanPciBios());
}

TEST_F(VcardTest, DirectPathKeepsACardWhoseWindowCannotBeMapped)
{
    ASSERT_TRUE(LoadMachine(MixedIds));
    VcAddFaultRule(machine, VcLogVxdMap, 0xE1000000, 0, 0);
    ASSERT_TRUE(OpenVirtualHardware(AccessDirect));
    ASSERT_EQ(CardCount, 4);
    EXPECT_EQ(CardTable[1].WindowBase, 0u);
    EXPECT_NE(CardTable[2].WindowBase, 0u);
    CurrentCard = 1;
    EXPECT_EQ(ReadReg8(0x1850), 0u);
}

TEST_F(VcardTest, DirectPathTriesAtMostFourInstancesOfAnId)
{
    char profile[2048] = "";
    for (int i = 0; i < 5; ++i) {
        char line[160];
        snprintf(line, sizeof line, "card 0:%d 0x10DE:0x0281 bar0=0x%02X000000\npart 29EE010\n", i, 0xD0 + i);
        strcat(profile, line);
    }
    ASSERT_TRUE(LoadMachine(profile));
    ASSERT_TRUE(OpenVirtualHardware(AccessDirect));
    EXPECT_EQ(CardCount, 4);
    EXPECT_EQ(CardTable[3].SlotNumber, 3 << 3);
}

TEST_F(VcardTest, DirectPathStopsAtANinthCard)
{
    char profile[2048] = "";
    static const char* ids[] = {"0x0250", "0x0251", "0x0252", "0x0253", "0x0258",
                                "0x0259", "0x025B", "0x0200", "0x0203"};
    for (int i = 0; i < 9; ++i) {
        char line[160];
        snprintf(line, sizeof line, "card 0:%d 0x10DE:%s bar0=0x%02X000000\npart 29EE010\n", i, ids[i], 0xD0 + i);
        strcat(profile, line);
    }
    ASSERT_TRUE(LoadMachine(profile));
    ASSERT_TRUE(OpenVirtualHardware(AccessDirect));
    ASSERT_EQ(CardCount, 8);
    EXPECT_EQ(CardTable[7].DeviceId, 0x0200);
    EXPECT_EQ(machine->vxdOpens, 8u);
}

}  // namespace
