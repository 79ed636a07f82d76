// Serial parts, driven bit by bit through the card's serial line register.
// Contents are read back through the ROM window once the lines are released.
#pragma once
#include <stdint.h>

enum : uint32_t {
    SerialLineRegister = 0x1204,
    SerialSettleRegister = 0x200,
};

// Line bits of SerialLineRegister.
enum : uint32_t {
    SerialEnableBit = 0x01,
    SerialDeselectBit = 0x02,   // active-low chip select
    SerialClockBit = 0x04,
    SerialDataOutBit = 0x08,
    SerialDataInBit = 0x10,
};

// Line primitives.
void SerialPause();
void SerialBegin();
void SerialEnd();
void SerialSelect();
void SerialDeselect();
void SerialClockPulse();
uint32_t SerialQuickPulse(uint32_t value);

// Byte primitives, most significant bit first.
void SerialSendByte(uint8_t value);
void SerialSendByteQuick(uint8_t value);
uint8_t SerialReadByteSampleFirst();
uint8_t SerialReadByteClockFirst();

// Command operations. ReadSerialId runs nothing for an interface other than
// 1 or 2 and yields 0x00/0x00.
void ReadSerialId(uint32_t flashInterface, uint8_t* makerId, uint8_t* deviceId);
bool SpiChipErase(uint8_t makerId);
bool Serial2ChipErase();
// Up to three tries; true when the bytes read back as sent. ROM access must
// be open.
bool SpiProgram(uint32_t offset, const uint8_t* source, uint32_t index, uint32_t count);
bool Serial2Program(uint32_t offset, const uint8_t* source, uint32_t index, uint32_t count);
void SpiWaitReady();
void Serial2WaitReady();
// After a chip erase: polls the status of a serial part (any other interface
// has nothing to poll) until the erase has finished, sleeping between polls,
// for as long as the slowest listed part may take. Opens and closes ROM
// access. False when the part is still busy.
bool SerialWaitErased(uint32_t flashInterface);
