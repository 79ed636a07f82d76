#include "pe_imports.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

enum : uint32_t {
    DirImport = 1,
    DirDelayImport = 13,
    ImportDescriptorSize = 20,
    DelayDescriptorSize = 32,
    SectionHeaderSize = 40,
    // Guards against descriptor or thunk lists that never end.
    MaxDescriptors = 1024,
};

struct Section {
    uint32_t VirtualAddress;
    uint32_t VirtualSize;
    uint32_t RawOffset;
    uint32_t RawSize;
};

struct Image {
    const uint8_t* Data;
    size_t Size;
    bool Pe32Plus;
    uint64_t ImageBase;
    uint32_t HeadersSize;
    const uint8_t* SectionTable;
    uint32_t SectionCount;
};

bool Fail(PeImportTable* t, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(t->Error, sizeof t->Error, format, args);
    va_end(args);
    return false;
}

bool Read16(const Image& img, uint64_t offset, uint16_t* value) {
    if (offset + 2 > img.Size) return false;
    *value = (uint16_t)(img.Data[offset] | (img.Data[offset + 1] << 8));
    return true;
}

bool Read32(const Image& img, uint64_t offset, uint32_t* value) {
    if (offset + 4 > img.Size) return false;
    const uint8_t* p = img.Data + offset;
    *value = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
    return true;
}

bool Read64(const Image& img, uint64_t offset, uint64_t* value) {
    uint32_t low, high;
    if (!Read32(img, offset, &low) || !Read32(img, offset + 4, &high)) return false;
    *value = ((uint64_t)high << 32) | low;
    return true;
}

Section SectionAt(const Image& img, uint32_t index) {
    const uint8_t* h = img.SectionTable + (size_t)index * SectionHeaderSize;
    auto u32 = [](const uint8_t* p) {
        return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
    };
    Section s;
    s.VirtualSize = u32(h + 8);
    s.VirtualAddress = u32(h + 12);
    s.RawSize = u32(h + 16);
    s.RawOffset = u32(h + 20);
    return s;
}

// File offset of an RVA, or false when no file bytes back it. Bytes past a
// section's raw data are zero in memory but absent from the file; import data
// never lives there, so such an RVA is treated as damage.
bool RvaToOffset(const Image& img, uint32_t rva, uint64_t* offset) {
    if (rva < img.HeadersSize) {
        *offset = rva;
        return rva < img.Size;
    }
    for (uint32_t i = 0; i < img.SectionCount; i++) {
        Section s = SectionAt(img, i);
        uint32_t span = s.VirtualSize > s.RawSize ? s.VirtualSize : s.RawSize;
        if (rva >= s.VirtualAddress && (uint64_t)rva < (uint64_t)s.VirtualAddress + span) {
            uint32_t delta = rva - s.VirtualAddress;
            if (delta >= s.RawSize) return false;
            *offset = (uint64_t)s.RawOffset + delta;
            return *offset < img.Size;
        }
    }
    return false;
}

// Copies the NUL-terminated text at an RVA; a name longer than the buffer is cut.
bool ReadName(const Image& img, uint32_t rva, char* out, size_t outSize) {
    uint64_t offset;
    if (!RvaToOffset(img, rva, &offset)) return false;
    size_t n = 0;
    for (;;) {
        if (offset + n >= img.Size) return false;
        char c = (char)img.Data[offset + n];
        if (c == 0) break;
        if (n + 1 < outSize) out[n] = c;
        n++;
    }
    out[n + 1 < outSize ? n : outSize - 1] = 0;
    return true;
}

bool AddDll(PeImportTable* t, const Image& img, uint32_t nameRva, bool delayed) {
    if (t->DllCount >= PeMaxDlls) return Fail(t, "more than %d imported DLLs", PeMaxDlls);
    if (!ReadName(img, nameRva, t->Dlls[t->DllCount], PeNameSize))
        return Fail(t, "DLL name at RVA 0x%X lies outside the file", nameRva);
    t->DllDelayed[t->DllCount] = delayed;
    t->DllCount++;
    return true;
}

// Walks one lookup table (an array of thunks ending in zero) for the DLL just added.
bool ReadThunks(PeImportTable* t, const Image& img, uint32_t tableRva) {
    const int dll = t->DllCount - 1;
    const uint32_t step = img.Pe32Plus ? 8 : 4;
    for (uint32_t i = 0;; i++) {
        uint64_t offset;
        if (!RvaToOffset(img, tableRva + i * step, &offset))
            return Fail(t, "lookup table of %s runs outside the file", t->Dlls[dll]);
        uint64_t thunk;
        bool ordinal;
        if (img.Pe32Plus) {
            if (!Read64(img, offset, &thunk)) return Fail(t, "lookup table of %s is cut short", t->Dlls[dll]);
            ordinal = (thunk >> 63) != 0;
        } else {
            uint32_t v;
            if (!Read32(img, offset, &v)) return Fail(t, "lookup table of %s is cut short", t->Dlls[dll]);
            thunk = v;
            ordinal = (v >> 31) != 0;
        }
        if (thunk == 0) return true;
        if (t->ImportCount >= PeMaxImports) return Fail(t, "more than %d imported functions", PeMaxImports);
        PeImport* imp = &t->Imports[t->ImportCount];
        imp->Dll = dll;
        imp->ByOrdinal = ordinal;
        imp->Ordinal = ordinal ? (uint16_t)(thunk & 0xFFFF) : 0;
        imp->Name[0] = 0;
        // A name entry is a 2-byte hint followed by the name.
        if (!ordinal && !ReadName(img, (uint32_t)thunk + 2, imp->Name, PeNameSize))
            return Fail(t, "function name of %s at RVA 0x%X lies outside the file", t->Dlls[dll], (uint32_t)thunk);
        t->ImportCount++;
    }
}

bool ReadImportDirectory(PeImportTable* t, const Image& img, uint32_t rva) {
    for (uint32_t i = 0; i < MaxDescriptors; i++) {
        uint64_t offset;
        if (!RvaToOffset(img, rva + i * ImportDescriptorSize, &offset))
            return Fail(t, "import directory runs outside the file");
        uint32_t lookup, name, iat;
        if (!Read32(img, offset, &lookup) || !Read32(img, offset + 12, &name) || !Read32(img, offset + 16, &iat))
            return Fail(t, "import directory is cut short");
        if (name == 0 && lookup == 0 && iat == 0) return true;
        if (!AddDll(t, img, name, false)) return false;
        // Some linkers leave the lookup table out; the address table then holds the same.
        if (!ReadThunks(t, img, lookup != 0 ? lookup : iat)) return false;
    }
    return Fail(t, "import directory has no end");
}

bool ReadDelayDirectory(PeImportTable* t, const Image& img, uint32_t rva) {
    for (uint32_t i = 0; i < MaxDescriptors; i++) {
        uint64_t offset;
        if (!RvaToOffset(img, rva + i * DelayDescriptorSize, &offset))
            return Fail(t, "delay-import directory runs outside the file");
        uint32_t attributes, name, names;
        if (!Read32(img, offset, &attributes) || !Read32(img, offset + 4, &name) || !Read32(img, offset + 16, &names))
            return Fail(t, "delay-import directory is cut short");
        if (name == 0 && names == 0) return true;
        // Old-style descriptors (attribute bit 0 clear) hold addresses, not RVAs.
        if ((attributes & 1) == 0) {
            name = (uint32_t)(name - img.ImageBase);
            names = (uint32_t)(names - img.ImageBase);
        }
        if (!AddDll(t, img, name, true)) return false;
        if (!ReadThunks(t, img, names)) return false;
    }
    return Fail(t, "delay-import directory has no end");
}

}  // namespace

bool ReadPeImports(const uint8_t* data, size_t size, PeImportTable* t) {
    t->Machine = 0;
    t->Pe32Plus = false;
    t->Subsystem = 0;
    t->DllCount = 0;
    t->ImportCount = 0;
    t->Error[0] = 0;

    Image img = {data, size, false, 0, 0, nullptr, 0};
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') return Fail(t, "no MZ header");
    uint32_t pe;
    Read32(img, 0x3C, &pe);
    uint32_t signature;
    if (!Read32(img, pe, &signature) || signature != 0x00004550) return Fail(t, "no PE signature");
    const uint64_t coff = (uint64_t)pe + 4;
    uint16_t sections, optionalSize, magic;
    if (!Read16(img, coff, &t->Machine) || !Read16(img, coff + 2, &sections) || !Read16(img, coff + 16, &optionalSize))
        return Fail(t, "file header is cut short");
    const uint64_t opt = coff + 20;
    if (!Read16(img, opt, &magic)) return Fail(t, "optional header is cut short");
    if (magic == 0x10B) {
        img.Pe32Plus = false;
    } else if (magic == 0x20B) {
        img.Pe32Plus = true;
    } else {
        return Fail(t, "unknown optional header magic 0x%X", magic);
    }
    t->Pe32Plus = img.Pe32Plus;

    const uint32_t dirCountAt = img.Pe32Plus ? 108 : 92;
    const uint32_t dirsAt = img.Pe32Plus ? 112 : 96;
    uint32_t dirCount;
    if (optionalSize < dirsAt || !Read16(img, opt + 68, &t->Subsystem) || !Read32(img, opt + 60, &img.HeadersSize) ||
        !Read32(img, opt + dirCountAt, &dirCount))
        return Fail(t, "optional header is cut short");
    if (img.Pe32Plus) {
        if (!Read64(img, opt + 24, &img.ImageBase)) return Fail(t, "optional header is cut short");
    } else {
        uint32_t base;
        if (!Read32(img, opt + 28, &base)) return Fail(t, "optional header is cut short");
        img.ImageBase = base;
    }

    const uint64_t sectionTable = opt + optionalSize;
    if (sectionTable + (uint64_t)sections * SectionHeaderSize > size) return Fail(t, "section table is cut short");
    img.SectionTable = data + sectionTable;
    img.SectionCount = sections;

    auto directory = [&](uint32_t index, uint32_t* rva) {
        *rva = 0;
        if (index >= dirCount || dirsAt + index * 8 + 8 > optionalSize) return true;
        return Read32(img, opt + dirsAt + index * 8, rva);
    };
    uint32_t importRva, delayRva;
    if (!directory(DirImport, &importRva) || !directory(DirDelayImport, &delayRva))
        return Fail(t, "data directories are cut short");
    if (importRva != 0 && !ReadImportDirectory(t, img, importRva)) return false;
    if (delayRva != 0 && !ReadDelayDirectory(t, img, delayRva)) return false;
    return true;
}

bool ReadPeImportsFromFile(const char* path, PeImportTable* t) {
    t->Error[0] = 0;
    FILE* f = fopen(path, "rb");
    if (!f) return Fail(t, "cannot open %s", path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    bool readError = ferror(f) != 0;
    fclose(f);
    if (readError) return Fail(t, "cannot read %s", path);
    return ReadPeImports(bytes.data(), bytes.size(), t);
}
