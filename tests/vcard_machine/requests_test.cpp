// The machine's side of the driver contract: which requests it accepts,
// what it answers, and what it refuses without reading or writing past the
// buffers it was given.
#include <string.h>

#include <memory>

#include "hw/driver_requests.h"
#include "tests/support/vcard_fixture.h"

namespace {

const char TwoCards[] =
    "device 0:0 0x8086:0x2570 subsystem=0x1043:0x80F6 class=0x060000\n"
    "card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008\n"
    "part 29EE010 image=04.28.20.05\n"
    "card 0:9 0x10DE:0x0253 bar0=0xE4000000\n"
    "part 39VF512 image=04.25.00.28\n";

class RequestTest : public VcardTest {
protected:
    void SetUp() override
    {
        VcardTest::SetUp();
        ASSERT_TRUE(LoadMachine(TwoCards));
    }

    bool Mem(uint32_t code, uint32_t bus, uint32_t address, uint32_t value, uint32_t size, void* out,
             uint32_t outLength, uint32_t high = 0)
    {
        MemAccessRequest r = {bus, address, high, value, size};
        uint32_t returned = 0;
        return VcDeviceControl(machine, code, &r, sizeof r, out, outLength, &returned);
    }
    uint32_t Read(uint32_t bus, uint32_t address, uint32_t size, bool* ok = nullptr)
    {
        uint32_t value = 0;
        bool done = Mem(IOCTL_MEM_READ, bus, address, 0, size, &value, size);
        if (ok)
            *ok = done;
        return value;
    }
    bool Write(uint32_t bus, uint32_t address, uint32_t value, uint32_t size)
    {
        uint32_t scratch = 0;
        return Mem(IOCTL_MEM_WRITE, bus, address, value, size, &scratch, size);
    }
};

TEST_F(RequestTest, PciConfigAnswersTheHeaderAndZerosUpTo400Bytes)
{
    std::unique_ptr<uint8_t[]> out(new uint8_t[400]);
    memset(out.get(), 0xCC, 400);
    PciConfigRequest request = {1, 0};
    uint32_t returned = 0;
    ASSERT_TRUE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 400, &returned));
    EXPECT_EQ(returned, 400u);
    const uint8_t* c = out.get();
    EXPECT_EQ(c[0] | c[1] << 8, 0x10DE);
    EXPECT_EQ(c[2] | c[3] << 8, 0x0281);
    EXPECT_EQ(c[0x10], 0x08);   // BAR0 as the register reads, low bits included
    EXPECT_EQ(c[0x13], 0xE3);
    EXPECT_EQ(c[0x2C] | c[0x2D] << 8, 0x1043);
    EXPECT_EQ(c[0x2E] | c[0x2F] << 8, 0x80A1);
    EXPECT_EQ(c[0x0B], 0x03);   // display controller
    for (int i = 256; i < 400; ++i)
        ASSERT_EQ(c[i], 0) << i;

    request = {0, 0};
    ASSERT_TRUE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 400, &returned));
    EXPECT_EQ(c[0x0B], 0x06);   // the host bridge's class from the profile
}

TEST_F(RequestTest, PciConfigRefusesEmptySlotsBadLengthsAndVanishedDevices)
{
    StartLog();
    std::unique_ptr<uint8_t[]> out(new uint8_t[400]);
    std::unique_ptr<uint8_t[]> shortInput(new uint8_t[3]{1, 0, 0});
    PciConfigRequest request = {1, 0};
    uint32_t returned = 7;
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, shortInput.get(), 3, out.get(), 400, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 399, &returned));
    uint8_t longInput[5] = {1, 0, 0, 0, 0};
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, longInput, 5, out.get(), 400, &returned));
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, nullptr, 400, &returned));
    request = {1, 1};
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 400, &returned));
    request = {4, 0};
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 400, &returned));
    request = {0, 64};
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 400, &returned));

    request = {1, 0};
    machine->devices[1].present = false;
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_PCI_CONFIG, &request, 4, out.get(), 400, &returned));
    bool ok = true;
    Read(1, 0xE3001850, 1, &ok);
    EXPECT_FALSE(ok);   // its window has gone with it
    // Refused configuration requests are logged with no value and no size.
    ASSERT_EQ(LogSize(), 9u);
    for (uint32_t i = 0; i < 8; ++i) {
        EXPECT_FALSE(LogAt(i).ok) << i;
        EXPECT_EQ(LogAt(i).value + LogAt(i).size, 0u) << i;
    }
}

TEST_F(RequestTest, MemoryRequestsMustBeWellFormed)
{
    bool ok = false;
    EXPECT_EQ(Read(1, 0xE3001850, 1, &ok), 1u);
    EXPECT_TRUE(ok);

    uint32_t value = 0;
    EXPECT_FALSE(Mem(IOCTL_MEM_READ, 1, 0xE3001850, 0, 2, &value, 4));          // size 2
    EXPECT_FALSE(Mem(IOCTL_MEM_READ, 1, 0xE3001850, 0, 4, &value, 3));          // output too short
    EXPECT_FALSE(Mem(IOCTL_MEM_READ, 1, 0xE3001850, 0, 1, &value, 1, 1));       // address high
    EXPECT_FALSE(Mem(IOCTL_MEM_READ, 0, 0xE3001850, 0, 1, &value, 1));          // another bus
    EXPECT_FALSE(Mem(IOCTL_MEM_READ, 1, 0xE5001850, 0, 1, &value, 1));          // no window there
    EXPECT_FALSE(Mem(IOCTL_MEM_WRITE, 1, 0xE3001850, 0, 1, nullptr, 1));        // no output buffer
    EXPECT_FALSE(Mem(0x9C406458, 1, 0xE3001850, 0, 1, &value, 1));              // unknown code

    // Input of the wrong length is refused without reading past it.
    std::unique_ptr<uint8_t[]> input(new uint8_t[19]());
    uint32_t returned = 0;
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_MEM_READ, input.get(), 19, &value, 4, &returned));
    MemAccessRequest longer[2] = {{1, 0xE3001850, 0, 0, 1}, {}};
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_MEM_READ, longer, 21, &value, 4, &returned));
    EXPECT_FALSE(VcDeviceControl(machine, IOCTL_MEM_READ, nullptr, 20, &value, 4, &returned));
}

TEST_F(RequestTest, WindowBoundsAreTheCardsSixteenMegabytes)
{
    bool ok = false;
    Read(1, 0xE3FFFFFF, 1, &ok);
    EXPECT_TRUE(ok);
    Read(1, 0xE3FFFFFC, 4, &ok);
    EXPECT_TRUE(ok);
    Read(1, 0xE3FFFFFE, 4, &ok);   // would straddle the window's end
    EXPECT_FALSE(ok);
    EXPECT_FALSE(Write(1, 0xE3FFFFFD, 0, 4));
    Read(1, 0xE2FFFFFF, 1, &ok);
    EXPECT_FALSE(ok);
    Read(0, 0xE4000000, 4, &ok);
    EXPECT_TRUE(ok);
}

TEST_F(RequestTest, ReadsFillOnlyTheirSizeLittleEndian)
{
    EXPECT_TRUE(Write(1, 0xE360081C, 0x11223344, 4));
    uint8_t out[8];
    memset(out, 0xCC, sizeof out);
    ASSERT_TRUE(Mem(IOCTL_MEM_READ, 1, 0xE360081C, 0, 4, out, 4));
    EXPECT_EQ(out[0], 0x44);
    EXPECT_EQ(out[3], 0x11);
    EXPECT_EQ(out[4], 0xCC);
    memset(out, 0xCC, sizeof out);
    ASSERT_TRUE(Mem(IOCTL_MEM_READ, 1, 0xE360081D, 0, 1, out, 1));
    EXPECT_EQ(out[0], 0x33);
    EXPECT_EQ(out[1], 0xCC);

    // A byte written lands in its own lane, all eight bits of it.
    EXPECT_TRUE(Write(1, 0xE360081F, 0x5A, 1));  // bit 0 unlike the 0x11 there
    ASSERT_TRUE(Mem(IOCTL_MEM_READ, 1, 0xE360081C, 0, 4, out, 4));
    EXPECT_EQ(out[3], 0x5A);
    EXPECT_EQ(out[2], 0x22);
}

TEST_F(RequestTest, EveryRequestIsCountedTimedAndLoggedInOrder)
{
    StartLog();
    VcTime start = machine->now;
    uint64_t requests = machine->requestCount;
    uint64_t failed = machine->failedCount;
    Write(1, 0xE3001850, 0x100, 1);
    Read(1, 0xE3001850, 1);
    Read(1, 0xE3000000 + 0x300000, 1);
    Read(2, 0xE3001850, 1);
    VcAdvance(machine, 5000);

    EXPECT_EQ(machine->requestCount - requests, 4u);
    EXPECT_EQ(machine->failedCount - failed, 1u);
    EXPECT_EQ(machine->now - start, 4u * VcRequestCostNs + 5000u);
    ASSERT_EQ(LogSize(), 4u);
    EXPECT_EQ(LogAt(0).code, IOCTL_MEM_WRITE);
    EXPECT_EQ(LogAt(0).value, 0x100u);   // logged as sent; the byte written is 0
    EXPECT_EQ(LogAt(1).code, IOCTL_MEM_READ);
    EXPECT_EQ(LogAt(1).value, 0u);
    EXPECT_EQ(LogAt(2).address, 0xE3300000u);
    EXPECT_EQ(LogAt(2).value, 0x55u);    // switch open: the image's first byte
    EXPECT_TRUE(LogAt(2).ok);
    EXPECT_FALSE(LogAt(3).ok);

    machine->logEnabled = false;
    Read(1, 0xE3001850, 1);
    EXPECT_EQ(LogSize(), 4u);

    // A machine given the cost measured on a real card charges that instead.
    machine->requestCostNs = 137;
    start = machine->now;
    Read(1, 0xE3001850, 1);
    Read(2, 0xE3001850, 1);
    EXPECT_EQ(machine->now - start, 2u * 137u);
}

TEST_F(RequestTest, FaultRulesSkipThenFailACountOfMatches)
{
    // Fail the 2nd and 3rd reads of 0xE3001850; other requests pass.
    ASSERT_TRUE(VcAddFaultRule(machine, IOCTL_MEM_READ, 0xE3001850, 1, 2));
    bool ok[5];
    for (bool& o : ok) {
        Read(1, 0xE3001850, 1, &o);
        bool other = false;
        Read(1, 0xE3001204, 4, &other);
        EXPECT_TRUE(other);
    }
    EXPECT_TRUE(ok[0]);
    EXPECT_FALSE(ok[1]);
    EXPECT_FALSE(ok[2]);
    EXPECT_TRUE(ok[3]);
    EXPECT_TRUE(ok[4]);
    // A failed write has no effect.
    ASSERT_TRUE(VcAddFaultRule(machine, IOCTL_MEM_WRITE, 0xFFFFFFFF, 0, 1));
    EXPECT_FALSE(Write(1, 0xE3001850, 0, 1));
    EXPECT_EQ(Read(1, 0xE3001850, 1), 1u);

    for (int i = 2; i < VcMaxFaultRules; ++i)
        EXPECT_TRUE(VcAddFaultRule(machine, 0, 0, 0, 0));
    EXPECT_FALSE(VcAddFaultRule(machine, 0, 0, 0, 0));
}

TEST_F(RequestTest, PciBiosFindsInstancesAndReadsConfiguration)
{
    uint8_t bus = 0xEE, devFn = 0xEE;
    ASSERT_TRUE(VcPciBiosFind(machine, 0x0253, 0x10DE, 0, &bus, &devFn));
    EXPECT_EQ(bus, 0);
    EXPECT_EQ(devFn, 9 << 3);
    EXPECT_FALSE(VcPciBiosFind(machine, 0x0253, 0x10DE, 1, &bus, &devFn));
    EXPECT_FALSE(VcPciBiosFind(machine, 0x10DE, 0x0253, 0, &bus, &devFn));   // ids swapped
    // The instance asked for is logged in the size byte, 0xFF from 255 on.
    StartLog();
    for (uint16_t index : {254, 255, 256})
        EXPECT_FALSE(VcPciBiosFind(machine, 0x0253, 0x10DE, index, &bus, &devFn));
    ASSERT_EQ(LogSize(), 3u);
    EXPECT_EQ(LogAt(0).size, 254);
    EXPECT_EQ(LogAt(1).size, 255);
    EXPECT_EQ(LogAt(2).size, 255);
    EXPECT_EQ(LogAt(2).value, 0u);  // nothing found
    // Reads are counted and logged like every request.
    StartLog();
    uint64_t requests = machine->requestCount;
    EXPECT_EQ(VcPciBiosRead(machine, 1, 0, 0x10, 4), 0xE3000008u);
    EXPECT_EQ(machine->requestCount - requests, 1u);
    ASSERT_EQ(LogSize(), 1u);
    EXPECT_EQ(LogAt(0).value, 0xE3000008u);
    EXPECT_TRUE(LogAt(0).ok);

    EXPECT_EQ(VcPciBiosRead(machine, 1, 0, 0x10, 4), 0xE3000008u);
    EXPECT_EQ(VcPciBiosRead(machine, 1, 0, 0x2E, 2), 0x80A1u);
    EXPECT_EQ(VcPciBiosRead(machine, 1, 0, 0x02, 1), 0x81u);
    EXPECT_EQ(VcPciBiosRead(machine, 1, 8, 0x00, 4), 0xFFFFFFFFu);   // nobody at device 1
    EXPECT_EQ(VcPciBiosRead(machine, 1, 0, 0xFE, 4), 0xFFFFFFFFu);   // past the header
}

TEST_F(RequestTest, TheMapRequestAnswersOnlyAWholeProvidedWindow)
{
    uint32_t base = 0xE3000000, linear = 0, returned = 0;
    EXPECT_FALSE(VcVxdMap(machine, &base, 4, &linear, 4, &returned));   // no host memory yet
    machine->cards[0].directWindow = 0x00400000;
    ASSERT_TRUE(VcVxdMap(machine, &base, 4, &linear, 4, &returned));
    EXPECT_EQ(linear, 0x00400000u);
    EXPECT_EQ(returned, 4u);
    base = 0xE3001000;
    EXPECT_FALSE(VcVxdMap(machine, &base, 4, &linear, 4, &returned));
    base = 0xE3000000;
    StartLog();
    EXPECT_FALSE(VcVxdMap(machine, &base, 3, &linear, 4, &returned));
    EXPECT_FALSE(VcVxdMap(machine, &base, 4, &linear, 2, &returned));
    ASSERT_EQ(LogSize(), 2u);
    EXPECT_EQ(LogAt(0).value + LogAt(0).size, 0u);  // a request not even read
    EXPECT_EQ(LogAt(1).size, 4u);
}

}  // namespace
