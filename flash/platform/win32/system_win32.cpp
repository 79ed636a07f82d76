// Version, program path, screen depth, process start and reboot calls.
#include <windows.h>

#include "platform/system.h"

bool SysGetVersion(SysVersion* version)
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;   // 148
    if (!GetVersionExA(&info))
        return false;
    version->PlatformId = info.dwPlatformId;
    version->Major = info.dwMajorVersion;
    version->Minor = info.dwMinorVersion;
    return true;
}

uint32_t SysGetModulePath(char* buffer, uint32_t size)
{
    return GetModuleFileNameA(GetModuleHandleA(NULL), buffer, size);
}

bool SysSetCurrentDirectory(const char* path)
{
    return SetCurrentDirectoryA(path) != FALSE;
}

int SysScreenBitsPerPixel()
{
    HDC screen = GetDC(NULL);
    int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(NULL, screen);
    return bits;
}

void SysWinExec(const char* commandLine, int show)
{
    WinExec(commandLine, show);
}

bool SysOpenProcessToken(TokenHandle* token)
{
    HANDLE handle = NULL;
    BOOL ok = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &handle);
    *token = reinterpret_cast<TokenHandle>(handle);
    return ok != FALSE;
}

bool SysLookupPrivilege(const char* name, uint64_t* luid)
{
    LUID value = {};
    BOOL ok = LookupPrivilegeValueA(NULL, name, &value);
    *luid = (static_cast<uint64_t>(static_cast<uint32_t>(value.HighPart)) << 32) | value.LowPart;
    return ok != FALSE;
}

bool SysEnablePrivilege(TokenHandle token, uint64_t luid)
{
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), FALSE, &privileges, 0, NULL, NULL) != FALSE;
}

uint32_t SysGetLastError()
{
    return GetLastError();
}

bool SysExitWindows(uint32_t flags)
{
    return ExitWindowsEx(flags, 0) != FALSE;
}
