#pragma once
// A block of text laid out as a DirectWrite text layout is: word-wrapped at a maximum width (a
// word longer than a line breaks between characters), every line centred in that width, the
// first line at the top; with its line metrics and a hit-test of one character. The text is plain
// (never markup). Positions are DIPs from the block's top-left corner. UI thread only.
#include <memory>
#include <string_view>
#include <vector>

#include "platform/draw_surface.h"

class TextBlock {
 public:
  struct Line {
    int firstChar = 0;  // index into the wide text
    int charCount = 0;
    float top = 0, bottom = 0;  // the line's logical box
    float left = 0, width = 0;
  };

  // Null when the width is not positive and finite or the text cannot be laid out.
  static std::unique_ptr<TextBlock> Create(const TextFormat& format, std::wstring_view text, float maxWidth);
  ~TextBlock();
  TextBlock(const TextBlock&) = delete;
  TextBlock& operator=(const TextBlock&) = delete;

  float height() const { return height_; }
  // The widest line's logical width.
  float width() const { return width_; }
  int length() const { return static_cast<int>(byteOf_.size()) - 1; }  // wide characters
  const std::vector<Line>& lines() const { return lines_; }
  // The left edge and the advance width of character `index` (as laid out, in its line); false
  // when the index is outside the text.
  bool CharacterBox(int index, float* left, float* width) const;

  // Draws the block with its top-left corner at (x, y) in the surface's current colour or brush.
  void Draw(DrawSurface& surface, float x, float y) const;

 private:
  TextBlock() = default;
  void* layout_ = nullptr;
  std::vector<int> byteOf_;  // UTF-8 byte offset of each wide character, and the end
  std::vector<Line> lines_;
  float height_ = 0, width_ = 0;
};
