// The seams of QZFlash on a terminal: message boxes printed with their
// caption, status lines printed as they are added, questions asked on the
// terminal, a progress bar on stderr, the file dialogs answered by the
// command line. The front end (linux/) sets the answers below before it runs
// a flow and reads back what happened.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "platform/ui.h"

// The main window of a console run: a token, never dereferenced.
extern WindowHandle const ConsoleMainWindow;

// ---- streams ----

extern FILE* ConsoleOut;     // transcript: status lines, boxes, dialogs (stdout)
extern FILE* ConsoleErr;     // progress bar (stderr)
extern FILE* ConsoleBarOut;  // the bar alone, when it must go elsewhere than ConsoleErr (a log's tee)
extern FILE* ConsoleIn;      // answers to questions (stdin)

// ---- answers set by the front end ----

// Every question of a command (Confirm, replacing a file) is answered OK
// without asking; the answer is shown with ConsoleAssumeYesWhy ("--yes"
// when 0).
extern bool ConsoleAssumeYes;
extern const char* ConsoleAssumeYesWhy;
// The start-up offer to restore ROM 1 from ROM 2 belongs to no command, so
// ConsoleAssumeYes leaves it alone: set, it is taken without asking;
// otherwise it is asked at a terminal only and declined anywhere else.
extern bool ConsoleTakeRestoreOffer;
// A run that must not write the card declines the offer without asking,
// shown with this reason (0: the rule above).
extern const char* ConsoleRefuseRestoreOffer;
// The card chosen on the command line instead of the selection dialog; -1 asks.
extern int ConsoleCardChoice;
// The name the next file dialog returns; 0 makes it a cancelled dialog. Used
// once: the dialog clears it.
extern const char* ConsoleFileChoice;

enum ConsoleProgressMode { ConsoleProgressAuto, ConsoleProgressAlways, ConsoleProgressNever };
extern ConsoleProgressMode ConsoleProgress;

// Status lines are kept back while the window has not been shown: an
// unattended start shows them only when the restore offer is taken.
extern bool ConsoleHoldStatus;

// The image file the front end has read and checked for the next update:
// the next FileOpenRead reads these bytes instead of reopening a file that
// may have changed since; with `bytes` 0, or another path, that open fails.
// Used once: the open clears it.
struct ConsoleHandedImage {
    const char* path;
    const uint8_t* bytes;
    uint32_t length;
};
extern ConsoleHandedImage ConsoleImageChoice;

// Set by the front end when a driver for the card is built into the program:
// the driver file the start-up looks for beside the program then "exists".
extern bool ConsoleDriverBuiltIn;

// Told each answer read from the input as it was typed, newline cut (a log
// of the run keeps them: typed on a terminal they are not on stdout).
extern void (*ConsoleAnswerRead)(const char* line);

// ---- what happened ----

struct ConsoleRecord {
    uint32_t boxes;               // message boxes shown
    char lastBoxText[512];        // text and caption of the last one
    char lastBoxCaption[64];
    uint32_t declined;            // questions answered Cancel / No
    uint32_t dcGets;              // device contexts asked for (the start-up asks at its end)
    bool restoreEnabled;          // "Restore BIOS" enabled in the File menu
    uint32_t restoreMessages;     // restore requests from the dual-BIOS dialog
    uint32_t declinedBeforeRestore;   // `declined` when the last one came
    bool selectionCancelled;      // the card selection dialog was cancelled
    bool offerDeclined;           // the start-up offer to restore ROM 1 was declined
    bool quitPosted;
    // The last file operation that failed: its path and errno (0: none).
    int fileError;
    char fileErrorPath[512];
};
extern ConsoleRecord ConsoleSeen;

// Starts afresh: nothing printed, nothing recorded, answers kept.
void ConsoleReset();

// Prints the status lines added since the last print.
void ConsoleFlushStatus();

// Prints a line of the front end's own on the transcript (clearing the
// progress bar first).
void ConsolePrintLine(const char* text);

// The progress bar (progress_console.cpp): takes it off the screen before
// anything else is printed; forgets it without printing (a new run).
void ConsoleClearBar();
void ConsoleForgetBar();

// Asks "<yesWord> or <noWord> [y/N]? " and reads the answer: "y", "yes", "o", "ok"
// say yes, anything else no. --yes answers at once; the end of input answers
// no. The answer taken is echoed unless it was typed on a terminal. Counts
// refusals.
bool ConsoleAsk(const char* yesWord, const char* noWord);
// The same for the start-up restore offer (see ConsoleTakeRestoreOffer).
bool ConsoleAskRestoreOffer(const char* yesWord, const char* noWord);

// One line of input without its newline; false at the end of input.
bool ConsoleReadAnswer(char* line, size_t size);
// True when answers are typed on a terminal (and so already on the screen).
bool ConsoleAnswerEchoed();
