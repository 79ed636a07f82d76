// Seam to the file system for image files and the driver file check.
// Win32: OpenFile(OF_EXIST), CreateFileA, ReadFile, WriteFile, CloseHandle;
// files are written through platform/replace (a temporary file beside the
// target, FlushFileBuffers, MoveFileExA). Elsewhere the C library and POSIX
// do the same.
#pragma once
#include <stdint.h>

typedef uintptr_t FileHandle;   // 0 = none

// True when the path names an existing file.
bool FileExists(const char* path);

// Opens an existing file for reading raw bytes. 0 on failure. Ends with
// FileClose.
FileHandle FileOpenRead(const char* path);

// Begins writing `path` whole or not at all: the bytes go to a new temporary
// file in the same folder, and whatever is at `path` stays exactly as it is
// until FileCommit puts the new file in its place. A path that exists and is
// not a regular file (a device, a pipe, a folder) is refused untouched. 0 on
// failure. Ends with FileCommit or FileAbort; one file is written at a time.
FileHandle FileCreate(const char* path);

// Reads up to `length` bytes; *done is how many arrived (0 at the end).
bool FileRead(FileHandle file, void* buffer, uint32_t length, uint32_t* done);

// Writes `length` bytes; *done is how many were written.
bool FileWrite(FileHandle file, const void* buffer, uint32_t length, uint32_t* done);

// Flushes the new file to the disk and puts it in the place of the old one in
// one step. False when that failed (a full disk may only tell here): the old
// file is as it was and the new one is gone.
bool FileCommit(FileHandle file);

// Gives a new file up: it is removed, the old one stays as it was.
void FileAbort(FileHandle file);

// Ends a file opened for reading.
bool FileClose(FileHandle file);
