// Profiles: what they build, the errors they give, and the files that keep
// flash contents.
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "hw/driver_requests.h"
#include "tests/support/vcard_fixture.h"
#include "vcard/host/vcard_host.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string LoadError(const char* text)
{
    VcMachine* machine = VcTestMachine();
    char error[256] = "";
    EXPECT_FALSE(VcLoadProfileText(text, "bad.profile", nullptr, machine, error, sizeof error)) << text;
    return error;
}

TEST(ProfileErrors, NameTheFileTheLineAndTheFault)
{
    EXPECT_EQ(LoadError("# a comment\n\nwidget 1:0\n"), "bad.profile:3: unknown keyword \"widget\"");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\ndevice 1:0 0x8086:0x2570\n"),
              "bad.profile:3: bus 1 slot 0 is already taken");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 28F512\n"),
              "bad.profile:2: unknown flash part \"28F512\"");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000 interface=spi\npart AT25F1024 code=0x41\n"),
              "bad.profile:2: unknown flash part \"AT25F1024\" with code 0x41");
    EXPECT_EQ(LoadError("device 1:0 0x10DE:0x02G1\n"), "bad.profile:1: bad VENDOR:DEVICE \"0x10DE:0x02G1\"");
    EXPECT_EQ(LoadError("device 4:0 0x10DE:0x0281\n"), "bad.profile:1: bad BUS:SLOT \"4:0\"");
    EXPECT_EQ(LoadError("device 0:64 0x10DE:0x0281\n"), "bad.profile:1: bad BUS:SLOT \"0:64\"");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0x1E0000000\n"),
              "bad.profile:1: bad bar0 \"0x1E0000000\" (a number up to 0xFFFFFFFF)");
    EXPECT_EQ(LoadError("part 29EE010\n"), "bad.profile:1: part before any card");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\npart 29EE010\n"),
              "bad.profile:3: too many parts for this card (1)");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom2\npart 29EE010\n"),
              "bad.profile:1: a dual-BIOS card needs two part lines (ROM 1, then ROM 2)");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281\n"),
              "bad.profile:1: card needs bar0 with a window base in its top byte (e.g. bar0=0xE0000000)");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\n"
                        "card 1:1 0x10DE:0x0281 bar0=0xE0800000\n"),
              "bad.profile:3: window 0xE0000000 is already another card's");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart M25P10\n"),
              "bad.profile:2: M25P10 is a serial part, the card's interface is parallel");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000 colour=red\n"),
              "bad.profile:1: unknown card option \"colour=red\"");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\npart-fault stuck-bit=5:0x10:1\n"),
              "bad.profile:3: bad stuck-bit \"5:0x10:1\" (OFFSET:MASK:VALUE, VALUE 0 or MASK)");
    EXPECT_EQ(LoadError("fail mem-peek\n").substr(0, 44), "bad.profile:1: unknown request kind \"mem-pee");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 erase-ms=3600001\n"),
              "bad.profile:2: bad erase-ms \"3600001\" (a number up to 0x36EE80)");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 program-us=-1\n"),
              "bad.profile:2: bad program-us \"-1\" (a number up to 0x989680)");
    EXPECT_EQ(LoadError("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 image=4.28\n"),
              "bad.profile:2: bad image version \"4.28\" (like 04.28.20.05 or 04.28.20.05.01)");
}

TEST(ProfileErrors, LimitsAreErrors)
{
    std::string devices;
    for (int i = 0; i <= VcMaxDevices; ++i)
        devices += "device 0:" + std::to_string(i) + " 0x8086:0x2570\n";
    EXPECT_EQ(LoadError(devices.c_str()), "bad.profile:25: too many devices (at most 24)");

    std::string cards;
    for (int i = 0; i <= VcMaxCards; ++i)
        cards += "card 2:" + std::to_string(i) + " 0x10DE:0x0281 bar0=" + std::to_string((0xC0u + i) << 24) +
                 "\npart 29EE010\n";
    EXPECT_EQ(LoadError(cards.c_str()), "bad.profile:21: too many cards (at most 10)");

    std::string rules;
    for (int i = 0; i <= VcMaxFaultRules; ++i)
        rules += "fail any\n";
    EXPECT_EQ(LoadError(rules.c_str()), "bad.profile:9: too many fail rules (at most 8)");

    std::string longLine = "# " + std::string(600, 'x') + "\n";
    EXPECT_EQ(LoadError(longLine.c_str()), "bad.profile:1: line longer than 512 characters");
}

TEST_F(VcardTest, AFailedLoadLeavesTheMachineAsItWas)
{
    ASSERT_TRUE(LoadMachine("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010\n"));
    char error[256];
    EXPECT_FALSE(VcLoadProfileText("card 0:0 0x10DE:0x0253 bar0=0xE1000000\npart 29EE010\n"
                                   "card 0:1 0x10DE:0x0253 bar0=0xE2000000\npart nonsense\n",
                                   "x", nullptr, machine, error, sizeof error));
    EXPECT_EQ(machine->cardCount, 1);
    EXPECT_EQ(machine->deviceCount, 1);
    EXPECT_EQ(machine->cards[0].windowBase, 0xE0000000u);
}

TEST_F(VcardTest, ALoadKeepsNothingOfTheMachineBefore)
{
    // Machines are cleared and copied without the unused flash contents:
    // what a later, smaller profile builds must still show nothing of an
    // earlier one.
    ASSERT_TRUE(LoadMachine("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 29EE010 image=04.28.20.05\n"
                            "part-fault stuck-bit=0x10:0x80:0\ncard-fault rom-switch-stuck=1\n"
                            "card 1:1 0x10DE:0x0281 bar0=0xE1000000 interface=spi\npart M25P10 erase-ms=9000\n"
                            "fail any\n"));
    machine->cards[1].parts[0].data[0x1FFFF] = 0x00;
    ASSERT_TRUE(LoadMachine("card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 39VF512\n"));
    ASSERT_EQ(machine->cardCount, 1);
    const VcFlashPart& part = machine->cards[0].parts[0];
    EXPECT_STREQ(VcPartTypeName(part.type), "39VF512");
    for (uint32_t i = 0; i < part.size; ++i)
        ASSERT_EQ(part.data[i], 0xFF) << i;
    EXPECT_FALSE(part.faults.stuckBitEnabled);
    EXPECT_FALSE(machine->cards[0].faults.romSwitchStuck);
    EXPECT_EQ(machine->cards[1].partCount, 0);
    EXPECT_EQ(machine->cards[1].parts[0].type, nullptr);
    EXPECT_EQ(machine->faultRulesInUse, 0);
}

TEST_F(VcardTest, ProfileBuildsDevicesCardsPartsAndFaults)
{
    ASSERT_TRUE(LoadMachine("device 0:0 0x8086:0x2570 class=0x060000 # host bridge\n"
                            "card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008 interface=spi\n"
                            "part AT25F1024 code=0x40 status=0x0C\n"
                            "part-fault erase-never-finishes data-in-stuck=low dead-byte=0x10\n"
                            "card-fault rom-switch-stuck=1\n"
                            "card 0:4 0x10DE:0x0253 bar0=0xE4000000 dual=rom2\n"
                            "part 29EE010 program-us=25000\n"
                            "part 39VF010 erase-ms=0x1000\n"
                            "part-fault stuck-bit=0x100:0x80:0\n"
                            "card-fault dual-bios-stops-after=3\n"
                            "fail mem-write address=0xE3001850 skip=2 count=1\n"
                            "fail pci-config slot=1:0\n"
                            "machine vxd-open-fails\n"));
    ASSERT_EQ(machine->deviceCount, 3);
    ASSERT_EQ(machine->cardCount, 2);
    EXPECT_EQ(machine->devices[0].card, -1);
    EXPECT_EQ(machine->devices[0].config[0x0B], 0x06);
    EXPECT_EQ(machine->devices[0].config[0x04], 0x07);  // command: memory, I/O, bus master
    EXPECT_EQ(machine->devices[0].config[0x08], 0xA1);  // revision
    EXPECT_EQ(machine->devices[0].config[0x07], 0x02);  // status, high byte

    const VcCard& spi = machine->cards[0];
    EXPECT_EQ(spi.windowBase, 0xE3000000u);
    EXPECT_EQ(spi.straps >> 29, 1u);
    EXPECT_EQ(spi.partCount, 1);
    EXPECT_EQ(VcPartTypeDeviceId(spi.parts[0].type), 0x40);
    EXPECT_TRUE(spi.parts[0].faults.eraseNeverFinishes);
    EXPECT_TRUE(spi.parts[0].faults.dataInStuckEnabled);
    EXPECT_FALSE(spi.parts[0].faults.dataInStuckHigh);
    EXPECT_TRUE(spi.parts[0].faults.deadByteEnabled);
    EXPECT_EQ(spi.parts[0].faults.deadByteOffset, 0x10u);
    EXPECT_TRUE(spi.faults.romSwitchStuck);
    EXPECT_EQ(spi.parts[0].data[0], 0xFF);   // no file: erased

    const VcCard& dual = machine->cards[1];
    EXPECT_TRUE(dual.dualBiosBoard);
    EXPECT_TRUE(dual.bootedFromRom2);
    EXPECT_EQ(dual.partCount, 2);
    EXPECT_STREQ(VcPartTypeName(dual.parts[1].type), "39VF010");
    // Times: the profile's where it gives them, the catalogue's otherwise.
    EXPECT_EQ(dual.parts[0].programUs, 25000u);
    EXPECT_EQ(dual.parts[0].eraseMs, dual.parts[0].type->eraseMs);
    EXPECT_EQ(dual.parts[1].eraseMs, 0x1000u);
    EXPECT_EQ(dual.parts[1].programUs, dual.parts[1].type->programUs);
    EXPECT_TRUE(dual.parts[1].faults.stuckBitEnabled);
    EXPECT_EQ(dual.parts[1].faults.stuckBitMask, 0x80);
    EXPECT_TRUE(dual.faults.dualBiosStopsFollowing);
    EXPECT_EQ(dual.faults.dualBiosFollowProbes, 3u);

    EXPECT_TRUE(machine->faults[0].active);
    EXPECT_EQ(machine->faults[0].code, IOCTL_MEM_WRITE);
    EXPECT_EQ(machine->faults[0].address, 0xE3001850u);
    EXPECT_EQ(machine->faults[0].skip, 2u);
    EXPECT_EQ(machine->faults[0].count, 1u);
    EXPECT_EQ(machine->faults[1].address, 0x10000u);
    EXPECT_TRUE(machine->vxdOpenFails);
}

// A scratch folder for contents files, unique per process.
std::string ScratchFolder()
{
    static std::string folder;
    if (folder.empty()) {
        const char* tmp = getenv("TMPDIR");
#ifdef _WIN32
        if (!tmp)
            tmp = getenv("TEMP");
#endif
        folder = std::string(tmp ? tmp : "/tmp");
    }
    return folder;
}

std::string ScratchName(const char* stem)
{
    return std::string(stem) + "-" + std::to_string(getpid()) + ".rom";
}

TEST_F(VcardTest, ContentsComeFromFilesAndGoBackToThem)
{
    std::string folder = ScratchFolder();
    std::string name = ScratchName("vcard-contents");
    std::string path = folder + "/" + name;
    remove(path.c_str());
    std::string profile = "card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 39VF512 file=" + name + "\n";

    // Missing file: an erased part, created on save with the whole part.
    ASSERT_TRUE(LoadMachine(profile.c_str(), folder.c_str()));
    VcFlashPart& part = machine->cards[0].parts[0];
    EXPECT_EQ(part.data[0x1234], 0xFF);
    part.data[0] = 0x55;
    part.data[0xFFFF] = 0x42;
    char error[256];
    ASSERT_TRUE(VcSaveFlashFiles(machine, error, sizeof error)) << error;
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    fseek(f, 0, SEEK_END);
    EXPECT_EQ(ftell(f), 0x10000);
    fclose(f);

    ASSERT_TRUE(LoadMachine(profile.c_str(), folder.c_str()));
    EXPECT_EQ(machine->cards[0].parts[0].data[0], 0x55);
    EXPECT_EQ(machine->cards[0].parts[0].data[0xFFFF], 0x42);

    // A shorter file fills the start; the rest reads erased.
    f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("AB", f);
    fclose(f);
    ASSERT_TRUE(LoadMachine(profile.c_str(), folder.c_str()));
    EXPECT_EQ(machine->cards[0].parts[0].data[1], 'B');
    EXPECT_EQ(machine->cards[0].parts[0].data[2], 0xFF);
    remove(path.c_str());
}

TEST_F(VcardTest, AFileLargerThanThePartIsAnError)
{
    std::string folder = ScratchFolder();
    std::string name = ScratchName("vcard-large");
    std::string path = folder + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    for (int i = 0; i < 0x10001; ++i)
        fputc(0, f);
    fclose(f);
    std::string profile = "card 1:0 0x10DE:0x0281 bar0=0xE0000000\npart 39VF512 file=" + name + "\n";
    char error[512];
    EXPECT_FALSE(VcLoadProfileText(profile.c_str(), "p", folder.c_str(), machine, error, sizeof error));
    EXPECT_EQ(std::string(error), "p:2: \"" + path + "\" holds more than the part's 65536 bytes");
    remove(path.c_str());
}

// A part's file is written back whole: it must be a regular file of its own,
// neither the profile nor another part's file, and one that cannot be read
// is an error, never taken for a missing (erased) one.
TEST(ProfileFiles, APartFileMustBeAFileOfItsOwn)
{
    const std::string dir = ScratchFolder() + "/" + ScratchName("vcard-files");
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(std::filesystem::create_directories(dir + "/roms"));
    const std::string card = "card 1:0 0x10DE:0x0281 bar0=0xE0000000\n";
    const std::string second = "card 1:1 0x10DE:0x0281 bar0=0xE1000000\n";
    const std::string dual = "card 1:0 0x10DE:0x0281 bar0=0xE0000000 dual=rom1\n";
    FILE* f = fopen((dir + "/a.rom").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    struct Case {
        std::string profile;
        std::string error;  // after "<dir>/p.profile:"
    } cases[] = {
        {card + "part 29EE010 file=p.profile\n", "2: file \"" + dir + "/p.profile\" is the profile itself"},
        {card + "part 29EE010 file=roms/../p.profile\n",
         "2: file \"" + dir + "/roms/../p.profile\" is the profile itself"},
        {card + "part 29EE010 file=a.rom\n" + second + "part 29EE010 file=roms/../a.rom\n",
         "4: file \"" + dir + "/roms/../a.rom\" is already the file of the part on line 2"},
        {dual + "part 29EE010 file=new.rom\npart 29EE010 file=new.rom\n",
         "3: file \"" + dir + "/new.rom\" is already the file of the part on line 2"},
        {card + "part 29EE010 file=roms\n", "2: \"" + dir + "/roms\" is not a regular file"},
#if !defined(_WIN32)
        {card + "part 29EE010 file=/dev/zero\n", "2: \"/dev/zero\" is not a regular file"},
        {card + "part 29EE010 file=a.rom/b.rom\n", "2: cannot look at \"" + dir + "/a.rom/b.rom\": Not a directory"},
#endif
    };
    VcMachine* machine = VcTestMachine();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile.c_str());
        f = fopen((dir + "/p.profile").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs(c.profile.c_str(), f);
        fclose(f);
        char error[1024] = "";
        EXPECT_FALSE(VcLoadProfile((dir + "/p.profile").c_str(), machine, error, sizeof error));
        EXPECT_EQ(std::string(error), dir + "/p.profile:" + c.error);
    }
#if !defined(_WIN32)
    // A file the user may not read (as the superuser, run as nobody).
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    f = fopen((dir + "/p.profile").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs((card + "part 29EE010 file=a.rom\n").c_str(), f);
    fclose(f);
    ASSERT_EQ(chmod((dir + "/p.profile").c_str(), 0644), 0);
    ASSERT_EQ(chmod((dir + "/a.rom").c_str(), 0200), 0);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        char error[1024] = "";
        bool loaded = VcLoadProfile((dir + "/p.profile").c_str(), VcTestMachine(), error, sizeof error);
        ssize_t n = write(pipeEnds[1], error, strlen(error));
        _exit(loaded ? 1 : n >= 0 ? 0 : 2);
    }
    close(pipeEnds[1]);
    char told[1024] = "";
    ssize_t n = read(pipeEnds[0], told, sizeof told - 1);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(std::string(told, n > 0 ? static_cast<size_t>(n) : 0),
              dir + "/p.profile:2: cannot open \"" + dir + "/a.rom\": Permission denied");
#endif
    std::filesystem::remove_all(dir);
}

TEST(ProfileFiles, TheShippedProfilesLoad)
{
    // This file lives in tests/vcard_machine; the profiles in vcard/profiles.
    std::string here = __FILE__;
    size_t cut = here.find_last_of("/\\");
    std::string root = here.substr(0, cut) + "/../../vcard/profiles/";
    static const char* names[] = {"one-card.profile", "three-cards.profile", "dual-bios.profile",
                                  "spi-card.profile", "busy-machine.profile"};
    VcMachine* machine = VcTestMachine();
    for (const char* name : names) {
        char error[512] = "";
        EXPECT_TRUE(VcLoadProfile((root + name).c_str(), machine, error, sizeof error)) << error;
        EXPECT_GE(machine->cardCount, 1) << name;
    }
    char error[512] = "";
    EXPECT_FALSE(VcLoadProfile((root + "no-such.profile").c_str(), machine, error, sizeof error));
    EXPECT_NE(strstr(error, "no-such.profile: cannot open the profile"), nullptr) << error;
}

TEST(ProfileFiles, TheBuiltinMachineLoads)
{
    VcMachine* machine = VcTestMachine();
    char error[256] = "";
    ASSERT_TRUE(VcLoadProfileText(VcBuiltinProfile, "builtin", nullptr, machine, error, sizeof error)) << error;
    EXPECT_GE(machine->cardCount, 3);
}

}  // namespace
