#include "harness_fixture.h"

#include <cstring>

const char OneCardProfile[] =
    "card 1:0 0x10DE:0x0281 subsystem=0x1043:0x80A1 bar0=0xE3000008 interface=parallel\n"
    "part 29EE512 image=04.28.20.05.01 image-size=4096\n";

std::vector<uint8_t> MakeImage(uint16_t vendorId, uint16_t deviceId, uint32_t length, const char* version) {
  VcBiosImageSpec spec = {};
  VcParseBiosVersion(version, &spec);
  spec.vendorId = vendorId;
  spec.deviceId = deviceId;
  spec.length = length;
  std::vector<uint8_t> image(length);
  if (!VcMakeBiosImage(spec, image.data(), length)) image.clear();
  return image;
}

bool IsInk(uint32_t pixel) {
  return (pixel >> 16 & 0xFF) < 160 && (pixel >> 8 & 0xFF) < 160 && (pixel & 0xFF) < 160;
}

bool IsYellow(uint32_t pixel) {
  return (pixel >> 16 & 0xFF) > 200 && (pixel >> 8 & 0xFF) > 200 && (pixel & 0xFF) < 80;
}

int InkInRow(const Picture& picture, int row) {
  int count = 0;
  for (int y = 15 * row + 6; y <= 15 * row + 14 && y < picture.height; ++y)
    for (int x = 10; x < 470 && x < picture.width; ++x) count += IsInk(picture.At(x, y));
  return count;
}

int YellowCells(const Picture& picture) {
  int count = 0;
  for (int k = 0; k < 32; ++k) count += IsYellow(picture.At(100 + 10 * k + 5, 222));
  return count;
}

bool GridDrawn(const Picture& picture, int total) {
  return IsInk(picture.At(100, 222)) && IsInk(picture.At(100 + 10 * total, 222)) && IsInk(picture.At(105, 210)) &&
         IsInk(picture.At(105, 235));
}

bool BarAreaBlank(const Picture& picture) {
  for (int y = 208; y <= 238; ++y)
    for (int x = 98; x <= 425; ++x)
      if (picture.At(x, y) != 0xFFFFFF) return false;
  return true;
}

void QzFlashRun::SetUp() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  CreateDirectoryA("C:\\qzflash test", nullptr);
  folder = "C:\\qzflash test\\" + name + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  exe = folder + "QZFlash.exe";
  machineFile = folder + "QZF.vcm";
  for (const char* file : {"QZFlash.exe", "QZF.SYS", "QZF.vcm", "QZF.vxd"}) DeleteFileA((folder + file).c_str());
  ASSERT_TRUE(CopyFileA(ProgramExe.c_str(), exe.c_str(), FALSE)) << ProgramExe;
  ASSERT_TRUE(CopyFileA(DriverSys.c_str(), (folder + "QZF.SYS").c_str(), FALSE)) << DriverSys;
  ASSERT_TRUE(RemoveNorvik(20000)) << "a driver service is left from before";
  ASSERT_TRUE(SetProgramVersion(nullptr));
}

void QzFlashRun::TearDown() {
  KillRun(&run);
  RemoveNorvik(20000);
  SetProgramVersion(nullptr);
}

void QzFlashRun::UseMachine(const std::string& profile) {
  std::string error;
  ASSERT_TRUE(LoadProfile(profile, &machine, &error)) << error;
  machine.m->logEnabled = true;
  ASSERT_TRUE(WriteMachineFile(machineFile, machine.m));
}

void QzFlashRun::Start(const std::string& arguments) {
  ASSERT_TRUE(StartProgram(exe, arguments, &run));
}

HWND QzFlashRun::MainWindow(DWORD timeoutMs) {
  return WaitMainWindow(Process(), Pid(), timeoutMs);
}

HWND QzFlashRun::NextDialog(HWND besides, DWORD timeoutMs) {
  return WaitDialog(Process(), Pid(), timeoutMs, besides);
}

MessageBoxView QzFlashRun::NextBox(HWND besides, DWORD timeoutMs) {
  HWND box = NextDialog(besides, timeoutMs);
  return box ? ReadMessageBox(box) : MessageBoxView();
}

void QzFlashRun::Answer(HWND dialog, int button) {
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(PressButton(dialog, button)) << Caption(dialog);
  ASSERT_TRUE(WaitGone(dialog, 20000)) << Caption(dialog);
}

void QzFlashRun::ExpectBox(const char* caption, const char* text, int button) {
  MessageBoxView box = NextBox();
  ASSERT_TRUE(box.window) << "no message box \"" << text << "\"";
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  Answer(box.window, button);
}

void QzFlashRun::ExpectDeviceNotOpenWithServiceGone() {
  MessageBoxView box = NextBox();
  ASSERT_TRUE(box.window) << "no message box \"Device not open \"";
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.text, "Device not open ");
  EXPECT_FALSE(QueryNorvik().exists);
  Answer(box.window, IDOK);
  EXPECT_EQ(End(), 0);
}

void QzFlashRun::Command(HWND window, UINT id) {
  ASSERT_TRUE(PostMessageA(window, WM_COMMAND, id, 0));
}

void QzFlashRun::ChooseFile(const std::string& path, const char* shot) {
  HWND dialog = NextDialog();
  ASSERT_TRUE(dialog && IsFileDialog(dialog)) << "no file dialog";
  if (shot) Shot(shot, CaptureWindow(dialog));
  ASSERT_TRUE(AnswerFileDialog(dialog, path));
  ASSERT_TRUE(WaitGone(dialog, 20000)) << "the file dialog stays";
}

int QzFlashRun::End(DWORD timeoutMs) {
  return WaitExit(&run, timeoutMs);
}

void QzFlashRun::ExpectDriverSaved() {
  ASSERT_TRUE(WaitSavedMachine(machineFile, SaveTimeout, after.m)) << "the driver did not write back " << machineFile;
  // The file it wrote first and renamed over the machine file is gone.
  EXPECT_FALSE(FileExists(machineFile + ".new"));
}

void QzFlashRun::Shot(const char* file, const Picture& picture) {
  if (!ShotFolder.empty()) SavePng(ShotFolder + file, picture);
}
