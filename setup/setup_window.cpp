// QZSetup: the skinned window, its region, painting and mouse handling.
#include "setup.h"

SetupWindowState SetupWindow = {nullptr, nullptr, nullptr, nullptr, "", "", {}, false, -1, -1};

namespace {

const COLORREF CaptionBlue = RGB(0, 0, 255);
const COLORREF CaptionGrey = RGB(100, 100, 100);

HBITMAP LoadSkin(const char* fileName, UINT extraFlags) {
  return static_cast<HBITMAP>(
      LoadImageA(nullptr, fileName, IMAGE_BITMAP, SkinWidth, SkinHeight, LR_LOADFROMFILE | extraFlags));
}

// Region-building context: the movable block of rectangles and the region
// collected so far.
struct RegionBuild {
  HGLOBAL memory;
  HRGN result;
};

RegionBlockHeader* GrowRegionBlock(void* context, RegionBlockHeader*, uint32_t rectangles) {
  RegionBuild* build = static_cast<RegionBuild*>(context);
  GlobalUnlock(build->memory);
  HGLOBAL grown = GlobalReAlloc(build->memory, RegionBlockBytes(rectangles), GMEM_MOVEABLE);
  if (grown) build->memory = grown;
  void* block = GlobalLock(build->memory);
  return grown ? static_cast<RegionBlockHeader*>(block) : nullptr;
}

bool FlushRegionBlock(void* context, const RegionBlockHeader* block) {
  RegionBuild* build = static_cast<RegionBuild*>(context);
  HRGN part = ExtCreateRegion(nullptr, static_cast<DWORD>(RegionBlockBytes(block->count)),
                              reinterpret_cast<const RGNDATA*>(block));
  if (!part) return false;
  if (build->result) {
    CombineRgn(build->result, build->result, part, RGN_OR);
    DeleteObject(part);
  } else {
    build->result = part;
  }
  return true;
}

LRESULT OnCreate(HWND window) {
  HDC dc = GetDC(window);
  int bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(window, dc);

  SetupWindow.normalSkin = LoadSkin(SkinFileName(bitsPerPixel, false), LR_DEFAULTSIZE);
  SetupWindow.pressedSkin = LoadSkin(SkinFileName(bitsPerPixel, true), 0);
  SetupWindow.window = window;

  SetupWindow.region = RegionFromBitmap(SetupWindow.normalSkin, SkinKeyColour, 0);
  if (SetupWindow.region) SetWindowRgn(window, SetupWindow.region, TRUE);

  // An unusable Windows folder leaves no language file: keep the defaults.
  const char* languageFile = Setup.languageFile[0] ? Setup.languageFile : nullptr;
  if (languageFile) {
    GetPrivateProfileStringA("setup", "Ok", "OK", SetupWindow.okCaption, CaptionSize, languageFile);
    GetPrivateProfileStringA("setup", "Cancel", "Cancel", SetupWindow.cancelCaption, CaptionSize, languageFile);
  } else {
    CopyText(SetupWindow.okCaption, CaptionSize, "OK");
    CopyText(SetupWindow.cancelCaption, CaptionSize, "Cancel");
  }

  for (int index = 0; index < HotAreaCount; ++index) SetupWindow.areas[index] = InitialHotAreas[index];
  return 0;
}

void OnPress(HWND window, LPARAM lParam) {
  PressAction action =
      PressActionFor(SetupWindow.inArea, SetupWindow.hotIndex, SetupWindow.areas[HotAreaOk].state);
  if (action.drag) {
    // Grabbing the picture moves the window as its caption would.
    DefWindowProcA(window, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
    return;
  }
  DrawButtonImage(action.drawPressed, true);
  SetupWindow.pressedIndex = action.drawPressed;
  if (action.startInstall) {
    PostMessageA(window, WM_START_INSTALL, 0, 0);
    SetupWindow.areas[HotAreaOk].state = 1;
    HDC dc = GetDC(window);
    DrawCaptions(dc);
    ReleaseDC(window, dc);
  }
  if (action.close) PostMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      DrawSkin(dc);
      SetBkMode(dc, TRANSPARENT);
      DrawCaptions(dc);
      EndPaint(window, &paint);
      break;
    }
    case WM_MOUSEMOVE:
      HitTestAreas(LOWORD(lParam), HIWORD(lParam));
      break;
    case WM_LBUTTONDOWN:
      OnPress(window, lParam);
      break;
    case WM_LBUTTONUP: {
      ReleaseCapture();
      DrawButtonImage(SetupWindow.pressedIndex, false);
      HDC dc = GetDC(window);
      DrawCaptions(dc);
      ReleaseDC(window, dc);
      break;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) PostMessageA(window, WM_CLOSE, 0, 0);
      break;
    case WM_TIMER:
      PollInstaller();
      break;
    case WM_START_INSTALL:
      if (RunInstallation()) {
        SetTimer(window, InstallerTimerId, InstallerTimerMs, nullptr);
      } else {
        DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(SetupQuitCode);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RegisterSetupClass(HINSTANCE instance) {
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = SetupWindowProc;
  windowClass.hInstance = instance;
  // No icon carries the class's name; the program's own icon stands in.
  windowClass.hIcon = LoadIconA(instance, SetupClassName);
  if (!windowClass.hIcon) windowClass.hIcon = LoadIconA(instance, "VUZORAZEROD");
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = SetupClassName;
  return RegisterClassA(&windowClass) != 0;
}

bool CreateSetupWindow(HINSTANCE instance, int showCommand) {
  int x = (GetSystemMetrics(SM_CXSCREEN) - SkinWidth) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - SkinHeight) / 2;
  HWND window = CreateWindowExA(0, SetupClassName, SetupClassName, WS_POPUP, x, y, SkinWidth, SkinHeight,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return false;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  return true;
}

void ReleaseSetupWindowResources() {
  if (SetupWindow.normalSkin) DeleteObject(SetupWindow.normalSkin);
  if (SetupWindow.pressedSkin) DeleteObject(SetupWindow.pressedSkin);
  SetupWindow.normalSkin = nullptr;
  SetupWindow.pressedSkin = nullptr;
}

HRGN RegionFromBitmap(HBITMAP bitmap, COLORREF key, COLORREF tolerance) {
  if (!bitmap) return nullptr;
  HDC pixelDc = CreateCompatibleDC(nullptr);
  if (!pixelDc) return nullptr;
  BITMAP info;
  if (!GetObjectA(bitmap, sizeof info, &info)) {
    DeleteDC(pixelDc);
    return nullptr;
  }
  int32_t width = info.bmWidth;
  int32_t height = info.bmHeight;

  BITMAPINFOHEADER header;
  ZeroMemory(&header, sizeof header);
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP pixels =
      CreateDIBSection(pixelDc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!pixels || !bits) {
    if (pixels) DeleteObject(pixels);
    DeleteDC(pixelDc);
    return nullptr;
  }
  HGDIOBJ oldPixels = SelectObject(pixelDc, pixels);

  HRGN result = nullptr;
  HDC sourceDc = CreateCompatibleDC(pixelDc);
  if (sourceDc) {
    BITMAP pixelInfo;
    GetObjectA(pixels, sizeof pixelInfo, &pixelInfo);
    int32_t stride = pixelInfo.bmWidthBytes;
    HGDIOBJ oldSource = SelectObject(sourceDc, bitmap);
    BitBlt(pixelDc, 0, 0, width, height, sourceDc, 0, 0, SRCCOPY);
    GdiFlush();

    RegionBuild build = {GlobalAlloc(GMEM_MOVEABLE, RegionBlockBytes(RegionGrowRects)), nullptr};
    RegionBlockHeader* block = build.memory ? static_cast<RegionBlockHeader*>(GlobalLock(build.memory)) : nullptr;
    if (block) {
      ResetRegionBlock(block);
      uint32_t capacity = RegionGrowRects;
      RegionScanHooks hooks = {&build, GrowRegionBlock, FlushRegionBlock};
      bool scanned = ScanOpaqueRuns(static_cast<const uint8_t*>(bits), stride, width, height,
                                    MakeKeyRange(key, tolerance), RegionBatchRects, &block, &capacity, hooks);
      if (!scanned && build.result) {
        DeleteObject(build.result);
        build.result = nullptr;
      }
      result = build.result;
      GlobalUnlock(build.memory);
    }
    if (build.memory) GlobalFree(build.memory);
    SelectObject(sourceDc, oldSource);
    DeleteDC(sourceDc);
  }

  SelectObject(pixelDc, oldPixels);
  DeleteDC(pixelDc);
  DeleteObject(pixels);
  return result;
}

bool HitTestAreas(int32_t x, int32_t y) {
  return HitTestAreaTable(SetupWindow.areas, x, y, &SetupWindow.inArea, &SetupWindow.hotIndex);
}

void DrawSkin(HDC dc) {
  if (!SetupWindow.normalSkin) return;  // no skin: the class background stays
  HDC memoryDc = CreateCompatibleDC(dc);
  if (!memoryDc) return;
  HGDIOBJ old = SelectObject(memoryDc, SetupWindow.normalSkin);
  BitBlt(dc, 0, 0, SkinWidth, SkinHeight, memoryDc, 0, 0, SRCCOPY);
  SelectObject(memoryDc, old);
  DeleteDC(memoryDc);
}

void DrawButtonImage(int32_t index, bool pressed) {
  if (index < 0 || index >= HotAreaCount) return;
  HBITMAP skin = pressed ? SetupWindow.pressedSkin : SetupWindow.normalSkin;
  if (!skin) return;
  HDC windowDc = GetWindowDC(SetupWindow.window);
  if (!windowDc) return;
  HDC memoryDc = CreateCompatibleDC(windowDc);
  if (memoryDc) {
    HGDIOBJ old = SelectObject(memoryDc, skin);
    const HotArea& area = SetupWindow.areas[index];
    BitBlt(windowDc, area.left, area.top, ButtonWidth, ButtonHeight, memoryDc, area.left, area.top, SRCCOPY);
    SelectObject(memoryDc, old);
    DeleteDC(memoryDc);
  }
  ReleaseDC(SetupWindow.window, windowDc);
}

void DrawCaptions(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  HFONT font = CreateFontA(16, 6, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, "Arial");
  SetTextColor(dc, SetupWindow.areas[HotAreaOk].state ? CaptionGrey : CaptionBlue);
  HGDIOBJ oldFont = SelectObject(dc, font);

  SkinRect okRect = CaptionRect(HotAreaOk, strlen(SetupWindow.okCaption));
  RECT rect = {okRect.left, okRect.top, okRect.right, okRect.bottom};
  DrawTextA(dc, SetupWindow.okCaption, -1, &rect, DT_SINGLELINE | DT_VCENTER);

  SetTextColor(dc, CaptionBlue);
  SkinRect cancelRect = CaptionRect(HotAreaCancel, strlen(SetupWindow.cancelCaption));
  rect = {cancelRect.left, cancelRect.top, cancelRect.right, cancelRect.bottom};
  DrawTextA(dc, SetupWindow.cancelCaption, -1, &rect, DT_SINGLELINE | DT_VCENTER);

  SelectObject(dc, oldFont);
  if (font) DeleteObject(font);
}
