#include "engine/parallel.h"
#include "hw/hw.h"
#include "platform/timing.h"

namespace {

const uint32_t UnlockAddress1 = 0x5555;
const uint32_t UnlockAddress2 = 0x2AAA;
const uint32_t MaxPolls = 1000;

void Unlock()
{
    WriteRom8(UnlockAddress1, 0xAA);
    WriteRom8(UnlockAddress2, 0x55);
}

// Reads offset until it shows value, waiting `units` between reads and giving
// up after MaxPolls waits. A match seen only after the last wait is too late.
bool PollFor(uint32_t offset, uint8_t value, int32_t units)
{
    uint32_t waits = 0;
    uint8_t seen = static_cast<uint8_t>(ReadRom8(offset));
    while (seen != value) {
        if (waits >= MaxPolls)
            break;
        SpinDelay(units);
        ++waits;
        seen = static_cast<uint8_t>(ReadRom8(offset));
    }
    return seen == value && waits < MaxPolls;
}

} // namespace

void SpinDelay(int32_t units)
{
    if (units < 1)
        units = 1;
    for (int32_t i = 0; i < units; ++i)
        PlatformBusyLoop(SpinDelayIterations);
}

void JedecReadId(uint8_t* makerId, uint8_t* deviceId)
{
    Unlock();
    WriteRom8(UnlockAddress1, 0x90);
    // Page-write parts need about 10 us to enter identification mode; read
    // at once, they answer with array data and the part goes unrecognised.
    SpinDelay(1);
    *makerId = static_cast<uint8_t>(ReadRom8(0));
    *deviceId = static_cast<uint8_t>(ReadRom8(1));
    Unlock();
    WriteRom8(UnlockAddress1, 0xF0);
    SpinDelay(1);
}

void ParallelChipErase()
{
    Unlock();
    WriteRom8(UnlockAddress1, 0x80);
    Unlock();
    WriteRom8(UnlockAddress1, 0x10);
}

bool ParallelProgramByte(uint32_t offset, uint8_t value)
{
    Unlock();
    WriteRom8(UnlockAddress1, 0xA0);
    WriteRom8(offset, value);
    SpinDelay(1);
    return PollFor(offset, value, 1);
}

bool ParallelProgramPage(const FlashPartEntry* part, uint32_t size, const uint8_t* source, uint32_t offset)
{
    if (part == nullptr || part->kind == PartUnknown || size == 0)
        return false;
    Unlock();
    WriteRom8(UnlockAddress1, 0xA0);
    // Back to back: a pause between loads would start the page cycle early.
    for (uint32_t i = 0; i < size; ++i)
        WriteRom8(offset + i, source[i]);
    if (!PollFor(offset + size - 1, source[size - 1], 15))
        return false;
    for (uint32_t i = 0; i < size; ++i) {
        if (static_cast<uint8_t>(ReadRom8(offset + i)) != source[i])
            return false;
    }
    return true;
}
