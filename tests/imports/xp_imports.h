// Whether a program or driver can load on Windows XP: it may import only
// from DLLs that every such system has, and none of the functions that
// appeared later (a missing import stops the loader before main runs).
#pragma once
#include "pe_imports.h"

enum ImageKind {
    ImageProduct,      // shipped program: system DLLs, nothing newer than XP
    ImageDriver,       // kernel driver: the kernel and the HAL, nothing newer than XP
    ImageTestProgram,  // test program run under Wine: system DLLs only
};

enum : int { ImportFindingSize = 320 };

struct ImportFinding {
    char Text[ImportFindingSize];
};

// Kind by file name: .sys is a driver, anything else a program.
ImageKind ProductKind(const char* fileName);

// True when the function name is one of those that XP lacks.
bool IsPostXpFunction(const char* name);

// Fills up to max findings ("KERNEL32.dll!GetTickCount64: ..."), returns how
// many problems there are in all (which may exceed max).
int CheckImports(const PeImportTable& table, ImageKind kind, ImportFinding* findings, int max);
