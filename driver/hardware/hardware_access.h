/* The hardware flavour's kernel side as its backend (hardware_backend.cpp)
 * sees it: PCI configuration through the HAL, and single accesses through
 * mappings of the card windows the common part found. Each returns non-zero
 * on success. */
#ifndef QZ_DRIVER_HARDWARE_ACCESS_H
#define QZ_DRIVER_HARDWARE_ACCESS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Windows the flavour can keep mapped, one per card window (QzMaxWindows). */
#define QZH_WINDOWS 8
#define QZH_WINDOW_SIZE 0x01000000u

/* The slot's configuration space, 400 bytes: the device's 256, then zeros.
 * Slot index s is PCI device s & 31, function s >> 5. Fails for an empty slot. */
int QzhReadConfig(uint16_t bus, uint16_t slot, uint8_t* space);

/* One access of `size` (1 or 4) bytes at `offset` into window `window`,
 * whose physical base is `base`; the window is mapped on first use. */
int QzhRead(int window, uint32_t base, uint32_t offset, uint32_t size, uint32_t* value);
int QzhWrite(int window, uint32_t base, uint32_t offset, uint32_t value, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
