// What both systems share of the whole-or-nothing writes.
#include <stdio.h>

#include "platform/replace/replace.h"

bool ReplaceWholeFile(FileReplacement* r, const char* path, const void* data, uint32_t length)
{
    if (!ReplaceBegin(r, path))
        return false;
    uint32_t done = 0;
    if (!ReplaceWrite(r, data, length, &done)) {
        ReplaceAbort(r);
        return false;
    }
    return ReplaceCommit(r);
}

void ReplaceDescribe(const FileReplacement* r, const char* path, char* text, uint32_t size)
{
    char system[128];
    switch (r->error) {
    case ReplaceNotRegular:
        snprintf(text, size, "%s is not a regular file; it was left as it is", path);
        break;
    case ReplaceDanglingLink:
        snprintf(text, size, "%s is a symbolic link that leads to no file; it was left as it is", path);
        break;
    case ReplacePathTooLong:
        snprintf(text, size, "%s: the path is too long", path);
        break;
    default:
        ReplaceSystemErrorText(r->systemError, system, sizeof system);
        snprintf(text, size, "%s: %s; nothing at that path was changed", path, system);
        break;
    }
}
