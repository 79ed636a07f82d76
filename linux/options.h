// qzflash's command line: options in the GNU manner (getopt_long), then
// commands with their arguments, and the help that lists both.
#pragma once
#include <getopt.h>
#include <stdint.h>

#include "platform/console/console.h"

enum CommandKind { CmdList, CmdInfo, CmdUpdate, CmdSave, CmdRestore, CmdVerify, CmdInspect, CmdDemo, CmdTwin };

struct Command {
    CommandKind kind;
    const char* argument;
};

// A card named by its PCI address: [DDDD:]BB:DD.F.
struct CardAddress {
    bool given;
    uint16_t domain;
    uint8_t bus;
    uint8_t slot;  // the slot index of the card list: device | function << 5
};

enum { MaxCommands = 32 };

struct Options {
    bool virtualCard;
    const char* profile;
    int card;  // -1: none given (or given by address)
    CardAddress address;
    bool yes;
    bool acceptRestoreOffer;
    bool force;
    bool noBackup;
    bool rehearse;      // each update first on the card's twin
    bool rehearseOnly;  // ... and only there
    bool autoMode;
    bool noWait;
    bool verbose;
    const char* logPath;
    ConsoleProgressMode progress;
    int commandCount;
    Command commands[MaxCommands];
};

// The long options, for the test that every one of them is in --help.
extern const struct option LongOptions[];

// Fills `options` from the command line. 0: go on; -1: stop with *status
// (after --help or --version, 0; a wrong argument, said in one line on
// stderr with a pointer to --help, 2).
int ParseArguments(int argc, char** argv, Options* options, int* status);

// One line on stderr naming the problem (`word` quoted after `text`), the
// pointer to --help; returns the status of wrong arguments.
int UsageError(const char* text, const char* word);

// Parses "[DDDD:]BB:DD.F" (hexadecimal). False when it is not one.
bool ParseCardAddress(const char* text, CardAddress* address);

// The run names one command of `kind` and nothing else.
bool OnlyCommand(const Options& options, CommandKind kind);
