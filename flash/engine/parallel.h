// JEDEC command sequences for parallel parts behind the ROM window, and the
// busy wait that paces the engine. ROM access must be open.
#pragma once
#include <stdint.h>
#include "engine/parts.h"

enum : uint32_t { SpinDelayIterations = 100 * 200 };

// Busy wait of n units; n below 1 counts as 1.
void SpinDelay(int32_t units);

void JedecReadId(uint8_t* makerId, uint8_t* deviceId);
// Starts the erase and returns at once; nobody polls it.
void ParallelChipErase();
bool ParallelProgramByte(uint32_t offset, uint8_t value);
bool ParallelProgramPage(const FlashPartEntry* part, uint32_t size, const uint8_t* source, uint32_t offset);
