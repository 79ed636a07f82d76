#include "linux/options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/state.h"
#include "hw/hw.h"
#include "linux/front_end.h"
#include "linux/paths.h"
#include "qz_version.h"
#include "qzflash_help.h"

namespace {

// Values getopt_long returns for the long options without a short one.
enum : int {
    OptVirtual = 0x100,
    OptCard,
    OptAcceptRestoreOffer,
    OptForce,
    OptNoBackup,
    OptNoWait,
    OptProgress,
    OptLog,
    OptRehearse,
    OptRehearseOnly,
};

// ':' first: a missing argument comes back as ':', told apart from an
// unknown option. "A" and "a" are the Windows program's unattended switch.
const char ShortOptions[] = ":hVyvAa";

const struct {
    const char* word;
    CommandKind kind;
    bool takesFile;
} CommandWords[] = {
    {"list", CmdList, false},
    {"info", CmdInfo, false},
    {"update", CmdUpdate, true},
    {"save", CmdSave, true},
    {"restore", CmdRestore, false},
    {"verify", CmdVerify, true},
    {"inspect", CmdInspect, true},
    {"demo", CmdDemo, false},
    {"twin", CmdTwin, true},
};

// The options that only set a flag.
const struct {
    int option;
    bool Options::*flag;
} FlagOptions[] = {
    {'y', &Options::yes},
    {'v', &Options::verbose},
    {'A', &Options::autoMode},
    {'a', &Options::autoMode},
    {OptAcceptRestoreOffer, &Options::acceptRestoreOffer},
    {OptForce, &Options::force},
    {OptNoBackup, &Options::noBackup},
    {OptNoWait, &Options::noWait},
    {OptRehearse, &Options::rehearse},
    {OptRehearseOnly, &Options::rehearseOnly},
};

const struct {
    const char* word;
    ConsoleProgressMode mode;
} ProgressWords[] = {
    {"auto", ConsoleProgressAuto},
    {"always", ConsoleProgressAlways},
    {"never", ConsoleProgressNever},
};

int FindCommand(const char* word)
{
    for (size_t i = 0; i < sizeof CommandWords / sizeof CommandWords[0]; ++i) {
        if (strcmp(word, CommandWords[i].word) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

const char* CommandName(CommandKind kind)
{
    for (const auto& entry : CommandWords) {
        if (entry.kind == kind)
            return entry.word;
    }
    return "";
}

bool ParseHex(const char* text, size_t digits, unsigned max, unsigned* value)
{
    if (strlen(text) != digits && !(digits == 2 && strlen(text) == 1))
        return false;
    char* end = 0;
    unsigned long parsed = strtoul(text, &end, 16);
    if (*text == 0 || *end != 0 || parsed > max || strspn(text, "0123456789abcdefABCDEF") != strlen(text))
        return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}

bool ParseCard(const char* text, Options* options)
{
    if (text[0] >= '0' && text[0] <= '9' && strspn(text, "0123456789") == strlen(text) && strlen(text) <= 3) {
        int value = atoi(text);
        if (value >= CardTableSize)
            return false;
        options->card = value;
        return true;
    }
    return ParseCardAddress(text, &options->address);
}

bool ParseProgress(const char* text, ConsoleProgressMode* mode)
{
    for (const auto& entry : ProgressWords) {
        if (strcmp(text, entry.word) == 0) {
            *mode = entry.mode;
            return true;
        }
    }
    return false;
}

void PrintHelp()
{
    char folder[1024];
    ExamplesFolder(folder, sizeof folder);
    fputs(HelpBeforeProfiles, stdout);
    fputs(folder, stdout);
    fputs(HelpAfterProfiles, stdout);
}

// The commands and their arguments, in order.
int ParseCommands(int count, char** words, Options* options)
{
    for (int i = 0; i < count; ++i) {
        int found = FindCommand(words[i]);
        if (found < 0)
            return UsageError("unknown command", words[i]);
        if (options->commandCount >= MaxCommands)
            return UsageError("too many commands", 0);
        Command& command = options->commands[options->commandCount++];
        command.kind = CommandWords[found].kind;
        command.argument = 0;
        if (CommandWords[found].takesFile) {
            if (i + 1 >= count)
                return UsageError("a file name must follow", words[i]);
            command.argument = words[++i];
            if (strlen(command.argument) >= PathBufferSize)
                return UsageError("the file name is too long:", command.argument);
        } else if (command.kind == CmdDemo && i + 1 < count && FindCommand(words[i + 1]) < 0) {
            command.argument = words[++i];
        }
    }
    // These are runs of their own.
    for (int i = 0; options->commandCount > 1 && i < options->commandCount; ++i) {
        CommandKind kind = options->commands[i].kind;
        if (kind == CmdList || kind == CmdInspect || kind == CmdDemo || kind == CmdTwin)
            return UsageError("this command stands alone:", CommandName(kind));
    }
    bool update = false;
    for (int i = 0; i < options->commandCount; ++i)
        update = update || options->commands[i].kind == CmdUpdate;
    if ((options->rehearse || options->rehearseOnly) && !update)
        return UsageError(options->rehearseOnly ? "--rehearse-only goes with update" : "--rehearse goes with update",
                          0);
    // A twin is the card as it is: the start-up offer to rewrite ROM 1 is
    // declined for it.
    if (options->acceptRestoreOffer && OnlyCommand(*options, CmdTwin))
        return UsageError("twin only reads the card; --accept-restore-offer does not go with it", 0);
    if (options->autoMode && options->commandCount > 0)
        return UsageError("-A takes no command: the unattended start ends after the start-up", 0);
    return ExitOk;
}

}  // namespace

const struct option LongOptions[] = {
    {"virtual", optional_argument, 0, OptVirtual},
    {"card", required_argument, 0, OptCard},
    {"yes", no_argument, 0, 'y'},
    {"accept-restore-offer", no_argument, 0, OptAcceptRestoreOffer},
    {"no-backup", no_argument, 0, OptNoBackup},
    {"rehearse", no_argument, 0, OptRehearse},
    {"rehearse-only", no_argument, 0, OptRehearseOnly},
    {"force", no_argument, 0, OptForce},
    {"no-wait", no_argument, 0, OptNoWait},
    {"progress", required_argument, 0, OptProgress},
    {"log", required_argument, 0, OptLog},
    {"verbose", no_argument, 0, 'v'},
    {"help", no_argument, 0, 'h'},
    {"version", no_argument, 0, 'V'},
    {0, 0, 0, 0},
};

int UsageError(const char* text, const char* word)
{
    if (word)
        fprintf(stderr, "qzflash: %s \"%s\"\n", text, word);
    else
        fprintf(stderr, "qzflash: %s\n", text);
    fputs("Try \"qzflash --help\".\n", stderr);
    return ExitUsage;
}

bool ParseCardAddress(const char* text, CardAddress* address)
{
    // Up to "DDDD:BB:DD.F" and its end.
    char copy[16];
    if (strlen(text) >= sizeof copy)
        return false;
    snprintf(copy, sizeof copy, "%s", text);
    char* parts[4] = {copy, 0, 0, 0};
    int count = 1;
    for (char* c = copy; *c; ++c) {
        if ((*c == ':' || *c == '.') && count < 4) {
            *c = 0;
            parts[count++] = c + 1;
        }
    }
    // The last separator must be the dot: "BB:DD.F" or "DDDD:BB:DD.F".
    const char* dot = strrchr(text, '.');
    if ((count != 3 && count != 4) || !dot || strchr(dot, ':'))
        return false;
    unsigned domain = 0, bus = 0, device = 0, function = 0;
    int first = count - 3;
    if ((count == 4 && !ParseHex(parts[0], 4, 0xFFFF, &domain)) || !ParseHex(parts[first], 2, 0xFF, &bus) ||
        !ParseHex(parts[first + 1], 2, 31, &device) || !ParseHex(parts[first + 2], 1, 7, &function))
        return false;
    address->given = true;
    address->domain = static_cast<uint16_t>(domain);
    address->bus = static_cast<uint8_t>(bus);
    address->slot = static_cast<uint8_t>(device | function << 5);
    return true;
}

bool OnlyCommand(const Options& options, CommandKind kind)
{
    return options.commandCount == 1 && options.commands[0].kind == kind;
}

int ParseArguments(int argc, char** argv, Options* options, int* status)
{
    // A whole new scan each run (the benchmark runs the program in-process).
    optind = 0;
    opterr = 0;
    bool seenVirtual = false, seenCard = false, seenProgress = false;
    for (;;) {
        int index = -1;
        int option = getopt_long(argc, argv, ShortOptions, LongOptions, &index);
        if (option == -1)
            break;
        const char* word = argv[optind - 1];
        // Options that take a value are given once: which of two was meant
        // is not for the program to guess.
        bool* seen = option == OptVirtual ? &seenVirtual
            : option == OptCard           ? &seenCard
            : option == OptProgress       ? &seenProgress
                                          : 0;
        if (seen && *seen) {
            char name[40];
            snprintf(name, sizeof name, "--%s", index >= 0 ? LongOptions[index].name : "");
            *status = UsageError("an option that takes a value is given twice:", name);
            return -1;
        }
        if (seen)
            *seen = true;
        bool flag = false;
        for (const auto& entry : FlagOptions) {
            if (entry.option == option) {
                options->*entry.flag = true;
                flag = true;
            }
        }
        if (flag)
            continue;
        switch (option) {
        case 'h':
            PrintHelp();
            *status = ExitOk;
            return -1;
        case 'V':
            printf("qzflash %s\n", QZ_VERSION_TEXT);
            *status = ExitOk;
            return -1;
        case OptVirtual:
            options->virtualCard = true;
            options->profile = optarg;
            // "--virtual PROFILE" as well as "--virtual=PROFILE": the next
            // word, unless it is an option or a command.
            if (!optarg && optind < argc && argv[optind][0] != '-' && FindCommand(argv[optind]) < 0)
                options->profile = argv[optind++];
            break;
        case OptCard:
            if (!ParseCard(optarg, options)) {
                *status = UsageError("--card takes a card number from 0 to 7 or a PCI address BB:DD.F, not", optarg);
                return -1;
            }
            break;
        case OptProgress:
            if (!ParseProgress(optarg, &options->progress)) {
                *status = UsageError("--progress takes auto, always or never, not", optarg);
                return -1;
            }
            break;
        case OptLog:
            if (options->logPath) {
                *status = UsageError("an option that takes a value is given twice:", "--log");
                return -1;
            }
            options->logPath = optarg;
            break;
        case ':':
            *status = UsageError("a value must follow", word);
            return -1;
        default: {
            // An unknown short option is named alone, not with the letters
            // around it.
            char shortOption[3] = {'-', static_cast<char>(optopt), 0};
            *status = UsageError("unknown option", optopt && word[1] != '-' ? shortOption : word);
            return -1;
        }
        }
    }
    *status = ParseCommands(argc - optind, argv + optind, options);
    return *status == ExitOk ? 0 : -1;
}
