/* The seam between the kernel side of QZF.SYS, written in C against the
 * kernel headers, and the parts in C++ that know no kernel types. A flavour
 * (the virtual card, the hardware) provides the five QzFlavour
 * functions; requests.cpp provides QzDispatchRequest. All run at
 * PASSIVE_LEVEL, one at a time: the common part holds a lock around them. */
#ifndef QZ_DRIVER_FLAVOUR_H
#define QZ_DRIVER_FLAVOUR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct _UNICODE_STRING;

/* In DriverEntry, before the device exists; an NTSTATUS, failure fails the load. */
long QzFlavourStart(struct _UNICODE_STRING* registryPath);
/* In the unload routine, after the device is gone. */
void QzFlavourStop(void);
/* Whether a handle may be opened now (non-zero: yes); every open and close is reported. */
int QzFlavourOpen(void);
void QzFlavourClose(void);

/* Finds the supported cards' register windows through the flavour's
 * backend, once, after QzFlavourStart; returns how many there are. Memory
 * requests outside them are refused. */
int QzFindCardWindows(void);

/* One buffered request on the flavour's backend: `buffer` holds the input
 * and receives the output. Returns a QzRequestStatus (requests.h). */
int QzDispatchRequest(uint32_t code, void* buffer, uint32_t inputLength, uint32_t outputLength, uint32_t* returned);

#ifdef __cplusplus
}
#endif

#endif
