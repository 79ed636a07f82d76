// Skin region scan, buttons and captions of QZSetup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "setup_logic.h"

// Found by the standard algorithms through the argument's own namespace.
bool operator==(const SkinRect& a, const SkinRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

namespace {

const uint32_t Key = 0x0000FF00;  // RGB(0, 255, 0)

// A 32-bit bottom-up pixel buffer, addressed top-down like the picture.
struct Picture {
  int32_t width;
  int32_t height;
  int32_t stride;
  std::vector<uint8_t> bytes;

  Picture(int32_t w, int32_t h, uint32_t fill) : width(w), height(h), stride(w * 4), bytes(size_t(w) * h * 4) {
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) Set(x, y, fill);
  }
  // colour as 0x00BBGGRR
  void Set(int32_t x, int32_t y, uint32_t colour) {
    uint8_t* pixel = &bytes[size_t(height - 1 - y) * stride + size_t(x) * 4];
    pixel[0] = uint8_t(colour >> 16);
    pixel[1] = uint8_t(colour >> 8);
    pixel[2] = uint8_t(colour);
    pixel[3] = 0xAA;
  }
};

// Collects the batches as the region calls would receive them.
struct Collector {
  std::vector<std::vector<SkinRect>> batches;
  std::vector<SkinRect> bounds;
  std::vector<uint32_t> growths;
  uint32_t growLimit = 0xFFFFFFFF;
};

RegionBlockHeader* Grow(void* context, RegionBlockHeader* block, uint32_t rectangles) {
  Collector* collector = static_cast<Collector*>(context);
  if (rectangles > collector->growLimit) return nullptr;
  collector->growths.push_back(rectangles);
  return static_cast<RegionBlockHeader*>(realloc(block, RegionBlockBytes(rectangles)));
}

bool Flush(void* context, const RegionBlockHeader* block) {
  Collector* collector = static_cast<Collector*>(context);
  EXPECT_EQ(block->size, 32u);
  EXPECT_EQ(block->type, RegionTypeRectangles);
  const SkinRect* rects = RegionBlockRects(block);
  collector->batches.emplace_back(rects, rects + block->count);
  collector->bounds.push_back(block->bound);
  return true;
}

bool Scan(const Picture& picture, uint32_t batchLimit, Collector* collector, uint32_t tolerance = 0) {
  uint32_t capacity = RegionGrowRects;
  RegionBlockHeader* block = static_cast<RegionBlockHeader*>(malloc(RegionBlockBytes(capacity)));
  ResetRegionBlock(block);
  RegionScanHooks hooks = {collector, Grow, Flush};
  bool ok = ScanOpaqueRuns(picture.bytes.data(), picture.stride, picture.width, picture.height,
                           MakeKeyRange(Key, tolerance), batchLimit, &block, &capacity, hooks);
  free(block);
  return ok;
}

std::vector<SkinRect> All(const Collector& collector) {
  std::vector<SkinRect> all;
  for (const auto& batch : collector.batches) all.insert(all.end(), batch.begin(), batch.end());
  return all;
}

TEST(RegionScan, OpaqueRunsBecomeOnePixelHighRectangles) {
  Picture picture(8, 3, 0x00808080);
  // Row 0: holes at 0, 3, 4 and 7. Row 1: no hole. Row 2: all key.
  for (int32_t x : {0, 3, 4, 7}) picture.Set(x, 0, Key);
  for (int32_t x = 0; x < 8; ++x) picture.Set(x, 2, Key);
  Collector collector;
  ASSERT_TRUE(Scan(picture, RegionBatchRects, &collector));
  ASSERT_EQ(collector.batches.size(), 1u);
  std::vector<SkinRect> expected = {{1, 0, 3, 1}, {5, 0, 7, 1}, {0, 1, 8, 2}};
  EXPECT_EQ(collector.batches[0], expected);
  EXPECT_TRUE(collector.bounds[0] == (SkinRect{0, 0, 8, 2}));
}

TEST(RegionScan, TopRowOfThePictureIsTheLastRowOfTheBuffer) {
  Picture picture(4, 2, Key);
  picture.Set(2, 0, 0x00000000);  // only the picture's top row has an opaque pixel
  Collector collector;
  ASSERT_TRUE(Scan(picture, RegionBatchRects, &collector));
  std::vector<SkinRect> expected = {{2, 0, 3, 1}};
  EXPECT_EQ(All(collector), expected);
}

TEST(RegionScan, OnlyTheExactKeyIsCutWithZeroTolerance) {
  Picture picture(5, 1, Key);
  picture.Set(0, 0, 0x0000FF01);  // red + 1
  picture.Set(1, 0, 0x0000FE00);  // green - 1
  picture.Set(2, 0, 0x0001FF00);  // blue + 1
  Collector collector;
  ASSERT_TRUE(Scan(picture, RegionBatchRects, &collector));
  std::vector<SkinRect> expected = {{0, 0, 3, 1}};
  EXPECT_EQ(All(collector), expected);

  // A tolerance widens the range upwards only, and stops at 255.
  Collector tolerant;
  ASSERT_TRUE(Scan(picture, RegionBatchRects, &tolerant, 0x00010101));
  expected = {{1, 0, 2, 1}};
  EXPECT_EQ(All(tolerant), expected);
  KeyRange range = MakeKeyRange(0x00F0FFF0, 0x00202020);
  EXPECT_EQ(range.high[0], 255);
  EXPECT_EQ(range.high[1], 255);
  EXPECT_EQ(range.low[1], 255);
}

TEST(RegionScan, PictureWithoutKeyIsTheFullRectangleAndAllKeyIsEmpty) {
  Picture solid(SkinWidth, SkinHeight, 0x00336699);
  Collector collector;
  ASSERT_TRUE(Scan(solid, RegionBatchRects, &collector));
  std::vector<SkinRect> rects = All(collector);
  ASSERT_EQ(rects.size(), size_t(SkinHeight));
  for (int32_t y = 0; y < SkinHeight; ++y) EXPECT_TRUE(rects[y] == (SkinRect{0, y, SkinWidth, y + 1}));
  EXPECT_TRUE(collector.bounds.back() == (SkinRect{0, 0, SkinWidth, SkinHeight}));

  Picture empty(SkinWidth, SkinHeight, Key);
  Collector none;
  ASSERT_TRUE(Scan(empty, RegionBatchRects, &none));
  // The closing batch still comes, empty and with the start bounds.
  ASSERT_EQ(none.batches.size(), 1u);
  EXPECT_TRUE(none.batches[0].empty());
  EXPECT_TRUE(none.bounds[0] == (SkinRect{0x7FFFFFFF, 0x7FFFFFFF, 0, 0}));
  EXPECT_TRUE(none.growths.empty());
}

TEST(RegionScan, BatchesGiveTheSameRectanglesAsOneBatch) {
  // Every other pixel is key: 200 runs per row, 40,000 in all.
  Picture stripes(SkinWidth, SkinHeight, 0x00101010);
  for (int32_t y = 0; y < SkinHeight; ++y)
    for (int32_t x = (y & 1); x < SkinWidth; x += 2) stripes.Set(x, y, Key);

  Collector batched;
  ASSERT_TRUE(Scan(stripes, RegionBatchRects, &batched));
  Collector single;
  ASSERT_TRUE(Scan(stripes, 1000000, &single));

  ASSERT_EQ(single.batches.size(), 1u);
  EXPECT_EQ(single.batches[0].size(), 40000u);
  EXPECT_EQ(All(batched), All(single));
  // 20 full batches and the empty closing one; each bound covers its batch only.
  ASSERT_EQ(batched.batches.size(), 21u);
  for (size_t i = 0; i < 20; ++i) {
    ASSERT_EQ(batched.batches[i].size(), RegionBatchRects);
    SkinRect bound = batched.bounds[i];
    EXPECT_EQ(bound.top, int32_t(i * 10));
    EXPECT_EQ(bound.bottom, int32_t(i * 10 + 10));
    EXPECT_EQ(bound.left, 0);
    EXPECT_EQ(bound.right, SkinWidth);
  }
  EXPECT_TRUE(batched.batches[20].empty());
  // The block grows 100 rectangles at a time and never past one batch.
  ASSERT_FALSE(batched.growths.empty());
  EXPECT_EQ(batched.growths.front(), 200u);
  EXPECT_EQ(batched.growths.back(), RegionBatchRects);
  EXPECT_EQ(batched.growths.size(), size_t(RegionBatchRects / RegionGrowRects - 1));
}

TEST(RegionScan, FailedGrowthEndsTheScan) {
  Picture stripes(SkinWidth, 4, 0x00101010);
  for (int32_t x = 0; x < SkinWidth; x += 2) stripes.Set(x, 1, Key);
  Collector collector;
  collector.growLimit = 150;
  EXPECT_FALSE(Scan(stripes, RegionBatchRects, &collector));
  EXPECT_TRUE(collector.batches.empty());
}

TEST(HotAreas, BoundsAreInclusiveAndTheGapHitsNothing) {
  bool inArea = true;
  int32_t hot = 5;
  struct Case {
    int32_t x, y;
    int32_t index;
  } cases[] = {
      {113, 156, 0}, {190, 179, 0}, {150, 170, 0},   // OK, corners included
      {191, 160, -1}, {201, 179, -1},                // gap between the buttons
      {202, 156, 1}, {279, 179, 1},                  // Cancel
      {280, 160, -1}, {112, 160, -1}, {150, 155, -1}, {150, 180, -1}, {0, 0, -1},
  };
  for (const Case& c : cases) {
    bool hit = HitTestAreaTable(InitialHotAreas, c.x, c.y, &inArea, &hot);
    EXPECT_EQ(hot, c.index) << c.x << "," << c.y;
    EXPECT_EQ(hit, c.index >= 0);
    EXPECT_EQ(inArea, c.index >= 0);
  }
  // Button pictures are 77 x 23; the clickable area one pixel more each way.
  for (const HotArea& area : InitialHotAreas) {
    EXPECT_EQ(area.right - area.left, ButtonWidth);
    EXPECT_EQ(area.bottom - area.top, ButtonHeight);
    EXPECT_EQ(area.state, 0u);
  }
}

TEST(ButtonPress, OkStartsOnceCancelClosesOnlyWhileIdle) {
  PressAction drag = PressActionFor(false, -1, 0);
  EXPECT_TRUE(drag.drag);
  EXPECT_EQ(drag.drawPressed, -1);
  EXPECT_FALSE(drag.startInstall || drag.close);

  PressAction ok = PressActionFor(true, HotAreaOk, 0);
  EXPECT_FALSE(ok.drag);
  EXPECT_EQ(ok.drawPressed, HotAreaOk);
  EXPECT_TRUE(ok.startInstall);
  EXPECT_FALSE(ok.close);

  PressAction cancel = PressActionFor(true, HotAreaCancel, 0);
  EXPECT_EQ(cancel.drawPressed, HotAreaCancel);
  EXPECT_TRUE(cancel.close);
  EXPECT_FALSE(cancel.startInstall);

  // Busy: both buttons still show the pressed picture and do nothing more.
  for (int32_t index : {HotAreaOk, HotAreaCancel}) {
    PressAction busy = PressActionFor(true, index, 1);
    EXPECT_EQ(busy.drawPressed, index);
    EXPECT_FALSE(busy.startInstall || busy.close || busy.drag);
  }
}

TEST(Captions, LeftEdgeCentresSixPixelCharacters) {
  EXPECT_TRUE(CaptionRect(HotAreaOk, 2) == (SkinRect{143, 156, 190, 179}));
  EXPECT_TRUE(CaptionRect(HotAreaCancel, 6) == (SkinRect{220, 156, 279, 179}));
  // Odd lengths truncate; long captions start left of the button and are cut at its right edge.
  EXPECT_TRUE(CaptionRect(HotAreaOk, 5) == (SkinRect{137, 156, 190, 179}));
  EXPECT_TRUE(CaptionRect(HotAreaCancel, 19) == (SkinRect{184, 156, 279, 179}));
  EXPECT_TRUE(CaptionRect(HotAreaOk, 0) == (SkinRect{149, 156, 190, 179}));
}

TEST(Skins, DepthChoosesTheBitmapPair) {
  EXPECT_STREQ(SkinFileName(8, false), "Install_Gn_16.bmp");
  EXPECT_STREQ(SkinFileName(4, true), "Install_Gd_16.bmp");
  EXPECT_STREQ(SkinFileName(16, false), "Install_Gn_24.bmp");
  EXPECT_STREQ(SkinFileName(32, true), "Install_Gd_24.bmp");
}

}  // namespace
