// The status store of the main window: a column of text lines and the block
// progress bar, both kept here and drawn through the UI seam.
#pragma once
#include <stdint.h>
#include "platform/ui.h"

enum { StatusLineCount = 20, StatusLineSize = 128 };

extern char StatusLines[StatusLineCount][StatusLineSize];
// Index of the last line in use. Keeps counting past 19, though only lines
// 0..19 exist.
extern int32_t LastStatusLine;
// Composition buffer: copy, concatenate, then add.
extern char StatusText[StatusLineSize];

extern int32_t ProgressDone;
extern int32_t ProgressTotal;
extern bool ProgressVisible;
// Top-left corner of the bar in client coordinates.
extern int32_t ProgressOriginX;
extern int32_t ProgressOriginY;

enum { ProgressBarHeight = 25, ProgressEraseStep = 8 };

// What the flash engine is doing with the part, set as each step begins and
// back to FlashPhaseNone when it ends. The window's bar does not show it; a
// front end that names the step beside its bar, or times the steps, reads it.
enum FlashPhaseKind : uint8_t {
    FlashPhaseNone,
    FlashPhaseReading,
    FlashPhaseErasing,
    FlashPhaseWriting,
    FlashPhaseVerifying,
};
extern FlashPhaseKind FlashPhase;

// Mode 0 adds text as a new line, mode 1 appends it to the last line.
// Any other mode does nothing and yields false.
bool AddStatusText(const char* text, int mode);
// Lines 0 .. LastStatusLine + 1 (at most 19).
void DrawStatusLines(DcHandle dc);
// Blank lines 5..LastStatusLine and leave LastStatusLine at 4.
void ClearCommandStatus();
// Blank lines 0..LastStatusLine and leave LastStatusLine at 0.
void ClearAllStatus();
// Draws the bar only while ProgressVisible is set.
void DrawProgress(DcHandle dc, int32_t done, int32_t total);
void EraseProgress(DcHandle dc, int32_t left, int32_t top, int32_t height, int32_t step, int32_t count);
// Progress of a step the window draws no bar for (the verification); only a
// seam that shows steps draws it.
void DrawStepProgress(uint32_t done, uint32_t total);

// Composition helpers: every text is cut to fit StatusText.
void SetStatusText(const char* text);
void AppendStatusText(const char* text);
void AppendStatusDecimal(uint32_t value);
// Upper- or lower-case hexadecimal without leading zeros.
void AppendStatusHex(uint32_t value, bool upperCase);
// Adds StatusText as a new line and draws the lines on WindowDC.
void ShowStatusText();
// SetStatusText, then ShowStatusText.
void PutUpText(const char* text);
