// The program's run: the choice between real cards and the virtual card, one
// start-up of the flash utility and the File menu commands named on the
// command line, each the very flow the window's menu runs.
#include "linux/front_end.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/commands.h"
#include "app/main_window.h"
#include "app/select_card.h"
#include "core/state.h"
#include "hw/driver_setup.h"
#include "hw/hw.h"
#include "linux/backend.h"
#include "linux/backup.h"
#include "linux/cards.h"
#include "linux/image_commands.h"
#include "linux/image_file.h"
#include "linux/options.h"
#include "linux/paths.h"
#include "linux/rehearsal.h"
#include "linux/run_locks.h"
#include "linux/run_log.h"
#include "linux/stop_signals.h"
#include "linux/sysfs_driver.h"
#include "linux/twin.h"
#include "linux/virtual_backend.h"
#include "platform/console/console.h"
#include "platform/dialogs.h"
#include "platform/replace/replace.h"
#include "platform/window.h"
#include "vcard/host/vcard_host.h"

void (*QzflashCommandHook)(bool after);

namespace {

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
// The demo's files, in the folder it works in.
const char* const DemoFiles[] = {"backup.rom", "new.rom"};

bool BuiltinMachine;
// The profile the run is on (the path found for --virtual), and whether it
// is one of the installed examples, whose files are never written.
char ProfilePath[PATH_MAX];
bool ProfileIsExample;
// An update first backs the card's BIOS up (not with --no-backup, nor in
// the demo, which saves one itself).
bool BackupBeforeUpdate;
// Each update is rehearsed on the card's twin first (and, with
// RehearseOnly, only there).
bool RehearseUpdates;
bool RehearseOnly;

void Complain(const char* text)
{
    fprintf(stderr, "qzflash: %s\n", text);
}

// ---- the hardware of the run ----

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

// How much of the cards a run needs.
enum StartMode {
    StartLook,  // configuration space only: nothing locked, nothing mapped
    StartWork,  // their registers: every card locked and mapped first
};

// The virtual machine of the run: the profile found for --virtual (locked
// unless it is an installed example, which is never written), or the
// built-in one.
int StartVirtual(const Options& options)
{
    char error[1024];
    const char* profile = 0;
    if (options.profile) {
        FindProfile(options.profile, ProfilePath, sizeof ProfilePath, &ProfileIsExample);
        profile = ProfilePath;
        if (!ProfileIsExample) {
            int locked = LockProfile(profile);
            if (locked != ExitOk)
                return locked;
        }
    }
    VirtualFilesKept = !ProfileIsExample;
    if (!VirtualMachineLoad(profile, error, sizeof error)) {
        Complain(error);
        return ExitEnvironment;
    }
    StopSignalsInstall(true);
    RunBackend = BackendVirtual;
    BuiltinMachine = profile == 0;
    ActiveBackend = &VirtualBackend;
    RealWaits = !options.noWait;
    RegistersReachable = true;
    return ExitOk;
}

// Chooses and brings up what answers the driver requests, locking what the
// run will touch first. With `cardsOptional` a machine without a supported
// card is no failure: the run goes on without a backend. ExitOk or the
// status to end with.
int StartBackend(const Options& options, StartMode mode, bool cardsOptional)
{
    if (options.virtualCard)
        return StartVirtual(options);
    char error[1024];
    if (!SysfsDriverStart(SysfsRoot(), false, error, sizeof error)) {
        Complain(error);
        return ExitEnvironment;
    }
    const SysfsUnusableCard* unusable = 0;
    int unusableCount = SysfsDriverUnusableCards(&unusable);
    bool work = mode == StartWork;
    // A look also names the cards that cannot be worked on.
    if (SysfsDriverCardCount() > 0 || (!work && unusableCount > 0)) {
        if (work) {
            int locked = LockCards(SysfsRoot());
            if (locked != ExitOk) {
                SysfsDriverStop();
                return locked;
            }
        }
        // Before the first change to a card: a signal from here on puts it back.
        SysfsDriverInstallSignalHandlers();
        StopSignalsInstall(false);
        if (work && !SysfsDriverStart(SysfsRoot(), true, error, sizeof error)) {
            Complain(error);
            Complain("no card was touched.");
            return ExitEnvironment;
        }
        RunBackend = BackendSysfs;
        ActiveBackend = &SysfsBackend;
        RealWaits = true;
        RegistersReachable = work;
        return ExitOk;
    }
    if (cardsOptional) {
        SysfsDriverStop();
        return ExitOk;
    }
    int status = NoSupportedCard();
    SysfsDriverStop();
    return status;
}

int StopBackend()
{
    int status = ExitOk;
    if (RunBackend == BackendSysfs) {
        SysfsDriverStop();
    } else if (RunBackend == BackendVirtual) {
        char error[1024];
        if (!VirtualMachineSave(error, sizeof error)) {
            Complain(error);
            Complain("the flash contents were not kept; to keep them, run a copy of the profile in a folder "
                     "you can write to.");
            status = ExitEnvironment;
        } else if (VirtualChangesDropped) {
            fprintf(stderr,
                    "qzflash: %s is an installed example: what the run wrote lasted for the run only. Copy it "
                    "into a folder of your own to keep its flash contents.\n",
                    ProfilePath);
        }
        VirtualMachineFree();
    }
    ActiveBackend = 0;
    RunBackend = BackendNone;
    RegistersReachable = false;
    UnlockRun();
    return status;
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
        FlashPartTouched = 0;  // verified, or never erased
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
bool HandImageOver(const char* path, bool force)
{
    static ImageFile image;
    bool good = ReadImageFile(path, force, &image);
    ConsoleImageChoice = ConsoleHandedImage{path, good ? image.bytes : 0, good ? image.length : 0};
    return good;
}

int RunOneCommand(const Command& command, bool force)
{
    ConsoleSeen.lastBoxText[0] = 0;
    ConsoleSeen.lastBoxCaption[0] = 0;
    uint32_t declinedBefore = ConsoleSeen.declined;
    switch (command.kind) {
    case CmdUpdate: {
        Heading("Update BIOS", command.argument);
        bool handed = HandImageOver(command.argument, force);
        // The card is only read until the rehearsal has passed.
        if (RehearseUpdates) {
            int rehearsed = RehearseUpdate(command.argument);
            if (rehearsed != ExitOk || RehearseOnly) {
                ConsoleImageChoice = ConsoleHandedImage{};
                if (rehearsed == ExitOk)
                    ConsolePrintLine("== --rehearse-only: the card itself was not updated.");
                return rehearsed;
            }
        }
        // The backup only for an image that will reach the flow's question.
        if (handed && BackupBeforeUpdate) {
            char backup[PathBufferSize];
            int status = BackUpCard(backup, sizeof backup);
            if (status != ExitOk) {
                ConsoleImageChoice = ConsoleHandedImage{};
                return status;
            }
        }
        ConsoleFileChoice = command.argument;
        DispatchCommand(CmdUpdateBios);
        ConsoleFileChoice = 0;
        ConsoleImageChoice = ConsoleHandedImage{};
        return Outcome(UpdateDone, declinedBefore);
    }
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
    case CmdVerify:
        Heading("Verify", command.argument);
        return VerifyCard(command.argument);
    case CmdTwin:
        Heading("Twin", command.argument);
        return ExportTwin(command.argument);
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
    LogSettleStep();
    TellFileError();
    return Settle(status);
}

// A folder for the demo's files: the one given, or a new one (`*made`).
bool DemoFolder(const char* given, char* folder, size_t size, bool* made)
{
    *made = false;
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
    *made = true;
    return true;
}

// The folder the demo made goes when the demo went well; after a failure it
// stays for a look.
void DemoCleanUp(const char* folder, int status)
{
    char line[PATH_MAX + 128];
    if (status != ExitOk) {
        snprintf(line, sizeof line, "== The demo failed; its files are left in %s for a look.", folder);
        ConsolePrintLine(line);
        return;
    }
    for (const char* name : DemoFiles) {
        char path[PATH_MAX + 32];
        snprintf(path, sizeof path, "%s/%s", folder, name);
        unlink(path);
    }
    if (rmdir(folder) == 0)
        snprintf(line, sizeof line, "== Demo done; its folder %s was removed.", folder);
    else
        snprintf(line, sizeof line, "== Demo done; %s is left: %s.", folder, strerror(errno));
    ConsolePrintLine(line);
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

// After the start-up: the card's flash part for the log (and -v).
void NoteStartedCard()
{
    char address[24], part[256];
    CardAddressText(CurrentCard, address, sizeof address);
    DescribePart(CurrentCardPart(), part, sizeof part);
    LogNote("card %d at %s, flash part %s", CurrentCard, address, part);
}

// --card N or --card BB:DD.F: a card that is not there ends the run before
// any card is touched. ExitOk with ConsoleCardChoice set.
int ChooseCard(const Options& options)
{
    if (ConsoleCardChoice < 0 && !options.address.given)
        return ExitOk;
    if (DiscoverOnly() && options.address.given) {
        ConsoleCardChoice = FindCardAt(options.address);
        if (ConsoleCardChoice < 0) {
            fprintf(stderr, "qzflash: there is no supported card at %04x:%02x:%02x.%x (see \"qzflash list\").\n",
                    options.address.domain, options.address.bus, options.address.slot & 31, options.address.slot >> 5);
            return ExitUsage;
        }
    } else if (CardCount > 0 && ConsoleCardChoice >= CardCount) {
        fprintf(stderr, "qzflash: there is no card %d: %d found (see \"qzflash list\").\n", ConsoleCardChoice,
                static_cast<int>(CardCount));
        return ExitUsage;
    }
    // The discovery above must not have used up a profile's scripted faults.
    if (RunBackend == BackendVirtual) {
        char error[1024];
        if (!VirtualMachineLoad(BuiltinMachine ? 0 : ProfilePath, error, sizeof error)) {
            Complain(error);
            return ExitEnvironment;
        }
    }
    return ExitOk;
}

int Run(const Options& options)
{
    bool demo = OnlyCommand(options, CmdDemo);
    ConsoleReset();
    ConsoleDriverBuiltIn = true;
    ConsoleAssumeYes = options.yes;
    ConsoleTakeRestoreOffer = options.acceptRestoreOffer;
    ConsoleProgress = options.progress;
    ConsoleCardChoice = options.card;
    BackupBeforeUpdate = !options.noBackup && !demo;
    RehearseUpdates = options.rehearse || options.rehearseOnly;
    RehearseOnly = options.rehearseOnly;
    bool twin = OnlyCommand(options, CmdTwin);
    // A twin is the card as it is: nothing is written to it.
    ConsoleRefuseRestoreOffer = twin ? "twin only reads the card" : 0;
    // An unattended start shows no window, so no status lines, unless the
    // restore offer is taken.
    ConsoleHoldStatus = options.autoMode;
    if (demo && options.card < 0 && !options.address.given && BuiltinMachine)
        ConsoleCardChoice = BuiltinDemoCard;
    int status = ChooseCard(options);
    if (status != ExitOk)
        return status;

    char folder[PATH_MAX];
    bool madeFolder = false;
    if (demo) {
        if (!DemoFolder(options.commands[0].argument, folder, sizeof folder, &madeFolder))
            return ExitEnvironment;
        char line[PATH_MAX + 96];
        snprintf(line, sizeof line, "== Demo: save, update and restore on the virtual card; files in %s", folder);
        ConsolePrintLine(line);
    }

    FlashPartTouched = 0;
    status = Settle(StartUp(options.autoMode));
    LogSettleStep();
    if (twin && status == ExitFailed && !MainWindowAlive)
        TellNoTwin();
    bool ownCommand = false;
    if (MainWindowAlive) {
        NoteStartedCard();
        if (status == ExitOk && demo)
            status = RunDemo(folder);
        for (int i = 0; status == ExitOk && !demo && i < options.commandCount; ++i) {
            ownCommand = ownCommand || options.commands[i].kind != CmdInfo;
            status = RunCommand(options.commands[i], options.force);
        }
        DestroyMainWindow();
    }
    ConsoleFlushStatus();
    if (madeFolder)
        DemoCleanUp(folder, status);
    // A declined offer is the outcome of a run that was only its start-up.
    if (status == ExitOk && ConsoleSeen.offerDeclined && !demo && !ownCommand)
        status = ExitDeclined;
    return status;
}

// Plain "qzflash": what it sees, and how to go on. Changes nothing.
int Overview()
{
    if (RunBackend != BackendNone && DiscoverOnly() && CardCount > 0) {
        ListCards(false);
    } else {
        if (RunBackend == BackendSysfs)
            TellUnusableCards(stdout, "-: ");
        puts("No supported card found.");
    }
    puts("Nothing was changed. Every command and option: qzflash --help (the whole text: man qzflash).\n"
         "To see the program at work without a card, on the virtual card:\n"
         "  qzflash --virtual --yes --accept-restore-offer demo");
    return ExitOk;
}

// inspect FILE: the cards are looked at when there are any.
int Inspect(const Options& options)
{
    if (RunBackend != BackendNone)
        DiscoverOnly();
    Heading("Inspect", options.commands[0].argument);
    return InspectImage(options.commands[0].argument);
}

// How much of the cards the run needs: identifying flash parts (list -v,
// inspect) reads registers, which a real card gives root only.
StartMode ModeOf(const Options& options)
{
    bool looking = options.commandCount == 0 || OnlyCommand(options, CmdList) || OnlyCommand(options, CmdInspect);
    if (!looking || options.autoMode)
        return StartWork;
    bool parts = OnlyCommand(options, CmdInspect) || (OnlyCommand(options, CmdList) && options.verbose);
    return parts && (options.virtualCard || geteuid() == 0) ? StartWork : StartLook;
}

int RunAll(Options& options)
{
    // The demo never runs anywhere but on the virtual card.
    if (OnlyCommand(options, CmdDemo))
        options.virtualCard = true;
    bool overview = options.commandCount == 0 && !options.autoMode;
    bool inspect = OnlyCommand(options, CmdInspect);
    int status = StartBackend(options, ModeOf(options), overview || inspect);
    if (status != ExitOk) {
        UnlockRun();
        return status;
    }
    if (options.noWait && RunBackend == BackendSysfs) {
        StopBackend();
        StopSignalsRemove();
        return UsageError("--no-wait is for the virtual card; real cards always wait", 0);
    }
    if (overview)
        status = Overview();
    else if (OnlyCommand(options, CmdList))
        status = ListCards(options.verbose);
    else if (inspect)
        status = Inspect(options);
    else
        status = Run(options);
    int stopped = StopBackend();
    // A stop that came during the last write ends the run now that the
    // machine's files are kept.
    if (StopPending())
        StopNow();
    StopSignalsRemove();
    return status != ExitOk ? status : stopped;
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
    // A log that cannot be written is a wrong value: nothing has run.
    if (options.logPath && !LogOpen(options.logPath, argc, argv))
        return ExitUsage;
    LogSetVerbose(options.verbose);
    status = RunAll(options);
    LogRequestTotals();
    LogClose(status);
    return status;
}
