// Image files and the driver file check through the Win32 file calls.
#include <windows.h>

#include "platform/files.h"

static HANDLE AsHandle(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

static FileHandle FromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<FileHandle>(handle);
}

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
    return FromHandle(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
}

bool FileRead(FileHandle file, void* buffer, uint32_t length, uint32_t* done)
{
    DWORD count = 0;
    BOOL ok = ReadFile(AsHandle(file), buffer, length, &count, NULL);
    *done = count;
    return ok != FALSE;
}

bool FileWrite(FileHandle file, const void* buffer, uint32_t length, uint32_t* done)
{
    DWORD count = 0;
    BOOL ok = WriteFile(AsHandle(file), buffer, length, &count, NULL);
    *done = count;
    return ok != FALSE;
}

bool FileClose(FileHandle file)
{
    return CloseHandle(AsHandle(file)) != FALSE;
}

bool FileDelete(const char* path)
{
    return DeleteFileA(path) != FALSE;
}
