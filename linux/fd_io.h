// Whole reads and writes on a file descriptor, through interruptions and
// short transfers.
#pragma once
#include <stddef.h>
#include <sys/types.h>

// Writes all of `data` with write(2) and nothing else, so that a signal
// handler may call it. False when a write failed or wrote nothing.
bool WriteAll(int fd, const void* data, size_t length);

// Up to `size` bytes, fewer only at the end of the file; -1 with errno on a
// failed read.
ssize_t ReadUpTo(int fd, void* buffer, size_t size);
