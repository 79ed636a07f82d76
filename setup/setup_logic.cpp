#include "setup_logic.h"

#include <cstring>

namespace {

const char InstallSectionText[] = ",InstallHinfSection DefaultInstall 132 ";
const char Installer9x[] = "rundll.exe setupx.dll";
const char InstallerNt[] = "rundll32.exe setupapi";

// Text lengths are bounded by the buffers they live in; strnlen keeps a
// missing terminator from running off the end.
size_t BoundedLength(const char* text, size_t size) {
  return strnlen(text, size);
}

}  // namespace

uint16_t PlatformFamily(uint32_t platformId) {
  return platformId == 2 ? SetupFamilyNt : SetupFamily9x;
}

const char* InfFileName(uint16_t family) {
  return family == SetupFamilyNt ? "QZFNT.inf" : "QZF9x.inf";
}

bool CopyText(char* out, size_t size, const char* text) {
  if (size == 0) return false;
  size_t length = strlen(text);
  if (length >= size) {
    out[0] = '\0';
    return false;
  }
  memmove(out, text, length + 1);
  return true;
}

bool AppendText(char* out, size_t size, const char* text) {
  size_t used = BoundedLength(out, size);
  if (used >= size) return false;
  size_t length = strlen(text);
  if (length >= size - used) return false;
  memcpy(out + used, text, length + 1);
  return true;
}

bool FolderFilePath(char* out, size_t size, const char* folder, const char* file) {
  char path[CommandSize];
  bool fits = CopyText(path, sizeof path, folder);
  size_t length = strlen(path);
  if (fits && (length == 0 || path[length - 1] != '\\')) fits = AppendText(path, sizeof path, "\\");
  if (fits) fits = AppendText(path, sizeof path, file);
  if (!fits) {
    if (size) out[0] = '\0';
    return false;
  }
  return CopyText(out, size, path);
}

bool FolderOfModulePath(char* out, size_t size, const char* modulePath) {
  const char* slash = strrchr(modulePath, '\\');
  size_t keep = slash ? static_cast<size_t>(slash - modulePath) + 1 : 0;
  if (keep >= size) {
    if (size) out[0] = '\0';
    return false;
  }
  memcpy(out, modulePath, keep);
  out[keep] = '\0';
  return true;
}

bool RegistryText(char* out, size_t size, const char* data, size_t bytes) {
  size_t length = 0;
  while (length < bytes && data[length] != '\0') ++length;
  if (length >= size) {
    if (size) out[0] = '\0';
    return false;
  }
  memcpy(out, data, length);
  out[length] = '\0';
  return true;
}

bool ReplaceLeadingVariable(char* templ, size_t size, const char* windowsFolder) {
  if (templ[0] != '%') return true;
  const char* second = strchr(templ + 1, '%');
  if (!second) return true;

  char result[CommandSize];
  if (!CopyText(result, sizeof result, windowsFolder)) return false;
  size_t length = strlen(result);
  if (length > 0 && result[length - 1] == '\\') result[length - 1] = '\0';
  if (!AppendText(result, sizeof result, second + 1)) return false;
  if (strlen(result) >= size) return false;
  return CopyText(templ, size, result);
}

bool ComposeTemplateCommand(char* out, size_t size, const char* templ,
                            const char* setupFolder, const char* infName) {
  const char* marker = strstr(templ, "%1");
  if (!marker) return false;
  size_t before = static_cast<size_t>(marker - templ);
  char command[CommandSize];
  if (before >= sizeof command) return false;
  memcpy(command, templ, before);
  command[before] = '\0';
  if (!AppendText(command, sizeof command, setupFolder) ||
      !AppendText(command, sizeof command, infName) ||
      !AppendText(command, sizeof command, marker + 2)) {
    return false;
  }
  return CopyText(out, size, command);
}

bool FixedInstallCommand(char* out, size_t size, uint16_t family, const char* setupFolder) {
  char command[CommandSize];
  command[0] = '\0';
  bool fits = AppendText(command, sizeof command, family == SetupFamilyNt ? InstallerNt : Installer9x) &&
              AppendText(command, sizeof command, InstallSectionText) &&
              AppendText(command, sizeof command, setupFolder) &&
              AppendText(command, sizeof command, InfFileName(family));
  if (!fits) {
    if (size) out[0] = '\0';
    return false;
  }
  return CopyText(out, size, command);
}

bool ComposeInstallCommand(char* out, size_t size, const char* templ, const char* windowsFolder,
                           uint16_t family, const char* setupFolder) {
  if (templ) {
    char work[TemplateSize];
    if (CopyText(work, sizeof work, templ) &&
        ReplaceLeadingVariable(work, sizeof work, windowsFolder) &&
        ComposeTemplateCommand(out, size, work, setupFolder, InfFileName(family))) {
      return true;
    }
  }
  return FixedInstallCommand(out, size, family, setupFolder);
}

bool WaitElapsed(uint32_t start, uint32_t now, uint32_t waitMs) {
  return static_cast<uint32_t>(now - start) > waitMs;
}

// --- Skin region -----------------------------------------------------------

void ResetRegionBlock(RegionBlockHeader* block) {
  block->size = sizeof(RegionBlockHeader);
  block->type = RegionTypeRectangles;
  block->count = 0;
  block->regionSize = 0;
  block->bound.left = 0x7FFFFFFF;
  block->bound.top = 0x7FFFFFFF;
  block->bound.right = 0;
  block->bound.bottom = 0;
}

KeyRange MakeKeyRange(uint32_t key, uint32_t tolerance) {
  KeyRange range;
  for (int channel = 0; channel < 3; ++channel) {
    unsigned low = (key >> (8 * channel)) & 0xFF;
    unsigned high = low + ((tolerance >> (8 * channel)) & 0xFF);
    range.low[channel] = static_cast<uint8_t>(low);
    range.high[channel] = static_cast<uint8_t>(high > 255 ? 255 : high);
  }
  return range;
}

namespace {

bool IsKeyPixel(const uint8_t* pixel, const KeyRange& key) {
  // Pixel bytes are blue, green, red; the range is red, green, blue.
  uint8_t red = pixel[2], green = pixel[1], blue = pixel[0];
  return red >= key.low[0] && red <= key.high[0] &&
         green >= key.low[1] && green <= key.high[1] &&
         blue >= key.low[2] && blue <= key.high[2];
}

bool AppendRun(RegionBlockHeader** block, uint32_t* capacity, const RegionScanHooks& hooks,
               int32_t left, int32_t top, int32_t right, int32_t bottom) {
  RegionBlockHeader* list = *block;
  if (list->count >= *capacity) {
    RegionBlockHeader* grown = hooks.grow(hooks.context, list, *capacity + RegionGrowRects);
    if (!grown) return false;
    *block = list = grown;
    *capacity += RegionGrowRects;
  }
  SkinRect& rect = RegionBlockRects(list)[list->count++];
  rect.left = left;
  rect.top = top;
  rect.right = right;
  rect.bottom = bottom;
  if (left < list->bound.left) list->bound.left = left;
  if (top < list->bound.top) list->bound.top = top;
  if (right > list->bound.right) list->bound.right = right;
  if (bottom > list->bound.bottom) list->bound.bottom = bottom;
  return true;
}

}  // namespace

bool ScanOpaqueRuns(const uint8_t* pixels, int32_t stride, int32_t width, int32_t height,
                    const KeyRange& key, uint32_t batchLimit, RegionBlockHeader** block,
                    uint32_t* capacity, const RegionScanHooks& hooks) {
  if (batchLimit == 0) return false;
  for (int32_t y = 0; y < height; ++y) {
    // Bottom-up buffer: the picture's top row is the buffer's last.
    const uint8_t* row = pixels + static_cast<ptrdiff_t>(height - 1 - y) * stride;
    int32_t x = 0;
    while (x < width) {
      int32_t x1 = x;
      while (x1 < width && !IsKeyPixel(row + 4 * x1, key)) ++x1;
      if (x1 > x) {
        if (!AppendRun(block, capacity, hooks, x, y, x1, y + 1)) return false;
        if ((*block)->count >= batchLimit) {
          if (!hooks.flush(hooks.context, *block)) return false;
          ResetRegionBlock(*block);
        }
      }
      x = x1 + 1;
    }
  }
  return hooks.flush(hooks.context, *block);
}

// --- Buttons and captions --------------------------------------------------

const HotArea InitialHotAreas[HotAreaCount] = {
    {113, 190, 156, 179, 0},  // OK
    {202, 279, 156, 179, 0},  // Cancel
};

bool HitTestAreaTable(const HotArea* areas, int32_t x, int32_t y, bool* inArea, int32_t* hotIndex) {
  for (int index = 0; index < HotAreaCount; ++index) {
    const HotArea& area = areas[index];
    if (area.left <= x && x <= area.right && area.top <= y && y <= area.bottom) {
      *inArea = true;
      *hotIndex = index;
      return true;
    }
  }
  *inArea = false;
  *hotIndex = -1;
  return false;
}

PressAction PressActionFor(bool inArea, int32_t hotIndex, uint32_t busy) {
  PressAction action = {false, -1, false, false};
  if (!inArea) {
    action.drag = true;
    return action;
  }
  action.drawPressed = hotIndex;
  if (hotIndex == HotAreaOk && busy == 0) action.startInstall = true;
  if (hotIndex == HotAreaCancel && busy == 0) action.close = true;
  return action;
}

SkinRect CaptionRect(int index, size_t length) {
  // Left edges centre the text on x = 149 or 238 for a 6-pixel-wide font.
  int32_t centre = index == HotAreaOk ? 149 : 238;
  int32_t right = index == HotAreaOk ? 190 : 279;
  int32_t half = static_cast<int32_t>(length / 2);
  SkinRect rect = {centre - 6 * half, 156, right, 179};
  return rect;
}

const char* SkinFileName(int bitsPerPixel, bool pressed) {
  if (bitsPerPixel <= 8) return pressed ? "Install_Gd_16.bmp" : "Install_Gn_16.bmp";
  return pressed ? "Install_Gd_24.bmp" : "Install_Gn_24.bmp";
}
