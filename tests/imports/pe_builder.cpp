#include "pe_builder.h"

#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t PeOffset = 0x40;
const uint32_t HeadersSize = 0x200;
const uint32_t SectionRva = 0x1000;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    Put32(b, at, (uint32_t)v);
    Put32(b, at + 4, (uint32_t)(v >> 32));
}

size_t Append(std::vector<uint8_t>& b, size_t n) {
    size_t at = b.size();
    b.resize(at + n, 0);
    return at;
}

size_t AppendText(std::vector<uint8_t>& b, const char* text) {
    size_t n = strlen(text) + 1;
    size_t at = Append(b, n);
    memcpy(&b[at], text, n);
    return at;
}

}  // namespace

FakePe BuildPe(bool pe32plus, const std::vector<FakeDll>& dlls, uint16_t subsystem) {
    // Section contents first: descriptor arrays, then per DLL its lookup
    // table, name entries and name. The section ends on the last name's NUL.
    std::vector<uint8_t> sec;
    size_t normal = 0, delayed = 0;
    for (const FakeDll& d : dlls) (d.Delayed ? delayed : normal)++;
    const size_t importAt = Append(sec, (normal + 1) * 20);
    const size_t delayAt = delayed ? Append(sec, (delayed + 1) * 32) : 0;
    const uint32_t step = pe32plus ? 8 : 4;
    size_t nextNormal = importAt, nextDelayed = delayAt;
    for (const FakeDll& d : dlls) {
        size_t table = Append(sec, (d.Functions.size() + 1) * step);
        for (size_t i = 0; i < d.Functions.size(); i++) {
            const char* f = d.Functions[i];
            uint64_t thunk;
            if (f[0] == '#') {
                uint64_t ordinal = strtoul(f + 1, nullptr, 10);
                thunk = (pe32plus ? (1ull << 63) : (1ull << 31)) | ordinal;
            } else {
                size_t entry = Append(sec, 2);  // hint
                AppendText(sec, f);
                thunk = SectionRva + entry;
            }
            if (pe32plus)
                Put64(sec, table + i * 8, thunk);
            else
                Put32(sec, table + i * 4, (uint32_t)thunk);
        }
        uint32_t nameRva = SectionRva + (uint32_t)AppendText(sec, d.Name);
        uint32_t tableRva = SectionRva + (uint32_t)table;
        if (d.Delayed) {
            Put32(sec, nextDelayed + 0, 1);  // RVA-based descriptor
            Put32(sec, nextDelayed + 4, nameRva);
            Put32(sec, nextDelayed + 16, tableRva);
            nextDelayed += 32;
        } else {
            Put32(sec, nextNormal + 0, tableRva);
            Put32(sec, nextNormal + 12, nameRva);
            Put32(sec, nextNormal + 16, tableRva);
            nextNormal += 20;
        }
    }

    std::vector<uint8_t> b(HeadersSize, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, PeOffset);
    memcpy(&b[PeOffset], "PE\0\0", 4);
    const size_t coff = PeOffset + 4;
    const uint32_t optionalSize = pe32plus ? 240 : 224;
    Put16(b, coff + 0, pe32plus ? 0x8664 : 0x014C);
    Put16(b, coff + 2, 1);
    Put16(b, coff + 16, optionalSize);
    Put16(b, coff + 18, 0x0102);
    const size_t opt = coff + 20;
    Put16(b, opt + 0, pe32plus ? 0x20B : 0x10B);
    if (pe32plus)
        Put64(b, opt + 24, 0x140000000ull);
    else
        Put32(b, opt + 28, 0x400000);
    Put32(b, opt + 60, HeadersSize);
    Put16(b, opt + 68, subsystem);
    const size_t dirs = opt + (pe32plus ? 112 : 96);
    Put32(b, opt + (pe32plus ? 108 : 92), 16);
    Put32(b, dirs + 1 * 8, SectionRva + (uint32_t)importAt);
    Put32(b, dirs + 1 * 8 + 4, (uint32_t)((normal + 1) * 20));
    if (delayed) {
        Put32(b, dirs + 13 * 8, SectionRva + (uint32_t)delayAt);
        Put32(b, dirs + 13 * 8 + 4, (uint32_t)((delayed + 1) * 32));
    }
    const size_t section = opt + optionalSize;
    memcpy(&b[section], ".idata\0\0", 8);
    Put32(b, section + 8, (uint32_t)sec.size());
    Put32(b, section + 12, SectionRva);
    Put32(b, section + 16, (uint32_t)sec.size());
    Put32(b, section + 20, HeadersSize);

    b.insert(b.end(), sec.begin(), sec.end());
    return FakePe{b, HeadersSize + (uint32_t)importAt};
}
