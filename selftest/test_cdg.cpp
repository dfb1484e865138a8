#include "selftest/test_cdg.h"

#include <array>
#include <cstring>

#include "karaoke/cdg.h"

namespace {

constexpr uint8_t kGraphicsCommand = 9;
constexpr uint8_t kMemoryPreset = 1, kBorderPreset = 2, kTileBlock = 6, kLoadColoursLow = 30;
constexpr size_t kInstructionByte = 1, kDataByte = 4, kDataBytes = 16;
// Colour 0 blue, 1 white, 2 and 3 two pinks, 4 to 7 black: two 6-bit halves per colour.
constexpr std::array<uint8_t, kDataBytes> kColoursLow = {0x04, 0x0F, 0x3F, 0x3F, 0x3F, 0x0F, 0x3D, 0x0D};
constexpr uint8_t kBlue = 0, kWhite = 1, kPink = 2, kOtherPink = 3;
constexpr int kFirstRow = 7, kLastRow = 10, kFirstColumn = 5, kLastColumn = 44;
constexpr char kTileRows[] = "?!!--!!--!!?";  // twelve rows of six pixel bits

void Append(std::vector<uint8_t>& file, uint8_t instruction, const std::array<uint8_t, kDataBytes>& data) {
  std::array<uint8_t, kCdgPacketBytes> packet{};
  packet[0] = kGraphicsCommand;
  packet[kInstructionByte] = instruction;
  std::memcpy(packet.data() + kDataByte, data.data(), kDataBytes);
  file.insert(file.end(), packet.begin(), packet.end());
}

std::vector<uint8_t> Build() {
  std::vector<uint8_t> file;
  Append(file, kLoadColoursLow, kColoursLow);
  Append(file, kMemoryPreset, {kBlue});
  Append(file, kBorderPreset, {kPink});
  for (int row = kFirstRow; row <= kLastRow; ++row)
    for (int column = kFirstColumn; column <= kLastColumn; ++column) {
      std::array<uint8_t, kDataBytes> tile{};
      tile[0] = kBlue;
      tile[1] = column % 2 == 1 ? kWhite : kOtherPink;
      tile[2] = static_cast<uint8_t>(row);
      tile[3] = static_cast<uint8_t>(column);
      std::memcpy(tile.data() + 4, kTileRows, sizeof kTileRows - 1);
      Append(file, kTileBlock, tile);
    }
  file.resize(kTestCdgPackets * kCdgPacketBytes);
  return file;
}

}  // namespace

std::shared_ptr<const std::vector<uint8_t>> MakeTestCdg() {
  static const auto shared = std::make_shared<const std::vector<uint8_t>>(Build());
  return shared;
}
