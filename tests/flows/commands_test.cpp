// The File menu commands on a started program: image files in and out, the
// flash itself, the texts shown, and the ROM selection on dual-BIOS boards.
#include <string.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <filesystem>
#include <vector>

#include "app/commands.h"
#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "flow_fixture.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

namespace {

const char RebootText[] = "Please reboot the system to make the changes you make effective!";
const char SwitchText[] = "Please set the Switch Button and Reboot the computer!!";
const char BackupFailedText[] = "File open faile ,can't backup from BOIS";

class Commands : public FlowTest {
protected:
    bool Start(const char* profile)
    {
        if (!Machine(profile) || !HeadlessStartUp(RecordedMainWindow, ""))
            return false;
        boxesAtStart = Recording.boxCount;
        return true;
    }
    VcCard* Card() { return &machine->cards[0]; }
    VcFlashPart* Rom(int index) { return &Card()->parts[index]; }
    std::vector<uint8_t> Image(uint32_t length, uint16_t deviceId, const char* version = "04.28.21.00")
    {
        std::vector<uint8_t> image(ImageBufferSize, 0);
        MakeImage(image.data(), length, 0x10DE, deviceId, version);
        image.resize(length);
        return image;
    }
    std::string ImageFile(const char* name, const std::vector<uint8_t>& bytes)
    {
        std::string path = PathOf(name);
        EXPECT_TRUE(WriteFile(path, bytes.data(), bytes.size()));
        return path;
    }
    uint32_t BoxesSinceStart() const { return Recording.boxCount - boxesAtStart; }
    size_t FolderEntries() const
    {
        size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            (void)entry;
            ++count;
        }
        return count;
    }
    bool RomHolds(int index, const std::vector<uint8_t>& bytes)
    {
        return memcmp(Rom(index)->data, bytes.data(), bytes.size()) == 0;
    }
    uint32_t boxesAtStart = 0;
};

TEST_F(Commands, UpdateWritesAGoodImageAndAsksForAReboot)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::vector<uint8_t> image = Image(65536, 0x0281);
    std::string path = ImageFile("NEW.ROM", image);
    ScriptFileChoice(path.c_str());
    EXPECT_TRUE(DispatchCommand(CmdUpdateBios));

    ASSERT_EQ(ScriptedFiles.dialogCount, 1u);
    EXPECT_FALSE(ScriptedFiles.dialogs[0].save);
    EXPECT_EQ(ScriptedFiles.dialogs[0].owner, RecordedMainWindow);
    EXPECT_STREQ(ScriptedFiles.dialogs[0].initialPath, "");
    EXPECT_EQ(std::string(FilePath), path);
    EXPECT_STREQ(FileTitle, "NEW.ROM");

    EXPECT_TRUE(RomHolds(0, image));
    ASSERT_EQ(BoxesSinceStart(), 3u);
    const RecordedBox& confirm = Recording.boxes[boxesAtStart];
    EXPECT_STREQ(confirm.caption, "Confirm");
    EXPECT_STREQ(confirm.text,
                 "ROM BIOS version is :04.28.21.00\nDuring BIOS flashed,please wait until the progress complete.");
    EXPECT_EQ(LastBox(), RebootText);
    EXPECT_STREQ(Recording.boxes[Recording.boxCount - 1].caption, "Message");
    EXPECT_EQ(Line(5), "New ROM BIOS version is :04.28.21.00");
    EXPECT_EQ(Line(LastStatusLine), "Flash OK!!");
    EXPECT_STREQ(StatusLines[1], "This Chip  is NV28 (281)    Device : 281    Vender : 10DE");   // header kept
}

TEST_F(Commands, ImageForAnotherCardIsNotWritten)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::vector<uint8_t> before(Rom(0)->data, Rom(0)->data + 65536);
    ScriptFileChoice(ImageFile("OTHER.ROM", Image(65536, 0x0250)).c_str());
    DispatchCommand(CmdUpdateBios);
    EXPECT_TRUE(RomHolds(0, before));
    EXPECT_EQ(LastBox(), "Flash faile!!");
    EXPECT_EQ(Line(LastStatusLine), "Device ID ( 250) Vendor ID (10DE)  mismatch....");
    EXPECT_EQ(RecordingFindBox(RebootText), nullptr);
}

TEST_F(Commands, CancelledOpenShowsThePreviousPath)
{
    ASSERT_TRUE(Start(OneCardProfile));
    uint64_t erases = Rom(0)->eraseCount;
    ScriptFileCancel();
    DispatchCommand(CmdUpdateBios);
    EXPECT_STREQ(StatusLines[5], "File open faile  ");
    EXPECT_EQ(LastStatusLine, 5);

    // A file chosen and loaded without writing it seeds the next dialog.
    std::string path = ImageFile("KEEP.ROM", Image(65536, 0x0281));
    ScriptFileChoice(path.c_str());
    EXPECT_TRUE(DispatchCommand(CmdLoadImage));
    EXPECT_EQ(BoxesSinceStart(), 0u);
    ScriptFileCancel();
    DispatchCommand(CmdUpdateBios);
    EXPECT_EQ(std::string(ScriptedFiles.dialogs[2].initialPath), path);
    EXPECT_EQ(std::string(StatusLines[5]), "File open faile  " + path);
    EXPECT_EQ(LastStatusLine, 5);
    EXPECT_EQ(Rom(0)->eraseCount, erases);
    EXPECT_EQ(BoxesSinceStart(), 0u);
}

// A name longer than the path buffer fails the dialog: a cancelled choice,
// said so, with nothing of the name kept for the status line or the next
// dialog.
TEST_F(Commands, NameTooLongForTheBufferCountsAsCancelled)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::string kept = ImageFile("KEEP.ROM", Image(65536, 0x0281));
    ScriptFileChoice(kept.c_str());
    DispatchCommand(CmdLoadImage);
    std::string longName = PathOf("") + std::string(262 - PathOf("").size() - 4, 'x') + ".rom";
    ASSERT_EQ(longName.size(), 262u);
    uint64_t erases = Rom(0)->eraseCount;

    ScriptFileChoice(longName.c_str());
    DispatchCommand(CmdUpdateBios);
    ASSERT_EQ(BoxesSinceStart(), 1u);
    EXPECT_EQ(LastBox(), "The file path is too long.");
    EXPECT_STREQ(Recording.boxes[Recording.boxCount - 1].caption, "Error");
    EXPECT_STREQ(StatusLines[5], "File open faile  ");
    EXPECT_EQ(LastStatusLine, 5);
    EXPECT_STREQ(FileTitle, "");

    ScriptFileCancel();
    DispatchCommand(CmdUpdateBios);
    EXPECT_STREQ(ScriptedFiles.dialogs[ScriptedFiles.dialogCount - 1].initialPath, "");
    EXPECT_EQ(BoxesSinceStart(), 1u);  // a plain cancel says nothing more

    ScriptFileChoice(longName.c_str());
    DispatchCommand(CmdSaveBios);
    ASSERT_EQ(BoxesSinceStart(), 3u);
    EXPECT_STREQ(Recording.boxes[Recording.boxCount - 2].text, "The file path is too long.");
    EXPECT_EQ(LastBox(), BackupFailedText);
    EXPECT_EQ(Rom(0)->eraseCount, erases);
}

TEST_F(Commands, BadImageFilesAreRefusedBeforeAnythingIsWritten)
{
    ASSERT_TRUE(Start(OneCardProfile));
    uint64_t erases = Rom(0)->eraseCount;
    std::vector<uint8_t> good = Image(65536, 0x0281);

    std::vector<uint8_t> headerless = good;
    headerless[0] = 0x00;
    std::vector<uint8_t> truncated(good.begin(), good.begin() + 32768);
    // 49,152 bytes by the size byte, extended to 69,632 by the extension.
    std::vector<uint8_t> oversized = good;
    oversized[2] = 0x60;
    oversized[0x34] |= 0x80;
    oversized[0x36] = 0x00;
    oversized[0x37] = 0xF0;
    oversized[0xF001] = 0x40;

    const std::string paths[] = {
        PathOf("MISSING.ROM"),
        ImageFile("EMPTY.ROM", {}),
        ImageFile("HEADLESS.ROM", headerless),
        ImageFile("SHORT.ROM", truncated),
        ImageFile("HUGE.ROM", oversized),
    };
    for (const std::string& path : paths) {
        ScriptFileChoice(path.c_str());
        DispatchCommand(CmdUpdateBios);
        EXPECT_EQ(std::string(StatusLines[5]), "File open faile  " + path);
        EXPECT_EQ(ImageLength, 65536u) << path;
    }
    EXPECT_EQ(Rom(0)->eraseCount, erases);
    EXPECT_EQ(BoxesSinceStart(), 0u);   // not even the confirmation
}

TEST_F(Commands, LongerFileIsReadUpToTheBuffer)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::vector<uint8_t> image = Image(65536, 0x0281);
    std::vector<uint8_t> longer = image;
    longer.resize(70000, 0x5A);
    ScriptFileChoice(ImageFile("LONG.ROM", longer).c_str());
    DispatchCommand(CmdUpdateBios);
    EXPECT_TRUE(RomHolds(0, image));
    EXPECT_EQ(LastBox(), RebootText);
}

TEST_F(Commands, StatusTextIsCutToTheLine)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::string path = PathOf(std::string(150, 'n').c_str());
    ScriptFileChoice(path.c_str());
    DispatchCommand(CmdUpdateBios);
    EXPECT_EQ(strlen(StatusLines[5]), 127u);
    EXPECT_EQ(std::string(StatusLines[5]), ("File open faile  " + path).substr(0, 127));
}

TEST_F(Commands, SaveWritesExactlyTheRomImage)
{
    ASSERT_TRUE(Start("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 39VF010 image=04.28.20.05 image-size=32768\n"));
    std::string path = ImageFile("BACKUP.ROM", std::vector<uint8_t>(100000, 0x11));   // overwritten
    ScriptFileChoice(path.c_str());
    EXPECT_TRUE(DispatchCommand(CmdSaveBios));
    ASSERT_EQ(ScriptedFiles.dialogCount, 1u);
    EXPECT_TRUE(ScriptedFiles.dialogs[0].save);
    std::string saved = ReadWholeFile(path);
    ASSERT_EQ(saved.size(), 32768u);
    EXPECT_EQ(memcmp(saved.data(), Rom(0)->data, saved.size()), 0);
    EXPECT_EQ(std::string(StatusLines[5]), "Save file to  " + path);
    EXPECT_EQ(LastBox(), "Back up completed  !! ");
    EXPECT_STREQ(Recording.boxes[Recording.boxCount - 1].caption, "Message");
}

// A save that fails leaves the path as it found it: no file, or the old one
// byte for byte (it may be the only copy of an older BIOS), and nothing else
// in the folder.
TEST_F(Commands, FailedSavesLeaveThePathAsItWas)
{
    static const struct {
        const char* fault;
        int32_t writeLimit;
        bool writeFails;
        bool closeFails;
    } Faults[] = {
        {"short write (disk full)", 1000, false, false},
        {"write refused", -1, true, false},
        {"nothing reaches the disk", -1, false, true},
    };
    ASSERT_TRUE(Start(OneCardProfile));
    const std::string path = PathOf("BACKUP.ROM");
    const std::string old(40000, '\x11');
    for (const auto& f : Faults) {
        for (bool existing : {false, true}) {
            SCOPED_TRACE(std::string(f.fault) + (existing ? ", over an old file" : ", no file before"));
            std::filesystem::remove(path);
            if (existing) {
                ASSERT_TRUE(WriteFile(path, reinterpret_cast<const uint8_t*>(old.data()), old.size()));
            }
            size_t entries = FolderEntries();
            FileFaults.writeLimit = f.writeLimit;
            FileFaults.writeFails = f.writeFails;
            FileFaults.closeFails = f.closeFails;
            ScriptFileChoice(path.c_str());
            DispatchCommand(CmdSaveBios);
            FileFaults.writeLimit = -1;
            FileFaults.writeFails = FileFaults.closeFails = false;
            EXPECT_EQ(LastBox(), BackupFailedText);
            EXPECT_EQ(Exists(path), existing);
            if (existing) {
                EXPECT_TRUE(ReadWholeFile(path) == old);
            }
            EXPECT_EQ(FolderEntries(), entries);
        }
    }
}

// A folder (and, where the system has them, a pipe) at the path is refused
// and left alone.
TEST_F(Commands, SavingOverWhatIsNoFileIsRefused)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::string folderPath = PathOf("ROMS");
    ASSERT_TRUE(std::filesystem::create_directory(folderPath));
    ASSERT_TRUE(WriteFile(folderPath + "/A.ROM", reinterpret_cast<const uint8_t*>("a"), 1));
    std::vector<std::string> targets = {folderPath};
#if !defined(_WIN32)
    std::string pipe = PathOf("PIPE.ROM");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    targets.push_back(pipe);
#endif
    for (const std::string& target : targets) {
        SCOPED_TRACE(target.c_str());
        size_t entries = FolderEntries();
        ScriptFileChoice(target.c_str());
        DispatchCommand(CmdSaveBios);
        EXPECT_EQ(LastBox(), BackupFailedText);
        EXPECT_EQ(FolderEntries(), entries);
    }
    EXPECT_TRUE(std::filesystem::is_directory(folderPath));
    EXPECT_TRUE(ReadWholeFile(folderPath + "/A.ROM") == "a");
#if !defined(_WIN32)
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
#endif
}

TEST_F(Commands, SaveThatFailsVerificationKeepsTheFile)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::vector<uint8_t> other = Image(65536, 0x0281, "01.02.03.04");
    ScriptFileChoice(ImageFile("OTHER.ROM", other).c_str());
    DispatchCommand(CmdLoadImage);
    std::string path = PathOf("COPY.ROM");
    ScriptFileChoice(path.c_str());
    uint32_t boxes = Recording.boxCount;
    EXPECT_TRUE(DispatchCommand(CmdSaveImage));
    EXPECT_EQ(Recording.boxCount, boxes);
    std::string saved = ReadWholeFile(path);
    ASSERT_EQ(saved.size(), other.size());
    EXPECT_EQ(memcmp(saved.data(), other.data(), other.size()), 0);
    EXPECT_FALSE(SaveImageFile(path.c_str(), ImageBuffer));
    EXPECT_TRUE(Exists(path));

    // A buffer without a valid header is not saved at all.
    std::vector<uint8_t> headerless(ImageBufferSize, 0x00);
    std::string none = PathOf("NONE.ROM");
    EXPECT_FALSE(SaveImageFile(none.c_str(), headerless.data()));
    EXPECT_FALSE(Exists(none));
}

TEST_F(Commands, SaveFailuresSayTheBackupFailed)
{
    ASSERT_TRUE(Start(OneCardProfile));
    std::string nowhere = PathOf("nowhere") + "/X.ROM";
    ScriptFileChoice(nowhere.c_str());
    DispatchCommand(CmdSaveBios);
    EXPECT_EQ(LastBox(), BackupFailedText);
    EXPECT_FALSE(Exists(nowhere));

    ScriptFileCancel();
    uint32_t boxes = Recording.boxCount;
    DispatchCommand(CmdSaveBios);
    EXPECT_EQ(Recording.boxCount, boxes + 1);
    EXPECT_EQ(LastBox(), BackupFailedText);

    memset(Rom(0)->data, 0xFF, Rom(0)->size);   // no ROM header left
    uint32_t dialogs = ScriptedFiles.dialogCount;
    DispatchCommand(CmdSaveBios);
    EXPECT_EQ(LastBox(), "File not open ! ");
    EXPECT_EQ(ScriptedFiles.dialogCount, dialogs);
}

TEST_F(Commands, SavingTheBufferNeedsAnImage)
{
    MainWindow = RecordedMainWindow;
    ImageLoaded = false;
    EXPECT_TRUE(DispatchCommand(CmdSaveImage));
    EXPECT_EQ(LastBox(), "No file open");
    EXPECT_EQ(ScriptedFiles.dialogCount, 0u);
}

TEST_F(Commands, DualBiosCommandsLeaveTheirRomSelected)
{
    ScriptDialogCommand(DialogIdCancel);
    ASSERT_TRUE(Start(DualBiosProfile));
    std::vector<uint8_t> rom2(Rom(1)->data, Rom(1)->data + 65536);

    std::string path = PathOf("ROM2.ROM");
    ScriptFileChoice(path.c_str());
    DispatchCommand(CmdSaveBios);
    EXPECT_EQ(ReadWholeFile(path), std::string(rom2.begin(), rom2.end()));
    EXPECT_EQ(VcSelectedPart(Card()), Rom(1));

    ScriptFileCancel();
    DispatchCommand(CmdUpdateBios);
    EXPECT_EQ(VcSelectedPart(Card()), Rom(0));

    DispatchCommand(CmdSaveBios);   // unscripted dialog: cancelled, ROM 2 stays
    EXPECT_EQ(VcSelectedPart(Card()), Rom(1));

    // An update whose question was declined leaves its file's name behind;
    // the restore that follows writes no file and names none.
    std::string declined = ImageFile("DECLINED.ROM", Image(65536, 0x0253));
    ScriptFileChoice(declined.c_str());
    RecordingQueueAnswer(UiIdCancel);
    DispatchCommand(CmdUpdateBios);
    EXPECT_EQ(std::string(FilePath), declined);
    EXPECT_TRUE(DispatchCommand(CmdRestoreBios));
    EXPECT_TRUE(RomHolds(0, rom2));
    EXPECT_EQ(VcSelectedPart(Card()), Rom(0));
    EXPECT_EQ(LastBox(), SwitchText);
    EXPECT_STREQ(StatusLines[7], "Writing Flash with file ");

    std::vector<uint8_t> image = Image(65536, 0x0253);
    ScriptFileChoice(ImageFile("NEW.ROM", image).c_str());
    DispatchCommand(CmdUpdateBios);
    EXPECT_TRUE(RomHolds(0, image));
    EXPECT_TRUE(RomHolds(1, rom2));
    EXPECT_EQ(LastBox(), SwitchText);
}

TEST_F(Commands, RomSwitchFailuresStopTheCommands)
{
    ScriptDialogCommand(DialogIdCancel);
    ASSERT_TRUE(Start(DualBiosProfile));
    Card()->dualPinsFrozen = true;
    Card()->dualFrozenPins = 0x0000;
    DispatchCommand(CmdRestoreBios);
    EXPECT_STREQ(StatusLines[5], "Can't setup as ROM 2  ..");

    Card()->dualFrozenPins = 0x4000;
    uint32_t dialogs = ScriptedFiles.dialogCount;
    DispatchCommand(CmdUpdateBios);
    EXPECT_STREQ(StatusLines[5], "Can't setup as ROM 1 ..");
    EXPECT_EQ(ScriptedFiles.dialogCount, dialogs);   // no dialog without ROM 1
    DispatchCommand(CmdRestoreBios);
    EXPECT_STREQ(StatusLines[5], "Can't setup as ROM 1 ..");

    Card()->dualPinsFrozen = false;
    memset(Rom(1)->data, 0xFF, Rom(1)->size);
    DispatchCommand(CmdRestoreBios);
    EXPECT_STREQ(StatusLines[5], "Can't read from ROM 2 ");
    EXPECT_EQ(LastStatusLine, 5);
    EXPECT_EQ(BoxesSinceStart(), 0u);
}

TEST_F(Commands, RebootAsksTheSystemAndReportsEachFailure)
{
    IsNtFamily = true;
    EXPECT_TRUE(DispatchCommand(CmdReboot));
    ASSERT_EQ(ScriptedSys.exitCount, 1u);
    EXPECT_EQ(ScriptedSys.exitFlags[0], SysExitReboot);
    EXPECT_STREQ(ScriptedSys.privilegeName, "SeShutdownPrivilege");
    EXPECT_TRUE(ScriptedSys.privilegeEnabled);
    EXPECT_EQ(Recording.boxCount, 0u);

    ScriptedSys.tokenFails = true;
    ScriptedSys.lastErrorAfterAdjust = 1300;   // not all privileges assigned
    ScriptedSys.exitFails = true;
    RebootSystem();
    ASSERT_EQ(Recording.boxCount, 3u);
    EXPECT_STREQ(Recording.boxes[0].text, "Error:GetCurrentProcess");
    EXPECT_STREQ(Recording.boxes[1].text, "Error");
    EXPECT_STREQ(Recording.boxes[2].text, "Error:REBOOT");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Recording.boxes[i].owner, nullptr);
        EXPECT_STREQ(Recording.boxes[i].caption, "Error");
    }

    IsNtFamily = false;
    ScriptedSys.exitCount = 0;
    RebootSystem();
    ASSERT_EQ(ScriptedSys.exitCount, 2u);
    EXPECT_EQ(ScriptedSys.exitFlags[0], SysExitLogoff);
    EXPECT_EQ(ScriptedSys.exitFlags[1], SysExitReboot);
    EXPECT_EQ(Recording.boxCount, 3u);
}

TEST_F(Commands, DispatchKnowsOnlyTheWindowsOwnCommands)
{
    ASSERT_TRUE(Start(OneCardProfile));
    EXPECT_FALSE(DispatchCommand(32775));
    EXPECT_FALSE(DispatchCommand(0));
    EXPECT_TRUE(DispatchCommand(CmdNothing));
    EXPECT_EQ(ScriptedModal.dialogCount, 0u);
    ScriptDialogCommand(DialogIdOk);
    EXPECT_TRUE(DispatchCommand(CmdAbout));
    const RecordedDialog* about = FindRecordedDialog(AboutDialogId);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->owner, RecordedMainWindow);
    EXPECT_EQ(about->result, DialogIdOk);
    EXPECT_EQ(BoxesSinceStart(), 0u);
    EXPECT_TRUE(MainWindowAlive);
}

} // namespace
