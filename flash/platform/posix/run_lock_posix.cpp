// flock on the file; the holder is looked up in /proc/locks by the file's
// device and inode.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/run_lock.h"

namespace {

// The pid of a FLOCK line of /proc/locks on this device and inode, or 0.
// Lines read "1: FLOCK  ADVISORY  WRITE 4242 fe:00:10953277 0 EOF"; lines of
// runs still waiting for the lock carry "->" and are passed over.
long FlockHolder(const struct stat& file)
{
    FILE* locks = fopen("/proc/locks", "re");
    if (!locks)
        return 0;
    long holder = 0;
    char line[256];
    while (holder == 0 && fgets(line, sizeof line, locks)) {
        char kind[16], mode[16], access[16];
        long pid = 0;
        unsigned devMajor = 0, devMinor = 0;
        unsigned long long inode = 0;
        const char* fields = strchr(line, ':');
        if (!fields || strstr(line, "->"))
            continue;
        if (sscanf(fields + 1, "%15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid, &devMajor, &devMinor,
                   &inode) != 7)
            continue;
        if (strcmp(kind, "FLOCK") == 0 && devMajor == major(file.st_dev) && devMinor == minor(file.st_dev) &&
            inode == static_cast<unsigned long long>(file.st_ino) && pid > 0)
            holder = pid;
    }
    fclose(locks);
    return holder;
}

}  // namespace

RunLockResult RunLockTake(const char* path, bool create, RunLock* lock, long* holder, int* error)
{
    lock->fd = -1;
    *holder = 0;
    *error = 0;
    // O_NONBLOCK: a FIFO at the path must not hold the run up.
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (create ? O_CREAT : 0);
    int fd = open(path, flags, 0644);
    if (fd < 0) {
        *error = errno;
        return RunLockFailed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int failure = errno;
        struct stat file;
        if (failure == EWOULDBLOCK && fstat(fd, &file) == 0)
            *holder = FlockHolder(file);
        close(fd);
        if (failure == EWOULDBLOCK)
            return RunLockBusy;
        *error = failure;
        return RunLockFailed;
    }
    lock->fd = fd;
    return RunLockTaken;
}

void RunLockRelease(RunLock* lock)
{
    if (lock->fd < 0)
        return;
    // Closing the only open of the file gives the lock back.
    close(lock->fd);
    lock->fd = -1;
}
