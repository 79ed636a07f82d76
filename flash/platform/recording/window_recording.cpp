// The main window as the flows see it: destroying it runs the WM_DESTROY
// handling, the restore message runs its handler at once, as SendMessage
// would.
#include <string.h>

#include "core/state.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"
#include "platform/window.h"

RecordedWindow RecordedMain;
WindowHandle const RecordedMainWindow = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x3A1E));

void WinDestroyWindow(WindowHandle window)
{
    ++RecordedMain.destroyCount;
    if (window == RecordedMainWindow && MainWindowAlive)
        OnMainWindowDestroy();
}

void WinShowWindow(WindowHandle)
{
    if (RecordedMain.showCount == 0) {
        RecordedMain.showBoxesBefore = Recording.boxCount;
        RecordedMain.showStatusDrawsBefore = Recording.statusDrawCount;
    }
    ++RecordedMain.showCount;
}

void WinEnableFileMenuItem(WindowHandle, uint32_t position)
{
    if (position < 32)
        RecordedMain.enabledMenuItems |= 1u << position;
}

void WinSendRestoreBios(WindowHandle window)
{
    ++RecordedMain.restoreMessages;
    if (window == RecordedMainWindow && MainWindowAlive)
        OnRestoreBiosMessage();
}

void WinPostQuit(int exitCode)
{
    RecordedMain.quitPosted = true;
    RecordedMain.exitCode = exitCode;
}

void FlowRecordingReset()
{
    RecordingReset();
    memset(&ScriptedServices, 0, sizeof ScriptedServices);
    memset(&ScriptedSys, 0, sizeof ScriptedSys);
    ScriptedSys.version.PlatformId = SysPlatformNt;
    ScriptedSys.version.Major = 5;
    ScriptedSys.version.Minor = 1;
    ScriptedSys.bitsPerPixel = 32;
    strcpy(ScriptedSys.modulePath, "C:\\QZ\\QZFlash.exe");
    memset(&ScriptedFiles, 0, sizeof ScriptedFiles);
    memset(&ScriptedModal, 0, sizeof ScriptedModal);
    memset(&RecordedMain, 0, sizeof RecordedMain);
    memset(&FileFaults, 0, sizeof FileFaults);
    FileFaults.writeLimit = -1;
}
