// The program's run: arguments, the choice between real cards and the
// virtual card, one start-up of the flash utility and the File menu commands
// named on the command line, each the very flow the window's menu runs.
#include "linux/front_end.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/select_card.h"
#include "core/state.h"
#include "hw/driver_setup.h"
#include "hw/hw.h"
#include "linux/backend.h"
#include "linux/image_file.h"
#include "linux/run_locks.h"
#include "linux/stop_signals.h"
#include "linux/sysfs_driver.h"
#include "linux/virtual_backend.h"
#include "platform/console/console.h"
#include "platform/dialogs.h"
#include "platform/replace/replace.h"
#include "platform/window.h"
#include "qz_version.h"
#include "vcard/host/vcard_host.h"

void (*QzflashCommandHook)(bool after);

#ifndef QZFLASH_PROFILE_DIR
#define QZFLASH_PROFILE_DIR "/usr/local/share/qzflash/profiles"
#endif

namespace {

const char VersionText[] = "qzflash " QZ_VERSION_TEXT;

// The box each command ends with when it succeeded.
const char RebootText[] = "Please reboot the system to make the changes you make effective!";
const char SwitchText[] = "Please set the Switch Button and Reboot the computer!!";
const char BackupText[] = "Back up completed  !! ";
const char* const UpdateDone[] = {RebootText, SwitchText, 0};
const char* const RestoreDone[] = {SwitchText, 0};
const char* const SaveDone[] = {BackupText, 0};

// The demo's new image: made for the card, with this version.
const char DemoVersion[] = "04.30.00.00";
// The built-in machine's dual-BIOS board, the demo's card.
const int BuiltinDemoCard = 1;

enum CommandKind { CmdList, CmdInfo, CmdUpdate, CmdSave, CmdRestore, CmdDemo };

struct Command {
    CommandKind kind;
    const char* argument;
};

enum { MaxCommands = 32 };

struct Options {
    bool virtualCard;
    const char* profile;
    int card;
    bool yes;
    bool acceptRestoreOffer;
    bool force;
    bool autoMode;
    bool noWait;
    ConsoleProgressMode progress;
    int commandCount;
    Command commands[MaxCommands];
};

const char HelpText[] =
    "NAME\n"
    "    qzflash - update, save and restore the video BIOS of NVIDIA graphics cards\n"
    "\n"
    "SYNOPSIS\n"
    "    qzflash [OPTIONS] [COMMAND [ARGUMENT]]...\n"
    "    qzflash [OPTIONS] -A\n"
    "\n"
    "DESCRIPTION\n"
    "    qzflash finds the supported NVIDIA cards (GeForce4 generation and later)\n"
    "    on PCI buses 0 to 3 and starts up on one of them as the Windows flash\n"
    "    program does: it identifies the card's flash part and shows the card's\n"
    "    header lines (chip, flash part, BIOS version). Then it runs the File menu\n"
    "    commands given on the command line, in order. Status lines are printed as\n"
    "    they are added, message boxes with their caption (\"Error\", \"Message\",\n"
    "    \"Confirm\"); the \"Confirm\" question before a flash is asked on the\n"
    "    terminal. A progress bar goes to stderr while the part is erased and\n"
    "    written.\n"
    "\n"
    "    Real cards are reached through sysfs: configuration space from\n"
    "    /sys/bus/pci/devices/0000:BB:DD.F/config, the register window through a\n"
    "    mapping of the card's resource0. That needs root, and a kernel that is\n"
    "    not locked down. While the card's ROM access switch is open its display\n"
    "    may go blank; qzflash puts the switch back when it ends, also when it is\n"
    "    stopped by Ctrl-C.\n"
    "\n"
    "    A supported card is worked on only when it can be reached (domain 0000,\n"
    "    functions 0 and 1, buses 0 to 3), its configuration space answers, its\n"
    "    power state is D0, no kernel driver is bound to it and its BAR0 is\n"
    "    assigned with the full 16 MiB; \"list\" names the others with the\n"
    "    reason. On a card no driver has started, memory decoding is turned on\n"
    "    through its \"enable\" for the run and runtime power management held\n"
    "    off through \"power/control\"; both are put back at the end, also on\n"
    "    Ctrl-C.\n"
    "\n"
    "    With --virtual, qzflash runs on the virtual card instead: a built-in\n"
    "    machine with three cards (card 1 is a dual-BIOS board booted from its\n"
    "    second BIOS), or the machine a profile describes. Without --virtual it\n"
    "    never does: on a machine without a supported card the commands end\n"
    "    with status 3.\n"
    "\n"
    "    One run at a time works on a card: before it changes anything on a card\n"
    "    or reads its registers, a run locks every card it maps (by its\n"
    "    resource0), or the profile it runs on, and holds the lock to its end. A\n"
    "    second run is refused at once.\n"
    "\n"
    "    \"update\" reads the image file before anything reaches the card and\n"
    "    writes exactly the bytes it read: a regular file that does not change\n"
    "    while it is read, whose image (as long as its header says) sums to 0\n"
    "    modulo 256, as a system BIOS requires to run it.\n"
    "\n"
    "COMMANDS\n"
    "    list          Print the supported cards found, one card-selection line\n"
    "                  each, numbered for --card. On real cards each line ends\n"
    "                  with the PCI address, the card the console runs on is\n"
    "                  marked \"boot VGA\", and cards that cannot be worked on\n"
    "                  follow, marked \"-:\", with the reason. Needs no root.\n"
    "    info          Start up only: the card's header lines.\n"
    "    update FILE   \"Update BIOS\": write the BIOS image FILE into the card.\n"
    "    save FILE     \"Save BIOS\": back the card's BIOS up into FILE.\n"
    "    restore       \"Restore BIOS\": copy the second BIOS into the first\n"
    "                  (dual-BIOS boards only).\n"
    "    demo [DIR]    Virtual card only: save the BIOS, update it with a newer\n"
    "                  image made for the card, restore it. Files go to DIR\n"
    "                  (default: a new folder in $TMPDIR or /tmp).\n"
    "\n"
    "    Without a command qzflash runs \"info\", or \"demo\" on the built-in\n"
    "    machine; on a machine without a supported card it shows the demo on the\n"
    "    built-in virtual card and says so. Commands share one start-up; the\n"
    "    first one that fails ends the run.\n"
    "\n"
    "OPTIONS\n"
    "    --virtual [PROFILE]  Run on the virtual card: the machine PROFILE\n"
    "                         describes, or the built-in machine. The flash\n"
    "                         parts' files are written back when the run ends.\n"
    "    --card N             Work on card N of \"list\" instead of asking.\n"
    "    -y, --yes            Answer OK / Yes to the questions of the commands\n"
    "                         given: the flash confirmation and replacing an\n"
    "                         existing file.\n"
    "    --accept-restore-offer\n"
    "                         Take the start-up offer to restore ROM 1 from ROM 2\n"
    "                         on a board booted from its second BIOS. Without it\n"
    "                         the offer is asked at a terminal and declined\n"
    "                         anywhere else.\n"
    "    --force              Write an image whose checksum is wrong.\n"
    "    -A                   Unattended start, as the Windows program's \"-A\":\n"
    "                         no start-up messages, and the program ends after\n"
    "                         the start-up unless the board booted from its\n"
    "                         second BIOS; the restore offer then comes (see\n"
    "                         --accept-restore-offer).\n"
    "                         Takes no command.\n"
    "    --no-wait            Virtual card only: waits pass in the card's own\n"
    "                         time instead of real time.\n"
    "    --progress=WHEN      The progress bar: auto (when stderr is a\n"
    "                         terminal), always or never.\n"
    "    -h, --help           This text.\n"
    "    -V, --version        The program's version.\n"
    "\n"
    "RECOVERING A CARD\n"
    "    1. Boot from another card (the broken one in a second slot) or work\n"
    "       over ssh.\n"
    "    2. qzflash list: the card marked \"boot VGA\" drives the console; the\n"
    "       broken one is the other. If it is \"not usable\", follow the reason\n"
    "       (pci=realloc or another slot; a cold start; unbinding its driver).\n"
    "    3. Save what is left: sudo qzflash --card N save broken.rom\n"
    "    4. Write the backup taken before, or an image made for this board:\n"
    "       sudo qzflash --card N update backup.rom (it reads the part back\n"
    "       and compares before it says \"Flash OK!! \").\n"
    "    5. Verify once more: save check.rom, then cmp backup.rom check.rom.\n"
    "    On a dual-BIOS board booted from its second BIOS, take the restore\n"
    "    offer (or run restore). A part that no longer identifies (\"Supported\n"
    "    EEPROM not found.\") or a card that reads all ones after a cold start\n"
    "    needs a programmer for the part itself.\n"
    "\n"
    "EXIT STATUS\n"
    "    0       start-up and every command succeeded\n"
    "    1       start-up or a command failed before the flash part was erased\n"
    "            (a refused image, a file that cannot be read or written); its\n"
    "            message says why\n"
    "    2       wrong arguments\n"
    "    3       nothing to work on, nothing was written: no supported card (and\n"
    "            no --virtual), the cards cannot be reached (root, lockdown),\n"
    "            another run is using the card or the profile, or the profile is\n"
    "            unusable\n"
    "    4       a question was answered Cancel or No (the start-up offer to\n"
    "            restore ROM 1 too, in a run without a command other than info)\n"
    "    5       a command failed after the flash part was erased or written:\n"
    "            the card may not boot. Do not reboot; update again, or write\n"
    "            the backup back (on a dual-BIOS board, \"restore\")\n"
    "    128+N   stopped by signal N; the card's registers were put back first,\n"
    "            and stderr says when the part was left erased or half-written\n"
    "\n"
    "ENVIRONMENT\n"
    "    QZFLASH_SYSFS  Where sysfs is mounted (default /sys).\n"
    "    TMPDIR         Where \"demo\" makes its folder.\n"
    "\n"
    "FILES\n"
    "    " QZFLASH_PROFILE_DIR "\n"
    "                   Example machine profiles for --virtual, with README.md.\n"
    "\n"
    "EXAMPLES\n"
    "    qzflash --virtual --yes --accept-restore-offer demo\n"
    "    sudo qzflash save backup.rom\n"
    "    sudo qzflash --card 0 update new.rom\n";

void Complain(const char* text)
{
    fprintf(stderr, "qzflash: %s\n", text);
}

int UsageError(const char* text, const char* word)
{
    if (word)
        fprintf(stderr, "qzflash: %s \"%s\"\n", text, word);
    else
        Complain(text);
    fputs("Try \"qzflash --help\".\n", stderr);
    return ExitUsage;
}

bool CommandWord(const char* word, CommandKind* kind)
{
    static const struct {
        const char* word;
        CommandKind kind;
    } Words[] = {
        {"list", CmdList},
        {"info", CmdInfo},
        {"update", CmdUpdate},
        {"save", CmdSave},
        {"restore", CmdRestore},
        {"demo", CmdDemo},
    };
    for (const auto& entry : Words) {
        if (strcmp(word, entry.word) == 0) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

bool ParseCard(const char* text, int* card)
{
    if (!text || *text < '0' || *text > '9')
        return false;
    char* end = 0;
    long value = strtol(text, &end, 10);
    if (*end != 0 || value >= CardTableSize)
        return false;
    *card = static_cast<int>(value);
    return true;
}

// -1: stop with that status in *status; 0: go on.
int ParseArguments(int argc, char** argv, Options* options, int* status)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        CommandKind kind;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            fputs(HelpText, stdout);
            *status = ExitOk;
            return -1;
        } else if (strcmp(arg, "--version") == 0 || strcmp(arg, "-V") == 0) {
            printf("%s\n", VersionText);
            *status = ExitOk;
            return -1;
        } else if (strcmp(arg, "--virtual") == 0) {
            options->virtualCard = true;
            if (i + 1 < argc && argv[i + 1][0] != '-' && !CommandWord(argv[i + 1], &kind))
                options->profile = argv[++i];
        } else if (strncmp(arg, "--virtual=", 10) == 0) {
            options->virtualCard = true;
            options->profile = arg + 10;
        } else if (strcmp(arg, "--card") == 0 || strncmp(arg, "--card=", 7) == 0) {
            const char* value = arg[6] == '=' ? arg + 7 : (i + 1 < argc ? argv[++i] : 0);
            if (!ParseCard(value, &options->card)) {
                *status = UsageError("--card takes a card number from 0 to 7, not", value ? value : "");
                return -1;
            }
        } else if (strcmp(arg, "--yes") == 0 || strcmp(arg, "-y") == 0) {
            options->yes = true;
        } else if (strcmp(arg, "--accept-restore-offer") == 0) {
            options->acceptRestoreOffer = true;
        } else if (strcmp(arg, "--force") == 0) {
            options->force = true;
        } else if (strcmp(arg, "--no-wait") == 0) {
            options->noWait = true;
        } else if (strncmp(arg, "--progress=", 11) == 0) {
            const char* when = arg + 11;
            if (strcmp(when, "auto") == 0)
                options->progress = ConsoleProgressAuto;
            else if (strcmp(when, "always") == 0)
                options->progress = ConsoleProgressAlways;
            else if (strcmp(when, "never") == 0)
                options->progress = ConsoleProgressNever;
            else {
                *status = UsageError("--progress takes auto, always or never, not", when);
                return -1;
            }
        } else if (arg[0] == '-' && arg[1] != '-' && ParseAutoMode(arg)) {
            // As on Windows, any word that starts with "-A" or "-a".
            options->autoMode = true;
        } else if (CommandWord(arg, &kind)) {
            if (options->commandCount >= MaxCommands) {
                *status = UsageError("too many commands", 0);
                return -1;
            }
            Command& command = options->commands[options->commandCount++];
            command.kind = kind;
            command.argument = 0;
            if (kind == CmdUpdate || kind == CmdSave) {
                if (i + 1 >= argc) {
                    *status = UsageError("a file name must follow", arg);
                    return -1;
                }
                command.argument = argv[++i];
                if (strlen(command.argument) >= PathBufferSize) {
                    *status = UsageError("the file name is too long:", command.argument);
                    return -1;
                }
            } else if (kind == CmdDemo && i + 1 < argc && argv[i + 1][0] != '-' &&
                       !CommandWord(argv[i + 1], &kind)) {
                command.argument = argv[++i];
            }
        } else {
            *status = UsageError("unknown argument", arg);
            return -1;
        }
    }
    // list and demo are runs of their own.
    for (int i = 0; i < options->commandCount; ++i) {
        CommandKind kind = options->commands[i].kind;
        if ((kind == CmdList || kind == CmdDemo) && options->commandCount > 1) {
            *status = UsageError(kind == CmdList ? "\"list\" stands alone" : "\"demo\" stands alone", 0);
            return -1;
        }
    }
    if (options->autoMode && options->commandCount > 0) {
        *status = UsageError("-A takes no command: the unattended start ends after the start-up", 0);
        return -1;
    }
    return 0;
}

// ---- the hardware of the run ----

enum BackendKind { BackendNone, BackendSysfs, BackendVirtual };
BackendKind Backend = BackendNone;
bool BuiltinMachine;

// The supported cards seen that cannot be worked on, one line each:
// "NV25 (253) at 0000:03:00.0, not usable: <why>".
void TellUnusableCards(FILE* out, const char* prefix)
{
    const SysfsUnusableCard* cards = 0;
    int count = SysfsDriverUnusableCards(&cards);
    for (int i = 0; i < count; ++i) {
        const ChipEntry* chip = 0;
        FindChipEntry(cards[i].vendorId, cards[i].deviceId, &chip);
        fprintf(out, "%s%s at %s, not usable: %s\n", prefix, chip->Name, cards[i].name, cards[i].reason);
    }
}

const char* SysfsRoot()
{
    const char* root = getenv("QZFLASH_SYSFS");
    return root && root[0] ? root : "/sys";
}

// Without --virtual no command runs on the virtual card in a real card's
// place: the run ends here, before anything is touched.
int NoSupportedCard()
{
    TellUnusableCards(stderr, "qzflash: ");
    Complain("no supported card found; no card was touched.");
    fputs("To try the program on the built-in virtual card, add --virtual (see \"qzflash --help\").\n", stderr);
    return ExitEnvironment;
}

// Plain "qzflash", and the demo, may show the virtual card on a machine
// without a supported one.
bool ShowsTheDemo(const Options& options)
{
    if (options.autoMode)
        return false;
    return options.commandCount == 0 || (options.commandCount == 1 && options.commands[0].kind == CmdDemo);
}

// Chooses and brings up what answers the driver requests, locking what the
// run will touch first (not for "list", which reads configuration space
// only). ExitOk or the status to end with.
int StartBackend(const Options& options, bool list)
{
    char error[1024];
    if (!options.virtualCard) {
        if (!SysfsDriverStart(SysfsRoot(), false, error, sizeof error)) {
            Complain(error);
            return ExitEnvironment;
        }
        const SysfsUnusableCard* unusable = 0;
        int unusableCount = SysfsDriverUnusableCards(&unusable);
        // "list" also names the cards that cannot be worked on.
        if (SysfsDriverCardCount() > 0 || (list && unusableCount > 0)) {
            if (!list) {
                int locked = LockCards(SysfsRoot());
                if (locked != ExitOk) {
                    SysfsDriverStop();
                    return locked;
                }
            }
            // Before the first change to a card: a signal from here on puts it back.
            SysfsDriverInstallSignalHandlers();
            StopSignalsInstall(false);
            if (!list && !SysfsDriverStart(SysfsRoot(), true, error, sizeof error)) {
                Complain(error);
                Complain("no card was touched.");
                return ExitEnvironment;
            }
            Backend = BackendSysfs;
            ActiveBackend = &SysfsBackend;
            RealWaits = true;
            return ExitOk;
        }
        // A machine whose card cannot be reached is not shown the demo in
        // its place either.
        if (unusableCount > 0 || !ShowsTheDemo(options)) {
            int status = NoSupportedCard();
            SysfsDriverStop();
            return status;
        }
        SysfsDriverStop();
        Complain("no supported card found; showing the demo on the built-in virtual card (no real card is "
                 "touched).");
    }
    if (options.profile && !list) {
        int locked = LockProfile(options.profile);
        if (locked != ExitOk)
            return locked;
    }
    if (!VirtualMachineLoad(options.profile, error, sizeof error)) {
        Complain(error);
        return ExitEnvironment;
    }
    StopSignalsInstall(true);
    Backend = BackendVirtual;
    BuiltinMachine = options.profile == 0;
    ActiveBackend = &VirtualBackend;
    RealWaits = !options.noWait;
    return ExitOk;
}

int StopBackend()
{
    int status = ExitOk;
    if (Backend == BackendSysfs) {
        SysfsDriverStop();
    } else if (Backend == BackendVirtual) {
        char error[1024];
        if (!VirtualMachineSave(error, sizeof error)) {
            Complain(error);
            Complain("the flash contents were not kept; to keep them, run a copy of the profile in a folder "
                     "you can write to.");
            status = ExitEnvironment;
        }
        VirtualMachineFree();
    }
    ActiveBackend = 0;
    Backend = BackendNone;
    UnlockRun();
    return status;
}

// Discovery alone, as the start-up runs it, for "list" and to check --card.
// False when the driver device cannot be opened.
bool DiscoverOnly()
{
    AccessMode = AccessDriver;
    DriverHandle handle = 0;
    if (!DeviceOpen(KernelDevicePath, &handle))
        return false;
    DeviceHandle = handle;
    DiscoverCards();
    DeviceClose(handle);
    DeviceHandle = 0;
    CurrentCard = 0;
    return true;
}

int ListCards()
{
    if (!DiscoverOnly()) {
        Complain("the driver device cannot be opened.");
        return ExitFailed;
    }
    for (int i = 0; i < CardCount; ++i) {
        char line[CardListLineSize];
        CardListLine(i, line, sizeof line);
        printf("%d:%s", i, line);
        // On real cards: where the card sits, and which one the console runs on.
        for (int k = 0; Backend == BackendSysfs && k < SysfsDriverCardCount(); ++k) {
            const SysfsCard* card = SysfsDriverCard(k);
            if (card->bus == CardTable[i].BusNumber && card->slot == CardTable[i].SlotNumber)
                printf("    %s%s", card->name, card->bootVga ? ", boot VGA (drives the console)" : "");
        }
        printf("\n");
    }
    if (Backend == BackendSysfs)
        TellUnusableCards(stdout, "-: ");
    if (CardCount == 0) {
        Complain("no supported card found.");
        return ExitFailed;
    }
    return ExitOk;
}

// ---- start-up and commands ----

// 0 when the last box is one of `done` (caption "Message"); otherwise 4 when
// a question was refused since `declinedBefore`, else 1.
int Outcome(const char* const* done, uint32_t declinedBefore)
{
    if (strcmp(ConsoleSeen.lastBoxCaption, "Message") == 0) {
        for (const char* const* text = done; *text; ++text) {
            if (strcmp(ConsoleSeen.lastBoxText, *text) == 0)
                return ExitOk;
        }
    }
    return ConsoleSeen.declined > declinedBefore ? ExitDeclined : ExitFailed;
}

// A command that failed once its write had begun may have left the part
// erased or half-written: that is told apart, on stderr and in the status.
int Settle(int status)
{
    if (status == ExitOk) {
        FlashPartTouched = 0;   // verified, or never erased
        return status;
    }
    if (status == ExitFailed && FlashPartTouched) {
        TellPartMayNotBoot();
        return ExitMayNotBoot;
    }
    return status;
}

// The reason a file operation of the flow failed, beside the flow's own text.
void TellFileError()
{
    if (ConsoleSeen.fileError == 0)
        return;
    fprintf(stderr, "qzflash: %s: %s\n", ConsoleSeen.fileErrorPath, strerror(ConsoleSeen.fileError));
    ConsoleSeen.fileError = 0;
}

// The start-up's result: ExitOk when the program runs on (or, with -A, ended
// as it should), otherwise why it ended.
int StartUp(bool autoMode)
{
    AutoMode = autoMode;
    HeadlessStartUp(ConsoleMainWindow, 0);
    ConsoleFlushStatus();
    // The start-up asks for the window's device context once the card is
    // initialised; a run that ends before that failed.
    bool cardReady = ConsoleSeen.dcGets > 0;
    if (ConsoleSeen.selectionCancelled)
        return ExitDeclined;
    if (!cardReady)
        return ExitFailed;
    // The restore offer was taken: the start-up ends with the restore.
    if (ConsoleSeen.restoreMessages > 0)
        return Outcome(RestoreDone, ConsoleSeen.declinedBeforeRestore);
    return ExitOk;
}

void Heading(const char* what, const char* argument)
{
    char line[PathBufferSize + 64];
    if (argument)
        snprintf(line, sizeof line, "== %s: %s", what, argument);
    else
        snprintf(line, sizeof line, "== %s", what);
    ConsolePrintLine(line);
}

// Reads and checks the update's image, and hands the bytes to the flow; an
// image refused here makes the flow's open fail, so that it says so too.
void HandImageOver(const char* path, bool force)
{
    static ImageFile image;
    bool good = ReadImageFile(path, force, &image);
    ConsoleImageChoice = ConsoleHandedImage{path, good ? image.bytes : 0, good ? image.length : 0};
}

int RunOneCommand(const Command& command, bool force)
{
    ConsoleSeen.lastBoxText[0] = 0;
    ConsoleSeen.lastBoxCaption[0] = 0;
    uint32_t declinedBefore = ConsoleSeen.declined;
    switch (command.kind) {
    case CmdUpdate:
        Heading("Update BIOS", command.argument);
        HandImageOver(command.argument, force);
        ConsoleFileChoice = command.argument;
        DispatchCommand(CmdUpdateBios);
        ConsoleFileChoice = 0;
        ConsoleImageChoice = ConsoleHandedImage{};
        return Outcome(UpdateDone, declinedBefore);
    case CmdSave:
        Heading("Save BIOS", command.argument);
        ConsoleFileChoice = command.argument;
        DispatchCommand(CmdSaveBios);
        ConsoleFileChoice = 0;
        return Outcome(SaveDone, declinedBefore);
    case CmdRestore:
        Heading("Restore BIOS", 0);
        // The menu item stays grayed on a board without a second BIOS.
        if (!ConsoleSeen.restoreEnabled) {
            Complain("\"Restore BIOS\" is for dual-BIOS boards; this card has one BIOS.");
            return ExitFailed;
        }
        DispatchCommand(CmdRestoreBios);
        return Outcome(RestoreDone, declinedBefore);
    default:
        return ExitOk;
    }
}

int RunCommand(const Command& command, bool force)
{
    if (QzflashCommandHook)
        QzflashCommandHook(false);
    FlashPartTouched = 0;
    int status = RunOneCommand(command, force);
    if (QzflashCommandHook)
        QzflashCommandHook(true);
    TellFileError();
    return Settle(status);
}

// A folder for the demo's files: the one given, or a new one.
bool DemoFolder(const char* given, char* folder, size_t size)
{
    if (given) {
        mkdir(given, 0777);
        struct stat info;
        if (stat(given, &info) != 0 || !S_ISDIR(info.st_mode)) {
            fprintf(stderr, "qzflash: %s is not a folder.\n", given);
            return false;
        }
        snprintf(folder, size, "%s", given);
        return true;
    }
    const char* tmp = getenv("TMPDIR");
    snprintf(folder, size, "%s/qzflash-demo-XXXXXX", tmp && tmp[0] ? tmp : "/tmp");
    if (!mkdtemp(folder)) {
        Complain("cannot make a folder for the demo's files.");
        return false;
    }
    return true;
}

// Writes an image for the current card, newer than what the virtual cards hold.
bool MakeDemoImage(const char* path)
{
    VcBiosImageSpec spec;
    memset(&spec, 0, sizeof spec);
    if (!VcParseBiosVersion(DemoVersion, &spec))
        return false;
    spec.vendorId = CardTable[CurrentCard].VendorId;
    spec.deviceId = CardTable[CurrentCard].DeviceId;
    spec.length = ImageBufferSize;
    static uint8_t image[ImageBufferSize];
    if (!VcMakeBiosImage(spec, image, sizeof image))
        return false;
    static FileReplacement replacement;
    return ReplaceWholeFile(&replacement, path, image, spec.length);
}

int RunDemo(const char* folder)
{
    char backup[PathBufferSize];
    char fresh[PathBufferSize];
    if (snprintf(backup, sizeof backup, "%s/backup.rom", folder) >= static_cast<int>(sizeof backup) ||
        snprintf(fresh, sizeof fresh, "%s/new.rom", folder) >= static_cast<int>(sizeof fresh)) {
        Complain("the demo folder's path is too long.");
        return ExitUsage;
    }
    Command save = {CmdSave, backup};
    int status = RunCommand(save, false);
    if (status != ExitOk)
        return status;
    if (!MakeDemoImage(fresh)) {
        fprintf(stderr, "qzflash: cannot write %s.\n", fresh);
        return ExitFailed;
    }
    char line[PathBufferSize + 96];
    snprintf(line, sizeof line, "== %s: an image made for this card, version %s", fresh, DemoVersion);
    ConsolePrintLine(line);
    Command update = {CmdUpdate, fresh};
    status = RunCommand(update, false);
    if (status != ExitOk)
        return status;
    if (!ConsoleSeen.restoreEnabled) {
        ConsolePrintLine("== Restore BIOS needs a dual-BIOS board: skipped on this card.");
        return ExitOk;
    }
    Command restore = {CmdRestore, 0};
    return RunCommand(restore, false);
}

int Run(const Options& options)
{
    bool demo = options.commandCount == 1 && options.commands[0].kind == CmdDemo;
    if (demo && Backend != BackendVirtual)
        return UsageError("\"demo\" runs on the virtual card only (--virtual)", 0);

    ConsoleReset();
    ConsoleDriverBuiltIn = true;
    ConsoleAssumeYes = options.yes;
    ConsoleTakeRestoreOffer = options.acceptRestoreOffer;
    ConsoleProgress = options.progress;
    ConsoleCardChoice = options.card;
    // An unattended start shows no window, so no status lines, unless the
    // restore offer is taken.
    ConsoleHoldStatus = options.autoMode;
    if (demo && options.card < 0 && BuiltinMachine)
        ConsoleCardChoice = BuiltinDemoCard;

    if (ConsoleCardChoice >= 0) {
        // A card that is not there ends the run before any card is touched.
        if (DiscoverOnly() && CardCount > 0 && ConsoleCardChoice >= CardCount) {
            fprintf(stderr, "qzflash: there is no card %d: %d found (see \"qzflash list\").\n", ConsoleCardChoice,
                    static_cast<int>(CardCount));
            return ExitUsage;
        }
        // The discovery above must not have used up a profile's scripted faults.
        if (Backend == BackendVirtual) {
            char error[1024];
            if (!VirtualMachineLoad(options.profile, error, sizeof error)) {
                Complain(error);
                return ExitEnvironment;
            }
        }
    }

    char folder[PATH_MAX];
    if (demo) {
        if (!DemoFolder(options.commands[0].argument, folder, sizeof folder))
            return ExitEnvironment;
        char line[PATH_MAX + 96];
        snprintf(line, sizeof line, "== Demo: save, update and restore on the virtual card; files in %s", folder);
        ConsolePrintLine(line);
    }

    FlashPartTouched = 0;
    int status = Settle(StartUp(options.autoMode));
    bool ownCommand = false;
    if (MainWindowAlive) {
        if (status == ExitOk && demo)
            status = RunDemo(folder);
        for (int i = 0; status == ExitOk && !demo && i < options.commandCount; ++i) {
            ownCommand = ownCommand || options.commands[i].kind != CmdInfo;
            status = RunCommand(options.commands[i], options.force);
        }
        DestroyMainWindow();
    }
    ConsoleFlushStatus();
    // A declined offer is the outcome of a run that was only its start-up.
    if (status == ExitOk && ConsoleSeen.offerDeclined && !demo && !ownCommand)
        status = ExitDeclined;
    return status;
}

}  // namespace

int QzflashRun(int argc, char** argv)
{
    Options options;
    memset(&options, 0, sizeof options);
    options.card = -1;
    options.progress = ConsoleProgressAuto;
    int status = ExitOk;
    if (ParseArguments(argc, argv, &options, &status) != 0)
        return status;

    bool list = options.commandCount == 1 && options.commands[0].kind == CmdList;
    status = StartBackend(options, list);
    if (status != ExitOk) {
        UnlockRun();
        return status;
    }
    if (options.noWait && Backend != BackendVirtual) {
        StopBackend();
        StopSignalsRemove();
        return UsageError("--no-wait is for the virtual card; real cards always wait", 0);
    }
    if (options.commandCount == 0 && !options.autoMode) {
        // A first run on the built-in machine shows the whole cycle.
        options.commands[0].kind = BuiltinMachine ? CmdDemo : CmdInfo;
        options.commands[0].argument = 0;
        options.commandCount = 1;
    }
    status = list ? ListCards() : Run(options);
    int stopped = StopBackend();
    // A stop that came during the last write ends the run now that the
    // machine's files are kept.
    if (StopPending())
        StopNow();
    StopSignalsRemove();
    return status != ExitOk ? status : stopped;
}
