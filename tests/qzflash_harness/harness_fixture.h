// The fixture of the QZFlash Wine harness: a test folder holding the program
// under test, the virtual QZF.SYS and the machine file; the run of the
// program; and what the driver gives back.
#ifndef QZ_TESTS_QZFLASH_HARNESS_FIXTURE_H
#define QZ_TESTS_QZFLASH_HARNESS_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui_support.h"
#include "run_support.h"

enum : UINT { CmdUpdate = 32774, CmdRestore = 32780, CmdSave = 32773, CmdExit = 105, CmdAbout = 104 };

// Generous: a request to the driver costs up to a millisecond or more under
// Wine, and a whole flash can take minutes on a busy machine.
enum : DWORD { StartTimeout = 120000, BoxTimeout = 300000, ExitTimeout = 120000, SaveTimeout = 30000 };

// One AGP card with a page-write part holding a 4 KiB BIOS image.
extern const char OneCardProfile[];

// A BIOS image as the virtual card's generator makes them.
std::vector<uint8_t> MakeImage(uint16_t vendorId, uint16_t deviceId, uint32_t length, const char* version);

// What the program draws, told apart by colour: status text (RGB(50, 0, 0),
// smoothed at its edges) and the black grid are ink; done cells are yellow.
bool IsInk(uint32_t pixel);
bool IsYellow(uint32_t pixel);
// Ink pixels in the middle of status row `row` (rows 15 px apart, text
// centred 10 px down; descenders reach into the next row's top).
int InkInRow(const Picture& picture, int row);
// Yellow cells of the bar (cells 10 x 25 from (100, 210)).
int YellowCells(const Picture& picture);
// Both ends and both edges of a bar of `total` cells.
bool GridDrawn(const Picture& picture, int total);
// Nothing but white over the bar's area.
bool BarAreaBlank(const Picture& picture);

class QzFlashRun : public ::testing::Test {
 protected:
  std::string folder;  // with a blank in its path, trailing backslash
  std::string exe;
  std::string machineFile;
  ProgramRun run;
  Machine machine;  // as handed to the driver
  Machine after;    // as the driver gave it back

  void SetUp() override;
  void TearDown() override;

  // The machine of the run, from profile text; the driver logs its requests.
  void UseMachine(const std::string& profile);
  void Start(const std::string& arguments = "");
  DWORD Pid() const { return run.process.dwProcessId; }
  HANDLE Process() const { return run.process.hProcess; }

  HWND MainWindow(DWORD timeoutMs = StartTimeout);
  // The next visible dialog of the program other than `besides`.
  HWND NextDialog(HWND besides = nullptr, DWORD timeoutMs = BoxTimeout);
  MessageBoxView NextBox(HWND besides = nullptr, DWORD timeoutMs = BoxTimeout);
  // Presses a button of a box or dialog and waits for it to go.
  void Answer(HWND dialog, int button);
  // The next box must be this one; it is answered with `button`.
  void ExpectBox(const char* caption, const char* text, int button = IDOK);
  // The "Device not open " error of a start-up that found no usable card:
  // the service the run started is gone before the box shows, and the
  // program ends with 0 once it is answered.
  void ExpectDeviceNotOpenWithServiceGone();
  // A menu command, as the menu sends it.
  void Command(HWND window, UINT id);
  // Runs the open or save dialog that a command brings up with `path`.
  void ChooseFile(const std::string& path, const char* shot = nullptr);

  int End(DWORD timeoutMs = ExitTimeout);
  // The machine as the driver wrote it back when it unloaded.
  void ExpectDriverSaved();

  void Shot(const char* file, const Picture& picture);
};

#endif
