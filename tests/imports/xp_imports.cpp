#include "xp_imports.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

namespace {

// DLLs present on every Windows XP (and 9x) installation that the programs
// may reasonably use. Runtime DLLs of the compiler are not among them.
const char* const ProgramDlls[] = {
    "KERNEL32.DLL",
    "USER32.DLL",
    "GDI32.DLL",
    "COMDLG32.DLL",
    "ADVAPI32.DLL",
    "LZ32.DLL",
    "MSVCRT.DLL",
    "SHELL32.DLL",
    "COMCTL32.DLL",
    "WINMM.DLL",
    "MSVFW32.DLL",
    "VERSION.DLL",
    "SETUPAPI.DLL",
    "OLE32.DLL",
};

const char* const DriverDlls[] = {
    "NTOSKRNL.EXE",
    "HAL.DLL",
};

// Functions newer than XP that compilers' runtimes or careless code pull in.
// '*' matches any run of characters, '?' one character.
const char* const PostXpFunctions[] = {
    "GetTickCount64",
    "InitOnce*",
    "*SRWLock*",
    "*ConditionVariable*",
    "Fls*",
    "CreateEventEx?",
    "CreateMutexEx?",
    "CreateSemaphoreEx?",
    "CreateWaitableTimerEx?",
    "InitializeCriticalSectionEx",
    "GetSystemTimePreciseAsFileTime",
    "GetCurrentProcessorNumber*",
    "GetErrorMode",
    "GetThreadErrorMode",
    "SetThreadErrorMode",
    "SetThreadStackGuarantee",
    "GetFileInformationByHandleEx",
    "SetFileInformationByHandle",
    "GetFinalPathNameByHandle?",
    "CreateSymbolicLink?",
    "QueryFullProcessImageName?",
    "CancelIoEx",
    "CancelSynchronousIo",
    "GetOverlappedResultEx",
    "CreateFile2",
    "GetLocaleInfoEx",
    "LCMapStringEx",
    "CompareStringEx",
    "GetUserDefaultLocaleName",
    "LocaleNameToLCID",
    "LCIDToLocaleName",
    "*Threadpool*",
    "WaitOnAddress",
    "WakeByAddress*",
    "Wow64*FsRedirection",
    "AddDllDirectory",
    "RemoveDllDirectory",
    "SetDefaultDllDirectories",
    "K32*",
    "RegGetValue?",
    "RegSetKeyValue?",
    "RegDeleteTree?",
    "RegDeleteKeyEx?",
    "RegDeleteKeyValue?",
    "RegLoadMUIString?",
    "EventRegister",
    "EventWrite*",
    "SetProcessDPIAware",
    "SetProcessDpiAwareness*",
    "ChangeWindowMessageFilter*",
    "AddClipboardFormatListener",
    "SHGetKnownFolderPath",
    "TaskDialog*",
    "ExAllocatePool2",
    "ExAllocatePool3",
    "KeQueryActiveProcessorCount*",
    "MmMapIoSpaceEx",
    "ObRegisterCallbacks",
};

bool Matches(const char* pattern, const char* text) {
    if (*pattern == 0) return *text == 0;
    if (*pattern == '*') {
        for (const char* t = text;; t++) {
            if (Matches(pattern + 1, t)) return true;
            if (*t == 0) return false;
        }
    }
    if (*text == 0) return false;
    return (*pattern == '?' || *pattern == *text) && Matches(pattern + 1, text + 1);
}

template <size_t N>
bool InList(const char* const (&list)[N], const char* dll) {
    for (const char* allowed : list)
        if (strcasecmp(allowed, dll) == 0) return true;
    return false;
}

void Note(ImportFinding* findings, int max, int* count, const char* format, const char* a, const char* b) {
    if (*count < max) snprintf(findings[*count].Text, ImportFindingSize, format, a, b);
    (*count)++;
}

}  // namespace

ImageKind ProductKind(const char* fileName) {
    size_t n = strlen(fileName);
    return n >= 4 && strcasecmp(fileName + n - 4, ".sys") == 0 ? ImageDriver : ImageProduct;
}

bool IsPostXpFunction(const char* name) {
    for (const char* pattern : PostXpFunctions)
        if (Matches(pattern, name)) return true;
    return false;
}

int CheckImports(const PeImportTable& table, ImageKind kind, ImportFinding* findings, int max) {
    int count = 0;
    for (int d = 0; d < table.DllCount; d++) {
        const char* dll = table.Dlls[d];
        bool allowed = kind == ImageDriver ? InList(DriverDlls, dll) : InList(ProgramDlls, dll);
        if (!allowed)
            Note(findings, max, &count, "%s%s: not a system DLL of Windows XP", dll,
                 kind == ImageDriver ? " (driver)" : "");
    }
    // Test programs run under Wine only; newer functions do no harm there.
    if (kind == ImageTestProgram) return count;
    for (int i = 0; i < table.ImportCount; i++) {
        const PeImport& imp = table.Imports[i];
        if (!imp.ByOrdinal && IsPostXpFunction(imp.Name))
            Note(findings, max, &count, "%s!%s: not on Windows XP", table.Dlls[imp.Dll], imp.Name);
    }
    return count;
}
