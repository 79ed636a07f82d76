// The request handling of QZF.SYS over a scripted backend: what reaches the
// backend, what goes back to the program, and what is refused; and the card
// windows the driver finds for itself, which bound every memory request.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "driver/common/requests.h"
#include "hw/driver_requests.h"

namespace {

struct BackendCall {
  int kind = 0;  // 1 config, 2 read, 3 write
  uint32_t bus = 0, slotOrAddress = 0, value = 0, size = 0;
};

BackendCall LastCall;
int CallCount;
bool BackendAnswers = true;
uint32_t ReadValue = 0;

bool ScriptedConfig(uint16_t bus, uint16_t slot, uint8_t* space) {
  ++CallCount;
  LastCall = {1, bus, slot, 0, 0};
  if (!BackendAnswers) return false;
  for (uint32_t i = 0; i < PciConfigOutputSize; ++i) space[i] = uint8_t(i);
  return true;
}

bool ScriptedRead(uint32_t bus, uint32_t address, uint32_t size, uint32_t* value) {
  ++CallCount;
  LastCall = {2, bus, address, 0, size};
  *value = ReadValue;
  return BackendAnswers;
}

bool ScriptedWrite(uint32_t bus, uint32_t address, uint32_t value, uint32_t size) {
  ++CallCount;
  LastCall = {3, bus, address, value, size};
  return BackendAnswers;
}

// The machine the driver's own scan sees: one header per listed slot.
struct FakeSlot {
  uint16_t bus, slot, vendorId, deviceId;
  uint32_t bar0;
};
std::vector<FakeSlot> Machine;
int ScanCalls;

bool ScanConfig(uint16_t bus, uint16_t slot, uint8_t* space) {
  ++ScanCalls;
  for (const FakeSlot& s : Machine) {
    if (s.bus != bus || s.slot != slot) continue;
    memset(space, 0, PciConfigOutputSize);
    const uint32_t words[5] = {uint32_t(s.vendorId) | uint32_t(s.deviceId) << 16, 0x02B00007, 0x030000A1, 0, s.bar0};
    memcpy(space, words, sizeof words);
    return true;
  }
  return false;
}

const QzBackend Scripted = {ScriptedConfig, ScriptedRead, ScriptedWrite, ScanConfig};

// Two cards: a window at 0xE3000000 on bus 1 and one at 0xE4000000 on bus 0.
void ScanTwoCards() {
  Machine = {{1, 0, 0x10DE, 0x0281, 0xE3000008}, {0, 9, 0x10DE, 0x0253, 0xE4000000}};
  QzFindWindows(&Scripted);
}

class DriverRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    LastCall = BackendCall();
    CallCount = 0;
    BackendAnswers = true;
    ReadValue = 0;
    ScanTwoCards();
  }

  // A buffered request: input and output share one buffer, as in the kernel.
  QzRequestStatus Send(uint32_t code, const void* input, uint32_t inputLength, uint32_t outputLength,
                       uint32_t* returned) {
    memset(buffer, 0xCC, sizeof buffer);
    memcpy(buffer, input, inputLength);
    return QzHandleRequest(&Scripted, code, buffer, inputLength, buffer, outputLength, returned);
  }

  uint8_t buffer[512];
};

MemAccessRequest Mem(uint32_t bus, uint32_t address, uint32_t value, uint32_t size, uint32_t high = 0) {
  MemAccessRequest request = {bus, address, high, value, size};
  return request;
}

TEST_F(DriverRequests, ConfigurationSpaceOfASlot) {
  PciConfigRequest request = {3, 63};
  uint32_t returned = 0;
  ASSERT_EQ(Send(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize, &returned), QzRequestOk);
  EXPECT_EQ(LastCall.kind, 1);
  EXPECT_EQ(LastCall.bus, 3u);
  EXPECT_EQ(LastCall.slotOrAddress, 63u);
  EXPECT_EQ(returned, PciConfigOutputSize);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[399], uint8_t(399));

  BackendAnswers = false;
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize, &returned),
            QzRequestDeviceFailure);
  EXPECT_EQ(returned, 0u);
}

TEST_F(DriverRequests, ConfigurationRequestsOutOfShapeNeverReachTheBackend) {
  PciConfigRequest request = {0, 64};
  uint32_t returned = 0;
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize, &returned), QzRequestBadParameter);
  request.Slot = 0;
  request.Bus = 256;
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize, &returned), QzRequestBadParameter);
  request.Bus = 0;
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, &request, 3, PciConfigOutputSize, &returned), QzRequestBadParameter);
  const uint8_t longer[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, longer, sizeof longer, PciConfigOutputSize, &returned), QzRequestBadParameter);
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize - 1, &returned),
            QzRequestBufferTooSmall);
  EXPECT_EQ(CallCount, 0);
  EXPECT_EQ(returned, 0u);
}

TEST_F(DriverRequests, ReadsAnswerLittleEndianInTheSharedBuffer) {
  ReadValue = 0x11223344;
  MemAccessRequest request = Mem(1, 0xE3001850, 0xFFFFFFFF, 4);
  uint32_t returned = 0;
  ASSERT_EQ(Send(IOCTL_MEM_READ, &request, sizeof request, 4, &returned), QzRequestOk);
  EXPECT_EQ(LastCall.kind, 2);
  EXPECT_EQ(LastCall.bus, 1u);
  EXPECT_EQ(LastCall.slotOrAddress, 0xE3001850u);
  EXPECT_EQ(LastCall.size, 4u);
  EXPECT_EQ(returned, 4u);
  const uint8_t expected[4] = {0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(0, memcmp(buffer, expected, 4));

  // A byte read fills one byte and leaves the rest of the buffer alone.
  ReadValue = 0xAB;
  request = Mem(1, 0xE3300000, 0, 1);
  ASSERT_EQ(Send(IOCTL_MEM_READ, &request, sizeof request, 1, &returned), QzRequestOk);
  EXPECT_EQ(returned, 1u);
  EXPECT_EQ(buffer[0], 0xAB);
  EXPECT_EQ(0, memcmp(buffer + 1, reinterpret_cast<const uint8_t*>(&request) + 1, sizeof request - 1));
}

TEST_F(DriverRequests, WritesPassTheValueAndGiveNothingBack) {
  MemAccessRequest request = Mem(0, 0xE4005555, 0x123456AA, 1);
  uint32_t returned = 0;
  ASSERT_EQ(Send(IOCTL_MEM_WRITE, &request, sizeof request, 1, &returned), QzRequestOk);
  EXPECT_EQ(LastCall.kind, 3);
  EXPECT_EQ(LastCall.slotOrAddress, 0xE4005555u);
  EXPECT_EQ(LastCall.value, 0xAAu) << "a byte write carries one byte";
  EXPECT_EQ(returned, 1u);
  EXPECT_EQ(buffer[0], 0);

  request = Mem(0, 0xE460081C, 0x0000F200, 4);
  ASSERT_EQ(Send(IOCTL_MEM_WRITE, &request, sizeof request, 4, &returned), QzRequestOk);
  EXPECT_EQ(LastCall.value, 0x0000F200u);
  EXPECT_EQ(LastCall.size, 4u);
}

TEST_F(DriverRequests, MemoryRequestsOutOfShapeNeverReachTheBackend) {
  uint32_t returned = 0;
  MemAccessRequest request = Mem(1, 0xE3000000, 0, 2);
  EXPECT_EQ(Send(IOCTL_MEM_READ, &request, sizeof request, 4, &returned), QzRequestBadParameter);
  request = Mem(1, 0xE3000000, 0, 4, 1);
  EXPECT_EQ(Send(IOCTL_MEM_WRITE, &request, sizeof request, 4, &returned), QzRequestBadParameter);
  request = Mem(1, 0xE3000000, 0, 4);
  EXPECT_EQ(Send(IOCTL_MEM_READ, &request, sizeof request - 1, 4, &returned), QzRequestBadParameter);
  EXPECT_EQ(Send(IOCTL_MEM_READ, &request, sizeof request, 3, &returned), QzRequestBufferTooSmall);
  EXPECT_EQ(Send(IOCTL_MEM_WRITE, &request, sizeof request, 0, &returned), QzRequestBufferTooSmall);
  EXPECT_EQ(CallCount, 0);

  BackendAnswers = false;
  EXPECT_EQ(Send(IOCTL_MEM_WRITE, &request, sizeof request, 4, &returned), QzRequestDeviceFailure);
  EXPECT_EQ(returned, 0u);
}

TEST_F(DriverRequests, OtherCodesAreUnknown) {
  MemAccessRequest request = Mem(1, 0xE3000000, 0, 4);
  uint32_t returned = 0;
  // The neighbouring function, and the read code with another access or method.
  for (uint32_t code : {0x9C406450u, 0x9C40E454u, 0x9C406457u, 0x00000003u}) {
    EXPECT_EQ(Send(code, &request, sizeof request, 4, &returned), QzRequestUnknownCode) << std::hex << code;
  }
  EXPECT_EQ(CallCount, 0);
}

class CardWindows : public DriverRequests {
 protected:
  void Scan(std::vector<FakeSlot> machine) {
    Machine = machine;
    ScanCalls = 0;
    QzFindWindows(&Scripted);
  }
  QzRequestStatus Access(uint32_t code, uint32_t bus, uint32_t address, uint32_t size) {
    MemAccessRequest request = Mem(bus, address, 0x5A, size);
    uint32_t returned = 0xFFFF;
    QzRequestStatus status = Send(code, &request, sizeof request, 4, &returned);
    if (status != QzRequestOk) {
      EXPECT_EQ(returned, 0u) << std::hex << address;
    }
    return status;
  }
};

TEST_F(CardWindows, OnlySupportedCardsWith32BitMemoryWindowsAreKept) {
  Scan({
      {0, 0, 0x8086, 0x2570, 0xF8000000},   // a host bridge
      {0, 3, 0x10DE, 0x0322, 0xE0000001},   // BAR0 in I/O space
      {0, 4, 0x10DE, 0x0322, 0x00000000},   // BAR0 not set up
      {0, 5, 0x10DE, 0x0322, 0x00F00000},   // a window at physical 0
      {0, 6, 0x10DE, 0x0322, 0xF000000C},   // a 64-bit BAR
      {0, 7, 0x1002, 0x0281, 0xD8000000},   // a supported device id of another vendor
      {0, 8, 0x10DE, 0x0120, 0xD9000000},   // an unlisted device id
      {1, 0, 0x10DE, 0x0281, 0xE3000008},
      {2, 33, 0x10DE, 0x0322, 0xD2345670},  // device 1 function 1
      {255, 63, 0x10DE, 0x032B, 0xC1000000},
  });
  EXPECT_EQ(ScanCalls, 256 * 64) << "every slot of every bus";
  ASSERT_EQ(QzWindowCount(), 3);
  const uint32_t bus[3] = {1, 2, 255}, slot[3] = {0, 33, 63}, base[3] = {0xE3000000, 0xD2000000, 0xC1000000};
  const uint16_t device[3] = {0x0281, 0x0322, 0x032B};
  for (int i = 0; i < 3; ++i) {
    const QzWindow* window = QzWindowAt(i);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->bus, bus[i]);
    EXPECT_EQ(window->slot, slot[i]);
    EXPECT_EQ(window->base, base[i]);
    EXPECT_EQ(window->deviceId, device[i]);
  }
  EXPECT_EQ(QzWindowAt(3), nullptr);
  for (uint32_t address : {0xE0000000u, 0x00000000u, 0xF0000000u, 0xD8000000u, 0xD9000000u, 0xF8000000u})
    EXPECT_EQ(Access(IOCTL_MEM_READ, 0, address, 1), QzRequestOutsideWindow) << std::hex << address;
  EXPECT_EQ(CallCount, 0);
}

TEST_F(CardWindows, EightCardsAtMostAndOneWindowPerCard) {
  std::vector<FakeSlot> machine;
  for (uint16_t i = 0; i < 10; ++i) machine.push_back({uint16_t(i / 4), uint16_t(i % 4), 0x10DE, 0x0281, 0xC0000000u + i * 0x01000000u});
  // A card that answers on both of its slot indices has one window.
  machine.push_back({0, 32, 0x10DE, 0x0281, 0xC0000000u});
  Scan(machine);
  ASSERT_EQ(QzWindowCount(), 8);
  EXPECT_EQ(QzWindowAt(7)->base, 0xC7000000u);
  EXPECT_EQ(Access(IOCTL_MEM_READ, 1, 0xC7000000, 4), QzRequestOk);
  EXPECT_EQ(Access(IOCTL_MEM_READ, 2, 0xC8000000, 4), QzRequestOutsideWindow) << "the ninth card";
  EXPECT_EQ(CallCount, 1);
}

TEST_F(CardWindows, EveryByteOfTheAccessLiesInsideTheWindowOnTheCardsBus) {
  Scan({{1, 0, 0x10DE, 0x0281, 0xE3000008}, {3, 2, 0x10DE, 0x0253, 0xFF000000}});
  for (uint32_t code : {IOCTL_MEM_READ, IOCTL_MEM_WRITE}) {
    SCOPED_TRACE(code);
    CallCount = 0;
    EXPECT_EQ(Access(code, 1, 0xE3000000, 4), QzRequestOk);
    EXPECT_EQ(Access(code, 1, 0xE3FFFFFF, 1), QzRequestOk) << "last byte";
    EXPECT_EQ(Access(code, 1, 0xE3FFFFFC, 4), QzRequestOk) << "last word";
    EXPECT_EQ(Access(code, 3, 0xFFFFFFFC, 4), QzRequestOk) << "last word below 4 GiB";
    EXPECT_EQ(Access(code, 3, 0xFFFFFFFF, 1), QzRequestOk) << "last byte below 4 GiB";
    EXPECT_EQ(CallCount, 5);
    EXPECT_EQ(LastCall.slotOrAddress, 0xFFFFFFFFu);

    EXPECT_EQ(Access(code, 1, 0xE4000000, 1), QzRequestOutsideWindow) << "one past the end";
    EXPECT_EQ(Access(code, 1, 0xE3FFFFFD, 4), QzRequestOutsideWindow) << "a word over the end";
    EXPECT_EQ(Access(code, 1, 0xE2FFFFFF, 1), QzRequestOutsideWindow) << "one before the start";
    EXPECT_EQ(Access(code, 1, 0xE2FFFFFE, 4), QzRequestOutsideWindow) << "a word into the start";
    EXPECT_EQ(Access(code, 0, 0xE3001850, 1), QzRequestOutsideWindow) << "another bus";
    EXPECT_EQ(Access(code, 3, 0xE3001850, 4), QzRequestOutsideWindow) << "the other card's bus";
    EXPECT_EQ(Access(code, 3, 0xFFFFFFFE, 4), QzRequestOutsideWindow) << "a word wrapping round 4 GiB";
    EXPECT_EQ(Access(code, 3, 0xFFFFFFFD, 4), QzRequestOutsideWindow);
    EXPECT_EQ(Access(code, 3, 0x00000000, 1), QzRequestOutsideWindow);
    EXPECT_EQ(CallCount, 5) << "a refused request reached the backend";
  }
}

TEST_F(CardWindows, ANewScanForgetsTheOldWindows) {
  EXPECT_EQ(QzWindowCount(), 2);
  Scan({});
  EXPECT_EQ(QzWindowCount(), 0);
  EXPECT_EQ(Access(IOCTL_MEM_READ, 1, 0xE3001850, 1), QzRequestOutsideWindow);
  EXPECT_EQ(Access(IOCTL_MEM_WRITE, 0, 0xE4300000, 1), QzRequestOutsideWindow);
  EXPECT_EQ(CallCount, 0);
  // Configuration requests do not depend on the windows.
  PciConfigRequest request = {1, 0};
  uint32_t returned = 0;
  EXPECT_EQ(Send(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize, &returned), QzRequestOk);
  EXPECT_EQ(CallCount, 1);
}

}  // namespace
