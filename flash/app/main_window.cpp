#include "app/main_window.h"

#include <string.h>

#include "app/commands.h"
#include "app/dual_bios.h"
#include "app/select_card.h"
#include "core/state.h"
#include "core/status.h"
#include "hw/driver_setup.h"
#include "hw/hw.h"
#include "platform/dialogs.h"
#include "platform/system.h"
#include "platform/timing.h"
#include "platform/window.h"

bool ParseAutoMode(const char* commandLine)
{
    return commandLine && commandLine[0] == '-' && (commandLine[1] == 'A' || commandLine[1] == 'a');
}

bool SetProgramFolder()
{
    uint32_t length = SysGetModulePath(ProgramFolder, sizeof ProgramFolder);
    // Paths are held up to MAX_PATH; one the system itself had to cut would
    // name another folder, so start-up stops rather than use it.
    if (length == 0 || length >= sizeof ProgramFolder) {
        ProgramFolder[0] = 0;
        if (!AutoMode)
            UiMessageBox(MainWindow, "The program folder path is too long.", "Error", UiMbOk);
        return false;
    }
    ProgramFolder[length] = 0;
    CutToFolder(ProgramFolder);
    SysSetCurrentDirectory(ProgramFolder);
    return true;
}

void CheckPlatform()
{
    SysVersion version = {};
    if (SysGetVersion(&version) && version.PlatformId == SysPlatformNt) {
        IsNtFamily = true;
        NtNot2000 = !(version.Major == 5 && version.Minor == 0);
    } else {
        IsNtFamily = false;
        NtNot2000 = false;
    }
}

bool CheckColourDepth()
{
    if (SysScreenBitsPerPixel() >= 8)
        return true;
    if (!AutoMode)
        UiMessageBox(MainWindow, "This program can't run in non-VGA mode!! ", "Error", UiMbOk);
    return false;
}

bool MainWindowStartUp(WindowHandle window)
{
    MainWindowAlive = true;
    if (!SetProgramFolder())
        return false;
    CheckPlatform();
    PrepareFileDialog(window);
    MainWindow = window;
    if (!CheckColourDepth())
        return false;
    if (!CheckDriverFile())
        return false;
    if (!OpenHardware()) {
        if (!AutoMode)
            UiMessageBox(MainWindow, "Device not open ", "Error", UiMbOk);
        return false;
    }
    if (!IsNtFamily && CardCount > 1)
        SysWinExec("control.exe desk.cpl @0,3", SysShowNormal);
    PlatformSleep(1000);
    if (CardCount > 1) {
        SelectCardDialog(window);
        if (!MainWindowAlive)
            return false;
    }
    CurrentCard = static_cast<int16_t>(SelectedCard);
    if (!InitSelectedCard(window))
        return false;
    WindowDC = UiGetDC(window);
    if (DualBios) {
        DualBiosDialog(window);
        return MainWindowAlive;
    }
    if (AutoMode) {
        DestroyMainWindow();
        return false;
    }
    return true;
}

void OnMainWindowDestroy()
{
    MainWindowAlive = false;
    if (WindowDC) {
        UiReleaseDC(MainWindow, WindowDC);
        WindowDC = 0;
    }
    CloseHardware();
    WinPostQuit(0);
}

bool HeadlessStartUp(WindowHandle window, const char* commandLine)
{
    if (commandLine)
        AutoMode = ParseAutoMode(commandLine);
    bool started = MainWindowStartUp(window);
    if (!started && MainWindowAlive)
        WinDestroyWindow(window);
    return started && MainWindowAlive;
}

void DestroyMainWindow()
{
    if (MainWindowAlive)
        WinDestroyWindow(MainWindow);
}

static void AboutDialogInit(DialogHandle)
{
    // Nothing to fill in; the dialog takes the default focus.
}

static void AboutDialogCommand(DialogHandle dialog, int commandId)
{
    if (commandId == DialogIdOk || commandId == DialogIdCancel)
        DlgEnd(dialog, commandId);
}

bool DispatchCommand(uint32_t commandId)
{
    switch (commandId) {
    case CmdUpdateBios:
        UpdateBios();
        return true;
    case CmdRestoreBios:
        RestoreBios();
        return true;
    case CmdSaveBios:
        SaveBios();
        return true;
    case CmdExit:
        DestroyMainWindow();
        return true;
    case CmdAbout:
        DlgRunModal(MainWindow, AboutDialogId, AboutDialogInit, AboutDialogCommand);
        return true;
    case CmdLoadImage:
        if (ChooseImageToOpen())
            LoadImageFile(ImageBuffer, FilePath);
        return true;
    case CmdSaveImage:
        if (!ImageLoaded)
            UiMessageBox(MainWindow, "No file open", "Error", UiMbOk);
        else if (ChooseImageToSave())
            SaveImageFile(FilePath, ImageBuffer);
        return true;
    case CmdReboot:
        RebootSystem();
        return true;
    case CmdNothing:
        return true;
    default:
        return false;
    }
}

void OnRestoreBiosMessage()
{
    WinShowWindow(MainWindow);
    RestoreBios();
}

void RebootSystem()
{
    if (!IsNtFamily) {
        SysExitWindows(SysExitLogoff);
        SysExitWindows(SysExitReboot);
        return;
    }
    TokenHandle token = 0;
    if (!SysOpenProcessToken(&token))
        UiMessageBox(0, "Error:GetCurrentProcess", "Error", UiMbOk);
    uint64_t luid = 0;
    SysLookupPrivilege("SeShutdownPrivilege", &luid);
    SysEnablePrivilege(token, luid);
    if (SysGetLastError() != 0)
        UiMessageBox(0, "Error", "Error", UiMbOk);
    if (!SysExitWindows(SysExitReboot))
        UiMessageBox(0, "Error:REBOOT", "Error", UiMbOk);
}
