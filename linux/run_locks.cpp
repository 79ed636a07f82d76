#include "linux/run_locks.h"

#include <stdio.h>

#include "linux/front_end.h"
#include "linux/sysfs_driver.h"
#include "platform/run_lock.h"

namespace {

RunLock Locks[SysfsMaxCards + 1];
int LockCount;

int RefuseBusy(const char* what, long holder)
{
    if (holder > 0)
        fprintf(stderr, "qzflash: %s is in use by another run (pid %ld); nothing was touched.\n", what, holder);
    else
        fprintf(stderr, "qzflash: %s is in use by another run; nothing was touched.\n", what);
    return ExitEnvironment;
}

// ExitOk when taken, or when the file cannot be opened at all: whatever
// opens it next reports that better.
int Lock(const char* path, const char* what)
{
    long holder = 0;
    int error = 0;
    RunLock lock;
    RunLockResult result = RunLockTake(path, false, &lock, &holder, &error);
    if (result == RunLockBusy) {
        UnlockRun();
        return RefuseBusy(what, holder);
    }
    if (result == RunLockTaken && LockCount < SysfsMaxCards + 1)
        Locks[LockCount++] = lock;
    return ExitOk;
}

}  // namespace

int LockCards(const char* sysfsRoot)
{
    for (int i = 0; i < SysfsDriverCardCount(); ++i) {
        const SysfsCard* card = SysfsDriverCard(i);
        char path[1024], what[64];
        snprintf(path, sizeof path, "%s/bus/pci/devices/%s/resource0", sysfsRoot, card->name);
        snprintf(what, sizeof what, "the card %s", card->name);
        int status = Lock(path, what);
        if (status != ExitOk)
            return status;
    }
    return ExitOk;
}

int LockProfile(const char* profile)
{
    char what[1100];
    snprintf(what, sizeof what, "the profile %s", profile);
    return Lock(profile, what);
}

void UnlockRun()
{
    for (int i = 0; i < LockCount; ++i)
        RunLockRelease(&Locks[i]);
    LockCount = 0;
}
