#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "part_host.h"

namespace {

const VcTime Us = 1000;
const VcTime Ms = 1000 * Us;

VcFlashPart g_part;

struct Fixture {
    PartHost host;
    explicit Fixture(const char* name, VcPartBus bus = VcBusSpi, uint8_t device = 0) {
        VcPartInitOnBus(&g_part, VcFindPartType(name, device), bus);
        HostInit(&host, &g_part);
    }
};

void Send(PartHost* host, std::vector<uint8_t> bytes) {
    SerialCommand(host, bytes.data(), (int)bytes.size(), nullptr, 0, true);
}

uint8_t SpiStatus(PartHost* host) {
    uint8_t op = 0x05, status = 0;
    SerialCommand(host, &op, 1, &status, 1, true);
    return status;
}

void SpiProgram(PartHost* host, uint32_t address, const uint8_t* data, int count) {
    Send(host, {0x06});
    std::vector<uint8_t> bytes = {0x02, (uint8_t)(address >> 16), (uint8_t)(address >> 8), (uint8_t)address};
    bytes.insert(bytes.end(), data, data + count);
    Send(host, bytes);
}

std::vector<int> AllRows(VcPartBus bus, bool onlyThatBus) {
    std::vector<int> rows;
    for (int i = 0; i < VcPartTypeCount(); ++i)
        if (!onlyThatBus || VcPartTypeAt(i)->bus == bus) rows.push_back(i);
    return rows;
}

std::string RowName(const testing::TestParamInfo<int>& info) {
    std::string name;
    for (const char* c = VcPartTypeAt(info.param)->name; *c; ++c) name += isalnum((unsigned char)*c) ? *c : '_';
    return name + "_" + std::to_string(info.param);
}

class SpiRow : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        type = VcPartTypeAt(GetParam());
        VcPartInit(&g_part, type);
        VcPartSetStatusBits(&g_part, 0);
        HostInit(&host, &g_part);
    }
    const VcPartType* type;
    PartHost host;
};

TEST_P(SpiRow, IdentifiesWithTheHostSequence) {
    uint8_t maker = 0, device = 0;
    SpiReadId(&host, &maker, &device);
    EXPECT_EQ(type->makerId, maker);
    EXPECT_EQ(type->deviceId, device);
    EXPECT_TRUE(VcPartSerialDataIn(&g_part, host.now));   // released line floats high
}

// The part moves its output on clock edges only: the data line changing
// while the clock stays low is no edge.
TEST_P(SpiRow, DataLineChangesBetweenClocksAreNoEdges)
{
    std::vector<uint8_t> command =
        type->family == VcFamilySpiAtmel ? std::vector<uint8_t>{0x15} : std::vector<uint8_t>{0xAB, 0, 0, 0};
    uint8_t plain[2];
    SerialCommand(&host, command.data(), (int)command.size(), plain, 2, true);
    SerialBegin(&host);
    SerialSelect(&host);
    for (uint8_t b : command)
        SerialSendByte(&host, b);
    uint8_t toggled[2] = {};
    for (int i = 0; i < 2; ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            host.lines ^= 0x08;
            VcPartSerialLines(&g_part, host.lines, host.now);
            toggled[i] = (uint8_t)((toggled[i] << 1) | (VcPartSerialDataIn(&g_part, host.now) ? 1 : 0));
            SerialClockPulse(&host);
        }
    }
    SerialDeselect(&host);
    SerialEnd(&host);
    EXPECT_EQ(plain[0], toggled[0]);
    EXPECT_EQ(plain[1], toggled[1]);
}

TEST_P(SpiRow, StatusWriteTakesTheByteAfterTheOpcode)
{
    Send(&host, {0x06});
    Send(&host, {0x01, 0x0C});
    EXPECT_EQ(0x0C, SpiStatus(&host));
    Send(&host, {0x06});
    Send(&host, {0x01, 0x00});
    EXPECT_EQ(0x00, SpiStatus(&host));
}

TEST_P(SpiRow, EraseAndProgramWithWriteEnable) {
    uint8_t data[4] = {0x12, 0x34, 0x56, 0x78};
    int count = type->pageSize > 1 ? 4 : 1;
    SpiProgram(&host, 0x1000, data, count);
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x1000, host.now));   // busy: no data
    HostWait(&host, (VcTime)type->programUs * Us);
    for (int i = 0; i < count; ++i) EXPECT_EQ(data[i], VcPartRead(&g_part, 0x1000 + i, host.now));
    EXPECT_EQ(0, SpiStatus(&host) & 0x03);   // ready, latch cleared by the completed program

    // Each accepted opcode erases; the others are ignored.
    const uint8_t ops[3] = {0xC7, 0x60, 0x62};
    const uint8_t bits[3] = {VcEraseC7, VcErase60, VcErase62};
    for (int i = 0; i < 3; ++i) {
        Send(&host, {0x06});
        Send(&host, {ops[i]});
        uint8_t status = SpiStatus(&host);
        if (type->eraseOps & bits[i]) {
            EXPECT_EQ(0x03, status & 0x03) << (int)ops[i];
            HostWait(&host, (VcTime)type->eraseMs * Ms);
            EXPECT_EQ(0, SpiStatus(&host) & 0x01);
            EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x1000, host.now));
            SpiProgram(&host, 0x1000, data, 1);
            HostWait(&host, (VcTime)type->programUs * Us);
        } else {
            EXPECT_EQ(0x02, status & 0x03) << (int)ops[i];
            Send(&host, {0x04});
        }
    }
    EXPECT_EQ((uint64_t)__builtin_popcount(type->eraseOps), g_part.eraseCount);
}

INSTANTIATE_TEST_SUITE_P(Spi, SpiRow, testing::ValuesIn(AllRows(VcBusSpi, true)), RowName);

class Serial2Row : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        type = VcPartTypeAt(GetParam());
        VcPartInitOnBus(&g_part, type, VcBusSerial2);
        HostInit(&host, &g_part);
    }
    uint8_t Status() {
        uint8_t op = 0x9F, status[2];
        SerialCommand(&host, &op, 1, status, 2, false);
        EXPECT_EQ(status[0], status[1]);
        return status[0];
    }
    const VcPartType* type;
    PartHost host;
};

TEST_P(Serial2Row, IdentifiesEraseAndProgram) {
    uint8_t maker = 0, device = 0;
    Serial2ReadId(&host, &maker, &device);
    EXPECT_EQ(type->makerId, maker);
    EXPECT_EQ(type->deviceId, device);

    Send(&host, {0x60, 0x00, 0x00, 0x00, 0xD0, 0x00});
    EXPECT_EQ(0x00, Status());
    HostWait(&host, (VcTime)type->eraseMs * Ms);
    EXPECT_EQ(0x01, Status());
    EXPECT_EQ(1u, g_part.eraseCount);

    Send(&host, {0x10, 0x00, 0x01, 0x00, 0xA5, 0x5A, 0x00});
    if (type->pageSize > 1) {   // byte-program types are done before a status command is through
        EXPECT_EQ(0x00, Status());
    }
    HostWait(&host, 2 * (VcTime)type->programUs * Us);
    EXPECT_EQ(0x01, Status());
    EXPECT_EQ(0xA5, VcPartRead(&g_part, 0x100, host.now));
    EXPECT_EQ(0x5A, VcPartRead(&g_part, 0x101, host.now));
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x102, host.now));   // the closing 0x00 is no data
}

INSTANTIATE_TEST_SUITE_P(AnyType, Serial2Row, testing::ValuesIn(AllRows(VcBusSerial2, false)), RowName);

TEST(SpiPart, WriteEnableLatchRules) {
    Fixture f("M25P10");
    const uint8_t data[2] = {0x00, 0x00};
    // No write enable: the program is ignored.
    Send(&f.host, {0x02, 0x00, 0x00, 0x10, 0x00});
    // Write enable then write disable: still ignored.
    Send(&f.host, {0x06});
    EXPECT_EQ(0x02, SpiStatus(&f.host));
    Send(&f.host, {0x04});
    EXPECT_EQ(0x00, SpiStatus(&f.host));
    Send(&f.host, {0x02, 0x00, 0x00, 0x10, 0x00});
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x10, f.host.now));
    EXPECT_EQ(0u, g_part.programCount);
    // A write enable cut off before its eighth bit does nothing.
    SerialBegin(&f.host);
    SerialSelect(&f.host);
    SerialSendByte(&f.host, 0x06);
    SerialClockPulse(&f.host);
    SerialDeselect(&f.host);
    SerialEnd(&f.host);
    EXPECT_EQ(0x00, SpiStatus(&f.host));
    // One enable is used up by one program, and commands sent while busy are
    // ignored (write enable included).
    SpiProgram(&f.host, 0x10, data, 1);
    Send(&f.host, {0x06});
    Send(&f.host, {0x02, 0x00, 0x00, 0x11, 0x00});
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0x00, SpiStatus(&f.host));
    Send(&f.host, {0x02, 0x00, 0x00, 0x11, 0x00});
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0x00, VcPartRead(&g_part, 0x10, f.host.now));
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x11, f.host.now));
    EXPECT_EQ(1u, g_part.programCount);
}

TEST(SpiPart, StatusRepeatsWhileSelected) {
    Fixture f("AT25F1024");
    Send(&f.host, {0x06});
    Send(&f.host, {0x62});
    SerialBegin(&f.host);
    SerialSelect(&f.host);
    SerialSendByte(&f.host, 0x05);
    EXPECT_EQ(0x03, SerialReadSampleFirst(&f.host));
    EXPECT_EQ(0x03, SerialReadSampleFirst(&f.host));
    HostWait(&f.host, 2000 * Ms);
    EXPECT_EQ(0x00, SerialReadSampleFirst(&f.host));   // the end is seen in the same selection
    SerialDeselect(&f.host);
    SerialEnd(&f.host);
}

TEST(SpiPart, StatusSampledAfterThePulseComesOutShifted) {
    // A mode-0 part has bit 7 on the line before the first pulse: a host that
    // reads after each pulse gets bits 6..0 and then bit 7 of the next byte.
    Fixture f("25LV010");
    Send(&f.host, {0x06});
    Send(&f.host, {0xC7});
    uint8_t op = 0x05, status = 0;
    SerialCommand(&f.host, &op, 1, &status, 1, false);
    EXPECT_EQ(0x06, status);   // busy and latch bits moved up, bit 0 = bit 7 (clear)
    VcPartSetStatusBits(&g_part, 0x80);
    SerialCommand(&f.host, &op, 1, &status, 1, false);
    EXPECT_EQ(0x07, status);
}

TEST(SpiPart, PageProgramWrapsWithinThePage) {
    Fixture f("AT25F1024", VcBusSpi, 0x40);
    std::vector<uint8_t> data(10);
    for (int i = 0; i < 10; ++i) data[i] = (uint8_t)(0x80 + i);
    SpiProgram(&f.host, 0x1FA, data.data(), 10);
    HostWait(&f.host, 3 * Ms);
    EXPECT_EQ(0x80, VcPartRead(&g_part, 0x1FA, f.host.now));
    EXPECT_EQ(0x85, VcPartRead(&g_part, 0x1FF, f.host.now));
    EXPECT_EQ(0x86, VcPartRead(&g_part, 0x100, f.host.now));
    EXPECT_EQ(0x89, VcPartRead(&g_part, 0x103, f.host.now));
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x200, f.host.now));
    // Programming only clears bits.
    const uint8_t more[1] = {0x0F};
    SpiProgram(&f.host, 0x1FA, more, 1);
    HostWait(&f.host, 3 * Ms);
    EXPECT_EQ(0x00, VcPartRead(&g_part, 0x1FA, f.host.now));
}

TEST(SpiPart, SstBytePartsAndTheirPowerUpProtection) {
    Fixture f("25VF512");
    EXPECT_EQ(0x0C, SpiStatus(&f.host));
    // Protected: erase and program refused.
    Send(&f.host, {0x06});
    Send(&f.host, {0x60});
    EXPECT_EQ(0x0E, SpiStatus(&f.host));
    // 0x50 then a status write clears the protection.
    Send(&f.host, {0x50});
    Send(&f.host, {0x01, 0x00});
    EXPECT_EQ(0x00, SpiStatus(&f.host));
    // A status write without 0x50 or write enable is refused.
    Send(&f.host, {0x01, 0x0C});
    EXPECT_EQ(0x00, SpiStatus(&f.host));
    // One byte per program command: a second data byte voids it.
    const uint8_t two[2] = {0x11, 0x22};
    SpiProgram(&f.host, 0x20, two, 2);
    SpiProgram(&f.host, 0x30, two, 1);
    HostWait(&f.host, 1 * Ms);
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x20, f.host.now));
    EXPECT_EQ(0x11, VcPartRead(&g_part, 0x30, f.host.now));
    // 0x90 at an odd address answers the device code first.
    uint8_t id[3];
    const uint8_t cmd[4] = {0x90, 0x00, 0x00, 0x01};
    SerialCommand(&f.host, cmd, 4, id, 3, true);
    EXPECT_EQ(0x48, id[0]);
    EXPECT_EQ(0xBF, id[1]);
    EXPECT_EQ(0x48, id[2]);
}

TEST(SpiPart, WrongOpcodesAreIgnored) {
    // Identification opcodes of other families leave the line undriven.
    uint8_t reply[2];
    const uint8_t rdid = 0x15, res[4] = {0xAB, 0, 0, 0};
    Fixture f("M25P05");
    SerialCommand(&f.host, &rdid, 1, reply, 2, true);
    EXPECT_EQ(0xFF, reply[0]);
    SerialCommand(&f.host, res, 4, reply, 2, true);
    EXPECT_EQ(0x05, reply[0]);
    EXPECT_EQ(0x05, reply[1]);
    Fixture g("AT25F1024");
    SerialCommand(&g.host, res, 4, reply, 2, true);
    EXPECT_EQ(0xFF, reply[0]);
    EXPECT_EQ(0xFF, reply[1]);
}

TEST(Serial2Part, MalformedCommandsAreIgnored) {
    Fixture f("39VF010", VcBusSerial2);
    Send(&f.host, {0x60, 0x00, 0x00, 0x00, 0xD1, 0x00});      // wrong confirm byte
    Send(&f.host, {0x60, 0x00, 0x00, 0x00, 0xD0});            // cut short
    Send(&f.host, {0x10, 0x00, 0x00, 0x05, 0x12, 0x34});      // no closing 0x00
    Send(&f.host, {0x06});                                     // not of this set
    HostWait(&f.host, 1000 * Ms);
    EXPECT_EQ(0u, g_part.eraseCount);
    EXPECT_EQ(0u, g_part.programCount);
    EXPECT_EQ(0xFF, VcPartRead(&g_part, 0x05, f.host.now));
}

TEST(SerialFaults, NeverFinishingAndStuckDataIn) {
    Fixture f("25LV512");
    g_part.faults.eraseNeverFinishes = true;
    Send(&f.host, {0x06});
    Send(&f.host, {0xC7});
    HostWait(&f.host, 100000 * Ms);
    EXPECT_EQ(0x03, SpiStatus(&f.host));

    Fixture g("W29C011A", VcBusSerial2);
    g_part.faults.programNeverFinishes = true;
    Send(&g.host, {0x10, 0x00, 0x00, 0x00, 0x00, 0x00});
    HostWait(&g.host, 100000 * Ms);
    EXPECT_TRUE(VcPartBusy(&g_part, g.host.now));

    uint8_t maker = 0, device = 0;
    Fixture h("M25P10");
    g_part.faults.dataInStuckEnabled = true;
    g_part.faults.dataInStuckHigh = false;
    SpiReadId(&h.host, &maker, &device);
    EXPECT_EQ(0x20, maker);
    EXPECT_EQ(0x00, device);
    g_part.faults.dataInStuckHigh = true;
    SpiReadId(&h.host, &maker, &device);
    EXPECT_EQ(0x20, maker);
    EXPECT_EQ(0xFF, device);
}

}  // namespace
