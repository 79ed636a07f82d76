// The driver devices through the Win32 file and device control calls.
#include <windows.h>

#include "platform/driver_io.h"

bool DeviceOpen(const char* path, DriverHandle* handle)
{
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        *handle = 0;
        return false;
    }
    *handle = reinterpret_cast<DriverHandle>(device);
    return true;
}

bool DeviceControl(DriverHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
                   uint32_t outputLength, uint32_t* returned)
{
    DWORD count = 0;
    BOOL ok = DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, const_cast<void*>(input), inputLength, output,
                              outputLength, &count, NULL);
    if (returned)
        *returned = count;
    return ok != FALSE;
}

void DeviceClose(DriverHandle handle)
{
    if (handle)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}
