// Start-up of the real program: the main window and its drawing, the card
// choice, unattended runs, a second copy, closing, and every refusal that
// ends a start-up.
#include <cstring>

#include "harness_fixture.h"
#include "hw/driver_requests.h"

namespace {

class StartUp : public QzFlashRun {};
class Refusals : public QzFlashRun {};

// Three supported cards behind bridges, in no bus order.
const char ThreeCardsProfile[] =
    "device 0:0 0x8086:0x2570 class=0x060000\n"
    "device 0:1 0x8086:0x2571 class=0x060400\n"
    "card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=spi\n"
    "part 25LV512 image=04.34.20.19.00 image-size=2048\n"
    "card 0:9 0x10DE:0x0253 bar0=0xE4000000\n"
    "part 29EE512 image=04.25.00.28 image-size=2048\n"
    "card 0:10 0x10DE:0x0281 bar0=0xE6000000\n"
    "part 39VF512 image=04.28.20.05 image-size=2048\n";

const char DualBiosProfile[] =
    "card 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000000 dual=rom2\n"
    "part 29EE512 image=04.28.20.01 image-size=2048\n"
    "part 29EE512 image=04.28.20.05.01 image-size=2048\n";

// Memory requests in the driver's log (the last VcLogCapacity requests).
std::vector<VcLogEntry> MemoryRequests(const VcMachine* machine) {
  std::vector<VcLogEntry> found;
  uint32_t count = machine->logCount < VcLogCapacity ? machine->logCount : uint32_t(VcLogCapacity);
  for (uint32_t i = 0; i < count; ++i) {
    const VcLogEntry& entry = machine->log[(machine->logCount - count + i) % VcLogCapacity];
    if (entry.code == IOCTL_MEM_READ || entry.code == IOCTL_MEM_WRITE) found.push_back(entry);
  }
  return found;
}

TEST_F(StartUp, OneCardShowsTheHeaderInAFixedWindow) {
  UseMachine(OneCardProfile);
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);

  EXPECT_EQ(Caption(window), "DOVIZOZIDA Flash Program");
  EXPECT_EQ(ClassOf(window), "QZFLASH");
  LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION), WS_POPUP | WS_CAPTION);
  EXPECT_EQ(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  RECT rect;
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 500);
  EXPECT_EQ(rect.bottom - rect.top, 300);
  EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - 500) / 2);
  EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - 300) / 2);

  // Blank line 0, the chip, part and version lines, the blank line 4, nothing
  // more, and no bar.
  Picture shown = CaptureClient(window);
  Shot("main-window.png", CaptureWindow(window));
  EXPECT_EQ(InkInRow(shown, 0), 0);
  for (int row = 1; row <= 3; ++row) EXPECT_GT(InkInRow(shown, row), 20) << "row " << row;
  for (int row = 4; row <= 12; ++row) EXPECT_EQ(InkInRow(shown, row), 0) << "row " << row;
  EXPECT_TRUE(BarAreaBlank(shown));

  ServiceState service = QueryNorvik();
  EXPECT_TRUE(service.exists);
  EXPECT_EQ(service.state, DWORD(SERVICE_RUNNING));
  EXPECT_EQ(service.binary, folder + "QZF.SYS");

  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  EXPECT_TRUE(WaitNorvikGone(10000));
  EXPECT_EQ(after.m->deviceOpens, 1u);
  EXPECT_EQ(after.m->deviceCloses, 1u);
  EXPECT_EQ(0, memcmp(after.m->cards[0].parts[0].data, machine.m->cards[0].parts[0].data, 65536));
}

TEST_F(StartUp, ThreeCardsAreListedAndTheChoiceIsUsed) {
  UseMachine(ThreeCardsProfile);
  Start();
  HWND dialog = NextDialog();
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(IsWindowVisible(FindMainWindow(Pid())));
  EXPECT_EQ(Caption(dialog), "Card Selection Dialog ");
  EXPECT_EQ(ControlText(dialog, 0xFFFF), "Please select a card from the list");
  HWND list = GetDlgItem(dialog, 1000);
  ASSERT_TRUE(list);
  std::vector<std::string> expected = {" NV32 (322) ,Vender ID=10DE ,Bus=1", " NV25 (253) ,Vender ID=10DE ,Bus=0",
                                       " NV28 (281) ,Vender ID=10DE ,Bus=0"};
  EXPECT_EQ(ListLines(list), expected);
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
  Shot("card-selection.png", CaptureWindow(dialog));

  // OK without a choice asks for one, in a box the dialog waits for: a
  // click on its OK meanwhile brings no second box. Escape does nothing.
  ASSERT_TRUE(PressButton(dialog, IDOK));
  MessageBoxView ask = NextBox(dialog);
  ASSERT_TRUE(ask.window);
  EXPECT_EQ(ask.caption, "Message");
  EXPECT_EQ(ask.text, "Please select a card !!");
  EXPECT_EQ(ask.owner, dialog);
  EXPECT_FALSE(IsWindowEnabled(dialog));
  RECT ok, box;
  GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
  GetWindowRect(ask.window, &box);
  POINT spot = {ok.left + 4, (ok.top + ok.bottom) / 2};
  if (PtInRect(&box, spot)) spot.x = ok.right - 4;
  ASSERT_FALSE(PtInRect(&box, spot)) << "the box hides the dialog's OK";
  ClickAt(spot);
  EXPECT_FALSE(PollUntil(3000, [&] { return CountBoxes(Pid(), "Please select a card !!") > 1; }))
      << "a second box";
  Answer(ask.window, IDOK);
  EXPECT_TRUE(IsWindowEnabled(dialog));
  DWORD_PTR ignored = 0;
  EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_COMMAND, IDCANCEL, 0, SMTO_NORMAL, 10000, &ignored));
  EXPECT_TRUE(IsWindowVisible(dialog));

  ASSERT_TRUE(SelectListLine(list, 2));
  Answer(dialog, IDOK);
  HWND window = MainWindow();
  ASSERT_TRUE(window);
  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();

  // Every access after the choice went to the third card's window.
  std::vector<VcLogEntry> accesses = MemoryRequests(after.m);
  ASSERT_GT(accesses.size(), 2048u);
  for (const VcLogEntry& entry : accesses) ASSERT_EQ(entry.address & 0xFF000000u, 0xE6000000u) << std::hex << entry.address;
}

TEST_F(StartUp, UnattendedRunWithOneCardEndsWithoutAWindow) {
  UseMachine(OneCardProfile);
  Start("-A");
  bool shown = false;
  EXPECT_TRUE(PollUntil(ExitTimeout, [&] {
    HWND window = FindMainWindow(Pid());
    if (window && IsWindowVisible(window)) shown = true;
    return FindDialog(Pid()) != nullptr || HasEnded(run);
  }));
  EXPECT_FALSE(shown);
  EXPECT_EQ(FindDialog(Pid()), nullptr) << "a message box in an unattended run";
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  EXPECT_TRUE(WaitNorvikGone(10000));
  // The card was initialised: its ROM was read for the version line.
  EXPECT_EQ(after.m->deviceOpens, 1u);
  EXPECT_GE(MemoryRequests(after.m).size(), 4096u);
}

TEST_F(StartUp, UnattendedCancelOfTheDualBiosOfferEnds) {
  UseMachine(DualBiosProfile);
  Start("-a");
  HWND dialog = NextDialog();
  ASSERT_TRUE(dialog);
  EXPECT_EQ(Caption(dialog), "Dual BIOS information");
  // The close box stands for Cancel.
  ASSERT_TRUE(PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(End(), 0);
  HWND window = FindMainWindow(Pid());
  EXPECT_EQ(window, nullptr);
  ExpectDriverSaved();
  EXPECT_EQ(0, memcmp(after.m->cards[0].parts[0].data, machine.m->cards[0].parts[0].data, 65536));
  EXPECT_TRUE(WaitNorvikGone(10000));
}

TEST_F(StartUp, SecondCopyShowsTheFirstAndCloseEndsIt) {
  UseMachine(OneCardProfile);
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);
  ShowWindowAsync(window, SW_HIDE);
  ASSERT_TRUE(PollUntil(10000, [&] { return !IsWindowVisible(window); }));

  ProgramRun second;
  ASSERT_TRUE(StartProgram(exe, "", &second));
  EXPECT_EQ(WaitExit(&second, ExitTimeout), 0);
  EXPECT_TRUE(PollUntil(10000, [&] { return IsWindowVisible(window) != FALSE; }));

  // Idle, the close request of the system menu ends the program.
  ASSERT_TRUE(PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0));
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  EXPECT_EQ(after.m->deviceOpens, 1u) << "the second copy opened the driver";
  EXPECT_TRUE(WaitNorvikGone(10000));
}

TEST_F(StartUp, AboutComesWithAltQuestionMarkAndAltSlash) {
  UseMachine(OneCardProfile);
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);
  for (char key : {'?', '/'}) {
    SetForegroundWindow(window);
    ASSERT_TRUE(PollUntil(5000, [&] { return GetForegroundWindow() == window; }));
    SHORT scan = VkKeyScanA(key);
    bool shift = (scan >> 8) & 1;
    keybd_event(VK_MENU, 0, 0, 0);
    if (shift) keybd_event(VK_SHIFT, 0, 0, 0);
    keybd_event(BYTE(scan & 0xFF), 0, 0, 0);
    keybd_event(BYTE(scan & 0xFF), 0, KEYEVENTF_KEYUP, 0);
    if (shift) keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_MENU, 0, KEYEVENTF_KEYUP, 0);

    HWND about = NextDialog(nullptr, 20000);
    ASSERT_TRUE(about) << "Alt+" << key;
    EXPECT_EQ(Caption(about), "About");
    EXPECT_EQ(ControlText(about, IDOK), "OK");
    EXPECT_NE(GetWindowLongA(about, GWL_STYLE) & WS_SYSMENU, 0);
    bool found = false;
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      char text[128] = "";
      GetWindowTextA(child, text, sizeof text);
      found = found || strcmp(text, "DOVIZOZIDA Flash Program Version 1.0.5") == 0;
    }
    EXPECT_TRUE(found);
    if (key == '?') {
      Shot("about.png", CaptureWindow(about));
      Answer(about, IDOK);
    } else {
      // The close box gives Cancel, which ends the dialog too.
      ASSERT_TRUE(PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0));
      ASSERT_TRUE(WaitGone(about, 20000));
    }
  }
  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
}

// A "Norvik" service that another folder registered (a run killed there
// leaves it), stopped or still running that folder's driver, is pointed at
// the driver beside the program before anything is used: the program shows
// its own machine, not the other folder's, and removes the service at the end.
TEST_F(StartUp, AServiceLeftByAnotherFolderIsReplaced) {
  std::string other = folder.substr(0, folder.size() - 1) + " other\\";
  CreateDirectoryA(other.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(DriverSys.c_str(), (other + "QZF.SYS").c_str(), FALSE));
  for (bool running : {false, true}) {
    SCOPED_TRACE(running ? "running" : "stopped");
    // The other folder's machine has no supported card at all.
    Machine stale;
    std::string error;
    ASSERT_TRUE(LoadProfile("device 0:0 0x8086:0x2570 class=0x060000\n", &stale, &error)) << error;
    ASSERT_TRUE(WriteMachineFile(other + "QZF.vcm", stale.m));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_TRUE(manager);
    SC_HANDLE service = CreateServiceA(
        manager, "Norvik", "Norvik", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, (other + "QZF.SYS").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(service) << GetLastError();
    if (running) {
      EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    EXPECT_EQ(QueryNorvik().state, DWORD(running ? SERVICE_RUNNING : SERVICE_STOPPED));

    UseMachine(OneCardProfile);
    Start();
    HWND window = MainWindow();
    ASSERT_TRUE(window) << "no main window: the other folder's driver was used";
    ServiceState now = QueryNorvik();
    EXPECT_EQ(now.state, DWORD(SERVICE_RUNNING));
    EXPECT_EQ(now.binary, folder + "QZF.SYS");
    Picture shown = CaptureClient(window);
    for (int row = 1; row <= 3; ++row) EXPECT_GT(InkInRow(shown, row), 20) << "row " << row;
    Command(window, CmdExit);
    EXPECT_EQ(End(), 0);
    ExpectDriverSaved();
    EXPECT_EQ(after.m->deviceOpens, 1u);
    EXPECT_TRUE(WaitNorvikGone(20000));
  }
}

TEST_F(Refusals, MissingDriverFileEndsBeforeAnyService) {
  UseMachine(OneCardProfile);
  DeleteFileA((folder + "QZF.SYS").c_str());
  Start();
  ExpectBox("Error", "QZF.sys not exist!");
  EXPECT_EQ(End(), 0);
  EXPECT_FALSE(QueryNorvik().exists);
}

TEST_F(Refusals, DriverFailingEveryRequestLeavesNoService) {
  UseMachine(std::string(OneCardProfile) + "fail any\n");
  Start();
  ExpectDeviceNotOpenWithServiceGone();
  ExpectDriverSaved();
  EXPECT_GT(after.m->requestCount, 0u);
  EXPECT_EQ(after.m->failedCount, after.m->requestCount);
}

TEST_F(Refusals, NoSupportedCardIsReportedAfterAWholeScan) {
  UseMachine(
      "device 0:0 0x8086:0x2570 class=0x060000\n"
      "device 2:5 0x1002:0x5960 bar0=0xD8000008 class=0x030000\n");
  Start();
  ExpectBox("Error", "Device not open ");
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  EXPECT_EQ(after.m->requestCount, 4u * 64u);
  EXPECT_FALSE(QueryNorvik().exists);
}

TEST_F(Refusals, OlderGenerationIsRefused) {
  UseMachine(
      "card 1:0 0x10DE:0x0110 bar0=0xE3000008\n"
      "part 29EE512 image=04.11.00.01 image-size=2048\n");
  Start();
  // No caption given: the system's own.
  ExpectBox("Error", "This program only support Geforce4 and later ");
  EXPECT_EQ(End(), 0);
  EXPECT_TRUE(WaitNorvikGone(20000));
}

}  // namespace
