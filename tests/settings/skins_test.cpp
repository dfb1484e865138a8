#include "settings/skins.h"

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "base/palette.h"
#include "base/settings.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "support/temp_home.h"

namespace {

const std::vector<std::wstring> kBuiltinNames = {L"Veldmix", L"Midnight", L"Studio", L"Ember", L"Matrix"};

size_t OffsetOf(uint32_t Palette::*colour) {
  static Palette probe{};
  return reinterpret_cast<const char*>(&(probe.*colour)) - reinterpret_cast<const char*>(&probe);
}

Palette WithDecks(int theme) {
  Palette p = kDefaultPalette;
  const auto& d = DeckColourThemes[theme].decks;
  p.DeckA = d[0], p.DeckB = d[1], p.DeckC = d[2], p.DeckD = d[3];
  return p;
}

void ExpectPalette(const Palette& expected) {
  for (const SkinColourKey& k : SkinColourKeys)
    EXPECT_EQ(Pal.*k.colour, expected.*k.colour) << WideToUtf8(k.key);
}

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override { Apply(L"Veldmix"); }
  void TearDown() override { SetUp(); }
  std::string SkinFile(const std::string& name) { return WideToUtf8(SkinsFolder()) + "/" + name; }
  // Starts from colours that every step of LoadSkin must overwrite.
  void Apply(const std::wstring& skin, int theme = 0) {
    Settings.Skin = skin;
    Settings.Theme = theme;
    for (const SkinColourKey& k : SkinColourKeys) Pal.*k.colour = 0xABCDEF;
    LoadSkin();
  }
  TempHome home_;
};

TEST(PaletteTest, DefaultsFollowTheColourTableInFieldOrder) {
  struct Row { const wchar_t* key; uint32_t r, g, b; };
  const Row rows[] = {
      {L"Background", 7, 8, 12}, {L"Panel", 19, 22, 29}, {L"Panel2", 29, 32, 41},
      {L"Panel3", 40, 44, 55}, {L"Border", 39, 44, 56}, {L"Text", 238, 241, 248},
      {L"Dim", 140, 147, 166}, {L"Faint", 74, 81, 99}, {L"WaveBg", 5, 6, 10},
      {L"WaveLow", 30, 123, 255}, {L"WaveMid", 255, 161, 46}, {L"WaveHigh", 244, 247, 255},
      {L"Green", 43, 245, 154}, {L"Yellow", 255, 200, 61}, {L"Red", 255, 59, 92},
      {L"Purple", 181, 123, 255}, {L"Pink", 255, 79, 216}, {L"DeckA", 31, 168, 255},
      {L"DeckB", 255, 94, 43}, {L"DeckC", 60, 240, 180}, {L"DeckD", 216, 107, 255}};
  static_assert(std::size(rows) == kPaletteColours);
  std::set<std::wstring> lowerKeys, labels;
  for (size_t i = 0; i < std::size(rows); ++i) {
    const SkinColourKey& k = SkinColourKeys[i];
    EXPECT_STREQ(k.key, rows[i].key) << i;
    EXPECT_EQ(OffsetOf(k.colour), i * sizeof(uint32_t)) << WideToUtf8(k.key) << " is out of Palette order";
    EXPECT_EQ(kDefaultPalette.*k.colour, rows[i].r << 16 | rows[i].g << 8 | rows[i].b) << WideToUtf8(k.key);
    std::wstring lower = k.key;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    lowerKeys.insert(lower);
    labels.insert(k.label);
  }
  EXPECT_EQ(lowerKeys.size(), size_t(kPaletteColours)) << "keys must differ ignoring case";
  EXPECT_EQ(labels.size(), size_t(kPaletteColours));
  EXPECT_EQ(WithDecks(0), kDefaultPalette) << "the default deck colours are CLASSIC's";
}

TEST(PaletteTest, ColorOfScalesChannelsAndIgnoresHighBits) {
  Color c = ColorOf(0xAAFF8000, 0.25f);
  EXPECT_FLOAT_EQ(c.r, 1.0f);
  EXPECT_FLOAT_EQ(c.g, 128.0f / 255.0f);
  EXPECT_FLOAT_EQ(c.b, 0.0f);
  EXPECT_FLOAT_EQ(c.a, 0.25f);
}

TEST_F(SkinTest, BuiltinSkinsAndThemesKeepTheirShape) {
  const auto& skins = BuiltinSkins();
  EXPECT_EQ(&skins, &BuiltinSkins());
  const size_t counts[] = {0, 16, 21, 16, 17};
  ASSERT_EQ(skins.size(), kBuiltinNames.size());
  for (size_t s = 0; s < skins.size(); ++s) {
    EXPECT_EQ(skins[s].name, kBuiltinNames[s]);
    EXPECT_EQ(skins[s].colours.size(), counts[s]) << s;
    std::set<std::wstring> seen;
    for (const auto& [key, rgb] : skins[s].colours) {
      EXPECT_TRUE(std::any_of(SkinColourKeys.begin(), SkinColourKeys.end(),
                              [&](const SkinColourKey& k) { return key == k.key; }))
          << s << " has unknown key " << WideToUtf8(key);
      EXPECT_LE(rgb, 0xFFFFFFu);
      EXPECT_TRUE(seen.insert(key).second) << s << " repeats " << WideToUtf8(key);
    }
    // Every skin but the default sets the twelve surface colours and the four deck colours.
    constexpr int kSurfaceColours = 12;
    for (int i = 0; s > 0 && i < kPaletteColours; ++i) {
      if (i < kSurfaceColours || i >= kPaletteBaseColours) {
        EXPECT_TRUE(seen.count(SkinColourKeys[i].key)) << s << " lacks " << i;
      }
    }
  }
  const wchar_t* themes[] = {L"CLASSIC", L"NEON", L"SUNSET", L"ICE", L"MONO"};
  for (int t = 0; t < kDeckColourThemes; ++t) {
    EXPECT_STREQ(DeckColourThemes[t].name, themes[t]);
    for (uint32_t rgb : DeckColourThemes[t].decks) EXPECT_LE(rgb, 0xFFFFFFu);
  }
}

TEST_F(SkinTest, ThemeIsClampedAndSkinsMatchNamesExactly) {
  Apply(L"Veldmix", 7);
  ExpectPalette(WithDecks(4));
  Apply(L"", -3);
  ExpectPalette(kDefaultPalette);

  Apply(L"Ember", 1);
  EXPECT_EQ(Pal.Background, 0x0C0706u);
  EXPECT_EQ(Pal.WaveLow, 0xFF6A2Bu);
  EXPECT_EQ(Pal.DeckA, 0xFF8A3Du) << "a skin's deck colours beat the theme";
  EXPECT_EQ(Pal.Green, kDefaultPalette.Green);

  Apply(L"midnight");
  ExpectPalette(kDefaultPalette);
  WriteRaw(SkinFile("midnight.vxskin"), "Background=ABCDEF\r\n");
  Apply(L"midnight");
  Palette expected = kDefaultPalette;
  expected.Background = 0xABCDEF;
  ExpectPalette(expected);

  WriteRaw(SkinFile("Matrix.vxskin"), "Panel=010203\r\n");
  Apply(L"Matrix");
  EXPECT_EQ(Pal.Panel, 0x010203u) << "a file lays over the built-in skin of its name";
  EXPECT_EQ(Pal.Green, 0x21E07Au);
}

TEST_F(SkinTest, FileLinesFollowTheReadingRules) {
  WriteRaw(SkinFile("Rules.vxskin"),
           "[Skin]\nName=Panel=000001\ntext=ff0000\nText = 00FF00\nFaint=#FF0000\nWaveBg=0x00FF00\n"
           "WaveLow=1FFFFFF\nWaveMid=123456789\nWaveHigh= \t0X0a0b0cZZ\nGreen=\nRed\n=Red\n"
           "Bogus=123456\n Border=111111\nPurple=111111\nPurple=222222\n\nDeckB=-1\n");
  Apply(L"Rules");
  Palette e = kDefaultPalette;
  e.Text = 0xFF0000;     // key case ignored; "Text " names nothing
  e.Faint = 0;           // no digits before '#'
  e.WaveBg = 0x00FF00;
  e.WaveLow = 0xFFFFFF;  // masked to 24 bits
  e.WaveMid = 0xFFFFFF;  // beyond 32 bits saturates before the mask
  e.WaveHigh = 0x0A0B0C;
  e.Green = 0;
  e.Purple = 0x222222;   // the later line wins
  e.DeckB = 0xFFFFFF;    // a minus sign wraps as in wcstoul
  ExpectPalette(e);

  // Below 2^32 the low 24 bits agree with glibc's 64-bit wcstoul.
  for (const wchar_t* v : {L"1fa8ff", L"  +abc", L"-10", L"0x", L"0xg", L"\v\r\f12", L"x12", L"12 34",
                           L"00000000000000FFFFFFFF", L"-0x1FA8FF"})
    EXPECT_EQ(SkinColourValue(v), std::wcstoul(v, nullptr, 16) & 0xFFFFFF) << WideToUtf8(v);
  EXPECT_EQ(SkinColourValue(L"-123456789"), 0xFFFFFFu);
  EXPECT_EQ(SkinColourValue(std::wstring(40, L'F') + L"1"), 0xFFFFFFu);
}

TEST_F(SkinTest, OnlyDeckALineChangesOnlyDeckA) {
  WriteRaw(SkinFile("One.vxskin"), "DeckA=112233");
  Apply(L"One", 3);
  Palette expected = WithDecks(3);
  expected.DeckA = 0x112233;
  ExpectPalette(expected);
}

TEST_F(SkinTest, LineEndsAndByteOrderMarkAreOptional) {
  for (const char* body : {"\xEF\xBB\xBFText=102030\r\nDim=405060\r\n", "Text=102030\nDim=405060",
                           "\xEF\xBB\xBFText=102030\nDim=405060\n", "Text=102030\r\nDim=405060"}) {
    WriteRaw(SkinFile("Ends.vxskin"), body);
    Apply(L"Ends");
    EXPECT_EQ(Pal.Text, 0x102030u) << body;
    EXPECT_EQ(Pal.Dim, 0x405060u) << body;
  }
}

TEST_F(SkinTest, SavedFilesHaveTheFormatAndRoundTripByteForByte) {
  const std::wstring path = JoinPath(SkinsFolder(), L"My skin.vxskin");
  SaveSkin(path, L"My skin");
  const std::string bytes = ReadRaw(WideToUtf8(path));
  ASSERT_EQ(bytes.rfind("\xEF\xBB\xBF[Skin]\r\nName=My skin\r\nBackground=07080C\r\n", 0), 0u) << bytes;
  int lines = 0;
  for (size_t at = 3; at < bytes.size(); ++lines) {
    size_t end = bytes.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "line " << lines << " lacks CR LF";
    ASSERT_EQ(bytes.substr(at, end - at).find_first_of("\r\n"), std::string::npos);
    at = end + 2;
  }
  EXPECT_EQ(lines, 23);
  Apply(L"My skin", 2);
  ExpectPalette(kDefaultPalette);
  SaveSkin(path, L"My skin");
  EXPECT_EQ(ReadRaw(WideToUtf8(path)), bytes);

  // Distinct colours, so a load that ignored the file could not pass.
  Palette saved{};
  for (size_t i = 0; i < SkinColourKeys.size(); ++i)
    saved.*SkinColourKeys[i].colour = static_cast<uint32_t>(0x0F1E2D * (i + 1) + 0x4B) & 0xFFFFFF;
  Pal = saved;
  Pal.Text |= 0x7F000000;  // bits above the colour are not written
  const std::wstring mixed = JoinPath(SkinsFolder(), L"Mixed.vxskin");
  SaveSkin(mixed, L"Mixed");
  const std::string mixedBytes = ReadRaw(WideToUtf8(mixed));
  Apply(L"Mixed", 4);
  ExpectPalette(saved);
  SaveSkin(mixed, L"Mixed");
  EXPECT_EQ(ReadRaw(WideToUtf8(mixed)), mixedBytes);
}

TEST_F(SkinTest, UnreadableOrUnnamedFilesChangeNothing) {
  std::filesystem::create_directory(SkinFile("Folder.vxskin"));
  Apply(L"Folder");
  ExpectPalette(kDefaultPalette);
  WriteRaw(SkinFile(".vxskin"), "Text=123456\r\n");
  Apply(L"");
  ExpectPalette(kDefaultPalette);
}

TEST_F(SkinTest, ListSkinsAddsExactVxskinFilesAfterTheBuiltins) {
  EXPECT_EQ(ListSkins(), kBuiltinNames);
  EXPECT_TRUE(std::filesystem::is_directory(home_.path() + "/data/Veldmix/Skins"));
  for (const char* file : {"Neon.vxskin", "notes.txt", "Old.VXSKIN"}) WriteRaw(SkinFile(file), "");
  std::vector<std::wstring> expected = kBuiltinNames;
  expected.push_back(L"Neon");
  EXPECT_EQ(ListSkins(), expected);
  WriteRaw(SkinFile("Ember.vxskin"), "");
  std::vector<std::wstring> names = ListSkins();
  ASSERT_EQ(names.size(), 7u) << "a file named after a built-in skin is listed again";
  EXPECT_EQ(std::set<std::wstring>(names.begin() + 5, names.end()), (std::set<std::wstring>{L"Neon", L"Ember"}));
}

}  // namespace
