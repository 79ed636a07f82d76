// The main window procedure: one handler per message. The behaviour lives in
// the portable flows (app/main_window.h); the handlers only translate.
#include "app/windows/main_window_proc.h"

#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/window.h"

namespace {

// A command runs inside its message. A step that lets its window paint also
// takes messages other programs send; none may start a second command.
bool CommandRunning;

LRESULT OnCreate(HWND window)
{
    if (MainWindowStartUp(window))
        return 0;
    // A failed start-up destroys the window here, so its WM_DESTROY handling
    // (closing the hardware layer) runs whatever the system does with -1.
    if (MainWindowAlive)
        DestroyWindow(window);
    return -1;
}

LRESULT OnDestroy()
{
    OnMainWindowDestroy();
    return 0;
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    DrawProgress(dc, ProgressDone, ProgressTotal);
    DrawStatusLines(dc);
    EndPaint(window, &paint);
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (CommandRunning)
        return 0;
    CommandRunning = true;
    bool handled = DispatchCommand(LOWORD(wParam));
    CommandRunning = false;
    if (handled)
        return 0;
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

LRESULT OnSysCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    // While a flash step runs the window can be neither closed nor moved.
    if (FlashBusy)
        return 0;
    return DefWindowProcA(window, WM_SYSCOMMAND, wParam, lParam);
}

// A close request (End Task sends one) is refused while the part is
// written, as the system commands are.
LRESULT OnClose(HWND window)
{
    if (FlashBusy)
        return 0;
    return DefWindowProcA(window, WM_CLOSE, 0, 0);
}

// Nor may the session end under a flash: that would leave the part half
// written.
LRESULT OnQueryEndSession(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (FlashBusy)
        return FALSE;
    return DefWindowProcA(window, WM_QUERYENDSESSION, wParam, lParam);
}

LRESULT OnRestoreBios()
{
    if (CommandRunning)
        return 0;
    CommandRunning = true;
    OnRestoreBiosMessage();
    CommandRunning = false;
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy();
    case WM_PAINT:
        return OnPaint(window);
    case WM_SIZE:
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam, lParam);
    case WM_SYSCOMMAND:
        return OnSysCommand(window, wParam, lParam);
    case WM_CLOSE:
        return OnClose(window);
    case WM_QUERYENDSESSION:
        return OnQueryEndSession(window, wParam, lParam);
    case WM_INITMENUPOPUP:
        return 0;
    case WM_RESTORE_BIOS:
        return OnRestoreBios();
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
