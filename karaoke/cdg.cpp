#include "karaoke/cdg.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr uint8_t kCommandMask = 0x3F;  // the low 6 bits of bytes 0 and 1
constexpr uint8_t kTvGraphicsCommand = 9;
constexpr size_t kDataOffset = 4;  // bytes 0-3: command, instruction, parity Q
constexpr size_t kDataBytes = 16;
constexpr uint8_t kColourMask = 0x0F;

constexpr int kTileWidth = 6;    // cells
constexpr int kTileHeight = 12;  // cells
constexpr uint8_t kTileRowMask = 0x1F;
constexpr uint8_t kTileColumnMask = 0x3F;
// A tile whose top-left cell lies at or beyond these is ignored.
constexpr int kTileMaxX = 295;
constexpr int kTileMaxY = 205;

constexpr uint8_t kPanHMask = 0x07;
constexpr uint8_t kPanVMask = 0x0F;
constexpr int32_t kMaxPanH = 5;   // pixels
constexpr int32_t kMaxPanV = 11;  // pixels
constexpr int kScrollCommandShift = 4;
constexpr uint8_t kScrollCommandMask = 0x03;
constexpr uint8_t kScrollForward = 1;   // right or down
constexpr uint8_t kScrollBackward = 2;  // left or up

constexpr int kPaletteHalf = 8;         // entries per colour-table load
constexpr uint32_t kChannelScale = 17;  // a 4-bit channel v becomes the 8-bit v x 17

using Data = std::span<const uint8_t, kDataBytes>;

uint8_t& Cell(CdgDecoder& d, int x, int y) { return d.screen[static_cast<size_t>(y) * kCdgWidth + x]; }

bool InVisibleWindow(int x, int y) {
  return x >= kCdgVisibleLeft && x <= kCdgVisibleRight && y >= kCdgVisibleTop && y <= kCdgVisibleBottom;
}

void MemoryPreset(CdgDecoder& d, Data data) {
  // The repeat count in data[1] only guards against lost packets on a disc: every copy paints.
  d.screen.fill(data[0] & kColourMask);
}

void BorderPreset(CdgDecoder& d, Data data) {
  d.border = data[0] & kColourMask;
  for (int y = 0; y < kCdgHeight; ++y)
    for (int x = 0; x < kCdgWidth; ++x)
      if (!InVisibleWindow(x, y)) Cell(d, x, y) = d.border;
}

void TileBlock(CdgDecoder& d, Data data, bool exclusiveOr) {
  const uint8_t colours[2] = {static_cast<uint8_t>(data[0] & kColourMask),
                              static_cast<uint8_t>(data[1] & kColourMask)};
  const int top = (data[2] & kTileRowMask) * kTileHeight;
  const int left = (data[3] & kTileColumnMask) * kTileWidth;
  if (left >= kTileMaxX || top >= kTileMaxY) return;
  for (int r = 0; r < kTileHeight; ++r) {
    const uint8_t bits = data[4 + r];
    for (int c = 0; c < kTileWidth; ++c) {
      const uint8_t colour = colours[(bits >> (kTileWidth - 1 - c)) & 1];
      uint8_t& cell = Cell(d, left + c, top + r);
      cell = exclusiveOr ? static_cast<uint8_t>((cell ^ colour) & kColourMask) : colour;
    }
  }
}

void TileNormal(CdgDecoder& d, Data data) { TileBlock(d, data, false); }
void TileXor(CdgDecoder& d, Data data) { TileBlock(d, data, true); }

// Cell offset of one scroll command: +step forward, -step backward, 0 otherwise.
int ScrollStep(uint8_t byte, int step) {
  switch ((byte >> kScrollCommandShift) & kScrollCommandMask) {
    case kScrollForward:
      return step;
    case kScrollBackward:
      return -step;
    default:
      return 0;
  }
}

void Scroll(CdgDecoder& d, Data data, bool wrap) {
  const uint8_t fill = data[0] & kColourMask;
  d.panH = std::min<int32_t>(data[1] & kPanHMask, kMaxPanH);
  d.panV = std::min<int32_t>(data[2] & kPanVMask, kMaxPanV);
  const int dx = ScrollStep(data[1], kTileWidth);
  const int dy = ScrollStep(data[2], kTileHeight);
  if (dx == 0 && dy == 0) return;
  d.scratch = d.screen;
  for (int y = 0; y < kCdgHeight; ++y) {
    for (int x = 0; x < kCdgWidth; ++x) {
      int sx = x - dx, sy = y - dy;
      const bool outside = sx < 0 || sx >= kCdgWidth || sy < 0 || sy >= kCdgHeight;
      if (outside && !wrap) {
        Cell(d, x, y) = fill;
        continue;
      }
      sx = (sx + kCdgWidth) % kCdgWidth;
      sy = (sy + kCdgHeight) % kCdgHeight;
      Cell(d, x, y) = d.scratch[static_cast<size_t>(sy) * kCdgWidth + sx];
    }
  }
}

void ScrollPreset(CdgDecoder& d, Data data) { Scroll(d, data, false); }
void ScrollCopy(CdgDecoder& d, Data data) { Scroll(d, data, true); }

void LoadColours(CdgDecoder& d, Data data, int firstEntry) {
  for (int k = 0; k < kPaletteHalf; ++k) {
    const uint8_t first = data[2 * k], second = data[2 * k + 1];
    const uint32_t red = (first >> 2) & 0x0F;
    const uint32_t green = ((first & 0x03u) << 2) | ((second >> 4) & 0x03u);
    const uint32_t blue = second & 0x0Fu;
    d.palette[firstEntry + k] =
        kCdgOpaqueBlack | (red * kChannelScale) << 16 | (green * kChannelScale) << 8 | blue * kChannelScale;
  }
}

void LoadColoursLow(CdgDecoder& d, Data data) { LoadColours(d, data, 0); }
void LoadColoursHigh(CdgDecoder& d, Data data) { LoadColours(d, data, kPaletteHalf); }

constexpr CdgInstructionRow kInstructionRows[] = {
    {.number = 1, .name = "memory preset", .execute = MemoryPreset},
    {.number = 2, .name = "border preset", .execute = BorderPreset},
    {.number = 6, .name = "tile block", .execute = TileNormal},
    {.number = 20, .name = "scroll preset", .execute = ScrollPreset},
    {.number = 24, .name = "scroll copy", .execute = ScrollCopy},
    {.number = 30, .name = "load colours 0-7", .execute = LoadColoursLow},
    {.number = 31, .name = "load colours 8-15", .execute = LoadColoursHigh},
    {.number = 38, .name = "tile block XOR", .execute = TileXor},
};

}  // namespace

const std::span<const CdgInstructionRow> kCdgInstructions{kInstructionRows};

void CdgReset(CdgDecoder& d) {
  d.played = 0;
  d.screen.fill(0);
  d.palette.fill(kCdgOpaqueBlack);
  d.border = 0;
  d.panH = 0;
  d.panV = 0;
  d.dirty = true;
}

void CdgExecute(CdgDecoder& d, std::span<const uint8_t, kCdgPacketBytes> packet) {
  if ((packet[0] & kCommandMask) != kTvGraphicsCommand) return;
  const uint8_t instruction = packet[1] & kCommandMask;
  const Data data = packet.subspan<kDataOffset, kDataBytes>();
  for (const CdgInstructionRow& row : kInstructionRows)
    if (row.number == instruction) return row.execute(d, data);
}

const std::vector<uint32_t>& CdgRender(CdgDecoder& d) {
  if (!d.dirty) return d.pixels;
  d.pixels.resize(static_cast<size_t>(kCdgWidth) * kCdgHeight);
  const uint32_t border = d.palette[d.border & kColourMask];
  for (int y = 0; y < kCdgHeight; ++y) {
    uint32_t* row = d.pixels.data() + static_cast<size_t>(y) * kCdgWidth;
    const int sy = std::min(y + d.panV, kCdgHeight - 1);
    for (int x = 0; x < kCdgWidth; ++x) {
      if (!InVisibleWindow(x, y)) {
        row[x] = border;
        continue;
      }
      const int sx = std::min(x + d.panH, kCdgWidth - 1);
      row[x] = d.palette[d.screen[static_cast<size_t>(sy) * kCdgWidth + sx] & kColourMask];
    }
  }
  d.dirty = false;
  return d.pixels;
}

uint64_t CdgPacketCount(const std::vector<uint8_t>& bytes) { return bytes.size() / kCdgPacketBytes; }

bool CdgLoad(CdgDecoder& d, std::shared_ptr<const std::vector<uint8_t>> data) {
  const bool fits = data && data->size() <= kMaxCdgFileBytes;
  d.data = fits ? std::move(data) : nullptr;
  CdgReset(d);
  return fits;
}

bool CdgPlayTo(CdgDecoder& d, double seconds) {
  const uint64_t count = d.data ? CdgPacketCount(*d.data) : 0;
  const double wanted = seconds * kCdgPacketsPerSecond;
  // NaN and negative positions play nothing; the comparison keeps the cast in range.
  const uint64_t target =
      wanted >= static_cast<double>(count) ? count : (wanted > 0.0 ? static_cast<uint64_t>(wanted) : 0);
  if (target < d.played) CdgReset(d);
  if (target == d.played) return false;
  const uint8_t* bytes = d.data->data();
  for (; d.played < target; ++d.played)
    CdgExecute(d, std::span<const uint8_t, kCdgPacketBytes>(bytes + d.played * kCdgPacketBytes, kCdgPacketBytes));
  d.dirty = true;
  return true;
}
