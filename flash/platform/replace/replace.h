// Writing a file whole or not at all. The bytes go into a new temporary file
// in the target's own folder; only a commit, once they are flushed to the
// disk, puts that file in the target's place, in one step. Until then, and
// after any failure, the target is exactly as it was, and the temporary file
// is removed. A target that exists and is not a regular file (a device, a
// pipe, a folder) is refused before anything is created.
//
// POSIX (replace_posix.cpp): mkstemp, fsync, rename. A symbolic link is
// followed: the file it finally names is replaced in its own folder and the
// link stays; a link that leads nowhere is refused. The new file takes the
// old one's permissions (and owner, where allowed); another hard link to the
// old file keeps the old contents. A process ended in the middle leaves its
// temporary file (".NAME.XXXXXX") beside the target.
// Win32 (replace_win32.cpp): GetTempFileNameA, FlushFileBuffers, then
// MoveFileExA with MOVEFILE_REPLACE_EXISTING on the NT family; Windows 9x has
// no MoveFileExA, so there the old file is moved aside, the new one moved in
// and the old one deleted, or moved back when the move fails (in between,
// the old file stands under its temporary name, never lost).
//
// Used by the files seams (flash/platform/*/files_*.cpp) and by the virtual
// card's host layer for its part files.
#pragma once
#include <stdint.h>

enum : uint32_t { ReplacePathSize = 1024 };

enum ReplaceError : uint8_t {
    ReplaceNoError,
    ReplaceNotRegular,    // the target exists and is not a regular file
    ReplaceDanglingLink,  // the target is a symbolic link that leads nowhere
    ReplacePathTooLong,
    ReplaceSystemError,  // a system call failed: `systemError` holds errno or GetLastError
};

struct FileReplacement {
    uintptr_t file;                // the temporary file; 0 when none is open
    char target[ReplacePathSize];  // the file that is replaced
    char temporary[ReplacePathSize];
    ReplaceError error;  // why the last call failed
    uint32_t systemError;
};

// Checks the target and creates the temporary file. False (nothing created,
// nothing touched) with `error` set on failure.
bool ReplaceBegin(FileReplacement* r, const char* path);

// Appends `length` bytes to the temporary file; *done is how many were stored.
bool ReplaceWrite(FileReplacement* r, const void* data, uint32_t length, uint32_t* done);

// Flushes the temporary file, closes it and puts it in the target's place.
// False: the target is as it was and the temporary file is gone. Ends the
// replacement either way.
bool ReplaceCommit(FileReplacement* r);

// Gives the replacement up: the temporary file goes, the target stays.
void ReplaceAbort(FileReplacement* r);

// All of `data` as the new contents of `path`, whole or not at all.
bool ReplaceWholeFile(FileReplacement* r, const char* path, const void* data, uint32_t length);

// A line for people: why the replacement of `path` failed.
void ReplaceDescribe(const FileReplacement* r, const char* path, char* text, uint32_t size);
// The system's text for errno (POSIX) or a GetLastError code (Win32).
void ReplaceSystemErrorText(uint32_t error, char* text, uint32_t size);

#if defined(_WIN32)
// How the new file takes the target's place: set from the platform id of
// GetVersionExA at the first commit, as the program tells the platform
// family; a test may set it first to take the other road.
enum ReplaceFamily : uint8_t { ReplaceFamilyUnknown, ReplaceFamily9x, ReplaceFamilyNt };
extern ReplaceFamily ReplaceWindowsFamily;
#endif
