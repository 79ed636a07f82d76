// Builds small, well-formed PE images with chosen import tables, so that the
// reader and the rules can be tested on exactly known contents.
#pragma once
#include <stdint.h>

#include <vector>

struct FakeDll {
    const char* Name;
    std::vector<const char*> Functions;  // "#12" imports ordinal 12
    bool Delayed;
};

struct FakePe {
    std::vector<uint8_t> Bytes;
    uint32_t ImportDirectoryOffset;  // file offset of the first import descriptor
};

FakePe BuildPe(bool pe32plus, const std::vector<FakeDll>& dlls, uint16_t subsystem = 3);
