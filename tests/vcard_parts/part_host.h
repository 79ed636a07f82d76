// A host driving one virtual part the way the flash program does: every
// register access costs one microsecond of virtual time, serial lines are
// shifted bit by bit with read-modify-write cycles.
#pragma once
#include <stdint.h>

#include "vcard/model/flash_part.h"

struct PartHost {
    VcFlashPart* part;
    VcTime now;
    uint32_t lines;   // the line register as last written
};

void HostInit(PartHost* host, VcFlashPart* part);
void HostWait(PartHost* host, VcTime ns);

// Parallel cycles through the ROM aperture.
void HostWrite(PartHost* host, uint32_t offset, uint8_t value);
uint8_t HostRead(PartHost* host, uint32_t offset);
void HostUnlock(PartHost* host);                 // AA at 5555, 55 at 2AAA
void HostCommand(PartHost* host, uint8_t command);  // unlock, then command at 5555
void HostChipErase(PartHost* host);

// Serial line primitives.
void SerialBegin(PartHost* host);
void SerialEnd(PartHost* host);
void SerialSelect(PartHost* host);
void SerialDeselect(PartHost* host);
void SerialClockPulse(PartHost* host);
void SerialSendByte(PartHost* host, uint8_t value);
uint8_t SerialReadSampleFirst(PartHost* host);
uint8_t SerialReadClockFirst(PartHost* host);
// One whole command in one selection: the bytes sent, then `count` bytes
// read (sampling before each pulse when sampleFirst, after it otherwise).
void SerialCommand(PartHost* host, const uint8_t* bytes, int length, uint8_t* reply, int count, bool sampleFirst);

// The identification sequences of the two serial command sets.
void SpiReadId(PartHost* host, uint8_t* maker, uint8_t* device);
void Serial2ReadId(PartHost* host, uint8_t* maker, uint8_t* device);
