// Image files on the real file system, written whole or not at all
// (platform/replace) as the programs write them, with faults a test can
// inject: a write that stops short, a failing write, read or commit.
#include <stdio.h>

#include "platform/files.h"
#include "platform/recording/flow_recording.h"
#include "platform/replace/replace.h"

ScriptedFileFaults FileFaults = {-1, false, false, false};

namespace {

FILE* AsFile(FileHandle file)
{
    return reinterpret_cast<FILE*>(file);
}

FileReplacement Writing;
bool WritingBusy;

}  // namespace

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
    if (WritingBusy || !ReplaceBegin(&Writing, path))
        return 0;
    WritingBusy = true;
    return reinterpret_cast<FileHandle>(&Writing);
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

bool FileWrite(FileHandle, const void* buffer, uint32_t length, uint32_t* done)
{
    uint32_t count = length;
    if (FileFaults.writeLimit >= 0 && count > static_cast<uint32_t>(FileFaults.writeLimit))
        count = static_cast<uint32_t>(FileFaults.writeLimit);
    if (!ReplaceWrite(&Writing, buffer, count, done))
        return false;
    return !FileFaults.writeFails && *done == count;
}

bool FileCommit(FileHandle)
{
    WritingBusy = false;
    // The data never reached the disk.
    if (FileFaults.closeFails) {
        ReplaceAbort(&Writing);
        return false;
    }
    return ReplaceCommit(&Writing);
}

void FileAbort(FileHandle)
{
    WritingBusy = false;
    ReplaceAbort(&Writing);
}

bool FileClose(FileHandle file)
{
    return fclose(AsFile(file)) == 0;
}
