#include "core/status.h"
#include "core/state.h"

char StatusLines[StatusLineCount][StatusLineSize];
int32_t LastStatusLine;
char StatusText[StatusLineSize];
int32_t ProgressDone;
int32_t ProgressTotal;
bool ProgressVisible;
FlashPhaseKind FlashPhase;
int32_t ProgressOriginX = 100;
int32_t ProgressOriginY = 210;

namespace {

const uint32_t LineTextMax = StatusLineSize - 1;

// Appends src to the NUL-terminated dst, keeping dst within LineTextMax.
void AppendBounded(char* dst, const char* src)
{
    uint32_t n = 0;
    while (n < LineTextMax && dst[n] != 0)
        ++n;
    while (n < LineTextMax && *src != 0)
        dst[n++] = *src++;
    dst[n] = 0;
}

// A blanked line is 127 blanks, not an empty text: drawn opaque, it paints
// over what the line showed before.
void BlankLines(int32_t first, int32_t last)
{
    if (last > StatusLineCount - 1)
        last = StatusLineCount - 1;
    for (int32_t i = first < 0 ? 0 : first; i <= last; ++i) {
        for (uint32_t k = 0; k < LineTextMax; ++k)
            StatusLines[i][k] = ' ';
        StatusLines[i][LineTextMax] = 0;
    }
}

} // namespace

bool AddStatusText(const char* text, int mode)
{
    if (mode == 0) {
        ++LastStatusLine;
        if (LastStatusLine >= 0 && LastStatusLine < StatusLineCount) {
            StatusLines[LastStatusLine][0] = 0;
            AppendBounded(StatusLines[LastStatusLine], text);
        }
        return true;
    }
    if (mode == 1) {
        if (LastStatusLine >= 0 && LastStatusLine < StatusLineCount)
            AppendBounded(StatusLines[LastStatusLine], text);
        return true;
    }
    return false;
}

void DrawStatusLines(DcHandle dc)
{
    UiDrawStatusLines(dc);
}

void ClearCommandStatus()
{
    BlankLines(5, LastStatusLine);
    StatusText[0] = 0;
    LastStatusLine = 4;
}

void ClearAllStatus()
{
    BlankLines(0, LastStatusLine);
    StatusText[0] = 0;
    LastStatusLine = 0;
}

void DrawProgress(DcHandle dc, int32_t done, int32_t total)
{
    if (!ProgressVisible)
        return;
    UiDrawProgress(dc, done, total);
}

void EraseProgress(DcHandle dc, int32_t left, int32_t top, int32_t height, int32_t step, int32_t count)
{
    UiEraseProgress(dc, left, top, height, step, count);
}

void DrawStepProgress(uint32_t done, uint32_t total)
{
    UiShowStepProgress(done, total);
}

void SetStatusText(const char* text)
{
    if (text == StatusText)
        return;
    StatusText[0] = 0;
    AppendBounded(StatusText, text);
}

void AppendStatusText(const char* text)
{
    AppendBounded(StatusText, text);
}

void AppendStatusDecimal(uint32_t value)
{
    char digits[11];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[11];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    text[n] = 0;
    AppendBounded(StatusText, text);
}

void AppendStatusHex(uint32_t value, bool upperCase)
{
    const char* alphabet = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[9];
    int n = 0;
    do {
        digits[n++] = alphabet[value & 0xF];
        value >>= 4;
    } while (value != 0);
    char text[9];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    text[n] = 0;
    AppendBounded(StatusText, text);
}

void ShowStatusText()
{
    AddStatusText(StatusText, 0);
    DrawStatusLines(WindowDC);
}

void PutUpText(const char* text)
{
    SetStatusText(text);
    ShowStatusText();
}
