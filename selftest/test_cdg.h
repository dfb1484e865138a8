#pragma once
// The karaoke self-test's CD+G graphics: a blue screen with a pink border and four rows of white
// and pink striped tiles in the middle, then silence to 48 s. Any thread.
#include <cstdint>
#include <memory>
#include <vector>

inline constexpr size_t kTestCdgPackets = 14400;  // 48 s at 300 packets a second

// The whole ".cdg" file: kTestCdgPackets packets of 24 bytes, built once and shared.
std::shared_ptr<const std::vector<uint8_t>> MakeTestCdg();
