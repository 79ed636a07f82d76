#include "linux/stop_signals.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "core/state.h"
#include "linux/run_log.h"

namespace {

const int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
enum { StopSignalCount = sizeof StopSignals / sizeof StopSignals[0] };

// What was installed before ours: the sysfs driver's handlers, or none.
struct sigaction Before[StopSignalCount];
bool Defer;
volatile sig_atomic_t Pending;

const char StoppedText[] =
    "qzflash: stopped while the flash part was erased or half-written: the card may not boot.\n";
const char FailedText[] =
    "qzflash: the command failed after the flash part was erased or written: the card may not boot.\n";
const char AdviceText[] =
    "qzflash: do not reboot or switch the computer off. Run the update again, or write your backup back "
    "(qzflash update BACKUP.rom; on a dual-BIOS board, qzflash restore).\n";

// write(2) only: this runs inside signal handlers. The log of the run
// (--log) gets the text too.
void WriteText(const char* text)
{
    LogRaw("err", text);
    size_t length = strlen(text);
    while (length > 0) {
        ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0)
            return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void OnStop(int signalNumber);

// Ends the program by `signalNumber` as its default action would, after the
// handler that was there before ours and after saying what the part holds.
void Die(int signalNumber)
{
    struct sigaction standard;
    memset(&standard, 0, sizeof standard);
    standard.sa_handler = SIG_DFL;
    sigaction(signalNumber, &standard, 0);
    for (int i = 0; i < StopSignalCount; ++i) {
        const struct sigaction& before = Before[i];
        if (StopSignals[i] == signalNumber && !(before.sa_flags & SA_SIGINFO) && before.sa_handler != SIG_DFL &&
            before.sa_handler != SIG_IGN && before.sa_handler != OnStop)
            before.sa_handler(signalNumber);
    }
    if (FlashPartTouched) {
        WriteText(StoppedText);
        WriteText(AdviceText);
    }
    // Inside a handler the signal stays blocked until it returns.
    raise(signalNumber);
}

void OnStop(int signalNumber)
{
    if (Defer && FlashPartTouched && !Pending) {
        Pending = signalNumber;
        return;
    }
    Die(signalNumber);
}

}  // namespace

void StopSignalsInstall(bool deferDuringWrites)
{
    Defer = deferDuringWrites;
    Pending = 0;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStop;
    sigfillset(&action.sa_mask);
    for (int i = 0; i < StopSignalCount; ++i) {
        sigaction(StopSignals[i], &action, &Before[i]);
        // A signal ignored when the program started (a background job's
        // Ctrl-C) stays ignored.
        if (Before[i].sa_handler == SIG_IGN && !(Before[i].sa_flags & SA_SIGINFO))
            sigaction(StopSignals[i], &Before[i], 0);
    }
}

void StopSignalsRemove()
{
    for (int i = 0; i < StopSignalCount; ++i)
        sigaction(StopSignals[i], &Before[i], 0);
    Pending = 0;
}

bool StopPending()
{
    return Pending != 0;
}

void StopNow()
{
    Die(Pending ? Pending : SIGTERM);
    _exit(128 + SIGTERM);
}

void TellPartMayNotBoot()
{
    WriteText(FailedText);
    WriteText(AdviceText);
}
