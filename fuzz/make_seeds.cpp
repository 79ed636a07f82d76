// Writes the seed corpus of every fuzz target: valid images made by the
// image generator and the edge cases around them (sizes at the buffer's
// bounds, header fields pointing anywhere, a data structure or control block
// at the very end), the example machine profiles and broken ones, registry
// templates, skin-like and odd bitmaps, and driver request sequences.
// Usage: qz_fuzz_seeds OUTPUT-FOLDER PROFILES-FOLDER
#include <dirent.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "vcard/host/vcard_host.h"
#ifdef QZ_SEED_DRIVER
#include "driver/virtual/machine_file.h"
#include "hw/driver_requests.h"
#endif

namespace {

typedef std::vector<uint8_t> Bytes;

std::string Out;
int Written;
bool Failed;

void Seed(const char* target, const char* name, const Bytes& bytes)
{
    std::string folder = Out + "/" + target;
    mkdir(folder.c_str(), 0755);
    std::string path = folder + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && (bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    if (f && fclose(f) != 0)
        ok = false;
    if (!ok) {
        fprintf(stderr, "qz_fuzz_seeds: cannot write %s\n", path.c_str());
        Failed = true;
    }
    ++Written;
}

void SeedText(const char* target, const char* name, const std::string& prefix, const std::string& text)
{
    Bytes bytes(prefix.begin(), prefix.end());
    bytes.insert(bytes.end(), text.begin(), text.end());
    Seed(target, name, bytes);
}

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Add32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Add16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

Bytes Image(uint32_t length, uint16_t deviceId, const char* version)
{
    Bytes image(65536, 0);
    VcBiosImageSpec spec;
    memset(&spec, 0, sizeof spec);
    VcParseBiosVersion(version, &spec);
    spec.vendorId = 0x10DE;
    spec.deviceId = deviceId;
    spec.length = length;
    if (!VcMakeBiosImage(spec, image.data(), 65536))
        Failed = true;
    image.resize(length);
    return image;
}

Bytes Prefixed(const Bytes& fields, const Bytes& payload)
{
    Bytes out = fields;
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// ---- images ----

void ImageSeeds()
{
    Bytes full = Image(65536, 0x0281, "04.28.20.05");
    Bytes small = Image(1024, 0x0281, "04.28.20.05.01");

    Seed("image_length", "full", full);
    Seed("image_length", "small", small);
    Bytes b = full;
    b[2] = 0;
    Seed("image_length", "size-zero", b);
    b = full;
    b[2] = 0x80;
    b[0x34] &= 0x7F;
    Seed("image_length", "size-80-no-extension", b);
    b = full;
    b[2] = 0x60;
    b[0x34] |= 0x80;
    Put16(b, 0x36, 0xF000);
    b[0xF001] = 0x20;
    Seed("image_length", "extension-to-64k", b);
    for (uint32_t w : {0x0000u, 0x5FFFu, 0xFFFEu, 0xFFFFu}) {
        b = full;
        b[2] = 0x30;
        b[0x34] = 0x80;
        Put16(b, 0x36, w);
        b[(w + 1) & 0xFFFF] = 0xFF;
        char name[32];
        snprintf(name, sizeof name, "extension-at-%04X", w);
        Seed("image_length", name, b);
    }

    // ImagePciIds / CheckImageIds: declared length, card ids, image bytes.
    struct IdCase {
        const char* name;
        uint32_t length;
        uint32_t pointer;
        uint16_t cardDevice;
    };
    const IdCase ids[] = {
        {"match", 65536, 0x100, 0x0281},
        {"other-card", 65536, 0x100, 0x0250},
        {"structure-at-end", 1024, 1024 - 8, 0x0281},
        {"structure-one-past", 1024, 1024 - 7, 0x0281},
        {"pointer-ffff", 65536, 0xFFFF, 0x0281},
        {"length-zero", 0, 0x100, 0x0281},
        {"length-1a", 0x1A, 0x10, 0x0281},
        {"length-65537", 65537, 0xFFF8, 0x0281},
        {"length-huge", 0xFFFFFFFFu, 0x100, 0x0281},
    };
    for (const IdCase& c : ids) {
        Bytes fields;
        Add32(fields, c.length);
        Add16(fields, 0x10DE);
        Add16(fields, c.cardDevice);
        b = full;
        Put16(b, 0x18, c.pointer);
        if (c.pointer + 8 <= b.size()) {
            Put16(b, c.pointer + 4, 0x10DE);
            Put16(b, c.pointer + 6, 0x0281);
        }
        Seed("image_ids", c.name, Prefixed(fields, b));
    }

    // BiosVersionText: ImageLength, image bytes. Control blocks near the end.
    const uint8_t block[] = {0xFF, 0x7F, 0x4E, 0x56, 0x00, 0x04, 0, 0, 0, 0, 0x00, 0x15, 0x25, 0x04};
    struct VersionCase {
        const char* name;
        uint32_t length;
        uint32_t at;
        uint8_t version;
    };
    const VersionCase versions[] = {
        {"generated", 65536, 0, 0},
        {"block-v4", 4096, 0x40, 4},
        {"block-v5", 4096, 0x40, 5},
        {"block-v0", 4096, 0x40, 0},
        {"signature-last-bytes", 4096, 4096 - 4, 4},
        {"signature-one-byte-after", 4096, 4096 - 5, 4},
        {"block-at-end-v4", 4096, 4096 - 14, 4},
        {"block-at-end-v5-no-fifth", 4096, 4096 - 14, 5},
        {"block-at-end-v5-fifth-last", 4096, 4096 - 63, 5},
        {"length-zero", 0, 0, 4},
        {"length-huge", 0x7FFFFFFFu, 0x40, 5},
    };
    for (const VersionCase& c : versions) {
        Bytes fields;
        Add32(fields, c.length);
        if (c.version == 0 && c.at == 0) {
            Seed("bios_version", c.name, Prefixed(fields, full));
            continue;
        }
        b = Bytes(c.length < 65536 ? c.length : 65536, 0x11);
        for (size_t i = 0; i < sizeof block && c.at + i < b.size(); ++i)
            b[c.at + i] = block[i];
        if (c.at + 5 < b.size())
            b[c.at + 5] = c.version;
        if (c.at + 62 < b.size())
            b[c.at + 62] = 0x01;
        Seed("bios_version", c.name, Prefixed(fields, b));
    }

    // LoadImageFile: flags byte, then the file. Sizes around the buffer.
    const Bytes flags = {0x00};
    Seed("load_image", "empty", flags);
    Seed("load_image", "one-byte", Prefixed(flags, Bytes(1, 0x55)));
    Seed("load_image", "full", Prefixed(flags, full));
    Seed("load_image", "small", Prefixed(flags, small));
    b = full;
    b.resize(65535);
    Seed("load_image", "65535", Prefixed(flags, b));
    b = full;
    b.push_back(0xEE);
    Seed("load_image", "65537", Prefixed(flags, b));
    b = small;
    b.resize(1000);
    Seed("load_image", "truncated", Prefixed(flags, b));
    b = full;
    b[2] = 0x60;
    b[0x34] |= 0x80;
    Put16(b, 0x36, 0xF000);
    b[0xF001] = 0x40;
    Seed("load_image", "oversized-by-extension", Prefixed(flags, b));
    b = full;
    b[2] = 0;
    Seed("load_image", "size-zero", Prefixed(flags, b));
    Seed("load_image", "read-fails", Prefixed(Bytes(1, 0x01), small));
}

// ---- profiles ----

void ProfileSeeds(const char* profiles)
{
    DIR* dir = opendir(profiles);
    if (dir) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() < 9 || name.compare(name.size() - 8, 8, ".profile") != 0)
                continue;
            std::string path = std::string(profiles) + "/" + name;
            FILE* f = fopen(path.c_str(), "rb");
            if (!f)
                continue;
            std::string text;
            char chunk[4096];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
                text.append(chunk, n);
            fclose(f);
            // Their contents files are the fixture folder's.
            for (size_t at = text.find("file="); at != std::string::npos; at = text.find("file=", at + 1)) {
                size_t end = text.find_first_of(" \t\n", at);
                text.replace(at, end - at, "file=short.rom");
            }
            SeedText("profile", name.c_str(), std::string(1, '\x05'), text);
        }
        closedir(dir);
    }
    const char* cards = "card 1:0 0x10DE:0x0281 bar0=0xE0000000\n";
    struct ProfileCase {
        const char* name;
        std::string text;
    };
    std::string longLine = "# " + std::string(600, 'x') + "\n";
    std::string manyDevices;
    for (int i = 0; i < 25; ++i)
        manyDevices += "device 0:" + std::to_string(i) + " 0x8086:0x2570\n";
    std::string manyCards;
    for (int i = 0; i < 11; ++i)
        manyCards += "card 1:" + std::to_string(i) + " 0x10DE:0x0281 bar0=0x" + std::to_string(10 + i) + "000000\npart 39VF010\n";
    std::string manyRules;
    for (int i = 0; i < 9; ++i)
        manyRules += "fail mem-read skip=" + std::to_string(i) + "\n";
    const ProfileCase cases[] = {
        {"duplicate-slot", std::string(cards) + "part 39VF010\ncard 1:0 0x10DE:0x0250 bar0=0xE1000000\n"},
        {"shared-window", std::string(cards) + "card 1:1 0x10DE:0x0250 bar0=0xE0800000\n"},
        {"absurd-sizes", std::string(cards) + "part 39VF010 image=04.28.20.05 image-size=70000\n"},
        {"bar0-too-wide", "card 1:0 0x10DE:0x0281 bar0=0x1FFFFFFFF\n"},
        {"slot-64", "card 1:64 0x10DE:0x0281 bar0=0xE0000000\n"},
        {"bus-4", "device 4:0 0x10DE:0x0281\n"},
        {"missing-file", std::string(cards) + "part 39VF010 file=missing.rom image=04.28.20.05\n"},
        {"empty-file", std::string(cards) + "part 39VF512 file=empty.rom\n"},
        {"exact-file", std::string(cards) + "part 39VF512 file=exact.rom\n"},
        {"long-file", std::string(cards) + "part 39VF010 file=long.rom\n"},
        {"dual-one-part", "card 1:0 0x10DE:0x0253 bar0=0xE0000000 dual=rom2\npart 39VF010\n"},
        {"dual-three-parts", "card 1:0 0x10DE:0x0253 bar0=0xE0000000 dual=rom1\npart 39VF010\npart 39VF010\npart 39VF010\n"},
        {"faults", std::string(cards) + "part 29EE010\npart-fault erase-never-finishes dead-byte=0x1FFFF "
                                        "stuck-bit=0x10:0x80:0x80 page-load-times-out\n"
                                        "card-fault rom-switch-stuck=0 dual-bios-stops-after=3\n"},
        {"fail-rules", std::string(cards) + "part 39VF010\nfail mem-write address=0xE0301850 skip=5 count=2\n"
                                            "fail pci-config slot=1:0\nmachine vxd-open-fails driver-open-fails\n"},
        {"spi-on-parallel", std::string(cards) + "part AT25F1024 code=0x40\n"},
        {"long-line", longLine},
        {"many-words", std::string(cards) + "part 39VF010 a=1 b=2 c=3 d=4 e=5 f=6 g=7 h=8 i=9 j=10 k=11 l=12 m=13 n=14 o=15\n"},
        {"many-devices", manyDevices},
        {"many-cards", manyCards},
        {"many-rules", std::string(cards) + "part 39VF010\n" + manyRules},
        {"numbers", "device 0x0:0x00 0x:0x1 bar0=-1 class=0x1000000\n"},
        {"crlf", "card 1:0 0x10DE:0x0281 bar0=0xE0000000\r\npart 39VF010\r\n"},
    };
    for (const ProfileCase& c : cases)
        SeedText("profile", c.name, std::string(1, '\x05'), c.text);
}

// ---- setup ----

void AddText(Bytes& b, const std::string& text)
{
    b.push_back(static_cast<uint8_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
}

void SetupSeeds()
{
    struct CommandCase {
        const char* name;
        uint8_t family;
        std::string className;
        std::string templ;
        std::string windows;
        std::string setup;
    };
    const std::string verb = "%SystemRoot%\\System32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 %1";
    const CommandCase cases[] = {
        {"worked-example", 1, std::string("inffile") + '\0', verb + '\0', "D:\\WINNT", "E:\\DRIVER\\"},
        {"root-windows", 1, "inffile", verb, "C:\\", "C:\\QZ\\"},
        {"other-variable", 0, "inffile", "%WINDIR%\\rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 %1",
         "C:\\WINDOWS", "A:\\"},
        {"no-marker", 1, "inffile", "%SystemRoot%\\System32\\rundll32.exe setupapi", "C:\\WINNT", "A:\\"},
        {"one-percent", 1, "inffile", "%SystemRoot\\rundll32.exe %1", "C:\\WINNT", "A:\\"},
        {"two-markers", 1, "inffile", "x %1 %1 %1", "C:\\WINNT", "C:\\Program Files\\QZ Flash\\"},
        {"unterminated", 1, std::string(128, 'c'), std::string(128, '%'), "C:\\WINNT", "A:\\"},
        {"longest", 1, std::string(127, 'c'), "%" + std::string(60, 'v') + "%" + std::string(64, 'x') + "%1",
         std::string(127, 'w'), std::string(127, 's')},
        {"empty", 0, "", "", "", ""},
    };
    for (const CommandCase& c : cases) {
        Bytes b(1, c.family);
        AddText(b, c.className);
        AddText(b, c.templ);
        AddText(b, c.windows);
        AddText(b, c.setup);
        Seed("setup_command", c.name, b);
    }

    // Region scan: width, height, padding, flags, key, tolerance, batch,
    // room, grows, then pixel codes (0: key colour, 5: black, 6: white).
    struct RegionCase {
        const char* name;
        uint16_t width;
        uint16_t height;
        uint8_t flags;
        uint16_t batch;
        uint8_t room;
        uint8_t grows;
        Bytes codes;
    };
    Bytes skin;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 400; ++x) {
            bool inside = (x - 200) * (x - 200) / 4 + (y - 100) * (y - 100) < 90 * 90;
            skin.push_back(inside ? ((x / 7 + y / 5) % 2 ? 5 : 6) : 0);
        }
    }
    const RegionCase regions[] = {
        {"skin", 400, 200, 0, 2000, 100, 255, skin},
        {"skin-small-batches", 400, 200, 0, 7, 0, 255, skin},
        {"one-pixel", 1, 1, 0, 2000, 1, 1, Bytes(1, 5)},
        {"empty", 0, 0, 0, 2000, 0, 0, Bytes()},
        {"negative-height", 10, 10, 1, 2000, 0, 0, Bytes(1, 5)},
        {"checkerboard-no-growth", 64, 4, 0, 2000, 4, 0, Bytes{0, 5}},
        {"edges-of-range", 16, 16, 0, 3, 2, 255, Bytes{0, 1, 2, 3, 4, 5, 6, 7}},
        {"zero-batch", 4, 4, 0, 0, 8, 8, Bytes(1, 5)},
    };
    for (const RegionCase& c : regions) {
        Bytes b;
        Add16(b, c.width);
        Add16(b, c.height);
        b.push_back(c.width == 64 ? 4 : 0);
        b.push_back(c.flags);
        b.insert(b.end(), {0x00, 0xFF, 0x00});                  // pure green key
        b.insert(b.end(), {static_cast<uint8_t>(c.width == 16 ? 8 : 0), 0, 0});
        Add16(b, c.batch);
        b.push_back(c.room);
        b.push_back(c.grows);
        b.insert(b.end(), c.codes.begin(), c.codes.end());
        Seed("setup_region", c.name, b);
    }
}

// ---- driver requests ----

// One record: op, bus, target, offset, value, size code, output length,
// input tweak, time step (see fuzz_vcard_requests.cpp).
void Request(Bytes& b, uint8_t op, uint8_t bus, uint8_t target, uint32_t offset, uint32_t value, uint8_t size)
{
    b.push_back(op);
    b.push_back(bus);
    b.push_back(target);
    Add32(b, offset);
    Add32(b, value);
    b.push_back(size);
    b.push_back(8);
    b.push_back(0);
    b.push_back(0);
}

void RequestSeeds()
{
    // Targets: 0x80 | register << 2 | card; registers 0 switch, 1 serial
    // lines, 4 dual-BIOS, 5..7 aperture cycles.
    Bytes jedec;
    Request(jedec, 1, 1, 0x80, 0, 0, 0);                   // open the ROM switch
    Request(jedec, 1, 1, 0x80 | 6 << 2, 0, 0xAA, 0);
    Request(jedec, 1, 1, 0x80 | 7 << 2, 0, 0x55, 0);
    Request(jedec, 1, 1, 0x80 | 6 << 2, 0, 0x90, 0);
    Request(jedec, 0, 1, 0x80 | 5 << 2, 0, 0, 0);
    Request(jedec, 0, 1, 0xC0 | 5 << 2, 1, 0, 0);
    Seed("vcard_requests", "jedec-id", jedec);

    Bytes serial;
    Request(serial, 1, 0, 0x81, 0, 0, 0);
    for (uint32_t lines : {0x3u, 0x1u, 0x5u, 0x1u, 0x9u, 0xDu, 0x9u, 0x3u})
        Request(serial, 1, 0, 0x81 | 1 << 2, 0, lines, 1);
    Request(serial, 0, 0, 0x81 | 1 << 2, 0, 0, 1);
    Seed("vcard_requests", "serial-lines", serial);

    Bytes dual;
    for (uint32_t probe : {0x2200u, 0x1200u, 0x0200u, 0xF000u, 0x0000u})
        Request(dual, 1, 2, 0x82 | 4 << 2, 0, probe, 1);
    Request(dual, 0, 2, 0x82 | 4 << 2, 0, 0, 1);
    Seed("vcard_requests", "dual-bios", dual);

    Bytes config;
    Request(config, 0x82, 1, 0, 0, 0, 0);
    Request(config, 0x42, 3, 0, 0xFFFF, 0, 0);
    Request(config, 3, 0, 0, 0x12345678, 0x9C406454, 0);
    Request(config, 0x84, 1, 0x80, 0, 0, 0);
    Seed("vcard_requests", "config-and-odd", config);
}

#ifdef QZ_SEED_DRIVER
// The kernel driver: its three requests as the program sends them, and
// machine files of the example machines.
void DriverSeeds(const char* profiles)
{
    struct RequestCase {
        const char* name;
        uint8_t code;   // 0 config, 1 read, 2 write (see fuzz_driver_requests.cpp)
        Bytes input;
        uint16_t output;
        uint8_t flags;
    };
    Bytes config = {1, 0, 5, 0};
    Bytes read(20, 0), write(20, 0);
    Put16(read, 0, 1);
    Put16(read, 4, 0x1850);
    read[7] = 0xE0;
    read[16] = 1;
    write = read;
    write[12] = 0x5A;
    const RequestCase cases[] = {
        {"config", 0, config, PciConfigOutputSize, 0},
        {"config-shared", 0, config, PciConfigOutputSize, 1},
        {"config-short-output", 0, config, 399, 0},
        {"read-byte", 1, read, 4, 0},
        {"write-byte-shared", 2, write, 20, 1},
        {"write-no-output", 2, write, 0, 4},
    };
    for (const RequestCase& c : cases) {
        Bytes b;
        b.push_back(c.code);
        b.push_back(static_cast<uint8_t>(c.input.size()));
        Add16(b, c.output);
        b.push_back(c.flags);
        b.insert(b.end(), c.input.begin(), c.input.end());
        Seed("driver_requests", c.name, b);
    }

    VcMachine* machine = VcNewMachine();
    Bytes file(VcmMaxSize());
    const char* names[] = {"one-card.profile", "dual-bios.profile", "spi-card.profile", "three-cards.profile"};
    for (const char* name : names) {
        std::string path = std::string(profiles) + "/" + name;
        char error[256];
        // Contents files are not needed: a missing one gives a generated image.
        std::string text;
        FILE* f = fopen(path.c_str(), "rb");
        if (!f)
            continue;
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
            text.append(chunk, n);
        fclose(f);
        for (size_t at = text.find("file="); at != std::string::npos; at = text.find("file=", at)) {
            size_t end = text.find_first_of(" \t\n", at);
            text.erase(at, end - at);
        }
        if (!machine || !VcLoadProfileText(text.c_str(), name, nullptr, machine, error, sizeof error)) {
            fprintf(stderr, "qz_fuzz_seeds: %s\n", error);
            Failed = true;
            continue;
        }
        uint32_t length = VcmWrite(machine, VcmStateFresh, file.data(), static_cast<uint32_t>(file.size()));
        Seed("machine_file", name, Bytes(file.begin(), file.begin() + length));
    }
    VcReset(machine);
    uint32_t length = VcmWrite(machine, VcmStateSaved, file.data(), static_cast<uint32_t>(file.size()));
    Seed("machine_file", "empty-machine", Bytes(file.begin(), file.begin() + length));
    VcFreeMachine(machine);
}
#endif

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: qz_fuzz_seeds OUTPUT-FOLDER PROFILES-FOLDER\n");
        return 2;
    }
    Out = argv[1];
    mkdir(Out.c_str(), 0755);
    ImageSeeds();
    ProfileSeeds(argv[2]);
    SetupSeeds();
    RequestSeeds();
#ifdef QZ_SEED_DRIVER
    DriverSeeds(argv[2]);
#endif
    printf("qz_fuzz_seeds: %d seeds in %s\n", Written, Out.c_str());
    return Failed ? 1 : 0;
}
