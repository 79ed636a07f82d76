// Seam to the kernel and session services QZFlash needs at start-up and for a
// reboot: one function per system call. Win32: GetVersionExA,
// GetModuleFileNameA, SetCurrentDirectoryA, GetDC / GetDeviceCaps(BITSPIXEL),
// WinExec, OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges,
// GetLastError, ExitWindowsEx.
#pragma once
#include <stdint.h>

enum : uint32_t { SysPlatformNt = 2 };   // VER_PLATFORM_WIN32_NT
enum : uint32_t { SysExitLogoff = 0, SysExitReboot = 2 };
enum : int { SysShowNormal = 1 };        // SW_SHOWNORMAL

struct SysVersion {
    uint32_t PlatformId;
    uint32_t Major;
    uint32_t Minor;
};

bool SysGetVersion(SysVersion* version);

// Full path of the running program. Returns the characters stored without the
// terminator; a result of size or more means the path did not fit.
uint32_t SysGetModulePath(char* buffer, uint32_t size);

bool SysSetCurrentDirectory(const char* path);

// Bits per pixel of the whole screen.
int SysScreenBitsPerPixel();

// Starts a command line without waiting for it.
void SysWinExec(const char* commandLine, int show);

typedef uintptr_t TokenHandle;   // 0 = none

// The current process's token with TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY.
bool SysOpenProcessToken(TokenHandle* token);
// LookupPrivilegeValueA on the local system, then AdjustTokenPrivileges
// enabling that one privilege without keeping the previous state.
bool SysLookupPrivilege(const char* name, uint64_t* luid);
bool SysEnablePrivilege(TokenHandle token, uint64_t luid);
uint32_t SysGetLastError();
bool SysExitWindows(uint32_t flags);
