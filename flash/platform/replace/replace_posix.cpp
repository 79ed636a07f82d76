// Whole-or-nothing file writes on POSIX systems: mkstemp beside the target,
// fsync, rename.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/replace/replace.h"

namespace {

bool Fail(FileReplacement* r, ReplaceError error, int systemError)
{
    r->error = error;
    r->systemError = static_cast<uint32_t>(systemError);
    errno = systemError;
    return false;
}

// The file a path finally names: the path itself, or where its links lead.
bool ResolveTarget(FileReplacement* r, const char* path, struct stat* info, bool* exists)
{
    if (strlen(path) >= sizeof r->target)
        return Fail(r, ReplacePathTooLong, ENAMETOOLONG);
    snprintf(r->target, sizeof r->target, "%s", path);
    *exists = false;
    if (lstat(path, info) != 0)
        return errno == ENOENT ? true : Fail(r, ReplaceSystemError, errno);
    if (S_ISLNK(info->st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(path, resolved))
            return errno == ENOENT || errno == ELOOP ? Fail(r, ReplaceDanglingLink, errno)
                                                     : Fail(r, ReplaceSystemError, errno);
        size_t length = strlen(resolved);
        if (length >= sizeof r->target)
            return Fail(r, ReplacePathTooLong, ENAMETOOLONG);
        memcpy(r->target, resolved, length + 1);
        if (stat(r->target, info) != 0)
            return Fail(r, ReplaceSystemError, errno);
    }
    if (!S_ISREG(info->st_mode))
        return Fail(r, ReplaceNotRegular, EINVAL);
    *exists = true;
    return true;
}

// "<folder>/.<name>.XXXXXX", the name cut so that the whole stays one
// file-name component.
bool TemporaryPattern(FileReplacement* r)
{
    const char* slash = strrchr(r->target, '/');
    int folderLength = slash ? static_cast<int>(slash - r->target + 1) : 0;
    const char* name = r->target + folderLength;
    int n = snprintf(r->temporary, sizeof r->temporary, "%.*s.%.100s.XXXXXX", folderLength, r->target, name);
    return n > 0 && n < static_cast<int>(sizeof r->temporary);
}

void SyncFolder(const char* target)
{
    char folder[ReplacePathSize];
    snprintf(folder, sizeof folder, "%s", target);
    char* slash = strrchr(folder, '/');
    if (!slash)
        snprintf(folder, sizeof folder, ".");
    else if (slash == folder)
        folder[1] = 0;
    else
        *slash = 0;
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);  // the rename itself reaches the disk; best effort
        close(fd);
    }
}

int Descriptor(const FileReplacement* r)
{
    return static_cast<int>(r->file) - 1;
}

}  // namespace

bool ReplaceBegin(FileReplacement* r, const char* path)
{
    r->file = 0;
    r->temporary[0] = 0;
    r->error = ReplaceNoError;
    r->systemError = 0;
    struct stat old;
    bool exists = false;
    if (!ResolveTarget(r, path, &old, &exists))
        return false;
    if (!TemporaryPattern(r))
        return Fail(r, ReplacePathTooLong, ENAMETOOLONG);
    int fd = mkstemp(r->temporary);
    if (fd < 0)
        return Fail(r, ReplaceSystemError, errno);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    if (exists) {
        // The owner first: a change of owner may clear the set-id bits.
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only the superuser may give a file away; the caller keeps it.
        }
        fchmod(fd, old.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    r->file = static_cast<uintptr_t>(fd) + 1;
    return true;
}

bool ReplaceWrite(FileReplacement* r, const void* data, uint32_t length, uint32_t* done)
{
    *done = 0;
    if (!r->file)
        return Fail(r, ReplaceSystemError, EBADF);
    const char* bytes = static_cast<const char*>(data);
    while (*done < length) {
        ssize_t n = write(Descriptor(r), bytes + *done, length - *done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(r, ReplaceSystemError, n < 0 ? errno : ENOSPC);
        *done += static_cast<uint32_t>(n);
    }
    return true;
}

bool ReplaceCommit(FileReplacement* r)
{
    if (!r->file)
        return Fail(r, ReplaceSystemError, EBADF);
    int fd = Descriptor(r);
    r->file = 0;
    int failure = 0;
    if (fsync(fd) != 0)
        failure = errno;
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && rename(r->temporary, r->target) != 0)
        failure = errno;
    if (failure != 0) {
        unlink(r->temporary);
        return Fail(r, ReplaceSystemError, failure);
    }
    SyncFolder(r->target);
    return true;
}

void ReplaceAbort(FileReplacement* r)
{
    if (!r->file)
        return;
    int saved = errno;
    close(Descriptor(r));
    unlink(r->temporary);
    r->file = 0;
    errno = saved;
}

void ReplaceSystemErrorText(uint32_t error, char* text, uint32_t size)
{
    snprintf(text, size, "%s", strerror(static_cast<int>(error)));
}
