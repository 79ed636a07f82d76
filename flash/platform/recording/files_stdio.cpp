// Image files through the C library, with faults a test can inject: a write
// that stops short, a failing write, read or close.
#include <stdio.h>

#include "platform/files.h"
#include "platform/recording/flow_recording.h"

ScriptedFileFaults FileFaults = {-1, false, false, false};

static FILE* AsFile(FileHandle file)
{
    return reinterpret_cast<FILE*>(file);
}

bool FileExists(const char* path)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    fclose(file);
    return true;
}

FileHandle FileOpenRead(const char* path)
{
    return reinterpret_cast<FileHandle>(fopen(path, "rb"));
}

FileHandle FileCreate(const char* path)
{
    return reinterpret_cast<FileHandle>(fopen(path, "wb"));
}

bool FileRead(FileHandle file, void* buffer, uint32_t length, uint32_t* done)
{
    if (FileFaults.readFails) {
        *done = 0;
        return false;
    }
    *done = static_cast<uint32_t>(fread(buffer, 1, length, AsFile(file)));
    return !ferror(AsFile(file));
}

bool FileWrite(FileHandle file, const void* buffer, uint32_t length, uint32_t* done)
{
    uint32_t count = length;
    if (FileFaults.writeLimit >= 0 && count > static_cast<uint32_t>(FileFaults.writeLimit))
        count = static_cast<uint32_t>(FileFaults.writeLimit);
    *done = static_cast<uint32_t>(fwrite(buffer, 1, count, AsFile(file)));
    return !FileFaults.writeFails && *done == count;
}

bool FileClose(FileHandle file)
{
    bool ok = fclose(AsFile(file)) == 0;
    return ok && !FileFaults.closeFails;
}

bool FileDelete(const char* path)
{
    return remove(path) == 0;
}
