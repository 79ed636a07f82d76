#include "linux/image_file.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "engine/image.h"
#include "linux/fd_io.h"

void (*ImageFileReadHook)(const char* path);

namespace {

// File systems whose files are not images on a disk: their reads can block
// or return what their size does not say.
const struct {
    long magic;
    const char* name;
} PseudoFileSystems[] = {
    {SYSFS_MAGIC, "sysfs"},
    {PROC_SUPER_MAGIC, "procfs"},
    {DEBUGFS_MAGIC, "debugfs"},
    {TRACEFS_MAGIC, "tracefs"},
    {SECURITYFS_MAGIC, "securityfs"},
    {EFIVARFS_MAGIC, "efivarfs"},
};

void Say(const char* path, const char* text)
{
    fprintf(stderr, "qzflash: %s: %s\n", path, text);
}

const char* PseudoFileSystem(int fd)
{
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0)
        return 0;
    for (const auto& entry : PseudoFileSystems) {
        if (static_cast<long>(fs.f_type) == entry.magic)
            return entry.name;
    }
    return 0;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

bool ReadImageBytes(const char* path, ImageFile* image, uint64_t* fileSize)
{
    memset(image->bytes, 0, sizeof image->bytes);
    image->length = 0;
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        Say(path, strerror(errno));
        return false;
    }
    struct stat before;
    if (fstat(fd, &before) != 0) {
        Say(path, strerror(errno));
        close(fd);
        return false;
    }
    const char* pseudo = S_ISREG(before.st_mode) ? PseudoFileSystem(fd) : 0;
    if (!S_ISREG(before.st_mode) || pseudo) {
        char text[128];
        snprintf(text, sizeof text, "%s%s; images are read from regular files on a disk only.",
                 pseudo ? "a file of " : "not a regular file", pseudo ? pseudo : "");
        Say(path, text);
        close(fd);
        return false;
    }
    ssize_t got = ReadUpTo(fd, image->bytes, sizeof image->bytes);
    if (got < 0) {
        Say(path, strerror(errno));
        close(fd);
        return false;
    }
    if (ImageFileReadHook)
        ImageFileReadHook(path);
    // The open file and whatever the path names now must both still be the
    // file as it was, and the read must have seen all of it. Timestamps only
    // move on the clock's tick, so the bytes are read a second time as well:
    // a rewrite within one tick shows there.
    static uint8_t again[ImageBufferSize];
    struct stat after, named;
    bool same = fstat(fd, &after) == 0 && stat(path, &named) == 0 && SameFile(before, after) &&
                SameFile(before, named) && lseek(fd, 0, SEEK_SET) == 0 && ReadUpTo(fd, again, sizeof again) == got &&
                memcmp(again, image->bytes, static_cast<size_t>(got)) == 0;
    uint64_t expected = static_cast<uint64_t>(before.st_size) < sizeof image->bytes
                            ? static_cast<uint64_t>(before.st_size)
                            : sizeof image->bytes;
    close(fd);
    if (!same || static_cast<uint64_t>(got) != expected) {
        memset(image->bytes, 0, sizeof image->bytes);
        Say(path, "changed while it was read; nothing was written. Update again once nothing writes to the file.");
        return false;
    }
    image->length = static_cast<uint32_t>(got);
    *fileSize = static_cast<uint64_t>(before.st_size);
    return true;
}

uint8_t ImageChecksum(const uint8_t* bytes, uint32_t length)
{
    uint8_t sum = 0;
    for (uint32_t i = 0; i < length; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

bool ReadImageFile(const char* path, bool force, ImageFile* image)
{
    uint64_t fileSize = 0;
    if (!ReadImageBytes(path, image, &fileSize))
        return false;
    uint32_t length = 0;
    // A header the flow refuses is left to it: it says so with its own text.
    if (!ImageLengthFromHeader(image->bytes, &length) || length > image->length)
        return true;
    uint8_t sum = ImageChecksum(image->bytes, length);
    char text[256];
    if (sum != 0) {
        // A system BIOS does not run an option ROM whose bytes do not sum to 0.
        snprintf(text, sizeof text,
                 force ? "warning: the image's checksum is wrong (its %u bytes sum to 0x%02X, not 0); written "
                         "anyway (--force)."
                       : "the image's checksum is wrong: its %u bytes sum to 0x%02X, not 0, and a system BIOS would "
                         "not run it. Nothing was written; --force writes it anyway.",
                 length, sum);
        Say(path, text);
        if (!force)
            return false;
    }
    if (fileSize > length) {
        snprintf(text, sizeof text,
                 "warning: the file holds %llu bytes, its header says the image has %u; only those are written.",
                 static_cast<unsigned long long>(fileSize), length);
        Say(path, text);
    }
    return true;
}
