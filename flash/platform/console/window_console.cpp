// The main window of a console run: there is nothing to show, but destroying
// it still runs the end of the program and the restore request still runs
// the restore at once, as SendMessage would.
#include "core/state.h"
#include "platform/console/console.h"
#include "platform/window.h"

void WinDestroyWindow(WindowHandle window)
{
    if (window == ConsoleMainWindow && MainWindowAlive)
        OnMainWindowDestroy();
}

void WinShowWindow(WindowHandle)
{
    ConsoleHoldStatus = false;
    ConsoleFlushStatus();
}

void WinEnableFileMenuItem(WindowHandle, uint32_t position)
{
    // Position 1 of the File menu is "Restore BIOS".
    if (position == 1)
        ConsoleSeen.restoreEnabled = true;
}

void WinSendRestoreBios(WindowHandle window)
{
    ++ConsoleSeen.restoreMessages;
    ConsoleSeen.declinedBeforeRestore = ConsoleSeen.declined;
    ConsoleSeen.lastBoxText[0] = 0;
    ConsoleSeen.lastBoxCaption[0] = 0;
    if (window == ConsoleMainWindow && MainWindowAlive)
        OnRestoreBiosMessage();
}

void WinPostQuit(int)
{
    ConsoleSeen.quitPosted = true;
}
