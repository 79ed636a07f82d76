// QZSetup program-wide state and operations (Win32 side).
#ifndef QZ_SETUP_SETUP_H
#define QZ_SETUP_SETUP_H

#include <windows.h>

#include "setup_logic.h"

constexpr UINT WM_START_INSTALL = WM_USER + 111;
constexpr UINT_PTR InstallerTimerId = 101;
constexpr UINT InstallerTimerMs = 1000;
constexpr int SetupQuitCode = 18;
constexpr COLORREF SkinKeyColour = RGB(0, 255, 0);

extern const char SetupClassName[];

// Setup state: set up by PrepareSetup, kept for the whole run.
struct SetupState {
  uint16_t family;
  char languageFile[SetupPathSize];  // "" when the Windows folder was unusable
  char setupFolder[SetupPathSize];
  DWORD installerProcessId;
};
extern SetupState Setup;

// Window state: one set for the program.
struct SetupWindowState {
  HWND window;
  HBITMAP normalSkin;
  HBITMAP pressedSkin;
  HRGN region;
  char okCaption[CaptionSize];
  char cancelCaption[CaptionSize];
  HotArea areas[HotAreaCount];
  bool inArea;
  int32_t hotIndex;
  int32_t pressedIndex;
};
extern SetupWindowState SetupWindow;

// Flow and installation (setup_main.cpp).
bool PrepareSetup(HINSTANCE instance);
bool RunInstallation();
bool BuildInstallCommand(bool useRegistry, char* command, size_t size);
void PollInstaller();
bool FileExistsRetry(const char* path);
bool ExpandCopyFile(const char* source, const char* destination);
void IdleWait(DWORD milliseconds);

// Skinned window (setup_window.cpp).
bool RegisterSetupClass(HINSTANCE instance);
bool CreateSetupWindow(HINSTANCE instance, int showCommand);
void ReleaseSetupWindowResources();
HRGN RegionFromBitmap(HBITMAP bitmap, COLORREF key, COLORREF tolerance);
bool HitTestAreas(int32_t x, int32_t y);
void DrawSkin(HDC dc);
void DrawButtonImage(int32_t index, bool pressed);
void DrawCaptions(HDC dc);

#endif
