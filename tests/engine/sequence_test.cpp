// Register and ROM accesses of the command primitives, as the card sees them.
#include <gtest/gtest.h>
#include <vector>
#include "core/state.h"
#include "engine/parallel.h"
#include "engine/parts.h"
#include "engine/serial.h"
#include "engine_card.h"
#include "hw/driver_requests.h"

namespace {

struct Access {
    char kind;   // 'R' or 'W'
    uint32_t offset;
    uint32_t value;
};

class Sequences : public ::testing::Test {
protected:
    void Attach(const char* partName, uint8_t deviceId, uint32_t strap)
    {
        ASSERT_TRUE(AttachEngineCard(partName, deviceId, strap));
        StartLog();
    }
    void StartLog()
    {
        EngineMachine.logEnabled = true;
        EngineMachine.logCount = 0;
    }
    std::vector<Access> Log() const
    {
        std::vector<Access> out;
        for (uint32_t i = 0; i < EngineMachine.logCount && i < VcLogCapacity; ++i) {
            const VcLogEntry& e = EngineMachine.log[i];
            out.push_back({e.code == IOCTL_MEM_WRITE ? 'W' : 'R', e.address - TestWindowBase, e.value});
        }
        return out;
    }
    // The bytes the part was sent, one group per selection: data out taken at
    // every rising clock edge while selected.
    std::vector<std::vector<uint8_t>> SentBytes() const
    {
        std::vector<std::vector<uint8_t>> groups;
        uint32_t lines = SerialDeselectBit;
        uint32_t bits = 0;
        uint8_t byte = 0;
        for (const Access& a : Log()) {
            if (a.kind != 'W' || a.offset != SerialLineRegister)
                continue;
            bool wasSelected = !(lines & SerialDeselectBit);
            bool selected = !(a.value & SerialDeselectBit);
            if (selected && !wasSelected) {
                groups.emplace_back();
                bits = 0;
            }
            if (selected && !(lines & SerialClockBit) && (a.value & SerialClockBit)) {
                byte = static_cast<uint8_t>((byte << 1) | ((a.value & SerialDataOutBit) ? 1 : 0));
                if (++bits % 8 == 0)
                    groups.back().push_back(byte);
            }
            lines = a.value;
        }
        return groups;
    }
};

void ExpectAccess(const Access& a, char kind, uint32_t offset)
{
    EXPECT_EQ(kind, a.kind);
    EXPECT_EQ(offset, a.offset);
}

TEST_F(Sequences, NormalSerialByteIsTenAccessesPerBit)
{
    Attach("M25P05", 0x05, InterfaceSpi);
    SerialBegin();
    StartLog();
    SerialSendByte(0xA5);
    std::vector<Access> log = Log();
    ASSERT_EQ(80u, log.size());
    for (int bit = 0; bit < 8; ++bit) {
        const Access* a = &log[bit * 10];
        const uint32_t data = ((0xA5 >> (7 - bit)) & 1) ? uint32_t(SerialDataOutBit) : 0u;
        ExpectAccess(a[0], 'R', SerialLineRegister);
        ExpectAccess(a[1], 'W', SerialLineRegister);
        // Bits other than data out are written back as read (data in included).
        EXPECT_EQ(SerialEnableBit | SerialDeselectBit | data, a[1].value & 0x0F);
        ExpectAccess(a[2], 'R', SerialLineRegister);
        // The clock pulse: one read, then a write and read-back and a settle
        // read for each edge, both edges from the value first read.
        ExpectAccess(a[3], 'R', SerialLineRegister);
        ExpectAccess(a[4], 'W', SerialLineRegister);
        EXPECT_EQ(a[1].value | SerialClockBit, a[4].value);
        ExpectAccess(a[5], 'R', SerialLineRegister);
        ExpectAccess(a[6], 'R', SerialSettleRegister);
        ExpectAccess(a[7], 'W', SerialLineRegister);
        EXPECT_EQ(a[1].value, a[7].value);
        ExpectAccess(a[8], 'R', SerialLineRegister);
        ExpectAccess(a[9], 'R', SerialSettleRegister);
    }
}

TEST_F(Sequences, QuickSerialByteIsThreeWritesPerBit)
{
    Attach("M25P05", 0x05, InterfaceSpi);
    NtNot2000 = true;
    SerialBegin();
    SerialSelect();
    StartLog();
    SerialSendByteQuick(0x3C);
    std::vector<Access> log = Log();
    ASSERT_EQ(25u, log.size());
    ExpectAccess(log[0], 'R', SerialLineRegister);
    for (int bit = 0; bit < 8; ++bit) {
        const Access* a = &log[1 + bit * 3];
        const uint32_t data = ((0x3C >> (7 - bit)) & 1) ? uint32_t(SerialDataOutBit) : 0u;
        const uint32_t held = SerialEnableBit | data;
        ExpectAccess(a[0], 'W', SerialLineRegister);
        EXPECT_EQ(held, a[0].value & 0x0F);
        EXPECT_EQ(a[0].value | SerialClockBit, a[1].value);
        EXPECT_EQ(a[0].value, a[2].value);
    }
}

TEST_F(Sequences, SpiEraseSendsWriteEnableThenTheMakersOpcode)
{
    Attach("AT25F1024", 0x60, InterfaceSpi);
    // An erase that ends at once keeps the status polls within the log.
    EnginePart()->eraseMs = 0;
    SpiChipErase(0x1F);
    std::vector<Access> log = Log();
    ASSERT_GE(log.size(), 4u);
    ExpectAccess(log[0], 'W', RomAccessSwitch);
    EXPECT_EQ(0u, log[0].value);
    ExpectAccess(log.back(), 'W', RomAccessSwitch);
    EXPECT_EQ(1u, log.back().value);
    std::vector<std::vector<uint8_t>> sent = SentBytes();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>{0x06}, sent[0]);
    EXPECT_EQ(std::vector<uint8_t>{0x62}, sent[1]);
    EXPECT_EQ(0x05, sent[2].at(0));

    for (uint8_t maker : {0x20, 0x5E, 0x9D}) {
        StartLog();
        SpiChipErase(maker);
        EXPECT_EQ(0xC7, SentBytes().at(1).at(0));
    }

    // SST parts first have their power-up block protection cleared.
    StartLog();
    SpiChipErase(0xBF);
    sent = SentBytes();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>{0x50}, sent[0]);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x00}), sent[1]);
    EXPECT_EQ(std::vector<uint8_t>{0x06}, sent[2]);
    EXPECT_EQ(std::vector<uint8_t>{0x60}, sent[3]);
}

TEST_F(Sequences, ProgramCommandsOfBothSerialSets)
{
    const uint8_t source[] = {0, 0, 0, 0x11, 0x22};
    Attach("M25P05", 0x05, InterfaceSpi);
    OpenRomAccess();
    StartLog();
    EXPECT_TRUE(SpiProgram(3, source, 3, 2));
    std::vector<std::vector<uint8_t>> sent = SentBytes();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>{0x06}, sent[0]);
    EXPECT_EQ((std::vector<uint8_t>{0x02, 0x00, 0x00, 0x03, 0x11, 0x22}), sent[1]);

    Attach("M25P05", 0x05, InterfaceSerial2);
    OpenRomAccess();
    StartLog();
    EXPECT_TRUE(Serial2Program(3, source, 3, 2));
    sent = SentBytes();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ((std::vector<uint8_t>{0x10, 0x00, 0x00, 0x03, 0x11, 0x22, 0x00}), sent[0]);
    EXPECT_EQ(0x9F, sent[1].at(0));
}

TEST_F(Sequences, StatusPollingEndsOnOppositeBits)
{
    // A data-in line stuck high reads status 0xFF: busy to the SPI set,
    // ready to the second set.
    Attach("M25P05", 0x05, InterfaceSpi);
    EnginePart()->faults.dataInStuckEnabled = true;
    EnginePart()->faults.dataInStuckHigh = false;
    SerialBegin();
    uint64_t start = EngineMachine.requestCount;
    SpiWaitReady();
    const uint64_t onePoll = EngineMachine.requestCount - start - 3;   // less the final deselect
    EnginePart()->faults.dataInStuckHigh = true;
    start = EngineMachine.requestCount;
    SpiWaitReady();
    EXPECT_EQ(1000 * onePoll + 3, EngineMachine.requestCount - start);

    Attach("M25P05", 0x05, InterfaceSerial2);
    EnginePart()->faults.dataInStuckEnabled = true;
    EnginePart()->faults.dataInStuckHigh = true;
    SerialBegin();
    StartLog();
    Serial2WaitReady();
    std::vector<std::vector<uint8_t>> sent = SentBytes();
    ASSERT_EQ(1u, sent.size());
    // 0x9F, then exactly one status byte clocked in.
    EXPECT_EQ(2u, sent[0].size());
}

TEST_F(Sequences, ParallelByteProgramAndIdentification)
{
    Attach("39VF512", 0xD4, InterfaceParallel);
    OpenRomAccess();
    StartLog();
    uint8_t maker = 0, device = 0;
    const VcTime start = EngineMachine.now;
    JedecReadId(&maker, &device);
    EXPECT_EQ(0xBF, maker);
    EXPECT_EQ(0xD4, device);
    // A unit after the entry and another after the exit.
    EXPECT_EQ(2ull * SpinDelayIterations * VcBusyIterationNs + 8 * VcRequestCostNs, EngineMachine.now - start);
    EXPECT_TRUE(ParallelProgramByte(0x4321, 0x5A));
    std::vector<Access> log = Log();
    const Access expected[] = {
        {'W', 0x305555, 0xAA}, {'W', 0x302AAA, 0x55}, {'W', 0x305555, 0x90}, {'R', 0x300000, 0xBF},
        {'R', 0x300001, 0xD4}, {'W', 0x305555, 0xAA}, {'W', 0x302AAA, 0x55}, {'W', 0x305555, 0xF0},
        {'W', 0x305555, 0xAA}, {'W', 0x302AAA, 0x55}, {'W', 0x305555, 0xA0}, {'W', 0x304321, 0x5A},
        {'R', 0x304321, 0x5A},
    };
    ASSERT_EQ(sizeof expected / sizeof expected[0], log.size());
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(expected[i].kind, log[i].kind) << i;
        EXPECT_EQ(expected[i].offset, log[i].offset) << i;
        EXPECT_EQ(expected[i].value, log[i].value) << i;
    }
}

TEST_F(Sequences, PollingGivesUpAfterAThousandWaits)
{
    Attach("39VF512", 0xD4, InterfaceParallel);
    OpenRomAccess();
    EnginePart()->faults.programNeverFinishes = true;
    StartLog();
    EXPECT_FALSE(ParallelProgramByte(0x10, 0x00));
    EXPECT_EQ(4u + 1001u, EngineMachine.logCount);

    // Nothing at all for the "Unknown" entry.
    const uint8_t page[128] = {};
    StartLog();
    EXPECT_FALSE(ParallelProgramPage(&FlashPartTable[0], 128, page, 0));
    EXPECT_EQ(0u, EngineMachine.logCount);
}

TEST_F(Sequences, InterfaceIsReadWithTheRomAccessOpen)
{
    Attach("M25P10", 0x10, InterfaceSpi);
    ChipEntry chip = {};
    chip.StrapFlag = 1;
    StartLog();
    EXPECT_EQ(InterfaceSpi, DetectFlashInterface(&chip));
    std::vector<Access> log = Log();
    ASSERT_EQ(3u, log.size());
    ExpectAccess(log[0], 'W', RomAccessSwitch);
    EXPECT_EQ(0u, log[0].value);
    ExpectAccess(log[1], 'R', StrapRegister);
    ExpectAccess(log[2], 'W', RomAccessSwitch);
    EXPECT_EQ(1u, log[2].value);
}

TEST_F(Sequences, SpinDelayCountsAtLeastOneUnit)
{
    Attach("39VF512", 0xD4, InterfaceParallel);
    const VcTime start = EngineMachine.now;
    SpinDelay(0);
    SpinDelay(-5);
    SpinDelay(3);
    EXPECT_EQ(5ull * SpinDelayIterations * VcBusyIterationNs, EngineMachine.now - start);
}

} // namespace
