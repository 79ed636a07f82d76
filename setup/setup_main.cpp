// QZSetup: start-up, the installation step and the watch over the installer.
#include "setup.h"

#include <lzexpand.h>

#include "platform/replace/replace.h"

const char SetupClassName[] = "QZFlashQZSetup";
SetupState Setup;

namespace {

const char InstallVerbSuffix[] = "\\shell\\install\\command";

// Windows folder with a trailing backslash; false when it does not fit.
bool WindowsFolderPath(char* out, size_t size, bool trailingBackslash) {
  char folder[SetupPathSize];
  UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return false;
  if (!CopyText(out, size, folder)) return false;
  if (trailingBackslash && out[length - 1] != '\\') return AppendText(out, size, "\\");
  return true;
}

// Unnamed value of HKEY_CLASSES_ROOT\keyName as text. A value that is not a
// string, or does not fit the 128-byte buffer with its terminator, counts as
// missing, so the caller falls back to the fixed command.
bool ReadClassesValue(const char* keyName, char* out, size_t size) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  char data[RegistryValueSize];
  DWORD type = 0;
  DWORD bytes = sizeof data;
  LONG result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  if (bytes > sizeof data) return false;
  return RegistryText(out, size, data, bytes);
}

bool StartInstaller(char* command) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, Setup.setupFolder,
                      &startup, &process)) {
    return false;
  }
  Setup.installerProcessId = process.dwProcessId;
  // Only the id is watched; an open handle would keep the ended process
  // known to the system and the watch would never see it go.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void CloseRunningTool() {
  HWND tool = FindWindowA("norvik", nullptr);
  if (!tool) tool = FindWindowA(nullptr, "STRATATool");
  if (tool) {
    SendMessageA(tool, WM_CLOSE, 0, 0);
    Sleep(100);
  }
}

}  // namespace

void IdleWait(DWORD milliseconds) {
  DWORD start = GetTickCount();
  MSG message;
  do {
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  } while (!WaitElapsed(start, GetTickCount(), milliseconds));
}

bool FileExistsRetry(const char* path) {
  OFSTRUCT info;
  if (OpenFile(path, &info, OF_EXIST) > 0) return true;
  IdleWait(500);
  return OpenFile(path, &info, OF_EXIST) > 0;
}

// Expands (or copies) `source` into `destination` whole or not at all: a
// setup stopped in the middle, or a full disk, leaves the file that was
// there, never part of a new one.
bool ExpandCopyFile(const char* source, const char* destination) {
  OFSTRUCT sourceInfo;
  INT from = LZOpenFileA(const_cast<char*>(source), &sourceInfo, OF_READ);
  if (from <= 0) {
    IdleWait(1000);
    from = LZOpenFileA(const_cast<char*>(source), &sourceInfo, OF_READ | OF_PROMPT);
    if (from <= 0) return false;
  }
  static FileReplacement replacement;
  if (!ReplaceBegin(&replacement, destination)) {
    IdleWait(1000);
    if (!ReplaceBegin(&replacement, destination)) {
      LZClose(from);
      return false;
    }
  }
  static char buffer[16384];
  bool read = true;
  for (;;) {
    INT got = LZRead(from, buffer, sizeof buffer);
    uint32_t done = 0;
    if (got == 0) break;
    if (got < 0 || !ReplaceWrite(&replacement, buffer, uint32_t(got), &done)) {
      read = false;
      break;
    }
  }
  LZClose(from);
  if (!read) {
    ReplaceAbort(&replacement);
    return false;
  }
  return ReplaceCommit(&replacement);
}

bool PrepareSetup(HINSTANCE instance) {
  HWND running = FindWindowA(SetupClassName, nullptr);
  if (running) {
    if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return false;
  }

  CloseRunningTool();

  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = 148;
  GetVersionExA(&version);
  Setup.family = PlatformFamily(version.dwPlatformId);

  char windowsFolder[SetupPathSize];
  Setup.languageFile[0] = '\0';
  if (WindowsFolderPath(windowsFolder, sizeof windowsFolder, false)) {
    FolderFilePath(Setup.languageFile, sizeof Setup.languageFile, windowsFolder, "nrvk2.ini");
  }

  // A longer module path is read whole so that a folder that fits is never
  // taken from a cut-off (and possibly unterminated) path.
  char modulePath[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  modulePath[length] = '\0';
  if (!FolderOfModulePath(Setup.setupFolder, sizeof Setup.setupFolder, modulePath)) return false;
  SetCurrentDirectoryA(Setup.setupFolder);

  if (Setup.languageFile[0] && !FileExistsRetry(Setup.languageFile)) {
    char source[CommandSize];
    if (FolderFilePath(source, sizeof source, Setup.setupFolder, "Setupx.enu")) {
      ExpandCopyFile(source, Setup.languageFile);
    }
  }

  return RegisterSetupClass(instance);
}

bool BuildInstallCommand(bool useRegistry, char* command, size_t size) {
  if (useRegistry) {
    char className[RegistryValueSize];
    char keyName[RegistryValueSize + sizeof InstallVerbSuffix];
    char templ[RegistryValueSize];
    char windowsFolder[SetupPathSize];
    if (ReadClassesValue(".inf", className, sizeof className) &&
        CopyText(keyName, sizeof keyName, className) &&
        AppendText(keyName, sizeof keyName, InstallVerbSuffix) &&
        ReadClassesValue(keyName, templ, sizeof templ) &&
        WindowsFolderPath(windowsFolder, sizeof windowsFolder, false)) {
      return ComposeInstallCommand(command, size, templ, windowsFolder, Setup.family, Setup.setupFolder);
    }
  }
  return FixedInstallCommand(command, size, Setup.family, Setup.setupFolder);
}

bool RunInstallation() {
  Setup.installerProcessId = 0;

  char command[CommandSize];
  bool started = BuildInstallCommand(true, command, sizeof command) && StartInstaller(command);
  if (!started) {
    started = BuildInstallCommand(false, command, sizeof command) && StartInstaller(command);
    if (!started) return false;
  }

  char windowsFolder[SetupPathSize];
  if (!WindowsFolderPath(windowsFolder, sizeof windowsFolder, true)) return true;

  char source[CommandSize];
  char destination[CommandSize];
  if (FolderFilePath(source, sizeof source, Setup.setupFolder, "ZIVodoru.dll") && FileExistsRetry(source) &&
      FolderFilePath(destination, sizeof destination, windowsFolder, "Nrvk3.ini")) {
    ExpandCopyFile(source, destination);
  }

  if (!FolderFilePath(source, sizeof source, Setup.setupFolder, "DARadid.avi") || !FileExistsRetry(source)) {
    return true;
  }
  if (FolderFilePath(destination, sizeof destination, windowsFolder, "DARadid.avi")) {
    ExpandCopyFile(source, destination);
  }

  char settings[CommandSize];
  if (!FolderFilePath(settings, sizeof settings, windowsFolder, "Nrvk3.ini")) return true;
  WritePrivateProfileStringA("AVIFile", "AVIFile", "DARadid.avi", settings);
  char readBack[128];
  if (GetPrivateProfileStringA("AVIFile", "AVIFile", "", readBack, sizeof readBack, settings) > 0) {
    return true;
  }
  IdleWait(1000);
  WritePrivateProfileStringA("AVIFile", "AVIFile", "DARadid.avi", settings);
  return true;
}

void PollInstaller() {
  if (GetProcessVersion(Setup.installerProcessId) != 0) return;
  KillTimer(SetupWindow.window, InstallerTimerId);
  Sleep(2000);
  DestroyWindow(SetupWindow.window);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  if (!PrepareSetup(instance)) return 0;
  if (!CreateSetupWindow(instance, showCommand)) return 0;

  MSG message;
  int exitCode = SetupQuitCode;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (got == 0) exitCode = static_cast<int>(message.wParam);
  ReleaseSetupWindowResources();
  return exitCode;
}
