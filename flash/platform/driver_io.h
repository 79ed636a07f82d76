// Seam to the drivers: the kernel driver device and the 9x virtual device
// driver. Win32: CreateFileA / DeviceIoControl / CloseHandle. Elsewhere the
// same three calls reach the virtual card (or the Linux hardware driver).
#pragma once
#include <stdint.h>

typedef uintptr_t DriverHandle;   // 0 = no device

// Opens a device path such as "\\\\.\\Norvik" with read/write access and
// read/write sharing, as OPEN_EXISTING. False when it cannot be opened.
bool DeviceOpen(const char* path, DriverHandle* handle);

// One DeviceIoControl: input and output buffers, no overlapped I/O.
// The result alone tells success; *returned is filled but never relied on.
bool DeviceControl(DriverHandle handle, uint32_t code, const void* input, uint32_t inputLength,
                   void* output, uint32_t outputLength, uint32_t* returned);

void DeviceClose(DriverHandle handle);
