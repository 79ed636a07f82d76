#include "fuzz/fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ftw.h>
#include <unistd.h>

#include <sanitizer/asan_interface.h>

#include "core/state.h"
#include "core/status.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "platform/recording/flow_recording.h"
#include "platform/recording/recording_ui.h"
#include "platform/virtual/virtual_platform.h"

namespace {

VcMachine Machine;
bool MachineReady;
const uint32_t WindowBase = 0xE0000000u;

} // namespace

size_t TakeText(FuzzInput& in, char* out, size_t max)
{
    size_t want = TakeByte(in);
    if (want > max)
        want = max;
    size_t n = 0;
    while (n < want && in.at < in.size)
        out[n++] = static_cast<char>(in.data[in.at++]);
    out[n] = 0;
    return n;
}

uint8_t* ExactBuffer(uint8_t* area, size_t capacity, size_t size)
{
    ASAN_UNPOISON_MEMORY_REGION(area, capacity);
    ASAN_POISON_MEMORY_REGION(area, capacity - size);
    return area + capacity - size;
}

void FillCyclic(uint8_t* out, size_t outSize, const uint8_t* payload, size_t payloadSize)
{
    if (payloadSize == 0) {
        memset(out, 0, outSize);
        return;
    }
    size_t first = payloadSize < outSize ? payloadSize : outSize;
    memcpy(out, payload, first);
    // Doubling copies of what is in place: `done` stays a whole number of
    // payloads until the last, shorter copy.
    for (size_t done = first; done < outSize;) {
        size_t n = done < outSize - done ? done : outSize - done;
        memcpy(out + done, out, n);
        done += n;
    }
}

void FuzzFail(const char* what)
{
    fprintf(stderr, "fuzz property broken: %s\n", what);
    abort();
}

VcMachine* FuzzCardMachine()
{
    if (!MachineReady) {
        VcReset(&Machine);
        int device = VcAddDevice(&Machine, 1, 0, 0x10DE, 0x0281, 0, 0, WindowBase);
        int card = VcAddCard(&Machine, device, InterfaceParallel, false, false);
        FuzzCheck(card == 0 && VcFitPart(&Machine, card, 0, VcFindPartType("39VF512", 0)), "fuzz card set-up");
        VirtualPlatformAttach(&Machine);
        VirtualRealTime = false;
        AccessMode = AccessDriver;
        FuzzCheck(DeviceOpen("\\\\.\\Norvik", &DeviceHandle), "fuzz card driver open");
        memset(CardTable, 0, sizeof CardTable);
        CardTable[0] = CardRecord{0x10DE, 0x0281, 0, 0, 1, 0, WindowBase};
        CardCount = 1;
        CurrentCard = 0;
        FlowRecordingReset();
        MainWindow = RecordedMainWindow;
        MachineReady = true;
    }
    RecordingReset();
    ClearAllStatus();
    LastStatusLine = 4;
    Machine.logEnabled = false;
    return &Machine;
}

VcFlashPart* FuzzCardPart()
{
    return &FuzzCardMachine()->cards[0].parts[0];
}

namespace {

char Scratch[256];

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

void RemoveScratch()
{
    if (Scratch[0] != 0)
        nftw(Scratch, RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

} // namespace

const char* FuzzScratchFolder()
{
    if (Scratch[0] == 0) {
        const char* base = getenv("TMPDIR");
        snprintf(Scratch, sizeof Scratch, "%s/qzfuzz.XXXXXX", base && *base ? base : "/tmp");
        FuzzCheck(mkdtemp(Scratch) != nullptr, "scratch folder");
        atexit(RemoveScratch);
    }
    return Scratch;
}
