// System calls of the start-up on Linux. The program presents itself as the
// NT family so that every card access is one request to the driver (here the
// driver built into the program); there is no screen depth to check, no
// display control panel to start and no reboot from here.
#include <string.h>
#include <unistd.h>

#include "platform/system.h"

bool SysGetVersion(SysVersion* version)
{
    version->PlatformId = SysPlatformNt;
    version->Major = 5;
    version->Minor = 1;
    return true;
}

uint32_t SysGetModulePath(char* buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length <= 0) {
        buffer[0] = 0;
        return 0;
    }
    // A path that filled the buffer may have been cut: report it as too long.
    if (static_cast<uint32_t>(length) >= size) {
        buffer[size - 1] = 0;
        return size;
    }
    buffer[length] = 0;
    return static_cast<uint32_t>(length);
}

bool SysSetCurrentDirectory(const char*)
{
    // A command-line program stays in the caller's folder, so that the file
    // names on its command line mean what the caller typed.
    return true;
}

int SysScreenBitsPerPixel()
{
    return 32;
}

void SysWinExec(const char*, int)
{
}

bool SysOpenProcessToken(TokenHandle* token)
{
    *token = 0;
    return false;
}

bool SysLookupPrivilege(const char*, uint64_t* luid)
{
    *luid = 0;
    return false;
}

bool SysEnablePrivilege(TokenHandle, uint64_t)
{
    return false;
}

uint32_t SysGetLastError()
{
    return 0;
}

bool SysExitWindows(uint32_t)
{
    return false;
}
