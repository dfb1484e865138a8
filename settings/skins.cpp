#include "settings/skins.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/settings.h"
#include "base/text_file.h"
#include "base/text_parse.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kRgbMask = 0xFFFFFF;
// A skin file is 23 short lines; anything this large is not one, so it is not read.
constexpr size_t kMaxSkinFileBytes = size_t(1) << 20;

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameKey(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// The Palette field that the key names, ignoring letter case; null for an unknown key.
uint32_t Palette::*FindSkinColour(std::wstring_view key) {
  for (const SkinColourKey& row : SkinColourKeys)
    if (SameKey(key, row.key)) return row.colour;
  return nullptr;
}

// The white space of the C locale, which is what wcstoul skips.
bool IsCSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// One line of a skin file: "Key=value" with a known key sets that colour; anything else is
// ignored. The key is not trimmed, so "Text = 1" names no colour.
void ApplySkinLine(std::wstring_view line) {
  size_t eq = line.find(L'=');
  if (line.empty() || eq == std::wstring_view::npos) return;
  uint32_t Palette::*colour = FindSkinColour(line.substr(0, eq));
  if (colour) Pal.*colour = SkinColourValue(line.substr(eq + 1));
}

// Splits at LF, dropping one CR that ends a line, so CR LF and LF files read alike.
void ApplySkinText(std::wstring_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    ApplySkinLine(line);
    start = end + 1;
  }
}

}  // namespace

const std::array<SkinColourKey, kPaletteColours> SkinColourKeys = {{
    {.key = L"Background", .label = L"Background", .colour = &Palette::Background},
    {.key = L"Panel", .label = L"Panels", .colour = &Palette::Panel},
    {.key = L"Panel2", .label = L"Panels (raised)", .colour = &Palette::Panel2},
    {.key = L"Panel3", .label = L"Panels (selected)", .colour = &Palette::Panel3},
    {.key = L"Border", .label = L"Borders", .colour = &Palette::Border},
    {.key = L"Text", .label = L"Text", .colour = &Palette::Text},
    {.key = L"Dim", .label = L"Quiet text", .colour = &Palette::Dim},
    {.key = L"Faint", .label = L"Faint text", .colour = &Palette::Faint},
    {.key = L"WaveBg", .label = L"Waveform background", .colour = &Palette::WaveBg},
    {.key = L"WaveLow", .label = L"Waveform bass", .colour = &Palette::WaveLow},
    {.key = L"WaveMid", .label = L"Waveform mids", .colour = &Palette::WaveMid},
    {.key = L"WaveHigh", .label = L"Waveform highs", .colour = &Palette::WaveHigh},
    {.key = L"Green", .label = L"Green (play, loops)", .colour = &Palette::Green},
    {.key = L"Yellow", .label = L"Yellow (cue)", .colour = &Palette::Yellow},
    {.key = L"Red", .label = L"Red (record, warnings)", .colour = &Palette::Red},
    {.key = L"Purple", .label = L"Purple (effects, keys)", .colour = &Palette::Purple},
    {.key = L"Pink", .label = L"Pink (karaoke, sandbox)", .colour = &Palette::Pink},
    {.key = L"DeckA", .label = L"Deck A", .colour = &Palette::DeckA},
    {.key = L"DeckB", .label = L"Deck B", .colour = &Palette::DeckB},
    {.key = L"DeckC", .label = L"Deck C", .colour = &Palette::DeckC},
    {.key = L"DeckD", .label = L"Deck D", .colour = &Palette::DeckD},
}};

const std::array<DeckColourTheme, kDeckColourThemes> DeckColourThemes = {{
    {.name = L"CLASSIC", .decks = {0x1FA8FF, 0xFF5E2B, 0x3CF0B4, 0xD86BFF}},
    {.name = L"NEON", .decks = {0x00E5FF, 0xFF2BD6, 0xB6FF3D, 0xFFC83D}},
    {.name = L"SUNSET", .decks = {0xFF9F1C, 0xFF3B6F, 0xFFD23F, 0x9D6BFF}},
    {.name = L"ICE", .decks = {0x7FD4FF, 0xA9B8FF, 0x5CFFE0, 0xE0E8FF}},
    {.name = L"MONO", .decks = {0xE6E8EE, 0x9AA3B5, 0xC8CCD6, 0x7A8190}},
}};

const std::vector<BuiltinSkin>& BuiltinSkins() {
  static const std::vector<BuiltinSkin> skins = {
      {.name = L"Veldmix", .colours = {}},
      {.name = L"Midnight",
       .colours = {{L"Background", 0x05070F}, {L"Panel", 0x0E1322}, {L"Panel2", 0x172035},
                   {L"Panel3", 0x22304D}, {L"Border", 0x1E2A44}, {L"Text", 0xE6EEFF},
                   {L"Dim", 0x7F8CB0}, {L"Faint", 0x3C4766}, {L"WaveBg", 0x03050C},
                   {L"WaveLow", 0x3D7BFF}, {L"WaveMid", 0x8F6BFF}, {L"WaveHigh", 0xDDE6FF},
                   {L"DeckA", 0x3DA9FF}, {L"DeckB", 0xB57BFF}, {L"DeckC", 0x2BF5C8},
                   {L"DeckD", 0xFF6BD6}}},
      {.name = L"Studio",
       .colours = {{L"Background", 0x101112}, {L"Panel", 0x1A1C1E}, {L"Panel2", 0x24272A},
                   {L"Panel3", 0x2F3337}, {L"Border", 0x2E3236}, {L"Text", 0xECECEC},
                   {L"Dim", 0x9A9FA5}, {L"Faint", 0x555A60}, {L"WaveBg", 0x0B0C0D},
                   {L"WaveLow", 0x4AA3FF}, {L"WaveMid", 0xE0E0E0}, {L"WaveHigh", 0xFFFFFF},
                   {L"Green", 0x5FD38D}, {L"Yellow", 0xF2C14E}, {L"Red", 0xF25F5C},
                   {L"Purple", 0xA78BFA}, {L"Pink", 0xF472B6}, {L"DeckA", 0x4AA3FF},
                   {L"DeckB", 0xF2994A}, {L"DeckC", 0x5FD38D}, {L"DeckD", 0xA78BFA}}},
      {.name = L"Ember",
       .colours = {{L"Background", 0x0C0706}, {L"Panel", 0x1A100D}, {L"Panel2", 0x261813},
                   {L"Panel3", 0x33211A}, {L"Border", 0x3A2419}, {L"Text", 0xFFF1E8},
                   {L"Dim", 0xB08F80}, {L"Faint", 0x5E4337}, {L"WaveBg", 0x080403},
                   {L"WaveLow", 0xFF6A2B}, {L"WaveMid", 0xFFC247}, {L"WaveHigh", 0xFFF3E0},
                   {L"DeckA", 0xFF8A3D}, {L"DeckB", 0xFF3D6E}, {L"DeckC", 0xFFD23F},
                   {L"DeckD", 0xC77DFF}}},
      {.name = L"Matrix",
       .colours = {{L"Background", 0x020604}, {L"Panel", 0x07130C}, {L"Panel2", 0x0C1F14},
                   {L"Panel3", 0x122C1D}, {L"Border", 0x143322}, {L"Text", 0xD8FFE6},
                   {L"Dim", 0x6FB58A}, {L"Faint", 0x2E5A40}, {L"WaveBg", 0x010302},
                   {L"WaveLow", 0x21E07A}, {L"WaveMid", 0x9BFFB8}, {L"WaveHigh", 0xEFFFF4},
                   {L"Green", 0x21E07A}, {L"DeckA", 0x21E07A}, {L"DeckB", 0x00D1FF},
                   {L"DeckC", 0xB6FF3D}, {L"DeckD", 0xFFD23F}}},
  };
  return skins;
}

std::wstring SkinsFolder() {
  std::wstring folder = JoinPath(AppDataDir(), L"Skins");
  CreateFolderTree(folder);
  return folder;
}

std::vector<std::wstring> ListSkins() {
  std::vector<std::wstring> names;
  for (const BuiltinSkin& skin : BuiltinSkins()) names.push_back(skin.name);
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(fs::path(PathToBytes(SkinsFolder())), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& entry = it->path();
    if (entry.extension() == ".vxskin") names.push_back(PathFromBytes(entry.stem().native()));
  }
  return names;
}

bool SaveSkin(const std::wstring& path, const std::wstring& name, std::wstring* error) {
  std::wstring text = L"[Skin]\r\nName=" + name + L"\r\n";
  for (const SkinColourKey& row : SkinColourKeys)
    text += fmt::format(L"{}={:06X}\r\n", row.key, Pal.*row.colour & kRgbMask);
  return WriteUtf8File(path, text, error);
}

bool HasSkinColourLine(std::wstring_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring_view::npos) end = text.size();
    const std::wstring_view line = text.substr(start, end - start);
    const size_t eq = line.find(L'=');
    if (eq != std::wstring_view::npos && FindSkinColour(line.substr(0, eq))) return true;
    start = end + 1;
  }
  return false;
}

std::wstring SkinFileName(std::wstring_view name) {
  std::wstring out(name);
  for (wchar_t& c : out)
    if (c < 32 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) c = L'_';
  return out;
}

uint32_t SkinColourValue(std::wstring_view value) {
  constexpr uint64_t kULongMax = 0xFFFFFFFF;  // the format was defined with a 32-bit unsigned long
  size_t i = 0;
  while (i < value.size() && IsCSpace(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) negative = value[i++] == L'-';
  // A bare "0x" reads as the digit 0 either way, so the prefix can be skipped unconditionally.
  if (i + 1 < value.size() && value[i] == L'0' && (value[i + 1] == L'x' || value[i + 1] == L'X')) i += 2;
  uint64_t number = 0;
  bool overflow = false;
  for (; i < value.size() && HexDigitValue(value[i]) >= 0; ++i) {
    number = number * 16 + static_cast<uint64_t>(HexDigitValue(value[i]));
    overflow = overflow || number > kULongMax;  // once set, later wrapping cannot matter
  }
  uint32_t result = overflow ? static_cast<uint32_t>(kULongMax) : static_cast<uint32_t>(number);
  if (negative && !overflow) result = 0u - result;
  return result & kRgbMask;
}

void LoadSkin() {
  for (int i = 0; i < kPaletteBaseColours; ++i) {
    uint32_t Palette::*colour = SkinColourKeys[i].colour;
    Pal.*colour = kDefaultPalette.*colour;
  }

  const int theme = std::clamp(Settings.Theme, 0, kDeckColourThemes - 1);
  const std::array<uint32_t, 4>& decks = DeckColourThemes[theme].decks;
  Pal.DeckA = decks[0];
  Pal.DeckB = decks[1];
  Pal.DeckC = decks[2];
  Pal.DeckD = decks[3];

  for (const BuiltinSkin& skin : BuiltinSkins()) {
    if (skin.name != Settings.Skin) continue;
    for (const auto& [key, rgb] : skin.colours)
      if (uint32_t Palette::*colour = FindSkinColour(key)) Pal.*colour = rgb;
  }

  if (Settings.Skin.empty()) return;
  std::wstring path = JoinPath(SkinsFolder(), Settings.Skin + L".vxskin");
  ApplySkinText(ReadTextFile(path, nullptr, kMaxSkinFileBytes));
}
