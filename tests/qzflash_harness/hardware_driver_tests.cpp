// The hardware QZF.SYS under Wine. Wine's HAL has no PCI devices, so the
// driver finds no card window: it must load and lock its device all the
// same, answer no configuration request, refuse every memory request before
// it could reach hardware, and leave QZFlash.exe to say so and clean up.
#include <cstring>

#include "harness_fixture.h"
#include "hw/driver_requests.h"

namespace {

class HardwareDriver : public QzFlashRun {
 protected:
  void SetUp() override {
    QzFlashRun::SetUp();
    ASSERT_FALSE(HardwareSys.empty()) << "no --hardware-driver given";
    ASSERT_TRUE(CopyFileA(HardwareSys.c_str(), (folder + "QZF.SYS").c_str(), FALSE)) << HardwareSys;
  }
  void TearDown() override {
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    QzFlashRun::TearDown();
  }

  // Registers and starts the driver as QZFlash.exe does.
  bool StartNorvik() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    SC_HANDLE service = CreateServiceA(manager, "Norvik", "Norvik", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, (folder + "QZF.SYS").c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    bool started = service && StartServiceA(service, 0, nullptr);
    if (!started) printf("driver start: error %lu\n", GetLastError());
    if (service) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return started;
  }

  // The request's Win32 error; 0 when it succeeded.
  DWORD Request(uint32_t code, const void* input, DWORD inputLength, DWORD outputLength) {
    uint8_t output[PciConfigOutputSize];
    memset(output, 0xA5, sizeof output);
    DWORD returned = 0;
    SetLastError(0);
    if (DeviceIoControl(device, code, const_cast<void*>(input), inputLength, output, outputLength, &returned,
                        nullptr))
      return 0;
    return GetLastError();
  }
  DWORD Memory(uint32_t code, uint32_t bus, uint32_t address, uint32_t size, uint32_t high = 0,
               DWORD inputLength = sizeof(MemAccessRequest), DWORD outputLength = 4) {
    MemAccessRequest request = {bus, address, high, 0xFF, size};
    return Request(code, &request, inputLength, outputLength);
  }

  HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(HardwareDriver, LoadsAndRefusesEveryRequestThatWouldReachHardware) {
  ASSERT_TRUE(StartNorvik());
  EXPECT_EQ(QueryNorvik().state, DWORD(SERVICE_RUNNING));
  device = CreateFileA("\\\\.\\Norvik", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();

  // No slot of the buses QZFlash scans has a device here.
  DWORD noDevice = 0;
  for (uint16_t bus = 0; bus <= 3; ++bus) {
    for (uint16_t slot = 0; slot <= 63; ++slot) {
      PciConfigRequest request = {bus, slot};
      DWORD error = Request(IOCTL_PCI_CONFIG, &request, sizeof request, PciConfigOutputSize);
      ASSERT_NE(error, 0u) << "bus " << bus << " slot " << slot;
      if (noDevice == 0) noDevice = error;
      EXPECT_EQ(error, noDevice) << "bus " << bus << " slot " << slot;
    }
  }
  // The driver itself tells a missing device from a request out of shape.
  EXPECT_NE(noDevice, DWORD(ERROR_INVALID_PARAMETER));
  PciConfigRequest slot64 = {0, 64}, bus256 = {256, 0}, fine = {0, 0};
  EXPECT_EQ(Request(IOCTL_PCI_CONFIG, &slot64, sizeof slot64, PciConfigOutputSize), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Request(IOCTL_PCI_CONFIG, &bus256, sizeof bus256, PciConfigOutputSize), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Request(IOCTL_PCI_CONFIG, &fine, 3, PciConfigOutputSize), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Request(IOCTL_PCI_CONFIG, &fine, sizeof fine, PciConfigOutputSize - 1), DWORD(ERROR_INSUFFICIENT_BUFFER));

  // With no card window every memory access is refused: a card's usual
  // place, physical 0, and the window the virtual card's demo machine uses.
  for (uint32_t address : {0xE0000000u, 0x00000000u, 0xE3000000u, 0xE3001850u, 0xE3300000u}) {
    for (uint32_t bus : {0u, 1u}) {
      for (uint32_t size : {1u, 4u}) {
        EXPECT_EQ(Memory(IOCTL_MEM_READ, bus, address, size), DWORD(ERROR_ACCESS_DENIED)) << std::hex << address;
        EXPECT_EQ(Memory(IOCTL_MEM_WRITE, bus, address, size), DWORD(ERROR_ACCESS_DENIED)) << std::hex << address;
      }
    }
  }
  // Requests out of shape are refused as such, before any window is looked at.
  for (uint32_t code : {IOCTL_MEM_READ, IOCTL_MEM_WRITE}) {
    EXPECT_EQ(Memory(code, 1, 0xE3000000, 2), DWORD(ERROR_INVALID_PARAMETER)) << "size 2";
    EXPECT_EQ(Memory(code, 1, 0xE3000000, 8), DWORD(ERROR_INVALID_PARAMETER)) << "size 8";
    EXPECT_EQ(Memory(code, 1, 0xE3000000, 4, 1), DWORD(ERROR_INVALID_PARAMETER)) << "high half";
    EXPECT_EQ(Memory(code, 256, 0xE3000000, 4), DWORD(ERROR_INVALID_PARAMETER)) << "bus 256";
    EXPECT_EQ(Memory(code, 1, 0xE3000000, 4, 0, sizeof(MemAccessRequest) - 1), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Memory(code, 1, 0xE3000000, 4, 0, sizeof(MemAccessRequest), 3), DWORD(ERROR_INSUFFICIENT_BUFFER));
  }
  EXPECT_EQ(Memory(0x9C406450, 1, 0xE3000000, 4), DWORD(ERROR_INVALID_FUNCTION)) << "another code";

  CloseHandle(device);
  device = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(RemoveNorvik(20000));
  EXPECT_FALSE(QueryNorvik().exists);
}

TEST_F(HardwareDriver, QzFlashFindsNoCardAndRemovesTheServiceItInstalled) {
  Start();
  ExpectDeviceNotOpenWithServiceGone();
  EXPECT_FALSE(QueryNorvik().exists);
}

}  // namespace
