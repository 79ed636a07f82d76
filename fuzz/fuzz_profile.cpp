// The virtual machine profile parser on any text. A refused profile must
// leave the machine as it was and say why within the error buffer; an
// accepted one must describe a machine the model can run. Part files are
// looked up in a scratch folder that holds an empty, a short, an exact and
// an oversized contents file; profiles naming files outside it are skipped,
// so the fuzzer never reads devices or system files. Input: one byte that
// picks the error buffer's size, then the profile text.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "vcard/host/vcard_host.h"

namespace {

void MakeFile(const std::string& path, size_t bytes, uint8_t fill)
{
    FILE* f = fopen(path.c_str(), "wb");
    FuzzCheck(f != nullptr, "fixture file");
    for (size_t i = 0; i < bytes; ++i)
        fputc(fill, f);
    FuzzCheck(fclose(f) == 0, "fixture file close");
}

const char* Folder()
{
    static std::string folder;
    if (folder.empty()) {
        folder = FuzzScratchFolder();
        MakeFile(folder + "/empty.rom", 0, 0);
        MakeFile(folder + "/short.rom", 1000, 0x55);
        MakeFile(folder + "/exact.rom", 65536, 0xAA);
        MakeFile(folder + "/long.rom", 131073, 0x00);
    }
    return folder.c_str();
}

// A file option that leaves the fixture folder.
bool NamesOutsideFile(const char* text)
{
    if (strstr(text, "..") != nullptr)
        return true;
    for (const char* s = strstr(text, "file="); s != nullptr; s = strstr(s + 1, "file=")) {
        const char* v = s + 5;
        if (v[0] == '/' || v[0] == '\\' || (v[0] != 0 && v[1] == ':'))
            return true;
    }
    return false;
}

void CheckMachine(const VcMachine* m)
{
    FuzzCheck(m->deviceCount >= 0 && m->deviceCount <= VcMaxDevices, "device count");
    FuzzCheck(m->cardCount >= 0 && m->cardCount <= VcMaxCards, "card count");
    for (int i = 0; i < m->deviceCount; ++i) {
        const VcPciDevice& d = m->devices[i];
        FuzzCheck(d.present && d.bus <= 3 && d.slot <= 63, "device place");
        for (int j = 0; j < i; ++j)
            FuzzCheck(m->devices[j].bus != d.bus || m->devices[j].slot != d.slot, "two devices in one slot");
        FuzzCheck(d.card < m->cardCount, "device names a card that does not exist");
    }
    for (int c = 0; c < m->cardCount; ++c) {
        const VcCard& card = m->cards[c];
        FuzzCheck(card.device >= 0 && card.device < m->deviceCount && m->devices[card.device].card == c,
                  "card and device do not name each other");
        FuzzCheck(card.windowBase != 0 && (card.windowBase & 0x00FFFFFFu) == 0, "card window");
        for (int o = 0; o < c; ++o)
            FuzzCheck(m->cards[o].windowBase != card.windowBase, "two cards share a window");
        FuzzCheck(card.dualBiosBoard ? card.partCount == 2 : card.partCount <= 1, "part count");
        for (int i = 0; i < card.partCount; ++i) {
            const VcFlashPart& part = card.parts[i];
            FuzzCheck(part.type != nullptr && (part.size == 65536 || part.size == 131072), "part fitted");
            FuzzCheck(memchr(part.file, 0, sizeof part.file) != nullptr, "part file name ends");
            if (part.faults.stuckBitEnabled)
                FuzzCheck(part.faults.stuckBitOffset < VcMaxFlashSize, "stuck bit inside the part");
            if (part.faults.deadByteEnabled)
                FuzzCheck(part.faults.deadByteOffset < VcMaxFlashSize, "dead byte inside the part");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const size_t ErrorSizes[] = {0, 1, 2, 16, 40, 512};
    static VcMachine* machine = VcNewMachine();
    static char* error = static_cast<char*>(malloc(512));
    if (size == 0)
        return 0;
    size_t errorSize = ErrorSizes[data[0] % (sizeof ErrorSizes / sizeof ErrorSizes[0])];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text.resize(strlen(text.c_str()));
    if (NamesOutsideFile(text.c_str()))
        return 0;

    // A machine with a mark the parser must not touch when it refuses. A
    // refused profile left it as it was, so only an accepted one makes the
    // next run clear its megabytes again.
    static bool changed = true;
    if (changed)
        VcReset(machine);
    changed = false;
    machine->deviceCount = 1;
    machine->devices[0].present = true;
    machine->devices[0].config[0] = 0x5A;
    machine->now = 777;
    memset(error, '#', 512);

    // The error buffer is exactly as large as the parser is told.
    char* errorAt = errorSize ? error + 512 - errorSize : nullptr;
    bool ok = VcLoadProfileText(text.c_str(), "fuzz.profile", Folder(), machine, errorAt, errorSize);
    if (!ok) {
        FuzzCheck(machine->deviceCount == 1 && machine->devices[0].config[0] == 0x5A && machine->now == 777,
                  "a refused profile changed the machine");
        if (errorSize > 0)
            FuzzCheck(memchr(errorAt, 0, errorSize) != nullptr, "error text not ended inside its buffer");
        if (errorSize > 16)
            FuzzCheck(errorAt[0] != 0, "a refused profile gave no reason");
        return 0;
    }
    changed = true;
    FuzzCheck(errorSize == 0 || errorAt[0] == 0, "an accepted profile left an error text");
    CheckMachine(machine);
    return 0;
}
