#include "linux/paths.h"

#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QZFLASH_PROFILE_DIR
#define QZFLASH_PROFILE_DIR "/usr/local/share/qzflash/profiles"
#endif

namespace {

bool IsFolder(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

// Root started by another user through sudo: the environment may still be
// that user's.
bool RootForAnotherUser()
{
    const char* sudoUid = getenv("SUDO_UID");
    return geteuid() == 0 && sudoUid && sudoUid[0] && strcmp(sudoUid, "0") != 0;
}

// The home folder of the user the program runs as: HOME, or the password
// database's (always that one for root started by another user).
const char* HomeFolder()
{
    const char* home = getenv("HOME");
    if (!RootForAnotherUser() && home && home[0] == '/')
        return home;
    struct passwd* entry = getpwuid(geteuid());
    return entry && entry->pw_dir && entry->pw_dir[0] == '/' ? entry->pw_dir : 0;
}

}  // namespace

bool ExamplesFolder(char* folder, size_t size)
{
    char program[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length > 0) {
        program[length] = 0;
        char* slash = strrchr(program, '/');
        if (slash) {
            *slash = 0;
            char candidate[PATH_MAX + 32];
            snprintf(candidate, sizeof candidate, "%s/../share/qzflash/profiles", program);
            char resolved[PATH_MAX];
            if (realpath(candidate, resolved) && IsFolder(resolved)) {
                snprintf(folder, size, "%s", resolved);
                return true;
            }
        }
    }
    snprintf(folder, size, "%s", QZFLASH_PROFILE_DIR);
    return false;
}

bool FindProfile(const char* given, char* path, size_t size, bool* example)
{
    *example = false;
    snprintf(path, size, "%s", given);
    if (Exists(given) || strchr(given, '/') || given[0] == 0)
        return Exists(given);
    char folder[PATH_MAX];
    if (!ExamplesFolder(folder, sizeof folder))
        return false;
    const char* const suffixes[] = {"", ".profile"};
    for (const char* suffix : suffixes) {
        char candidate[PATH_MAX + 300];
        snprintf(candidate, sizeof candidate, "%s/%s%s", folder, given, suffix);
        if (Exists(candidate) && strlen(candidate) < size) {
            snprintf(path, size, "%s", candidate);
            *example = true;
            return true;
        }
    }
    return false;
}

bool BackupFolder(char* folder, size_t size, char* why, size_t whySize)
{
    // Root started through sudo keeps to its own folder rather than write
    // into one the invoking user controls.
    const char* state = getenv("XDG_STATE_HOME");
    int n = 0;
    if (!RootForAnotherUser() && state && state[0] == '/') {
        n = snprintf(folder, size, "%s/qzflash/backups", state);
    } else {
        const char* home = HomeFolder();
        if (!home) {
            snprintf(why, whySize, "no home folder is known for this user");
            return false;
        }
        n = snprintf(folder, size, "%s/.local/state/qzflash/backups", strcmp(home, "/") == 0 ? "" : home);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        snprintf(why, whySize, "the backup folder's path is too long");
        return false;
    }
    return true;
}

bool MakeFolders(const char* path)
{
    char partial[PATH_MAX];
    if (strlen(path) >= sizeof partial) {
        errno = ENAMETOOLONG;
        return false;
    }
    snprintf(partial, sizeof partial, "%s", path);
    for (char* c = partial + 1;; ++c) {
        if (*c != '/' && *c != 0)
            continue;
        char end = *c;
        *c = 0;
        if (mkdir(partial, 0700) != 0 && errno != EEXIST)
            return false;
        if (!IsFolder(partial)) {
            errno = ENOTDIR;
            return false;
        }
        if (end == 0)
            return true;
        *c = end;
    }
}
