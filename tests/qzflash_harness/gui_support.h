// The QZFlash harness's side of the screen: finding the program's windows,
// reading and answering its message boxes and dialogs, and reading pixels.
// Every wait polls with a bounded timeout.
#ifndef QZ_TESTS_QZFLASH_GUI_SUPPORT_H
#define QZ_TESTS_QZFLASH_GUI_SUPPORT_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The main window of the process (class "QZFLASH"), visible or not.
HWND FindMainWindow(DWORD processId);
// Waits for it to be visible; null when the process ends or time runs out.
HWND WaitMainWindow(HANDLE process, DWORD processId, DWORD timeoutMs);

// A visible dialog ("#32770") of the process other than `besides`.
HWND FindDialog(DWORD processId, HWND besides = nullptr);
HWND WaitDialog(HANDLE process, DWORD processId, DWORD timeoutMs, HWND besides = nullptr);
// A dialog of the process, shown or not yet.
HWND FindAnyDialog(DWORD processId);
// Waits until the window is gone or hidden.
bool WaitGone(HWND window, DWORD timeoutMs);

std::string Caption(HWND window);
std::string ControlText(HWND dialog, int id);
std::string ClassOf(HWND window);

// A message box: caption, text and the buttons it has.
struct MessageBoxView {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  bool hasOk = false, hasCancel = false, hasYes = false, hasNo = false;
  HWND owner = nullptr;
};
MessageBoxView ReadMessageBox(HWND box);
// Visible message boxes of the process with this text.
int CountBoxes(DWORD processId, const std::string& text);

// Clicks a dialog button the way the system delivers a click.
bool PressButton(HWND dialog, int id);

// List box lines, read as UTF-16 across the process boundary.
std::vector<std::string> ListLines(HWND list);
bool SelectListLine(HWND list, int index);

// Types a path into the open/save dialog's name box and confirms.
bool AnswerFileDialog(HWND dialog, const std::string& path);
bool IsFileDialog(HWND dialog);
// What the name box of an open/save dialog holds.
std::string FileDialogName(HWND dialog);

// A key press and release, and a left click at a point of the screen, as a
// person gives them: to whatever window has the focus or is under the point.
void PressKey(BYTE key);
void ClickAt(POINT screen);

// A plain blue window over a rectangle of the screen, without taking the
// focus; it is on the screen when ShowCover returns it (null if it never
// shows).
const uint32_t CoverColour = 0x0000FF;
HWND ShowCover(const RECT& screen);
void HideCover(HWND cover);

// Pixels of a window's client area as shown on the screen, top-down
// 0x00RRGGBB, once the screen has settled.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
Picture CaptureClient(HWND window);
// The client area as it is at this moment (for a screen that is changing).
Picture CaptureClientNow(HWND window);
// The whole window, frame and caption included.
Picture CaptureWindow(HWND window);
// Saves a picture as a PNG file.
bool SavePng(const std::string& path, const Picture& picture);

#endif
