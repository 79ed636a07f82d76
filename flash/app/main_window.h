// The main window's behaviour apart from its drawing: the start-up sequence
// run while the window is created, the command dispatch, the end of the run,
// the reboot request and the unattended switch. The platform's window
// procedure calls these; tests call them through the recording seams.
#pragma once
#include <stdint.h>
#include "core/state.h"
#include "platform/ui.h"
#include "platform/window.h"

// Command identifiers of the main window.
enum : uint32_t {
    CmdUpdateBios = 32774,
    CmdRestoreBios = 32780,
    CmdSaveBios = 32773,
    CmdExit = 105,
    CmdAbout = 104,
    CmdLoadImage = 32771,
    CmdSaveImage = 32772,
    CmdReboot = 32776,
    CmdNothing = 32781,
};

enum : int { AboutDialogId = 103 };

// "-A" or "-a" at the start of the command line (a longer word too).
bool ParseAutoMode(const char* commandLine);

// The steps of start-up that stand alone.
bool SetProgramFolder();
void CheckPlatform();
bool CheckColourDepth();

// WM_CREATE: the whole start-up sequence. False when start-up failed or the
// program ended during it; the window may then already be destroyed.
bool MainWindowStartUp(WindowHandle window);

// The program entry where no window procedure runs the start-up (terminal,
// tests): the unattended switch from the command line (none: AutoMode as it
// is), then MainWindowStartUp; a failed start-up destroys the window. True
// when the window is left up.
bool HeadlessStartUp(WindowHandle window, const char* commandLine);

// Destroys the main window unless it is already gone.
void DestroyMainWindow();

// WM_COMMAND: false for an identifier that is not the window's own.
bool DispatchCommand(uint32_t commandId);

void RebootSystem();
