// Message boxes, status lines and the progress bar on a terminal. The
// transcript (stdout) holds what the Windows program shows in its window and
// boxes, in the order it shows them; the bar goes to stderr so that a saved
// transcript stays free of it.
#include <ctype.h>
#include <string.h>
#include <unistd.h>

#include "core/status.h"
#include "platform/console/console.h"

WindowHandle const ConsoleMainWindow = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x51F1));

FILE* ConsoleOut;
FILE* ConsoleErr;
FILE* ConsoleIn;
bool ConsoleAssumeYes;
bool ConsoleTakeRestoreOffer;
ConsoleHandedImage ConsoleImageChoice;
int ConsoleCardChoice = -1;
const char* ConsoleFileChoice;
ConsoleProgressMode ConsoleProgress = ConsoleProgressAuto;
bool ConsoleDriverBuiltIn;
bool ConsoleHoldStatus;
ConsoleRecord ConsoleSeen;

namespace {

// Index of the last status line printed; follows LastStatusLine down when
// a command clears the lines from 5 on.
int32_t PrintedThrough;
// The bar is on the screen (its line is not yet ended or cleared), showing
// these counts.
bool BarShown;
int32_t BarDone;
int32_t BarTotal;

FILE* Out()
{
    return ConsoleOut ? ConsoleOut : stdout;
}

FILE* Err()
{
    return ConsoleErr ? ConsoleErr : stderr;
}

FILE* In()
{
    return ConsoleIn ? ConsoleIn : stdin;
}

bool IsTerminal(FILE* file)
{
    return isatty(fileno(file)) == 1;
}

bool ProgressWanted()
{
    if (ConsoleProgress == ConsoleProgressAuto)
        return IsTerminal(Err());
    return ConsoleProgress == ConsoleProgressAlways;
}

// Takes the bar off the screen before anything else is printed.
void ClearBar()
{
    if (!BarShown)
        return;
    if (IsTerminal(Err()))
        fputs("\r\033[K", Err());
    else
        fputc('\n', Err());
    fflush(Err());
    BarShown = false;
}

void CopyBounded(char* dst, size_t size, const char* src)
{
    size_t n = 0;
    while (src && n + 1 < size && src[n]) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
}

// "Caption: text", further lines of the text indented under the first.
void PrintBox(const char* caption, const char* text)
{
    FILE* out = Out();
    fputs(caption, out);
    fputs(": ", out);
    size_t indent = strlen(caption) + 2;
    for (const char* c = text; *c; ++c) {
        fputc(*c, out);
        if (*c == '\n' && c[1] != 0) {
            for (size_t i = 0; i < indent; ++i)
                fputc(' ', out);
        }
    }
    size_t length = strlen(text);
    if (length == 0 || text[length - 1] != '\n')
        fputc('\n', out);
    fflush(out);
}

bool IsYes(const char* answer)
{
    char word[8];
    size_t n = 0;
    while (*answer == ' ' || *answer == '\t')
        ++answer;
    while (*answer && !isspace(static_cast<unsigned char>(*answer)) && n + 1 < sizeof word)
        word[n++] = static_cast<char>(tolower(static_cast<unsigned char>(*answer++)));
    word[n] = 0;
    return strcmp(word, "y") == 0 || strcmp(word, "yes") == 0 || strcmp(word, "o") == 0 ||
           strcmp(word, "ok") == 0;
}

}  // namespace

void ConsoleReset()
{
    ConsoleSeen = ConsoleRecord{};
    PrintedThrough = 0;
    BarShown = false;
}

void ConsoleFlushStatus()
{
    if (ConsoleHoldStatus)
        return;
    if (LastStatusLine < PrintedThrough)
        PrintedThrough = LastStatusLine;
    if (LastStatusLine == PrintedThrough)
        return;
    ClearBar();
    int32_t last = LastStatusLine < StatusLineCount - 1 ? LastStatusLine : StatusLineCount - 1;
    for (int32_t i = PrintedThrough + 1; i <= last; ++i) {
        if (i < 0)
            continue;
        fputs(StatusLines[i], Out());
        fputc('\n', Out());
    }
    fflush(Out());
    // Lines past the last stored one are dropped, as in the window.
    PrintedThrough = LastStatusLine;
}

void ConsolePrintLine(const char* text)
{
    ConsoleFlushStatus();
    ClearBar();
    fputs(text, Out());
    fputc('\n', Out());
    fflush(Out());
}

bool ConsoleReadAnswer(char* line, size_t size)
{
    fflush(Out());
    if (!fgets(line, static_cast<int>(size), In())) {
        line[0] = 0;
        return false;
    }
    char* end = strchr(line, '\n');
    if (end) {
        *end = 0;
    } else {
        // Drop the rest of an overlong answer.
        int c;
        while ((c = fgetc(In())) != EOF && c != '\n') {
        }
    }
    return true;
}

bool ConsoleAnswerEchoed()
{
    return IsTerminal(In());
}

namespace {

enum Preset { AskIt, PresetNo, PresetYes };

// Asks, or takes the preset answer and shows it with `why`.
bool Ask(const char* yesWord, const char* noWord, Preset preset, const char* why)
{
    ClearBar();
    FILE* out = Out();
    fprintf(out, "%s or %s? ", yesWord, noWord);
    bool yes = false;
    if (preset != AskIt) {
        yes = preset == PresetYes;
        fprintf(out, "%s (%s)\n", yes ? yesWord : noWord, why);
    } else {
        char line[128];
        bool got = ConsoleReadAnswer(line, sizeof line);
        yes = got && IsYes(line);
        // Typed answers echo on a terminal; piped ones are shown as taken.
        if (!got)
            fprintf(out, "%s (end of input)\n", noWord);
        else if (!IsTerminal(In()))
            fprintf(out, "%s\n", yes ? yesWord : noWord);
    }
    fflush(out);
    if (!yes)
        ++ConsoleSeen.declined;
    return yes;
}

}  // namespace

bool ConsoleAsk(const char* yesWord, const char* noWord)
{
    return Ask(yesWord, noWord, ConsoleAssumeYes ? PresetYes : AskIt, "--yes");
}

bool ConsoleAskRestoreOffer(const char* yesWord, const char* noWord)
{
    if (ConsoleTakeRestoreOffer)
        return Ask(yesWord, noWord, PresetYes, "--accept-restore-offer");
    // A rewrite of the BIOS the board did not boot from is never taken by a
    // script that did not name it.
    if (!IsTerminal(In()))
        return Ask(yesWord, noWord, PresetNo, "not at a terminal; --accept-restore-offer takes it");
    return Ask(yesWord, noWord, AskIt, 0);
}

int UiMessageBox(WindowHandle, const char* text, const char* caption, uint32_t type)
{
    ConsoleFlushStatus();
    ClearBar();
    // A box without a caption shows the system's default one.
    const char* shown = caption ? caption : "Error";
    PrintBox(shown, text ? text : "");
    ++ConsoleSeen.boxes;
    CopyBounded(ConsoleSeen.lastBoxText, sizeof ConsoleSeen.lastBoxText, text);
    CopyBounded(ConsoleSeen.lastBoxCaption, sizeof ConsoleSeen.lastBoxCaption, shown);
    if (type == UiMbOkCancel)
        return ConsoleAsk("OK", "Cancel") ? UiIdOk : UiIdCancel;
    return UiIdOk;
}

DcHandle UiGetDC(WindowHandle)
{
    ++ConsoleSeen.dcGets;
    return reinterpret_cast<DcHandle>(static_cast<uintptr_t>(0xDC));
}

void UiReleaseDC(WindowHandle, DcHandle)
{
}

void UiDrawStatusLines(DcHandle)
{
    ConsoleFlushStatus();
}

void UiDrawProgress(DcHandle, int32_t done, int32_t total)
{
    if (!ProgressWanted())
        return;
    // Lines added before the bar belong above it.
    ConsoleFlushStatus();
    if (total < 0)
        total = 0;
    if (done < 0)
        done = 0;
    if (done > total)
        done = total;
    if (BarShown && done == BarDone && total == BarTotal)
        return;
    enum { Width = 64 };
    int32_t cells = total < Width ? total : Width;
    int32_t filled = total == 0 ? 0 : static_cast<int32_t>(static_cast<int64_t>(done) * cells / total);
    char bar[Width + 32];
    int n = 0;
    bar[n++] = '\r';
    bar[n++] = '[';
    for (int32_t i = 0; i < cells; ++i)
        bar[n++] = i < filled ? '#' : '.';
    bar[n++] = ']';
    int tail = snprintf(bar + n, sizeof bar - n, " %d/%d", static_cast<int>(done), static_cast<int>(total));
    if (tail > 0)
        n += tail < static_cast<int>(sizeof bar) - n ? tail : static_cast<int>(sizeof bar) - n - 1;
    fwrite(bar, 1, n, Err());
    fflush(Err());
    BarShown = true;
    BarDone = done;
    BarTotal = total;
}

void UiEraseProgress(DcHandle, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    ClearBar();
}

void UiShowWaitCursor(bool)
{
}

// A terminal repaints itself, and the front end reads answers only when it
// asks: nothing waits in a queue.
void UiPaintPending() { }

void UiDiscardInput() { }
