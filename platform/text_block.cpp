#include "platform/text_block.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/draw_internal.h"
#include "platform/text.h"

namespace {

constexpr float kMaxBlockWidthDip = 1.0e6f;

// The UTF-8 bytes of the text; NULs (which Pango refuses) and invalid code points become U+FFFD.
// byteOf gets each character's byte offset and the end.
std::string ToUtf8(std::wstring_view text, std::vector<int>* byteOf) {
  std::string out;
  out.reserve(text.size());
  byteOf->assign(text.size() + 1, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    (*byteOf)[i] = static_cast<int>(out.size());
    AppendUtf8(text[i] == 0 ? wchar_t{0xFFFD} : text[i], &out);
  }
  (*byteOf)[text.size()] = static_cast<int>(out.size());
  return out;
}

// The character whose bytes hold the byte offset.
int CharOf(const std::vector<int>& byteOf, int byte) {
  const auto it = std::upper_bound(byteOf.begin(), byteOf.end(), byte);
  return static_cast<int>(it - byteOf.begin()) - 1;
}

float Dip(int pangoUnits) { return static_cast<float>(pangoUnits) / PANGO_SCALE; }

}  // namespace

std::unique_ptr<TextBlock> TextBlock::Create(const TextFormat& format, std::wstring_view text, float maxWidth) {
  if (!std::isfinite(maxWidth) || maxWidth <= 0) return nullptr;
  std::unique_ptr<TextBlock> block(new TextBlock);
  const std::string utf8 = ToUtf8(text, &block->byteOf_);
  PangoLayout* layout = pango_layout_new(static_cast<PangoContext*>(SharedTextContext()));
  if (!layout) return nullptr;
  block->layout_ = layout;
  pango_layout_set_font_description(layout, static_cast<PangoFontDescription*>(format.Description()));
  pango_layout_set_width(layout, static_cast<int>(std::lround(std::min(maxWidth, kMaxBlockWidthDip) * PANGO_SCALE)));
  pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));

  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  block->height_ = Dip(logical.height);
  PangoLayoutIter* iter = pango_layout_get_iter(layout);
  do {
    PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
    PangoRectangle box;
    pango_layout_iter_get_line_extents(iter, nullptr, &box);
    Line l;
    l.firstChar = CharOf(block->byteOf_, line->start_index);
    l.charCount = CharOf(block->byteOf_, line->start_index + line->length) - l.firstChar;
    l.top = Dip(box.y);
    l.bottom = Dip(box.y + box.height);
    l.left = Dip(box.x);
    l.width = Dip(box.width);
    block->width_ = std::max(block->width_, l.width);
    block->lines_.push_back(l);
  } while (pango_layout_iter_next_line(iter));
  pango_layout_iter_free(iter);
  return block;
}

TextBlock::~TextBlock() {
  if (layout_) g_object_unref(static_cast<PangoLayout*>(layout_));
}

bool TextBlock::CharacterBox(int index, float* left, float* width) const {
  if (index < 0 || index >= length()) return false;
  PangoRectangle pos;
  pango_layout_index_to_pos(static_cast<PangoLayout*>(layout_), byteOf_[index], &pos);
  // A right-to-left glyph reports a negative width from its right edge.
  const float x = Dip(pos.x), w = Dip(pos.width);
  *left = w < 0 ? x + w : x;
  *width = std::fabs(w);
  return true;
}

void TextBlock::Draw(DrawSurface& surface, float x, float y) const {
  if (!std::isfinite(x) || !std::isfinite(y) || !surface.Drawable() || !surface.ApplySource()) return;
  cairo_t* cr = static_cast<cairo_t*>(surface.cr_);
  cairo_new_path(cr);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, static_cast<PangoLayout*>(layout_));
}
