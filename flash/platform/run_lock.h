// One run at a time on a card or a machine: an exclusive lock on a file,
// taken without waiting and held until it is released or the process ends
// (a killed run gives it back). POSIX: flock on an open of the file, so two
// opens in one process are two holders; the holder's process id comes from
// /proc/locks. The Windows program keeps its single-instance rule instead.
#pragma once

struct RunLock {
    int fd;   // -1 when not held
};

enum RunLockResult { RunLockTaken, RunLockBusy, RunLockFailed };

// Takes the lock on the file at `path`, made when `create` is set and it is
// missing. Busy: another run holds it; *holder is that process's id, or 0
// when it cannot be told. Failed: *error is the errno of the open or lock.
RunLockResult RunLockTake(const char* path, bool create, RunLock* lock, long* holder, int* error);

// Gives the lock back; a lock not held is left alone.
void RunLockRelease(RunLock* lock);
