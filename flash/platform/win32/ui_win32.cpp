// Message boxes, the status lines and the progress bar drawn with GDI, and
// the wait cursor.
#include <windows.h>

#include "core/state.h"
#include "core/status.h"
#include "platform/ui.h"

namespace {

const COLORREF StatusTextColour = RGB(50, 0, 0);
const COLORREF ProgressFillColour = RGB(255, 255, 0);
const COLORREF GridColour = RGB(0, 0, 0);
const COLORREF EraseColour = RGB(255, 255, 255);

const int StatusLeft = 10;
const int StatusRight = 470;
const int StatusRowStep = 15;
const int StatusRowHeight = 20;

const int BlockWidth = 10;

// The paint pump looks at the queue this often at most.
const DWORD PaintCheckMs = 50;
const int MaxPaintsPerCheck = 16;
const int MaxDiscardsPerRange = 4096;
DWORD LastPaintCheck;

HDC AsDc(DcHandle dc)
{
    return static_cast<HDC>(dc);
}

}  // namespace

int UiMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type)
{
    return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

DcHandle UiGetDC(WindowHandle window)
{
    return GetDC(static_cast<HWND>(window));
}

void UiReleaseDC(WindowHandle window, DcHandle dc)
{
    if (dc)
        ReleaseDC(static_cast<HWND>(window), AsDc(dc));
}

void UiDrawStatusLines(DcHandle dcHandle)
{
    HDC dc = AsDc(dcHandle);
    if (!dc)
        return;
    SetTextColor(dc, StatusTextColour);
    // Text keeps the context's opaque white background, so a blanked line
    // paints over what the row showed before.
    HFONT font = CreateFontA(15, 6, 0, 0, 10, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                             VARIABLE_PITCH | FF_ROMAN, "Arial");
    HGDIOBJ previous = SelectObject(dc, font);
    // Every stored line, not only those in use: a line a clear has blanked
    // holds blanks, and drawing them takes its old text off the screen.
    // While the bar is shown it lies above the lines low enough to meet it.
    int saved = SaveDC(dc);
    if (ProgressVisible)
        ExcludeClipRect(dc, ProgressOriginX, ProgressOriginY, ProgressOriginX + BlockWidth * ProgressTotal + 1,
                        ProgressOriginY + ProgressBarHeight + 1);
    for (int32_t i = 0; i < StatusLineCount; ++i) {
        RECT row = {StatusLeft, StatusRowStep * i, StatusRight, StatusRowStep * i + StatusRowHeight};
        DrawTextA(dc, StatusLines[i], -1, &row, DT_SINGLELINE | DT_VCENTER);
    }
    RestoreDC(dc, saved);
    SelectObject(dc, previous);
    DeleteObject(font);
}

void UiDrawProgress(DcHandle dcHandle, int32_t done, int32_t total)
{
    HDC dc = AsDc(dcHandle);
    const int left = ProgressOriginX;
    const int top = ProgressOriginY;
    const int bottom = top + ProgressBarHeight;

    HBRUSH fillBrush = CreateSolidBrush(ProgressFillColour);
    HPEN fillPen = CreatePen(PS_SOLID, 0, ProgressFillColour);
    HGDIOBJ oldPen = SelectObject(dc, fillPen);
    HGDIOBJ oldBrush = SelectObject(dc, fillBrush);
    if (!Rectangle(dc, left, top, left + BlockWidth * done, bottom))
        MessageBoxA(static_cast<HWND>(MainWindow), "Error", "Error", MB_OK);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(fillPen);
    DeleteObject(fillBrush);

    HPEN gridPen = CreatePen(PS_SOLID, 0, GridColour);
    oldPen = SelectObject(dc, gridPen);
    for (int32_t k = 0; k <= total; ++k) {
        MoveToEx(dc, left + BlockWidth * k, top, NULL);
        LineTo(dc, left + BlockWidth * k, bottom);
    }
    MoveToEx(dc, left, top, NULL);
    LineTo(dc, left + BlockWidth * total, top);
    MoveToEx(dc, left, bottom, NULL);
    LineTo(dc, left + BlockWidth * total, bottom);
    SelectObject(dc, oldPen);
    DeleteObject(gridPen);

    UpdateWindow(static_cast<HWND>(MainWindow));
}

void UiEraseProgress(DcHandle dcHandle, int32_t left, int32_t top, int32_t height, int32_t step, int32_t count)
{
    HDC dc = AsDc(dcHandle);
    const int width = step * count;
    HBRUSH brush = CreateSolidBrush(EraseColour);
    HPEN pen = CreatePen(PS_SOLID, 0, EraseColour);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    Rectangle(dc, left, top, left + width + 1, top + height + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

// The window shows no bar while it verifies.
void UiShowStepProgress(uint32_t, uint32_t)
{
}

void UiShowWaitCursor(bool wait)
{
    SetCursor(LoadCursorA(NULL, wait ? IDC_WAIT : IDC_ARROW));
}

void UiPaintPending()
{
    DWORD now = GetTickCount();
    if (now - LastPaintCheck < PaintCheckMs)
        return;
    LastPaintCheck = now;
    // Paint messages only. Looking at the queue also tells the system the
    // program is alive, so it puts no "not responding" ghost over the window
    // in the middle of a flash. Bounded, should a window leave its update
    // region invalid.
    MSG message;
    for (int i = 0; i < MaxPaintsPerCheck && PeekMessageA(&message, NULL, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
        DispatchMessageA(&message);
}

void UiDiscardInput()
{
    static const UINT InputRanges[][2] = {
        {WM_KEYFIRST, WM_KEYLAST},
        {WM_MOUSEFIRST, WM_MOUSELAST},
        {WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK},
    };
    MSG message;
    for (const UINT* range : InputRanges) {
        for (int i = 0; i < MaxDiscardsPerRange && PeekMessageA(&message, NULL, range[0], range[1], PM_REMOVE); ++i) { }
    }
}
