#include "harness_support.h"

#include <cstdio>

std::string ProductExe;
std::string DataFolder;
std::string ShotFolder;
std::string HarnessExe;
HelperWindows Helpers = {nullptr, nullptr, 0};

bool WriteText(const std::string& path, const std::string& text) {
  return WriteWholeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string WindowsFolder() {
  char folder[MAX_PATH];
  UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  std::string result(folder, length);
  if (result.empty() || result.back() != '\\') result += '\\';
  return result;
}

std::string DriversFolder() {
  char folder[MAX_PATH];
  UINT length = GetSystemDirectoryA(folder, sizeof folder);
  return std::string(folder, length) + "\\drivers\\";
}

std::string ToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  // Wine maps the Unix root to drive Z:.
  std::string result = "Z:" + path;
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

bool SetRegistryText(HKEY root, const std::string& key, const char* name, const char* value, DWORD type) {
  HKEY handle;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG result;
  if (value) {
    result = RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(value), DWORD(strlen(value) + 1));
  } else {
    result = RegDeleteValueA(handle, name);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  }
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

bool GetRegistryText(HKEY root, const std::string& key, const char* name, std::string* value, DWORD* type) {
  HKEY handle;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return false;
  char data[1024];
  DWORD bytes = sizeof data - 1;
  DWORD kind = 0;
  LONG result = RegQueryValueExA(handle, name, nullptr, &kind, reinterpret_cast<BYTE*>(data), &bytes);
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return false;
  data[bytes] = '\0';
  *value = data;
  if (type) *type = kind;
  return true;
}

ServiceEntry QueryService(const char* name) {
  ServiceEntry entry = {false, 0, 0, ""};
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return entry;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
  if (service) {
    entry.exists = true;
    union {
      QUERY_SERVICE_CONFIGA config;
      char space[8192];
    } buffer;
    DWORD needed = 0;
    if (QueryServiceConfigA(service, &buffer.config, sizeof buffer, &needed)) {
      entry.type = buffer.config.dwServiceType;
      entry.start = buffer.config.dwStartType;
      entry.binary = buffer.config.lpBinaryPathName ? buffer.config.lpBinaryPathName : "";
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return entry;
}

void DeleteServiceEntry(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return;
  SC_HANDLE service = OpenServiceA(manager, name, DELETE);
  if (service) {
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

namespace {

struct WindowSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindSetupWindow(HWND window, LPARAM context) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char className[64];
  if (owner == search->processId && IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
      strcmp(className, "QZFlashQZSetup") == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND WaitSetupWindow(const ProgramRun& run, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  do {
    WindowSearch search = {run.process.dwProcessId, nullptr};
    EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      // Let it finish its first paint before anyone looks at it.
      WaitForInputIdle(run.process.hProcess, 2000);
      Sleep(200);
      return search.found;
    }
    if (WaitForSingleObject(run.process.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

void ClickAt(HWND window, int x, int y) {
  LPARAM point = MAKELPARAM(x, y);
  PostMessageA(window, WM_MOUSEMOVE, 0, point);
  PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
  PostMessageA(window, WM_LBUTTONUP, 0, point);
}

void PressEscape(HWND window) {
  PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
}

// --- Harness windows ----------------------------------------------------

namespace {

constexpr UINT WM_HARNESS_TOOL = WM_APP + 1;
constexpr UINT WM_HARNESS_REMOVE = WM_APP + 2;
HWND ControlWindow;

struct ToolRequest {
  const char* className;
  const char* title;
};

LRESULT CALLBACK ToolProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    InterlockedExchange(&Helpers.closed, 1);
    DestroyWindow(window);
    Helpers.tool = nullptr;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_HARNESS_TOOL) {
    const ToolRequest* request = reinterpret_cast<const ToolRequest*>(lParam);
    Helpers.closed = 0;
    Helpers.tool = CreateWindowExA(0, request->className, request->title, WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    return Helpers.tool != nullptr;
  }
  if (message == WM_HARNESS_REMOVE) {
    if (Helpers.tool) DestroyWindow(Helpers.tool);
    Helpers.tool = nullptr;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI HelperThread(LPVOID ready) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);

  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hbrBackground = CreateSolidBrush(BackdropColour);
  windowClass.lpszClassName = "QzHarnessBackdrop";
  RegisterClassA(&windowClass);

  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpfnWndProc = ToolProc;
  windowClass.lpszClassName = "norvik";
  RegisterClassA(&windowClass);
  windowClass.lpszClassName = "QzHarnessTool";
  RegisterClassA(&windowClass);

  windowClass.lpfnWndProc = ControlProc;
  windowClass.lpszClassName = "QzHarnessControl";
  RegisterClassA(&windowClass);

  Helpers.backdrop = CreateWindowExA(0, "QzHarnessBackdrop", "backdrop", WS_POPUP | WS_VISIBLE, 0, 0,
                                     GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                     instance, nullptr);
  ControlWindow = CreateWindowExA(0, "QzHarnessControl", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  SetEvent(static_cast<HANDLE>(ready));

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

}  // namespace

void StartHelperThread() {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  CreateThread(nullptr, 0, HelperThread, ready, 0, nullptr);
  WaitForSingleObject(ready, 10000);
  CloseHandle(ready);
}

void ShowToolWindow(const char* className, const char* title) {
  ToolRequest request = {className, title};
  SendMessageA(ControlWindow, WM_HARNESS_TOOL, 0, reinterpret_cast<LPARAM>(&request));
}

void RemoveToolWindow() {
  SendMessageA(ControlWindow, WM_HARNESS_REMOVE, 0, 0);
}
