// Wrapped, centred text blocks: lines cover every character once, in order, centred in the width;
// the hit-test maps wide-character indices (accents and symbols beyond ASCII) to the glyphs laid
// out, left to right; a word longer than the width breaks inside; markup characters stay text.
#include <gtest/gtest.h>

#include <limits>

#include "platform/text_block.h"

TEST(TextBlock, LinesCoverTheTextCentredAndTheHitTestFollowsWideCharacters) {
  const TextFormat format("Segoe UI", 900, 30.0f);
  const std::wstring text = L"Caf\u00e9 & <b>na\u00efve</b> \u266a d\u00e9j\u00e0 vu again and again";
  const float width = 260.0f;
  std::unique_ptr<TextBlock> block = TextBlock::Create(format, text, width);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->length(), static_cast<int>(text.size()));
  ASSERT_GE(block->lines().size(), 3u);
  int next = 0;
  float top = -1.0f;
  for (const TextBlock::Line& line : block->lines()) {
    EXPECT_EQ(line.firstChar, next);
    EXPECT_GT(line.charCount, 0);
    EXPECT_GT(line.top, top);
    EXPECT_LE(line.width, width + 0.5f);
    // Centred: as much room on the left as on the right (trailing spaces aside).
    EXPECT_NEAR(line.left, (width - line.width) / 2, 12.0f);
    // Within a line the characters run left to right.
    float lastLeft = -1.0f;
    for (int i = line.firstChar; i < line.firstChar + line.charCount; ++i) {
      float left = 0, w = 0;
      ASSERT_TRUE(block->CharacterBox(i, &left, &w));
      EXPECT_GE(left, lastLeft);
      EXPECT_GE(w, 0.0f);
      lastLeft = left;
    }
    next += line.charCount;
    top = line.top;
  }
  EXPECT_EQ(next, block->length());
  EXPECT_NEAR(block->height(), block->lines().back().bottom, 0.01f);
  float left = 0, w = 0;
  EXPECT_FALSE(block->CharacterBox(block->length(), &left, &w));
  EXPECT_FALSE(block->CharacterBox(-1, &left, &w));

  // One word wider than the width breaks between its characters; a bad width makes no block.
  std::unique_ptr<TextBlock> word = TextBlock::Create(format, L"Supercalifragilisticexpialidocious", 120.0f);
  ASSERT_NE(word, nullptr);
  EXPECT_GE(word->lines().size(), 3u);
  EXPECT_EQ(TextBlock::Create(format, L"x", 0.0f), nullptr);
  EXPECT_EQ(TextBlock::Create(format, L"x", std::numeric_limits<float>::quiet_NaN()), nullptr);
}
