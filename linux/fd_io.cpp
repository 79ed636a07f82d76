#include "linux/fd_io.h"

#include <errno.h>
#include <unistd.h>

bool WriteAll(int fd, const void* data, size_t length)
{
    const char* at = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = write(fd, at, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

ssize_t ReadUpTo(int fd, void* buffer, size_t size)
{
    char* at = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < size) {
        ssize_t n = read(fd, at + total, size - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        total += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(total);
}
