// The machine file that carries a virtual machine into QZF.SYS and back, and
// the clock of the machine inside the driver.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "driver/virtual/machine_file.h"
#include "driver/virtual/virtual_clock.h"
#include "hw/driver_requests.h"
#include "vcard/host/vcard_host.h"

namespace {

struct Owned {
  VcMachine* m = VcNewMachine();
  ~Owned() { VcFreeMachine(m); }
};

const char DualWithFaults[] =
    "device 0:0 0x8086:0x2570 class=0x060000\n"
    "card 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000008 dual=rom2\n"
    "part 29EE010 image=04.28.20.01 image-size=2048\n"
    "part-fault dead-byte=0x10\n"
    "part 39VF010 image=04.28.20.05.01\n"
    "card-fault dual-bios-stops-after=7\n"
    "card 0:9 0x10DE:0x0322 bar0=0xE8000000 interface=spi\n"
    "part AT25F1024 code=0x40 status=0x0C\n"
    "fail mem-write address=0xE8001204 skip=3 count=2\n";

std::vector<uint8_t> Write(const VcMachine* machine, uint32_t state) {
  std::vector<uint8_t> bytes(VcmMaxSize());
  uint32_t length = VcmWrite(machine, state, bytes.data(), uint32_t(bytes.size()));
  bytes.resize(length);
  return bytes;
}

void Load(const char* profile, VcMachine* machine) {
  char error[256] = "";
  ASSERT_TRUE(VcLoadProfileText(profile, "test.profile", "", machine, error, sizeof error)) << error;
}

uint32_t ReadMem(VcMachine* machine, uint32_t bus, uint32_t address, uint32_t size) {
  MemAccessRequest request = {bus, address, 0, 0, size};
  uint8_t out[4] = {0, 0, 0, 0};
  uint32_t returned = 0;
  if (!VcDeviceControl(machine, IOCTL_MEM_READ, &request, sizeof request, out, size, &returned)) return 0xDEAD;
  return uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16 | uint32_t(out[3]) << 24;
}

bool WriteMem(VcMachine* machine, uint32_t bus, uint32_t address, uint32_t value, uint32_t size) {
  MemAccessRequest request = {bus, address, 0, value, size};
  uint32_t scratch = 0, returned = 0;
  return VcDeviceControl(machine, IOCTL_MEM_WRITE, &request, sizeof request, &scratch, size, &returned);
}

TEST(MachineFile, RoundTripKeepsTheMachineAndItsBehaviour) {
  Owned original, copy;
  Load(DualWithFaults, original.m);
  original.m->logEnabled = true;
  original.m->deviceOpenFails = true;
  // Some history: a ROM 2 selection and a few logged requests.
  ASSERT_TRUE(WriteMem(original.m, 1, 0xFD60081C, 0xF000, 4));
  ReadMem(original.m, 1, 0xFD60081C, 4);

  std::vector<uint8_t> bytes = Write(original.m, VcmStateSaved);
  ASSERT_FALSE(bytes.empty());
  uint32_t state = VcmStateFresh;
  ASSERT_TRUE(VcmRead(bytes.data(), uint32_t(bytes.size()), copy.m, &state));
  EXPECT_EQ(state, uint32_t(VcmStateSaved));
  EXPECT_EQ(Write(copy.m, VcmStateSaved), bytes) << "the file names everything it reads";

  EXPECT_EQ(copy.m->cardCount, 2);
  EXPECT_EQ(copy.m->deviceCount, 3);
  EXPECT_TRUE(copy.m->deviceOpenFails);
  EXPECT_EQ(copy.m->requestCount, original.m->requestCount);
  EXPECT_EQ(copy.m->logCount, original.m->logCount);
  for (int c = 0; c < 2; ++c) {
    for (int p = 0; p < VcMaxPartsPerCard; ++p) {
      const VcFlashPart& a = original.m->cards[c].parts[p];
      const VcFlashPart& b = copy.m->cards[c].parts[p];
      EXPECT_EQ(a.type, b.type) << c << "/" << p;
      EXPECT_EQ(0, memcmp(a.data, b.data, sizeof a.data)) << c << "/" << p;
    }
  }
  EXPECT_TRUE(copy.m->cards[0].parts[0].faults.deadByteEnabled);
  EXPECT_EQ(copy.m->cards[0].parts[0].faults.deadByteOffset, 0x10u);

  // Both machines answer alike from here on: the dual-BIOS pins, ROM 2
  // through the aperture, and the fail rule on the serial line register.
  for (VcMachine* m : {original.m, copy.m}) {
    SCOPED_TRACE(m == original.m ? "original" : "copy");
    // ROM 2 selected; the switch of a board booted from ROM 2 loops the select back.
    EXPECT_EQ(ReadMem(m, 1, 0xFD60081C, 4) & 0xFF00, 0xF400u);
    ASSERT_TRUE(WriteMem(m, 1, 0xFD001850, 0, 1));
    EXPECT_EQ(ReadMem(m, 1, 0xFD300000, 1), 0x55u);
    EXPECT_EQ(ReadMem(m, 1, 0xFD300001, 1), 0xAAu);
    bool results[6];
    for (bool& ok : results) ok = WriteMem(m, 0, 0xE8001204, 1, 4);
    const bool expected[6] = {true, true, true, false, false, true};
    EXPECT_EQ(0, memcmp(results, expected, sizeof results));
  }
}

TEST(MachineFile, LargestMachineFits) {
  Owned full;
  std::string profile;
  for (int i = 0; i < VcMaxDevices - VcMaxCards; ++i) profile += "device 2:" + std::to_string(i) + " 0x8086:0x2570\n";
  for (int i = 0; i < VcMaxCards; ++i) {
    char line[160];
    snprintf(line, sizeof line, "card 3:%d 0x10DE:0x0281 bar0=0x%02X000000 dual=rom2\npart 29EE010\npart 39VF010\n", i,
             0xC0 + i);
    profile += line;
  }
  Load(profile.c_str(), full.m);
  std::vector<uint8_t> bytes(VcmMaxSize());
  uint32_t length = VcmWrite(full.m, VcmStateFresh, bytes.data(), uint32_t(bytes.size()));
  EXPECT_EQ(length, VcmMaxSize());
  EXPECT_EQ(VcmWrite(full.m, VcmStateFresh, bytes.data(), length - 1), 0u);
}

TEST(MachineFile, DamagedFilesAreRefusedWithTheMachineReset) {
  Owned original, copy;
  Load(DualWithFaults, original.m);
  std::vector<uint8_t> good = Write(original.m, VcmStateFresh);
  ASSERT_FALSE(good.empty());

  auto refused = [&](std::vector<uint8_t> bytes, const char* what) {
    Load(DualWithFaults, copy.m);
    EXPECT_FALSE(VcmRead(bytes.data(), uint32_t(bytes.size()), copy.m, nullptr)) << what;
    EXPECT_EQ(copy.m->cardCount, 0) << what;
    EXPECT_EQ(copy.m->deviceCount, 0) << what;
  };
  for (size_t cut : {size_t(0), size_t(3), size_t(16), good.size() / 2, good.size() - 1}) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + long(cut));
    refused(bytes, "cut short");
  }
  std::vector<uint8_t> bytes = good;
  bytes.push_back(0);
  refused(bytes, "trailing byte");
  bytes = good;
  bytes[0] = 'X';
  refused(bytes, "magic");
  bytes = good;
  bytes[4] = 2;
  refused(bytes, "version");

  // Offsets inside the first card: after the header (16), times and counters
  // (40), flags (2), the log (5 + 4096 * 14), the devices (4 + 3 * 260) and
  // the card count (4).
  const size_t card = 16 + 40 + 2 + 5 + 4096 * 14 + 4 + 3 * 260 + 4;
  bytes = good;
  bytes[card] = 7;  // device index past the devices
  refused(bytes, "device of a card");
  const size_t part = card + 43;
  bytes = good;
  bytes[part] = 200;  // no such row in the part catalogue
  refused(bytes, "part type");
  bytes = good;
  bytes[part + 40] ^= 0x01;  // a size the part does not have
  refused(bytes, "part size");
}

TEST(DriverClock, ShortGapsAreCappedAndSleepsCountWhole) {
  VcClock clock = {};
  EXPECT_EQ(VcClockGap(&clock, 5000000), 0u) << "the first request starts the clock";
  EXPECT_EQ(VcClockGap(&clock, 5000000 + 20000), 20000u);
  EXPECT_EQ(VcClockGap(&clock, 5020000 + 300000), uint64_t(VcShortGapCapNs));
  EXPECT_EQ(VcClockGap(&clock, 5320000 + VcLongGapNs - 1), uint64_t(VcShortGapCapNs));
  uint64_t now = 5320000 + VcLongGapNs - 1;
  EXPECT_EQ(VcClockGap(&clock, now + 1000000000), 1000000000u);
  EXPECT_EQ(VcClockGap(&clock, 10), 0u) << "a clock that went back restarts";
  EXPECT_EQ(VcClockGap(&clock, 30), 20u);
}

// Why the cap: a page-write part takes the 128 loads of a page even when the
// requests come 300 us apart, as they do under Wine.
TEST(DriverClock, PageLoadsSentBackToBackStayInOnePage) {
  Owned owned;
  VcMachine* m = owned.m;
  Load("card 1:0 0x10DE:0x0281 bar0=0xE3000000\npart 29EE512\n", m);
  VcClock clock = {};
  uint64_t real = 0;
  auto write = [&](uint32_t offset, uint8_t value) {
    real += 300000;
    VcAdvance(m, VcClockGap(&clock, real));
    return WriteMem(m, 1, 0xE3000000 + offset, value, 1);
  };
  auto read = [&](uint32_t offset) {
    real += 300000;
    VcAdvance(m, VcClockGap(&clock, real));
    return ReadMem(m, 1, 0xE3000000 + offset, 1);
  };
  ASSERT_TRUE(write(0x1850, 0));  // ROM access open
  // Software data protection is on at power-up: the unlock cycles come first.
  write(0x300000 + 0x5555, 0xAA);
  write(0x300000 + 0x2AAA, 0x55);
  write(0x300000 + 0x5555, 0xA0);
  for (uint32_t i = 0; i < 128; ++i) write(0x300000 + i, uint8_t(i ^ 0x5A));
  // Poll the last byte until the page cycle is over.
  for (int poll = 0; poll < 1000 && read(0x300000 + 127) != uint8_t(127 ^ 0x5A); ++poll) {
  }
  for (uint32_t i = 0; i < 128; ++i) ASSERT_EQ(read(0x300000 + i), uint32_t(i ^ 0x5A)) << i;
}

}  // namespace
