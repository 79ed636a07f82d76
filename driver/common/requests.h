// The three requests of the kernel driver: validation and dispatch to the
// flavour's backend. Shared by every flavour of QZF.SYS and free of kernel
// types, so that it is the same code in the driver and in the unit tests.
//
// Buffered requests use one system buffer for input and output: the request
// is copied out of it before anything is written back.
#pragma once
#include <stdint.h>

enum QzRequestStatus {
    QzRequestOk = 0,
    QzRequestUnknownCode,       // not one of the three control codes
    QzRequestBadParameter,      // input of the wrong length, or a field out of range
    QzRequestBufferTooSmall,    // output shorter than the answer
    QzRequestDeviceFailure,     // the backend found no such device or refused the access
    QzRequestOutsideWindow,     // a memory request outside every card window the driver found
};

// What a flavour provides. Each returns false when the device or address
// does not answer.
struct QzBackend {
    // The slot's configuration space from offset 0 (PciConfigOutputSize bytes).
    bool (*ReadConfig)(uint16_t bus, uint16_t slot, uint8_t* space);
    // One access of `size` (1 or 4) bytes at a physical address of the bus.
    bool (*ReadMemory)(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value);
    bool (*WriteMemory)(uint32_t bus, uint32_t address, uint32_t value, uint32_t size);
    // Configuration space for the driver's own window scan. Usually ReadConfig
    // itself; a flavour that counts the program's requests gives a quiet one.
    bool (*ScanConfig)(uint16_t bus, uint16_t slot, uint8_t* space);
};

enum : uint16_t { QzMaxPciBus = 255, QzMaxSlot = 63 };

// Memory requests reach only the register windows of supported cards, which
// the driver finds itself when it starts: a caller cannot name another
// address. A window is BAR0 with its low 24 bits cleared, 16 MiB long, on the
// card's bus; slot index s is PCI device s & 31, function s >> 5.
enum : uint32_t { QzWindowSize = 0x01000000, QzWindowMask = 0xFF000000 };
enum { QzMaxWindows = 8 };

struct QzWindow {
    uint8_t bus;
    uint8_t slot;        // slot index
    uint16_t deviceId;
    uint32_t base;
};

// Forgets the windows and walks every slot of buses 0..QzMaxPciBus through
// backend->ScanConfig; returns the number of windows kept (at most QzMaxWindows).
int QzFindWindows(const QzBackend* backend);
void QzForgetWindows();
int QzWindowCount();
const QzWindow* QzWindowAt(int index);
// The window on `bus` holding every byte of [address, address + size); -1 if none.
int QzWindowOf(uint32_t bus, uint32_t address, uint32_t size);

// Handles one request; *returned is the count of output bytes that are valid.
QzRequestStatus QzHandleRequest(const QzBackend* backend, uint32_t code, const void* input, uint32_t inputLength,
                                void* output, uint32_t outputLength, uint32_t* returned);

// The backend of the flavour linked into the driver.
const QzBackend* QzFlavourBackend();
