// Identification and whole flashes on the virtual card, for every listed part
// and every program mode, and each way a flash can fail.
#include "core/state.h"
#include "core/status.h"
#include "engine/flash.h"
#include "engine/identify.h"
#include "engine/image.h"
#include "engine/parallel.h"
#include "engine/parts.h"
#include "engine_card.h"
#include "platform/recording/recording_ui.h"
#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <string.h>
#include <string>

namespace {

std::string LastLine()
{
    return LastStatusLine < StatusLineCount ? StatusLines[LastStatusLine] : "";
}

// What every flash leaves behind, whatever its outcome.
void ExpectCleanExit()
{
    EXPECT_EQ(0, RecordingOpenDcs());
    EXPECT_EQ(0u, Recording.dcForeignReleases);
    EXPECT_EQ(1, EngineCard()->romSwitch);
    EXPECT_FALSE(ProgressVisible);
    EXPECT_FALSE(FlashBusy);
    EXPECT_FALSE(Recording.waitCursor);
}

void ExpectFlashFailed()
{
    ASSERT_GE(Recording.boxCount, 2u);
    const RecordedBox& last = Recording.boxes[Recording.boxCount - 1];
    EXPECT_STREQ("Flash faile!!", last.text);
    EXPECT_STREQ("ERROR", last.caption);
    EXPECT_TRUE(last.afterDiscard);  // no key pressed during the write answers it
    ExpectCleanExit();
}

// ---- every listed part through its own command set ----

class EveryPart : public ::testing::TestWithParam<int> {};

TEST_P(EveryPart, IsIdentifiedAndFlashed)
{
    const FlashPartEntry& entry = FlashPartTable[GetParam()];
    ASSERT_EQ(PartListed, entry.kind);
    const VcPartType* type = VcFindPartType(entry.partName, entry.deviceId);
    ASSERT_NE(nullptr, type) << entry.partName;
    ASSERT_TRUE(AttachEngineCard(entry.partName, entry.deviceId, VcPartTypeBus(type)));

    // Includes the page-write parts that enter identification mode late and
    // the SST serial parts whose block protection powers up set.
    ASSERT_TRUE(IdentifyEngineCard()) << entry.partName;
    EXPECT_EQ(entry.makerId, FlashMakerId);
    EXPECT_EQ(entry.deviceId, FlashDeviceId);
    EXPECT_EQ(0u, Recording.boxCount);
    EXPECT_EQ(&entry, CurrentPart);

    MakeTestImage(4096, TestVendorId, TestDeviceId);
    ASSERT_TRUE(FlashImage()) << entry.partName << ": " << LastLine();
    EXPECT_EQ(-1, FirstPartDifference());
    EXPECT_EQ(0xFF, EnginePart()->data[4096]);
    EXPECT_EQ("Flash OK!! ", LastLine());
    ExpectCleanExit();
}

std::string PartName(const ::testing::TestParamInfo<int>& info)
{
    std::string name = std::to_string(info.param) + "_" + FlashPartTable[info.param].partName;
    for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Listed, EveryPart, ::testing::Range(2, 39), PartName);

// ---- every program mode, full 64 KiB image ----

struct Mode {
    const char* name;
    const char* partName;
    uint8_t deviceId;
    uint32_t strap;
    bool quick;
};

void PrintTo(const Mode& mode, std::ostream* os)
{
    *os << mode.partName;
}

const Mode Modes[] = {
    {"ParallelByte", "39VF512", 0xD4, InterfaceParallel, false},
    {"ParallelPage128", "29C512", 0x5D, InterfaceParallel, false},
    {"SpiByte", "25VF512", 0x48, InterfaceSpi, false},
    {"SpiPage128", "M25P05", 0x05, InterfaceSpi, false},
    {"SpiPage256", "25LV512", 0x7B, InterfaceSpi, false},
    {"Serial2Byte", "39VF512", 0xD4, InterfaceSerial2, false},
    {"Serial2Page128", "29EE512", 0x5D, InterfaceSerial2, false},
    {"Serial2Page256", "AT25F1024", 0x60, InterfaceSerial2, false},
    {"SpiPage256Quick", "25LV512", 0x7B, InterfaceSpi, true},
    {"Serial2Page128Quick", "29EE512", 0x5D, InterfaceSerial2, true},
};

class EveryMode : public ::testing::TestWithParam<Mode> {};

TEST_P(EveryMode, FlashesAFullImage)
{
    const Mode& mode = GetParam();
    ASSERT_TRUE(AttachEngineCard(mode.partName, mode.deviceId, mode.strap));
    ASSERT_TRUE(IdentifyEngineCard());
    EXPECT_EQ(mode.strap, FlashInterface);
    NtNot2000 = mode.quick;
    // Part contents from an earlier BIOS must be erased first.
    memset(EnginePart()->data, 0x00, 0x100);

    MakeTestImage(65536, TestVendorId, TestDeviceId);
    ASSERT_TRUE(FlashImage()) << LastLine();
    EXPECT_EQ(-1, FirstPartDifference());
    ExpectCleanExit();

    // Progress: total 32 blocks, done counted in whole blocks, the bar
    // blanked over 42 blocks at the end.
    ASSERT_GE(Recording.progressDrawCount, 6u);
    const RecordedProgressDraw& firstProgram = Recording.progressDraws[5];
    EXPECT_EQ(0, firstProgram.done);
    EXPECT_EQ(32, firstProgram.total);
    const RecordedErase& final = Recording.erases[Recording.eraseCount - 1];
    EXPECT_EQ(42, final.count);
    EXPECT_EQ(ProgressEraseStep, final.step);
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryMode, ::testing::ValuesIn(Modes),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// ---- serial parts on the real timing ----

const Mode SerialModes[] = {
    {"SpiPage128", "M25P10", 0x10, InterfaceSpi, false},
    {"SpiPage256Atmel", "AT25F1024", 0x60, InterfaceSpi, false},
    {"SpiPage256Pmc", "25LV010", 0x7C, InterfaceSpi, false},
    {"SpiPage256Quick", "25LV010", 0x7C, InterfaceSpi, true},
    {"SpiByte", "25VF010", 0x49, InterfaceSpi, false},
    {"Serial2Page128", "29EE512", 0x5D, InterfaceSerial2, false},
    {"Serial2Byte", "39VF512", 0xD4, InterfaceSerial2, false},
};

class SerialUnits : public ::testing::TestWithParam<Mode> {};

// Each unit goes out once: a read-back that comes before the part has
// finished (an unseen busy bit, a read before the deselect-and-wait or
// before the lines are released) costs a second program command.
TEST_P(SerialUnits, EachUnitIsSentOnce)
{
    const Mode& mode = GetParam();
    ASSERT_TRUE(AttachEngineCard(mode.partName, mode.deviceId, mode.strap));
    ASSERT_TRUE(IdentifyEngineCard());
    NtNot2000 = mode.quick;
    MakeTestImage(4096, TestVendorId, TestDeviceId);
    ASSERT_TRUE(FlashImage()) << LastLine();
    EXPECT_EQ(-1, FirstPartDifference());
    EXPECT_EQ(4096u / CurrentPart->pageSize, EnginePart()->programCommands);
}

INSTANTIATE_TEST_SUITE_P(Modes, SerialUnits, ::testing::ValuesIn(SerialModes),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// A set status-register write protect bit (bit 7) is not the busy bit: the
// flash costs what it costs with a clear status.
TEST(SerialStatus, WriteProtectBitDoesNotReadAsBusy)
{
    uint64_t requests[2] = {};
    const uint8_t status[2] = {0x00, 0x80};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(AttachEngineCard("M25P10", 0x10, InterfaceSpi));
        VcPartSetStatusBits(EnginePart(), status[i]);
        ASSERT_TRUE(IdentifyEngineCard());
        MakeTestImage(4096, TestVendorId, TestDeviceId);
        const uint64_t start = EngineMachine.requestCount;
        ASSERT_TRUE(FlashImage()) << LastLine();
        requests[i] = EngineMachine.requestCount - start;
    }
    EXPECT_EQ(requests[0], requests[1]);
}

// A serial part that never finishes a program: each unit fails its three
// tries, and after sixteen failed units the write stops (a whole image
// would take hours of status polls); the verification then fails the flash.
TEST(SerialStuck, TheWriteStopsAfterSixteenFailedUnits)
{
    const struct {
        const char* partName;
        uint8_t deviceId;
        uint32_t strap;
    } parts[] = {
        {"M25P10", 0x10, InterfaceSpi},
        {"29EE512", 0x5D, InterfaceSerial2},
    };
    for (const auto& c : parts) {
        SCOPED_TRACE(c.partName);
        ASSERT_TRUE(AttachEngineCard(c.partName, c.deviceId, c.strap));
        ASSERT_TRUE(IdentifyEngineCard());
        EnginePart()->faults.programNeverFinishes = true;
        MakeTestImage(8192, TestVendorId, TestDeviceId);
        EXPECT_FALSE(FlashImage());
        EXPECT_EQ(16u * 3u, EnginePart()->programCommands);
        ExpectFlashFailed();
    }
}

// Serial chip erases that outlast the fixed erase wait, as slow or aged
// parts do: the part is polled until ready before the blank check (a busy
// part reads 0xFF like an erased one), and an erase that outlasts the poll
// too counts as an attempt that did not leave the part blank.
struct SlowErase {
    const char* name;
    const char* partName;
    uint8_t deviceId;
    uint32_t strap;
    uint32_t eraseMs;
    bool flashed;
    int eraseAttempts;
};

void PrintTo(const SlowErase& c, std::ostream* os)
{
    *os << c.name;
}

const SlowErase SlowErases[] = {
    {"SpiTypical", "M25P10", 0x10, InterfaceSpi, 2000, true, 1},
    {"SpiPastTheFixedWait", "M25P10", 0x10, InterfaceSpi, 9000, true, 1},
    {"SpiTwiceTheMaximum", "M25P10", 0x10, InterfaceSpi, 12000, true, 1},
    {"SpiPastThePoll", "M25P10", 0x10, InterfaceSpi, 20000, true, 2},
    {"SpiPastBothAttempts", "M25P10", 0x10, InterfaceSpi, 40000, false, 2},
    {"SpiAtmel", "AT25F1024", 0x60, InterfaceSpi, 12000, true, 1},
    {"Serial2PastThePoll", "29EE512", 0x5D, InterfaceSerial2, 20000, true, 2},
};

class SlowSerialErase : public ::testing::TestWithParam<SlowErase> { };

TEST_P(SlowSerialErase, IsWaitedForBeforeTheBlankCheck)
{
    const SlowErase& c = GetParam();
    ASSERT_TRUE(AttachEngineCard(c.partName, c.deviceId, c.strap));
    ASSERT_TRUE(IdentifyEngineCard());
    EnginePart()->eraseMs = c.eraseMs;
    memset(EnginePart()->data, 0x00, 0x100);
    MakeTestImage(4096, TestVendorId, TestDeviceId);
    EXPECT_EQ(c.flashed, FlashImage()) << LastLine();
    int attempts = 0;
    for (uint32_t i = 0; i < Recording.eraseCount; ++i)
        attempts += Recording.erases[i].count == 7 ? 1 : 0;  // the erase bar, once per attempt
    EXPECT_EQ(c.eraseAttempts, attempts);
    if (c.flashed) {
        EXPECT_EQ(-1, FirstPartDifference());
        EXPECT_EQ("Flash OK!! ", LastLine());
        ExpectCleanExit();
    } else {
        EXPECT_EQ(0u, EnginePart()->programCommands);
        ExpectFlashFailed();
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, SlowSerialErase, ::testing::ValuesIn(SlowErases),
                         [](const ::testing::TestParamInfo<SlowErase>& info) { return std::string(info.param.name); });

// ---- the flash as the user sees it ----

class Flash : public ::testing::Test {
protected:
    void Attach(const char* partName, uint8_t deviceId, uint32_t strap = InterfaceParallel)
    {
        ASSERT_TRUE(AttachEngineCard(partName, deviceId, strap));
        ASSERT_TRUE(IdentifyEngineCard());
        Recording.statusDrawCount = 0;
        MakeTestImage(32768, TestVendorId, TestDeviceId);
    }
};

// Units the part had programmed at each progress draw, and the step the
// engine said it was in (a front end names it).
uint64_t ProgramsAtDraw[64];
FlashPhaseKind PhaseAtDraw[64];
uint32_t DrawsSeen;

void NoteProgramsAtDraw(int32_t, int32_t)
{
    if (DrawsSeen < 64) {
        ProgramsAtDraw[DrawsSeen] = EnginePart()->programCount;
        PhaseAtDraw[DrawsSeen] = FlashPhase;
    }
    ++DrawsSeen;
}

TEST_F(Flash, SuccessfulRunShowsItsLinesBoxesAndBar)
{
    Attach("39VF512", 0xD4);
    DrawsSeen = 0;
    RecordingProgressHook = NoteProgramsAtDraw;
    ASSERT_TRUE(FlashImage());

    ASSERT_EQ(2u, Recording.boxCount);
    EXPECT_STREQ("ROM BIOS version is :04.25.15.00\nDuring BIOS flashed,please wait until the progress complete.",
                 Recording.boxes[0].text);
    EXPECT_STREQ("Confirm", Recording.boxes[0].caption);
    EXPECT_EQ(UiMbOkCancel, Recording.boxes[0].type);
    EXPECT_EQ(MainWindow, Recording.boxes[0].owner);
    EXPECT_STREQ("Flash completely", Recording.boxes[1].text);
    EXPECT_STREQ("Message", Recording.boxes[1].caption);
    // Neither box takes a key pressed before it showed.
    EXPECT_TRUE(Recording.boxes[0].afterDiscard);
    EXPECT_TRUE(Recording.boxes[1].afterDiscard);

    EXPECT_STREQ("New ROM BIOS version is :04.25.15.00", StatusLines[5]);
    EXPECT_STREQ("Erase BIOS", StatusLines[6]);
    EXPECT_STREQ("Writing Flash with file C:\\BIOS\\NEW.ROM", StatusLines[7]);
    EXPECT_STREQ("Flash OK!! ", StatusLines[8]);
    EXPECT_EQ(8, LastStatusLine);
    EXPECT_EQ(WindowDC, RecordingLastStatusDraw()->dc);
    EXPECT_EQ(10, RecordingLastStatusDraw()->lineCount);   // lines 0 to 9
    EXPECT_EQ(2u, Recording.cursorChanges);

    // Erase bar 1..5 of 5, blanked over 7 blocks; then one redraw per 1024
    // bytes from the first byte on; blanked over 16 + 10 blocks at the end.
    ASSERT_EQ(5u + 32u, Recording.progressDrawCount);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(i + 1, Recording.progressDraws[i].done);
        EXPECT_EQ(5, Recording.progressDraws[i].total);
    }
    EXPECT_EQ(0, Recording.progressDraws[5].done);
    EXPECT_EQ(0, Recording.progressDraws[6].done);
    EXPECT_EQ(1u, ProgramsAtDraw[5]);
    EXPECT_EQ(1025u, ProgramsAtDraw[6]);
    EXPECT_EQ(1, Recording.progressDraws[7].done);
    EXPECT_EQ(15, Recording.progressDraws[36].done);
    EXPECT_EQ(16, Recording.progressDraws[36].total);
    ASSERT_EQ(2u, Recording.eraseCount);
    EXPECT_EQ(7, Recording.erases[0].count);
    EXPECT_EQ(26, Recording.erases[1].count);
    EXPECT_EQ(100, Recording.erases[1].left);
    EXPECT_EQ(210, Recording.erases[1].top);
    EXPECT_EQ(25, Recording.erases[1].height);

    // The erase waits five seconds of (virtual) time.
    EXPECT_GE(EngineMachine.now, 5000000000ull);
}

TEST_F(Flash, EachStepIsNamedWhileItRunsAndTheComparisonReportsItsProgress)
{
    Attach("39VF512", 0xD4);
    DrawsSeen = 0;
    RecordingProgressHook = NoteProgramsAtDraw;
    ASSERT_TRUE(FlashImage());
    ASSERT_EQ(37u, DrawsSeen);
    for (uint32_t i = 0; i < DrawsSeen; ++i)
        EXPECT_EQ(i < 5 ? FlashPhaseErasing : FlashPhaseWriting, PhaseAtDraw[i]) << i;
    // The window draws no bar for the comparison; the step seam is told every
    // block of it, up to the whole image.
    EXPECT_EQ(1u + 16u, Recording.stepProgressCount);
    EXPECT_EQ(FlashPhaseVerifying, Recording.lastStep.phase);
    EXPECT_EQ(32768u, Recording.lastStep.done);
    EXPECT_EQ(32768u, Recording.lastStep.total);
    EXPECT_EQ(FlashPhaseNone, FlashPhase);

    // A comparison that fails, and a read, end their step too.
    EnginePart()->data[100] ^= 1;
    EXPECT_FALSE(VerifyRom(ImageBuffer));
    EXPECT_EQ(FlashPhaseNone, FlashPhase);
    ASSERT_TRUE(ReadRomImage(SpareImageBuffer));
    EXPECT_EQ(FlashPhaseNone, FlashPhase);
}

TEST_F(Flash, EraseWaitsFiftyUnitsThenFiveSeconds)
{
    Attach("39VF512", 0xD4);
    const VcTime start = EngineMachine.now;
    ASSERT_TRUE(EraseFlash());
    const VcTime waits = 50ull * SpinDelayIterations * VcBusyIterationNs + 5000000000ull;
    EXPECT_GE(EngineMachine.now - start, waits);
    EXPECT_LT(EngineMachine.now - start, waits + 100 * VcRequestCostNs);
}

TEST_F(Flash, NothingLoadedOrCancelledLeavesThePartAlone)
{
    Attach("29C512", 0x5D);
    const uint64_t requests = EngineMachine.requestCount;
    ImageLoaded = false;
    EXPECT_FALSE(FlashImage());
    ImageLoaded = true;
    ImageLength = 0;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ(0u, Recording.boxCount);

    MakeTestImage(32768, TestVendorId, TestDeviceId);
    AddStatusText("from the command", 0);
    RecordingQueueAnswer(UiIdCancel);
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ(1u, Recording.boxCount);
    EXPECT_EQ(4, LastStatusLine);
    EXPECT_EQ(std::string(127, ' '), StatusLines[5]);
    EXPECT_EQ(requests, EngineMachine.requestCount);
    EXPECT_EQ(0u, EnginePart()->eraseCount);
    ExpectCleanExit();
}

TEST_F(Flash, ImagesLongerThanTheBufferAreRefused)
{
    Attach("29C512", 0x5D);
    const uint64_t requests = EngineMachine.requestCount;
    ImageLength = 0xF000 + 0x20 * 128 + 128;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ(requests, EngineMachine.requestCount);

    // A ROM whose header claims more than a buffer holds is not read.
    MakeTestImage(65536, TestVendorId, TestDeviceId);
    ImageBuffer[2] = 0x60;
    ImageBuffer[0x34] = 0x80;
    ImageBuffer[0x36] = 0x00;
    ImageBuffer[0x37] = 0xF0;
    ImageBuffer[0xF001] = 0x40;
    memcpy(EnginePart()->data, ImageBuffer, 65536);
    ImageLength = 1234;
    ImageLoaded = false;
    EXPECT_FALSE(ReadRomImage(SpareImageBuffer));
    EXPECT_EQ(1234u, ImageLength);
    EXPECT_FALSE(ImageLoaded);
    EXPECT_EQ(1, EngineCard()->romSwitch);
}

TEST_F(Flash, ForeignImageIsRefusedBeforeTheErase)
{
    Attach("39VF512", 0xD4);
    MakeTestImage(32768, TestVendorId, 0x025A);
    CardTable[0].DeviceId = 0x0250;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("Device ID ( 25a) Vendor ID (10DE)  mismatch....", LastLine());
    EXPECT_EQ(0u, EnginePart()->eraseCount);
    ExpectFlashFailed();
}

TEST_F(Flash, ImageNotAWholeNumberOfPages)
{
    Attach("29C512", 0x5D);
    MakeTestImage(32768, TestVendorId, TestDeviceId);
    ImageLength = 32768 - 64;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("Page size is not mach witch ROM !", LastLine());
    ExpectFlashFailed();
}

TEST_F(Flash, BytePartThatCannotTakeAByte)
{
    Attach("39VF512", 0xD4);
    // A bit stuck at 1 where the image needs 0.
    uint32_t offset = 0x1234;
    ImageBuffer[offset] = 0x00;
    EnginePart()->faults.stuckBitEnabled = true;
    EnginePart()->faults.stuckBitOffset = offset;
    EnginePart()->faults.stuckBitMask = 0x10;
    EnginePart()->faults.stuckBitValue = 0x10;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("Write to ROM error at 4660", LastLine());
    EXPECT_EQ(0x00, EnginePart()->data[offset - 1] ^ ImageBuffer[offset - 1]);
    ExpectFlashFailed();
}

TEST_F(Flash, PagePartThatCannotTakeAPage)
{
    Attach("29C512", 0x5D);
    ImageBuffer[0x2000] = 0x00;
    EnginePart()->faults.stuckBitEnabled = true;
    EnginePart()->faults.stuckBitOffset = 0x2000;
    EnginePart()->faults.stuckBitMask = 0x01;
    EnginePart()->faults.stuckBitValue = 0x01;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("Write to ROM ERRROR", LastLine());
    ExpectFlashFailed();
}

TEST_F(Flash, PartThatStaysNonBlankIsErasedTwiceAndNeverProgrammed)
{
    // The first and the last byte of the image count alike.
    for (uint32_t offset : {0u, 0x7FFFu}) {
        Attach("39VF512", 0xD4);
        EnginePart()->faults.stuckBitEnabled = true;
        EnginePart()->faults.stuckBitOffset = offset;
        EnginePart()->faults.stuckBitMask = 0x80;
        EnginePart()->faults.stuckBitValue = 0x00;
        EXPECT_FALSE(FlashImage());
        EXPECT_EQ(2u, EnginePart()->eraseCount) << offset;
        EXPECT_EQ(0u, EnginePart()->programCount) << offset;
        EXPECT_EQ("Erase BIOS", LastLine());
        ExpectFlashFailed();
    }
}

TEST_F(Flash, EraseThatNeverFinishes)
{
    Attach("29C512", 0x5D);
    EnginePart()->faults.eraseNeverFinishes = true;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ(0u, EnginePart()->programCount);
    ExpectFlashFailed();
}

TEST_F(Flash, SwitchThatNeverOpensEndsTheWrite)
{
    Attach("39VF512", 0xD4);
    EngineCard()->faults.romSwitchStuck = true;
    EngineCard()->faults.romSwitchStuckValue = 1;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ(0u, EnginePart()->eraseCount);
    EXPECT_EQ("Erase BIOS", LastLine());
    ExpectFlashFailed();
}

TEST_F(Flash, SwitchThatNeverClosesEndsTheWrite)
{
    Attach("39VF512", 0xD4);
    EngineCard()->faults.romSwitchStuck = true;
    EngineCard()->faults.romSwitchStuckValue = 0;
    EXPECT_FALSE(FlashImage());
    // "Erase faile!!" after every erase: the line for "New", "Erase BIOS", then one each.
    EXPECT_EQ(6 + MaxEraseSwitchFailures, LastStatusLine);
    EXPECT_EQ("Erase faile!!", LastLine());
    EXPECT_EQ(0u, EnginePart()->programCount);
    ASSERT_GE(Recording.boxCount, 2u);
    EXPECT_STREQ("Flash faile!!", Recording.boxes[Recording.boxCount - 1].text);
}

TEST_F(Flash, SerialPartWithABadCellFailsInTheVerification)
{
    Attach("M25P05", 0x05, InterfaceSpi);
    ImageBuffer[0x3001] = 0x00;
    EnginePart()->faults.stuckBitEnabled = true;
    EnginePart()->faults.stuckBitOffset = 0x3001;
    EnginePart()->faults.stuckBitMask = 0x04;
    EnginePart()->faults.stuckBitValue = 0x04;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("Data isn't the same at 12289", LastLine());
    ExpectFlashFailed();
}

TEST_F(Flash, LengthOtherThanTheHeaderFailsTheVerification)
{
    // A file whose header gives 16 KiB, loaded with the 32 KiB length of the
    // ROM read before.
    Attach("29C512", 0x5D);
    ImageBuffer[2] = 0x20;
    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("ROM file size isn't the same!!", LastLine());
    ExpectFlashFailed();
}

TEST_F(Flash, VerifyAndReadBackOfTheRom)
{
    Attach("29C512", 0x5D);
    memcpy(EnginePart()->data, ImageBuffer, 32768);
    EXPECT_TRUE(VerifyRom(ImageBuffer));
    ImageLength = 0;
    ImageLoaded = false;
    ASSERT_TRUE(ReadRomImage(SpareImageBuffer));
    EXPECT_EQ(32768u, ImageLength);
    EXPECT_TRUE(ImageLoaded);
    EXPECT_EQ(0, memcmp(SpareImageBuffer, ImageBuffer, 32768));

    // Once the ROM shows no header any more, nothing can match it.
    EnginePart()->data[1] = 0x00;
    EXPECT_FALSE(VerifyRom(ImageBuffer));
    EXPECT_EQ("ROM file size isn't the same!!", LastLine());
    ImageLength = 0;
    EXPECT_FALSE(VerifyRom(ImageBuffer));
    ImageLength = 32768;
    EXPECT_FALSE(ReadRomImage(SpareImageBuffer));
    EXPECT_EQ(1, EngineCard()->romSwitch);

    // The bytes themselves, whatever the header says, with the state of the
    // last image read left alone.
    uint8_t bytes[64];
    ReadRomBytes(bytes, sizeof bytes);
    EXPECT_EQ(0, memcmp(bytes, EnginePart()->data, sizeof bytes));
    EXPECT_EQ(32768u, ImageLength);
    EXPECT_EQ(1, EngineCard()->romSwitch);
}

// The window gets its paint messages all through a flash and a read of the
// ROM: never a second of (virtual) time or a thousand requests without.
struct PaintGaps {
    uint64_t lastRequests, lastTime, maxRequests, maxTime;
    uint32_t pumps;
};
PaintGaps Gaps;

void NotePaint()
{
    uint64_t requests = EngineMachine.requestCount;
    uint64_t time = EngineMachine.now;
    if (Gaps.pumps > 0) {
        Gaps.maxRequests = std::max(Gaps.maxRequests, requests - Gaps.lastRequests);
        Gaps.maxTime = std::max(Gaps.maxTime, time - Gaps.lastTime);
    }
    Gaps.lastRequests = requests;
    Gaps.lastTime = time;
    ++Gaps.pumps;
}

TEST_F(Flash, LongStepsLetTheWindowPaint)
{
    for (const Mode& mode : {Modes[0], Modes[1]}) {
        SCOPED_TRACE(mode.name);
        Attach(mode.partName, mode.deviceId);
        MakeTestImage(65536, TestVendorId, TestDeviceId);
        Gaps = PaintGaps{};
        NotePaint();  // the gaps count from the start to the end
        RecordingPaintHook = NotePaint;
        ASSERT_TRUE(FlashImage());
        ASSERT_TRUE(ReadRomImage(ImageBuffer));
        NotePaint();
        EXPECT_LE(Gaps.maxRequests, 1024u);
        EXPECT_LE(Gaps.maxTime, 1100000000u);  // the erase waits in steps of a second
    }
}

// ---- identification ----

TEST(Identify, ReservedStrapsAndUnknownCodes)
{
    ASSERT_TRUE(AttachEngineCard("39VF512", 0xD4, InterfaceReserved));
    EXPECT_FALSE(IdentifyEngineCard());
    EXPECT_EQ(InterfaceReserved, FlashInterface);
    EXPECT_EQ(0, FlashMakerId);
    EXPECT_EQ(0, FlashDeviceId);
    EXPECT_EQ(&FlashPartTable[0], CurrentPart);
    ASSERT_EQ(1u, Recording.boxCount);
    EXPECT_STREQ("Supported EEPROM not found.\n", Recording.boxes[0].text);
    EXPECT_STREQ("Error", Recording.boxes[0].caption);

    AutoMode = true;
    EXPECT_FALSE(FindFlashPart());
    EXPECT_EQ(1u, Recording.boxCount);
}

TEST(Identify, SwitchThatDoesNotOpenKeepsTheCodes)
{
    ASSERT_TRUE(AttachEngineCard("29EE512", 0x5D, InterfaceParallel));
    FlashMakerId = 0xAB;
    FlashDeviceId = 0xCD;
    EngineCard()->faults.romSwitchStuck = true;
    EngineCard()->faults.romSwitchStuckValue = 1;
    EXPECT_FALSE(IdentifyFlashPart());
    EXPECT_EQ(0xAB, FlashMakerId);
    EXPECT_EQ(0xCD, FlashDeviceId);
}

TEST(Identify, StrapsCountOnlyWhereTheChipWiresThem)
{
    ASSERT_TRUE(AttachEngineCard("M25P10", 0x10, InterfaceSpi));
    ChipEntry plain = {};
    EXPECT_EQ(InterfaceParallel, DetectFlashInterface(&plain));
    plain.StrapFlag = 1;
    EXPECT_EQ(InterfaceSpi, DetectFlashInterface(&plain));
    EXPECT_EQ(1, EngineCard()->romSwitch);
}

} // namespace
