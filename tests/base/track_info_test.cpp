#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/track_info.h"

namespace {

class TrackInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TrackLibrary.clear();
    LibraryDirty = false;
  }
  void TearDown() override { SetUp(); }
};

using Tags = std::vector<std::wstring>;

}  // namespace

TEST_F(TrackInfoTest, NewRecordHasTheDefaultsAndMarksTheLibraryDirty) {
  EXPECT_EQ(FindTrackInfo(L"/m/new.mp3"), nullptr);
  EXPECT_TRUE(TrackLibrary.empty());
  EXPECT_FALSE(LibraryDirty);

  TrackInfo& t = TrackInfoFor(L"/m/new.mp3");
  EXPECT_TRUE(LibraryDirty);
  EXPECT_EQ(t.bpm, 0.0);
  EXPECT_EQ(t.key, -1);
  EXPECT_FLOAT_EQ(t.loudness, -20.0f);
  EXPECT_FALSE(t.analyzed);
  for (int i = 0; i < kHotCues; ++i) {
    EXPECT_EQ(t.hotCueStart[i], -1.0);
    EXPECT_EQ(t.hotCueEnd[i], -1.0);
    EXPECT_EQ(t.hotCueColor[i], -1);
    EXPECT_TRUE(t.hotCueName[i].empty());
  }
  EXPECT_EQ(t.color, 0);
  EXPECT_EQ(t.rating, 0);
  EXPECT_EQ(t.playCount, 0);
  EXPECT_EQ(t.lastPlayed, 0);
  EXPECT_TRUE(t.memoryCues.empty());
  EXPECT_TRUE(t.tempoMarkers.empty());

  // The same record comes back, and every writer call marks the library dirty again.
  t.bpm = 128.0;
  LibraryDirty = false;
  EXPECT_EQ(&TrackInfoFor(L"/m/new.mp3"), &t);
  EXPECT_TRUE(LibraryDirty);
  LibraryDirty = false;
  const TrackInfo* found = FindTrackInfo(L"/m/new.mp3");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->bpm, 128.0);
  EXPECT_FALSE(LibraryDirty);
}

TEST_F(TrackInfoTest, PathsThatDifferOnlyInCaseAreTwoTracks) {
  TrackInfoFor(L"/Music/A.MP3").bpm = 100.0;
  TrackInfoFor(L"/music/a.mp3").bpm = 120.0;
  EXPECT_EQ(TrackLibrary.size(), 2u);
  EXPECT_EQ(FindTrackInfo(L"/Music/A.MP3")->bpm, 100.0);
  EXPECT_EQ(FindTrackInfo(L"/music/a.mp3")->bpm, 120.0);
  EXPECT_EQ(FindTrackInfo(L"/MUSIC/A.MP3"), nullptr);
}

TEST_F(TrackInfoTest, RelocateMovesTheRecordAndKeepsAnExistingTarget) {
  TrackInfoFor(L"/old/a.mp3").rating = 4;
  LibraryDirty = false;
  RelocateTrack(L"/old/a.mp3", L"/new/a.mp3");
  EXPECT_TRUE(LibraryDirty);
  EXPECT_EQ(FindTrackInfo(L"/old/a.mp3"), nullptr);
  ASSERT_NE(FindTrackInfo(L"/new/a.mp3"), nullptr);
  EXPECT_EQ(FindTrackInfo(L"/new/a.mp3")->rating, 4);

  // Nothing to move: nothing changes, not even the dirty flag.
  LibraryDirty = false;
  RelocateTrack(L"/nowhere.mp3", L"/new/b.mp3");
  EXPECT_FALSE(LibraryDirty);
  EXPECT_EQ(FindTrackInfo(L"/new/b.mp3"), nullptr);

  // Same key: nothing happens.
  RelocateTrack(L"/new/a.mp3", L"/new/a.mp3");
  EXPECT_FALSE(LibraryDirty);
  EXPECT_EQ(TrackLibrary.size(), 1u);

  // The target has its own record: it wins and the moved one is dropped.
  TrackInfoFor(L"/other.mp3").rating = 1;
  RelocateTrack(L"/new/a.mp3", L"/other.mp3");
  EXPECT_EQ(FindTrackInfo(L"/new/a.mp3"), nullptr);
  EXPECT_EQ(FindTrackInfo(L"/other.mp3")->rating, 1);
  EXPECT_EQ(TrackLibrary.size(), 1u);

  // On Linux a case change is a different file, so the record does move.
  RelocateTrack(L"/other.mp3", L"/OTHER.mp3");
  EXPECT_EQ(FindTrackInfo(L"/other.mp3"), nullptr);
  ASSERT_NE(FindTrackInfo(L"/OTHER.mp3"), nullptr);
}

TEST_F(TrackInfoTest, TagsAreTrimmedDeduplicatedIgnoringCaseAndJoined) {
  EXPECT_EQ(SplitTags(L" house,House , deep"), (Tags{L"house", L"deep"}));
  EXPECT_EQ(NormalizeTags(L" house,House , deep"), L"house, deep");
  EXPECT_EQ(SplitTags(L"Deep, deep"), (Tags{L"Deep"}));
  EXPECT_TRUE(SplitTags(L" , ,, ").empty());
  EXPECT_TRUE(SplitTags(L"").empty());
  EXPECT_EQ(NormalizeTags(L",,"), L"");
  EXPECT_EQ(SplitTags(L"a\tb ,\nc\r"), (Tags{L"a\tb", L"c"}));
  EXPECT_EQ(SplitTags(L"late night,warm up,late night"), (Tags{L"late night", L"warm up"}));
}

TEST(TrackColours, TableIsInIndexOrderWithUniqueNamesAndColours) {
  std::set<std::wstring> names;
  std::set<uint32_t> colours;
  for (int i = 0; i < kTrackColourCount; ++i) {
    EXPECT_EQ(kTrackColours[i].index, i);
    EXPECT_TRUE(names.insert(kTrackColours[i].name).second) << i;
    EXPECT_TRUE(colours.insert(kTrackColours[i].rgb).second) << i;
    EXPECT_LE(kTrackColours[i].rgb, 0xFFFFFFu);
  }
  EXPECT_EQ(std::wstring(kTrackColours[0].name), L"None");
  EXPECT_EQ(kTrackColours[0].rgb, 0u);
}

TEST(TrackColours, NearestIndexScalesBrightnessAndNeverGivesNone) {
  // Every table colour finds itself.
  for (int i = 1; i < kTrackColourCount; ++i) EXPECT_EQ(TrackColourIndex(kTrackColours[i].rgb), i) << i;
  // Black is equally far from red, green and blue: the lowest index wins.
  EXPECT_EQ(TrackColourIndex(0x000000), 2);
  // Dark red scales to pure red; dark blue to blue; a dim orange to orange.
  EXPECT_EQ(TrackColourIndex(0x800000), 2);
  EXPECT_EQ(TrackColourIndex(0x000040), 7);
  EXPECT_EQ(TrackColourIndex(0x805200), 3);
  EXPECT_EQ(TrackColourIndex(0xF00080), 1);
  EXPECT_EQ(TrackColourIndex(0xFFFFFF), 6);  // white is nearest to aqua (0.15, 1, 0.92)
}

TEST(TrackPathHash, IsByteWiseFnv1aOverUtf16CodeUnits) {
  EXPECT_EQ(Fnv1aPathHash(L""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1aPathHash(L"a"), 0x089be207b544f1e4ull);  // bytes 61 00
  EXPECT_EQ(Fnv1aPathHash(L"/Music/A.mp3"), 0x41d16f612d4bd065ull);
  // A character beyond U+FFFF hashes as its surrogate pair D83D DE00.
  EXPECT_EQ(Fnv1aPathHash(L"\U0001F600"), 0xf39a100fb654058aull);
  EXPECT_NE(Fnv1aPathHash(L"/a.mp3"), Fnv1aPathHash(L"/A.mp3"));
}

// The batch form gives each key's own hash, whatever the lengths side by side (shorter, longer,
// empty, a surrogate pair in the shared part or in a tail) and however many keys are left over.
TEST(TrackPathHash, BatchMatchesOneByOne) {
  const std::vector<std::wstring> texts = {L"/Music/A.mp3", L"", L"/a\U0001F600b.flac", L"/Music/A.mp3 longer tail",
                                           L"x", L"/\U0001F600", L"/Music/b.mp3", L"/c\U0001F600.ogg", L"/d"};
  for (size_t count = 0; count <= texts.size(); ++count) {
    const std::vector<std::wstring_view> keys(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(count));
    std::vector<uint64_t> hashes(count + 1, 7);
    Fnv1aPathHashes(keys, hashes.data());
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(hashes[i], Fnv1aPathHash(keys[i])) << count << " keys, key " << i;
    EXPECT_EQ(hashes[count], 7u) << "nothing written past the keys";
  }
}
