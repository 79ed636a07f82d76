// Image files through the C library.
#include <stdio.h>
#include <strings.h>
#include <unistd.h>

#include "hw/driver_setup.h"
#include "platform/console/console.h"
#include "platform/files.h"

namespace {

FILE* AsFile(FileHandle file)
{
    return reinterpret_cast<FILE*>(file);
}

const char* NamePart(const char* path)
{
    const char* name = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '/' || *c == '\\')
            name = c + 1;
    }
    return name;
}

}  // namespace

bool FileExists(const char* path)
{
    // The start-up looks for the kernel driver's file beside the program; on
    // Linux the driver is built into the program itself.
    if (strcasecmp(NamePart(path), DriverImageName) == 0)
        return ConsoleDriverBuiltIn;
    return access(path, F_OK) == 0;
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
    *done = static_cast<uint32_t>(fread(buffer, 1, length, AsFile(file)));
    return !ferror(AsFile(file));
}

bool FileWrite(FileHandle file, const void* buffer, uint32_t length, uint32_t* done)
{
    *done = static_cast<uint32_t>(fwrite(buffer, 1, length, AsFile(file)));
    return *done == length;
}

bool FileClose(FileHandle file)
{
    return fclose(AsFile(file)) == 0;
}

bool FileDelete(const char* path)
{
    return remove(path) == 0;
}
