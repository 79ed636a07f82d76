// Files in place: a run may find an old backup at its save path and may keep
// the target card's parts in files that are written back when it ends (as
// qzflash does), and the process may be ended in the middle of either write.
// An existing file is never lost or left partial: it is the old one byte for
// byte or the whole new one.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "campaign/campaign.h"
#include "vcard/host/vcard_host.h"

CampaignBytes CampaignReadFile(const std::string& path, bool* exists)
{
    CampaignBytes content;
    FILE* f = fopen(path.c_str(), "rb");
    *exists = f != nullptr;
    if (!f)
        return content;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        content.insert(content.end(), chunk, chunk + n);
    fclose(f);
    return content;
}

void DrawFilesInPlace(uint64_t seed, Scenario* s)
{
    Rng rng = RunRng(seed ^ 0xF11E5, s->run);
    s->oldSaveFile = s->flow == FlowSave && rng.Percent(60);
    // Empty, shorter, as long as or longer than any image.
    static const uint32_t Sizes[] = {0, 1, 1000, 4096, 32768, 65536, 100000};
    s->oldSaveSize = Sizes[rng.Below(sizeof Sizes / sizeof Sizes[0])];
    s->partFiles = rng.Percent(25);
    s->fileKillInSave = s->flow == FlowSave && (!s->partFiles || rng.Percent(50));
    // In thousandths of the file; the caller scales it to the file's length.
    s->fileKillAt = static_cast<int32_t>(rng.Below(1000));
}

const char* PartFileName(int rom)
{
    return rom == 0 ? "PART1.BIN" : "PART2.BIN";
}

CampaignBytes OldSaveFile(const Scenario& s)
{
    Rng rng = RunRng(0x01DF11E, s.run);
    CampaignBytes bytes(s.oldSaveSize);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng.Next());
    return bytes;
}

void LimitFileWrites(int32_t bytes)
{
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes < 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
    setrlimit(RLIMIT_FSIZE, &limit);
    if (bytes >= 0) {
        // An end, not a core file.
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_CORE, &none);
        signal(SIGXFSZ, SIG_DFL);
    }
}

std::vector<CampaignBytes> ReadPartFiles(const VcMachine* machine)
{
    std::vector<CampaignBytes> files;
    for (int c = 0; c < machine->cardCount; ++c) {
        for (int i = 0; i < machine->cards[c].partCount; ++i) {
            const VcFlashPart& part = machine->cards[c].parts[i];
            bool exists = false;
            if (part.file[0] != 0)
                files.push_back(CampaignReadFile(part.file, &exists));
        }
    }
    return files;
}

bool PartFilesKeptOrWhole(const VcMachine* machine, const std::vector<CampaignBytes>& old, uint32_t* kept,
                          uint32_t* replaced, char* why, size_t whySize)
{
    std::vector<CampaignBytes> now = ReadPartFiles(machine);
    size_t k = 0;
    for (int c = 0; c < machine->cardCount; ++c) {
        for (int i = 0; i < machine->cards[c].partCount; ++i) {
            const VcFlashPart& part = machine->cards[c].parts[i];
            if (part.file[0] == 0)
                continue;
            if (k >= now.size() || k >= old.size())
                return true;
            const CampaignBytes& file = now[k];
            if (file == old[k]) {
                ++*kept;
            } else if (file.size() == part.size && memcmp(file.data(), part.data, part.size) == 0) {
                ++*replaced;
            } else {
                snprintf(why, whySize, "%s: %zu bytes, neither the old %zu nor the part's whole %u", PartFileName(i),
                         file.size(), old[k].size(), part.size);
                return false;
            }
            ++k;
        }
    }
    return true;
}
