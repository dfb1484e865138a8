#pragma once
// Skins: the colour-key table, the deck-colour themes, the built-in skins, ".vxskin" files and
// LoadSkin, the one operation that builds the Palette from the [Look] settings. UI thread.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/palette.h"

// --- Tables ---

// One colour of the Palette: its key in skin files, its label in the skin editor, its field.
struct SkinColourKey {
  const wchar_t* key;
  const wchar_t* label;
  uint32_t Palette::*colour;
};
// In Palette field order, which is also the order of the lines in a written skin file.
extern const std::array<SkinColourKey, kPaletteColours> SkinColourKeys;

// A theme's display name and its colours for decks A to D.
struct DeckColourTheme {
  const wchar_t* name;
  std::array<uint32_t, 4> decks;
};
constexpr int kDeckColourThemes = 5;
// Indexed by [Look] Theme: CLASSIC, NEON, SUNSET, ICE, MONO.
extern const std::array<DeckColourTheme, kDeckColourThemes> DeckColourThemes;

// A skin shipped with the program: only the colours it changes, as (key, 0xRRGGBB) pairs.
struct BuiltinSkin {
  std::wstring name;
  std::vector<std::pair<std::wstring, uint32_t>> colours;
};
// "Veldmix", "Midnight", "Studio", "Ember", "Matrix"; built on the first call, safe against
// concurrent first calls, kept for the life of the process.
const std::vector<BuiltinSkin>& BuiltinSkins();

// --- Skin files ---

// AppDataDir + "Skins", created (with missing parents) on every call; a failure is ignored.
std::wstring SkinsFolder();
// The built-in names in order, then the name of every entry of SkinsFolder() whose extension
// is exactly ".vxskin", in listing order, not de-duplicated.
std::vector<std::wstring> ListSkins();
// Writes the current Pal as a skin file (BOM, CR LF, "[Skin]", "Name=", 21 "Key=RRGGBB" lines),
// whole. The name is written as given. False when the file could not be written (*error then names
// the step and the cause).
bool SaveSkin(const std::wstring& path, const std::wstring& name, std::wstring* error = nullptr);
// A file larger than this is not taken as a skin (a written one is under 1 KiB).
inline constexpr size_t kMaxImportedSkinBytes = 64 * 1024;
// Whether the text has at least one line that sets a colour (a known key, "=").
bool HasSkinColourLine(std::wstring_view text);
// A skin name made fit for a file name: each < > : " / \ | ? * and each character below 32
// becomes "_".
std::wstring SkinFileName(std::wstring_view name);
// A skin-file value read like wcstoul(value, nullptr, 16) with a 32-bit unsigned long (blanks,
// sign and "0x" accepted, stops at the first non-hex character, saturates at FFFFFFFF), masked
// to 24 bits.
uint32_t SkinColourValue(std::wstring_view value);

// --- Applying ---

// Rebuilds Pal: default base colours, the deck colours of [Look] Theme (clamped to 0..4), the
// built-in skin named exactly [Look] Skin, then SkinsFolder()/<Skin>.vxskin when it exists.
// Reports nothing; a bad or unreadable file changes only what it can be read to change.
void LoadSkin();
