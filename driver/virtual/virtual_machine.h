/* The virtual machine inside QZF.SYS as the kernel side in C sees it: the
 * machine file going in and out, the device opens, and the real clock that
 * the kernel side provides. */
#ifndef QZ_DRIVER_VIRTUAL_MACHINE_H
#define QZ_DRIVER_VIRTUAL_MACHINE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes a machine file can take at most. */
uint32_t QzvMaxFileSize(void);
/* Takes the machine from a machine file; non-zero on success. Restarts the clock. */
int QzvLoad(const uint8_t* file, uint32_t size);
/* Writes the machine as the driver leaves it; the bytes written, 0 if it did not fit. */
uint32_t QzvSave(uint8_t* buffer, uint32_t capacity);
/* Whether the device may be opened (non-zero: yes); counts opens and closes. */
int QzvOpen(void);
void QzvClose(void);

/* Provided by the kernel side: monotonic real time in nanoseconds. */
uint64_t QzRealNs(void);

#ifdef __cplusplus
}
#endif

#endif
