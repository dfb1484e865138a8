#pragma once
// Icon glyphs: the screens name icons by their "Segoe MDL2 Assets" code points; on this platform
// they are drawn from Material Icons, which the font aliases give that family name.
#include <span>
#include <string>
#include <string_view>

struct IconGlyph {
  char32_t mdl2;      // the code point the screens use
  char32_t material;  // the Material Icons glyph drawn for it
  const char* name;   // what it shows
};

// Every mapped icon, sorted by mdl2.
std::span<const IconGlyph> IconTable();
// The Material Icons code point for an MDL2 code point, or 0 when the table has none.
char32_t MaterialIconFor(char32_t mdl2);
// The text with every MDL2 code point replaced by its Material glyph; private-use code points the
// table does not know are dropped (Material Icons uses the same range for other pictures), other
// characters are kept.
std::wstring IconText(std::wstring_view text);
