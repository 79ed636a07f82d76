// The request handling of QZF.SYS over a scripted backend: what reaches the
// backend, what goes back to the program, and what is refused.
#include <gtest/gtest.h>

#include <string.h>

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

const QzBackend Scripted = {ScriptedConfig, ScriptedRead, ScriptedWrite};

class DriverRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    LastCall = BackendCall();
    CallCount = 0;
    BackendAnswers = true;
    ReadValue = 0;
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

}  // namespace
