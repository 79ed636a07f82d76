// The sysfs driver on a fake sysfs tree made here: configuration files and a
// regular file standing for each card's resource0.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hw/driver_requests.h"
#include "linux/sysfs_driver.h"

namespace {

const uint32_t Window1 = 0xE3000000;   // card 0000:01:00.0, BAR0 0xE3000008
const uint32_t Window2 = 0xE4000000;   // card 0000:00:0a.1
// The command register of a card the firmware or a driver has started: I/O
// and memory decoding, bus mastering.
const uint16_t Started = 0x0007;

std::vector<std::string> Notices;

void RecordNotice(const char* text)
{
    Notices.push_back(text);
}

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qz-sysfs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        // Two supported cards: bus 1 device 0, and bus 0 device 10 function 1
        // (slot index 42) with a resource smaller than the window.
        AddDevice("0000:01:00.0", 0x10DE, 0x0281, 0xE3000008, 256, SysfsWindowSize);
        AddDevice("0000:00:0a.1", 0x10DE, 0x0253, 0xE4000000, 64, SysfsWindowSize);
        // None of these may be mapped: they have no resource0, so a start
        // that tried would fail.
        AddDevice("0000:00:00.0", 0x8086, 0x2570, 0, 256, 0);
        AddDevice("0000:02:00.0", 0x10DE, 0x0400, 0xE8000000, 256, 0);   // unsupported id
        AddDevice("0000:00:05.2", 0x10DE, 0x0281, 0xEA000000, 256, 0);   // function 2: no slot index
        AddDevice("0001:01:00.0", 0x10DE, 0x0281, 0xEC000000, 256, 0);   // another domain
        Notices.clear();
        SysfsDriverNotice = RecordNotice;
    }

    void TearDown() override
    {
        SysfsDriverStop();
        SysfsDriverNotice = nullptr;
        std::string command = "rm -rf '" + root + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string DevicePath(const char* name) const { return root + "/bus/pci/devices/" + name; }
    std::string Resource(const char* name) const { return DevicePath(name) + "/resource0"; }

    void AddDevice(const char* name, uint16_t vendor, uint16_t device, uint32_t bar0, size_t configSize,
                   size_t resourceSize, uint16_t commandRegister = Started)
    {
        std::string dir = DevicePath(name);
        std::string command = "mkdir -p '" + dir + "'";
        ASSERT_EQ(system(command.c_str()), 0);
        std::vector<uint8_t> config(configSize, 0);
        for (size_t i = 0; i < configSize; ++i)
            config[i] = static_cast<uint8_t>(0x40 + i);   // every byte tells its offset
        Put16(config, 0, vendor);
        Put16(config, 2, device);
        Put32(config, 0x10, bar0);
        Put16(config, 0x2C, 0x1043);
        Put16(config, 0x2E, 0x80A1);
        Put16(config, 4, commandRegister);
        WriteFile(dir + "/config", config);
        PutText(name, "enable", commandRegister & 2 ? "1" : "0");
        if (resourceSize) {
            int fd = open((dir + "/resource0").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, static_cast<off_t>(resourceSize)), 0);
            close(fd);
        }
    }

    static void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value)
    {
        bytes[at] = static_cast<uint8_t>(value);
        bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    static void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    // A device attribute as the kernel shows it, with its line end.
    void PutText(const char* device, const char* file, const std::string& text)
    {
        std::string path = DevicePath(device) + "/" + file;
        std::string command = "mkdir -p \"$(dirname '" + path + "')\"";
        ASSERT_EQ(system(command.c_str()), 0);
        std::string line = text + "\n";
        WriteFile(path, std::vector<uint8_t>(line.begin(), line.end()));
    }
    std::string Text(const char* device, const char* file)
    {
        FILE* in = fopen((DevicePath(device) + "/" + file).c_str(), "r");
        if (!in)
            return "<absent>";
        char text[64] = {};
        size_t n = fread(text, 1, sizeof text - 1, in);
        fclose(in);
        while (n > 0 && text[n - 1] == '\n')
            text[--n] = 0;
        return text;
    }
    uint16_t Command(const char* device)
    {
        std::vector<uint8_t> bytes = FileBytes(DevicePath(device) + "/config", 4, 2);
        return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    }

    static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
    {
        FILE* file = fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        fclose(file);
    }

    // Bytes of a resource file as the test sees it, not through the driver.
    std::vector<uint8_t> FileBytes(const std::string& path, uint32_t offset, uint32_t count)
    {
        std::vector<uint8_t> bytes(count, 0);
        int fd = open(path.c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(pread(fd, bytes.data(), count, offset), static_cast<ssize_t>(count));
        close(fd);
        return bytes;
    }
    void PutFileBytes(const std::string& path, uint32_t offset, const std::vector<uint8_t>& bytes)
    {
        int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }

    bool Start(bool map = true)
    {
        char error[1024];
        bool ok = SysfsDriverStart(root.c_str(), map, error, sizeof error);
        lastError = error;
        return ok;
    }

    static bool Mem(uint32_t code, uint32_t bus, uint32_t address, uint32_t value, uint32_t size, void* output,
                    uint32_t outputLength, uint32_t addressHigh = 0, uint32_t inputLength = sizeof(MemAccessRequest))
    {
        MemAccessRequest request = {bus, address, addressHigh, value, size};
        uint32_t returned = 0;
        return SysfsDriverControl(code, &request, inputLength, output, outputLength, &returned);
    }
    static bool Write(uint32_t bus, uint32_t address, uint32_t value, uint32_t size)
    {
        uint32_t scratch = 0;
        return Mem(IOCTL_MEM_WRITE, bus, address, value, size, &scratch, size);
    }
    static bool Read(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value)
    {
        *value = 0;
        return Mem(IOCTL_MEM_READ, bus, address, 0, size, value, size);
    }
    static bool Config(uint16_t bus, uint16_t slot, uint8_t* out, uint32_t inputLength = sizeof(PciConfigRequest))
    {
        PciConfigRequest request = {bus, slot};
        uint32_t returned = 0;
        return SysfsDriverControl(IOCTL_PCI_CONFIG, &request, inputLength, out, PciConfigOutputSize, &returned);
    }

    // A child that starts the driver, opens card 1's switch and programs byte
    // after byte, as a flash does, until a signal ends it. Returns once the
    // switch is open; -1 when the child could not start.
    pid_t FlashingChild()
    {
        int ready[2];
        if (pipe(ready) != 0)
            return -1;
        pid_t child = fork();
        if (child == 0) {
            close(ready[0]);
            char error[1024];
            if (!SysfsDriverStart(root.c_str(), true, error, sizeof error))
                _exit(3);
            SysfsDriverInstallSignalHandlers();
            MemAccessRequest open = {1, Window1 + 0x1850, 0, 0, 1};
            uint32_t scratch = 0;
            SysfsDriverControl(IOCTL_MEM_WRITE, &open, sizeof open, &scratch, 1, 0);
            ssize_t ignored = write(ready[1], "x", 1);
            (void)ignored;
            for (uint32_t i = 0;; i = (i + 1) % 0x10000) {
                MemAccessRequest program = {1, Window1 + 0x300000 + i, 0, i & 0xFF, 1};
                SysfsDriverControl(IOCTL_MEM_WRITE, &program, sizeof program, &scratch, 1, 0);
            }
        }
        close(ready[1]);
        char byte = 0;
        bool started = read(ready[0], &byte, 1) == 1;
        close(ready[0]);
        return started ? child : -1;
    }
    // True when the child died of `signalNumber` sent now.
    static bool Kill(pid_t child, int signalNumber)
    {
        int status = 0;
        return kill(child, signalNumber) == 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status) &&
            WTERMSIG(status) == signalNumber;
    }

    std::string root;
    std::string lastError;
};

TEST_F(FakeSysfs, ConfigRequestsReadTheSlotsConfigFile)
{
    ASSERT_TRUE(Start());
    uint8_t out[PciConfigOutputSize];
    memset(out, 0xEE, sizeof out);
    ASSERT_TRUE(Config(1, 0, out));
    EXPECT_EQ(out[0] | out[1] << 8, 0x10DE);
    EXPECT_EQ(out[2] | out[3] << 8, 0x0281);
    EXPECT_EQ(out[0x10], 0x08);
    EXPECT_EQ(out[0x13], 0xE3);
    EXPECT_EQ(out[0x2C] | out[0x2D] << 8, 0x1043);
    EXPECT_EQ(out[0xFF], static_cast<uint8_t>(0x40 + 0xFF));
    // Past the 256 bytes of the file the answer is zero, not stale buffer.
    EXPECT_EQ(out[256], 0);
    EXPECT_EQ(out[PciConfigOutputSize - 1], 0);

    // Slot index 42 is device 10, function 1; a 64-byte file (what a user
    // without root sees) gives 64 bytes and zeros.
    memset(out, 0xEE, sizeof out);
    ASSERT_TRUE(Config(0, 42, out));
    EXPECT_EQ(out[2] | out[3] << 8, 0x0253);
    EXPECT_EQ(out[63], static_cast<uint8_t>(0x40 + 63));
    EXPECT_EQ(out[64], 0);

    // Devices that are not there, and slots past 63.
    EXPECT_FALSE(Config(0, 10, out));
    EXPECT_FALSE(Config(3, 0, out));
    EXPECT_FALSE(Config(1, 64, out));
    EXPECT_FALSE(Config(0x101, 0, out));
    EXPECT_FALSE(Config(1, 0, out, 3));
    // Any device answers configuration requests, not only supported cards.
    EXPECT_TRUE(Config(0, 0, out));
}

TEST_F(FakeSysfs, StartMapsTheSupportedCardsOnly)
{
    PutText("0000:01:00.0", "boot_vga", "1");
    PutText("0000:00:0a.1", "boot_vga", "0");
    ASSERT_TRUE(Start()) << lastError;
    ASSERT_EQ(SysfsDriverCardCount(), 2);
    const SysfsCard* first = SysfsDriverCard(0);
    const SysfsCard* second = SysfsDriverCard(1);
    if (first->bus != 1)
        std::swap(first, second);
    EXPECT_STREQ(first->name, "0000:01:00.0");
    EXPECT_EQ(first->slot, 0);
    EXPECT_EQ(first->windowBase, Window1);
    EXPECT_EQ(first->windowLength, SysfsWindowSize);
    EXPECT_NE(first->window, nullptr);
    EXPECT_STREQ(second->name, "0000:00:0a.1");
    EXPECT_EQ(second->slot, 42);
    EXPECT_EQ(second->windowLength, SysfsWindowSize);
    EXPECT_TRUE(first->bootVga);
    EXPECT_FALSE(second->bootVga);

    // Without mapping (listing the cards) nothing is opened.
    ASSERT_TRUE(Start(false));
    EXPECT_EQ(SysfsDriverCardCount(), 2);
    EXPECT_EQ(SysfsDriverCard(0)->window, nullptr);
    uint32_t value = 0;
    EXPECT_FALSE(Read(1, Window1 + 0x1850, 1, &value));
}

TEST_F(FakeSysfs, AccessesReachTheRightBytesAndNothingElse)
{
    ASSERT_TRUE(Start()) << lastError;
    std::string r1 = Resource("0000:01:00.0");
    std::string r2 = Resource("0000:00:0a.1");

    ASSERT_TRUE(Write(1, Window1 + 0x305555, 0xAA, 1));
    EXPECT_EQ(FileBytes(r1, 0x305554, 3), (std::vector<uint8_t>{0x00, 0xAA, 0x00}));
    ASSERT_TRUE(Write(1, Window1 + 0x1204, 0x12345678, 4));
    EXPECT_EQ(FileBytes(r1, 0x1203, 6), (std::vector<uint8_t>{0x00, 0x78, 0x56, 0x34, 0x12, 0x00}));
    // A byte write carries only the value's low byte.
    ASSERT_TRUE(Write(1, Window1 + 0x2AAA, 0x1FF, 1));
    EXPECT_EQ(FileBytes(r1, 0x2AA9, 3), (std::vector<uint8_t>{0x00, 0xFF, 0x00}));
    // The second card's window, reached through its own bus only.
    ASSERT_TRUE(Write(0, Window2 + 0x40, 0xCAFEF00D, 4));
    EXPECT_EQ(FileBytes(r2, 0x40, 4), (std::vector<uint8_t>{0x0D, 0xF0, 0xFE, 0xCA}));
    EXPECT_EQ(FileBytes(r1, 0x40, 4), (std::vector<uint8_t>{0, 0, 0, 0}));

    PutFileBytes(r1, 0x101000, {0x11, 0x22, 0x33, 0x64});
    uint32_t value = 0;
    ASSERT_TRUE(Read(1, Window1 + 0x101000, 4, &value));
    EXPECT_EQ(value, 0x64332211u);
    ASSERT_TRUE(Read(1, Window1 + 0x101003, 1, &value));
    EXPECT_EQ(value, 0x64u);
    // A byte read fills one byte of the output and leaves the rest alone.
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_TRUE(Mem(IOCTL_MEM_READ, 1, Window1 + 0x101001, 0, 1, out, 1));
    EXPECT_EQ(out[0], 0x22);
    EXPECT_EQ(out[1], 0xEE);
    // The last word of the 16 MiB window.
    ASSERT_TRUE(Write(1, Window1 + SysfsWindowSize - 4, 0x01020304, 4));
    EXPECT_EQ(FileBytes(r1, SysfsWindowSize - 4, 4), (std::vector<uint8_t>{4, 3, 2, 1}));
}

TEST_F(FakeSysfs, EverythingOutsideTheWindowIsRefusedAndUntouched)
{
    ASSERT_TRUE(Start()) << lastError;
    std::string r1 = Resource("0000:01:00.0");
    std::string r2 = Resource("0000:00:0a.1");
    PutFileBytes(r1, 0, {0x5A, 0x5A, 0x5A, 0x5A});
    PutFileBytes(r1, SysfsWindowSize - 4, {0x5A, 0x5A, 0x5A, 0x5A});
    PutFileBytes(r2, SysfsWindowSize - 4, {0x5A, 0x5A, 0x5A, 0x5A});
    uint32_t value = 0x77777777;

    struct Refused {
        uint32_t bus;
        uint32_t address;
        uint32_t size;
        uint32_t addressHigh;
    };
    const Refused cases[] = {
        {1, Window1 - 1, 1, 0},                     // below the window
        {1, Window1 - 2, 4, 0},                     // a word reaching into it
        {1, Window1 + SysfsWindowSize, 1, 0},       // past the 16 MiB
        {1, Window1 + SysfsWindowSize - 2, 4, 0},   // a word across the end
        {1, Window1 + 0x1206, 4, 0},                // a word across two registers
        {0, Window1 + 0x1850, 1, 0},                // the window of another bus
        {1, Window1 + 0x1850, 1, 1},                // above 4 GiB
        {1, Window1 + 0x1850, 2, 0},                // neither byte nor word
        {1, Window1 + 0x1850, 0, 0},
        {0, Window2 + SysfsWindowSize, 1, 0},
        {2, 0xE8000000 + 0x1850, 1, 0},             // an unsupported card's window
        {1, 0x1850, 1, 0},
    };
    for (const Refused& c : cases) {
        uint32_t out = 0x77777777;
        EXPECT_FALSE(Mem(IOCTL_MEM_READ, c.bus, c.address, 0, c.size, &out, 4, c.addressHigh))
            << std::hex << c.address << " size " << c.size;
        EXPECT_EQ(out, 0x77777777u);
        EXPECT_FALSE(Mem(IOCTL_MEM_WRITE, c.bus, c.address, 0xA5A5A5A5, c.size, &out, 4, c.addressHigh))
            << std::hex << c.address << " size " << c.size;
    }
    // Malformed requests: short input, no room for the answer, unknown codes.
    EXPECT_FALSE(Mem(IOCTL_MEM_WRITE, 1, Window1, 0xA5, 1, &value, 1, 0, 19));
    EXPECT_FALSE(Mem(IOCTL_MEM_READ, 1, Window1, 0, 4, &value, 2));
    EXPECT_FALSE(Mem(0x9C40645C, 1, Window1, 0xA5, 1, &value, 1));

    EXPECT_EQ(FileBytes(r1, 0, 4), (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A}));
    EXPECT_EQ(FileBytes(r1, SysfsWindowSize - 4, 4), (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A}));
    EXPECT_EQ(FileBytes(r1, 0x1204, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(FileBytes(r1, 0x1850, 1), (std::vector<uint8_t>{0}));
    EXPECT_EQ(FileBytes(r2, SysfsWindowSize - 4, 4), (std::vector<uint8_t>{0x5A, 0x5A, 0x5A, 0x5A}));
    // Refusals are not writes: no display notice was given.
    EXPECT_TRUE(Notices.empty());
}

TEST_F(FakeSysfs, TheDisplayNoticeComesOnceBeforeTheFirstWrite)
{
    ASSERT_TRUE(Start()) << lastError;
    std::string r1 = Resource("0000:01:00.0");
    PutFileBytes(r1, 0x1850, {0x01});
    uint32_t value = 0;
    ASSERT_TRUE(Read(1, Window1 + 0x1850, 1, &value));
    EXPECT_TRUE(Notices.empty());

    // The notice hook sees the switch still closed: it ran before the write.
    static std::string resource;
    static uint8_t switchAtNotice;
    resource = r1;
    switchAtNotice = 0xEE;
    SysfsDriverNotice = [](const char* text) {
        Notices.push_back(text);
        int fd = open(resource.c_str(), O_RDONLY);
        if (fd >= 0) {
            if (pread(fd, &switchAtNotice, 1, 0x1850) != 1)
                switchAtNotice = 0xEE;
            close(fd);
        }
    };
    ASSERT_TRUE(Write(1, Window1 + 0x1850, 0, 1));
    ASSERT_TRUE(Write(1, Window1 + 0x305555, 0xAA, 1));
    ASSERT_TRUE(Write(0, Window2 + 0x1850, 0, 1));
    ASSERT_EQ(Notices.size(), 1u);
    EXPECT_EQ(Notices[0], SysfsDisplayNotice);
    EXPECT_EQ(switchAtNotice, 0x01);
}

TEST_F(FakeSysfs, StopPutsBackTheSwitchAndTheSerialLinesOnly)
{
    std::string r1 = Resource("0000:01:00.0");
    std::string r2 = Resource("0000:00:0a.1");
    PutFileBytes(r1, 0x1850, {0x01});
    PutFileBytes(r1, 0x1204, {0x0C, 0x00, 0x00, 0x00});
    PutFileBytes(r2, 0x1850, {0x01});
    ASSERT_TRUE(Start()) << lastError;
    // Changed behind the driver's back after the start: not the run's doing.
    PutFileBytes(r2, 0x1850, {0x07});
    ASSERT_TRUE(Write(1, Window1 + 0x1850, 0, 1));
    ASSERT_TRUE(Write(1, Window1 + 0x1204, 0x00000003, 4));
    ASSERT_TRUE(Write(1, Window1 + 0x60081C, 0x0000F000, 4));   // the ROM selection stays
    ASSERT_TRUE(Write(1, Window1 + 0x300000, 0x42, 1));
    SysfsDriverStop();
    EXPECT_EQ(FileBytes(r1, 0x1850, 1), (std::vector<uint8_t>{0x01}));
    EXPECT_EQ(FileBytes(r1, 0x1204, 4), (std::vector<uint8_t>{0x0C, 0, 0, 0}));
    EXPECT_EQ(FileBytes(r1, 0x60081C, 4), (std::vector<uint8_t>{0x00, 0xF0, 0, 0}));
    EXPECT_EQ(FileBytes(r1, 0x300000, 1), (std::vector<uint8_t>{0x42}));
    // The card whose switch the run never wrote is left as it is.
    EXPECT_EQ(FileBytes(r2, 0x1850, 1), (std::vector<uint8_t>{0x07}));
    // After the stop nothing is reachable.
    uint32_t value = 0;
    EXPECT_FALSE(Read(1, Window1 + 0x1850, 1, &value));
}

// Runs `body` in a child process; returns its wait status.
template <typename Body>
int InChild(Body body)
{
    pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST_F(FakeSysfs, WithoutRootNothingIsMappedAndTheMessageSaysWhatIsNeeded)
{
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(Resource("0000:01:00.0").c_str(), 0), 0);
    }
    std::string lockdown = root + "/kernel/security";
    std::string command = "mkdir -p '" + lockdown + "'";
    ASSERT_EQ(system(command.c_str()), 0);
    WriteFile(lockdown + "/lockdown", {'n', 'o', 'n', 'e', ' ', '[', 'i', 'n', 't', 'e', 'g', 'r', 'i', 't', 'y',
                                       ']', '\n'});
    // The tree stays the test's; the child drops root to look at it as a user.
    ASSERT_EQ(chmod(root.c_str(), 0755), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    int status = InChild([&] {
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        char error[1024];
        bool ok = SysfsDriverStart(root.c_str(), true, error, sizeof error);
        bool nothingMapped = SysfsDriverCardCount() == 0;
        ssize_t ignored = write(pipeFds[1], error, strlen(error));
        (void)ignored;
        _exit(!ok && nothingMapped ? 0 : 1);
    });
    close(pipeFds[1]);
    char text[1024] = {};
    ssize_t got = read(pipeFds[0], text, sizeof text - 1);
    close(pipeFds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << text;
    ASSERT_GT(got, 0);
    std::string message = text;
    EXPECT_NE(message.find("resource0"), std::string::npos) << message;
    EXPECT_NE(message.find("needs root"), std::string::npos) << message;
    EXPECT_NE(message.find("locked down"), std::string::npos) << message;
    // The refused start left the cards' files as they were.
    EXPECT_EQ(FileBytes(Resource("0000:00:0a.1"), 0x1850, 1), (std::vector<uint8_t>{0}));
}

TEST_F(FakeSysfs, ASignalDuringAWriteClosesTheSwitchBeforeTheProgramDies)
{
    std::string r1 = Resource("0000:01:00.0");
    for (int signalNumber : {SIGINT, SIGTERM}) {
        PutFileBytes(r1, 0x1850, {0x01});
        pid_t child = FlashingChild();
        ASSERT_GT(child, 0);
        EXPECT_EQ(FileBytes(r1, 0x1850, 1), (std::vector<uint8_t>{0x00}));   // open while writing
        usleep(20000);
        EXPECT_TRUE(Kill(child, signalNumber)) << "signal " << signalNumber;
        EXPECT_EQ(FileBytes(r1, 0x1850, 1), (std::vector<uint8_t>{0x01})) << "signal " << signalNumber;
    }
}

// ---- cards no driver has started, and cards that cannot be worked on ----

// The kernel's part of a write to `enable`: 1 enables the device, its I/O and
// memory decoding go on; 0 gives the count back and stops bus mastering, the
// decoding bits stay. Writes to paths containing RefusedPath fail with
// Refusal. Only calls a signal handler may make.
int Refusal;
const char* RefusedPath;

int KernelModel(const char* path, const char* text)
{
    if (Refusal && strstr(path, RefusedPath))
        return Refusal;
    const char* base = strrchr(path, '/');
    if (strcmp(base, "/enable") != 0)
        return SysfsWriteAttributeFile(path, text);
    char config[SysfsPathSize];
    snprintf(config, sizeof config, "%.*s/config", static_cast<int>(base - path), path);
    char count = '0';
    int fd = open(path, O_RDONLY);
    if (fd < 0 || read(fd, &count, 1) != 1)
        count = '0';
    if (fd >= 0)
        close(fd);
    if (text[0] == '0' && count == '0')
        return EIO;
    uint8_t command = 0;
    fd = open(config, O_RDWR);
    if (fd < 0 || pread(fd, &command, 1, 4) != 1)
        return EIO;
    command = text[0] == '1' ? command | 0x3 : command & ~0x4;
    bool ok = pwrite(fd, &command, 1, 4) == 1;
    close(fd);
    return ok ? SysfsWriteAttributeFile(path, text) : EIO;
}

class Unstarted : public FakeSysfs {
protected:
    void SetUp() override
    {
        FakeSysfs::SetUp();
        Refusal = 0;
        RefusedPath = "";
        SysfsWriteAttribute = KernelModel;
        // Card 0000:01:00.0 as the firmware leaves a second card: decoding
        // off, runtime power management allowed.
        AddDevice("0000:01:00.0", 0x10DE, 0x0281, 0xE3000008, 256, SysfsWindowSize, 0x0000);
        PutText("0000:01:00.0", "power/control", "auto");
        PutFileBytes(Resource("0000:01:00.0"), 0x1850, {0x01});
    }
    void TearDown() override
    {
        FakeSysfs::TearDown();
        SysfsWriteAttribute = SysfsWriteAttributeFile;
    }
    // What the run may change outside the window, as text.
    std::string Settings(const char* device)
    {
        char command[8];
        snprintf(command, sizeof command, "%04x", Command(device));
        return std::string("command ") + command + ", enable " + Text(device, "enable") + ", control " +
            Text(device, "power/control");
    }
};

TEST_F(Unstarted, DecodingIsOnForTheRunAndOffAgainHoweverItEnds)
{
    const std::string before = "command 0000, enable 0, control auto";
    const std::string during = "command 0003, enable 1, control on";
    enum Ending { Stop, RefusedLater, Interrupt, Terminate };
    for (Ending ending : {Stop, RefusedLater, Interrupt, Terminate}) {
        SCOPED_TRACE(ending);
        Notices.clear();
        if (ending == Stop) {
            ASSERT_TRUE(Start()) << lastError;
            EXPECT_EQ(Settings("0000:01:00.0"), during);
            ASSERT_EQ(Notices.size(), 1u);
            EXPECT_NE(Notices[0].find("memory decoding of 0000:01:00.0 was off"), std::string::npos);
            // Flashed: the switch opened and a byte written through the window.
            ASSERT_TRUE(Write(1, Window1 + 0x1850, 0, 1));
            ASSERT_TRUE(Write(1, Window1 + 0x300000, 0x42, 1));
            SysfsDriverStop();
            EXPECT_EQ(FileBytes(Resource("0000:01:00.0"), 0x300000, 1), (std::vector<uint8_t>{0x42}));
        } else if (ending == RefusedLater) {
            // Decoding went on, then keeping the card awake was refused.
            Refusal = EACCES;
            RefusedPath = "0000:01:00.0/power/control";
            EXPECT_FALSE(Start());
            EXPECT_NE(lastError.find("must be kept awake"), std::string::npos) << lastError;
            EXPECT_EQ(SysfsDriverCardCount(), 0);
            Refusal = 0;
        } else {
            pid_t child = FlashingChild();
            ASSERT_GT(child, 0);
            EXPECT_EQ(Settings("0000:01:00.0"), during);
            EXPECT_TRUE(Kill(child, ending == Interrupt ? SIGINT : SIGTERM));
        }
        EXPECT_EQ(Settings("0000:01:00.0"), before);
        EXPECT_EQ(FileBytes(Resource("0000:01:00.0"), 0x1850, 1), (std::vector<uint8_t>{0x01}));
    }
}

TEST_F(Unstarted, WithoutTheRightToTurnDecodingOnNothingIsTouched)
{
    // Root inside a container lacks the capability the kernel asks for. The
    // other card, kept awake before or after the refusal, is put back too.
    Refusal = EPERM;
    RefusedPath = "/enable";
    PutText("0000:00:0a.1", "power/control", "auto");
    const std::string card = Settings("0000:01:00.0"), other = Settings("0000:00:0a.1");
    EXPECT_FALSE(Start());
    EXPECT_NE(lastError.find("memory decoding of 0000:01:00.0 is off"), std::string::npos) << lastError;
    EXPECT_NE(lastError.find("/enable"), std::string::npos) << lastError;
    EXPECT_NE(lastError.find("CAP_SYS_ADMIN"), std::string::npos) << lastError;
    EXPECT_EQ(SysfsDriverCardCount(), 0);
    Refusal = 0;
    SysfsDriverStop();
    EXPECT_EQ(Settings("0000:01:00.0"), card);
    EXPECT_EQ(Settings("0000:00:0a.1"), other);
}

TEST_F(Unstarted, UnusableCardsAreNamedNotNumberedAndNotTouched)
{
    struct Row {
        const char* name;
        uint32_t bar0;
        size_t resource;
        const char* powerState;  // 0: the kernel shows none
        bool allOnes;            // the card does not answer
        const char* driver;      // bound kernel driver, or 0
        std::string reason;
    };
    const std::string unassigned = SysfsWindowNotAssigned;
    const std::string unbind = "held by the kernel driver nouveau; unbind it first: echo 0000:03:00.0 > " + root +
        "/bus/pci/drivers/nouveau/unbind";
    const Row rows[] = {
        {"0000:03:00.0", 0x00000008, SysfsWindowSize, 0, false, 0, unassigned},
        {"0000:03:00.0", 0xE8000000, 0x100000, 0, false, 0, unassigned},
        {"0000:03:00.0", 0xE8000000, 0, 0, false, 0, unassigned},
        {"0000:03:00.0", 0xE8000000, SysfsWindowSize, "D3hot", false, 0, "power state D3hot, not D0"},
        {"0000:03:00.0", 0xE8000000, SysfsWindowSize, "D0", true, 0,
         "configuration space reads all ones: the card does not answer"},
        {"0000:03:00.0", 0xE8000000, SysfsWindowSize, "D0", false, "nouveau", unbind},
        {"0000:05:00.0", 0xE8000000, SysfsWindowSize, 0, false, 0,
         "on bus 05; cards are looked for on buses 00 to 03 only"},
        {"0000:00:05.2", 0xE8000000, SysfsWindowSize, 0, false, 0, "function 2; only functions 0 and 1 can be reached"},
        {"0001:01:00.0", 0xE8000000, SysfsWindowSize, 0, false, 0,
         "in PCI domain 0001; only domain 0000 can be reached"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reason);
        AddDevice(row.name, 0x10DE, 0x0281, row.bar0, 256, row.resource, 0x0000);
        PutText(row.name, "power/control", "auto");
        if (row.powerState)
            PutText(row.name, "power_state", row.powerState);
        if (row.allOnes) {
            WriteFile(DevicePath(row.name) + "/config", std::vector<uint8_t>(256, 0xFF));
            PutText(row.name, "vendor", "0x10de");
            PutText(row.name, "device", "0x0281");
        }
        if (row.driver) {
            std::string target = root + "/bus/pci/drivers/" + row.driver;
            ASSERT_EQ(symlink(target.c_str(), (DevicePath(row.name) + "/driver").c_str()), 0);
        }
        const std::string settings = Settings(row.name);

        ASSERT_TRUE(Start()) << lastError;
        EXPECT_EQ(SysfsDriverCardCount(), 2);
        const SysfsUnusableCard* cards = 0;
        int count = SysfsDriverUnusableCards(&cards);
        const SysfsUnusableCard* card = 0;
        for (int i = 0; i < count; ++i)
            card = strcmp(cards[i].name, row.name) == 0 ? &cards[i] : card;
        ASSERT_NE(card, nullptr);
        EXPECT_EQ(card->reason, row.reason);
        EXPECT_EQ(card->deviceId, 0x0281);
        // Discovery does not see it: no number, no window.
        uint8_t out[PciConfigOutputSize];
        if (card->hidden) {
            EXPECT_FALSE(Config(card->bus, card->slot, out));
        }
        SysfsDriverStop();
        EXPECT_EQ(Settings(row.name), settings);
        ASSERT_EQ(system(("rm -rf '" + DevicePath(row.name) + "'").c_str()), 0);
    }
}

#if defined(__x86_64__) && defined(__linux__)

// Counts the accesses one request makes to one page of the window: the page
// is made inaccessible, each access faults once, the faulting instruction is
// stepped with the page open, and the trap after it closes the page again.
volatile uint8_t* WatchedPage;
size_t PageSize;
volatile int Accesses;

void OnFault(int, siginfo_t* info, void* context)
{
    uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    uintptr_t page = reinterpret_cast<uintptr_t>(WatchedPage);
    if (address < page || address >= page + PageSize) {
        signal(SIGSEGV, SIG_DFL);
        return;
    }
    ++Accesses;
    mprotect(const_cast<uint8_t*>(WatchedPage), PageSize, PROT_READ | PROT_WRITE);
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EFL] |= 0x100;   // trap flag
}

void OnStep(int, siginfo_t*, void* context)
{
    mprotect(const_cast<uint8_t*>(WatchedPage), PageSize, PROT_NONE);
    static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_EFL] &= ~0x100;
}

TEST_F(FakeSysfs, EveryRequestIsOneAccess)
{
    ASSERT_TRUE(Start()) << lastError;
    const SysfsCard* card = SysfsDriverCard(0)->bus == 1 ? SysfsDriverCard(0) : SysfsDriverCard(1);
    PageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));

    struct sigaction fault = {}, step = {}, oldFault = {}, oldStep = {};
    fault.sa_sigaction = OnFault;
    fault.sa_flags = SA_SIGINFO;
    step.sa_sigaction = OnStep;
    step.sa_flags = SA_SIGINFO;
    ASSERT_EQ(sigaction(SIGSEGV, &fault, &oldFault), 0);
    ASSERT_EQ(sigaction(SIGTRAP, &step, &oldStep), 0);

    struct Case {
        uint32_t code;
        uint32_t offset;
        uint32_t size;
    };
    const Case cases[] = {
        {IOCTL_MEM_WRITE, 0x1850, 1},     // the switch: its value was read at start, not now
        {IOCTL_MEM_WRITE, 0x1204, 4},
        {IOCTL_MEM_READ, 0x1204, 4},
        {IOCTL_MEM_READ, 0x1850, 1},
        {IOCTL_MEM_WRITE, 0x305555, 1},
        {IOCTL_MEM_READ, 0x300001, 1},
        {IOCTL_MEM_WRITE, 0x60081C, 4},
    };
    for (const Case& c : cases) {
        WatchedPage = card->window + (c.offset & ~(PageSize - 1));
        Accesses = 0;
        ASSERT_EQ(mprotect(const_cast<uint8_t*>(WatchedPage), PageSize, PROT_NONE), 0);
        uint32_t out = 0;
        bool ok = Mem(c.code, 1, Window1 + c.offset, 0x5A, c.size, &out, c.size);
        mprotect(const_cast<uint8_t*>(WatchedPage), PageSize, PROT_READ | PROT_WRITE);
        EXPECT_TRUE(ok);
        EXPECT_EQ(Accesses, 1) << std::hex << c.code << " at " << c.offset;
    }
    sigaction(SIGSEGV, &oldFault, 0);
    sigaction(SIGTRAP, &oldStep, 0);
}

#endif

}  // namespace
