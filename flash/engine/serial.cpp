#include "engine/serial.h"
#include "core/state.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "platform/timing.h"

namespace {

const uint32_t MaxStatusPolls = 1000;
const int ProgramTries = 3;
// How long the poll after a chip erase waits for the part: the slowest
// listed serial part may take 6 s by its datasheet, and parts slow down as
// they age. Sleeps between polls keep the processor free and are never
// shorter than asked.
const uint32_t EraseWaitMs = 10000;
const uint32_t ErasePollSleepMs = 10;

uint32_t ReadLines()
{
    return ReadReg32(SerialLineRegister);
}

// Write, then read back so the write has reached the card before going on.
void WriteLines(uint32_t value)
{
    WriteReg32(SerialLineRegister, value);
    ReadReg32(SerialLineRegister);
}

void SendAddress(uint32_t offset)
{
    SerialSendByte(static_cast<uint8_t>(offset >> 16));
    SerialSendByte(static_cast<uint8_t>(offset >> 8));
    SerialSendByte(static_cast<uint8_t>(offset));
}

// Data bytes of a program command go out with the quick pulse where the
// platform allows it; command, address and status traffic never does.
void SendData(uint8_t value)
{
    if (NtNot2000)
        SerialSendByteQuick(value);
    else
        SerialSendByte(value);
}

bool ReadsBack(uint32_t offset, const uint8_t* source, uint32_t index, uint32_t count)
{
    for (uint32_t j = 0; j < count; ++j) {
        if (static_cast<uint8_t>(ReadRom8(offset + j)) != source[index + j])
            return false;
    }
    return true;
}

uint8_t SpiEraseOpcode(uint8_t makerId)
{
    if (makerId == 0x20 || makerId == 0x5E || makerId == 0x9D)
        return 0xC7;
    if (makerId == 0xBF)
        return 0x60;
    return 0x62;
}

void ReadSpiId(uint8_t* makerId, uint8_t* deviceId)
{
    SerialBegin();
    SerialSelect();
    SerialSendByte(0x15);
    uint8_t maker = SerialReadByteSampleFirst();
    uint8_t device = SerialReadByteSampleFirst();
    if (maker == 0x5E) {
        maker = SerialReadByteSampleFirst();
        device = SerialReadByteSampleFirst();
    }
    SerialDeselect();
    if (maker != 0x1F && maker != 0x5E) {
        SerialSelect();
        SerialSendByte(0xAB);
        SerialSendByte(0x00);
        SerialSendByte(0x00);
        SerialSendByte(0x00);
        maker = SerialReadByteSampleFirst();
        device = SerialReadByteSampleFirst();
        SerialDeselect();
        // Parts answering with a bare signature report it twice; they are ST's.
        if (maker != 0xBF && maker != 0x9D)
            maker = 0x20;
    }
    SerialEnd();
    SerialDeselect();
    *makerId = maker;
    *deviceId = device;
}

void ReadSerial2Id(uint8_t* makerId, uint8_t* deviceId)
{
    SerialBegin();
    SerialSelect();
    SerialSendByte(0x90);
    SerialSendByte(0x00);
    SerialSendByte(0x00);
    SerialSendByte(0x00);
    *makerId = SerialReadByteClockFirst();
    SerialDeselect();
    SerialSelect();
    SerialSendByte(0x90);
    SerialSendByte(0x00);
    SerialSendByte(0x00);
    SerialSendByte(0x01);
    *deviceId = SerialReadByteClockFirst();
    SerialEnd();
    SerialDeselect();
}

} // namespace

void SerialPause()
{
    PlatformBusyLoop(NtNot2000 ? 2 : 7);
}

void SerialBegin()
{
    uint32_t v = ReadLines();
    v |= SerialEnableBit | SerialDeselectBit;
    v &= ~SerialClockBit;
    WriteLines(v);
}

void SerialEnd()
{
    uint32_t v = ReadLines();
    WriteLines(v & ~SerialEnableBit);
}

void SerialSelect()
{
    uint32_t v = ReadLines();
    WriteLines(v & ~SerialDeselectBit);
    SerialPause();
}

void SerialDeselect()
{
    SerialPause();
    uint32_t v = ReadLines();
    WriteLines(v | SerialDeselectBit);
    SerialPause();
}

void SerialClockPulse()
{
    uint32_t v = ReadLines();
    WriteLines(v | SerialClockBit);
    ReadReg32(SerialSettleRegister);
    WriteLines(v & ~SerialClockBit);
    ReadReg32(SerialSettleRegister);
}

uint32_t SerialQuickPulse(uint32_t value)
{
    WriteReg32(SerialLineRegister, value | SerialClockBit);
    value &= ~SerialClockBit;
    WriteReg32(SerialLineRegister, value);
    return value;
}

void SerialSendByte(uint8_t value)
{
    for (int bit = 7; bit >= 0; --bit) {
        uint32_t v = ReadLines();
        if ((value >> bit) & 1)
            v |= SerialDataOutBit;
        else
            v &= ~SerialDataOutBit;
        WriteLines(v);
        SerialClockPulse();
    }
}

void SerialSendByteQuick(uint8_t value)
{
    uint32_t held = ReadLines();
    for (int bit = 7; bit >= 0; --bit) {
        if ((value >> bit) & 1)
            held |= SerialDataOutBit;
        else
            held &= ~SerialDataOutBit;
        WriteReg32(SerialLineRegister, held);
        held = SerialQuickPulse(held);
    }
}

uint8_t SerialReadByteSampleFirst()
{
    uint32_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        uint32_t lines = ReadLines();
        value = (value << 1) | ((lines & SerialDataInBit) ? 1u : 0u);
        SerialClockPulse();
    }
    return static_cast<uint8_t>(value);
}

uint8_t SerialReadByteClockFirst()
{
    uint32_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        SerialClockPulse();
        uint32_t lines = ReadLines();
        value = (value << 1) | ((lines & SerialDataInBit) ? 1u : 0u);
    }
    return static_cast<uint8_t>(value);
}

void ReadSerialId(uint32_t flashInterface, uint8_t* makerId, uint8_t* deviceId)
{
    if (flashInterface == InterfaceSpi) {
        ReadSpiId(makerId, deviceId);
    } else if (flashInterface == InterfaceSerial2) {
        ReadSerial2Id(makerId, deviceId);
    } else {
        *makerId = 0x00;
        *deviceId = 0x00;
    }
}

// One status read. The part shifts the status out on the falling edges as
// identification does, so each bit is sampled before its pulse: sampled
// after, bit 0 of the byte would be bit 7 of the status.
static bool SpiReady()
{
    SerialSelect();
    SerialSendByte(0x05);
    uint8_t status = SerialReadByteSampleFirst();
    SerialDeselect();
    return (status & 1) == 0;
}

static bool Serial2Ready()
{
    SerialSelect();
    SerialSendByte(0x9F);
    uint8_t status = SerialReadByteClockFirst();
    SerialDeselect();
    return (status & 1) != 0;
}

void SpiWaitReady()
{
    SerialPause();
    for (uint32_t poll = 0; poll < MaxStatusPolls; ++poll) {
        SerialPause();
        if (SpiReady())
            break;
    }
    SerialDeselect();
}

void Serial2WaitReady()
{
    SerialPause();
    SerialSelect();
    SerialSendByte(0x9F);
    for (uint32_t poll = 0; poll < MaxStatusPolls; ++poll) {
        SerialPause();
        uint8_t status = SerialReadByteClockFirst();
        if ((status & 1) != 0)
            break;
    }
    SerialDeselect();
}

// SST serial parts power up with their block protection set and refuse
// erase and program until it is cleared: enable the status write, then
// write a status of 0. The bits stay clear until the next power-up, so
// doing it before the erase also frees the programming that follows.
static void SpiClearBlockProtection()
{
    SerialSelect();
    SerialSendByte(0x50);
    SerialDeselect();
    SerialSelect();
    SerialSendByte(0x01);
    SerialSendByte(0x00);
    SerialDeselect();
}

bool SerialWaitErased(uint32_t flashInterface)
{
    if (flashInterface != InterfaceSpi && flashInterface != InterfaceSerial2)
        return true;
    OpenRomAccess();
    SerialBegin();
    bool ready = false;
    for (uint32_t waited = 0;; waited += ErasePollSleepMs) {
        ready = flashInterface == InterfaceSpi ? SpiReady() : Serial2Ready();
        if (ready || waited >= EraseWaitMs)
            break;
        PlatformSleep(ErasePollSleepMs);
    }
    SerialEnd();
    CloseRomAccess();
    return ready;
}

bool SpiChipErase(uint8_t makerId)
{
    OpenRomAccess();
    SerialBegin();
    if (makerId == 0xBF)
        SpiClearBlockProtection();
    SerialSelect();
    SerialSendByte(0x06);
    SerialDeselect();
    SerialSelect();
    SerialSendByte(SpiEraseOpcode(makerId));
    SerialDeselect();
    SpiWaitReady();
    SerialEnd();
    CloseRomAccess();
    return true;
}

bool Serial2ChipErase()
{
    OpenRomAccess();
    SerialBegin();
    SerialSelect();
    SerialSendByte(0x60);
    SerialSendByte(0x00);
    SerialSendByte(0x00);
    SerialSendByte(0x00);
    SerialSendByte(0xD0);
    SerialSendByte(0x00);
    SerialDeselect();
    Serial2WaitReady();
    SerialEnd();
    CloseRomAccess();
    return true;
}

bool SpiProgram(uint32_t offset, const uint8_t* source, uint32_t index, uint32_t count)
{
    for (int tries = 0; tries < ProgramTries; ++tries) {
        SerialBegin();
        SerialSelect();
        SerialSendByte(0x06);
        SerialDeselect();
        SerialSelect();
        SerialSendByte(0x02);
        SendAddress(offset);
        for (uint32_t j = 0; j < count; ++j)
            SendData(source[index + j]);
        SerialDeselect();
        SpiWaitReady();
        SerialEnd();
        if (ReadsBack(offset, source, index, count))
            return true;
    }
    return false;
}

bool Serial2Program(uint32_t offset, const uint8_t* source, uint32_t index, uint32_t count)
{
    for (int tries = 0; tries < ProgramTries; ++tries) {
        SerialBegin();
        SerialSelect();
        SerialSendByte(0x10);
        SendAddress(offset);
        for (uint32_t j = 0; j < count; ++j)
            SendData(source[index + j]);
        SerialSendByte(0x00);
        SerialDeselect();
        Serial2WaitReady();
        SerialEnd();
        if (ReadsBack(offset, source, index, count))
            return true;
    }
    return false;
}
