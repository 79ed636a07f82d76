// Runs the real QZSetup.exe under Wine in prepared folders and checks what
// it does from outside: window shape, buttons, installer command, copies,
// service entry and exit codes.
//
// The same executable doubles as a stand-in installer: copied under the name
// rundll.exe or qzrecord.exe it records its command line into the file named
// by QZ_STUB_LOG and ends after QZ_STUB_SLEEP_MS milliseconds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "harness_arguments.h"
#include "harness_support.h"
#include "szdd.h"

namespace {

const char TemplateKey[] = "inffile\\shell\\install\\command";
const char AppDefaultsKey[] = "Software\\Wine\\AppDefaults\\QZSetup.exe";
const char DriverPlaceholder[] = "placeholder driver image for the setup harness\r\n";
const char DataFiles[][20] = {"Install_Gn_16.bmp", "Install_Gd_16.bmp", "Install_Gn_24.bmp",
                              "Install_Gd_24.bmp", "QZFNT.inf",         "QZF9x.inf",
                              "Setupx.enu",        "ZIVodoru.dll",      "DARadid.avi"};
const int Ok[2] = {150, 167};
const int Cancel[2] = {240, 167};

// Install verb of the prefix as found at the start, put back after each test.
std::string OriginalInfClass;
std::string OriginalTemplate;
DWORD OriginalTemplateType = REG_SZ;

std::string ModuleBaseName() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string full(path, length);
  size_t slash = full.find_last_of('\\');
  std::string base = slash == std::string::npos ? full : full.substr(slash + 1);
  for (char& c : base) c = char(tolower(c));
  return base;
}

bool RunAsStub() {
  std::string base = ModuleBaseName();
  if (base != "rundll.exe" && base != "qzrecord.exe") return false;
  const char* log = getenv("QZ_STUB_LOG");
  const char* sleepMs = getenv("QZ_STUB_SLEEP_MS");
  if (log) {
    FILE* file = fopen(log, "ab");
    if (file) {
      fprintf(file, "%s\n", GetCommandLineA());
      fclose(file);
    }
  }
  if (sleepMs) Sleep(DWORD(atoi(sleepMs)));
  if (log) {
    FILE* file = fopen(log, "ab");
    if (file) {
      fprintf(file, "end %lu\n", static_cast<unsigned long>(GetTickCount()));
      fclose(file);
    }
  }
  return true;
}

DWORD WINAPI Watchdog(LPVOID seconds) {
  Sleep(DWORD(reinterpret_cast<uintptr_t>(seconds)) * 1000);
  fprintf(stderr, "setup harness: watchdog expired, giving up\n");
  fflush(stderr);
  ExitProcess(3);
}

void PrepareWine() {
  // Without a window manager every closing window would stall.
  SetRegistryText(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", "Managed", "N");
  // A crash must end the run, not wait in the debugger.
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug", 0,
                      KEY_SET_VALUE | view, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "Debugger");
      RegCloseKey(key);
    }
  }
  GetRegistryText(HKEY_CLASSES_ROOT, ".inf", nullptr, &OriginalInfClass);
  GetRegistryText(HKEY_CLASSES_ROOT, TemplateKey, nullptr, &OriginalTemplate, &OriginalTemplateType);
}

void RestoreInstallVerb() {
  SetRegistryText(HKEY_CLASSES_ROOT, ".inf", nullptr, OriginalInfClass.empty() ? nullptr : OriginalInfClass.c_str());
  SetRegistryText(HKEY_CLASSES_ROOT, TemplateKey, nullptr,
                  OriginalTemplate.empty() ? nullptr : OriginalTemplate.c_str(), OriginalTemplateType);
}

std::string WithoutTrailingBackslash(std::string folder) {
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string ProfileText(const std::string& file, const char* section, const char* key) {
  char value[256];
  GetPrivateProfileStringA(section, key, "", value, sizeof value, file.c_str());
  return value;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::vector<std::string> lines;
  if (!ReadWholeFile(path, &bytes)) return lines;
  std::string line;
  for (uint8_t byte : bytes) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (byte != '\r') {
      line += char(byte);
    }
  }
  return lines;
}

// Pixels of a skin bitmap file (8-bit palette or 24-bit), top-down 0x00RRGGBB.
bool ReadSkin(const std::string& path, std::vector<uint32_t>* pixels) {
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, &file) || file.size() < 54) return false;
  auto u32 = [&](size_t at) { return uint32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24); };
  uint32_t offset = u32(10);
  int32_t width = int32_t(u32(18));
  int32_t height = int32_t(u32(22));
  int bits = file[28] | file[29] << 8;
  if (width != 400 || height != 200 || (bits != 8 && bits != 24)) return false;
  size_t stride = (size_t(width) * bits / 8 + 3) & ~size_t(3);
  pixels->assign(size_t(width) * height, 0);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = &file[offset + size_t(height - 1 - y) * stride];
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* bgr = bits == 24 ? row + 3 * x : &file[54 + 4 * row[x]];
      (*pixels)[size_t(y) * width + x] = uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | bgr[0];
    }
  }
  return true;
}

int CountColour(const std::vector<uint32_t>& pixels, uint32_t colour) {
  int count = 0;
  for (uint32_t pixel : pixels) count += pixel == colour;
  return count;
}

// Where the captions are drawn over the skin (a long caption starts left of its button).
bool InCaptionBand(int x, int y) {
  return y >= 156 && y <= 179 && x >= 90 && x <= 279;
}

class SetupRun : public ::testing::Test {
 protected:
  std::string folder;  // setup folder, with a blank in its path
  std::string exe;
  std::string stubLog;
  ProgramRun run = {};

  void SetUp() override {
    const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA("C:\\qzsetup test", nullptr);
    folder = std::string("C:\\qzsetup test\\") + name + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const char* file : DataFiles) DeleteFileA((folder + file).c_str());
    for (const char* file : {"QZF.sys", "rundll.exe", "stub.log"}) DeleteFileA((folder + file).c_str());
    exe = folder + "QZSetup.exe";
    ASSERT_TRUE(CopyFileA(ProductExe.c_str(), exe.c_str(), FALSE)) << ProductExe;

    std::string windows = WindowsFolder();
    ShowSystemRundll();
    for (const char* file : {"nrvk2.ini", "Nrvk3.ini", "DARadid.avi", "qzrecord.exe"})
      DeleteFileA((windows + file).c_str());
    DeleteFileA((DriversFolder() + "QZF.sys").c_str());
    DeleteServiceEntry("Norvik");
    RestoreInstallVerb();
    SetRegistryText(HKEY_CURRENT_USER, AppDefaultsKey, "Version", nullptr);

    stubLog = folder + "stub.log";
    SetEnvironmentVariableA("QZ_STUB_LOG", stubLog.c_str());
    SetEnvironmentVariableA("QZ_STUB_SLEEP_MS", nullptr);
  }

  void TearDown() override {
    KillRun(&run);
    ShowSystemRundll();
    RemoveToolWindow();
    RestoreInstallVerb();
    SetRegistryText(HKEY_CURRENT_USER, AppDefaultsKey, "Version", nullptr);
  }

  void CopyData() {
    for (const char* file : DataFiles) {
      ASSERT_TRUE(CopyFileA((DataFolder + file).c_str(), (folder + file).c_str(), FALSE)) << file;
    }
    ASSERT_TRUE(WriteText(folder + "QZF.sys", DriverPlaceholder));
  }

  // The Install verb replaced by the stand-in installer in the Windows folder.
  void UseRecordingTemplate(const char* sleepMs) {
    ASSERT_TRUE(CopyFileA(HarnessExe.c_str(), (WindowsFolder() + "qzrecord.exe").c_str(), FALSE));
    ASSERT_TRUE(SetRegistryText(HKEY_CLASSES_ROOT, TemplateKey, nullptr, "%QzAnyName%\\qzrecord.exe install %1 end",
                                REG_EXPAND_SZ));
    if (sleepMs) SetEnvironmentVariableA("QZ_STUB_SLEEP_MS", sleepMs);
  }

  HWND Start() {
    EXPECT_TRUE(StartProgram(exe, "", &run));
    return WaitSetupWindow(run, 20000);
  }

  // The screen as it settles: drawing reaches the X server a little later.
  std::vector<uint32_t> CaptureWindow(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    std::vector<uint32_t> last = CaptureScreen(rect.left, rect.top, 400, 200);
    for (int attempt = 0; attempt < 20; ++attempt) {
      Sleep(100);
      std::vector<uint32_t> next = CaptureScreen(rect.left, rect.top, 400, 200);
      if (next == last) break;
      last = next;
    }
    return last;
  }

  // Both caption areas, OK first, each the button's own columns.
  struct Captions {
    std::vector<uint32_t> ok;
    std::vector<uint32_t> cancel;
  };
  Captions CaptionPixels(HWND window) {
    std::vector<uint32_t> all = CaptureWindow(window);
    Captions captions;
    if (all.empty()) return captions;
    for (int y = 156; y < 179; ++y) {
      for (int x = 113; x < 190; ++x) captions.ok.push_back(all[size_t(y) * 400 + x]);
      for (int x = 202; x < 279; ++x) captions.cancel.push_back(all[size_t(y) * 400 + x]);
    }
    return captions;
  }

  std::string Windows(const char* file) { return WindowsFolder() + file; }

  // The system's own rundll.exe, which a Wine that runs 32-bit programs
  // starts: moved aside while a test needs the installer not to start.
  static bool HideSystemRundll() {
    std::string system = WindowsFolder() + "rundll.exe";
    return !FileExists(system) || MoveFileA(system.c_str(), (system + ".hidden").c_str());
  }
  static void ShowSystemRundll() {
    std::string system = WindowsFolder() + "rundll.exe";
    if (FileExists(system + ".hidden")) MoveFileExA((system + ".hidden").c_str(), system.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
};

TEST_F(SetupRun, SkinShapesTheWindowAndOkInstallsTheDriver) {
  CopyData();
  HWND window = Start();
  ASSERT_TRUE(window);

  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 400);
  EXPECT_EQ(rect.bottom - rect.top, 200);
  EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - 400) / 2);
  EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - 200) / 2);

  HDC screen = GetDC(nullptr);
  int depth = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  std::vector<uint32_t> skin;
  ASSERT_TRUE(ReadSkin(DataFolder + (depth <= 8 ? "Install_Gn_16.bmp" : "Install_Gn_24.bmp"), &skin));

  // The region is the skin less its key-green pixels, pixel for pixel.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(window, region), COMPLEXREGION);
  int regionMismatches = 0;
  int holes = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x) {
      bool hole = skin[size_t(y) * 400 + x] == 0x00FF00;
      holes += hole;
      regionMismatches += (PtInRegion(region, x, y) != 0) == hole;
    }
  DeleteObject(region);
  EXPECT_GT(holes, 1000);
  EXPECT_EQ(regionMismatches, 0);

  // What lies beneath shows through the holes and takes the clicks there.
  EXPECT_NE(WindowFromPoint(POINT{rect.left + 1, rect.top + 1}), window);
  EXPECT_EQ(WindowFromPoint(POINT{rect.left + 200, rect.top + 100}), window);
  if (depth >= 24) {
    std::vector<uint32_t> shown = CaptureWindow(window);
    ASSERT_EQ(shown.size(), skin.size());
    // The skinned window as shown, for the README.
    if (!ShotFolder.empty()) WritePng(ShotFolder + "setup.png", 400, 200, shown);
    int wrong = 0;
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 400; ++x) {
        uint32_t want = skin[size_t(y) * 400 + x];
        if (want == 0x00FF00) want = 0xFF0000;  // the harness's red backdrop
        else if (InCaptionBand(x, y)) continue;
        wrong += shown[size_t(y) * 400 + x] != want;
      }
    EXPECT_EQ(wrong, 0);
  }

  // Language file seeded from the setup folder.
  std::vector<uint8_t> seeded, source;
  ASSERT_TRUE(ReadWholeFile(Windows("nrvk2.ini"), &seeded));
  ASSERT_TRUE(ReadWholeFile(folder + "Setupx.enu", &source));
  EXPECT_EQ(seeded, source);

  DWORD clickTick = GetTickCount();
  ClickAt(window, Ok[0], Ok[1]);
  DWORD endTick = 0;
  EXPECT_EQ(WaitExit(&run, 90000, &endTick), 18);
  // First poll one second after the start, then the two-second pause.
  EXPECT_GE(endTick - clickTick, 3000u);
  printf("  OK to program end: %lu ms\n", static_cast<unsigned long>(endTick - clickTick));

  std::vector<uint8_t> driver;
  ASSERT_TRUE(ReadWholeFile(DriversFolder() + "QZF.sys", &driver));
  EXPECT_EQ(std::string(driver.begin(), driver.end()), DriverPlaceholder);
  ServiceEntry service = QueryService("Norvik");
  EXPECT_TRUE(service.exists);
  EXPECT_EQ(service.type, DWORD(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(service.start, DWORD(SERVICE_DEMAND_START));
  EXPECT_NE(service.binary.find("QZF.sys"), std::string::npos) << service.binary;

  EXPECT_EQ(ProfileText(Windows("Nrvk3.ini"), "AVIFile", "AVIFile"), "DARadid.avi");
  EXPECT_EQ(ProfileText(Windows("Nrvk3.ini"), "Panel", "Version"), "1");
  std::vector<uint8_t> animation, shipped;
  ASSERT_TRUE(ReadWholeFile(Windows("DARadid.avi"), &animation));
  ASSERT_TRUE(ReadWholeFile(DataFolder + "DARadid.avi", &shipped));
  EXPECT_EQ(animation, shipped);
}

TEST_F(SetupRun, CancelAndEscapeEndWithoutInstalling) {
  CopyData();
  HWND window = Start();
  ASSERT_TRUE(window);
  ClickAt(window, Cancel[0], Cancel[1]);
  EXPECT_EQ(WaitExit(&run, 15000), 18);

  window = Start();
  ASSERT_TRUE(window);
  PressEscape(window);
  EXPECT_EQ(WaitExit(&run, 15000), 18);

  EXPECT_FALSE(FileExists(Windows("Nrvk3.ini")));
  EXPECT_FALSE(FileExists(Windows("DARadid.avi")));
  EXPECT_FALSE(FileExists(DriversFolder() + "QZF.sys"));
  EXPECT_FALSE(QueryService("Norvik").exists);
}

TEST_F(SetupRun, WhileInstallingCancelIsIgnoredAndEscapeCloses) {
  CopyData();
  UseRecordingTemplate("6000");
  HWND window = Start();
  ASSERT_TRUE(window);
  Captions idle = CaptionPixels(window);
  ClickAt(window, Ok[0], Ok[1]);
  Sleep(500);
  // The OK caption turns from blue to grey; Cancel stays blue.
  Captions busy = CaptionPixels(window);
  EXPECT_GT(CountColour(idle.ok, 0x0000FF), 0);
  EXPECT_EQ(CountColour(idle.ok, 0x646464), 0);
  EXPECT_EQ(CountColour(busy.ok, 0x0000FF), 0);
  EXPECT_GT(CountColour(busy.ok, 0x646464), 0);
  EXPECT_GT(CountColour(busy.cancel, 0x0000FF), 0);
  ClickAt(window, Cancel[0], Cancel[1]);
  EXPECT_EQ(WaitForSingleObject(run.process.hProcess, 1500), DWORD(WAIT_TIMEOUT));
  PressEscape(window);
  EXPECT_EQ(WaitExit(&run, 10000), 18);
  // The installer was started and is left running.
  std::vector<std::string> log = ReadLines(stubLog);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("qzrecord.exe install"), std::string::npos);
}

TEST_F(SetupRun, SecondInstanceRestoresTheFirstAndEndsWithZero) {
  CopyData();
  HWND first = Start();
  ASSERT_TRUE(first);
  ShowWindow(first, SW_MINIMIZE);
  Sleep(300);
  ASSERT_TRUE(IsIconic(first));

  ProgramRun second = {};
  ASSERT_TRUE(StartProgram(exe, "", &second));
  EXPECT_EQ(WaitExit(&second, 15000), 0);
  Sleep(300);
  EXPECT_FALSE(IsIconic(first));
  EXPECT_EQ(GetForegroundWindow(), first);

  PressEscape(first);
  EXPECT_EQ(WaitExit(&run, 15000), 18);
}

TEST_F(SetupRun, LanguageFileIsNeverReplacedAndItsCaptionsAreShown) {
  CopyData();
  HWND window = Start();
  ASSERT_TRUE(window);
  Captions defaults = CaptionPixels(window);
  ASSERT_FALSE(defaults.ok.empty());
  PressEscape(window);
  ASSERT_EQ(WaitExit(&run, 15000), 18);

  const std::string other = "[setup]\r\nOk=Weiter\r\nCancel=Abbruch\r\n";
  ASSERT_TRUE(WriteText(Windows("nrvk2.ini"), other));
  Captions shown[2];
  for (Captions& capture : shown) {
    window = Start();
    ASSERT_TRUE(window);
    capture = CaptionPixels(window);
    PressEscape(window);
    ASSERT_EQ(WaitExit(&run, 15000), 18);
  }
  // Same file, same picture; other captions, another picture on each button.
  EXPECT_EQ(shown[0].ok, shown[1].ok);
  EXPECT_EQ(shown[0].cancel, shown[1].cancel);
  EXPECT_NE(shown[0].ok, defaults.ok);
  EXPECT_NE(shown[0].cancel, defaults.cancel);
  std::vector<uint8_t> kept;
  ASSERT_TRUE(ReadWholeFile(Windows("nrvk2.ini"), &kept));
  EXPECT_EQ(std::string(kept.begin(), kept.end()), other);

  // An empty language file gives the default captions.
  ASSERT_TRUE(WriteText(Windows("nrvk2.ini"), ""));
  window = Start();
  ASSERT_TRUE(window);
  Captions empty = CaptionPixels(window);
  EXPECT_EQ(empty.ok, defaults.ok);
  EXPECT_EQ(empty.cancel, defaults.cancel);
  PressEscape(window);
  EXPECT_EQ(WaitExit(&run, 15000), 18);
}

TEST_F(SetupRun, MissingSkinsAndLanguageSourceGiveAPlainWindow) {
  for (const char* file : {"QZFNT.inf", "QZF9x.inf", "ZIVodoru.dll", "DARadid.avi"}) {
    ASSERT_TRUE(CopyFileA((DataFolder + file).c_str(), (folder + file).c_str(), FALSE));
  }
  HWND window = Start();
  ASSERT_TRUE(window);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(window, region), ERROR);
  DeleteObject(region);
  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 400);
  EXPECT_EQ(rect.bottom - rect.top, 200);
  EXPECT_EQ(WindowFromPoint(POINT{rect.left + 1, rect.top + 1}), window);
  EXPECT_FALSE(FileExists(Windows("nrvk2.ini")));
  PressEscape(window);
  EXPECT_EQ(WaitExit(&run, 15000), 18);
}

TEST_F(SetupRun, Windows98UsesTheFixedSetupxCommand) {
  CopyData();
  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, AppDefaultsKey, "Version", "win98"));
  // No Install verb: the fixed form, found as rundll.exe beside the program.
  ASSERT_TRUE(SetRegistryText(HKEY_CLASSES_ROOT, TemplateKey, nullptr, nullptr));
  ASSERT_TRUE(CopyFileA(HarnessExe.c_str(), (folder + "rundll.exe").c_str(), FALSE));
  HWND window = Start();
  ASSERT_TRUE(window);
  ClickAt(window, Ok[0], Ok[1]);
  EXPECT_EQ(WaitExit(&run, 30000), 18);
  std::vector<std::string> log = ReadLines(stubLog);
  ASSERT_GE(log.size(), 1u);
  EXPECT_EQ(log[0], "rundll.exe setupx.dll,InstallHinfSection DefaultInstall 132 " + folder + "QZF9x.inf");
  EXPECT_EQ(ProfileText(Windows("Nrvk3.ini"), "AVIFile", "AVIFile"), "DARadid.avi");
}

TEST_F(SetupRun, InstallerThatCannotStartEndsTheRunAndCopiesNothing) {
  CopyData();
  ASSERT_TRUE(SetRegistryText(HKEY_CURRENT_USER, AppDefaultsKey, "Version", "win98"));
  ASSERT_TRUE(SetRegistryText(HKEY_CLASSES_ROOT, TemplateKey, nullptr, nullptr));
  ASSERT_TRUE(HideSystemRundll());
  HWND window = Start();
  ASSERT_TRUE(window);
  ClickAt(window, Ok[0], Ok[1]);
  EXPECT_EQ(WaitExit(&run, 15000), 18);
  EXPECT_FALSE(FileExists(Windows("Nrvk3.ini")));
  EXPECT_FALSE(FileExists(Windows("DARadid.avi")));
}

TEST_F(SetupRun, LeadingVariableTemplateAndThePauseAfterTheInstaller) {
  CopyData();
  UseRecordingTemplate("2500");
  HWND window = Start();
  ASSERT_TRUE(window);
  ClickAt(window, Ok[0], Ok[1]);
  DWORD endTick = 0;
  EXPECT_EQ(WaitExit(&run, 30000, &endTick), 18);
  std::vector<std::string> log = ReadLines(stubLog);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], WithoutTrailingBackslash(WindowsFolder()) + "\\qzrecord.exe install " + folder + "QZFNT.inf end");
  unsigned long installerEnd = 0;
  ASSERT_EQ(sscanf(log[1].c_str(), "end %lu", &installerEnd), 1);
  EXPECT_GE(endTick - DWORD(installerEnd), 2000u);
  printf("  installer end to program end: %lu ms\n", static_cast<unsigned long>(endTick - installerEnd));
}

TEST_F(SetupRun, CompressedSourcesArriveExpanded) {
  CopyData();
  UseRecordingTemplate(nullptr);
  for (const char* file : {"Setupx.enu", "ZIVodoru.dll", "DARadid.avi"}) {
    std::vector<uint8_t> plain;
    ASSERT_TRUE(ReadWholeFile(DataFolder + file, &plain));
    std::vector<uint8_t> packed = CompressSzdd(plain);
    ASSERT_NE(packed, plain);
    ASSERT_TRUE(WriteWholeFile(folder + file, packed));
  }
  HWND window = Start();
  ASSERT_TRUE(window);
  ClickAt(window, Ok[0], Ok[1]);
  EXPECT_EQ(WaitExit(&run, 30000), 18);

  struct Pair {
    const char* source;
    const char* copy;
  } pairs[] = {{"Setupx.enu", "nrvk2.ini"}, {"DARadid.avi", "DARadid.avi"}};
  for (const Pair& pair : pairs) {
    std::vector<uint8_t> plain, copied;
    ASSERT_TRUE(ReadWholeFile(DataFolder + pair.source, &plain));
    ASSERT_TRUE(ReadWholeFile(Windows(pair.copy), &copied)) << pair.copy;
    EXPECT_EQ(copied, plain) << pair.copy;
  }
  EXPECT_EQ(ProfileText(Windows("Nrvk3.ini"), "Panel", "Version"), "1");
  EXPECT_EQ(ProfileText(Windows("Nrvk3.ini"), "AVIFile", "AVIFile"), "DARadid.avi");
}

TEST_F(SetupRun, RunningToolIsClosedBeforeTheWindowOpens) {
  CopyData();
  struct Tool {
    const char* className;
    const char* title;
  } tools[] = {{"norvik", "panel tool"}, {"QzHarnessTool", "STRATATool"}};
  for (const Tool& tool : tools) {
    ShowToolWindow(tool.className, tool.title);
    ASSERT_TRUE(Helpers.tool);
    HWND window = Start();
    ASSERT_TRUE(window);
    EXPECT_EQ(Helpers.closed, 1) << tool.className;
    PressEscape(window);
    EXPECT_EQ(WaitExit(&run, 15000), 18);
    RemoveToolWindow();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (RunAsStub()) return 0;
  ::testing::InitGoogleTest(&argc, argv);
  std::string product, data, shots;
  const HarnessOption options[] = {{"--product=", &product}, {"--data=", &data}, {"--shots=", &shots}};
  if (!ReadHarnessOptions(argc, argv, options, 3) || product.empty() || data.empty()) {
    fprintf(stderr, "usage: setup_harness --product=<QZSetup.exe> --data=<folder of its data files> [--shots=<folder>]\n");
    return 2;
  }
  ProductExe = ToWindowsPath(product);
  DataFolder = ToWindowsPath(data);
  if (!shots.empty()) ShotFolder = ToWindowsPath(shots);
  if (DataFolder.back() != '\\') DataFolder += '\\';
  if (!ShotFolder.empty()) {
    if (ShotFolder.back() != '\\') ShotFolder += '\\';
    CreateDirectoryA(ShotFolder.c_str(), nullptr);
  }
  char self[MAX_PATH];
  HarnessExe.assign(self, GetModuleFileNameA(nullptr, self, sizeof self));

  PrepareWine();
  StartHelperThread();
  CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(uintptr_t(540)), 0, nullptr);
  int result = HarnessResult(RUN_ALL_TESTS());
  RestoreInstallVerb();
  fflush(stdout);
  ExitProcess(UINT(result));
}
