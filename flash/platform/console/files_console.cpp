// Image files through the C library; the update's image as the front end
// handed it over. Files are written whole or not at all (platform/replace).
// A failed operation is noted with its errno, for the front end to name
// beside the program's own text; a target that is no regular file, which no
// errno names, is told here.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "hw/driver_setup.h"
#include "platform/console/console.h"
#include "platform/files.h"
#include "platform/replace/replace.h"

namespace {

// The handed-over image, read like a file.
struct HandedFile {
    const uint8_t* bytes;
    uint32_t length;
    uint32_t at;
} Handed;
const FileHandle HandedHandle = reinterpret_cast<FileHandle>(&Handed);

// The file last opened, for the note of a later write or close that fails.
char OpenedPath[sizeof ConsoleSeen.fileErrorPath];

FILE* AsFile(FileHandle file)
{
    return reinterpret_cast<FILE*>(file);
}

void NoteOpened(const char* path)
{
    snprintf(OpenedPath, sizeof OpenedPath, "%s", path);
}

void NoteFailure(const char* path, int error)
{
    ConsoleSeen.fileError = error != 0 ? error : EIO;
    snprintf(ConsoleSeen.fileErrorPath, sizeof ConsoleSeen.fileErrorPath, "%s", path);
}

// The one file being written.
FileReplacement Writing;
bool WritingBusy;
char WritingPath[sizeof ConsoleSeen.fileErrorPath];

void NoteWriteFailure()
{
    if (Writing.error == ReplaceSystemError) {
        NoteFailure(WritingPath, static_cast<int>(Writing.systemError));
        return;
    }
    char line[2 * ReplacePathSize + 64];
    ReplaceDescribe(&Writing, WritingPath, line, sizeof line);
    fprintf(ConsoleErr ? ConsoleErr : stderr, "qzflash: %s.\n", line);
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
    if (ConsoleImageChoice.path) {
        // The image was read and checked before the flow ran; the file is
        // never opened a second time.
        ConsoleHandedImage image = ConsoleImageChoice;
        ConsoleImageChoice = ConsoleHandedImage{};
        if (!image.bytes || strcmp(image.path, path) != 0)
            return 0;
        Handed = HandedFile{image.bytes, image.length, 0};
        return HandedHandle;
    }
    FILE* file = fopen(path, "rb");
    if (file)
        NoteOpened(path);
    else
        NoteFailure(path, errno);
    return reinterpret_cast<FileHandle>(file);
}

FileHandle FileCreate(const char* path)
{
    if (WritingBusy)
        return 0;
    snprintf(WritingPath, sizeof WritingPath, "%s", path);
    if (!ReplaceBegin(&Writing, path)) {
        NoteWriteFailure();
        return 0;
    }
    WritingBusy = true;
    return reinterpret_cast<FileHandle>(&Writing);
}

bool FileRead(FileHandle file, void* buffer, uint32_t length, uint32_t* done)
{
    if (file == HandedHandle) {
        uint32_t left = Handed.length - Handed.at;
        *done = length < left ? length : left;
        memcpy(buffer, Handed.bytes + Handed.at, *done);
        Handed.at += *done;
        return true;
    }
    *done = static_cast<uint32_t>(fread(buffer, 1, length, AsFile(file)));
    return !ferror(AsFile(file));
}

bool FileWrite(FileHandle, const void* buffer, uint32_t length, uint32_t* done)
{
    if (ReplaceWrite(&Writing, buffer, length, done))
        return true;
    NoteWriteFailure();
    return false;
}

bool FileCommit(FileHandle)
{
    WritingBusy = false;
    if (ReplaceCommit(&Writing))
        return true;
    NoteWriteFailure();
    return false;
}

void FileAbort(FileHandle)
{
    WritingBusy = false;
    ReplaceAbort(&Writing);
}

bool FileClose(FileHandle file)
{
    if (file == HandedHandle)
        return true;
    errno = 0;
    if (fclose(AsFile(file)) == 0)
        return true;
    NoteFailure(OpenedPath, errno);
    return false;
}
