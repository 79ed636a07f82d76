// Main window operations used by the command flows.
#include <windows.h>

#include "platform/window.h"

void WinDestroyWindow(WindowHandle window)
{
    DestroyWindow(static_cast<HWND>(window));
}

void WinShowWindow(WindowHandle window)
{
    ShowWindow(static_cast<HWND>(window), SW_SHOW);
}

void WinEnableFileMenuItem(WindowHandle window, uint32_t position)
{
    HMENU menu = GetMenu(static_cast<HWND>(window));
    HMENU fileMenu = GetSubMenu(menu, 0);
    EnableMenuItem(fileMenu, position, MF_BYPOSITION | MF_ENABLED);
}

void WinSendRestoreBios(WindowHandle window)
{
    SendMessageA(static_cast<HWND>(window), WM_RESTORE_BIOS, 0, 0);
}

void WinPostQuit(int exitCode)
{
    PostQuitMessage(exitCode);
}
