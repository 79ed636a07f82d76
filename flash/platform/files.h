// Seam to the file system for image files and the driver file check.
// Win32: OpenFile(OF_EXIST), CreateFileA, ReadFile, WriteFile, CloseHandle,
// DeleteFileA. Elsewhere the C library does the same.
#pragma once
#include <stdint.h>

typedef uintptr_t FileHandle;   // 0 = none

// True when the path names an existing file.
bool FileExists(const char* path);

// Opens an existing file for reading raw bytes. 0 on failure.
FileHandle FileOpenRead(const char* path);

// Creates the file, or truncates an existing one, for writing raw bytes
// (no sharing, normal attributes). 0 on failure.
FileHandle FileCreate(const char* path);

// Reads up to `length` bytes; *done is how many arrived (0 at the end).
bool FileRead(FileHandle file, void* buffer, uint32_t length, uint32_t* done);

// Writes `length` bytes; *done is how many were written.
bool FileWrite(FileHandle file, const void* buffer, uint32_t length, uint32_t* done);

// False when the data could not be committed (a full disk may only tell here).
bool FileClose(FileHandle file);

bool FileDelete(const char* path);
