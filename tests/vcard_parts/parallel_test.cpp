#include <gtest/gtest.h>
#include <string.h>

#include "part_host.h"

namespace {

const VcTime Us = 1000;
const VcTime Ms = 1000 * Us;

VcFlashPart g_part;

struct Fixture {
    PartHost host;
    explicit Fixture(const char* name, uint8_t device = 0) {
        VcPartInit(&g_part, VcFindPartType(name, device));
        HostInit(&host, &g_part);
    }
};

// Parallel rows of the catalogue.
std::vector<int> RowsOnBus(VcPartBus bus) {
    std::vector<int> rows;
    for (int i = 0; i < VcPartTypeCount(); ++i)
        if (VcPartTypeAt(i)->bus == bus) rows.push_back(i);
    return rows;
}

std::string RowName(const testing::TestParamInfo<int>& info) {
    std::string name;
    for (const char* c = VcPartTypeAt(info.param)->name; *c; ++c) name += isalnum((unsigned char)*c) ? *c : '_';
    return name + "_" + std::to_string(info.param);
}

TEST(PartCatalogue, RowsFollowThePartTable) {
    ASSERT_EQ(37, VcPartTypeCount());
    EXPECT_EQ(nullptr, VcPartTypeAt(37));
    EXPECT_STREQ("29EE512", VcPartTypeName(VcPartTypeAt(0)));
    EXPECT_STREQ("25LV010", VcPartTypeName(VcPartTypeAt(36)));
    for (int i = 0; i < VcPartTypeCount(); ++i) {
        const VcPartType* t = VcPartTypeAt(i);
        SCOPED_TRACE(t->name);
        EXPECT_TRUE(t->sizeKiB == 64 || t->sizeKiB == 128);
        EXPECT_TRUE(t->pageSize == 1 || t->pageSize == 128 || t->pageSize == 256);
        EXPECT_GT(t->programUs, 0u);
        EXPECT_GT(t->eraseMs, 0u);
        if (t->family == VcFamilyJedecPage) {
            EXPECT_GT(t->loadTimeoutUs, 0u);
        }
        if (t->bus == VcBusSpi) {
            EXPECT_NE(0, t->eraseOps);
        }
        for (int j = 0; j < i; ++j)
            EXPECT_FALSE(VcPartTypeAt(j)->makerId == t->makerId && VcPartTypeAt(j)->deviceId == t->deviceId);
    }
    EXPECT_EQ(0x60, VcPartTypeDeviceId(VcFindPartType("AT25F1024", 0)));
    EXPECT_EQ(0x40, VcPartTypeDeviceId(VcFindPartType("AT25F1024", 0x40)));
    EXPECT_EQ(nullptr, VcFindPartType("AT25F1024", 0x41));
    EXPECT_EQ(nullptr, VcFindPartType("29EE51", 0));
    EXPECT_EQ(64u * 1024, VcPartTypeSize(VcFindPartType("M25P05", 0)));
    EXPECT_EQ(128u * 1024, VcPartTypeSize(VcFindPartType("M25P10", 0)));
}

class ParallelRow : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        type = VcPartTypeAt(GetParam());
        VcPartInit(&g_part, type);
        HostInit(&host, &g_part);
    }
    bool IsPage() const { return type->family == VcFamilyJedecPage; }
    // Programs one unit the way the part wants it.
    void Program(uint32_t offset, const uint8_t* bytes) {
        if (IsPage()) {
            HostCommand(&host, 0xA0);
            for (uint32_t i = 0; i < type->pageSize; ++i) HostWrite(&host, offset + i, bytes[i]);
        } else {
            HostCommand(&host, 0xA0);
            HostWrite(&host, offset, bytes[0]);
        }
    }
    const VcPartType* type;
    PartHost host;
};

TEST_P(ParallelRow, IdentifiesWithTheJedecSequence) {
    HostCommand(&host, 0x90);
    HostWait(&host, (VcTime)type->idDelayUs * Us);
    EXPECT_EQ(type->makerId, HostRead(&host, 0));
    EXPECT_EQ(type->deviceId, HostRead(&host, 1));
    HostCommand(&host, 0xF0);
    HostWait(&host, (VcTime)type->idDelayUs * Us);
    EXPECT_EQ(0xFF, HostRead(&host, 0));
    EXPECT_EQ(0xFF, HostRead(&host, 1));
}

TEST_P(ParallelRow, ChipEraseIsBusyForItsTimeThenBlank) {
    uint8_t unit[128];
    memset(unit, 0x12, sizeof(unit));
    Program(0x100, unit);
    HostWait(&host, 100 * Ms);
    ASSERT_EQ(0x12, HostRead(&host, 0x100));
    HostChipErase(&host);
    VcTime start = host.now;
    uint8_t first = HostRead(&host, 0x100);
    uint8_t second = HostRead(&host, 0x100);
    EXPECT_EQ(0, first & 0x80);                 // DQ7 reads 0 during an erase
    EXPECT_NE(first & 0x40, second & 0x40);     // DQ6 toggles
    host.now = start + (VcTime)type->eraseMs * Ms - 10 * Us;
    EXPECT_TRUE(VcPartBusy(&g_part, host.now));
    host.now = start + (VcTime)type->eraseMs * Ms;
    EXPECT_EQ(0xFF, HostRead(&host, 0x100));
    EXPECT_EQ(0xFF, HostRead(&host, 0x101));
    EXPECT_EQ(1u, g_part.eraseCount);
    // The program before and the erase, at their modelled times.
    EXPECT_EQ((VcTime)type->programUs * Us + (VcTime)type->eraseMs * Ms, g_part.busyTime);
}

TEST_P(ParallelRow, ProgramReadsStatusUntilDone) {
    uint8_t unit[128];
    for (int i = 0; i < 128; ++i) unit[i] = (uint8_t)(0x35 + i);
    Program(0x2000, unit);
    uint32_t last = type->pageSize - 1;
    uint8_t status = HostRead(&host, 0x2000 + last);
    EXPECT_NE(unit[last], status);
    EXPECT_EQ((~unit[last]) & 0x80, status & 0x80);   // DQ7 data# polling
    EXPECT_EQ(0, status & 0x3F);                      // DQ6 toggles, the rest read low
    HostWait(&host, (VcTime)(type->programUs + type->loadTimeoutUs) * Us);
    for (uint32_t i = 0; i <= last; ++i) ASSERT_EQ(unit[i], HostRead(&host, 0x2000 + i)) << i;
}

TEST_P(ParallelRow, BrokenSequenceReturnsToReadMode) {
    if (IsPage()) {
        // An unprotected page-write part takes any write as data: protect it
        // first with a protected page write.
        uint8_t unit[128];
        memset(unit, 0xFF, sizeof(unit));
        Program(0x1000, unit);
        HostWait(&host, 100 * Ms);
    }
    // 55 at the wrong address between the unlock cycles, then A0 and a write:
    // nothing may be programmed.
    HostWrite(&host, 0x5555, 0xAA);
    HostWrite(&host, 0x1234, 0x55);
    HostWrite(&host, 0x5555, 0xA0);
    HostWrite(&host, 0x40, 0x00);
    HostWait(&host, 100 * Ms);
    EXPECT_EQ(0xFF, HostRead(&host, 0x40));
    // Same for a wrong command byte after a good unlock.
    HostCommand(&host, 0x77);
    HostCommand(&host, 0x90);
    HostWait(&host, (VcTime)type->idDelayUs * Us);
    EXPECT_EQ(type->makerId, HostRead(&host, 0));   // the part still takes a good sequence
    HostCommand(&host, 0xF0);
    HostWait(&host, (VcTime)type->idDelayUs * Us);

    // A chip erase whose second unlock has 55 at the wrong address erases
    // nothing.
    uint8_t zeros[256];
    memset(zeros, 0x00, sizeof(zeros));
    Program(0x2000, zeros);
    HostWait(&host, 100 * Ms);
    ASSERT_EQ(0x00, HostRead(&host, 0x2000));
    HostCommand(&host, 0x80);
    HostWrite(&host, 0x5555, 0xAA);
    HostWrite(&host, 0x1234, 0x55);
    HostWrite(&host, 0x5555, 0x10);
    HostWait(&host, (VcTime)type->eraseMs * Ms + 100 * Ms);
    EXPECT_EQ(0x00, HostRead(&host, 0x2000));
}

INSTANTIATE_TEST_SUITE_P(Parallel, ParallelRow, testing::ValuesIn(RowsOnBus(VcBusParallel)), RowName);

TEST(ParallelPart, ProgramOnlyClearsBits) {
    Fixture f("39SF010");
    HostCommand(&f.host, 0xA0);
    HostWrite(&f.host, 0x10, 0xF0);
    HostWait(&f.host, 100 * Us);
    HostCommand(&f.host, 0xA0);
    HostWrite(&f.host, 0x10, 0x3C);
    HostWait(&f.host, 100 * Us);
    EXPECT_EQ(0x30, HostRead(&f.host, 0x10));
    EXPECT_EQ(2u, g_part.programCount);
}

TEST(ParallelPart, ShortDecodeSeesCommandAddressesModulo) {
    // AMD decodes A10-A0: 0x5555/0x2AAA arrive as 0x555/0x2AA, and the short
    // addresses themselves work as well.
    Fixture f("29LV001B");
    HostCommand(&f.host, 0x90);
    EXPECT_EQ(0x01, HostRead(&f.host, 0));
    HostWrite(&f.host, 0x555, 0xAA);
    HostWrite(&f.host, 0x2AA, 0x55);
    HostWrite(&f.host, 0x555, 0xF0);
    EXPECT_EQ(0xFF, HostRead(&f.host, 0));
    // SST decodes A14-A0: 0x555 is not an unlock address there.
    Fixture g("39VF010");
    HostWrite(&g.host, 0x555, 0xAA);
    HostWrite(&g.host, 0x2AA, 0x55);
    HostWrite(&g.host, 0x555, 0x90);
    EXPECT_EQ(0xFF, HostRead(&g.host, 0));
    HostWrite(&g.host, 0x15555, 0xAA);   // A16 is not decoded
    HostWrite(&g.host, 0x12AAA, 0x55);
    HostWrite(&g.host, 0x15555, 0x90);
    EXPECT_EQ(0xBF, HostRead(&g.host, 0));
}

TEST(ParallelPart, IdentificationExit) {
    // A lone F0 leaves identification mode on parts that accept it...
    Fixture f("39VF512");
    HostCommand(&f.host, 0x90);
    HostWrite(&f.host, 0, 0xF0);
    EXPECT_EQ(0xFF, HostRead(&f.host, 0));
    // ...not on the others, which stay there through a broken sequence too.
    Fixture g("49F010");
    HostCommand(&g.host, 0x90);
    HostWrite(&g.host, 0, 0xF0);
    HostWrite(&g.host, 0x5555, 0xAA);
    HostWrite(&g.host, 0x5555, 0xAA);
    EXPECT_EQ(0x1F, HostRead(&g.host, 0));
    EXPECT_EQ(0x87, HostRead(&g.host, 1));
    HostCommand(&g.host, 0xF0);
    EXPECT_EQ(0xFF, HostRead(&g.host, 1));
}

TEST(ParallelPart, IdentificationTakesEffectAfterTheAccessTime) {
    // Page-write parts with a 10 µs identification access time: a read one
    // microsecond after the entry still sees the array.
    Fixture f("29EE010");
    g_part.data[0] = 0x55;
    g_part.data[1] = 0xAA;
    HostCommand(&f.host, 0x90);
    EXPECT_EQ(0x55, HostRead(&f.host, 0));
    EXPECT_EQ(0xAA, HostRead(&f.host, 1));
    HostWait(&f.host, 10 * Us);
    EXPECT_EQ(0xBF, HostRead(&f.host, 0));
    EXPECT_EQ(0x07, HostRead(&f.host, 1));
    HostCommand(&f.host, 0xF0);
    EXPECT_EQ(0xBF, HostRead(&f.host, 0));
    HostWait(&f.host, 10 * Us);
    EXPECT_EQ(0x55, HostRead(&f.host, 0));
}

TEST(ParallelPart, PageWriteReplacesThePageAfterTheLoadTimeout) {
    Fixture f("29C010A");
    memset(g_part.data + 0x400, 0x00, 0x100);
    HostCommand(&f.host, 0xA0);
    // Loads in any order within the page; the last load of a byte wins; the
    // bytes not loaded come out erased.
    HostWrite(&f.host, 0x405, 0x11);
    HostWrite(&f.host, 0x401, 0x22);
    HostWrite(&f.host, 0x405, 0x33);
    HostWait(&f.host, 149 * Us);
    EXPECT_FALSE(VcPartBusy(&g_part, f.host.now));   // still loading
    HostWait(&f.host, 2 * Us);
    EXPECT_TRUE(VcPartBusy(&g_part, f.host.now));
    HostWrite(&f.host, 0x406, 0x44);                  // ignored during the write cycle
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0xFF, HostRead(&f.host, 0x400));
    EXPECT_EQ(0x22, HostRead(&f.host, 0x401));
    EXPECT_EQ(0x33, HostRead(&f.host, 0x405));
    EXPECT_EQ(0xFF, HostRead(&f.host, 0x406));
    EXPECT_EQ(0x00, HostRead(&f.host, 0x480));        // next page untouched
    EXPECT_EQ(1u, g_part.programCount);
}

TEST(ParallelPart, SoftwareDataProtection) {
    // Shipped unprotected: a plain write loads and writes a page.
    Fixture f("W29C011A");
    HostWrite(&f.host, 0x300, 0x5A);
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0x5A, HostRead(&f.host, 0x300));
    // A protected write turns protection on: plain writes are ignored after.
    HostCommand(&f.host, 0xA0);
    HostWrite(&f.host, 0x300, 0x6B);
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0x6B, HostRead(&f.host, 0x300));
    HostWrite(&f.host, 0x300, 0x00);
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0x6B, HostRead(&f.host, 0x300));
    // AA 55 80 AA 55 20 turns it off again.
    HostCommand(&f.host, 0x80);
    HostCommand(&f.host, 0x20);
    HostWrite(&f.host, 0x300, 0x00);
    HostWait(&f.host, 10 * Ms);
    EXPECT_EQ(0x00, HostRead(&f.host, 0x300));
    // Parts that power up protected ignore a plain write at once.
    Fixture g("29EE512");
    HostWrite(&g.host, 0x300, 0x00);
    HostWait(&g.host, 10 * Ms);
    EXPECT_EQ(0xFF, HostRead(&g.host, 0x300));
    EXPECT_EQ(0u, g_part.programCount);
}

TEST(ParallelPart, FaultsEraseAndProgramNeverFinish) {
    Fixture f("39VF010");
    g_part.faults.programNeverFinishes = true;
    HostCommand(&f.host, 0xA0);
    HostWrite(&f.host, 7, 0x00);
    HostWait(&f.host, 10000 * Ms);
    EXPECT_NE(0x00, HostRead(&f.host, 7));
    HostChipErase(&f.host);   // ignored: still busy
    EXPECT_EQ(0u, g_part.eraseCount);

    Fixture g("49F512");
    g_part.faults.eraseNeverFinishes = true;
    HostChipErase(&g.host);
    HostWait(&g.host, 100000 * Ms);
    EXPECT_NE(0xFF, HostRead(&g.host, 0));
    EXPECT_TRUE(VcPartBusy(&g_part, g.host.now));
    EXPECT_EQ(0u, g_part.busyTime);   // no time of its own to tell
}

TEST(ParallelPart, FaultsStuckBitAndDeadByte) {
    Fixture f("M29W512B");
    g_part.faults.stuckBitEnabled = true;
    g_part.faults.stuckBitOffset = 0x20;
    g_part.faults.stuckBitMask = 0x04;
    g_part.faults.stuckBitValue = 0x04;
    g_part.faults.deadByteEnabled = true;
    g_part.faults.deadByteOffset = 0x21;
    for (uint32_t offset = 0x20; offset <= 0x22; ++offset) {
        HostCommand(&f.host, 0xA0);
        HostWrite(&f.host, offset, 0x00);
        HostWait(&f.host, 100 * Us);
    }
    EXPECT_EQ(0x04, HostRead(&f.host, 0x20));
    EXPECT_EQ(0xFF, HostRead(&f.host, 0x21));
    EXPECT_EQ(0x00, HostRead(&f.host, 0x22));
    HostChipErase(&f.host);
    g_part.faults.stuckBitValue = 0x00;
    HostWait(&f.host, 2000 * Ms);
    EXPECT_EQ(0xFB, HostRead(&f.host, 0x20));

    // A page-write part rewrites its page around the dead byte.
    Fixture g("29C010A");
    g_part.faults.deadByteEnabled = true;
    g_part.faults.deadByteOffset = 0x101;
    g_part.data[0x101] = 0x5A;
    HostCommand(&g.host, 0xA0);
    HostWrite(&g.host, 0x100, 0x12);
    HostWrite(&g.host, 0x101, 0x34);
    HostWait(&g.host, 20 * Ms);
    EXPECT_EQ(0x12, HostRead(&g.host, 0x100));
    EXPECT_EQ(0x5A, HostRead(&g.host, 0x101));
}

TEST(ParallelPart, FaultPageLoadTimesOut) {
    // The byte-load timer expires after the first load: only that byte is
    // written and the rest of the page is lost.
    Fixture f("29LV512");
    g_part.faults.pageLoadTimesOut = true;
    HostCommand(&f.host, 0xA0);
    for (uint32_t i = 0; i < 128; ++i) HostWrite(&f.host, 0x80 + i, (uint8_t)i);
    HostWait(&f.host, 50 * Ms);
    EXPECT_EQ(0x00, HostRead(&f.host, 0x80));
    EXPECT_EQ(0xFF, HostRead(&f.host, 0x81));
    EXPECT_EQ(0xFF, HostRead(&f.host, 0xFF));
}

}  // namespace
