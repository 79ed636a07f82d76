// The built qzflash program run end to end on virtual machines described by
// profiles written here (and on fake sysfs trees for the real-card path):
// its transcript compared line by line, its exit status, and the flash
// contents it leaves in the profiles' files.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "linux/front_end.h"
#include "linux/image_file.h"
#include "linux/options.h"
#include "qz_version.h"
#include "vcard/host/vcard_host.h"

namespace {

typedef std::vector<std::string> Lines;
typedef std::vector<uint8_t> Bytes;

const char OneCard[] =
    "card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008\n"
    "part 29EE010 file=card.rom image=04.28.20.05.01\n";

const char DualBoard[] =
    "card 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000000 dual=rom2\n"
    "part 29EE010 file=rom1.rom image=04.28.20.01\n"
    "part 29EE010 file=rom2.rom image=04.28.20.05.01\n";

const char ThreeCards[] =
    "device 0:0 0x8086:0x2570 class=0x060000\n"
    "card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=spi\n"
    "part M25P10 file=c0.rom image=04.34.20.19.00\n"
    "card 0:9 0x10DE:0x0253 subsystem=0x1682:0x2350 bar0=0xE4000000\n"
    "part 29EE010 file=c1.rom image=04.25.00.28\n"
    "card 0:10 0x10DE:0x0281 bar0=0xE6000000\n"
    "part 39VF010 file=c2.rom image=04.28.20.05\n";

const Lines OneCardHeader = {
    "This Chip  is NV28 (281)    Device : 281    Vender : 10DE",
    "EEPROM man. ID,devcode (BF,7)  SST 29EE010 5.0 128Kx8",
    "ROM BIOS version is :04.28.20.05.01",
    " ",
};

const Lines DualHeader = {
    "This Chip  is NV28 (281)    Device : 281    Vender : 10DE",
    "EEPROM man. ID,devcode (BF,7)  SST 29EE010 5.0 128Kx8",
    "ROM BIOS version is :04.28.20.01",
    " ",
};

const Lines DualOffer = {
    "Dual BIOS information",
    "  You are booted by the 2nd BIOS.",
    "  If you don't want to restore the 2nd BIOS data to the ",
    "  1st one , please click \"Cancel\" , or please click \"OK\" ",
    "   to process BIOS restoration",
};

// The start-up offer to restore ROM 1, declined without a terminal to ask at.
const char OfferDeclined[] = "OK or Cancel [y/N]? Cancel (not at a terminal; --accept-restore-offer takes it)";
const char MayNotBoot[] = "the command failed after the flash part was erased or written: the card may not boot.";

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Outcome {
    int status = -1;      // exit status, or 128 + signal
    std::string out;
    std::string err;
};

std::string ReadAll(const std::string& path)
{
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    fclose(file);
    return text;
}

Lines SplitLines(const std::string& text)
{
    Lines lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no newline>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The transcript line by line, naming the first line that differs.
::testing::AssertionResult SameLines(const std::string& text, const Lines& expected)
{
    Lines got = SplitLines(text);
    for (size_t i = 0; i < got.size() || i < expected.size(); ++i) {
        const char* want = i < expected.size() ? expected[i].c_str() : "<end>";
        const char* have = i < got.size() ? got[i].c_str() : "<end>";
        if (strcmp(want, have) != 0)
            return ::testing::AssertionFailure() << "line " << i + 1 << "\n  expected: \"" << want
                                                 << "\"\n  got:      \"" << have << "\"\nwhole output:\n"
                                                 << text;
    }
    return ::testing::AssertionSuccess();
}

class Qzflash : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qz-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }

    void TearDown() override
    {
        std::string command = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    void WriteText(const std::string& name, const std::string& text)
    {
        FILE* file = fopen(Path(name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fputs(text.c_str(), file);
        fclose(file);
    }

    void WriteBytes(const std::string& path, const Bytes& bytes)
    {
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        fclose(file);
    }

    Bytes ReadBytes(const std::string& path)
    {
        std::string text = ReadAll(path);
        return Bytes(text.begin(), text.end());
    }

    // A BIOS image file for a card, as the vendor would ship it.
    std::string Image(const std::string& name, uint16_t deviceId, const char* version, uint32_t length = 65536)
    {
        VcBiosImageSpec spec;
        memset(&spec, 0, sizeof spec);
        EXPECT_TRUE(VcParseBiosVersion(version, &spec));
        spec.vendorId = 0x10DE;
        spec.deviceId = deviceId;
        spec.length = length;
        Bytes image(length);
        EXPECT_TRUE(VcMakeBiosImage(spec, image.data(), length));
        WriteBytes(Path(name), image);
        return Path(name);
    }

    std::string Profile(const char* text, const std::string& name = "machine.profile")
    {
        WriteText(name, text);
        return Path(name);
    }

    // Starts qzflash in the test's folder, its output in <tag>.out and
    // <tag>.err: stdin holds `input`, or with `pipeIn` is a pipe whose write
    // end is put there. `inProcess` runs the program's QzflashRun in the
    // forked test process (for the hooks) instead of the built program.
    pid_t Spawn(const std::vector<std::string>& args, const std::string& input, const char* sysfs,
                const std::string& tag, int* pipeIn = nullptr, bool inProcess = false)
    {
        std::string outPath = Path(tag + ".out"), errPath = Path(tag + ".err"), inPath = Path(tag + ".in");
        WriteText(tag + ".in", input);
        // No output of an earlier run may be taken for this one's.
        unlink(outPath.c_str());
        unlink(errPath.c_str());
        int fds[2] = {-1, -1};
        if (pipeIn && pipe(fds) != 0)
            return -1;
        fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            // A run that hangs ends as a failure instead of holding the suite.
            alarm(60);
            if (chdir(dir.c_str()) != 0)
                _exit(120);
            int in = pipeIn ? fds[0] : open(inPath.c_str(), O_RDONLY);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0)
                _exit(121);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            if (pipeIn)
                close(fds[1]);
            // An empty tree by default: no real card is ever reached.
            setenv("QZFLASH_SYSFS", sysfs ? sysfs : (dir + "/no-sysfs").c_str(), 1);
            // Backups and the demo's folder stay in the test's folder.
            setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
            setenv("TMPDIR", dir.c_str(), 1);
            unsetenv("SUDO_UID");
            if (fileSizeLimit != 0) {
                // A file system that takes no more: the write fails, or
                // (with the signal left as it is) the program is ended.
                struct rlimit limit = {fileSizeLimit, RLIM_INFINITY};
                setrlimit(RLIMIT_FSIZE, &limit);
                if (!killAtFileSizeLimit)
                    signal(SIGXFSZ, SIG_IGN);
            }
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(QZFLASH_PROGRAM));
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            if (inProcess) {
                int status = QzflashRun(static_cast<int>(argv.size()) - 1, argv.data());
                fflush(stdout);
                fflush(stderr);
                _exit(status);
            }
            execv(QZFLASH_PROGRAM, argv.data());
            _exit(122);
        }
        if (pipeIn) {
            close(fds[0]);
            *pipeIn = fds[1];
        }
        return child;
    }

    // Runs qzflash in the test's folder with `input` on stdin; with
    // `running`, only starts it (Finish ends it).
    Outcome Start(const std::vector<std::string>& args, const std::string& input = "", const char* sysfs = nullptr,
                  pid_t* running = nullptr)
    {
        pid_t child = Spawn(args, input, sysfs, "run");
        if (running) {
            *running = child;
            return Outcome();
        }
        return Finish(child);
    }

    Outcome Finish(pid_t child, const std::string& tag = "run")
    {
        Outcome run;
        int status = 0;
        waitpid(child, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = ReadAll(Path(tag + ".out"));
        run.err = ReadAll(Path(tag + ".err"));
        return run;
    }

    // Waits until the output of run `tag` holds `text`; false after 30 s.
    bool WaitForOutput(const std::string& tag, const std::string& suffix, const char* text)
    {
        for (int i = 0; i < 3000; ++i) {
            if (ReadAll(Path(tag + suffix)).find(text) != std::string::npos)
                return true;
            usleep(10000);
        }
        return false;
    }

    // On the machine `profile` describes, without real waiting. Updates make
    // no backup: the backup has tests of its own.
    Outcome Virtual(const std::string& profile, std::vector<std::string> args, const std::string& input = "")
    {
        args.insert(args.begin(), {"--virtual", profile, "--no-wait", "--no-backup"});
        return Start(args, input);
    }

    std::string dir;
    rlim_t fileSizeLimit = 0;  // for every regular file the program writes
    bool killAtFileSizeLimit = false;
};

// ---- update ----

TEST_F(Qzflash, UpdateWritesTheImageAndAsksForAReboot)
{
    std::string profile = Profile(OneCard);
    std::string image = Image("new.rom", 0x0281, "04.28.21.00");
    // A run that programs nothing leaves the part's file alone.
    ASSERT_EQ(Virtual(profile, {"info"}).status, 0);
    EXPECT_NE(access(Path("card.rom").c_str(), F_OK), 0);
    Outcome run = Virtual(profile, {"--yes", "update", "new.rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{
                                        "== Update BIOS: new.rom",
                                        "New ROM BIOS version is :04.28.21.00",
                                        "Confirm: ROM BIOS version is :04.28.21.00",
                                        "         During BIOS flashed,please wait until the progress complete.",
                                        "OK or Cancel [y/N]? OK (--yes)",
                                        "Erase BIOS",
                                        "Writing Flash with file new.rom",
                                        "Message: Flash completely",
                                        "Flash OK!! ",
                                        "Message: Please reboot the system to make the changes you make effective!",
                                    }));
    // The part's file holds the image now, and the next run reads it back.
    Bytes rom = ReadBytes(Path("card.rom"));
    Bytes written = ReadBytes(image);
    ASSERT_GE(rom.size(), written.size());
    EXPECT_TRUE(std::equal(written.begin(), written.end(), rom.begin()));
    run = Virtual(profile, {"info"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("ROM BIOS version is :04.28.21.00\n"), std::string::npos) << run.out;
}

TEST_F(Qzflash, TheConfirmQuestionTakesItsAnswerFromTheTerminal)
{
    std::string profile = Profile(OneCard);
    Image("new.rom", 0x0281, "04.28.21.00");
    Bytes before;
    {
        Outcome info = Virtual(profile, {"info"});
        ASSERT_EQ(info.status, 0);
        before = ReadBytes(Path("card.rom"));
    }
    const Lines head = OneCardHeader + Lines{
                                           "== Update BIOS: new.rom",
                                           "New ROM BIOS version is :04.28.21.00",
                                           "Confirm: ROM BIOS version is :04.28.21.00",
                                           "         During BIOS flashed,please wait until the progress complete.",
                                       };
    // Refused: nothing written, exit status 4.
    Outcome run = Virtual(profile, {"update", "new.rom"}, "cancel\n");
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(SameLines(run.out, head + Lines{"OK or Cancel [y/N]? Cancel"}));
    EXPECT_EQ(ReadBytes(Path("card.rom")), before);
    // No answer at all (a script without --yes) is a refusal too.
    run = Virtual(profile, {"update", "new.rom"});
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(SameLines(run.out, head + Lines{"OK or Cancel [y/N]? Cancel (end of input)"}));
    EXPECT_EQ(ReadBytes(Path("card.rom")), before);
    // "y" typed on the terminal goes ahead.
    run = Virtual(profile, {"update", "new.rom"}, "y\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("OK or Cancel [y/N]? OK\nErase BIOS\n"), std::string::npos) << run.out;
    EXPECT_NE(ReadBytes(Path("card.rom")), before);
}

TEST_F(Qzflash, UpdateFailuresSayWhyAndEndWithStatusOne)
{
    std::string profile = Profile(OneCard);
    const Lines confirm = {
        "Confirm: ROM BIOS version is :04.25.00.40",
        "         During BIOS flashed,please wait until the progress complete.",
        "OK or Cancel [y/N]? OK (--yes)",
    };
    // A file that is not there, and one that holds no image.
    Outcome run = Virtual(profile, {"--yes", "update", "missing.rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{"== Update BIOS: missing.rom", "File open faile  missing.rom"}));
    // The system's reason beside the program's own text.
    EXPECT_EQ(run.err, "qzflash: missing.rom: No such file or directory\n");
    WriteText("text.rom", "not a BIOS image\n");
    run = Virtual(profile, {"--yes", "update", "text.rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{"== Update BIOS: text.rom", "File open faile  text.rom"}));

    // An image made for another chip.
    Image("nv25.rom", 0x0253, "04.25.00.40");
    run = Virtual(profile, {"--yes", "update", "nv25.rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{"== Update BIOS: nv25.rom", "New ROM BIOS version is :04.25.00.40"} +
                                       confirm +
                                       Lines{"Device ID ( 253) Vendor ID (10DE)  mismatch....", "ERROR: Flash faile!!"}));
    // Refused before the erase: the card is as it was.
    EXPECT_EQ(run.err.find(MayNotBoot), std::string::npos) << run.err;
}

TEST_F(Qzflash, FlashFaultsOfThePartEachGiveTheirMessage)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    Image("spi.rom", 0x0322, "04.34.20.20.00");
    // Each fails after the part was erased: status 5, with what to do next
    // on stderr.
    struct Case {
        const char* profile;
        const char* file;
        Lines tail;
    };
    const Case cases[] = {
        {"card 1:0 0x10DE:0x0281 bar0=0xE3000008\n"
         "part 39VF010 file=card.rom image=04.28.20.05.01\n"
         "part-fault dead-byte=0x10\n",
         "new.rom",
         {"Erase BIOS", "Writing Flash with file new.rom", "Write to ROM error at 16", "ERROR: Flash faile!!"}},
        {"card 1:0 0x10DE:0x0281 bar0=0xE3000008\n"
         "part 29EE010 file=card.rom image=04.28.20.05.01\n"
         "part-fault program-never-finishes\n",
         "new.rom",
         {"Erase BIOS", "Writing Flash with file new.rom", "Write to ROM ERRROR", "ERROR: Flash faile!!"}},
        {"card 1:0 0x10DE:0x0322 bar0=0xE0000000 interface=spi\n"
         "part M25P10 file=card.rom image=04.34.20.19.00\n"
         "part-fault stuck-bit=0x21:0x80:0x80\n",
         "spi.rom",
         {"Erase BIOS", "Writing Flash with file spi.rom", "Data isn't the same at 33", "ERROR: Flash faile!!"}},
        {"card 1:0 0x10DE:0x0281 bar0=0xE3000008\n"
         "part 29EE010 file=card.rom image=04.28.20.05.01\n"
         "card-fault rom-switch-stuck=0\n",
         "new.rom",
         Lines{"Erase BIOS"} + Lines(10, "Erase faile!!") + Lines{"ERROR: Flash faile!!"}},
    };
    for (const Case& c : cases) {
        std::string profile = Profile(c.profile);
        Outcome run = Virtual(profile, {"--yes", "update", c.file});
        EXPECT_EQ(run.status, 5) << c.profile;
        EXPECT_NE(run.err.find(MayNotBoot), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("do not reboot or switch the computer off"), std::string::npos) << run.err;
        Lines got = SplitLines(run.out);
        ASSERT_GE(got.size(), c.tail.size()) << run.out;
        std::string tail;
        for (size_t i = got.size() - c.tail.size(); i < got.size(); ++i)
            tail += got[i] + "\n";
        EXPECT_TRUE(SameLines(tail, c.tail)) << c.profile;
    }
}

// ---- save ----

TEST_F(Qzflash, SaveWritesTheRomAndAsksBeforeReplacingAFile)
{
    std::string profile = Profile(OneCard);
    Image("card.rom", 0x0281, "04.28.20.05.01");
    Outcome run = Virtual(profile, {"save", "backup.rom"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{
                                        "== Save BIOS: backup.rom",
                                        "Save file to  backup.rom",
                                        "Message: Back up completed  !! ",
                                    }));
    // Exactly the image's length, as it is in the part.
    Bytes saved = ReadBytes(Path("backup.rom"));
    Bytes rom = ReadBytes(Path("card.rom"));
    ASSERT_EQ(saved.size(), 65536u);
    ASSERT_GE(rom.size(), saved.size());
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), rom.begin()));

    const Lines replace = {
        "== Save BIOS: backup.rom",
        "Save As: backup.rom already exists.",
        "         Do you want to replace it?",
    };
    WriteText("backup.rom", "keep me");
    run = Virtual(profile, {"save", "backup.rom"}, "n\n");
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + replace +
                                       Lines{"Yes or No [y/N]? No", "Error: File open faile ,can't backup from BOIS"}));
    EXPECT_EQ(ReadAll(Path("backup.rom")), "keep me");
    run = Virtual(profile, {"--yes", "save", "backup.rom"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + replace +
                                       Lines{"Yes or No [y/N]? Yes (--yes)", "Save file to  backup.rom",
                                             "Message: Back up completed  !! "}));
    EXPECT_EQ(ReadBytes(Path("backup.rom")), saved);
}

TEST_F(Qzflash, SaveFailures)
{
    // A part without an image: nothing to read.
    std::string blank = Profile("card 1:0 0x10DE:0x0281 bar0=0xE3000008\npart 29EE010\n", "blank.profile");
    Outcome run = Virtual(blank, {"save", "backup.rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, {
                                       "This Chip  is NV28 (281)    Device : 281    Vender : 10DE",
                                       "EEPROM man. ID,devcode (BF,7)  SST 29EE010 5.0 128Kx8",
                                       "",
                                       " ",
                                       "== Save BIOS: backup.rom",
                                       "Error: File not open ! ",
                                   }));
    EXPECT_NE(access(Path("backup.rom").c_str(), F_OK), 0);
    // A folder that does not exist.
    std::string profile = Profile(OneCard);
    run = Virtual(profile, {"save", "no/such/folder/backup.rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{"== Save BIOS: no/such/folder/backup.rom",
                                                         "Error: File open faile ,can't backup from BOIS"}));
    EXPECT_EQ(run.err, "qzflash: no/such/folder/backup.rom: No such file or directory\n");
}

// A save that cannot be written whole leaves the old backup byte for byte:
// a full disk, or the program ended in the middle of the write.
TEST_F(Qzflash, AFailedSaveKeepsTheOldFile)
{
    std::string profile = Profile(OneCard);
    const Bytes old(32768, 0x5A);
    for (bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "ended mid-write" : "disk full");
        WriteBytes(Path("backup.rom"), old);
        fileSizeLimit = 40000;
        killAtFileSizeLimit = killed;
        Outcome run = Virtual(profile, {"--yes", "save", "backup.rom"});
        fileSizeLimit = 0;
        EXPECT_TRUE(ReadBytes(Path("backup.rom")) == old);
        if (killed) {
            EXPECT_EQ(run.status, 128 + SIGXFSZ);
            continue;
        }
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\nError: File open faile ,can't backup from BOIS\n"), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "qzflash: backup.rom: File too large\n");
    }
}

// What is no regular file is refused and left as it is: a pipe (which would
// otherwise hold the program until someone reads it), a device, a folder.
TEST_F(Qzflash, ASaveOverWhatIsNoRegularFileIsRefused)
{
    std::string profile = Profile(OneCard);
    ASSERT_EQ(mkfifo(Path("pipe.rom").c_str(), 0600), 0);
    // A reader, so that an open for writing would not wait for one.
    int reader = open(Path("pipe.rom").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(mkdir(Path("roms").c_str(), 0755), 0);
    std::vector<std::string> targets = {"pipe.rom", "roms"};
    // The full device (1, 7), where the system lets the test make one.
    if (mknod(Path("full.rom").c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0)
        targets.push_back("full.rom");
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        struct stat before, after;
        ASSERT_EQ(stat(Path(target).c_str(), &before), 0);
        Outcome run = Virtual(profile, {"--yes", "save", target});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find("\nError: File open faile ,can't backup from BOIS\n"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(target + " is not a regular file; it was left as it is."), std::string::npos) << run.err;
        ASSERT_EQ(stat(Path(target).c_str(), &after), 0) << "removed";
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
    }
    char byte;
    EXPECT_LT(read(reader, &byte, 1), 1) << "something was written into the pipe";
    close(reader);
}

// ---- dual-BIOS boards: restore and the start-up offer ----

TEST_F(Qzflash, RestoreCopiesTheSecondBiosIntoTheFirst)
{
    std::string profile = Profile(DualBoard);
    // The offer at start-up declined (no terminal to ask at), then the command.
    Outcome run = Virtual(profile, {"restore"}, "ok\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameLines(run.out, DualHeader + DualOffer + Lines{
                                                               OfferDeclined,
                                                               "== Restore BIOS",
                                                               "New ROM BIOS version is :04.28.20.05.01",
                                                               "Confirm: ROM BIOS version is :04.28.20.05.01",
                                                               "         During BIOS flashed,please wait until the progress complete.",
                                                               "OK or Cancel [y/N]? OK",
                                                               "Erase BIOS",
                                                               "Writing Flash with file ",
                                                               "Message: Flash completely",
                                                               "Flash OK!! ",
                                                               "Message: Please set the Switch Button and Reboot the computer!!",
                                                           }));
    EXPECT_EQ(ReadBytes(Path("rom1.rom")), ReadBytes(Path("rom2.rom")));
}

TEST_F(Qzflash, TheStartUpOfferRestoresWhenTaken)
{
    std::string profile = Profile(DualBoard);
    Image("rom1.rom", 0x0281, "04.28.20.01");
    Bytes rom1Before = ReadBytes(Path("rom1.rom"));
    Bytes rom2 = ReadBytes(Image("rom2.rom", 0x0281, "04.28.20.05.01"));
    // --yes answers the commands' questions only: the offer is declined, and
    // a run that was only its start-up ends with the status of a refusal.
    Outcome run = Virtual(profile, {"--yes", "info"});
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(SameLines(run.out, DualHeader + DualOffer + Lines{OfferDeclined}));
    EXPECT_EQ(ReadBytes(Path("rom1.rom")), rom1Before);

    run = Virtual(profile, {"--accept-restore-offer", "--yes", "info"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, DualHeader + DualOffer + Lines{
                                                               "OK or Cancel [y/N]? OK (--accept-restore-offer)",
                                                               "New ROM BIOS version is :04.28.20.05.01",
                                                               "Confirm: ROM BIOS version is :04.28.20.05.01",
                                                               "         During BIOS flashed,please wait until the progress complete.",
                                                               "OK or Cancel [y/N]? OK (--yes)",
                                                               "Erase BIOS",
                                                               "Writing Flash with file ",
                                                               "Message: Flash completely",
                                                               "Flash OK!! ",
                                                               "Message: Please set the Switch Button and Reboot the computer!!",
                                                           }));
    Bytes rom1 = ReadBytes(Path("rom1.rom"));
    ASSERT_EQ(rom1.size(), 0x20000u);
    EXPECT_TRUE(std::equal(rom2.begin(), rom2.end(), rom1.begin()));
}

TEST_F(Qzflash, RestoreFailures)
{
    // ROM 2 without an image.
    std::string empty = Profile("card 1:0 0x10DE:0x0281 bar0=0xFD000000 dual=rom2\n"
                                "part 29EE010 file=rom1.rom image=04.28.20.01\n"
                                "part 29EE010 file=rom2.rom\n",
                                "empty.profile");
    Outcome run = Virtual(empty, {"restore"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, DualHeader + DualOffer +
                                       Lines{OfferDeclined, "== Restore BIOS", "Can't read from ROM 2 "}));

    // The selection register stops following after the detection's 30 writes.
    std::string frozen = Profile("card 1:0 0x10DE:0x0281 bar0=0xFD000000 dual=rom2\n"
                                 "card-fault dual-bios-stops-after=30\n"
                                 "part 29EE010 file=rom1.rom image=04.28.20.01\n"
                                 "part 29EE010 file=rom2.rom image=04.28.20.05.01\n",
                                 "frozen.profile");
    run = Virtual(frozen, {"restore"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, DualHeader + DualOffer +
                                       Lines{OfferDeclined, "== Restore BIOS", "Can't setup as ROM 2  .."}));

    // A card with one BIOS: the menu item is grayed.
    std::string one = Profile(OneCard);
    run = Virtual(one, {"restore"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{"== Restore BIOS"}));
    EXPECT_NE(run.err.find("\"Restore BIOS\" is for dual-BIOS boards"), std::string::npos) << run.err;
}

// ---- start-up ----

TEST_F(Qzflash, StartUpFailures)
{
    struct Case {
        const char* profile;
        Lines out;
    };
    const Case cases[] = {
        {"machine driver-open-fails\n"
         "card 1:0 0x10DE:0x0281 bar0=0xE3000008\npart 29EE010\n",
         {"Error: Device not open "}},
        {"device 0:0 0x8086:0x2570\n", {"Error: Device not open "}},
        {"card 1:0 0x10DE:0x0110 bar0=0xE3000008\npart 29EE010\n",
         {"Error: This program only support Geforce4 and later "}},
        {"card 1:0 0x10DE:0x0322 bar0=0xE0000000 interface=spi\n"
         "part M25P10 image=04.34.20.19.00\npart-fault data-in-stuck=high\n",
         {"Error: Supported EEPROM not found."}},
    };
    for (const Case& c : cases) {
        std::string profile = Profile(c.profile);
        Outcome run = Virtual(profile, {"info"});
        EXPECT_EQ(run.status, 1) << c.profile;
        EXPECT_TRUE(SameLines(run.out, c.out)) << c.profile;
        // Unattended, the same failure shows nothing.
        run = Virtual(profile, {"-A"});
        EXPECT_EQ(run.status, 1) << c.profile;
        EXPECT_EQ(run.out, "") << c.profile;
    }
}

TEST_F(Qzflash, UnattendedStartEndsAfterTheStartUpUnlessTheBoardBootedFromRom2)
{
    std::string one = Profile(OneCard, "one.profile");
    Outcome run = Virtual(one, {"-A"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    // "-a" works as on Windows; the letters after it are options of their own.
    EXPECT_EQ(Virtual(one, {"-a"}).status, 0);
    EXPECT_EQ(Virtual(one, {"-auto"}).status, 2);

    std::string dual = Profile(DualBoard, "dual.profile");
    run = Virtual(dual, {"-A"}, "ok\n");
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(SameLines(run.out, DualOffer + Lines{OfferDeclined}));
    // Taken, the offer shows the window's lines and restores.
    run = Virtual(dual, {"-A", "--accept-restore-offer"}, "ok\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, DualOffer + Lines{"OK or Cancel [y/N]? OK (--accept-restore-offer)"} + DualHeader +
                                       Lines{
                                           "New ROM BIOS version is :04.28.20.05.01",
                                           "Confirm: ROM BIOS version is :04.28.20.05.01",
                                           "         During BIOS flashed,please wait until the progress complete.",
                                           "OK or Cancel [y/N]? OK",
                                           "Erase BIOS",
                                           "Writing Flash with file ",
                                           "Message: Flash completely",
                                           "Flash OK!! ",
                                           "Message: Please set the Switch Button and Reboot the computer!!",
                                       }));
    EXPECT_EQ(ReadBytes(Path("rom1.rom")), ReadBytes(Path("rom2.rom")));
    // The restore's own question refused.
    std::string dual2 = Profile(DualBoard, "dual.profile");
    ASSERT_EQ(unlink(Path("rom1.rom").c_str()), 0);
    run = Virtual(dual2, {"-A", "--accept-restore-offer"}, "no\n");
    EXPECT_EQ(run.status, 4);
}

TEST_F(Qzflash, CardsAreChosenOnTheCommandLineOrOnTheTerminal)
{
    std::string profile = Profile(ThreeCards);
    Outcome run = Virtual(profile, {"list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, {
                                       "0: NV32 (322) ,Vender ID=10DE ,Bus=1    0000:01:00.0",
                                       "1: NV25 (253) ,Vender ID=10DE ,Bus=0    0000:00:09.0",
                                       "2: NV28 (281) ,Vender ID=10DE ,Bus=0    0000:00:0a.0",
                                   }));
    const Lines card2 = {
        "This Chip  is NV28 (281)    Device : 281    Vender : 10DE",
        "EEPROM man. ID,devcode (BF,D5)  SST 39VF010 2.7-3.6 128Kx8",
        "ROM BIOS version is :04.28.20.05",
        " ",
    };
    run = Virtual(profile, {"--card", "2", "info"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, card2));

    const Lines dialog = {
        "Card Selection Dialog ",
        "  Please select a card from the list",
        "  0: NV32 (322) ,Vender ID=10DE ,Bus=1",
        "  1: NV25 (253) ,Vender ID=10DE ,Bus=0",
        "  2: NV28 (281) ,Vender ID=10DE ,Bus=0",
    };
    // Nothing chosen, then a card that is not in the list, then card 2.
    run = Virtual(profile, {"info"}, "\n7\n2\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, dialog + Lines{
                                                "Card (0-2) or Cancel? ",
                                                "Message: Please select a card !!",
                                                "Card (0-2) or Cancel? 7",
                                                "Message: Please select a card !!",
                                                "Card (0-2) or Cancel? 2",
                                            } + card2));
    run = Virtual(profile, {"info"}, "cancel\n");
    EXPECT_EQ(run.status, 4);
    EXPECT_TRUE(SameLines(run.out, dialog + Lines{"Card (0-2) or Cancel? cancel"}));

    // A card that is not there touches none.
    run = Virtual(profile, {"--card", "3", "save", "x.rom"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("there is no card 3: 3 found"), std::string::npos) << run.err;
}

// ---- several commands, the demo, arguments ----

TEST_F(Qzflash, CommandsRunInOrderUntilOneFails)
{
    std::string profile = Profile(DualBoard);
    Image("new.rom", 0x0281, "04.28.21.00");
    Outcome run = Virtual(profile, {"--yes", "save", "backup.rom", "update", "missing.rom", "restore"}, "");
    EXPECT_EQ(run.status, 1);
    Lines got = SplitLines(run.out);
    // The offer and its restore, the save, the failed update; no restore command.
    EXPECT_NE(std::find(got.begin(), got.end(), "Save file to  backup.rom"), got.end()) << run.out;
    EXPECT_EQ(got.back(), "File open faile  missing.rom");
    EXPECT_EQ(std::count(got.begin(), got.end(), std::string("== Restore BIOS")), 0);

    run = Virtual(profile, {"--yes", "save", "backup.rom", "update", "new.rom", "restore"});
    EXPECT_EQ(run.status, 0);
    // The restore copies ROM 2 and names no file, not the update's.
    got = SplitLines(run.out);
    auto restore = std::find(got.begin(), got.end(), std::string("== Restore BIOS"));
    ASSERT_NE(restore, got.end()) << run.out;
    auto writing = std::find_if(restore, got.end(), [](const std::string& l) { return l.rfind("Writing", 0) == 0; });
    ASSERT_NE(writing, got.end()) << run.out;
    EXPECT_EQ(*writing, "Writing Flash with file ");
    // The save read ROM 2; the update wrote ROM 1; the restore copied ROM 2 back.
    EXPECT_EQ(ReadBytes(Path("backup.rom")).size(), 65536u);
    EXPECT_EQ(ReadBytes(Path("rom1.rom")), ReadBytes(Path("rom2.rom")));
}

TEST_F(Qzflash, TheDemoRunsTheWholeCycleOnTheBuiltInMachine)
{
    Outcome run = Start({"--virtual", "--no-wait", "--yes", "--accept-restore-offer", "demo", Path("demo")});
    EXPECT_EQ(run.status, 0) << run.err;
    Lines got = SplitLines(run.out);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "== Demo: save, update and restore on the virtual card; files in " + Path("demo"));
    EXPECT_EQ(got[1], "This Chip  is NV25 (253)    Device : 253    Vender : 10DE");
    for (const char* line : {"== Save BIOS: ", "== Update BIOS: ", "== Restore BIOS"}) {
        std::string prefix = line;
        EXPECT_EQ(std::count_if(got.begin(), got.end(),
                                [&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; }),
                  1)
            << line << "\n" << run.out;
    }
    // The offer's restore, the update and the restore command each flashed.
    EXPECT_EQ(std::count(got.begin(), got.end(), std::string("Flash OK!! ")), 3) << run.out;
    EXPECT_EQ(got.back(), "Message: Please set the Switch Button and Reboot the computer!!");
    EXPECT_EQ(ReadBytes(Path("demo/backup.rom")).size(), 65536u);
    EXPECT_EQ(ReadBytes(Path("demo/new.rom")).size(), 65536u);

    // Without a folder: one of its own in $TMPDIR, removed when the demo went
    // well, kept and named when it failed.
    std::string faulty = Profile("card 1:0 0x10DE:0x0281 bar0=0xE3000008\n"
                                 "part 39VF010 file=card.rom image=04.28.20.05.01\n"
                                 "part-fault dead-byte=0x10\n",
                                 "faulty.profile");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* last;
        bool kept;
    };
    const Case cases[] = {
        {{"--virtual", "--no-wait", "--yes", "--accept-restore-offer", "demo"}, 0, "== Demo done; its folder ", false},
        {{"--virtual", faulty, "--no-wait", "--yes", "demo"}, 5, "== The demo failed; its files are left in ", true},
    };
    for (const Case& c : cases) {
        run = Start(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        got = SplitLines(run.out);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().compare(0, strlen(c.last), c.last), 0) << run.out;
        std::string folder = got[0].substr(got[0].find(dir + "/qzflash-demo-"));
        EXPECT_NE(got.back().find(folder), std::string::npos) << run.out;
        EXPECT_EQ(access(folder.c_str(), F_OK) == 0, c.kept) << folder;
    }
}

// Plain "qzflash" changes nothing: it says what it sees and how to go on.
TEST_F(Qzflash, WithoutACommandItListsAndShowsTheWayOn)
{
    const char* hint = "  qzflash --virtual --yes --accept-restore-offer demo";
    Outcome run = Start({});
    EXPECT_EQ(run.status, 0) << run.err;
    Lines got = SplitLines(run.out);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "No supported card found.");
    EXPECT_EQ(got.back(), hint);
    std::string profile = Profile(ThreeCards);
    run = Start({"--virtual", profile});
    EXPECT_EQ(run.status, 0) << run.err;
    got = SplitLines(run.out);
    ASSERT_GE(got.size(), 4u);
    EXPECT_EQ(got[0], "0: NV32 (322) ,Vender ID=10DE ,Bus=1    0000:01:00.0");
    EXPECT_EQ(got.back(), hint);
    // Nothing was started, so nothing was written.
    EXPECT_NE(access(Path("c0.rom").c_str(), F_OK), 0);
}

TEST_F(Qzflash, ArgumentsAreChecked)
{
    // One line naming the problem, one pointing at --help, status 2, nothing run.
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"--virtual", "--frobnicate"}, "unknown option \"--frobnicate\""},
        {{"--virtual", "-x"}, "unknown option \"-x\""},
        {{"--virtual", "-yx"}, "unknown option \"-x\""},
        {{"--virtual", "--no-wait", "frobnicate"}, "unknown command \"frobnicate\""},
        {{"--virtual", "update"}, "a file name must follow \"update\""},
        {{"--virtual", "--card"}, "a value must follow \"--card\""},
        {{"--virtual", "-A", "info"}, "-A takes no command"},
        {{"--virtual", "--card", "8", "info"}, "--card takes a card number"},
        {{"--virtual", "--card", "1:2", "info"}, "--card takes a card number"},
        {{"--virtual", "--card", "01:20.0", "info"}, "--card takes a card number"},
        {{"--virtual", "--card", "0", "--card=1", "info"}, "given twice: \"--card\""},
        {{"--virtual=a.profile", "--virtual", "b.profile", "info"}, "given twice: \"--virtual\""},
        {{"--virtual", "--log", "a.log", "--log=b.log", "info"}, "given twice: \"--log\""},
        {{"--virtual", "--progress=never", "--progress=always"}, "given twice: \"--progress\""},
        {{"--virtual", "list", "info"}, "this command stands alone: \"list\""},
        {{"--virtual", "inspect", "a.rom", "inspect", "b.rom"}, "this command stands alone: \"inspect\""},
        {{"--virtual", "info", "twin", "a.profile"}, "this command stands alone: \"twin\""},
        {{"--virtual", "--accept-restore-offer", "twin", "a.profile"}, "twin only reads the card"},
        {{"--virtual", "--rehearse", "save", "a.rom"}, "--rehearse goes with update"},
        {{"--virtual", "--rehearse-only", "info"}, "--rehearse-only goes with update"},
        {{"--virtual", "--progress=sometimes"}, "--progress takes auto, always or never"},
        {{"--virtual", "save", std::string(300, 'x')}, "the file name is too long"},
        {{"--virtual", "--log", "no/such/folder/run.log", "info"}, "no/such/folder/run.log: No such file"},
    };
    for (const Case& c : cases) {
        Outcome run = Start(c.args);
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_EQ(run.out, "") << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    }
    EXPECT_NE(access(Path("a.log").c_str(), F_OK), 0);
    Outcome run = Start({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "qzflash " QZ_VERSION_TEXT "\n");

    // A profile with a mistake names its line; nothing runs.
    std::string profile = Profile("card 1:0 0x10DE:0x0281 bar0=0xE3000008\npart 29EE011\n", "bad.profile");
    run = Virtual(profile, {"info"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("bad.profile:2"), std::string::npos) << run.err;
}

// Options are read in the GNU manner: short ones run together, anywhere among
// the commands, until "--".
TEST_F(Qzflash, OptionsAreReadAsGetoptDoes)
{
    std::string dual = Profile(DualBoard, "dual.profile");
    // -Ay is -A and -y: the unattended start, whose taken restore offer asks
    // the restore's question, answered by -y.
    Outcome run = Start({"--virtual", dual, "--no-wait", "--accept-restore-offer", "-Ay"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("OK or Cancel [y/N]? OK (--yes)\n"), std::string::npos) << run.out;

    std::string one = Profile(OneCard);
    struct Case {
        std::vector<std::string> args;
        const char* saved;   // the file "save" wrote
    };
    const Case cases[] = {
        // After "--" a name that looks like an option is a name.
        {{"--virtual", one, "--no-wait", "--yes", "save", "--", "-odd.rom"}, "-odd.rom"},
        {{"--virtual", one, "save", "after.rom", "--no-wait", "--yes"}, "after.rom"},
        {{"--virtual=" + one, "--no-wait", "-y", "save", "equals.rom"}, "equals.rom"},
    };
    for (const Case& c : cases) {
        run = Start(c.args);
        EXPECT_EQ(run.status, 0) << c.saved << "\n" << run.err;
        EXPECT_EQ(ReadBytes(Path(c.saved)).size(), 65536u) << c.saved;
    }
    // "--virtual" followed by a command takes no profile: the built-in machine.
    run = Start({"--virtual", "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(SplitLines(run.out).size(), 3u) << run.out;
}

// --help is a summary on one screen, made from the same text as the manual
// page; every option the program takes is in both.
TEST_F(Qzflash, HelpAndManualNameEveryOption)
{
    Outcome run = Start({"--help"});
    EXPECT_EQ(run.status, 0);
    Lines help = SplitLines(run.out);
    EXPECT_LE(help.size(), 30u) << run.out;
    for (size_t i = 0; i + 1 < help.size(); ++i)
        EXPECT_LE(help[i].size(), 79u) << help[i];
    std::string manual = ReadAll(QZFLASH_MANUAL_PAGE);
    ASSERT_FALSE(manual.empty());
    for (const struct option* option = LongOptions; option->name; ++option) {
        std::string name = std::string("--") + option->name;
        EXPECT_NE(run.out.find(name), std::string::npos) << name;
        std::string roff;
        for (char c : name)
            roff += c == '-' ? "\\-" : std::string(1, c);
        EXPECT_NE(manual.find(roff), std::string::npos) << name;
    }
    for (const char* command : {"list", "info", "update FILE", "save FILE", "restore", "verify FILE", "inspect FILE",
                                "twin PROFILE", "demo [DIR]"})
        EXPECT_NE(run.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    // The last line names the examples' folder the program found.
    EXPECT_EQ(help.back().find("Example profiles: /"), help.back().find("Example profiles: "));
}

TEST_F(Qzflash, TheProgressBarNamesEachStep)
{
    std::string profile = Profile(OneCard);
    Image("new.rom", 0x0281, "04.28.21.00");
    Outcome run = Virtual(profile, {"--yes", "--progress=always", "update", "new.rom"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.find("Erasing"), std::string::npos);
    // Not a terminal: every draw begins with a carriage return, every bar
    // ends with a newline.
    Lines bars;
    size_t at = 0;
    for (size_t r = run.err.find('\r'); r != std::string::npos; r = run.err.find('\r', at)) {
        at = run.err.find_first_of("\r\n", r + 1);
        bars.push_back(run.err.substr(r + 1, at - r - 1));
    }
    ASSERT_FALSE(bars.empty()) << run.err;
    // The erase's five seconds, then the blocks written, then the comparison.
    std::vector<std::string> steps;
    for (const std::string& bar : bars) {
        std::string step = bar.substr(0, bar.find(' '));
        if (steps.empty() || steps.back() != step)
            steps.push_back(step);
        EXPECT_EQ(bar.find('['), 10u) << bar;
        EXPECT_EQ(bar.find(']'), 51u) << bar;
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"Erasing", "Writing", "Verifying"}));
    EXPECT_EQ(bars.front().substr(0, 57), "Erasing   [########................................]  20%");
    EXPECT_EQ(bars.back().substr(0, 57), "Verifying [########################################] 100%");
    // A step's estimate comes once its pace is known.
    EXPECT_NE(bars[1].find(" left"), std::string::npos) << bars[1];

    run = Virtual(profile, {"--yes", "--progress=never", "update", "new.rom"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
}

// ---- the real-card path on a fake sysfs tree ----

class FakeCard : public Qzflash {
protected:
    void SetUp() override
    {
        Qzflash::SetUp();
        sysfs = Path("sys");
        device = AddCard("0000:01:00.0");
        std::string bridge = sysfs + "/bus/pci/devices/0000:00:00.0";
        ASSERT_EQ(system(("mkdir -p '" + bridge + "'").c_str()), 0);
        Bytes config(64, 0);
        Put(config, 0, {0x86, 0x80, 0x70, 0x25});
        WriteBytes(bridge + "/config", config);
        // resource0: the switch closed, and a part that shows the codes of
        // an SST 29EE010 where the identification reads them.
        PutAt(0x1850, {0x01});
        PutAt(0x300000, {0xBF, 0x07});
    }
    // An NV28 the firmware started (decoding on), BAR0 0xE3000008, with a
    // 16 MiB resource0 unless `resource` is false; returns its folder.
    std::string AddCard(const std::string& name, bool resource = true)
    {
        std::string folder = sysfs + "/bus/pci/devices/" + name;
        EXPECT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
        Bytes config(256, 0);
        Put(config, 0, {0xDE, 0x10, 0x81, 0x02});     // 10DE:0281
        Put(config, 4, {0x07, 0x00});                 // I/O, memory, bus master
        Put(config, 0x10, {0x08, 0x00, 0x00, 0xE3});  // BAR0 0xE3000008
        WriteBytes(folder + "/config", config);
        if (resource) {
            int fd = open((folder + "/resource0").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
            EXPECT_GE(fd, 0);
            EXPECT_EQ(ftruncate(fd, 0x1000000), 0);
            close(fd);
        }
        return folder;
    }
    static void Put(Bytes& bytes, size_t at, const Bytes& values)
    {
        std::copy(values.begin(), values.end(), bytes.begin() + at);
    }
    void PutAt(uint32_t offset, const Bytes& values)
    {
        int fd = open((device + "/resource0").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, values.data(), values.size(), offset), static_cast<ssize_t>(values.size()));
        close(fd);
    }
    uint8_t ByteAt(uint32_t offset)
    {
        uint8_t value = 0xEE;
        int fd = open((device + "/resource0").c_str(), O_RDONLY);
        EXPECT_EQ(pread(fd, &value, 1, offset), 1);
        close(fd);
        return value;
    }
    std::string sysfs;
    std::string device;
};

TEST_F(FakeCard, TheRealPathStartsUpThroughSysfs)
{
    Outcome run = Start({"list"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, {"0: NV28 (281) ,Vender ID=10DE ,Bus=1    0000:01:00.0"}));
    EXPECT_EQ(run.err, "");

    run = Start({"info"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 0);
    // No image in the fake part: the version line stays empty.
    EXPECT_TRUE(SameLines(run.out, {
                                       "This Chip  is NV28 (281)    Device : 281    Vender : 10DE",
                                       "EEPROM man. ID,devcode (BF,7)  SST 29EE010 5.0 128Kx8",
                                       "",
                                       " ",
                                   }));
    EXPECT_NE(run.err.find("display output may stop"), std::string::npos) << run.err;
    EXPECT_EQ(ByteAt(0x1850), 0x01);
    // The demo runs on the virtual card, whatever cards there are.
    run = Start({"--no-wait", "--yes", "demo"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("== Demo done"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("display output may stop"), std::string::npos) << run.err;
    EXPECT_EQ(ByteAt(0x1850), 0x01);
    run = Start({"--no-wait", "info"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 2);
}

TEST_F(FakeCard, AnUnassignedWindowIsNamedAndNothingIsTouched)
{
    ASSERT_EQ(rename((device + "/resource0").c_str(), Path("away").c_str()), 0);
    ASSERT_EQ(mkdir((device + "/resource0").c_str(), 0755), 0);
    const char* named =
        "NV28 (281) at 0000:01:00.0, not usable: window not assigned; boot with pci=realloc or move the card";
    Outcome run = Start({"--yes", "save", "backup.rom"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no card was touched"), std::string::npos) << run.err;
    // Named in the list too, not numbered, and never replaced by the virtual card.
    run = Start({"list"}, "", sysfs.c_str());
    EXPECT_TRUE(SameLines(run.out, {std::string("-: ") + named}));
    EXPECT_EQ(run.err, "qzflash: no supported card found.\n");
}

TEST_F(FakeCard, ListShowsTheBootCardAndNamesTheUnusableOnes)
{
    AddCard("0000:02:00.0");
    WriteText("sys/bus/pci/devices/0000:02:00.0/boot_vga", "1\n");
    WriteText("sys/bus/pci/devices/0000:01:00.0/boot_vga", "0\n");
    AddCard("0000:03:00.0");
    WriteText("sys/bus/pci/devices/0000:03:00.0/power_state", "D3hot\n");
    Outcome run = Start({"list"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(SameLines(run.out, {
                                       "0: NV28 (281) ,Vender ID=10DE ,Bus=1    0000:01:00.0",
                                       "1: NV28 (281) ,Vender ID=10DE ,Bus=2    0000:02:00.0, "
                                       "boot VGA (drives the console)",
                                       "-: NV28 (281) at 0000:03:00.0, not usable: power state D3hot, not D0",
                                   }));
    // The unusable card is not a card to choose.
    run = Start({"--card", "2", "info"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 2);
}

TEST_F(FakeCard, CtrlCEndsTheRunWithTheSwitchPutBack)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    // Runtime power management may put the card to sleep: held off for the run.
    ASSERT_EQ(mkdir((device + "/power").c_str(), 0755), 0);
    WriteText("sys/bus/pci/devices/0000:01:00.0/power/control", "auto\n");
    pid_t child = 0;
    Start({"--yes", "--no-backup", "update", "new.rom"}, "", sysfs.c_str(), &child);
    // Wait for the first write to the card, then interrupt.
    EXPECT_TRUE(WaitForOutput("run", ".err", "display output may stop"));
    EXPECT_EQ(ReadAll(device + "/power/control"), "on");
    usleep(100000);
    ASSERT_EQ(kill(child, SIGINT), 0);
    Outcome run = Finish(child);
    EXPECT_EQ(run.status, 128 + SIGINT);
    EXPECT_NE(run.err.find("stopped by a signal; the card's ROM access switch was put back."), std::string::npos)
        << run.err;
    EXPECT_EQ(ByteAt(0x1850), 0x01);
    EXPECT_EQ(ReadAll(device + "/power/control"), "auto");
}

TEST_F(FakeCard, WithoutASupportedCardNoCommandRunsOnTheVirtualCard)
{
    ASSERT_EQ(system(("rm -rf '" + device + "'").c_str()), 0);
    Image("new.rom", 0x0281, "04.28.21.00");
    const std::vector<std::string> commands[] = {
        {"list"}, {"info"}, {"--yes", "save", "backup.rom"}, {"--yes", "update", "new.rom"}, {"restore"}, {"-A"},
    };
    for (const auto& args : commands) {
        Outcome run = Start(args, "", sysfs.c_str());
        EXPECT_EQ(run.status, 3) << args.back();
        EXPECT_EQ(run.out, "") << args.back();
        EXPECT_NE(run.err.find("qzflash: no supported card found; no card was touched.\n"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("add --virtual"), std::string::npos) << run.err;
    }
    EXPECT_NE(access(Path("backup.rom").c_str(), F_OK), 0);
}

// ---- one run per card ----

// A first run holds the card at its confirmation question while a second
// one starts: the second is refused at once, naming the first, and the first
// then completes.
TEST_F(FakeCard, ASecondRunOnTheSameCardIsRefused)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    // The fake card's part cannot be written: there the first run ends by
    // declining its flash.
    struct Case {
        bool real;
        std::vector<std::string> first, second;
        const char* names;
        const char* answer;
        int status;
    };
    std::string profile = Profile(OneCard);
    const Case cases[] = {
        {true, {"--no-backup", "update", "new.rom"}, {"--yes", "save", "backup.rom"}, "the card 0000:01:00.0 is in use",
         "no\n", 4},
        {false, {"--virtual", profile, "--no-wait", "update", "new.rom"},
         {"--virtual", profile, "--no-wait", "--yes", "save", "backup.rom"}, "machine.profile is in use", "ok\n", 0},
    };
    for (const Case& c : cases) {
        const char* tree = c.real ? sysfs.c_str() : nullptr;
        int answer = -1;
        pid_t first = Spawn(c.first, "", tree, "first", &answer);
        ASSERT_GT(first, 0);
        ASSERT_TRUE(WaitForOutput("first", ".out", "OK or Cancel [y/N]? ")) << ReadAll(Path("first.err"));
        uint8_t switchBefore = ByteAt(0x1850);
        Outcome second = Finish(Spawn(c.second, "", tree, "second"), "second");
        EXPECT_EQ(second.status, 3) << c.names;
        EXPECT_EQ(second.out, "");
        std::string holder = "(pid " + std::to_string(first) + ")";
        EXPECT_NE(second.err.find(c.names), std::string::npos) << second.err;
        EXPECT_NE(second.err.find(holder), std::string::npos) << second.err;
        EXPECT_NE(access(Path("backup.rom").c_str(), F_OK), 0);
        EXPECT_EQ(ByteAt(0x1850), switchBefore);
        ASSERT_EQ(write(answer, c.answer, strlen(c.answer)), static_cast<ssize_t>(strlen(c.answer)));
        close(answer);
        Outcome run = Finish(first, "first");
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
    }
    // The lock goes with the run.
    Outcome again = Virtual(profile, {"--yes", "save", "backup.rom"});
    EXPECT_EQ(again.status, 0) << again.err;
}

TEST_F(FakeCard, CtrlCDuringAWriteSaysTheCardMayNotBoot)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    // The erase's waits take seconds on real cards and on the virtual card
    // with real waits: the stop comes inside them.
    std::string profile = Profile(OneCard);
    Bytes image = ReadBytes(Path("new.rom"));
    for (bool real : {true, false}) {
        std::vector<std::string> args = {"--yes", "--no-backup", "update", "new.rom"};
        if (!real)
            args.insert(args.begin(), {"--virtual", profile});
        pid_t child = Spawn(args, "", real ? sysfs.c_str() : nullptr, "run");
        ASSERT_TRUE(WaitForOutput("run", ".out", "Erase BIOS\n"));
        usleep(200000);
        ASSERT_EQ(kill(child, SIGINT), 0);
        Outcome run = Finish(child);
        EXPECT_EQ(run.status, 128 + SIGINT);
        EXPECT_NE(run.err.find("stopped while the flash part was erased or half-written: the card may not boot."),
                  std::string::npos)
            << run.err;
        if (real)
            continue;
        // The virtual part was kept as the stop left it: erased, not the image.
        Bytes rom = ReadBytes(Path("card.rom"));
        ASSERT_GE(rom.size(), image.size());
        EXPECT_TRUE(std::all_of(rom.begin(), rom.begin() + image.size(), [](uint8_t b) { return b == 0xFF; }));
    }
}

// ---- images that change or lie ----

TEST_F(Qzflash, OnlyACheckedImageIsWritten)
{
    std::string profile = Profile(OneCard);
    Bytes good = ReadBytes(Image("good.rom", 0x0281, "04.28.21.00"));
    Bytes bad = good;
    bad[0x1000] ^= 0x01;
    WriteBytes(Path("bad.rom"), bad);
    Bytes longer = good;
    longer.insert(longer.end(), {1, 2, 3, 4});
    WriteBytes(Path("long.rom"), longer);
    ASSERT_EQ(mkfifo(Path("fifo.rom").c_str(), 0644), 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* err;       // in stderr
        const Bytes* written;  // what the part holds afterwards; null: untouched
    };
    const Case cases[] = {
        {{"update", "bad.rom"}, 1, "bad.rom: the image's checksum is wrong: its 65536 bytes sum to 0x01, not 0", nullptr},
        {{"update", "fifo.rom"}, 1, "fifo.rom: not a regular file", nullptr},
        {{"update", "/dev/zero"}, 1, "/dev/zero: not a regular file", nullptr},
        {{"update", "/proc/self/status"}, 1, "/proc/self/status: a file of procfs", nullptr},
        {{"update", "long.rom"}, 0, "long.rom: warning: the file holds 65540 bytes, its header says the image has 65536",
         &good},
        {{"--force", "update", "bad.rom"}, 0, "bad.rom: warning: the image's checksum is wrong", &bad},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--yes");
        Outcome run = Virtual(profile, args);
        const std::string& file = c.args.back();
        EXPECT_EQ(run.status, c.status) << file << "\n" << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        if (c.written) {
            Bytes rom = ReadBytes(Path("card.rom"));
            ASSERT_GE(rom.size(), c.written->size());
            EXPECT_TRUE(std::equal(c.written->begin(), c.written->end(), rom.begin())) << file;
        } else {
            EXPECT_NE(run.out.find("File open faile  " + file + "\n"), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("Erase BIOS"), std::string::npos) << run.out;
        }
    }
}

// The file is rewritten right after it was read (a writer racing the
// program, made deterministic by the hook between the two looks at it).
std::string RewrittenPath;
Bytes Rewrite;
void RewriteImage(const char* path)
{
    if (RewrittenPath != path)
        return;
    FILE* file = fopen(path, "r+b");
    if (file) {
        fwrite(Rewrite.data(), 1, Rewrite.size(), file);
        fclose(file);
    }
}

TEST_F(Qzflash, AnImageThatChangesWhileReadIsRefused)
{
    std::string profile = Profile(OneCard);
    Bytes before = ReadBytes(Image("new.rom", 0x0281, "04.28.21.00"));
    Rewrite = ReadBytes(Image("other.rom", 0x0281, "04.28.22.00"));
    ASSERT_EQ(Rewrite.size(), before.size());
    RewrittenPath = "new.rom";
    ImageFileReadHook = RewriteImage;
    Outcome run = Finish(Spawn({"--virtual", profile, "--no-wait", "--yes", "update", "new.rom"}, "", nullptr,
                               "run", nullptr, true));
    ImageFileReadHook = nullptr;
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("qzflash: new.rom: changed while it was read; nothing was written."), std::string::npos)
        << run.err;
    EXPECT_TRUE(SameLines(run.out, OneCardHeader + Lines{"== Update BIOS: new.rom", "File open faile  new.rom"}));
    EXPECT_NE(access(Path("card.rom").c_str(), F_OK), 0);
}

// ---- the start-up offer and --yes ----

TEST_F(Qzflash, YesUpdateOnABoardBootedFromRom2FlashesOnce)
{
    std::string profile = Profile(DualBoard);
    Bytes rom2 = ReadBytes(Image("rom2.rom", 0x0281, "04.28.20.05.01"));
    Bytes image = ReadBytes(Image("new.rom", 0x0281, "04.28.21.00"));
    Outcome run = Virtual(profile, {"--card", "0", "--yes", "update", "new.rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    Lines got = SplitLines(run.out);
    EXPECT_EQ(std::count(got.begin(), got.end(), std::string(OfferDeclined)), 1) << run.out;
    EXPECT_EQ(std::count(got.begin(), got.end(), std::string("Erase BIOS")), 1) << run.out;
    EXPECT_EQ(std::count(got.begin(), got.end(), std::string("Flash OK!! ")), 1) << run.out;
    Bytes rom1 = ReadBytes(Path("rom1.rom"));
    ASSERT_GE(rom1.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rom1.begin()));
    Bytes rom2After = ReadBytes(Path("rom2.rom"));
    ASSERT_GE(rom2After.size(), rom2.size());
    EXPECT_TRUE(std::equal(rom2.begin(), rom2.end(), rom2After.begin()));
}

// ---- verify, inspect, the backup, cards by address, the log ----

TEST_F(Qzflash, VerifyComparesTheCardWithAFile)
{
    std::string one = Profile(OneCard, "one.profile");
    ASSERT_EQ(Virtual(one, {"save", "now.rom"}).status, 0);
    Bytes now = ReadBytes(Path("now.rom"));
    ASSERT_EQ(now.size(), 65536u);
    Bytes changed = now;
    for (uint32_t at : {0x1000u, 0x1001u, 0x8000u})
        changed[at] ^= 0x5A;
    WriteBytes(Path("changed.rom"), changed);
    WriteText("text.rom", "not a BIOS image\n");
    WriteBytes(Path("short.rom"), Bytes(now.begin(), now.begin() + 32768));
    char different[160];
    snprintf(different, sizeof different,
             "different: 3 of the image's 65536 bytes differ, the first at offset 0x1000 (4096): card 0x%02X, "
             "file 0x%02X",
             now[0x1000], changed[0x1000]);
    struct Case {
        const char* file;
        int status;
        const char* out;   // the command's last line
        const char* err;
    };
    const Case cases[] = {
        {"now.rom", 0, "identical: the card holds the image's 65536 bytes", ""},
        {"changed.rom", 1, different, ""},
        {"text.rom", 1, "== Verify: text.rom", "text.rom: no expansion ROM signature (55 AA)"},
        {"short.rom", 1, "== Verify: short.rom", "its header says 65536 bytes, the file holds 32768"},
    };
    for (const Case& c : cases) {
        Outcome run = Virtual(one, {"verify", c.file});
        EXPECT_EQ(run.status, c.status) << c.file;
        EXPECT_EQ(SplitLines(run.out).back(), c.out) << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
    // Nothing was written: the part never went to its file.
    EXPECT_NE(access(Path("card.rom").c_str(), F_OK), 0);

    // On a dual-BIOS board the part an update writes, ROM 1: unlike the
    // second BIOS "save" reads, until "restore" copies it over.
    std::string dual = Profile(DualBoard, "dual.profile");
    ASSERT_EQ(Virtual(dual, {"save", "rom2.rom"}).status, 0);
    EXPECT_EQ(Virtual(dual, {"verify", "rom2.rom"}).status, 1);
    ASSERT_EQ(Virtual(dual, {"--yes", "restore"}).status, 0);
    EXPECT_EQ(Virtual(dual, {"verify", "rom2.rom"}).status, 0);
}

TEST_F(Qzflash, InspectSaysWhatAFileHoldsAndWhichCardsItSuits)
{
    std::string profile = Profile(OneCard);
    Bytes good = ReadBytes(Image("good.rom", 0x0281, "04.28.21.00"));
    Image("nv25.rom", 0x0253, "04.25.00.40");
    auto variant = [&](const char* name, std::vector<std::pair<uint32_t, uint8_t>> bytes, size_t length = 65536) {
        Bytes image(good.begin(), good.begin() + length);
        for (const auto& b : bytes)
            image[b.first] = b.second;
        WriteBytes(Path(name), image);
    };
    variant("sum.rom", {{0x4000, static_cast<uint8_t>(good[0x4000] + 1)}});
    variant("short.rom", {}, 32768);
    // 49,152 bytes by the size byte, 0xF000 + 0xFF * 128 by the extension.
    variant("long.rom", {{0x02, 0x60}, {0x34, 0x80}, {0x36, 0x00}, {0x37, 0xF0}, {0xF001, 0xFF}});
    variant("pcir.rom", {{0x18, 0xFC}, {0x19, 0xFF}});
    WriteText("text.rom", "not a BIOS image\n");
    const char* fits =
        "card 0 at 0000:01:00.0, NV28 (281): made for it and fits its SST 29EE010 (BF,7), 128 KiB, 128-byte pages, "
        "parallel";
    struct Case {
        const char* file;
        int status;
        Lines shown;   // lines that must be in the output
    };
    const Case cases[] = {
        {"good.rom", 0,
         {"file:      65536 bytes", "header:    an image of 65536 bytes", "ids:       vendor 10DE, device 0281: NV28 (281)",
          "version:   ROM BIOS version is :04.28.21.00", "checksum:  right: the image's bytes sum to 0", fits}},
        {"nv25.rom", 0, {"card 0 at 0000:01:00.0, NV28 (281): not made for it (the card is 10DE:0281)"}},
        {"sum.rom", 1, {"checksum:  wrong: the image's bytes sum to 0x01, not 0; an update needs --force", fits}},
        {"short.rom", 1, {"header:    its header says 65536 bytes, the file holds 32768: it is cut short"}},
        {"long.rom", 1, {"header:    its header says 94080 bytes, more than the 65536 the program handles"}},
        {"pcir.rom", 1, {"ids:       its PCI data structure lies outside the image"}},
        {"text.rom", 1, {"header:    no expansion ROM signature (55 AA) at its start: not a BIOS image"}},
    };
    for (const Case& c : cases) {
        Outcome run = Virtual(profile, {"inspect", c.file});
        EXPECT_EQ(run.status, c.status) << c.file << "\n" << run.out << run.err;
        Lines got = SplitLines(run.out);
        for (const std::string& line : c.shown)
            EXPECT_NE(std::find(got.begin(), got.end(), line), got.end()) << line << "\n" << run.out;
    }
    // No card at all: the file alone, and no start-up.
    Outcome run = Start({"inspect", "good.rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameLines(run.out, {"== Inspect: good.rom", "file:      65536 bytes", "header:    an image of 65536 bytes",
                                    "ids:       vendor 10DE, device 0281: NV28 (281)",
                                    "version:   ROM BIOS version is :04.28.21.00",
                                    "checksum:  right: the image's bytes sum to 0", "cards:     none found"}));
}

// The name of a backup, and where it goes.
std::string BackupIn(const std::string& out)
{
    const char* heading = "== Backup of the card's BIOS: ";
    size_t at = out.find(heading);
    if (at == std::string::npos)
        return "";
    at += strlen(heading);
    return out.substr(at, out.find('\n', at) - at);
}

TEST_F(Qzflash, UpdateBacksTheCardUpBeforeAnythingIsErased)
{
    Bytes image = ReadBytes(Image("new.rom", 0x0281, "04.28.21.00"));
    struct Case {
        const char* profile;
        const char* before;   // the part the update writes, as it was
    };
    const Case cases[] = {
        {OneCard, "card.rom"},
        {DualBoard, "rom1.rom"},
    };
    for (const Case& c : cases) {
        std::string profile = Profile(c.profile);
        ASSERT_EQ(Virtual(profile, {"info"}).status, c.profile == DualBoard ? 4 : 0);
        ASSERT_EQ(Virtual(profile, {"--yes", "save", "was.rom"}).status, 0);
        Outcome run = Start({"--virtual", profile, "--no-wait", "--yes", "update", "new.rom"});
        EXPECT_EQ(run.status, 0) << run.err;
        std::string backup = BackupIn(run.out);
        std::string folder = Path("state/qzflash/backups/qzflash-");
        ASSERT_EQ(backup.compare(0, folder.size(), folder), 0) << run.out;
        // qzflash-YYYYMMDD-HHMMSS-01-00.0.rom, "-2" added when the second is taken.
        std::string name = backup.substr(folder.size());
        ASSERT_GE(name.size(), 27u) << name;
        EXPECT_EQ(name[8], '-') << name;
        EXPECT_EQ(name.substr(15, 8), "-01-00.0") << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".rom") << name;
        size_t written = run.out.find("== Backup written, 65536 bytes, read back and compared with the card\n");
        EXPECT_LT(written, run.out.find("Erase BIOS\n")) << run.out;
        // The backup holds what the part held: it verifies against a part
        // whose image is back.
        Bytes saved = ReadBytes(backup);
        ASSERT_EQ(saved.size(), 65536u);
        WriteBytes(Path("from-backup.rom"), saved);
        ASSERT_EQ(Start({"--virtual", profile, "--no-wait", "--no-backup", "--yes", "update", "from-backup.rom"}).status,
                  0);
        Bytes part = ReadBytes(Path(c.before));
        EXPECT_TRUE(std::equal(saved.begin(), saved.end(), part.begin()));
        EXPECT_NE(saved, image);
        if (c.profile == OneCard)
            EXPECT_EQ(saved, ReadBytes(Path("was.rom")));
        else
            EXPECT_NE(saved, ReadBytes(Path("was.rom")));   // "save" read ROM 2
    }
}

TEST_F(Qzflash, ABackupThatCannotBeMadeStopsTheUpdate)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    std::string one = Profile(OneCard, "one.profile");
    ASSERT_EQ(Virtual(one, {"--yes", "save", "was.rom"}).status, 0);
    Image("card.rom", 0x0281, "04.28.20.05.01");
    Bytes part = ReadBytes(Path("card.rom"));
    std::string blank = Profile("card 1:0 0x10DE:0x0281 bar0=0xE3000008\npart 29EE010 file=blank.rom\n", "blank.profile");
    struct Case {
        std::string profile;
        bool stateIsAFile;
        rlim_t diskRoom;   // bytes a file may take; 0: no limit
        std::string says;
    };
    const Case cases[] = {
        // The backup folder cannot be made.
        {one, true, 0, "the backup folder " + Path("state/qzflash/backups") + ": Not a directory"},
        // The disk takes no whole backup.
        {one, false, 40000, "File too large"},
        // The part holds no image to back up (an update gone wrong before).
        {blank, false, 0, "the card's ROM holds no image with a valid header to back up"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(system(("rm -rf '" + Path("state") + "'").c_str()), 0);
        if (c.stateIsAFile)
            WriteText("state", "a file where the folder would be");
        fileSizeLimit = c.diskRoom;
        Outcome run = Start({"--virtual", c.profile, "--no-wait", "--yes", "update", "new.rom"});
        fileSizeLimit = 0;
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("nothing was erased; --no-backup updates without a backup."), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("Erase BIOS"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Confirm"), std::string::npos) << run.out;
        // No part of a backup is left behind.
        if (c.diskRoom != 0) {
            std::string listing = "test -z \"$(ls -A '" + Path("state/qzflash/backups") + "')\"";
            EXPECT_EQ(system(listing.c_str()), 0);
        }
    }
    EXPECT_EQ(ReadBytes(Path("card.rom")), part);
    EXPECT_NE(access(Path("blank.rom").c_str(), F_OK), 0);
    // Without a backup the update goes ahead.
    EXPECT_EQ(Start({"--virtual", blank, "--no-wait", "--yes", "--no-backup", "update", "new.rom"}).status, 0);
}

TEST_F(Qzflash, CardsAreChosenByPciAddressAndListShowsTheirParts)
{
    std::string profile = Profile(ThreeCards);
    struct Case {
        const char* card;
        int status;
        const char* first;   // the first line of stdout
    };
    const Case cases[] = {
        {"00:0a.0", 0, "This Chip  is NV28 (281)    Device : 281    Vender : 10DE"},
        {"0000:01:00.0", 0, "This Chip  is NV34 (322)    Device : 322    Vender : 10DE"},
        {"00:09.0", 0, "This Chip  is NV25 (253)    Device : 253    Vender : 10DE"},
        {"05:00.0", 2, "<end>"},
        {"0001:01:00.0", 2, "<end>"},
    };
    for (const Case& c : cases) {
        Outcome run = Virtual(profile, {"--card", c.card, "info"});
        EXPECT_EQ(run.status, c.status) << c.card << "\n" << run.err;
        Lines got = SplitLines(run.out);
        EXPECT_EQ(got.empty() ? "<end>" : got[0], c.first) << c.card;
        if (c.status == 2) {
            EXPECT_NE(run.err.find("there is no supported card at"), std::string::npos) << run.err;
        }
    }
    Outcome run = Virtual(profile, {"-v", "list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameLines(run.out, {
                                       "0: NV32 (322) ,Vender ID=10DE ,Bus=1    0000:01:00.0",
                                       "   flash part: ST M25P10 (20,10), 128 KiB, 128-byte pages, SPI",
                                       "1: NV25 (253) ,Vender ID=10DE ,Bus=0    0000:00:09.0",
                                       "   flash part: SST 29EE010 (BF,7), 128 KiB, 128-byte pages, parallel",
                                       "2: NV28 (281) ,Vender ID=10DE ,Bus=0    0000:00:0a.0",
                                       "   flash part: SST 39VF010 (BF,D5), 128 KiB, written byte by byte, parallel",
                                   }));
}

// The timestamp every line of a log begins with.
bool Stamped(const std::string& line)
{
    const char* shape = "dddd-dd-dd dd:dd:dd.dddZ ";
    if (line.size() < strlen(shape))
        return false;
    for (size_t i = 0; shape[i]; ++i) {
        if (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
            return false;
    }
    return true;
}

TEST_F(Qzflash, TheLogHoldsTheWholeRun)
{
    std::string profile = Profile(OneCard);
    Image("new.rom", 0x0281, "04.28.21.00");
    Outcome run = Start({"--virtual", profile, "--no-wait", "--no-backup", "--log", "run.log", "-v", "--progress=always",
                         "update", "new.rom"},
                        "y\n");
    ASSERT_EQ(run.status, 0) << run.err;
    // A second run, whose save is refused with a line of its own on stderr.
    Outcome second = Start({"--virtual", profile, "--no-wait", "--log=run.log", "--yes", "save", "/dev/null"});
    ASSERT_EQ(second.status, 1);
    Lines log = SplitLines(ReadAll(Path("run.log")));
    ASSERT_FALSE(log.empty());
    Lines out, kinds;
    for (const std::string& line : log) {
        ASSERT_TRUE(Stamped(line)) << line;
        std::string entry = line.substr(25);
        kinds.push_back(entry.substr(0, entry.find(':')));
        if (entry.compare(0, 5, "out: ") == 0 && out.size() < SplitLines(run.out).size())
            out.push_back(entry.substr(5));
    }
    // The transcript whole and in order, the question with its typed answer.
    EXPECT_EQ(out, SplitLines(run.out));
    std::string text = ReadAll(Path("run.log"));
    for (const char* entry : {"start: qzflash " QZ_VERSION_TEXT ", pid ", "answer: y\n",
                              "err: qzflash: card 0 at 0000:01:00.0, flash part SST 29EE010 (BF,7)",
                              "err: qzflash: step erasing: ", "err: qzflash: step writing: ",
                              "err: qzflash: step verifying: ", "err: qzflash: driver requests: 256 configuration, ",
                              "exit status: 0\n", "err: qzflash: /dev/null is not a regular file",
                              "exit status: 1\n",
                              // Without -v the notes are the log's alone.
                              "note: step reading: "})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;
    // -v told the steps on stderr as well; the bar stayed out of the log.
    EXPECT_NE(run.err.find("qzflash: step writing: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Writing   ["), std::string::npos);
    EXPECT_EQ(text.find("Writing   ["), std::string::npos);
    // Two runs, appended.
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "start"), 2);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "exit status"), 2);
    EXPECT_EQ(kinds.back(), "exit status");
}

TEST_F(Qzflash, ExampleProfilesAreFoundByName)
{
    // Not here: the installed examples (the build tree holds them as an
    // install does, beside the program's folder).
    Outcome run = Start({"--virtual", "three-cards", "list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(SplitLines(run.out).size(), 3u) << run.out;
    run = Start({"--virtual", "dual-bios.profile", "--no-wait", "--yes", "restore"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("dual-bios.profile is an installed example: what the run wrote lasted for the run only"),
              std::string::npos)
        << run.err;
    for (const char* kept : {"dual-bios-rom1.rom", "dual-bios-rom2.rom"})
        EXPECT_NE(access((std::string(QZFLASH_EXAMPLES) + "/" + kept).c_str(), F_OK), 0) << kept;
    // A file of that name here comes first.
    Profile(OneCard, "three-cards.profile");
    run = Start({"--virtual", "three-cards.profile", "list"});
    EXPECT_EQ(SplitLines(run.out).size(), 1u) << run.out;
    run = Start({"--virtual", "no-such", "list"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("no-such"), std::string::npos) << run.err;
}

TEST_F(FakeCard, RealCardsByAddressWithTheirPartAndNoBackupOfAnEmptyPart)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    Outcome run = Start({"-v", "list"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameLines(run.out, {"0: NV28 (281) ,Vender ID=10DE ,Bus=1    0000:01:00.0",
                                    "   flash part: SST 29EE010 (BF,7), 128 KiB, 128-byte pages, parallel"}));
    EXPECT_EQ(ByteAt(0x1850), 0x01);
    run = Start({"--card", "01:00.0", "info"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 0) << run.err;
    // The fake part holds no image: no backup, so no update, and the card
    // is as it was.
    run = Start({"--card", "01:00.0", "--yes", "update", "new.rom"}, "", sysfs.c_str());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no image with a valid header to back up; nothing was erased"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find("Erase BIOS"), std::string::npos);
    EXPECT_EQ(ByteAt(0x1850), 0x01);
    EXPECT_EQ(ByteAt(0x300000), 0xBF);
}

// ---- the card's virtual twin, and rehearsals on it ----

// Started on its twin, every example profile's card and a card of each
// command set and part family shows what it showed itself.
TEST_F(Qzflash, ATwinStartsUpAsTheCardItCameFrom)
{
    struct Case {
        const char* machine;  // an example profile's name, or a profile's text
        const char* card;     // --card, or 0 for the only card
    };
    const Case cases[] = {
        {"one-card", 0},       // parallel, page write (29EE010)
        {"dual-bios", 0},      // two ROMs, booted from the second
        {"spi-card", 0},       // SPI, Atmel family, the second of two device codes
        {"busy-machine", 0},   // parallel, byte program (39VF010), among other devices
        {"three-cards", "0"},  // SPI, ST family (M25P10)
        {"three-cards", "1"},
        {"three-cards", "2"},
        {"card 0:5 0x10DE:0x0322 bar0=0xE8000000 interface=spi\npart 25VF010 image=04.34.20.19.00\n", 0},
        {"card 2:37 0x10DE:0x0322 subsystem=0x1458:0x3501 bar0=0xE9000008 interface=spi\n"
         "part 25LV512 image=04.34.20.19.00\n",
         0},  // SPI, PMC family, a 64 KiB part at function 1
        {"card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=serial2\npart 29C010A image=04.34.20.19.00\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.machine) + (c.card ? " card " : "") + (c.card ? c.card : ""));
        std::string machine = strchr(c.machine, '\n') ? Profile(c.machine) : c.machine;
        std::vector<std::string> on = {"--virtual", machine, "--no-wait"};
        if (c.card)
            on = on + Lines{"--card", c.card};
        Outcome real = Start(on + Lines{"info"});
        Outcome made = Start(on + Lines{"--yes", "twin", "twin.profile"});
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        Outcome twin = Start({"--virtual", "twin.profile", "--no-wait", "info"});
        EXPECT_EQ(twin.status, real.status) << twin.err;
        EXPECT_TRUE(SameLines(twin.out, SplitLines(real.out)));
    }
}

// The part files hold all the window shows of each part: past the image's
// length, up to the part's size.
TEST_F(Qzflash, ATwinKeepsEachPartWhole)
{
    Bytes rom1 = ReadBytes(Image("rom1.rom", 0x0281, "04.28.20.01", 32768));
    Bytes rom2 = ReadBytes(Image("rom2.rom", 0x0281, "04.28.20.05.01"));
    rom1.insert(rom1.end(), 100, 0x5A);
    WriteBytes(Path("rom1.rom"), rom1);
    // Two parts of different rows: the start-up identifies ROM 2's alone.
    std::string profile = Profile("card 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000000 dual=rom2\n"
                                  "part 39VF010 file=rom1.rom\n"
                                  "part 29EE010 file=rom2.rom\n");
    Outcome made = Virtual(profile, {"twin", "copy.profile"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string text = ReadAll(Path("copy.profile"));
    EXPECT_NE(text.find("\ncard 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000000 class=0x030000 "
                        "interface=parallel dual=rom2\npart 39VF010 code=0xD5 file=copy-rom1.rom\n"
                        "part 29EE010 code=0x07 file=copy-rom2.rom\n"),
              std::string::npos)
        << text;
    for (Bytes* part : {&rom1, &rom2})
        part->resize(128 * 1024, 0xFF);
    EXPECT_TRUE(ReadBytes(Path("copy-rom1.rom")) == rom1);
    EXPECT_TRUE(ReadBytes(Path("copy-rom2.rom")) == rom2);
    // Only read: the machine's own files are as they were, the offer declined.
    EXPECT_NE(made.out.find("OK or Cancel [y/N]? Cancel (twin only reads the card)\n"), std::string::npos) << made.out;
    EXPECT_EQ(ReadBytes(Path("rom2.rom")).size(), 65536u);
}

// Files that are there are replaced when the user says so, whole; what is no
// regular file is never replaced.
TEST_F(Qzflash, ATwinReplacesFilesOnlyWhenToldTo)
{
    std::string profile = Profile(OneCard);
    WriteText("twin.rom", "old part\n");
    struct Case {
        std::vector<std::string> args;
        const char* input;
        int status;
        bool replaced;
    };
    const Case cases[] = {
        {{"twin", "twin.profile"}, "n\n", 4, false},
        {{"twin", "twin.profile"}, "y\n", 0, true},
        {{"--yes", "twin", "twin.profile"}, "", 0, true},
    };
    for (const Case& c : cases) {
        WriteText("twin.profile", "keep me\n");
        Outcome run = Virtual(profile, c.args, c.input);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.out.find("Twin: twin.profile, twin.rom already exist.\n"), std::string::npos) << run.out;
        EXPECT_EQ(ReadAll(Path("twin.profile")) != "keep me\n", c.replaced);
    }
    // A pipe where a part file would go: nothing is written, the pipe stays.
    unlink(Path("twin.profile").c_str());
    ASSERT_EQ(mkfifo(Path("fifo.rom").c_str(), 0600), 0);
    Outcome run = Virtual(profile, {"--yes", "twin", "fifo.profile"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("fifo.rom is not a regular file; it was left as it is, and no twin was written"),
              std::string::npos)
        << run.err;
    EXPECT_NE(access(Path("fifo.profile").c_str(), F_OK), 0);
}

// Rehearsals foretell what the update on the card itself does: success where
// it succeeds, the very failure where it fails before the card is touched
// (and then the card is left as it is); a fault of the card that its twin
// cannot know is not foretold, and the real update's failure is told as
// ever.
TEST_F(Qzflash, ARehearsalForetellsTheUpdate)
{
    Image("new.rom", 0x0281, "04.28.21.00");
    Image("nv25.rom", 0x0253, "04.25.00.40");
    Image("spi.rom", 0x0322, "04.34.20.20.00");
    // Images whose header ends in an extension at 0xF000 of `units` 128-byte
    // units, their checksum over that length made right again.
    auto extended = [&](const char* name, uint16_t deviceId, uint8_t units) {
        Bytes image = ReadBytes(Image(name, deviceId, "04.34.20.20.00"));
        image[0x02] = 0x60;
        image[0x34] |= 0x80;
        image[0x36] = 0x00;
        image[0x37] = 0xF0;
        image[0xF001] = units;
        size_t length = std::min<size_t>(0xF000 + units * 128u, image.size());
        uint8_t sum = 0;
        for (size_t i = 0; i < length; ++i)
            sum = static_cast<uint8_t>(sum + image[i]);
        image[length - 1] = static_cast<uint8_t>(image[length - 1] - sum);
        WriteBytes(Path(name), image);
    };
    // 65,664 bytes: more than any image the program takes.
    extended("big.rom", 0x0281, 0x21);
    // 61,568 bytes: not a whole number of a 256-byte page part's pages.
    extended("odd.rom", 0x0322, 0x01);
    const char Spi256[] = "card 1:0 0x10DE:0x0322 bar0=0xE0000000 interface=spi\n"
                          "part AT25F1024 code=0x60 file=card.rom image=04.34.20.19.00\n";
    // An aged part whose erase takes far longer than its catalogue row says:
    // the twin knows only the row, yet the real update waits it out.
    const char SlowErase[] = "card 1:0 0x10DE:0x0322 bar0=0xE0000000 interface=spi\n"
                             "part M25P10 file=card.rom image=04.34.20.19.00 erase-ms=9000\n";
    const char EraseHangs[] = "card 1:0 0x10DE:0x0281 bar0=0xE3000008\n"
                              "part 29EE010 file=card.rom image=04.28.20.05.01\n"
                              "part-fault erase-never-finishes\n";
    struct Case {
        const char* profile;
        uint16_t deviceId;  // the card's
        const char* image;
        bool passes;       // the rehearsal ends "Flash OK!! "
        int status;        // of the run with --rehearse
        const char* last;  // the last line of the rehearsal, or of the real update
    };
    const Case cases[] = {
        {OneCard, 0x0281, "new.rom", true, 0, "Flash OK!! "},
        {Spi256, 0x0322, "spi.rom", true, 0, "Flash OK!! "},
        {OneCard, 0x0281, "nv25.rom", false, 1, "Device ID ( 253) Vendor ID (10DE)  mismatch...."},
        {OneCard, 0x0281, "big.rom", false, 1, "File open faile  big.rom"},
        {Spi256, 0x0322, "odd.rom", false, 1, "Page size is not mach witch ROM !"},
        {SlowErase, 0x0322, "spi.rom", true, 0, "Flash OK!! "},
        {EraseHangs, 0x0281, "new.rom", true, 5, "Erase BIOS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " on\n" + c.profile);
        std::string profile = Profile(c.profile);
        // The update without a rehearsal, then with one, on the same part.
        Bytes before = ReadBytes(Image("card.rom", c.deviceId, "04.20.00.00"));
        Outcome plain = Virtual(profile, {"--yes", "update", c.image});
        WriteBytes(Path("card.rom"), before);
        ASSERT_EQ(system(("rm -rf '" + Path("state") + "'").c_str()), 0);
        Outcome run = Start({"--virtual", profile, "--no-wait", "--yes", "--rehearse", "update", c.image});
        EXPECT_EQ(run.status, c.status) << run.err;
        // A failed rehearsal stops the update before its backup and its question.
        EXPECT_EQ(access(Path("state").c_str(), F_OK) == 0, c.passes);
        EXPECT_EQ(run.out.find("\nConfirm: ") != std::string::npos, c.passes) << run.out;
        EXPECT_EQ(run.status, plain.status);
        EXPECT_NE(plain.out.find(std::string("\n") + c.last + "\n"), std::string::npos) << plain.out;
        // Every line of the rehearsal is marked, its end and prediction said.
        bool realRan = run.out.find("\nErase BIOS\n") != std::string::npos;
        EXPECT_EQ(run.out.find("\nrehearsal: Flash OK!! \n") != std::string::npos, c.passes) << run.out;
        EXPECT_EQ(run.out.find("\n== Rehearsal passed: the twin ended \"Flash OK!! \"") != std::string::npos, c.passes);
        EXPECT_EQ(realRan, c.passes) << run.out;
        if (!c.passes) {
            EXPECT_NE(run.out.find(std::string("\nrehearsal: ") + c.last + "\n"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find(std::string("(its last line: \"") + c.last + "\"). The card was not touched.\n"),
                      std::string::npos)
                << run.out;
            EXPECT_TRUE(ReadBytes(Path("card.rom")) == before);
        }
        // The real update's own outcome, unmarked.
        EXPECT_EQ(run.out.find("\nFlash OK!! \n") != std::string::npos, c.status == 0) << run.out;
        EXPECT_EQ(run.err.find(MayNotBoot) != std::string::npos, c.status == 5) << run.err;
    }
}

// --rehearse-only: the rehearsal and its prediction, and nothing else: the
// part's file byte for byte, no backup, nothing but the log's lines written.
TEST_F(Qzflash, RehearseOnlyLeavesTheCardAsItIs)
{
    std::string profile = Profile(OneCard);
    Image("new.rom", 0x0281, "04.28.21.00");
    Bytes before = ReadBytes(Image("card.rom", 0x0281, "04.28.20.05.01"));
    Outcome run =
        Start({"--virtual", profile, "--no-wait", "--rehearse-only", "--log", "run.log", "update", "new.rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadBytes(Path("card.rom")) == before);
    EXPECT_NE(access(Path("state").c_str(), F_OK), 0) << "a backup was made";
    EXPECT_EQ(run.out.find("\nErase BIOS\n"), std::string::npos) << run.out;
    // The prediction: waits, bus time at the virtual card's cost, the part's times.
    Lines lines = SplitLines(run.out);
    auto has = [&](const std::string& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has("== Rehearsal passed: the twin ended \"Flash OK!! \". The real update should take about 8."))
        << run.out;
    EXPECT_TRUE(has("==   5.10 s of Sleep calls the flash procedure mandates")) << run.out;
    EXPECT_TRUE(has("==   within these, 2.58 s of the part's own erase and program times")) << run.out;
    EXPECT_NE(run.out.find(" register accesses at 1000 ns each (the virtual card's own time for one);\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(lines.back(), "== --rehearse-only: the card itself was not updated.");
    std::string log = ReadAll(Path("run.log"));
    EXPECT_NE(log.find("out: rehearsal: Flash OK!! \n"), std::string::npos) << log;
    // The twin's steps are no steps of the run.
    EXPECT_EQ(log.find("step erasing"), std::string::npos) << log;
}

// The twin of a real card through sysfs: read only, and its twin starts up
// as it does; a part outside the catalogue has none.
TEST_F(FakeCard, ATwinOfARealCardStartsUpAsItDoes)
{
    Outcome real = Start({"info"}, "", sysfs.c_str());
    ASSERT_EQ(real.status, 0) << real.err;
    Bytes window = ReadBytes(device + "/resource0");
    Outcome made = Start({"twin", "card.profile"}, "", sysfs.c_str());
    ASSERT_EQ(made.status, 0) << made.err;
    // Nothing written beyond what every start-up writes; the switch closed.
    EXPECT_TRUE(ReadBytes(device + "/resource0") == window);
    Bytes part = ReadBytes(Path("card.rom"));
    ASSERT_EQ(part.size(), 128u * 1024);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), window.begin() + 0x300000));
    Outcome twin = Start({"--virtual", "card.profile", "--no-wait", "info"});
    EXPECT_EQ(twin.status, 0) << twin.err;
    EXPECT_TRUE(SameLines(twin.out, SplitLines(real.out)));
    // A rehearsal times one register access on this card.
    Image("new.rom", 0x0281, "04.28.21.00");
    Outcome rehearsed = Start({"--rehearse-only", "update", "new.rom"}, "", sysfs.c_str());
    EXPECT_EQ(rehearsed.status, 0) << rehearsed.out << rehearsed.err;
    EXPECT_NE(rehearsed.out.find(" ns each (measured on this card);\n"), std::string::npos) << rehearsed.out;
    EXPECT_TRUE(ReadBytes(device + "/resource0") == window);

    PutAt(0x300000, {0x12, 0x34});
    Outcome none = Start({"twin", "other.profile"}, "", sysfs.c_str());
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("flash part (codes 12,34) is not in the catalogue of modelled flash parts"),
              std::string::npos)
        << none.err;
    EXPECT_NE(access(Path("other.profile").c_str(), F_OK), 0);
    EXPECT_EQ(ByteAt(0x1850), 0x01);
}

}  // namespace
