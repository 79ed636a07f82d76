// Image files and the driver file check through the Win32 file calls; files
// are written whole or not at all (platform/replace).
#include <windows.h>

#include "platform/files.h"
#include "platform/replace/replace.h"

static HANDLE AsHandle(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

static FileHandle FromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<FileHandle>(handle);
}

// The one file being written.
static FileReplacement Writing;
static bool WritingBusy;

bool FileExists(const char* path)
{
    OFSTRUCT info;
    return OpenFile(path, &info, OF_EXIST) != HFILE_ERROR;
}

FileHandle FileOpenRead(const char* path)
{
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  NULL));
}

FileHandle FileCreate(const char* path)
{
    if (WritingBusy || !ReplaceBegin(&Writing, path))
        return 0;
    WritingBusy = true;
    return reinterpret_cast<FileHandle>(&Writing);
}

bool FileRead(FileHandle file, void* buffer, uint32_t length, uint32_t* done)
{
    DWORD count = 0;
    BOOL ok = ReadFile(AsHandle(file), buffer, length, &count, NULL);
    *done = count;
    return ok != FALSE;
}

bool FileWrite(FileHandle, const void* buffer, uint32_t length, uint32_t* done)
{
    return ReplaceWrite(&Writing, buffer, length, done);
}

bool FileCommit(FileHandle)
{
    WritingBusy = false;
    return ReplaceCommit(&Writing);
}

void FileAbort(FileHandle)
{
    WritingBusy = false;
    ReplaceAbort(&Writing);
}

bool FileClose(FileHandle file)
{
    return CloseHandle(AsHandle(file)) != FALSE;
}
