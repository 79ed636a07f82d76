// The File menu commands of the real program: update, save and restore, with
// their dialogs, questions, progress and messages, and bad image files.
#include <cstring>

#include "harness_fixture.h"

namespace {

class Commands : public QzFlashRun {};

const char DualBiosProfile[] =
    "card 1:0 0x10DE:0x0281 subsystem=0x1462:0x8831 bar0=0xFD000000 dual=rom2\n"
    "part 29EE512 image=04.28.20.01 image-size=2048\n"
    "part 29EE512 image=04.28.20.05.01 image-size=2048\n";

const char FlashQuestion[] = "\nDuring BIOS flashed,please wait until the progress complete.";

// The pixels of rows `first` to `last` of two pictures agree.
bool SameRows(const Picture& a, const Picture& b, int first, int last) {
  if (a.width != b.width || a.height <= last || b.height <= last) return false;
  for (int y = first; y <= last; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.At(x, y) != b.At(x, y)) return false;
  return true;
}

// While it writes, the window keeps telling the truth: a part uncovered
// during the erase is drawn again before the write begins, a key and close
// requests given during the flash answer nothing, and an update declined at
// its question afterwards leaves no line of the earlier one on the screen.
TEST_F(Commands, UpdateWritesTheImageAndAsksForAReboot) {
  UseMachine(OneCardProfile);
  std::vector<uint8_t> image = MakeImage(0x10DE, 0x0281, 8192, "04.28.20.09");
  ASSERT_TRUE(WriteWholeFile(folder + "new.rom", image));
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);
  Picture header = CaptureClient(window);
  Command(window, CmdUpdate);
  ChooseFile(folder + "new.rom", "open-dialog.png");

  MessageBoxView confirm = NextBox();
  ASSERT_TRUE(confirm.window);
  EXPECT_EQ(confirm.caption, "Confirm");
  EXPECT_EQ(confirm.text, std::string("ROM BIOS version is :04.28.20.09") + FlashQuestion);
  EXPECT_TRUE(confirm.hasOk && confirm.hasCancel);
  Shot("confirm.png", CaptureWindow(confirm.window));
  Answer(confirm.window, IDOK);

  // The erase bar came and went: the blank check reads the part, and nothing
  // is drawn until the write's line. The header rows, covered by another
  // window and uncovered, come back as they were before that line, while
  // the program has no box or dialog at all.
  ASSERT_TRUE(PollUntil(BoxTimeout, [&] { return YellowCells(CaptureClientNow(window)) >= 1; }));
  ASSERT_TRUE(PollUntil(BoxTimeout, [&] {
    Picture now = CaptureClientNow(window);
    return BarAreaBlank(now) || InkInRow(now, 7) > 0;
  }));
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  HWND cover = ShowCover(RECT{origin.x + 5, origin.y + 12, origin.x + 320, origin.y + 62});
  ASSERT_TRUE(cover) << "the cover never showed";
  HideCover(cover);
  Picture redrawn;
  bool dialog = false;
  EXPECT_TRUE(PollUntil(BoxTimeout, [&] {
    dialog = FindAnyDialog(Pid()) != nullptr;
    redrawn = CaptureClientNow(window);
    return SameRows(redrawn, header, 12, 62) || InkInRow(redrawn, 7) > 0 || dialog;
  }));
  EXPECT_TRUE(SameRows(redrawn, header, 12, 62) && InkInRow(redrawn, 7) == 0 && !dialog)
      << "the uncovered rows were drawn again only " << (dialog ? "by a box" : "with the write's line");

  // A key pressed and close requests sent while the part is written.
  SetForegroundWindow(window);
  EXPECT_TRUE(PollUntil(20000, [&] { return GetForegroundWindow() == window; }));
  EXPECT_EQ(FindDialog(Pid()), nullptr);
  PressKey(VK_RETURN);
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));

  // While the part is programmed: cells fill a grid of four, and a close
  // request is refused.
  Picture during;
  EXPECT_TRUE(PollUntil(BoxTimeout, [&] {
    during = CaptureClientNow(window);
    return InkInRow(during, 7) > 0 && YellowCells(during) >= 2 && GridDrawn(during, 4);
  }));
  Shot("flashing.png", CaptureWindow(window));
  ASSERT_TRUE(PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0));

  MessageBoxView done = NextBox();
  ASSERT_TRUE(done.window);
  EXPECT_EQ(done.caption, "Message");
  EXPECT_EQ(done.text, "Flash completely");
  Shot("flash-complete.png", CaptureWindow(done.window));
  // Nothing given during the flash answers it: it stays until answered.
  EXPECT_FALSE(PollUntil(3000, [&] { return !IsWindow(done.window) || !IsWindowVisible(done.window); }))
      << "a key or close request from the flash answered the box";
  Answer(done.window, IDOK);
  ExpectBox("Message", "Please reboot the system to make the changes you make effective!");
  EXPECT_TRUE(IsWindow(window) && IsWindowVisible(window)) << "closed while the flash ran";

  // "New" with the version, "Erase BIOS", "Writing Flash with file ...",
  // "Flash OK!! ", and the bar gone.
  Picture shown = CaptureClient(window);
  for (int row = 1; row <= 3; ++row) EXPECT_GT(InkInRow(shown, row), 20) << "row " << row;
  for (int row = 5; row <= 8; ++row) EXPECT_GT(InkInRow(shown, row), 20) << "row " << row;
  EXPECT_EQ(InkInRow(shown, 9), 0);
  EXPECT_TRUE(BarAreaBlank(shown));

  // Declined at the question, the next update leaves the lines below the
  // header blank: none of the earlier flash stays.
  Command(window, CmdUpdate);
  ChooseFile(folder + "new.rom");
  ExpectBox("Confirm", (std::string("ROM BIOS version is :04.28.20.09") + FlashQuestion).c_str(), IDCANCEL);
  Picture declined = CaptureClient(window);
  Shot("declined.png", CaptureWindow(window));
  for (int row = 5; row <= 10; ++row) EXPECT_EQ(InkInRow(declined, row), 0) << "row " << row;
  EXPECT_TRUE(SameRows(declined, header, 0, 74));

  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  const VcFlashPart& part = after.m->cards[0].parts[0];
  ASSERT_EQ(part.size, 65536u);
  EXPECT_EQ(0, memcmp(part.data, image.data(), image.size()));
  for (uint32_t i = uint32_t(image.size()); i < part.size; ++i) ASSERT_EQ(part.data[i], 0xFF) << i;
  EXPECT_TRUE(WaitNorvikGone(10000));
}

TEST_F(Commands, SaveAsksBeforeOverwritingAndWritesTheRom) {
  UseMachine(OneCardProfile);
  std::string path = folder + "backup.rom";
  ASSERT_TRUE(WriteWholeFile(path, std::vector<uint8_t>(10, 'x')));
  // Second names of the old backup and of the machine file: the program and
  // the driver each put a new file in place and never write into the old one.
  std::vector<uint8_t> machineBefore;
  ASSERT_TRUE(ReadWholeFile(machineFile, &machineBefore));
  for (const char* name : {"backup.old", "QZF.old"}) DeleteFileA((folder + name).c_str());
  ASSERT_TRUE(CreateHardLinkA((folder + "backup.old").c_str(), path.c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkA((folder + "QZF.old").c_str(), machineFile.c_str(), nullptr));
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);
  Command(window, CmdSave);
  HWND dialog = NextDialog();
  ASSERT_TRUE(dialog && IsFileDialog(dialog));
  Shot("save-dialog.png", CaptureWindow(dialog));
  ASSERT_TRUE(AnswerFileDialog(dialog, path));

  // The overwrite question is the other dialog of the program, whatever its caption.
  MessageBoxView question = NextBox(dialog);
  ASSERT_TRUE(question.window);
  EXPECT_TRUE(question.hasYes && question.hasNo);
  EXPECT_FALSE(question.text.empty());
  Shot("overwrite-question.png", CaptureWindow(question.window));
  Answer(question.window, IDYES);
  ASSERT_TRUE(WaitGone(dialog, 20000));

  ExpectBox("Message", "Back up completed  !! ");
  std::vector<uint8_t> saved;
  ASSERT_TRUE(ReadWholeFile(path, &saved));
  ASSERT_EQ(saved.size(), 4096u);
  EXPECT_EQ(0, memcmp(saved.data(), machine.m->cards[0].parts[0].data, saved.size()));
  // "Save file to  ..." below the header.
  Picture shown = CaptureClient(window);
  EXPECT_GT(InkInRow(shown, 5), 20);
  EXPECT_EQ(InkInRow(shown, 6), 0);

  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  std::vector<uint8_t> old;
  ASSERT_TRUE(ReadWholeFile(folder + "backup.old", &old));
  EXPECT_EQ(old, std::vector<uint8_t>(10, 'x'));
  ASSERT_TRUE(ReadWholeFile(folder + "QZF.old", &old));
  EXPECT_TRUE(old == machineBefore);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*.TMP").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "left behind: " << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(Commands, RestoreCopiesTheSecondBiosIntoTheFirst) {
  UseMachine(DualBiosProfile);
  Start();
  HWND dialog = NextDialog();
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(IsWindowVisible(FindMainWindow(Pid())));
  EXPECT_EQ(Caption(dialog), "Dual BIOS information");
  EXPECT_NE(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
  EXPECT_EQ(ControlText(dialog, 1007), "You are booted by the 2nd BIOS.");
  EXPECT_EQ(ControlText(dialog, 1008), "If you don't want to restore the 2nd BIOS data to the ");
  EXPECT_EQ(ControlText(dialog, 1009), "1st one , please click \"Cancel\" , or please click \"OK\" ");
  EXPECT_EQ(ControlText(dialog, 1010), " to process BIOS restoration");
  EXPECT_EQ(ControlText(dialog, IDOK), "OK");
  EXPECT_EQ(ControlText(dialog, IDCANCEL), "Cancel");
  Shot("dual-bios.png", CaptureWindow(dialog));
  Answer(dialog, IDOK);

  // The window shows before the restore asks its question.
  MessageBoxView confirm = NextBox();
  ASSERT_TRUE(confirm.window);
  HWND window = FindMainWindow(Pid());
  EXPECT_TRUE(window && IsWindowVisible(window));
  EXPECT_EQ(confirm.caption, "Confirm");
  EXPECT_EQ(confirm.text, std::string("ROM BIOS version is :04.28.20.05.01") + FlashQuestion);
  Answer(confirm.window, IDOK);
  ExpectBox("Message", "Flash completely");
  ExpectBox("Message", "Please set the Switch Button and Reboot the computer!!");
  // Nothing was chosen yet: the write's line names no file.
  Picture first = CaptureClient(window);
  EXPECT_GT(InkInRow(first, 7), 20);

  // An update declined at its question leaves its file's name behind; the
  // restore after it writes no file and names none either.
  ASSERT_TRUE(WriteWholeFile(folder + "declined.rom", MakeImage(0x10DE, 0x0281, 2048, "04.28.20.07")));
  Command(window, CmdUpdate);
  ChooseFile(folder + "declined.rom");
  ExpectBox("Confirm", (std::string("ROM BIOS version is :04.28.20.07") + FlashQuestion).c_str(), IDCANCEL);
  Command(window, CmdRestore);
  ExpectBox("Confirm", (std::string("ROM BIOS version is :04.28.20.05.01") + FlashQuestion).c_str());
  ExpectBox("Message", "Flash completely");
  ExpectBox("Message", "Please set the Switch Button and Reboot the computer!!");
  Picture again = CaptureClient(window);
  EXPECT_TRUE(SameRows(again, first, 100, 124))
      << "the restore's write line differs from the one naming no file";

  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  const VcCard& card = after.m->cards[0];
  EXPECT_EQ(0, memcmp(card.parts[0].data, machine.m->cards[0].parts[1].data, 2048));
  for (uint32_t i = 2048; i < card.parts[0].size; ++i) ASSERT_EQ(card.parts[0].data[i], 0xFF) << i;
  EXPECT_EQ(0, memcmp(card.parts[1].data, machine.m->cards[0].parts[1].data, card.parts[1].size));
}

TEST_F(Commands, BadImageFilesAreRefusedWithoutTouchingTheCard) {
  UseMachine(OneCardProfile);
  std::vector<uint8_t> junk(4096, 0x00);
  ASSERT_TRUE(WriteWholeFile(folder + "junk.rom", junk));
  ASSERT_TRUE(WriteWholeFile(folder + "other.rom", MakeImage(0x10DE, 0x0253, 4096, "04.25.00.30")));
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);

  // A name that is no file, and a file without an image header: the status
  // line says so, nothing is asked.
  for (const char* name : {"missing.rom", "junk.rom"}) {
    Command(window, CmdUpdate);
    ChooseFile(folder + name);
    Picture shown;
    EXPECT_TRUE(PollUntil(20000, [&] { return InkInRow(CaptureClientNow(window), 5) > 20; })) << name;
    // Where the dialog was, the window paints itself once the command is over.
    shown = CaptureClient(window);
    EXPECT_EQ(InkInRow(shown, 6), 0) << name;
    EXPECT_EQ(FindDialog(Pid()), nullptr) << name;
  }

  // An image for another card is stopped by the id check after the question.
  Command(window, CmdUpdate);
  ChooseFile(folder + "other.rom");
  ExpectBox("Confirm", "ROM BIOS version is :04.25.00.30\nDuring BIOS flashed,please wait until the progress complete.");
  ExpectBox("ERROR", "Flash faile!!");

  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
  ExpectDriverSaved();
  EXPECT_EQ(0, memcmp(after.m->cards[0].parts[0].data, machine.m->cards[0].parts[0].data, 65536));
  EXPECT_EQ(after.m->cards[0].parts[0].eraseCount, 0u);
}

// A path too long for the program's buffer fails the open dialog: the
// person is told, the status line is the one of a cancelled choice, and the
// next dialog starts empty.
TEST_F(Commands, OverlongPathIsRefusedAndForgotten) {
  UseMachine(OneCardProfile);
  Start();
  HWND window = MainWindow();
  ASSERT_TRUE(window);

  Command(window, CmdUpdate);
  HWND dialog = NextDialog();
  ASSERT_TRUE(dialog && IsFileDialog(dialog));
  Answer(dialog, IDCANCEL);
  EXPECT_TRUE(PollUntil(20000, [&] { return InkInRow(CaptureClientNow(window), 5) > 20; }));
  Picture cancelled = CaptureClient(window);  // "File open faile  " and no path

  std::string path = folder + std::string(262 - folder.size() - 4, 'x') + ".rom";
  ASSERT_EQ(path.size(), 262u);
  Command(window, CmdUpdate);
  ChooseFile(path);
  ExpectBox("Error", "The file path is too long.");
  Picture refused = CaptureClient(window);
  EXPECT_TRUE(SameRows(refused, cancelled, 0, 104)) << "the status line shows more than a cancelled choice";

  Command(window, CmdUpdate);
  dialog = NextDialog();
  ASSERT_TRUE(dialog && IsFileDialog(dialog));
  EXPECT_EQ(FileDialogName(dialog), "");
  Answer(dialog, IDCANCEL);
  Command(window, CmdExit);
  EXPECT_EQ(End(), 0);
}

}  // namespace
