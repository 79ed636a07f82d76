// qzflash: the flash utility's start-up and File menu commands on a terminal,
// on real cards through sysfs or on the virtual card.
#pragma once

enum {
    ExitOk = 0,
    ExitFailed = 1,        // start-up or a command failed; its message says why
    ExitUsage = 2,
    ExitEnvironment = 3,   // the cards or the profile cannot be reached
    ExitDeclined = 4,      // a question was answered Cancel / No
    ExitMayNotBoot = 5,    // failed after the part was erased or written
};

// The whole program: arguments as main gets them; returns the exit status.
int QzflashRun(int argc, char** argv);

// Told right before (false) and right after (true) each command of a run;
// the benchmark times commands apart from the start-up with it.
extern void (*QzflashCommandHook)(bool after);
