#include "part_host.h"

#include "vcard/model/vcard.h"

namespace {

const uint32_t Enable = 0x01, Deselect = 0x02, Clock = 0x04, DataOut = 0x08, DataIn = 0x10;

void WriteLines(PartHost* host, uint32_t value) {
    host->now += VcRequestCostNs;
    host->lines = value & 0x0F;
    VcPartSerialLines(host->part, host->lines, host->now);
}

uint32_t ReadLines(PartHost* host) {
    host->now += VcRequestCostNs;
    return host->lines | (VcPartSerialDataIn(host->part, host->now) ? DataIn : 0);
}

}  // namespace

void HostInit(PartHost* host, VcFlashPart* part) {
    host->part = part;
    host->now = 0;
    host->lines = Deselect;
}

void HostWait(PartHost* host, VcTime ns) { host->now += ns; }

void HostWrite(PartHost* host, uint32_t offset, uint8_t value) {
    host->now += VcRequestCostNs;
    VcPartWrite(host->part, offset, value, host->now);
}

uint8_t HostRead(PartHost* host, uint32_t offset) {
    host->now += VcRequestCostNs;
    return VcPartRead(host->part, offset, host->now);
}

void HostUnlock(PartHost* host) {
    HostWrite(host, 0x5555, 0xAA);
    HostWrite(host, 0x2AAA, 0x55);
}

void HostCommand(PartHost* host, uint8_t command) {
    HostUnlock(host);
    HostWrite(host, 0x5555, command);
}

void HostChipErase(PartHost* host) {
    HostCommand(host, 0x80);
    HostCommand(host, 0x10);
}

void SerialBegin(PartHost* host) {
    WriteLines(host, (ReadLines(host) | Enable | Deselect) & ~Clock);
    ReadLines(host);
}

void SerialEnd(PartHost* host) {
    WriteLines(host, ReadLines(host) & ~Enable);
    ReadLines(host);
}

void SerialSelect(PartHost* host) {
    WriteLines(host, ReadLines(host) & ~Deselect);
    ReadLines(host);
}

void SerialDeselect(PartHost* host) {
    WriteLines(host, ReadLines(host) | Deselect);
    ReadLines(host);
}

void SerialClockPulse(PartHost* host) {
    uint32_t value = ReadLines(host);
    WriteLines(host, value | Clock);
    ReadLines(host);
    host->now += VcRequestCostNs;   // settle read
    WriteLines(host, value & ~Clock);
    ReadLines(host);
    host->now += VcRequestCostNs;
}

void SerialSendByte(PartHost* host, uint8_t value) {
    for (int bit = 7; bit >= 0; --bit) {
        uint32_t lines = ReadLines(host) & ~DataOut;
        if ((value >> bit) & 1) lines |= DataOut;
        WriteLines(host, lines);
        ReadLines(host);
        SerialClockPulse(host);
    }
}

uint8_t SerialReadSampleFirst(PartHost* host) {
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        value = (uint8_t)((value << 1) | ((ReadLines(host) & DataIn) ? 1 : 0));
        SerialClockPulse(host);
    }
    return value;
}

uint8_t SerialReadClockFirst(PartHost* host) {
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        SerialClockPulse(host);
        value = (uint8_t)((value << 1) | ((ReadLines(host) & DataIn) ? 1 : 0));
    }
    return value;
}

void SerialCommand(PartHost* host, const uint8_t* bytes, int length, uint8_t* reply, int count, bool sampleFirst) {
    SerialBegin(host);
    SerialSelect(host);
    for (int i = 0; i < length; ++i) SerialSendByte(host, bytes[i]);
    for (int i = 0; i < count; ++i) reply[i] = sampleFirst ? SerialReadSampleFirst(host) : SerialReadClockFirst(host);
    SerialDeselect(host);
    SerialEnd(host);
}

void SpiReadId(PartHost* host, uint8_t* maker, uint8_t* device) {
    SerialBegin(host);
    SerialSelect(host);
    SerialSendByte(host, 0x15);
    *maker = SerialReadSampleFirst(host);
    *device = SerialReadSampleFirst(host);
    if (*maker == 0x5E) {
        *maker = SerialReadSampleFirst(host);
        *device = SerialReadSampleFirst(host);
    }
    SerialDeselect(host);
    if (*maker != 0x1F && *maker != 0x5E) {
        SerialSelect(host);
        SerialSendByte(host, 0xAB);
        for (int i = 0; i < 3; ++i) SerialSendByte(host, 0x00);
        *maker = SerialReadSampleFirst(host);
        *device = SerialReadSampleFirst(host);
        SerialDeselect(host);
        if (*maker != 0xBF && *maker != 0x9D) *maker = 0x20;
    }
    SerialEnd(host);
    SerialDeselect(host);
}

void Serial2ReadId(PartHost* host, uint8_t* maker, uint8_t* device) {
    SerialBegin(host);
    SerialSelect(host);
    SerialSendByte(host, 0x90);
    for (int i = 0; i < 3; ++i) SerialSendByte(host, 0x00);
    *maker = SerialReadClockFirst(host);
    SerialDeselect(host);
    SerialSelect(host);
    SerialSendByte(host, 0x90);
    for (int i = 0; i < 2; ++i) SerialSendByte(host, 0x00);
    SerialSendByte(host, 0x01);
    *device = SerialReadClockFirst(host);
    SerialEnd(host);
    SerialDeselect(host);
}
