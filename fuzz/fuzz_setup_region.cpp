// The setup window's region from odd bitmaps: any size (empty and negative
// heights too), padded rows, any key colour and tolerance, any batch limit,
// an initial block of any room and a block that may refuse to grow. The
// rectangles handed out must cover exactly the pixels outside the key range,
// one run each, and every block must be written inside its allocation.
// Input: width, height (2 bytes each), row padding, flags, key and tolerance
// (3 bytes each), batch limit (2), initial room, grows allowed; then pixel
// codes, one byte a pixel, repeated.
#include <stdlib.h>
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "setup_logic.h"

namespace {

// Large enough for thousands of runs (several batches), small enough to be quick.
enum : int32_t { MaxWidth = 256, MaxHeight = 128, MaxPadding = 12 };

uint8_t PixelArea[MaxHeight * (4 * MaxWidth + MaxPadding)];
uint8_t Keyed[MaxWidth * MaxHeight];
uint8_t Covered[MaxWidth * MaxHeight];

struct Collected {
    int32_t width;
    int32_t height;
    uint32_t batchLimit;
    uint32_t growsLeft;
    uint32_t flushes;
};

// The harness's own per-pixel loops carry no coverage tracing: they would
// only slow the fuzzer down and guide it by nothing of the code under test.
#define QZ_HARNESS_LOOP __attribute__((no_sanitize("coverage")))

QZ_HARNESS_LOOP bool MarkCovered(size_t row, int32_t left, int32_t right)
{
    bool fresh = true;
    for (int32_t x = left; x < right; ++x) {
        fresh = fresh && Covered[row + x] == 0;
        Covered[row + x] = 1;
    }
    return fresh;
}

// Bottom-up rows of blue, green, red, unused; Keyed notes which pixels are
// inside the key range.
QZ_HARNESS_LOOP void MakePixels(uint8_t* pixels, int32_t width, int32_t rows, int32_t stride, const uint8_t* codes,
                                size_t codeCount, const uint8_t (*palette)[3], const KeyRange& range)
{
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            size_t index = static_cast<size_t>(y) * width + x;
            uint8_t code = codeCount ? codes[index % codeCount] : 0;
            const uint8_t* colour = palette[code & 7];
            uint8_t* p = pixels + static_cast<size_t>(rows - 1 - y) * stride + 4 * x;
            p[0] = colour[2];
            p[1] = colour[1];
            p[2] = colour[0];
            p[3] = code;
            bool inKey = true;
            for (int ch = 0; ch < 3; ++ch)
                inKey = inKey && colour[ch] >= range.low[ch] && colour[ch] <= range.high[ch];
            Keyed[index] = inKey ? 1 : 0;
        }
    }
}

QZ_HARNESS_LOOP bool CoverageMatchesKey(size_t pixelCount)
{
    for (size_t i = 0; i < pixelCount; ++i)
        if (Covered[i] != (Keyed[i] ? 0 : 1))
            return false;
    return true;
}

RegionBlockHeader* Grow(void* context, RegionBlockHeader* block, uint32_t rectangles)
{
    Collected* c = static_cast<Collected*>(context);
    if (c->growsLeft == 0)
        return nullptr;
    --c->growsLeft;
    return static_cast<RegionBlockHeader*>(realloc(block, RegionBlockBytes(rectangles)));
}

bool Flush(void* context, const RegionBlockHeader* block)
{
    Collected* c = static_cast<Collected*>(context);
    c->flushes++;
    FuzzCheck(block->size == sizeof(RegionBlockHeader) && block->type == RegionTypeRectangles, "block header");
    FuzzCheck(block->count <= c->batchLimit, "batch larger than its limit");
    const SkinRect* rects = RegionBlockRects(block);
    for (uint32_t i = 0; i < block->count; ++i) {
        const SkinRect& r = rects[i];
        FuzzCheck(r.top >= 0 && r.top < c->height && r.bottom == r.top + 1, "run is one row inside the picture");
        FuzzCheck(r.left >= 0 && r.left < r.right && r.right <= c->width, "run inside the row");
        FuzzCheck(r.left >= block->bound.left && r.right <= block->bound.right && r.top >= block->bound.top &&
                      r.bottom <= block->bound.bottom,
                  "bounding rectangle misses a run");
        FuzzCheck(MarkCovered(static_cast<size_t>(r.top) * c->width, r.left, r.right), "two runs cover one pixel");
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in = MakeFuzzInput(data, size);
    int32_t width = Take16(in) % (MaxWidth + 1);
    int32_t height = Take16(in) % (MaxHeight + 1);
    int32_t padding = 4 * (TakeByte(in) % (MaxPadding / 4 + 1));
    uint8_t flags = TakeByte(in);
    uint32_t key = TakeByte(in) | TakeByte(in) << 8 | TakeByte(in) << 16;
    uint32_t tolerance = TakeByte(in) | TakeByte(in) << 8 | TakeByte(in) << 16;
    uint32_t batchLimit = Take16(in) % 3000;
    uint32_t room = TakeByte(in);
    uint32_t grows = TakeByte(in);
    size_t codeCount = 0;
    const uint8_t* codes = Rest(in, &codeCount);
    if (flags & 1)
        height = -height;

    KeyRange range = MakeKeyRange(key, tolerance);
    // Pixel colours near the edges of the key range, and plain ones.
    uint8_t palette[8][3];
    for (int ch = 0; ch < 3; ++ch) {
        palette[0][ch] = range.low[ch];
        palette[1][ch] = range.high[ch];
        palette[2][ch] = range.high[ch];
        palette[3][ch] = range.low[ch];
        palette[4][ch] = static_cast<uint8_t>((range.low[ch] + range.high[ch]) / 2);
        palette[5][ch] = 0;
        palette[6][ch] = 255;
        palette[7][ch] = ch == 1 ? 255 : 0;
    }
    palette[2][0] = static_cast<uint8_t>(range.high[0] + 1);
    palette[3][1] = static_cast<uint8_t>(range.low[1] - 1);

    int32_t rows = height > 0 ? height : 0;
    int32_t stride = 4 * width + padding;
    size_t pixelBytes = static_cast<size_t>(stride) * rows;
    uint8_t* pixels = ExactBuffer(PixelArea, sizeof PixelArea, pixelBytes);
    size_t pixelCount = static_cast<size_t>(width) * rows;
    MakePixels(pixels, width, rows, stride, codes, codeCount, palette, range);

    memset(Covered, 0, pixelCount);
    Collected collected = {width, rows, batchLimit, grows, 0};
    RegionBlockHeader* block = static_cast<RegionBlockHeader*>(malloc(RegionBlockBytes(room)));
    ResetRegionBlock(block);
    uint32_t capacity = room;
    RegionScanHooks hooks = {&collected, Grow, Flush};
    bool scanned = ScanOpaqueRuns(pixels, stride, width, height, range, batchLimit, &block, &capacity, hooks);
    free(block);

    if (batchLimit == 0) {
        FuzzCheck(!scanned && collected.flushes == 0, "a zero batch limit was accepted");
        return 0;
    }
    if (!scanned)
        return 0;   // the block could not grow: the caller discards the region
    FuzzCheck(collected.flushes >= 1, "no final flush");
    FuzzCheck(CoverageMatchesKey(pixelCount), "region differs from the opaque pixels");
    return 0;
}
