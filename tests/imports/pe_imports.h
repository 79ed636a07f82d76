// Reads the import tables of a Windows program or driver (PE32 or PE32+):
// which DLLs it needs and which functions it takes from each, both the ones
// bound at load time and the delay-loaded ones.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : int {
    PeNameSize = 256,     // longer names are cut; a cut name still names its DLL
    PeMaxDlls = 64,
    PeMaxImports = 4096,
    PeErrorSize = 160,
};

enum : uint16_t {
    PeMachineI386 = 0x014C,
    PeMachineAmd64 = 0x8664,
};

struct PeImport {
    int Dll;              // index into PeImportTable::Dlls
    bool ByOrdinal;
    uint16_t Ordinal;     // when ByOrdinal
    char Name[PeNameSize];
};

struct PeImportTable {
    uint16_t Machine;
    bool Pe32Plus;
    uint16_t Subsystem;   // 1 native (drivers), 2 GUI, 3 console
    int DllCount;
    char Dlls[PeMaxDlls][PeNameSize];
    bool DllDelayed[PeMaxDlls];
    int ImportCount;
    PeImport Imports[PeMaxImports];
    char Error[PeErrorSize];  // why the last read failed
};

// Parses an image held in memory. On failure returns false with Error set;
// the table then holds what was read before the fault.
bool ReadPeImports(const uint8_t* image, size_t size, PeImportTable* table);

// Reads the whole file and parses it.
bool ReadPeImportsFromFile(const char* path, PeImportTable* table);
