#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/search_filter.h"
#include "library/track_view.h"
#include "platform/text.h"

namespace {

using Titles = std::vector<std::wstring>;

LibraryFile File(const std::wstring& title, const std::wstring& comment = L"") {
  LibraryFile file{.path = L"/music/" + title + L".mp3", .title = title};
  file.titleKey = LowerText(title);
  file.searchText = file.titleKey + L"   " + LowerText(comment) + L" " + file.titleKey + L".mp3";
  return file;
}

TrackInfo& Analysed(const LibraryFile& file, double bpm, int32_t key, int energy) {
  TrackInfo& record = TrackInfoFor(file.path);
  record.analyzed = true;
  record.bpm = bpm;
  record.key = key;
  record.loudness = static_cast<float>(energy * 1.4 - 22.0);
  return record;
}

class SearchFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    // The process locale must not matter: in the plain C locale towlower leaves É alone, yet the
    // search lower-cases as C.UTF-8 does.
    std::setlocale(LC_ALL, "C");
    TrackLibrary.clear();
    ViewItems = {File(L"a"), File(L"b"), File(L"c"), File(L"d", L"bpm:fast"), File(L"Éclair"), File(L"f"),
                 File(L"g")};
    TrackInfo& a = Analysed(ViewItems[0], 127.5, 21, 8);  // A minor, 8A
    a.rating = 4, a.color = 6, a.myTags = L"Deep, Opener";
    TrackInfo& b = Analysed(ViewItems[1], 128.5, 0, 9);  // C major, 8B
    b.rating = 5, b.playCount = 3;
    TrackInfo& c = Analysed(ViewItems[2], 126.0, -1, 2);
    c.rating = 3, c.playCount = 1, c.color = 2;
    TrackInfo& e = TrackInfoFor(ViewItems[4].path);  // a record, never analysed
    e.bpm = 128.0, e.loudness = -9.0f;
    Analysed(ViewItems[5], 128.6, 12, 5);
    Analysed(ViewItems[6], 0.0, -1, 0);  // analysed, no beat: no measured tempo
    for (size_t i = 0; i < ViewItems.size(); ++i) ViewItems[i].index = static_cast<uint32_t>(i);
    SortColumn = kSortSourceOrder, SortAscending = true, MatchDeck = false, CrateSearch.clear();
  }
  void TearDown() override {
    TrackLibrary.clear(), ViewItems.clear(), ViewOrder.clear(), SearchText.clear(), CrateSearch.clear();
  }
  static Titles Shown(const std::wstring& crate, const std::wstring& box) {
    CrateSearch = crate, SearchText = box;
    RebuildView();
    Titles titles;
    for (int i : ViewOrder) titles.push_back(ViewItems[static_cast<size_t>(i)].title);
    return titles;
  }
};

}  // namespace

TEST_F(SearchFilter, EveryKeyAndItsEdgeCases) {
  struct Row {
    const wchar_t* search;
    Titles shown;
  };
  const Titles all = {L"a", L"b", L"c", L"d", L"Éclair", L"f", L"g"};
  const Row rows[] = {
      {L"", all},
      {L"bpm:128", {L"a", L"b"}},  // 127.5..128.5 inclusive; never the unanalysed record
      {L"bpm:120-130", {L"a", L"b", L"c", L"f"}},
      {L"bpm:130-120", {L"a", L"b", L"c", L"f"}},
      {L"bpm:>=126", {L"a", L"b", L"c", L"f"}},
      {L"bpm:>126", {L"a", L"b", L"f"}},
      {L"bpm:<=126", {L"c"}},  // never the track with no measured tempo
      {L"bpm:0-200", {L"a", L"b", L"c", L"f"}},
      {L"bpm:<127.5", {L"c"}},
      {L"BPM:127.5", {L"a"}},       // the key is lower-cased with the rest; '.' whatever the locale
      {L"bpm:0x80", {L"a", L"b"}},  // the C library's reader takes hex
      {L"rating:4+", {L"a", L"b"}},
      {L"stars:3", {L"c"}},
      {L"r:5", {L"b"}},
      {L"plays:0", {L"a", L"d", L"Éclair", L"f", L"g"}},  // files without a record count 0
      {L"played:1-3", {L"b", L"c"}},
      {L"energy:8-10", {L"a", L"b"}},  // the unanalysed record's loudness doesn't count
      {L"e:5", {L"f"}},
      {L"color:any", {L"a", L"c"}},
      {L"colour:aqua", {L"a"}},
      {L"color:RED", {L"c"}},
      {L"color:none", {L"b", L"d", L"Éclair", L"f", L"g"}},
      {L"key:8a", {L"a"}},
      {L"key:am", {L"a"}},
      {L"key:8b", {L"b"}},
      {L"key:c", {L"b"}},
      {L"key:cm", {L"f"}},
      {L"tag:deep", {L"a"}},
      {L"mytag:pen", {L"a"}},
      {L"deep", {L"a"}},  // a word is found in the own tags too
      {L"ÉCLAIR", {L"Éclair"}},
      {L"éclair.mp3", {L"Éclair"}},
      {L"  bpm:120-130   rating:3+  ", {L"a", L"b", L"c"}},
      // Plain words: found only where the very token is in a file's text.
      {L"bpm:fast", {L"d"}},
      {L"color:teal", {}},
      {L"key:", {}},
      {L"tag:", {}},
      {L"color:", {}},
      {L":128", {}},
      {L"rating:4+x", {}},
      {L"bpm:120-", {}},
      {L"bpm:1,5", {}},  // a comma is no decimal point here
      {L"bpm:>=", {}},
      {L"bpm:nan", {}},
      {L"bpm:inf", {}},
      {L"bpm:-infinity", {}},
      {L"bpm:1e999", {}},
      {L"bpm:>1e999", {}},
      {L"bpm:100-1e999", {}},
      {L"bpm:120-nan", {}},
      {L"unknown:1", {}},
  };
  for (const Row& row : rows) EXPECT_EQ(Shown(L"", row.search), row.shown) << WideToUtf8(row.search);
}

TEST_F(SearchFilter, TheCrateSearchAndTheBoxBothApply) {
  EXPECT_EQ(Shown(L"bpm:120-130", L"rating:5"), Titles{L"b"});
  EXPECT_EQ(Shown(L"bpm:120-130", L""), (Titles{L"a", L"b", L"c", L"f"}));
  EXPECT_EQ(Shown(L"deep", L"bpm:128"), Titles{L"a"});
}

TEST(NumericCondition, ReadsTheRangesItPromises) {
  struct Row {
    const wchar_t* text;
    double tolerance;
    bool ok;
    double low, high;
  };
  const Row rows[] = {
      {L"128", 0.5, true, 127.5, 128.5},
      {L"4+", 0, true, 4, kOpenRangeHigh},
      {L"130-120", 0, true, 120, 130},
      {L">=7", 0, true, 7, kOpenRangeHigh},
      {L"<=7abc", 0, true, kOpenRangeLow, 7},  // anything after the number is ignored
      {L">7", 0, true, 7.000001, kOpenRangeHigh},
      {L"<7", 0, true, kOpenRangeLow, 6.999999},
      {L"-5", 0, true, -5, -5},
      {L"1e2", 0, true, 100, 100},
      {L"", 0, false, 0, 0},
      {L"x", 0, false, 0, 0},
      {L"4+5", 0, false, 0, 0},
      {L"4- 5", 0, false, 0, 0},
      {L"4x", 0, false, 0, 0},
      {L"nan", 0, false, 0, 0},
      {L"1e400", 0, false, 0, 0},
      {L"<-inf", 0, false, 0, 0},
  };
  for (const Row& row : rows) {
    NumericRange range{kOpenRangeLow, kOpenRangeHigh};
    const bool ok = ParseNumericCondition(row.text, row.tolerance, &range);
    EXPECT_EQ(ok, row.ok) << WideToUtf8(row.text);
    if (!ok || !row.ok) continue;
    EXPECT_NEAR(range.first, row.low, 1e-12) << WideToUtf8(row.text);
    EXPECT_NEAR(range.second, row.high, 1e-12) << WideToUtf8(row.text);
  }
}

TEST(TrackEnergy, RoundsInSinglePrecisionAndClamps) {
  TrackInfo record;
  EXPECT_EQ(TrackEnergy(&record), 0) << "not analysed";
  EXPECT_EQ(TrackEnergy(nullptr), 0);
  record.analyzed = true;
  const std::pair<float, int> cases[] = {{-40.0f, 1}, {-20.6f, 1}, {-19.2f, 2}, {-10.8f, 8}, {0.0f, 10}, {30.0f, 10}};
  for (const auto& [loudness, energy] : cases) {
    record.loudness = loudness;
    EXPECT_EQ(TrackEnergy(&record), energy) << loudness;
  }
}

TEST(SearchBytes, AWordIsFoundInBytesExactlyWhereItIsFoundInText) {
  // Any wchar_t value, valid character or not, stays distinct; a byte match never starts inside a
  // character (é's bytes hold no "\u00A9").
  const std::wstring texts[] = {L"caf\u00E9 \u00A9", L"x\U0001F600y", std::wstring{L'a', wchar_t(0xD800), L'b'},
                                std::wstring{wchar_t(0x7FFFFFFF), wchar_t(-1), wchar_t(0x110000)}, L""};
  const std::wstring words[] = {L"\u00E9",          L"\u00A9",          L"\u00C3",
                                L"\U0001F600",      L"\U0001F601",      std::wstring{wchar_t(0xD800)},
                                std::wstring{wchar_t(-1)}, std::wstring{wchar_t(-2)}, std::wstring{wchar_t(0x110000)},
                                std::wstring{wchar_t(0x7FFFFFFF)}, L"e", L"y"};
  for (const std::wstring& text : texts)
    for (const std::wstring& word : words)
      EXPECT_EQ(HasBytes(SearchBytes(text), SearchBytes(word)), text.find(word) != std::wstring::npos)
          << (&text - texts) << " / " << (&word - words);
  EXPECT_EQ(SearchBytes(L"caf\u00E9 \U0001F600"), WideToUtf8(L"caf\u00E9 \U0001F600")) << "UTF-8 for characters";
}
