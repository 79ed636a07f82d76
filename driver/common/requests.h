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
};

// What a flavour provides. Each returns false when the device or address
// does not answer.
struct QzBackend {
    // The slot's configuration space from offset 0 (PciConfigOutputSize bytes).
    bool (*ReadConfig)(uint16_t bus, uint16_t slot, uint8_t* space);
    // One access of `size` (1 or 4) bytes at a physical address of the bus.
    bool (*ReadMemory)(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value);
    bool (*WriteMemory)(uint32_t bus, uint32_t address, uint32_t value, uint32_t size);
};

enum : uint16_t { QzMaxPciBus = 255, QzMaxSlot = 63 };

// Handles one request; *returned is the count of output bytes that are valid.
QzRequestStatus QzHandleRequest(const QzBackend* backend, uint32_t code, const void* input, uint32_t inputLength,
                                void* output, uint32_t outputLength, uint32_t* returned);

// The backend of the flavour linked into the driver.
const QzBackend* QzFlavourBackend();
