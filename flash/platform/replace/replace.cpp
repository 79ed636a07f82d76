// What both systems share of the whole-or-nothing writes.
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
