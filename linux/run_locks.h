// One run per card: the run takes an exclusive lock on what it is about to
// touch before its first register access and holds it to its end. A real
// card is locked by its resource0 in sysfs, a profile by its own file (the
// built-in machine keeps nothing between runs and needs none). A second run
// is refused at once, touching nothing.
#pragma once

// Locks every card the sysfs driver found (SysfsDriverStart without
// mapping) below `sysfsRoot`. ExitOk, or ExitEnvironment with the holder
// named on stderr and no lock kept.
int LockCards(const char* sysfsRoot);

// Locks the profile file. ExitOk, or ExitEnvironment as above. A profile
// that cannot be opened is left to the loader to report.
int LockProfile(const char* profile);

// Gives back every lock of the run.
void UnlockRun();
