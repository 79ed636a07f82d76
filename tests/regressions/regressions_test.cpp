// Faults found by the fault-injection campaign and the fuzzers, each on the
// smallest machine that shows it, so that they stay fixed.
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "engine/flash.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/driver_requests.h"
#include "hw/driver_setup.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"
#include "tests/support/vcard_fixture.h"
#include "vcard/host/vcard_host.h"

namespace {

// A started QZFlash on a loaded machine, the driver already running, its
// program folder (with the driver file) a fresh temporary folder.
class Regression : public VcardTest {
protected:
    void SetUp() override
    {
        VcardTest::SetUp();
        ResetProgram();
        FlowRecordingReset();
        folder = (std::filesystem::path(::testing::TempDir()) /
                  ("qzregress_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())))
                     .string();
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        std::filesystem::create_directories(folder, error);
        std::string module = folder + "/QZFlash.exe";
        ASSERT_LT(module.size(), sizeof ScriptedSys.modulePath);
        snprintf(ScriptedSys.modulePath, sizeof ScriptedSys.modulePath, "%s", module.c_str());
        FILE* driver = fopen((folder + "/QZF.sys").c_str(), "wb");
        ASSERT_NE(nullptr, driver);
        fputs("driver", driver);
        fclose(driver);
    }

    void TearDown() override
    {
        if (MainWindowAlive)
            DispatchCommand(CmdExit);
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        VcardTest::TearDown();
    }

    // Every program-wide variable a flow reads, as a new process has them.
    static void ResetProgram()
    {
        MainWindow = 0;
        WindowDC = 0;
        AutoMode = false;
        FlashBusy = false;
        DualBios = false;
        SelectedCard = 0;
        ImageLength = 0;
        ImageLoaded = false;
        memset(FilePath, 0, sizeof FilePath);
        memset(StatusLines, 0, sizeof StatusLines);
        LastStatusLine = 0;
        StatusText[0] = 0;
        ProgressVisible = false;
        FlashInterface = 0;
        CurrentPart = nullptr;
        DriverWasRunning = false;
        MainWindowAlive = false;
    }

    bool Start(const char* profile)
    {
        if (!LoadMachine(profile))
            return false;
        machine->deviceOpenFails = false;
        return HeadlessStartUp(RecordedMainWindow, "");
    }

    std::string LastLine() const
    {
        std::string line = LastStatusLine < StatusLineCount ? StatusLines[LastStatusLine] : "";
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        return line;
    }

    VcFlashPart* Rom(int index) { return &machine->cards[0].parts[index]; }

    std::string folder;
};

const uint32_t RomWindow = 0xE4000000u + 0x300000u;

const char DualBoard[] =
    "card 1:0 0x10DE:0x0253 bar0=0xE4000000 dual=rom2\n"
    "part 39VF010 image=04.25.00.28 image-size=4096\n"
    "part 39VF010 image=04.25.00.31 image-size=4096\n";

// A read request that failed while ROM 2 was copied gave 0 for its byte; the
// copy then verified against itself in ROM 1 and "Flash OK!! " was shown
// over a wrong byte. ROM 2 is now read twice, and a difference stops the
// restore before ROM 1 is erased.
TEST_F(Regression, RestoreStopsWhenARom2ReadFails)
{
    ScriptDialogCommand(DialogIdCancel);   // the start-up offer to restore
    ASSERT_TRUE(Start(DualBoard));
    ASSERT_TRUE(DualBios);
    std::vector<uint8_t> rom1(Rom(0)->data, Rom(0)->data + 4096);
    const uint64_t erases = Rom(0)->eraseCount;
    ASSERT_NE(0, Rom(1)->data[0x800]);

    ASSERT_TRUE(VcAddFaultRule(machine, IOCTL_MEM_READ, RomWindow + 0x800, 0, 1));
    DispatchCommand(CmdRestoreBios);
    EXPECT_EQ("Can't read from ROM 2", LastLine());
    EXPECT_EQ(nullptr, RecordingFindBox("Flash completely"));
    EXPECT_EQ(erases, Rom(0)->eraseCount);
    EXPECT_EQ(0, memcmp(rom1.data(), Rom(0)->data, rom1.size()));

    // The fault was one read: the next restore copies ROM 2 whole.
    DispatchCommand(CmdRestoreBios);
    EXPECT_EQ("Flash OK!!", LastLine());
    EXPECT_EQ(0, memcmp(Rom(1)->data, Rom(0)->data, 4096));
}

// A serial part that never finished programming was given three tries of a
// thousand status polls for every unit of the image before the verification
// said anything: hours on a real card. The write now stops after a bounded
// number of failed units, and the verification reports.
TEST_F(Regression, SerialPartThatNeverFinishesEndsTheWriteSoon)
{
    ASSERT_TRUE(Start("card 1:0 0x10DE:0x0322 bar0=0xE8000000 interface=serial2\n"
                      "part 39VF010 image=04.34.20.19\n"
                      "part-fault program-never-finishes\n"));
    VcBiosImageSpec spec = {0x10DE, 0x0322, 2048, {0x04, 0x34, 0x20, 0x20, 0}, false};
    ASSERT_TRUE(VcMakeBiosImage(spec, ImageBuffer, ImageBufferSize));
    ImageLength = 2048;
    ImageLoaded = true;
    const uint64_t programs = Rom(0)->programCount;
    const VcTime start = machine->now;

    EXPECT_FALSE(FlashImage());
    EXPECT_NE(nullptr, RecordingFindBox("Flash faile!!"));
    std::string last = LastLine();
    EXPECT_TRUE(last == "ROM file size isn't the same!!" || last.rfind("Data isn't the same at ", 0) == 0) << last;
    // Sixteen units of three tries each, not three tries for each of 2048.
    EXPECT_LE(Rom(0)->programCount - programs, 16u * 3u);
    EXPECT_LT(machine->now - start, 60ull * 1000000000ull);
}

// A few bad cells are still passed over: the write goes on after a unit that
// failed its tries, and the verification names the first bad offset.
TEST_F(Regression, SerialWriteStillGoesOnPastABadCell)
{
    ASSERT_TRUE(Start("card 1:0 0x10DE:0x0322 bar0=0xE8000000 interface=serial2\n"
                      "part 39VF010 image=04.34.20.19\n"
                      "part-fault dead-byte=0x300\n"));
    VcBiosImageSpec spec = {0x10DE, 0x0322, 2048, {0x04, 0x34, 0x20, 0x20, 0}, false};
    ASSERT_TRUE(VcMakeBiosImage(spec, ImageBuffer, ImageBufferSize));
    ImageLength = 2048;
    ImageLoaded = true;
    ASSERT_NE(0xFF, ImageBuffer[0x300]);

    EXPECT_FALSE(FlashImage());
    EXPECT_EQ("Data isn't the same at 768", LastLine());
    EXPECT_EQ(0, memcmp(Rom(0)->data + 0x301, ImageBuffer + 0x301, 2048 - 0x301));
}

} // namespace
