// Seam to the main window operations the command flows need beyond drawing:
// destroying and showing it, the "Restore BIOS" menu item, the private restore
// message and the end of the message loop. Win32: DestroyWindow, ShowWindow,
// GetMenu / GetSubMenu / EnableMenuItem, SendMessageA, PostQuitMessage.
#pragma once
#include <stdint.h>
#include "platform/ui.h"

enum : uint32_t { WM_RESTORE_BIOS = 0x400 + 0x100 };   // WM_USER + 0x100

// Destroys the window; on Windows this runs the window's WM_DESTROY handling
// (OnMainWindowDestroy) before it returns.
void WinDestroyWindow(WindowHandle window);

void WinShowWindow(WindowHandle window);

// Enables the item at `position` of the window menu's first submenu.
void WinEnableFileMenuItem(WindowHandle window, uint32_t position);

// Sends WM_RESTORE_BIOS; the window procedure runs OnRestoreBiosMessage.
void WinSendRestoreBios(WindowHandle window);

void WinPostQuit(int exitCode);

// The window procedure's handlers, which the program provides. Seams without
// a window procedure run them where the procedure would.
// WM_DESTROY: gives the device context back, closes the hardware layer and
// ends the message loop.
void OnMainWindowDestroy();
// WM_RESTORE_BIOS: show the window, then copy ROM 2 into ROM 1.
void OnRestoreBiosMessage();
