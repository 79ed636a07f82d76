// Message boxes, status lines and questions on a terminal. The transcript
// (stdout) holds what the Windows program shows in its window and boxes, in
// the order it shows them; the progress bar (progress_console.cpp) goes to
// stderr so that a saved transcript stays free of it.
#include <ctype.h>
#include <string.h>
#include <unistd.h>

#include "core/status.h"
#include "platform/console/console.h"

WindowHandle const ConsoleMainWindow = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x51F1));

FILE* ConsoleOut;
FILE* ConsoleErr;
FILE* ConsoleBarOut;
FILE* ConsoleIn;
bool ConsoleAssumeYes;
const char* ConsoleAssumeYesWhy;
bool ConsoleTakeRestoreOffer;
const char* ConsoleRefuseRestoreOffer;
ConsoleHandedImage ConsoleImageChoice;
int ConsoleCardChoice = -1;
const char* ConsoleFileChoice;
ConsoleProgressMode ConsoleProgress = ConsoleProgressAuto;
bool ConsoleDriverBuiltIn;
bool ConsoleHoldStatus;
void (*ConsoleAnswerRead)(const char* line);
ConsoleRecord ConsoleSeen;

namespace {

// Index of the last status line printed; follows LastStatusLine down when
// a command clears the lines from 5 on.
int32_t PrintedThrough;

FILE* Out()
{
    return ConsoleOut ? ConsoleOut : stdout;
}

FILE* In()
{
    return ConsoleIn ? ConsoleIn : stdin;
}

bool IsTerminal(FILE* file)
{
    return isatty(fileno(file)) == 1;
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
    ConsoleForgetBar();
}

void ConsoleFlushStatus()
{
    if (ConsoleHoldStatus)
        return;
    if (LastStatusLine < PrintedThrough)
        PrintedThrough = LastStatusLine;
    if (LastStatusLine == PrintedThrough)
        return;
    ConsoleClearBar();
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
    ConsoleClearBar();
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
    if (ConsoleAnswerRead) {
        char typed[256];
        CopyBounded(typed, sizeof typed, line);
        char* newline = strchr(typed, '\n');
        if (newline)
            *newline = 0;
        ConsoleAnswerRead(typed);
    }
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
    ConsoleClearBar();
    FILE* out = Out();
    // No, the answer an empty line or the end of input gives, is the default.
    fprintf(out, "%s or %s [y/N]? ", yesWord, noWord);
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
    return Ask(yesWord, noWord, ConsoleAssumeYes ? PresetYes : AskIt,
               ConsoleAssumeYesWhy ? ConsoleAssumeYesWhy : "--yes");
}

bool ConsoleAskRestoreOffer(const char* yesWord, const char* noWord)
{
    if (ConsoleRefuseRestoreOffer)
        return Ask(yesWord, noWord, PresetNo, ConsoleRefuseRestoreOffer);
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
    ConsoleClearBar();
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

void UiShowWaitCursor(bool)
{
}

// A terminal repaints itself, and the front end reads answers only when it
// asks: nothing waits in a queue.
void UiPaintPending() { }

void UiDiscardInput() { }
