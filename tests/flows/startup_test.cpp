// Start-up end to end: driver, card selection, initialisation, the dual-BIOS
// offer and the unattended mode, as the main window's creation runs them.
#include <string.h>

#include "app/dual_bios.h"
#include "app/main_window.h"
#include "app/select_card.h"
#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "flow_fixture.h"
#include "hw/driver_setup.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

namespace {

const char ThreeCardProfile[] =
    "card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 39VF010 image=04.28.20.05\n"
    "card 2:3 0x10DE:0x0110 bar0=0xE4000000\npart 39VF010 image=03.11.01.02\n"
    "card 3:0 0x10DE:0x0322 bar0=0xE8000000 interface=spi\npart M25P10 image=04.34.20.19\n";

class StartUp : public FlowTest {
protected:
    // Every run ends with the window gone, the driver closed and the service
    // this run installed removed.
    void ExpectEndedCleanly()
    {
        EXPECT_FALSE(MainWindowAlive);
        EXPECT_TRUE(RecordedMain.quitPosted);
        EXPECT_EQ(RecordedMain.exitCode, 0);
        EXPECT_EQ(DeviceHandle, 0u);
        EXPECT_FALSE(ScriptedServices.exists);
        EXPECT_EQ(ScriptedServices.openHandles, 0);
        EXPECT_EQ(RecordingOpenDcs(), 0);
        EXPECT_EQ(machine->deviceOpens, machine->deviceCloses);
    }
};

TEST_F(StartUp, OneCardShowsItsHeaderAndEndsOnExit)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    AddStatusText("from before", 0);  // the card's initialisation starts from no lines
    VcTime begin = machine->now;
    ASSERT_TRUE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_EQ(Recording.boxCount, 0u);
    EXPECT_EQ(ScriptedModal.dialogCount, 0u);
    EXPECT_EQ(ScriptedSys.winExecCount, 0u);
    EXPECT_GE(machine->now - begin, 1000000000u);   // the pause before selection
    EXPECT_EQ(std::string(ProgramFolder), folder);
    EXPECT_EQ(std::string(ScriptedSys.currentDirectory), folder);
    EXPECT_TRUE(IsNtFamily);
    EXPECT_TRUE(NtNot2000);
    EXPECT_TRUE(ScriptedFiles.prepared);
    EXPECT_EQ(ScriptedFiles.preparedOwner, RecordedMainWindow);
    EXPECT_EQ(MainWindow, RecordedMainWindow);
    EXPECT_NE(WindowDC, nullptr);
    EXPECT_EQ(CurrentCard, 0);
    EXPECT_FALSE(DualBios);
    EXPECT_EQ(RecordedMain.enabledMenuItems, 0u);
    EXPECT_TRUE(ScriptedServices.running);

    EXPECT_EQ(LastStatusLine, 4);
    EXPECT_EQ(Line(0), "");
    EXPECT_STREQ(StatusLines[1], "This Chip  is NV28 (281)    Device : 281    Vender : 10DE");
    EXPECT_STREQ(StatusLines[2], "EEPROM man. ID,devcode (BF,D5)  SST 39VF010 2.7-3.6 128Kx8");
    EXPECT_STREQ(StatusLines[3], "ROM BIOS version is :04.28.20.05");
    EXPECT_STREQ(StatusLines[4], " ");
    EXPECT_TRUE(ImageLoaded);
    EXPECT_EQ(ImageLength, 65536u);

    EXPECT_TRUE(DispatchCommand(CmdExit));
    ExpectEndedCleanly();
    EXPECT_EQ(RecordedMain.destroyCount, 1u);
}

TEST_F(StartUp, PlatformVersionsSetTheFamilyFlags)
{
    ScriptedSys.version = SysVersion{SysPlatformNt, 5, 0};
    CheckPlatform();
    EXPECT_TRUE(IsNtFamily);
    EXPECT_FALSE(NtNot2000);
    ScriptedSys.version = SysVersion{SysPlatformNt, 4, 0};
    CheckPlatform();
    EXPECT_TRUE(NtNot2000);
    ScriptedSys.version = SysVersion{1, 4, 10};
    CheckPlatform();
    EXPECT_FALSE(IsNtFamily);
    EXPECT_FALSE(NtNot2000);
}

TEST_F(StartUp, ThreeCardsAreListedAndTheThirdIsChosen)
{
    ASSERT_TRUE(Machine(ThreeCardProfile));
    ScriptDialogCommand(DialogIdOk);                    // nothing selected yet
    ScriptDialogCommand(DialogIdCancel);                // Escape: ignored
    ScriptDialogCommand(DialogIdOk, 2);
    ASSERT_TRUE(HeadlessStartUp(RecordedMainWindow, ""));

    const RecordedDialog* dialog = FindRecordedDialog(DialogCardSelection);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->owner, RecordedMainWindow);
    ASSERT_EQ(dialog->lineCount, 3u);
    EXPECT_STREQ(dialog->lines[0], " NV28 (281) ,Vender ID=10DE ,Bus=1");
    EXPECT_STREQ(dialog->lines[1], " NV11 (110) ,Vender ID=10DE ,Bus=2");
    EXPECT_STREQ(dialog->lines[2], " NV32 (322) ,Vender ID=10DE ,Bus=3");
    EXPECT_EQ(dialog->commandCount, 3u);
    EXPECT_EQ(dialog->result, DialogIdOk);

    ASSERT_EQ(Recording.boxCount, 1u);
    EXPECT_STREQ(Recording.boxes[0].text, "Please select a card !!");
    EXPECT_STREQ(Recording.boxes[0].caption, "Message");
    EXPECT_EQ(Recording.boxes[0].owner, dialog);  // modal to the dialog: one at a time

    EXPECT_EQ(SelectedCard, 2);
    EXPECT_EQ(CurrentCard, 2);
    EXPECT_STREQ(StatusLines[1], "This Chip  is NV34 (322)    Device : 322    Vender : 10DE");
    EXPECT_STREQ(StatusLines[2], "EEPROM man. ID,devcode (20,10)  ST M25P10 2.7-3.6 1024Kx1");
    EXPECT_EQ(ScriptedSys.winExecCount, 0u);   // the NT family gets no control panel

    // A line is cut to the room given, terminator included, never past it.
    char line[24];
    memset(line, 'X', sizeof line);
    CardListLine(0, line, 16);
    EXPECT_STREQ(line, " NV28 (281) ,Ve");
    EXPECT_EQ(line[16], 'X');
}

TEST_F(StartUp, CancelInTheSelectionEndsTheProgram)
{
    ASSERT_TRUE(Machine(ThreeCardProfile));
    ScriptDialogCommand(CardDialogIdCancel);
    AutoMode = false;
    EXPECT_FALSE(MainWindowStartUp(RecordedMainWindow));  // the window's creation fails
    const RecordedDialog* dialog = FindRecordedDialog(DialogCardSelection);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->ownerDestroyed);
    EXPECT_EQ(Recording.boxCount, 0u);
    EXPECT_EQ(LastStatusLine, 0);   // no card was initialised
    EXPECT_EQ(RecordedMain.destroyCount, 1u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, OlderGenerationIsListedThenRefused)
{
    ASSERT_TRUE(Machine(ThreeCardProfile));
    ScriptDialogCommand(DialogIdOk, 1);
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    ASSERT_EQ(Recording.boxCount, 1u);
    EXPECT_STREQ(Recording.boxes[0].text, "This program only support Geforce4 and later ");
    EXPECT_FALSE(Recording.boxes[0].hasCaption);
    EXPECT_EQ(Recording.boxes[0].owner, RecordedMainWindow);
    EXPECT_EQ(RecordedMain.destroyCount, 1u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, GenerationRangesAreInclusive)
{
    const uint16_t accepted[] = {0x0170, 0x018F, 0x0250, 0x025F, 0x0280, 0x028F, 0x0300, 0x032B};
    const uint16_t refused[] = {0x016F, 0x0190, 0x024F, 0x0260, 0x027F, 0x0290, 0x02FF, 0x032C, 0x0110};
    for (uint16_t id : accepted)
        EXPECT_TRUE(IsSupportedGeneration(id)) << std::hex << id;
    for (uint16_t id : refused)
        EXPECT_FALSE(IsSupportedGeneration(id)) << std::hex << id;
}

TEST_F(StartUp, UnknownFlashPartEndsStartUpOnce)
{
    ASSERT_TRUE(Machine("card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=reserved\n"));
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    ASSERT_EQ(Recording.boxCount, 1u);
    EXPECT_STREQ(Recording.boxes[0].text, "Supported EEPROM not found.\n");
    EXPECT_EQ(RecordedMain.destroyCount, 1u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, NinetyEightWithSeveralCardsOpensTheControlPanelFirst)
{
    ASSERT_TRUE(Machine(ThreeCardProfile));
    ScriptedSys.version = SysVersion{1, 4, 10};
    remove(PathOf("QZF.sys").c_str());   // only the virtual device driver is needed here
    // Cancelling the selection ends the program: a panel started after the
    // dialog would never be started.
    ScriptDialogCommand(CardDialogIdCancel);
    AutoMode = false;
    EXPECT_FALSE(MainWindowStartUp(RecordedMainWindow));  // the window's creation fails
    EXPECT_EQ(AccessMode, AccessDirect);
    EXPECT_EQ(ScriptedServices.callCount, 0u);
    EXPECT_EQ(ScriptedSys.winExecCount, 1u);
    EXPECT_STREQ(ScriptedSys.winExecCommand, "control.exe desk.cpl @0,3");
    EXPECT_EQ(ScriptedSys.winExecShow, SysShowNormal);
    // The PCI BIOS finds the cards in the order of the supported-id list.
    const RecordedDialog* dialog = FindRecordedDialog(DialogCardSelection);
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->lineCount, 3u);
    EXPECT_STREQ(dialog->lines[0], " NV11 (110) ,Vender ID=10DE ,Bus=2");
    EXPECT_STREQ(dialog->lines[1], " NV28 (281) ,Vender ID=10DE ,Bus=1");
    EXPECT_TRUE(RecordedMain.quitPosted);
}

TEST_F(StartUp, ScreenOfFewerThanEightBitsIsRefusedBeforeTheDriver)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    ScriptedSys.bitsPerPixel = 8;
    EXPECT_TRUE(CheckColourDepth());
    ScriptedSys.bitsPerPixel = 4;
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    ASSERT_EQ(Recording.boxCount, 1u);
    EXPECT_STREQ(Recording.boxes[0].text, "This program can't run in non-VGA mode!! ");
    EXPECT_STREQ(Recording.boxes[0].caption, "Error");
    EXPECT_EQ(ScriptedServices.callCount, 0u);
    EXPECT_EQ(machine->deviceOpens, 0u);
    EXPECT_TRUE(RecordedMain.quitPosted);
    ScriptedSys.bitsPerPixel = 7;  // the bound itself
    EXPECT_FALSE(CheckColourDepth());
}

TEST_F(StartUp, ACutProgramPathEndsTheStartUpFirst)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    strcpy(ScriptedSys.modulePath, ("C:\\" + std::string(300, 'e')).c_str());
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_EQ(LastBox(), "The program folder path is too long.");
    EXPECT_EQ(ScriptedServices.callCount, 0u);
    EXPECT_EQ(machine->deviceOpens, 0u);
    EXPECT_TRUE(RecordedMain.quitPosted);
}

TEST_F(StartUp, MissingDriverFileEndsBeforeAnyServiceWork)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    remove(PathOf("QZF.sys").c_str());
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_EQ(LastBox(), "QZF.sys not exist!");
    EXPECT_EQ(ScriptedServices.callCount, 0u);
    EXPECT_TRUE(RecordedMain.quitPosted);
}

TEST_F(StartUp, NoCardRemovesTheServiceBeforeSayingSo)
{
    ASSERT_TRUE(Machine("device 0:0 0x8086:0x2570 class=0x060000\n"));
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    ASSERT_EQ(Recording.boxCount, 1u);
    EXPECT_STREQ(Recording.boxes[0].text, "Device not open ");
    EXPECT_STREQ(Recording.boxes[0].caption, "Error");
    int32_t removal = ScriptedServiceFirstCall(SvcCallDelete);
    ASSERT_GE(removal, 0);
    EXPECT_TRUE(ScriptedServices.calls[removal].ok);
    EXPECT_EQ(ScriptedServices.calls[removal].boxesBefore, 0u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, CardWhoseEveryRequestFailsIsNeverUsed)
{
    std::string profile = std::string(OneCardProfile) + "fail any\n";
    ASSERT_TRUE(Machine(profile.c_str()));
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_EQ(LastBox(), "Device not open ");
    ExpectEndedCleanly();
}

TEST_F(StartUp, CardWhoseMemoryRequestsFailHasNoKnownPart)
{
    std::string profile = std::string(OneCardProfile) + "fail mem-read\nfail mem-write\n";
    ASSERT_TRUE(Machine(profile.c_str()));
    uint64_t programs = machine->cards[0].parts[0].programCount;
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_EQ(LastBox(), "Supported EEPROM not found.\n");
    EXPECT_EQ(machine->cards[0].parts[0].programCount, programs);
    ExpectEndedCleanly();
}

TEST_F(StartUp, WithoutAdministratorRightsTheDeviceDoesNotOpen)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    ScriptedServices.managerUnavailable = true;
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_EQ(LastBox(), "Device not open ");
    EXPECT_EQ(machine->deviceOpens, 0u);
}

TEST_F(StartUp, AutoModeWithOneOrdinaryCardEndsSilently)
{
    ASSERT_TRUE(Machine(OneCardProfile));
    AutoMode = ParseAutoMode("-a");
    EXPECT_FALSE(MainWindowStartUp(RecordedMainWindow));  // the window's creation fails
    EXPECT_TRUE(AutoMode);
    EXPECT_EQ(Recording.boxCount, 0u);
    EXPECT_EQ(ScriptedModal.dialogCount, 0u);
    EXPECT_EQ(RecordedMain.showCount, 0u);
    EXPECT_EQ(LastStatusLine, 4);   // the card was initialised
    EXPECT_EQ(machine->deviceOpens, 1u);
    EXPECT_EQ(ScriptedServiceCallCount(SvcCallDelete), 1u);
    EXPECT_EQ(RecordedMain.destroyCount, 1u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, AutoModeSuppressesStartUpMessages)
{
    ASSERT_TRUE(Machine("device 0:0 0x8086:0x2570 class=0x060000\n"));
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, "-A"));
    EXPECT_EQ(Recording.boxCount, 0u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, OnlyMinusAStartsUnattended)
{
    EXPECT_TRUE(ParseAutoMode("-A"));
    EXPECT_TRUE(ParseAutoMode("-a"));
    EXPECT_TRUE(ParseAutoMode("-auto"));
    EXPECT_FALSE(ParseAutoMode("/A"));
    EXPECT_FALSE(ParseAutoMode(""));
    EXPECT_FALSE(ParseAutoMode("-"));
    EXPECT_FALSE(ParseAutoMode("A"));
    EXPECT_FALSE(ParseAutoMode(" -A"));
}

TEST_F(StartUp, DualBiosOkRestoresRom2IntoRom1BeforeStartUpEnds)
{
    ASSERT_TRUE(Machine(DualBiosProfile));
    ScriptDialogCommand(DialogIdOk);
    ASSERT_TRUE(HeadlessStartUp(RecordedMainWindow, ""));
    VcCard* card = &machine->cards[0];
    EXPECT_TRUE(DualBios);
    EXPECT_EQ(RecordedMain.enabledMenuItems, 1u << 1);
    EXPECT_STREQ(StatusLines[3], "ROM BIOS version is :04.25.00.28");   // ROM 1 at start-up

    const RecordedDialog* dialog = FindRecordedDialog(DialogDualBios);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->owner, RecordedMainWindow);
    EXPECT_EQ(dialog->result, DialogIdOk);
    EXPECT_EQ(RecordedMain.restoreMessages, 1u);
    ASSERT_EQ(RecordedMain.showCount, 1u);
    EXPECT_EQ(RecordedMain.showBoxesBefore, 0u);   // shown before the restore asks anything

    ASSERT_GE(Recording.boxCount, 3u);
    EXPECT_STREQ(Recording.boxes[0].caption, "Confirm");
    EXPECT_EQ(LastBox(), "Please set the Switch Button and Reboot the computer!!");
    EXPECT_EQ(memcmp(card->parts[0].data, card->parts[1].data, 65536), 0);
    EXPECT_EQ(VcSelectedPart(card), &card->parts[0]);
    EXPECT_EQ(Line(LastStatusLine), "Flash OK!!");
    EXPECT_TRUE(MainWindowAlive);
}

TEST_F(StartUp, DualBiosCancelEndsOnlyAnUnattendedRun)
{
    ASSERT_TRUE(Machine(DualBiosProfile));
    ScriptDialogCommand(DialogIdCancel);
    EXPECT_FALSE(HeadlessStartUp(RecordedMainWindow, "-A"));
    VcCard* card = &machine->cards[0];
    EXPECT_NE(memcmp(card->parts[0].data, card->parts[1].data, 65536), 0);
    EXPECT_EQ(RecordedMain.restoreMessages, 0u);
    EXPECT_EQ(Recording.boxCount, 0u);
    ExpectEndedCleanly();
}

TEST_F(StartUp, DualBiosCancelKeepsAnAttendedRunGoing)
{
    ASSERT_TRUE(Machine(DualBiosProfile));
    ScriptDialogCommand(DialogIdCancel);
    ASSERT_TRUE(HeadlessStartUp(RecordedMainWindow, ""));
    EXPECT_TRUE(DualBios);
    EXPECT_EQ(RecordedMain.restoreMessages, 0u);
    EXPECT_EQ(RecordedMain.destroyCount, 0u);
    EXPECT_EQ(Recording.boxCount, 0u);
}

} // namespace
