// Whole-or-nothing file writes on Windows: GetTempFileNameA beside the
// target, FlushFileBuffers, then MoveFileExA on the NT family, or a move
// aside and back on Windows 9x, which has no MoveFileExA.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "platform/replace/replace.h"

ReplaceFamily ReplaceWindowsFamily = ReplaceFamilyUnknown;

namespace {

bool Fail(FileReplacement* r, ReplaceError error, DWORD systemError)
{
    r->error = error;
    r->systemError = systemError;
    return false;
}

HANDLE AsHandle(uintptr_t file)
{
    return reinterpret_cast<HANDLE>(file);
}

// The folder part of a path ("." when it has none), for GetTempFileNameA.
bool FolderOf(const char* path, char* folder, size_t size)
{
    const char* end = 0;
    for (const char* c = path; *c; ++c) {
        if (*c == '\\' || *c == '/' || *c == ':')
            end = c + 1;
    }
    size_t length = end ? static_cast<size_t>(end - path) : 0;
    if (length + 2 > size)
        return false;
    if (length == 0) {
        folder[0] = '.';
        folder[1] = 0;
    } else {
        memcpy(folder, path, length);
        folder[length] = 0;
    }
    return true;
}

// A device or pipe answers to a file name too ("NUL", "COM1", "\\.\..."):
// only a file on a disk is a regular file.
bool IsRegularOrAbsent(const char* path, bool* regular)
{
    *regular = true;
    if (strncmp(path, "\\\\.\\", 4) == 0 || strncmp(path, "//./", 4) == 0) {
        *regular = false;
        return true;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *regular = false;
        return true;
    }
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return true;  // absent, or a file we may not open: the move decides
    *regular = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return true;
}

bool NtFamily()
{
    if (ReplaceWindowsFamily == ReplaceFamilyUnknown) {
        OSVERSIONINFOA info;
        ZeroMemory(&info, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
        bool nt = GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        ReplaceWindowsFamily = nt ? ReplaceFamilyNt : ReplaceFamily9x;
    }
    return ReplaceWindowsFamily == ReplaceFamilyNt;
}

// Windows 9x: the old file steps aside under a name of its own, the new one
// takes its place, and only then does the old one go; if the new one cannot
// move in, the old one moves back.
bool MoveInWithoutMoveFileEx(const char* temporary, const char* target)
{
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES)
        return MoveFileA(temporary, target) != FALSE;
    char folder[ReplacePathSize];
    char aside[MAX_PATH];
    if (!FolderOf(target, folder, sizeof folder) || !GetTempFileNameA(folder, "QZ", 0, aside))
        return false;
    DeleteFileA(aside);  // MoveFileA will not replace the name GetTempFileNameA just took
    if (!MoveFileA(target, aside))
        return false;
    if (!MoveFileA(temporary, target)) {
        DWORD error = GetLastError();
        MoveFileA(aside, target);
        SetLastError(error);
        return false;
    }
    DeleteFileA(aside);
    return true;
}

}  // namespace

bool ReplaceBegin(FileReplacement* r, const char* path)
{
    r->file = 0;
    r->temporary[0] = 0;
    r->error = ReplaceNoError;
    r->systemError = 0;
    if (strlen(path) >= sizeof r->target)
        return Fail(r, ReplacePathTooLong, ERROR_FILENAME_EXCED_RANGE);
    strcpy(r->target, path);
    bool regular = true;
    IsRegularOrAbsent(path, &regular);
    if (!regular)
        return Fail(r, ReplaceNotRegular, ERROR_ACCESS_DENIED);
    char folder[ReplacePathSize];
    if (!FolderOf(path, folder, sizeof folder))
        return Fail(r, ReplacePathTooLong, ERROR_FILENAME_EXCED_RANGE);
    // The name is taken by creating an empty file under it.
    if (!GetTempFileNameA(folder, "QZ", 0, r->temporary))
        return Fail(r, ReplaceSystemError, GetLastError());
    HANDLE h = CreateFileA(r->temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        DeleteFileA(r->temporary);
        return Fail(r, ReplaceSystemError, error);
    }
    r->file = reinterpret_cast<uintptr_t>(h);
    return true;
}

bool ReplaceWrite(FileReplacement* r, const void* data, uint32_t length, uint32_t* done)
{
    *done = 0;
    if (!r->file)
        return Fail(r, ReplaceSystemError, ERROR_INVALID_HANDLE);
    const char* bytes = static_cast<const char*>(data);
    while (*done < length) {
        DWORD count = 0;
        if (!WriteFile(AsHandle(r->file), bytes + *done, length - *done, &count, NULL))
            return Fail(r, ReplaceSystemError, GetLastError());
        if (count == 0)
            return Fail(r, ReplaceSystemError, ERROR_DISK_FULL);
        *done += count;
    }
    return true;
}

bool ReplaceCommit(FileReplacement* r)
{
    if (!r->file)
        return Fail(r, ReplaceSystemError, ERROR_INVALID_HANDLE);
    HANDLE h = AsHandle(r->file);
    r->file = 0;
    DWORD failure = 0;
    if (!FlushFileBuffers(h))
        failure = GetLastError();
    if (!CloseHandle(h) && failure == 0)
        failure = GetLastError();
    if (failure == 0) {
        bool moved = NtFamily()
            ? MoveFileExA(r->temporary, r->target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE
            : MoveInWithoutMoveFileEx(r->temporary, r->target);
        if (!moved)
            failure = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    }
    if (failure != 0) {
        DeleteFileA(r->temporary);
        return Fail(r, ReplaceSystemError, failure);
    }
    return true;
}

void ReplaceAbort(FileReplacement* r)
{
    if (!r->file)
        return;
    CloseHandle(AsHandle(r->file));
    DeleteFileA(r->temporary);
    r->file = 0;
}

void ReplaceSystemErrorText(uint32_t error, char* text, uint32_t size)
{
    snprintf(text, size, "system error %lu", static_cast<unsigned long>(error));
}
