// There is no service manager on Linux: the driver is part of the program
// and is either reachable at once or not at all, so every step fails.
#include "platform/services.h"

ServiceHandle SvcOpenManager()
{
    return 0;
}

ServiceHandle SvcCreate(ServiceHandle, const char*, const char*, uint32_t* error)
{
    *error = 0;
    return 0;
}

ServiceHandle SvcOpen(ServiceHandle, const char*)
{
    return 0;
}

bool SvcStart(ServiceHandle, uint32_t* error)
{
    *error = 0;
    return false;
}

bool SvcStop(ServiceHandle)
{
    return false;
}

bool SvcDelete(ServiceHandle)
{
    return false;
}

void SvcClose(ServiceHandle)
{
}

bool SvcGetImagePath(ServiceHandle, char* path, uint32_t size)
{
    if (size > 0)
        path[0] = 0;
    return false;
}

bool SvcSetImagePath(ServiceHandle, const char*)
{
    return false;
}

bool SvcIsStopped(ServiceHandle)
{
    return false;
}
