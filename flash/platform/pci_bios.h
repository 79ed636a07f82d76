// Seam to the PCI BIOS services used on Windows 9x (direct access mode):
// find the n-th device of an id pair, read a configuration word or dword.
// Win32: configuration mechanism #1 through ports 0xCF8/0xCFC where the
// platform allows port I/O; elsewhere the virtual card answers.
#pragma once
#include <stdint.h>

// False when there is no such instance. devFn: device in bits 3..7, function in 0..2.
bool PciBiosFindDevice(uint16_t deviceId, uint16_t vendorId, uint16_t index, uint8_t* bus, uint8_t* devFn);
uint16_t PciBiosReadConfigWord(uint8_t bus, uint8_t devFn, uint8_t offset);
uint32_t PciBiosReadConfigDword(uint8_t bus, uint8_t devFn, uint8_t offset);
