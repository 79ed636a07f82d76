// The platform Wine reports to the program: the Windows 9x path, and the
// serial programming that differs between Windows 2000 and later NT.
#include <cstring>

#include "harness_fixture.h"

namespace {

class Platform : public QzFlashRun {};

// A card strapped for SPI with a serial part holding a 1 KiB image.
const char SpiCardProfile[] =
    "card 1:0 0x10DE:0x0322 subsystem=0x10DE:0x0000 bar0=0xE0000000 interface=spi\n"
    "part 25LV512 image=04.34.20.19.00 image-size=1024\n";

TEST_F(Platform, Windows9xPathEndsWithItsMessagesWithOrWithoutTheVxd) {
  UseMachine(OneCardProfile);
  ASSERT_TRUE(SetProgramVersion("win98"));
  Start();
  ExpectBox("Error", "QZF.vxd not exist!");
  EXPECT_EQ(End(), 0);

  // With a virtual device driver file there is still no PCI BIOS to reach
  // from here, nor the VxD itself: no card, and no crash.
  ASSERT_TRUE(WriteWholeFile(folder + "QZF.vxd", std::vector<uint8_t>(64, 0)));
  Start();
  ExpectBox("Error", "Device not open ");
  EXPECT_EQ(End(), 0);
  EXPECT_FALSE(QueryNorvik().exists);
}

// The data bytes of a serial program go out with the quick clock pulse on
// NT versions other than 5.0: the same image takes fewer requests there.
TEST_F(Platform, SerialUpdateOnWindows2000AndXp) {
  std::vector<uint8_t> image = MakeImage(0x10DE, 0x0322, 1024, "04.34.20.21.00");
  ASSERT_TRUE(WriteWholeFile(folder + "new.rom", image));
  uint64_t requests[2] = {0, 0};
  const char* versions[2] = {"win2k", "winxp"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(versions[i]);
    UseMachine(SpiCardProfile);
    ASSERT_TRUE(SetProgramVersion(versions[i]));
    Start();
    HWND window = MainWindow();
    ASSERT_TRUE(window);
    Command(window, CmdUpdate);
    ChooseFile(folder + "new.rom");
    ExpectBox("Confirm", "ROM BIOS version is :04.34.20.21.00\nDuring BIOS flashed,please wait until the progress complete.");
    ExpectBox("Message", "Flash completely");
    ExpectBox("Message", "Please reboot the system to make the changes you make effective!");
    Command(window, CmdExit);
    EXPECT_EQ(End(), 0);
    ExpectDriverSaved();
    EXPECT_EQ(0, memcmp(after.m->cards[0].parts[0].data, image.data(), image.size()));
    requests[i] = after.m->requestCount;
    printf("%s: %llu requests\n", versions[i], static_cast<unsigned long long>(requests[i]));
    ASSERT_TRUE(WaitNorvikGone(20000));
  }
  // Ten requests a bit the slow way, three the quick way, over 8192 bits.
  EXPECT_GT(requests[0], requests[1] + 40000) << requests[0] << " on 5.0, " << requests[1] << " on 5.1";
}

}  // namespace
