// The six accessors: the requests they send, what they return, and the
// direct path through memory.
#include <string.h>

#include "hw/driver_requests.h"
#include "hw/hw.h"
#include "tests/support/vcard_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

const char OneCard[] =
    "card 1:0 0x10DE:0x0281 bar0=0xE0000008 interface=parallel\n"
    "part 29EE010\n";

uint32_t Field(const VcMachine* machine, int index)
{
    uint32_t value;
    memcpy(&value, machine->lastInput + 4 * index, 4);
    return value;
}

class AccessorTest : public VcardTest {
protected:
    void SetUp() override
    {
        VcardTest::SetUp();
        ASSERT_TRUE(LoadMachine(OneCard));
        ASSERT_TRUE(OpenVirtualHardware(AccessDriver));
        ASSERT_EQ(CardCount, 1);
        ASSERT_EQ(CardTable[0].WindowBase, 0xE0000000u);
    }
};

TEST_F(AccessorTest, WriteReg32SendsTheFiveFieldsOfTheRequest)
{
    EXPECT_EQ(WriteReg32(0x1204, 0x12345678), 0x12345678u);
    EXPECT_EQ(machine->lastInputLength, 20u);
    EXPECT_EQ(Field(machine, 0), 1u);
    EXPECT_EQ(Field(machine, 1), 0xE0001204u);
    EXPECT_EQ(Field(machine, 2), 0u);
    EXPECT_EQ(Field(machine, 3), 0x12345678u);
    EXPECT_EQ(Field(machine, 4), 4u);
    EXPECT_EQ(machine->lastOutputLength, 4u);
}

TEST_F(AccessorTest, EachAccessorSendsOneRequestOfItsCodeWidthAndAddress)
{
    StartLog();
    ReadReg8(0x1850);
    EXPECT_EQ(machine->lastOutputLength, 1u);
    ReadReg32(0x101000);
    EXPECT_EQ(machine->lastOutputLength, 4u);
    WriteReg8(0x1850, 0);
    EXPECT_EQ(machine->lastOutputLength, 1u);
    WriteReg32(0x60081C, 0x2200);
    ReadRom8(0);
    WriteRom8(0x5555, 0xAA);
    EXPECT_EQ(Field(machine, 3), 0xAAu);

    const struct {
        uint32_t code, address, size;
    } expected[] = {
        {IOCTL_MEM_READ, 0xE0001850, 1},  {IOCTL_MEM_READ, 0xE0101000, 4}, {IOCTL_MEM_WRITE, 0xE0001850, 1},
        {IOCTL_MEM_WRITE, 0xE060081C, 4}, {IOCTL_MEM_READ, 0xE0300000, 1}, {IOCTL_MEM_WRITE, 0xE0305555, 1},
    };
    ASSERT_EQ(LogSize(), 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(LogAt(i).code, expected[i].code) << i;
        EXPECT_EQ(LogAt(i).address, expected[i].address) << i;
        EXPECT_EQ(LogAt(i).size, expected[i].size) << i;
        EXPECT_TRUE(LogAt(i).ok) << i;
    }
}

TEST_F(AccessorTest, ByteResultsAreZeroExtendedAndByteWritesMasked)
{
    // The part is erased: an open aperture reads 0xFF.
    WriteReg8(0x1850, 0);
    uint32_t value = ReadRom8(0x100);
    EXPECT_EQ(value, 0xFFu);

    EXPECT_EQ(WriteReg8(0x1850, 0x101), 0x01u);
    EXPECT_EQ(Field(machine, 3), 0x01u);
    EXPECT_EQ(ReadReg8(0x1850), 0x01u);

    // A word read returns all 32 bits (straps of a parallel card are 0, so
    // use the dual-BIOS register, which holds what was written).
    WriteReg32(0x60081C, 0x80000201);
    EXPECT_EQ(ReadReg32(0x60081C), 0x80000201u);
}

TEST_F(AccessorTest, AFailedRequestYieldsZero)
{
    WriteReg32(0x60081C, 0x12345678);
    uint64_t failed = machine->failedCount;
    VcAddFaultRule(machine, 0, 0xFFFFFFFF, 0, 0);
    EXPECT_EQ(ReadReg32(0x60081C), 0u);
    EXPECT_EQ(ReadReg8(0x1850), 0u);
    EXPECT_EQ(WriteReg32(0x60081C, 0xFFFFFFFF), 0u);
    EXPECT_EQ(WriteReg8(0x1850, 0x55), 0u);
    EXPECT_EQ(WriteRom8(0, 0x55), 0u);
    EXPECT_EQ(machine->failedCount - failed, 5u);
}

TEST_F(AccessorTest, NoWindowMeansNoRequestAndZero)
{
    CardTable[0].WindowBase = 0;
    uint64_t before = machine->requestCount;
    EXPECT_EQ(ReadReg8(0x1850), 0u);
    EXPECT_EQ(ReadReg32(0x101000), 0u);
    EXPECT_EQ(WriteReg8(0x1850, 1), 0u);
    EXPECT_EQ(WriteReg32(0x1204, 5), 0u);
    EXPECT_EQ(ReadRom8(0), 0u);
    EXPECT_EQ(WriteRom8(0, 1), 0u);
    EXPECT_EQ(machine->requestCount, before);
}

TEST_F(AccessorTest, AccessesGoToTheCurrentCardOnly)
{
    // A second table entry on another bus and window: the request follows
    // CurrentCard's bus and base.
    CardTable[1] = CardTable[0];
    CardTable[1].BusNumber = 3;
    CardTable[1].WindowBase = 0xD0000000;
    CurrentCard = 1;
    EXPECT_EQ(ReadReg32(0x200), 0u);   // no card there: refused
    EXPECT_EQ(Field(machine, 0), 3u);
    EXPECT_EQ(Field(machine, 1), 0xD0000200u);
    CurrentCard = 0;
    EXPECT_NE(ReadReg32(0x200), 0u);
}

// ---- direct mode ----

// Memory below 4 GiB standing for a register window.
uint8_t* LowWindow()
{
    static uint8_t* window = nullptr;
    if (!window) {
#ifdef _WIN32
        for (uintptr_t at = 0x08000000; !window && at < 0x80000000u; at += 0x400000)
            window = static_cast<uint8_t*>(
                VirtualAlloc(reinterpret_cast<void*>(at), 0x400000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
        void* p = mmap(nullptr, 0x400000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
        window = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
#endif
    }
    return window;
}

TEST_F(VcardTest, DirectModeLoadsAndStoresThroughTheWindowAddress)
{
    uint8_t* window = LowWindow();
    ASSERT_NE(window, nullptr);
    memset(window, 0, 0x400000);
    AccessMode = AccessDirect;
    CardCount = 1;
    CurrentCard = 0;
    CardTable[0].WindowBase = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));

    window[0x1850] = 0xFF;
    EXPECT_EQ(ReadReg8(0x1850), 0xFFu);
    EXPECT_EQ(WriteReg8(0x1851, 0x1A5), 0xA5u);
    EXPECT_EQ(window[0x1851], 0xA5);
    EXPECT_EQ(window[0x1852], 0x00);

    EXPECT_EQ(WriteReg32(0x1204, 0x12345678), 0x12345678u);
    EXPECT_EQ(window[0x1204], 0x78);
    EXPECT_EQ(window[0x1207], 0x12);
    window[0x200] = 0x01;
    window[0x203] = 0x80;
    EXPECT_EQ(ReadReg32(0x200), 0x80000001u);

    window[0x305555] = 0x3C;
    EXPECT_EQ(ReadRom8(0x5555), 0x3Cu);
    EXPECT_EQ(WriteRom8(0x2AAA, 0x55), 0x55u);
    EXPECT_EQ(window[0x302AAA], 0x55);
    EXPECT_EQ(machine->requestCount, 0u);   // nothing went to a driver
}

TEST_F(VcardTest, DirectModeWithoutWindowTouchesNothing)
{
    AccessMode = AccessDirect;
    CardCount = 1;
    CardTable[0].WindowBase = 0;
    // Any access through a null base would fault here.
    EXPECT_EQ(ReadReg8(0x1850), 0u);
    EXPECT_EQ(ReadReg32(0x101000), 0u);
    EXPECT_EQ(WriteReg8(0x1850, 1), 0u);
    EXPECT_EQ(WriteReg32(0x1204, 1), 0u);
    EXPECT_EQ(ReadRom8(0), 0u);
    EXPECT_EQ(WriteRom8(0, 1), 0u);
}

TEST_F(VcardTest, AnyModeButDriverTakesTheDirectPath)
{
    uint8_t* window = LowWindow();
    ASSERT_NE(window, nullptr);
    window[0x1850] = 0x42;
    AccessMode = 2;
    CardCount = 1;
    CardTable[0].WindowBase = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    EXPECT_EQ(ReadReg8(0x1850), 0x42u);
    EXPECT_EQ(machine->requestCount, 0u);
}

}  // namespace
