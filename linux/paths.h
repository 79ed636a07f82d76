// Where qzflash's own files are: the example profiles, found relative to the
// program wherever it is installed, and the folder the backups go to.
#pragma once
#include <stddef.h>

// The example profiles: share/qzflash/profiles beside the program's folder
// (../share/qzflash/profiles from /proc/self/exe). False when there is no
// such folder; `folder` then holds the one the build was configured for.
bool ExamplesFolder(char* folder, size_t size);

// The profile file `given` names: the path itself when something is there;
// otherwise, for a bare name, the example of that name, or of that name with
// ".profile" added. `*example` says an example was taken. False when neither
// is there (`path` then holds `given`, for the load to name).
bool FindProfile(const char* given, char* path, size_t size, bool* example);

// The backup folder: $XDG_STATE_HOME/qzflash/backups, else
// ~/.local/state/qzflash/backups. Root started by another user through sudo
// takes its own home from the password database, whatever HOME and
// XDG_STATE_HOME were kept of that user. False with the reason in `why`.
bool BackupFolder(char* folder, size_t size, char* why, size_t whySize);

// Makes `path` and every missing folder above it (mode 0700 for new ones).
// False with errno set.
bool MakeFolders(const char* path);
