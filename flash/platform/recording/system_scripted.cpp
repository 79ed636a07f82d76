// Scripted version, program path and screen; recorded process starts and
// reboot calls.
#include <string.h>

#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"

ScriptedSystem ScriptedSys;

static void CopyBounded(char* dst, size_t size, const char* src)
{
    size_t n = 0;
    while (src && n + 1 < size && src[n]) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
}

bool SysGetVersion(SysVersion* version)
{
    if (ScriptedSys.versionFails)
        return false;
    *version = ScriptedSys.version;
    return true;
}

uint32_t SysGetModulePath(char* buffer, uint32_t size)
{
    // Like the system call: a path that does not fit is cut, and the result
    // is then the buffer's size.
    uint32_t length = static_cast<uint32_t>(strlen(ScriptedSys.modulePath));
    if (size == 0)
        return 0;
    CopyBounded(buffer, size, ScriptedSys.modulePath);
    // What lies past the terminator is the caller's old contents; make it
    // something a caller that reads on would trip over.
    if (length + 1 < size)
        memset(buffer + length + 1, '\\', size - length - 1);
    return length < size ? length : size;
}

bool SysSetCurrentDirectory(const char* path)
{
    CopyBounded(ScriptedSys.currentDirectory, sizeof ScriptedSys.currentDirectory, path);
    return true;
}

int SysScreenBitsPerPixel()
{
    return ScriptedSys.bitsPerPixel;
}

void SysWinExec(const char* commandLine, int show)
{
    ++ScriptedSys.winExecCount;
    CopyBounded(ScriptedSys.winExecCommand, sizeof ScriptedSys.winExecCommand, commandLine);
    ScriptedSys.winExecShow = show;
    ScriptedSys.winExecBoxesBefore = Recording.boxCount;
}

bool SysOpenProcessToken(TokenHandle* token)
{
    *token = ScriptedSys.tokenFails ? 0 : 0x70CE;
    return !ScriptedSys.tokenFails;
}

bool SysLookupPrivilege(const char* name, uint64_t* luid)
{
    CopyBounded(ScriptedSys.privilegeName, sizeof ScriptedSys.privilegeName, name);
    *luid = 19;
    return true;
}

bool SysEnablePrivilege(TokenHandle token, uint64_t luid)
{
    ScriptedSys.privilegeEnabled = token != 0 && luid == 19;
    return ScriptedSys.privilegeEnabled;
}

uint32_t SysGetLastError()
{
    return ScriptedSys.lastErrorAfterAdjust;
}

bool SysExitWindows(uint32_t flags)
{
    if (ScriptedSys.exitCount < ScriptedExitCapacity)
        ScriptedSys.exitFlags[ScriptedSys.exitCount] = flags;
    ++ScriptedSys.exitCount;
    return !ScriptedSys.exitFails;
}
