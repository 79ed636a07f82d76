// The main window procedure: one handler per message. The behaviour lives in
// the portable flows (app/main_window.h); the handlers only translate.
#include "app/windows/main_window_proc.h"

#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "platform/window.h"

namespace {

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
    if (DispatchCommand(LOWORD(wParam)))
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

LRESULT OnRestoreBios()
{
    OnRestoreBiosMessage();
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
    case WM_INITMENUPOPUP:
        return 0;
    case WM_RESTORE_BIOS:
        return OnRestoreBios();
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
