// Helpers of the QZSetup harness: files, registry, processes and windows of
// the program under test, seen from outside.
#ifndef QZ_TESTS_SETUP_HARNESS_SUPPORT_H
#define QZ_TESTS_SETUP_HARNESS_SUPPORT_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "program_run.h"
#include "win_files.h"

// Where the program and its data files are (set by main from the command line).
extern std::string ProductExe;
extern std::string DataFolder;
// Where screenshots go (--shots=), with a trailing backslash; empty: none.
extern std::string ShotFolder;
extern std::string HarnessExe;

// Files.
bool WriteText(const std::string& path, const std::string& text);
std::string WindowsFolder();  // with a trailing backslash
std::string DriversFolder();  // with a trailing backslash
std::string ToWindowsPath(const std::string& path);

// Registry, as plain strings; a null value deletes.
bool SetRegistryText(HKEY root, const std::string& key, const char* name, const char* value, DWORD type = REG_SZ);
bool GetRegistryText(HKEY root, const std::string& key, const char* name, std::string* value, DWORD* type = nullptr);

// Service entry as the installer left it.
struct ServiceEntry {
  bool exists;
  DWORD type;
  DWORD start;
  std::string binary;
};
ServiceEntry QueryService(const char* name);
void DeleteServiceEntry(const char* name);

// The program under test (ProgramRun, StartProgram, ... in program_run.h).
HWND WaitSetupWindow(const ProgramRun& run, DWORD timeoutMs);

// Mouse and keys, posted as the system would deliver them.
void ClickAt(HWND window, int x, int y);
void PressEscape(HWND window);


// Windows owned by the harness, run by its own message thread.
struct HelperWindows {
  HWND backdrop;         // full-screen plain red window beneath the program
  HWND tool;             // stand-in for the panel's tool window, or null
  volatile LONG closed;  // the tool window received WM_CLOSE
};
extern HelperWindows Helpers;
void StartHelperThread();
void ShowToolWindow(const char* className, const char* title);
void RemoveToolWindow();

constexpr COLORREF BackdropColour = RGB(255, 0, 0);

#endif
