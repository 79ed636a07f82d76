// Portable logic of QZSetup: text composition, the skin's region scan, the
// button table and the caption layout. No Win32 here, so that it builds and
// is tested on every host; setup_main.cpp and setup_window.cpp use it.
#ifndef QZ_SETUP_SETUP_LOGIC_H
#define QZ_SETUP_SETUP_LOGIC_H

#include <cstddef>
#include <cstdint>

// Platform family, the same encoding as the flash utility's access mode.
constexpr uint16_t SetupFamilyNt = 4;
constexpr uint16_t SetupFamily9x = 1;

// Buffer sizes, in bytes including the terminating NUL.
constexpr size_t SetupPathSize = 128;      // Windows folder, setup folder, file paths
constexpr size_t RegistryValueSize = 128;  // one registry value as read
constexpr size_t TemplateSize = 156;       // template after the leading variable is replaced
constexpr size_t CommandSize = 256;        // installer command line
constexpr size_t CaptionSize = 20;         // one button caption

uint16_t PlatformFamily(uint32_t platformId);
const char* InfFileName(uint16_t family);

// Bounded string helpers: on overflow they return false and never leave a
// cut-off text behind (CopyText leaves "", AppendText the old text).
bool CopyText(char* out, size_t size, const char* text);
bool AppendText(char* out, size_t size, const char* text);

// folder + "\" (unless it already ends with one) + file.
bool FolderFilePath(char* out, size_t size, const char* folder, const char* file);
// Full module path cut after its last backslash (the backslash is kept).
bool FolderOfModulePath(char* out, size_t size, const char* modulePath);

// A registry string as it came back: `bytes` bytes that may or may not end
// in NUL. Copies it into `out` as a terminated text; false when it does not fit.
bool RegistryText(char* out, size_t size, const char* data, size_t bytes);

// A leading "%NAME%" stands for the Windows folder (one trailing backslash
// removed). Replaces it in place; false when the result would not fit.
bool ReplaceLeadingVariable(char* templ, size_t size, const char* windowsFolder);

// Text before the first "%1", setup folder, INF name, text after "%1".
// False when the template has no "%1" or the command would not fit.
bool ComposeTemplateCommand(char* out, size_t size, const char* templ,
                            const char* setupFolder, const char* infName);

// installer + ",InstallHinfSection DefaultInstall 132 " + setup folder + INF name.
bool FixedInstallCommand(char* out, size_t size, uint16_t family, const char* setupFolder);

// The whole command from an Install-verb template (null when the registry
// gave none): the template form when it is usable, else the fixed form.
bool ComposeInstallCommand(char* out, size_t size, const char* templ, const char* windowsFolder,
                           uint16_t family, const char* setupFolder);

// Tick arithmetic that survives the 49-day wrap of the tick counter.
bool WaitElapsed(uint32_t start, uint32_t now, uint32_t waitMs);

// --- Skin region -----------------------------------------------------------

// Same layout as the system's RECT and RGNDATAHEADER, so that a block built
// here can be handed to the region call unchanged.
struct SkinRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct RegionBlockHeader {
  uint32_t size;
  uint32_t type;
  uint32_t count;
  uint32_t regionSize;
  SkinRect bound;
};
static_assert(sizeof(SkinRect) == 16, "rectangle layout");
static_assert(sizeof(RegionBlockHeader) == 32, "region header layout");

constexpr uint32_t RegionTypeRectangles = 1;  // RDH_RECTANGLES
constexpr uint32_t RegionBatchRects = 2000;   // rectangles per region call
constexpr uint32_t RegionGrowRects = 100;     // block growth step

inline SkinRect* RegionBlockRects(RegionBlockHeader* block) {
  return reinterpret_cast<SkinRect*>(block + 1);
}
inline const SkinRect* RegionBlockRects(const RegionBlockHeader* block) {
  return reinterpret_cast<const SkinRect*>(block + 1);
}
inline size_t RegionBlockBytes(uint32_t rectangles) {
  return sizeof(RegionBlockHeader) + rectangles * sizeof(SkinRect);
}

// Empty list, bounding rectangle at its start value.
void ResetRegionBlock(RegionBlockHeader* block);

// Per-channel range of colours that count as transparent.
struct KeyRange {
  uint8_t low[3];   // red, green, blue
  uint8_t high[3];
};
// key and tolerance as 0x00BBGGRR colour values.
KeyRange MakeKeyRange(uint32_t key, uint32_t tolerance);

// What the scan needs from its caller: a way to grow the rectangle block and
// a taker for each full batch. Plain function pointers and a context.
struct RegionScanHooks {
  void* context;
  // Returns the block, possibly moved, with room for `rectangles`; null on failure.
  RegionBlockHeader* (*grow)(void* context, RegionBlockHeader* block, uint32_t rectangles);
  // Takes the rectangles collected so far (count may be 0 at the end).
  bool (*flush)(void* context, const RegionBlockHeader* block);
};

// Scans a 32-bit bottom-up pixel buffer (blue, green, red, unused per pixel;
// `stride` bytes per row) row by row from the top of the picture and appends
// one rectangle per run of opaque pixels. Every `batchLimit` rectangles, and
// once at the end, the batch goes to hooks.flush and the list starts anew.
// `block`/`capacity` are the caller's block and its room in rectangles.
bool ScanOpaqueRuns(const uint8_t* pixels, int32_t stride, int32_t width, int32_t height,
                    const KeyRange& key, uint32_t batchLimit, RegionBlockHeader** block,
                    uint32_t* capacity, const RegionScanHooks& hooks);

// --- Buttons and captions --------------------------------------------------

// Bounds inclusive; state of area 0 is the busy flag.
struct HotArea {
  int32_t left;
  int32_t right;
  int32_t top;
  int32_t bottom;
  uint32_t state;
};

constexpr int HotAreaCount = 2;
constexpr int HotAreaOk = 0;
constexpr int HotAreaCancel = 1;
constexpr int32_t ButtonWidth = 77;
constexpr int32_t ButtonHeight = 23;
constexpr int32_t SkinWidth = 400;
constexpr int32_t SkinHeight = 200;

extern const HotArea InitialHotAreas[HotAreaCount];

// First area containing (x, y) wins: in-area set, hot index its number.
// Otherwise in-area clear and hot index -1.
bool HitTestAreaTable(const HotArea* areas, int32_t x, int32_t y, bool* inArea, int32_t* hotIndex);

// What a left-button press does, from the last mouse move and the busy flag.
struct PressAction {
  bool drag;           // no button under the mouse: move the window
  int32_t drawPressed; // button to show pressed, -1 none
  bool startInstall;   // post the start message and set the busy flag
  bool close;          // post WM_CLOSE
};
PressAction PressActionFor(bool inArea, int32_t hotIndex, uint32_t busy);

// Rectangle of a caption of `length` characters on button `index`.
SkinRect CaptionRect(int index, size_t length);

// Skin bitmap file for the display depth.
const char* SkinFileName(int bitsPerPixel, bool pressed);

#endif
