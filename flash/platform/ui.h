// Seam to the user interface of QZFlash: message boxes, the drawing of the
// status lines and of the progress bar, the cursor, the file dialogs.
// Win32 implementation in win32/, recording one for tests in recording/,
// console one for the Linux front end in console/.
#pragma once
#include <stdint.h>

typedef void* WindowHandle;   // HWND on Windows
typedef void* DcHandle;       // HDC on Windows

// Message box types and answers, with the Win32 values.
enum : uint32_t { UiMbOk = 0x0, UiMbOkCancel = 0x1 };
enum : int { UiIdOk = 1, UiIdCancel = 2, UiIdYes = 6, UiIdNo = 7 };

// owner may be 0 (no owner); caption may be 0 (the system's default caption).
int UiMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type);

DcHandle UiGetDC(WindowHandle window);
void UiReleaseDC(WindowHandle window, DcHandle dc);

// Draws status lines 0 .. LastStatusLine + 1 (at most 19) from the status store.
void UiDrawStatusLines(DcHandle dc);
// Draws the block bar: done yellow cells in a grid of total cells.
void UiDrawProgress(DcHandle dc, int32_t done, int32_t total);
// Paints a white rectangle of step * count by height pixels at (left, top).
void UiEraseProgress(DcHandle dc, int32_t left, int32_t top, int32_t height, int32_t step, int32_t count);
// Bytes done of a step the window shows no bar for (FlashPhase names it):
// nothing in the window; a terminal draws its bar.
void UiShowStepProgress(uint32_t done, uint32_t total);

void UiShowWaitCursor(bool wait);

// Lets the program's windows paint what waits to be painted, and takes no
// other message: no input and no command is handled in the middle of a
// step. Long steps call it as often as they like (per byte is fine: the Win32
// one looks at the queue every few tens of milliseconds at most), so that a
// window uncovered during a flash is drawn again and never taken for hung.
void UiPaintPending();
// Drops the keyboard and mouse input queued so far, so that keys pressed
// while a step ran cannot answer a box shown after it.
void UiDiscardInput();
