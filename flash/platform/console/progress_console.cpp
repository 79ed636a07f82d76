// The progress bar on a terminal: one line on stderr, redrawn in place, that
// names the engine's step (FlashPhase), with a percentage and the time left
// as the step's pace so far predicts it. The window's block bar and the
// verification, which the window shows no bar for, both end up here.
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include "core/status.h"
#include "platform/console/console.h"

namespace {

// Cells of the bar, the same for every step, so that a step's line covers
// the one before it.
enum { BarCells = 40 };

struct Bar {
    bool shown;  // on the screen: its line is not yet ended or cleared
    FlashPhaseKind phase;
    uint32_t done;
    uint32_t total;
    // The step's first draw: the pace is measured from there.
    uint32_t firstDone;
    uint64_t firstNs;
} Now;

FILE* Err()
{
    if (ConsoleBarOut)
        return ConsoleBarOut;
    return ConsoleErr ? ConsoleErr : stderr;
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

uint64_t NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

const char* PhaseName(FlashPhaseKind phase)
{
    switch (phase) {
    case FlashPhaseReading:
        return "Reading";
    case FlashPhaseErasing:
        return "Erasing";
    case FlashPhaseWriting:
        return "Writing";
    case FlashPhaseVerifying:
        return "Verifying";
    default:
        return "Working";
    }
}

// " 1:05 left", or blanks while the pace is not yet known.
void TimeLeft(char* text, size_t size, uint64_t nowNs)
{
    uint32_t doneSince = Now.done - Now.firstDone;
    if (doneSince == 0 || Now.done >= Now.total) {
        snprintf(text, size, "%s", Now.done >= Now.total ? "  0:00 left" : "");
        return;
    }
    uint64_t elapsed = nowNs - Now.firstNs;
    uint64_t left = elapsed / doneSince * (Now.total - Now.done) / 1000000000u;
    if (left >= 6000)
        snprintf(text, size, " %4llu min left", static_cast<unsigned long long>(left / 60));
    else
        snprintf(text, size, " %2u:%02u left", static_cast<unsigned>(left / 60), static_cast<unsigned>(left % 60));
}

void Draw(uint32_t done, uint32_t total)
{
    if (!ProgressWanted())
        return;
    // Lines added before the bar belong above it.
    ConsoleFlushStatus();
    if (done > total)
        done = total;
    FlashPhaseKind phase = FlashPhase;
    uint64_t nowNs = NowNs();
    // A new step, or the same step begun again (a second erase).
    if (!Now.shown || phase != Now.phase || total != Now.total || done < Now.done) {
        Now.phase = phase;
        Now.firstDone = done;
        Now.firstNs = nowNs;
    } else if (done == Now.done) {
        return;
    }
    Now.done = done;
    Now.total = total;
    uint32_t filled = total == 0 ? 0 : static_cast<uint32_t>(static_cast<uint64_t>(done) * BarCells / total);
    uint32_t percent = total == 0 ? 0 : static_cast<uint32_t>(static_cast<uint64_t>(done) * 100 / total);
    char cells[BarCells + 1];
    for (uint32_t i = 0; i < BarCells; ++i)
        cells[i] = i < filled ? '#' : '.';
    cells[BarCells] = 0;
    char left[32];
    TimeLeft(left, sizeof left, nowNs);
    // The tail is cleared on a terminal: a shorter estimate leaves no digits.
    fprintf(Err(), "\r%-9s [%s] %3u%%%s%s", PhaseName(phase), cells, percent, left, IsTerminal(Err()) ? "\033[K" : "");
    fflush(Err());
    Now.shown = true;
}

}  // namespace

void ConsoleClearBar()
{
    if (!Now.shown)
        return;
    if (IsTerminal(Err()))
        fputs("\r\033[K", Err());
    else
        fputc('\n', Err());
    fflush(Err());
    Now.shown = false;
}

void ConsoleForgetBar()
{
    Now = Bar{};
}

void UiDrawProgress(DcHandle, int32_t done, int32_t total)
{
    Draw(done < 0 ? 0 : static_cast<uint32_t>(done), total < 0 ? 0 : static_cast<uint32_t>(total));
}

void UiEraseProgress(DcHandle, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    ConsoleClearBar();
}

void UiShowStepProgress(uint32_t done, uint32_t total)
{
    Draw(done, total);
}
