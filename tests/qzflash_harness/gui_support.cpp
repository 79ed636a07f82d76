#include "gui_support.h"

#include <cstdio>
#include <cstring>

#include "run_support.h"

namespace {

struct Search {
  DWORD processId;
  const char* className;
  HWND besides;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  Search* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || window == search->besides) return TRUE;
  if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
  char name[64];
  if (!GetClassNameA(window, name, sizeof name) || strcmp(name, search->className) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(DWORD processId, const char* className, HWND besides, bool visibleOnly) {
  Search search = {processId, className, besides, visibleOnly, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool Ended(HANDLE process) {
  return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

std::string Narrow(const wchar_t* text) {
  char buffer[1024];
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  return n > 0 ? std::string(buffer) : std::string();
}

Picture Capture(int left, int top, int width, int height) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels = CaptureScreen(left, top, width, height);
  return picture;
}

// Drawing reaches the X server a little later: take the screen once two
// captures in a row agree.
Picture Settled(int left, int top, int width, int height) {
  Picture last = Capture(left, top, width, height);
  for (int attempt = 0; attempt < 30; ++attempt) {
    Sleep(50);
    Picture next = Capture(left, top, width, height);
    if (next.pixels == last.pixels) break;
    last = next;
  }
  return last;
}

}  // namespace

HWND FindMainWindow(DWORD processId) {
  return FindTopLevel(processId, "QZFLASH", nullptr, false);
}

HWND WaitMainWindow(HANDLE process, DWORD processId, DWORD timeoutMs) {
  HWND found = nullptr;
  PollUntil(timeoutMs, [&] {
    found = FindTopLevel(processId, "QZFLASH", nullptr, true);
    return found != nullptr || Ended(process);
  });
  return found;
}

HWND FindDialog(DWORD processId, HWND besides) {
  return FindTopLevel(processId, "#32770", besides, true);
}

HWND FindAnyDialog(DWORD processId) {
  return FindTopLevel(processId, "#32770", nullptr, false);
}

HWND WaitDialog(HANDLE process, DWORD processId, DWORD timeoutMs, HWND besides) {
  HWND found = nullptr;
  PollUntil(timeoutMs, [&] {
    found = FindDialog(processId, besides);
    return found != nullptr || Ended(process);
  });
  return found;
}

bool WaitGone(HWND window, DWORD timeoutMs) {
  return PollUntil(timeoutMs, [&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

std::string Caption(HWND window) {
  char text[512] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return "<no control>";
  char text[1024] = "";
  SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ClassOf(HWND window) {
  char name[128] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  view.window = box;
  view.caption = Caption(box);
  view.text = ControlText(box, 0xFFFF);
  view.hasOk = GetDlgItem(box, IDOK) != nullptr;
  view.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
  view.hasYes = GetDlgItem(box, IDYES) != nullptr;
  view.hasNo = GetDlgItem(box, IDNO) != nullptr;
  view.owner = GetWindow(box, GW_OWNER);
  return view;
}

namespace {

struct BoxCount {
  DWORD processId;
  const std::string* text;
  int count;
};

BOOL CALLBACK CountBox(HWND window, LPARAM context) {
  BoxCount* seen = reinterpret_cast<BoxCount*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == seen->processId && IsWindowVisible(window) && ClassOf(window) == "#32770" &&
      ReadMessageBox(window).text == *seen->text)
    ++seen->count;
  return TRUE;
}

}  // namespace

int CountBoxes(DWORD processId, const std::string& text) {
  BoxCount seen = {processId, &text, 0};
  EnumWindows(CountBox, reinterpret_cast<LPARAM>(&seen));
  return seen.count;
}

bool PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return button && PostMessageA(button, BM_CLICK, 0, 0);
}

std::vector<std::string> ListLines(HWND list) {
  std::vector<std::string> lines;
  LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
    if (length < 0 || length > 500) {
      lines.push_back("<unreadable>");
      continue;
    }
    wchar_t text[512] = L"";
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    lines.push_back(Narrow(text));
  }
  return lines;
}

bool SelectListLine(HWND list, int index) {
  return SendMessageA(list, LB_SETCURSEL, index, 0) == index;
}

bool IsFileDialog(HWND dialog) {
  return GetDlgItem(dialog, 0x47C) != nullptr;
}

bool AnswerFileDialog(HWND dialog, const std::string& path) {
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) return false;
  // The name box may be a combo box (inside a ComboBoxEx32) holding an edit
  // control; the text goes to the innermost edit there is.
  HWND target = name;
  HWND combo = FindWindowExA(name, nullptr, "ComboBox", nullptr);
  HWND edit = FindWindowExA(combo ? combo : name, nullptr, "Edit", nullptr);
  if (edit) target = edit;
  SendMessageA(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  return PressButton(dialog, IDOK);
}

std::string FileDialogName(HWND dialog) {
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) return "<no name box>";
  HWND combo = FindWindowExA(name, nullptr, "ComboBox", nullptr);
  HWND edit = FindWindowExA(combo ? combo : name, nullptr, "Edit", nullptr);
  char text[1024] = "";
  SendMessageA(edit ? edit : name, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

void PressKey(BYTE key) {
  keybd_event(key, 0, 0, 0);
  keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
}

void ClickAt(POINT screen) {
  INPUT input[3] = {};
  for (INPUT& one : input) one.type = INPUT_MOUSE;
  input[0].mi.dx = LONG(screen.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1));
  input[0].mi.dy = LONG(screen.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1));
  input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(3, input, sizeof input[0]);
}

namespace {

// The harness's own windows paint only while it takes their messages.
void PumpOwnMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

HWND ShowCover(const RECT& screen) {
  static ATOM coverClass = 0;
  if (!coverClass) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(RGB(0, 0, 255));
    windowClass.lpszClassName = "QzHarnessCover";
    coverClass = RegisterClassA(&windowClass);
  }
  HWND cover =
      CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, "QzHarnessCover", "", WS_POPUP,
                      screen.left, screen.top, screen.right - screen.left, screen.bottom - screen.top,
                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!cover) return nullptr;
  ShowWindow(cover, SW_SHOWNOACTIVATE);
  UpdateWindow(cover);
  int x = (screen.left + screen.right) / 2, y = (screen.top + screen.bottom) / 2;
  bool shown = PollUntil(20000, [&] {
    PumpOwnMessages();
    return CaptureScreen(x, y, 1, 1)[0] == CoverColour;
  });
  if (!shown) {
    DestroyWindow(cover);
    return nullptr;
  }
  return cover;
}

void HideCover(HWND cover) {
  DestroyWindow(cover);
  PumpOwnMessages();
}

Picture CaptureClient(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  return Settled(origin.x, origin.y, client.right, client.bottom);
}

Picture CaptureClientNow(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  return Capture(origin.x, origin.y, client.right, client.bottom);
}

Picture CaptureWindow(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return Settled(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

bool SavePng(const std::string& path, const Picture& picture) {
  return WritePng(path, picture.width, picture.height, picture.pixels);
}
