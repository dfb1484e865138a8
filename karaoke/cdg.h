#pragma once
// CD+G subcode graphics (TV-graphics mode): the decoder the karaoke screen feeds with a ".cdg"
// file's packets as the track plays. Memory and border presets, tile blocks (normal and XOR),
// scrolls (preset and copy, with the smooth-scroll pans) and the two colour-table loads.
// UI thread only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "karaoke/lyrics_sources.h"  // kCdgPacketBytes, kMaxCdgFileBytes

// The whole screen, border area included, in cells (one cell = one pixel).
inline constexpr int kCdgWidth = 300;
inline constexpr int kCdgHeight = 216;
// The visible window: columns kCdgVisibleLeft..kCdgVisibleRight, rows kCdgVisibleTop..kCdgVisibleBottom.
inline constexpr int kCdgVisibleLeft = 6;
inline constexpr int kCdgVisibleRight = 293;
inline constexpr int kCdgVisibleTop = 12;
inline constexpr int kCdgVisibleBottom = 203;
inline constexpr int kCdgPacketsPerSecond = 300;
inline constexpr int kCdgColours = 16;
inline constexpr uint32_t kCdgOpaqueBlack = 0xFF000000u;

struct CdgDecoder {
  std::shared_ptr<const std::vector<uint8_t>> data;  // the ".cdg" bytes
  uint64_t played = 0;                               // packets executed since the last reset
  std::array<uint8_t, kCdgWidth * kCdgHeight> screen{};  // colour indices 0..15, row after row
  std::array<uint32_t, kCdgColours> palette{};           // 0xAARRGGBB
  uint8_t border = 0;                                    // colour index of the border
  int32_t panH = 0;  // 0..5 pixels
  int32_t panV = 0;  // 0..11 pixels
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kCdgWidth * kCdgHeight, kCdgOpaqueBlack);
  bool dirty = true;  // the picture must be rendered again
  std::array<uint8_t, kCdgWidth * kCdgHeight> scratch{};  // a scroll's copy of the screen
};

// One instruction of the TV-graphics command: its number (low 6 bits of byte 1) and its action.
struct CdgInstructionRow {
  uint8_t number;
  const char* name;
  void (*execute)(CdgDecoder& decoder, std::span<const uint8_t, 16> data);
};
extern const std::span<const CdgInstructionRow> kCdgInstructions;

// Played 0, every cell 0, every colour opaque black, border 0, pans 0, dirty set.
void CdgReset(CdgDecoder& decoder);
// Executes one packet (command 9 only; other commands and unknown instructions do nothing).
// Leaves `dirty` alone: the caller sets it.
void CdgExecute(CdgDecoder& decoder, std::span<const uint8_t, kCdgPacketBytes> packet);
// The 300 x 216 picture (0xAARRGGBB, alpha 255): the visible window shows the cells offset by the
// pans, the rest shows the border colour. Rendered again only when dirty, which it then clears.
const std::vector<uint32_t>& CdgRender(CdgDecoder& decoder);

// --- Playing a file ---
// Whole packets in the bytes (a trailing part shorter than a packet is ignored).
uint64_t CdgPacketCount(const std::vector<uint8_t>& bytes);
// Shows a new file: sets `data` and resets. A file above kMaxCdgFileBytes is refused (false, the
// decoder then holds no data and shows black).
bool CdgLoad(CdgDecoder& decoder, std::shared_ptr<const std::vector<uint8_t>> data);
// Brings the screen to the playback position: packets up to floor(seconds x 300), at most the
// file's count, are executed; a position before what was played replays the file from its start.
// Sets dirty when any packet ran; true then.
bool CdgPlayTo(CdgDecoder& decoder, double seconds);
