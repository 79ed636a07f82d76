#include "linux/backup.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "app/commands.h"
#include "app/dual_bios.h"
#include "core/state.h"
#include "engine/flash.h"
#include "hw/hw.h"
#include "linux/cards.h"
#include "linux/front_end.h"
#include "linux/paths.h"
#include "platform/console/console.h"

namespace {

const char NothingErased[] = "nothing was erased; --no-backup updates without a backup.";

int Refuse(const char* what, const char* why)
{
    fprintf(stderr, "qzflash: %s%s%s; %s\n", what, why ? ": " : "", why ? why : "", NothingErased);
    return ExitFailed;
}

// folder/qzflash-20250131-142502-01-00.0.rom, or with -2 ... -99 before
// ".rom" when that is taken. False when every name is.
bool NewName(const char* folder, char* path, size_t size)
{
    char stamp[32] = "";
    time_t now = time(0);
    struct tm local;
    if (localtime_r(&now, &local))
        strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    char address[24];
    CardAddressText(CurrentCard, address, sizeof address);
    // "0000:01:00.0" as "01-00.0": no colons in a file name.
    const char* card = address + 5;
    char name[24];
    snprintf(name, sizeof name, "%.2s-%.8s", card, card + 3);
    for (int n = 1; n < 100; ++n) {
        char suffix[8] = "";
        if (n > 1)
            snprintf(suffix, sizeof suffix, "-%d", n);
        int length = snprintf(path, size, "%s/qzflash-%s-%s%s.rom", folder, stamp, name, suffix);
        struct stat info;
        if (length < 0 || static_cast<size_t>(length) >= size)
            return false;
        if (lstat(path, &info) != 0 && errno == ENOENT)
            return true;
    }
    return false;
}

}  // namespace

int BackUpCard(char* path, size_t size)
{
    char folder[PathBufferSize], why[128];
    if (!BackupFolder(folder, sizeof folder, why, sizeof why))
        return Refuse("no folder for the backup", why);
    if (!MakeFolders(folder)) {
        char what[PathBufferSize + 32];
        snprintf(what, sizeof what, "the backup folder %s", folder);
        return Refuse(what, strerror(errno));
    }
    if (!NewName(folder, path, size))
        return Refuse("no free name for the backup in", folder);
    if (DualBios && !SelectRom1())
        return Refuse("ROM 1 of the dual-BIOS board cannot be selected for the backup", 0);
    // The flow's own state stays as the update will find it.
    uint32_t length = ImageLength;
    bool loaded = ImageLoaded;
    static uint8_t rom[ImageBufferSize];
    bool read = ReadRomImage(rom);
    char line[PathBufferSize + 96];
    if (read) {
        snprintf(line, sizeof line, "== Backup of the card's BIOS: %s", path);
        ConsolePrintLine(line);
    }
    bool saved = read && SaveImageFile(path, rom);
    uint32_t backupLength = ImageLength;
    ImageLength = length;
    ImageLoaded = loaded;
    ConsoleFlushStatus();
    if (!read)
        return Refuse("the card's ROM holds no image with a valid header to back up", 0);
    if (!saved) {
        if (ConsoleSeen.fileError != 0) {
            fprintf(stderr, "qzflash: %s: %s\n", ConsoleSeen.fileErrorPath, strerror(ConsoleSeen.fileError));
            ConsoleSeen.fileError = 0;
        }
        return Refuse("the backup could not be written whole, or did not read back as the card holds it", 0);
    }
    snprintf(line, sizeof line, "== Backup written, %u bytes, read back and compared with the card",
             static_cast<unsigned>(backupLength));
    ConsolePrintLine(line);
    return ExitOk;
}
