#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "karaoke/cdg.h"

// The pictures are compared with FFmpeg's own CD+G decoder by tests/e2e/cdg_tool.sh.

namespace {

using Packet = std::array<uint8_t, kCdgPacketBytes>;

constexpr uint8_t kTv = 9;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

Packet MakePacket(uint8_t command, uint8_t instruction, std::initializer_list<uint8_t> data) {
  Packet p{};
  p[0] = command;
  p[1] = instruction;
  p[2] = 0xAA;  // parity bytes carry noise on real discs
  p[3] = 0x55;
  size_t i = 4;
  for (uint8_t b : data) p[i++] = b;
  p[20] = p[21] = p[22] = p[23] = 0xFF;
  return p;
}

// A tile whose twelve rows all hold `bits`.
Packet Tile(uint8_t instruction, uint8_t colour0, uint8_t colour1, uint8_t row, uint8_t column, uint8_t bits) {
  Packet p = MakePacket(kTv, instruction, {colour0, colour1, row, column});
  for (int r = 0; r < 12; ++r) p[8 + r] = bits;
  return p;
}

class Cdg : public ::testing::Test {
 protected:
  void SetUp() override { CdgReset(d()); }
  CdgDecoder& d() { return *decoder_; }
  void Run(const Packet& p) { CdgExecute(d(), p); }
  uint8_t CellAt(int x, int y) { return d().screen[static_cast<size_t>(y) * kCdgWidth + x]; }
  void SetCell(int x, int y, uint8_t v) { d().screen[static_cast<size_t>(y) * kCdgWidth + x] = v; }
  // Every cell gets a value from its position, so moves can be traced.
  void Numbered() {
    for (int y = 0; y < kCdgHeight; ++y)
      for (int x = 0; x < kCdgWidth; ++x) SetCell(x, y, static_cast<uint8_t>((x * 7 + y * 3) & 15));
  }
  static uint8_t NumberAt(int x, int y) { return static_cast<uint8_t>((x * 7 + y * 3) & 15); }
  uint32_t PixelAt(int x, int y) {
    d().dirty = true;
    return CdgRender(d())[static_cast<size_t>(y) * kCdgWidth + x];
  }
  // Colour i of the palette becomes 0xFF000000 | i, so a pixel names its cell.
  void IndexPalette() {
    for (int i = 0; i < kCdgColours; ++i) d().palette[i] = 0xFF000000u | static_cast<uint32_t>(i);
  }

  std::unique_ptr<CdgDecoder> decoder_ = std::make_unique<CdgDecoder>();
};

}  // namespace

TEST(CdgTables, InstructionRowsAreDistinctAndComplete) {
  std::set<int> numbers;
  std::set<std::string> names;
  for (const CdgInstructionRow& row : kCdgInstructions) {
    EXPECT_LT(row.number, 64) << "instructions are six bits";
    EXPECT_NE(row.execute, nullptr) << row.name;
    EXPECT_TRUE(numbers.insert(row.number).second) << "twice: " << int(row.number);
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
  }
  EXPECT_EQ(numbers, (std::set<int>{1, 2, 6, 20, 24, 30, 31, 38}));
}

TEST_F(Cdg, ResetShowsOpaqueBlackEverywhere) {
  Numbered();
  d().played = 9;
  d().panH = 3;
  CdgReset(d());
  EXPECT_EQ(d().played, 0u);
  EXPECT_EQ(d().panH, 0);
  const std::vector<uint32_t>& picture = CdgRender(d());
  ASSERT_EQ(picture.size(), size_t(kCdgWidth) * kCdgHeight);
  for (uint32_t p : picture) ASSERT_EQ(p, kCdgOpaqueBlack);
  EXPECT_FALSE(d().dirty);
}

TEST_F(Cdg, ColourTablesLoadTheirHalf) {
  Run(MakePacket(kTv, 30, {0x3F, 0x3F, 0x12, 0x34}));
  EXPECT_EQ(d().palette[0], kWhite);
  // red (0x12 >> 2) & 15 = 4, green (2 << 2) | 3 = 11, blue 4.
  EXPECT_EQ(d().palette[1], 0xFF44BB44u);
  EXPECT_EQ(d().palette[2], kCdgOpaqueBlack);
  EXPECT_EQ(d().palette[8], kCdgOpaqueBlack) << "the low load leaves the high half";
  Run(MakePacket(kTv, 31, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x0F}));
  EXPECT_EQ(d().palette[15], 0xFF0000FFu) << "bits above the six colour bits are not colour";
  EXPECT_EQ(d().palette[0], kWhite);
}

TEST_F(Cdg, TilesDrawSixBitRowsInRangeOnly) {
  Run(Tile(6, 2, 9, 17, 49, 0b100001));
  for (int y = 204; y < 216; ++y) {
    EXPECT_EQ(CellAt(294, y), 9);
    EXPECT_EQ(CellAt(295, y), 2);
    EXPECT_EQ(CellAt(299, y), 9);
  }
  EXPECT_EQ(CellAt(293, 210), 0);
  Packet rows = Tile(6, 1, 3, 0, 0, 0);
  rows[8] = 0b111000;   // row 0
  rows[19] = 0b000111;  // row 11
  Run(rows);
  EXPECT_EQ(CellAt(0, 0), 3);
  EXPECT_EQ(CellAt(3, 0), 1);
  EXPECT_EQ(CellAt(0, 11), 1);
  EXPECT_EQ(CellAt(5, 11), 3);

  const auto before = d().screen;
  Run(Tile(6, 5, 5, 18, 3, 63));
  Run(Tile(6, 5, 5, 3, 50, 63));
  Run(Tile(38, 5, 5, 31, 63, 63));
  EXPECT_EQ(d().screen, before);
  // Upper bits of the row and column bytes are not part of them: row 0x25 is row 5.
  Run(Tile(6, 7, 7, 0x20 | 5, 0x40 | 2, 63));
  EXPECT_EQ(CellAt(12, 60), 7);
}

TEST_F(Cdg, XorTileTwiceRestoresWhatWasUnder) {
  Numbered();
  const auto before = d().screen;
  Run(Tile(38, 6, 11, 4, 7, 0b101100));
  EXPECT_EQ(CellAt(42, 48), NumberAt(42, 48) ^ 11);
  EXPECT_EQ(CellAt(43, 48), NumberAt(43, 48) ^ 6);
  EXPECT_NE(d().screen, before);
  Run(Tile(38, 6, 11, 4, 7, 0b101100));
  EXPECT_EQ(d().screen, before);
}

TEST_F(Cdg, PresetsPaintTheScreenAndTheBorder) {
  IndexPalette();
  Run(MakePacket(kTv, 1, {0x17, 5}));  // colour 7; the repeat count does not matter
  EXPECT_EQ(CellAt(0, 0), 7);
  EXPECT_EQ(CellAt(150, 100), 7);
  // The border shown comes from `border` alone.
  EXPECT_EQ(PixelAt(0, 0), 0xFF000000u);
  EXPECT_EQ(PixelAt(150, 100), 0xFF000007u);

  Run(MakePacket(kTv, 2, {0x2C}));
  EXPECT_EQ(d().border, 12);
  EXPECT_EQ(CellAt(5, 100), 12);
  EXPECT_EQ(CellAt(294, 100), 12);
  EXPECT_EQ(CellAt(150, 11), 12);
  EXPECT_EQ(CellAt(150, 204), 12);
  EXPECT_EQ(CellAt(6, 12), 7);
  EXPECT_EQ(CellAt(293, 203), 7);
  EXPECT_EQ(PixelAt(299, 215), 0xFF00000Cu);
  EXPECT_EQ(PixelAt(6, 12), 0xFF000007u);
}

TEST_F(Cdg, ScrollCopyWrapsAndScrollPresetFills) {
  Numbered();
  Run(MakePacket(kTv, 24, {4, 2 << 4, 0}));  // copy, left by 6
  for (int y : {0, 100, 215}) {
    EXPECT_EQ(CellAt(294, y), NumberAt(0, y));
    EXPECT_EQ(CellAt(299, y), NumberAt(5, y));
    EXPECT_EQ(CellAt(0, y), NumberAt(6, y));
  }
  Numbered();
  Run(MakePacket(kTv, 20, {4, 2 << 4, 0}));  // preset, left by 6
  EXPECT_EQ(CellAt(294, 50), 4);
  EXPECT_EQ(CellAt(299, 50), 4);
  EXPECT_EQ(CellAt(293, 50), NumberAt(299, 50));

  Numbered();
  Run(MakePacket(kTv, 24, {0, 0, 1 << 4}));  // copy, down by 12
  EXPECT_EQ(CellAt(10, 0), NumberAt(10, 204));
  EXPECT_EQ(CellAt(10, 12), NumberAt(10, 0));
  Numbered();
  Run(MakePacket(kTv, 20, {9, 0, 2 << 4}));  // preset, up by 12
  EXPECT_EQ(CellAt(10, 0), NumberAt(10, 12));
  EXPECT_EQ(CellAt(10, 204), 9);
  EXPECT_EQ(CellAt(10, 215), 9);

  Numbered();
  Run(MakePacket(kTv, 24, {0, 1 << 4, 1 << 4}));  // copy, right and down: a diagonal wrap
  EXPECT_EQ(CellAt(0, 0), NumberAt(294, 204));
  EXPECT_EQ(CellAt(3, 100), NumberAt(297, 88));
  EXPECT_EQ(CellAt(100, 5), NumberAt(94, 209));
  Numbered();
  Run(MakePacket(kTv, 20, {1, 1 << 4, 1 << 4}));  // preset, right and down
  EXPECT_EQ(CellAt(0, 100), 1);
  EXPECT_EQ(CellAt(100, 0), 1);
  EXPECT_EQ(CellAt(100, 100), NumberAt(94, 88));
}

TEST_F(Cdg, ScrollWithoutMoveOnlySetsThePans) {
  Numbered();
  const auto before = d().screen;
  Run(MakePacket(kTv, 24, {3, 0x37, 0x3F}));  // move command 3: no move; pans 7 and 15 clamp
  EXPECT_EQ(d().screen, before);
  EXPECT_EQ(d().panH, 5);
  EXPECT_EQ(d().panV, 11);
  IndexPalette();
  // The visible window shows cells 5 right and 11 down, clamped to the screen.
  EXPECT_EQ(PixelAt(6, 12), 0xFF000000u | NumberAt(11, 23));
  EXPECT_EQ(PixelAt(293, 203), 0xFF000000u | NumberAt(298, 214));
  EXPECT_EQ(PixelAt(5, 12), 0xFF000000u) << "the border is not panned";
}

TEST_F(Cdg, OnlyTheTvGraphicsCommandRuns) {
  Run(MakePacket(8, 1, {5}));
  Run(MakePacket(0x0A, 30, {0x3F, 0x3F}));
  Run(MakePacket(kTv, 28, {1, 2, 3}));  // transparency: not part of this decoder
  Run(MakePacket(kTv, 0, {1, 2, 3}));
  EXPECT_EQ(CellAt(100, 100), 0);
  EXPECT_EQ(d().palette[0], kCdgOpaqueBlack);
  Run(MakePacket(0xC0 | kTv, 0x40 | 1, {5}));  // the upper two bits of both bytes are ignored
  EXPECT_EQ(CellAt(100, 100), 5);
}

TEST_F(Cdg, RenderRunsOnlyWhenDirty) {
  IndexPalette();
  SetCell(100, 100, 3);
  d().dirty = false;
  EXPECT_EQ(CdgRender(d())[100 * kCdgWidth + 100], kCdgOpaqueBlack) << "the old picture stays";
  d().dirty = true;
  EXPECT_EQ(CdgRender(d())[100 * kCdgWidth + 100], 0xFF000003u);
  EXPECT_FALSE(d().dirty);
}

TEST_F(Cdg, PlayingReplaysFromTheStartWhenSeekingBack) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  auto add = [&](const Packet& p) { bytes->insert(bytes->end(), p.begin(), p.end()); };
  add(MakePacket(kTv, 30, {0x3F, 0x3F, 0x3F, 0x00}));  // 0 white, 1 red
  for (int i = 0; i < 299; ++i) add(MakePacket(kTv, 0, {}));
  add(Tile(6, 0, 1, 5, 5, 63));  // packet 300: at 1.0 s
  for (int i = 0; i < 10; ++i) add(Tile(38, 0, 1, 6, 6, 63));
  bytes->insert(bytes->end(), 23, 0x09);  // a trailing part: ignored
  ASSERT_TRUE(CdgLoad(d(), bytes));
  EXPECT_EQ(CdgPacketCount(*bytes), 311u);

  EXPECT_TRUE(CdgPlayTo(d(), 1.0));
  EXPECT_EQ(d().played, 300u) << "packets before 1.0 s";
  EXPECT_EQ(CellAt(30, 60), 0);
  EXPECT_FALSE(CdgPlayTo(d(), 1.002)) << "still packet 300: nothing runs";
  EXPECT_TRUE(CdgPlayTo(d(), 1.0034));
  EXPECT_EQ(CellAt(30, 60), 1);
  EXPECT_TRUE(CdgPlayTo(d(), 1e9));
  EXPECT_EQ(d().played, 311u);
  EXPECT_EQ(CellAt(36, 72), 0) << "ten XOR tiles cancel out";
  const std::vector<uint32_t> late = CdgRender(d());

  CdgPlayTo(d(), 0.5);
  EXPECT_EQ(d().played, 150u);
  EXPECT_EQ(CellAt(30, 60), 0);
  EXPECT_EQ(d().palette[0], kWhite) << "replayed from the first packet";
  CdgPlayTo(d(), std::nan(""));
  EXPECT_EQ(d().played, 0u);
  CdgPlayTo(d(), -3.0);
  EXPECT_EQ(d().palette[0], kCdgOpaqueBlack);
  CdgPlayTo(d(), 2.0);
  EXPECT_EQ(CdgRender(d()), late);
}

TEST_F(Cdg, FilesAboveTheLimitAreRefused) {
  auto huge = std::make_shared<std::vector<uint8_t>>(kMaxCdgFileBytes + kCdgPacketBytes, 0);
  EXPECT_FALSE(CdgLoad(d(), huge));
  EXPECT_EQ(d().data, nullptr);
  EXPECT_FALSE(CdgPlayTo(d(), 10.0));
  EXPECT_EQ(d().played, 0u);
  EXPECT_FALSE(CdgLoad(d(), nullptr));
}
