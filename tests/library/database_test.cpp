#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "base/files.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/track_info.h"
#include "library/database.h"
#include "library/relocate.h"
#include "platform/text.h"
#include "support/temp_home.h"

#include <fmt/format.h>

namespace fs = std::filesystem;

namespace {

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    TrackLibrary.clear();
    LibraryDirty = false;
    LibraryNoSave = false;
    LibraryAutosave = AutosaveState{};
    LibrarySaveFault = LibrarySaveFailure{};
    TestMode = false;
    Status = StatusLine{};
  }
  std::string DbFile() const { return WideToUtf8(DatabasePath()); }
  void WriteDb(const std::string& bytes) const { WriteRaw(DbFile(), bytes); }

  TempHome home_;
};

// Columns joined by tabs.
std::string Cols(std::initializer_list<std::string> cols) {
  std::string line;
  bool first = true;
  for (const std::string& c : cols) {
    if (!first) line += '\t';
    first = false;
    line += c;
  }
  return line;
}

std::string Repeat(const std::string& col, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += (i ? "\t" : "") + col;
  return out;
}

// A 15-column line: path, bpm, first beat, key, loudness, analysed, cue, 8 hot-cue starts.
std::string Line15(const std::string& path, const std::string& bpm = "120") {
  return path + "\t" + bpm + "\t0.5\t3\t-8.25\t1\t2.5\t" + Repeat("1.5", 8);
}

// Columns 15-42 at their defaults, with the given last hot-cue name: a 15-column line plus this
// has 43 columns.
std::string Middle(const std::string& lastName = "") {
  return "\t0\t0\t0\t" + Repeat("-1", 8) + "\t" + Repeat("-1", 8) + "\t0\t" + Repeat("", 7) + "\t" + lastName;
}

TrackInfo RichRecord() {
  TrackInfo t;
  t.bpm = 128.5;
  t.firstBeat = 0.12345;
  t.key = 21;
  t.loudness = -9.5f;
  t.analyzed = true;
  t.cue = 1.5;
  t.hotCueStart = {1.0, 2.0, -1.0, -1.0, -1.0, -1.0, -1.0, 480.25};
  t.rating = 4;
  t.playCount = 7;
  t.lastPlayed = 1700000000;
  t.hotCueEnd = {3.25, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0, -1.0};
  t.hotCueColor = {0, 11, -1, -1, -1, -1, -1, 4};
  t.gridImported = true;
  t.hotCueName = {L"Drop", L"Vox\tin", L"", L"", L"", L"", L"line\r\nbreak", L"\u00e9t\u00e9"};
  t.memoryCues = {30.0, 10.0};
  t.color = 5;
  t.myTags = L"deep, warm up";
  t.tempoMarkers = {{64.0, 30.5}, {0.0, 0.12345}};
  return t;
}

}  // namespace

TEST_F(DatabaseTest, WritesTheFortySevenColumnsOfEveryRecord) {
  TrackInfoFor(L"/M\u00fasica/Set 1/Track.mp3") = RichRecord();
  ASSERT_TRUE(SaveDatabase());
  EXPECT_FALSE(LibraryDirty);
  const std::string expected =
      "/M\xC3\xBAsica/Set 1/Track.mp3\t128.5000\t0.12345\t21\t-9.50\t1\t1.50000\t"
      "1.00000\t2.00000\t-1.00000\t-1.00000\t-1.00000\t-1.00000\t-1.00000\t480.25000\t"
      "4\t7\t1700000000\t"
      "3.25000\t" + Repeat("-1.00000", 7) + "\t"
      "0\t11\t" + Repeat("-1", 5) + "\t4\t"
      "1\t"
      "Drop\tVox in\t\t\t\t\tline  break\t\xC3\xA9t\xC3\xA9\t"
      "30.00000;10.00000\t5\tdeep, warm up\t64.000:30.50000;0.000:0.12345\n";
  EXPECT_EQ(ReadRaw(DbFile()), expected);
  EXPECT_TRUE(WriteTemps(std::filesystem::path(DbFile()).parent_path().native()).empty());
}

TEST_F(DatabaseTest, EveryFieldSurvivesASaveAndALoad) {
  const std::wstring path = L"/M\u00fasica/\u65e5\u672c/Track \U0001F3B5.flac";
  TrackInfoFor(path) = RichRecord();
  TrackInfoFor(L"/m/Song.mp3");
  TrackInfoFor(L"/m/song.mp3").rating = 2;  // another file on Linux
  ASSERT_TRUE(SaveDatabase());
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  EXPECT_FALSE(LibraryDirty);
  ASSERT_EQ(TrackLibrary.size(), 3u);

  const TrackInfo* t = FindTrackInfo(path);
  ASSERT_NE(t, nullptr);
  const TrackInfo want = RichRecord();
  EXPECT_DOUBLE_EQ(t->bpm, want.bpm);
  EXPECT_DOUBLE_EQ(t->firstBeat, want.firstBeat);
  EXPECT_EQ(t->key, want.key);
  EXPECT_FLOAT_EQ(t->loudness, want.loudness);
  EXPECT_TRUE(t->analyzed);
  EXPECT_DOUBLE_EQ(t->cue, want.cue);
  EXPECT_EQ(t->hotCueStart, want.hotCueStart);
  EXPECT_EQ(t->rating, 4);
  EXPECT_EQ(t->playCount, 7);
  EXPECT_EQ(t->lastPlayed, 1700000000);
  EXPECT_EQ(t->hotCueEnd, want.hotCueEnd);
  EXPECT_EQ(t->hotCueColor, want.hotCueColor);
  EXPECT_TRUE(t->gridImported);
  // Names lose their tabs and line breaks; the rest comes back as it was.
  EXPECT_EQ(t->hotCueName[0], L"Drop");
  EXPECT_EQ(t->hotCueName[1], L"Vox in");
  EXPECT_EQ(t->hotCueName[6], L"line  break");
  EXPECT_EQ(t->hotCueName[7], L"\u00e9t\u00e9");
  EXPECT_EQ(t->memoryCues, (std::vector<double>{10.0, 30.0}));  // sorted on load
  EXPECT_EQ(t->color, 5);
  EXPECT_EQ(t->myTags, L"deep, warm up");
  ASSERT_EQ(t->tempoMarkers.size(), 2u);  // sorted by beat on load
  EXPECT_EQ(t->tempoMarkers[0].beat, 0.0);
  EXPECT_DOUBLE_EQ(t->tempoMarkers[0].seconds, 0.12345);
  EXPECT_EQ(t->tempoMarkers[1].beat, 64.0);
  EXPECT_DOUBLE_EQ(t->tempoMarkers[1].seconds, 30.5);

  EXPECT_EQ(FindTrackInfo(L"/m/song.mp3")->rating, 2);
  const TrackInfo* d = FindTrackInfo(L"/m/Song.mp3");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->rating, 0);
  EXPECT_EQ(d->key, -1);
  EXPECT_FLOAT_EQ(d->loudness, -20.0f);
  EXPECT_EQ(d->hotCueStart[3], -1.0);
  EXPECT_TRUE(d->memoryCues.empty() && d->tempoMarkers.empty() && d->myTags.empty());

  // Once loaded (cues and markers sorted), saving and loading again changes nothing.
  ASSERT_TRUE(SaveDatabase());
  const std::string settled = ReadRaw(DbFile());
  LoadDatabase();
  ASSERT_TRUE(SaveDatabase());
  EXPECT_EQ(ReadRaw(DbFile()), settled);
}

TEST_F(DatabaseTest, OlderFilesWithFewerColumnsReadTheirGroupsOnly) {
  const std::string cols18 = Line15("/b.mp3") + "\t9\t-4\t1234567890123";
  const std::string cols43 = cols18 + "\t" + Repeat("7.5", 8) + "\t" + Repeat("3", 8) + "\t1\t" +
                             "n1\tn2\tn3\tn4\tn5\tn6\tn7\tn8";
  WriteDb(Line15("/a.mp3") + "\n" +                       // 15 columns
          Line15("/a16.mp3") + "\t5\n" +                  // 16: read as 15
          cols18 + "\n" +                                  // 18: rating clamped, play count 0
          "\n  \n" +                                         // blank lines are fine
          Line15("/b.mp3", "140") + "\t9\t-4\t1234567890123\tx\n" +  // 19: read as 18; replaces /b
          "/c.mp3" + cols43.substr(6) + "\n" +             // 43
          "/d.mp3" + cols43.substr(6) + "\t1;3\n" +        // 44
          "/e.mp3" + cols43.substr(6) + "\t3;1\t7\n" +     // 45
          "/f.mp3" + cols43.substr(6) + "\t\t2\ta,A, b\n"  // 46
          "/g.mp3" + cols43.substr(6) + "\t\t0\t\t4:2;1:1\textra\tmore\n");  // 49: extra ignored
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  ASSERT_EQ(TrackLibrary.size(), 8u);

  const TrackInfo* a = FindTrackInfo(L"/a.mp3");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->bpm, 120.0);
  EXPECT_EQ(a->firstBeat, 0.5);
  EXPECT_EQ(a->key, 3);
  EXPECT_FLOAT_EQ(a->loudness, -8.25f);
  EXPECT_TRUE(a->analyzed);
  EXPECT_EQ(a->cue, 2.5);
  EXPECT_EQ(a->hotCueStart[7], 1.5);
  EXPECT_EQ(a->rating, 0);
  EXPECT_EQ(a->hotCueEnd[0], -1.0);
  EXPECT_EQ(a->hotCueColor[0], -1);
  EXPECT_EQ(a->color, 0);
  EXPECT_EQ(FindTrackInfo(L"/a16.mp3")->rating, 0);

  const TrackInfo* b = FindTrackInfo(L"/b.mp3");
  EXPECT_EQ(b->bpm, 140.0);
  EXPECT_EQ(b->rating, 5);
  EXPECT_EQ(b->playCount, 0);
  EXPECT_EQ(b->lastPlayed, 1234567890123);
  EXPECT_EQ(b->hotCueEnd[0], -1.0);

  const TrackInfo* c = FindTrackInfo(L"/c.mp3");
  EXPECT_EQ(c->hotCueEnd[5], 7.5);
  EXPECT_EQ(c->hotCueColor[5], 3);
  EXPECT_TRUE(c->gridImported);
  EXPECT_EQ(c->hotCueName[7], L"n8");
  EXPECT_TRUE(c->memoryCues.empty());

  EXPECT_EQ(FindTrackInfo(L"/d.mp3")->memoryCues, (std::vector<double>{1.0, 3.0}));
  EXPECT_EQ(FindTrackInfo(L"/d.mp3")->color, 0);
  EXPECT_EQ(FindTrackInfo(L"/e.mp3")->memoryCues, (std::vector<double>{1.0, 3.0}));
  EXPECT_EQ(FindTrackInfo(L"/e.mp3")->color, 7);
  EXPECT_EQ(FindTrackInfo(L"/f.mp3")->myTags, L"a, b");
  EXPECT_EQ(FindTrackInfo(L"/f.mp3")->color, 2);
  EXPECT_TRUE(FindTrackInfo(L"/f.mp3")->tempoMarkers.empty());
  const TrackInfo* g = FindTrackInfo(L"/g.mp3");
  ASSERT_EQ(g->tempoMarkers.size(), 2u);
  EXPECT_EQ(g->tempoMarkers[0].beat, 1.0);
  EXPECT_EQ(g->tempoMarkers[1].seconds, 2.0);
}

TEST_F(DatabaseTest, CrLfLineEndsAndOddPiecesLoad) {
  WriteDb(Line15("/a.mp3") + Middle("last") + "\r\n" +  // 43 columns: a name is last
          Line15("/b.mp3") + Middle() + "\t5;;2;\t1\t\t1:1;junk;3:3\r\n");
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  ASSERT_EQ(TrackLibrary.size(), 2u);
  EXPECT_EQ(FindTrackInfo(L"/a.mp3")->hotCueName[7], L"last");  // the CR is gone
  const TrackInfo* b = FindTrackInfo(L"/b.mp3");
  EXPECT_EQ(b->memoryCues, (std::vector<double>{2.0, 5.0}));
  ASSERT_EQ(b->tempoMarkers.size(), 2u);  // the piece without ':' is skipped
  EXPECT_EQ(b->tempoMarkers[0].beat, 1.0);
  EXPECT_EQ(b->tempoMarkers[1].beat, 3.0);
  EXPECT_EQ(b->tempoMarkers[1].seconds, 3.0);
}

TEST_F(DatabaseTest, NumbersAreReadLeniently_AndOutOfRangeValuesAreBounded) {
  const std::string hotCueColours = "-7\t12\t11\t0\t-1\t99999999999\t3\t2";
  WriteDb(Cols({"/n.mp3", "  128.5abc", "nan", "99", "1e999", "7", "inf", "0x10", "-2.5e1", " +3",
                "garbage", "", "1.", ".5", "-0"}) +
          "\t42\t-9\t99999999999999999999999" + "\t" + Repeat("1", 8) + "\t" + hotCueColours + "\t1\t" +
          Repeat("n", 8) + "\t" + "x;2;-inf" + "\t-3\t\t" + "nan:1;2:inf" + "\n" +
          Line15("/k.mp3") + "\n");
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  const TrackInfo* n = FindTrackInfo(L"/n.mp3");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->bpm, 128.5);
  EXPECT_EQ(n->firstBeat, 0.0);  // "nan" is not a number here
  EXPECT_EQ(n->key, -1);         // no key 99
  EXPECT_EQ(n->loudness, 0.0f);  // overflow reads as 0
  EXPECT_TRUE(n->analyzed);
  EXPECT_EQ(n->cue, 0.0);        // "inf"
  EXPECT_EQ(n->hotCueStart[0], 0.0);  // "0x10" stops at 'x'
  EXPECT_EQ(n->hotCueStart[1], -25.0);
  EXPECT_EQ(n->hotCueStart[2], 3.0);
  EXPECT_EQ(n->hotCueStart[3], 0.0);
  EXPECT_EQ(n->hotCueStart[4], 0.0);
  EXPECT_EQ(n->hotCueStart[5], 1.0);
  EXPECT_EQ(n->hotCueStart[6], 0.5);
  EXPECT_EQ(n->rating, 5);
  EXPECT_EQ(n->playCount, 0);
  EXPECT_EQ(n->lastPlayed, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(n->hotCueColor, (std::array<int32_t, 8>{-1, -1, 11, 0, -1, -1, 3, 2}));
  EXPECT_EQ(n->memoryCues, (std::vector<double>{0.0, 0.0, 2.0}));  // malformed pieces read as 0
  EXPECT_EQ(n->color, 0);
  ASSERT_EQ(n->tempoMarkers.size(), 2u);
  for (const TempoMarker& m : n->tempoMarkers) EXPECT_TRUE(std::isfinite(m.beat) && std::isfinite(m.seconds));
  EXPECT_NE(FindTrackInfo(L"/k.mp3"), nullptr);
}

TEST_F(DatabaseTest, TheWriterOnlyWritesWhatReadsBack) {
  TrackInfo& t = TrackInfoFor(L"/x.mp3");
  t.bpm = std::numeric_limits<double>::quiet_NaN();
  t.loudness = -std::numeric_limits<float>::infinity();
  t.hotCueStart[2] = std::numeric_limits<double>::infinity();
  t.memoryCues = {1.0, std::numeric_limits<double>::quiet_NaN(), 2.0};
  t.tempoMarkers = {{0.0, 0.0}, {std::numeric_limits<double>::infinity(), 1.0}};
  TrackInfo& big = TrackInfoFor(L"/big.mp3");
  big.hotCueName[0] = std::wstring(kMaxTextFieldChars + 100, L'\u4e2d');
  big.myTags = std::wstring(kMaxTextFieldChars * 2, L'x');
  big.memoryCues.assign(kMaxMemoryCues + 10, 1.0);
  ASSERT_TRUE(SaveDatabase());
  const std::string bytes = ReadRaw(DbFile());
  EXPECT_EQ(bytes.find("nan"), std::string::npos);
  EXPECT_EQ(bytes.find("inf"), std::string::npos);

  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  const TrackInfo* x = FindTrackInfo(L"/x.mp3");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->bpm, 0.0);
  EXPECT_FLOAT_EQ(x->loudness, -20.0f);
  EXPECT_EQ(x->hotCueStart[2], -1.0);
  EXPECT_EQ(x->memoryCues, (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(x->tempoMarkers.size(), 1u);
  // Oversized text and lists are clipped to the reader's bounds.
  const TrackInfo* b = FindTrackInfo(L"/big.mp3");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->hotCueName[0].size(), kMaxTextFieldChars);
  EXPECT_EQ(b->myTags.size(), kMaxTextFieldChars);
  EXPECT_EQ(b->memoryCues.size(), kMaxMemoryCues);
}

TEST_F(DatabaseTest, PathsWithTabsOrLineBreaksAreLeftOutAndTheFileStaysWhole) {
  TrackInfoFor(L"/ok.mp3").rating = 3;
  TrackInfoFor(L"/tab\there.mp3").rating = 1;
  TrackInfoFor(L"/line\nbreak.mp3").rating = 1;
  TrackInfoFor(L"/cr\rhere.mp3").rating = 1;
  TrackInfoFor(L"").rating = 1;
  ASSERT_TRUE(SaveDatabase());
  const std::string bytes = ReadRaw(DbFile());
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1);
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);  // the file written reads back clean
  ASSERT_EQ(TrackLibrary.size(), 1u);
  EXPECT_EQ(FindTrackInfo(L"/ok.mp3")->rating, 3);
}

// A Latin-1 file name, its UTF-8 twin and stray bytes in a name, a hot-cue name and the tags:
// three records, each saved back to the very bytes it was read from.
TEST_F(DatabaseTest, BytesThatAreNotUtf8SurviveALoadAndASave) {
  const std::string latin = Line15("/m/caf\xE9.mp3") + Middle("dr\xF6p") + "\t\t0\tn\xE4\xE4\t\n";
  const std::string twin = Line15("/m/caf\xC3\xA9.mp3") + Middle() + "\t\t0\t\t\n";
  const std::string stray = Line15("/m/x\xFF\xFE\xC3.mp3") + Middle() + "\t\t0\t\t\n";
  WriteDb(latin + twin + stray);
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  ASSERT_EQ(TrackLibrary.size(), 3u);
  const TrackInfo* t = FindTrackInfo(PathFromBytes("/m/caf\xE9.mp3"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(WideToUtf8(t->hotCueName[7]), "dr\xEF\xBF\xBDp") << "shown with a replacement";
  EXPECT_NE(FindTrackInfo(L"/m/caf\u00e9.mp3"), t);
  TrackInfoFor(PathFromBytes("/m/x\xFF\xFE\xC3.mp3"));  // dirty: saved again
  ASSERT_TRUE(SaveDatabase());
  const std::string saved = ReadRaw(DbFile());
  for (const char* kept : {"/m/caf\xE9.mp3\t", "/m/caf\xC3\xA9.mp3\t", "/m/x\xFF\xFE\xC3.mp3\t", "\tdr\xF6p\t",
                           "\tn\xE4\xE4\t"})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept;
  LoadDatabase();
  TrackInfoFor(L"/m/caf\u00e9.mp3");
  ASSERT_TRUE(SaveDatabase());
  EXPECT_EQ(ReadRaw(DbFile()), saved);
}

// --- Damaged and unreadable files ---

TEST_F(DatabaseTest, AFolderAtThePathIsUnreadableAndSurvives) {
  fs::create_directories(DbFile() + "/inside");
  LoadDatabase();
  EXPECT_TRUE(LibraryNoSave);
  EXPECT_EQ(EnglishText(LibraryRefusal), L"it is no regular file");
  EXPECT_TRUE(TrackLibrary.empty());
  TrackInfoFor(L"/a.mp3").rating = 2;
  EXPECT_FALSE(SaveDatabase());
  AutosaveLibrary(1'000'000);
  EXPECT_TRUE(Status.text.empty());  // no message for a file that could not be read
  EXPECT_TRUE(fs::is_directory(DbFile() + "/inside"));
  EXPECT_TRUE(LibraryDirty);
}

// A short line, a line with an empty path, a last line without its line feed: every good
// record is read, the file is kept beside itself as it was, and the edit is saved without the
// odd line. A copy made today is never replaced.
TEST_F(DatabaseTest, AnOddLineIsSkippedKeptAsItWasAndTheLibrarySaves) {
  const std::string good = Line15("/a.mp3") + "\n" + Line15("/b.mp3") + "\n" + Line15("/c.mp3") + "\n";
  const std::string files[] = {good + "/Music/old.mp3\t99\t0\n" + Line15("/d.mp3") + "\n",
                               good + Line15("") + "\n" + Line15("/d.mp3") + "\n",
                               good + Line15("/d.mp3")};
  const LocalTime today = NowLocal();
  const std::string copy = DbFile() + fmt::format(".damaged-{:04}-{:02}-{:02}", today.year, today.month, today.day);
  for (const std::string& original : files) {
    SCOPED_TRACE(original.substr(good.size()));
    fs::remove(copy);
    WriteDb(original);
    LoadDatabase();
    EXPECT_FALSE(LibraryNoSave);
    EXPECT_EQ(TrackLibrary.size(), 4u);
    EXPECT_EQ(ReadRaw(copy), original);
    TrackInfoFor(L"/d.mp3").rating = 5;
    ASSERT_TRUE(SaveDatabase());
    const std::string saved = ReadRaw(DbFile());
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 4) << saved;
    EXPECT_EQ(saved.find("old.mp3"), std::string::npos);
    EXPECT_EQ(saved.back(), '\n');
    LoadDatabase();
    EXPECT_EQ(FindTrackInfo(L"/d.mp3")->rating, 5);
  }
  WriteDb(files[0]);
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  EXPECT_EQ(ReadRaw(copy), files[2]) << "today's copy is never replaced";
}

// A file of more bad lines than good ones is likely not ours: the good records are read, and
// nothing is written over it, with no message on every autosave. Nor when its copy can't be kept.
TEST_F(DatabaseTest, MostlyGarbageOrNoCopyBlocksEverySave) {
  const std::string original = Line15("/good.mp3") + "\n" + "this is not a record\n" + "\x01\x02\x03\xff\xfe\n";
  WriteDb(original);
  LoadDatabase();
  EXPECT_TRUE(LibraryNoSave);
  EXPECT_EQ(EnglishText(LibraryRefusal), L"2 of its 3 lines could not be read");
  EXPECT_FALSE(LibraryDirty);
  EXPECT_EQ(TrackLibrary.size(), 1u);
  TrackInfoFor(L"/good.mp3").rating = 5;
  EXPECT_FALSE(SaveDatabase());
  AutosaveLibrary(1'000'000);
  AutosaveLibrary(2'000'000);
  EXPECT_TRUE(Status.text.empty());
  EXPECT_EQ(ReadRaw(DbFile()), original);
  EXPECT_TRUE(WriteTemps(std::filesystem::path(DbFile()).parent_path().native()).empty());

  // One odd line, but the copy can't be made (a folder holds its name): not saved either.
  const LocalTime today = NowLocal();
  fs::create_directories(DbFile() + fmt::format(".damaged-{:04}-{:02}-{:02}/x", today.year, today.month, today.day));
  const std::string oneOdd = Line15("/good.mp3") + "\n" + Line15("/more.mp3") + "\nodd\n";
  WriteDb(oneOdd);
  LoadDatabase();
  EXPECT_EQ(TrackLibrary.size(), 2u);
  EXPECT_TRUE(LibraryNoSave);
  EXPECT_EQ(EnglishText(LibraryRefusal),
            L"it has damaged lines, and no copy of it as it was could be kept before saving");
  EXPECT_FALSE(SaveDatabase());
  EXPECT_EQ(ReadRaw(DbFile()), oneOdd);
  // A good file read afterwards leaves no refusal behind.
  WriteDb(Line15("/good.mp3") + "\n");
  LoadDatabase();
  EXPECT_FALSE(LibraryNoSave);
  EXPECT_TRUE(LibraryRefusal.empty());
}

TEST_F(DatabaseTest, HostileLinesAreSkippedWithoutHarm) {
  std::string cues;
  for (size_t i = 0; i <= kMaxMemoryCues; ++i) cues += "1;";
  std::string markers;
  for (size_t i = 0; i <= kMaxTempoMarkers; ++i) markers += "1:1;";
  WriteDb(Line15("/many-cues.mp3") + Middle() + "\t" + cues + "\n" +
          Line15("/many-markers.mp3") + Middle() + "\t\t0\t\t" + markers + "\n" +
          Line15("/" + std::string(kMaxPathChars * 4 + 1, 'p')) + "\n" +
          Line15(std::string("/nul\0here.mp3", 13)) + "\n" +
          Line15("/many-tabs.mp3") + std::string(200000, '\t') + "\n" +
          Cols({"", "1", "2"}) + Repeat("", 13) + "\n" +
          Line15("/fine.mp3") + "\n");
  LoadDatabase();
  EXPECT_TRUE(LibraryNoSave);
  EXPECT_EQ(FindTrackInfo(L"/many-cues.mp3"), nullptr);
  EXPECT_EQ(FindTrackInfo(L"/many-markers.mp3"), nullptr);
  EXPECT_NE(FindTrackInfo(L"/many-tabs.mp3"), nullptr);  // columns past the 47th are ignored
  EXPECT_NE(FindTrackInfo(L"/fine.mp3"), nullptr);
  EXPECT_EQ(TrackLibrary.size(), 2u);
}

TEST_F(DatabaseTest, AFileAboveTheSizeLimitIsNotReadNorReplaced) {
  WriteDb(Line15("/a.mp3") + "\n");
  fs::resize_file(DbFile(), kMaxDatabaseBytes + 1);  // sparse: no disk is used
  LoadDatabase();
  EXPECT_TRUE(LibraryNoSave);
  EXPECT_TRUE(TrackLibrary.empty());
  TrackInfoFor(L"/b.mp3");
  EXPECT_FALSE(SaveDatabase());
  EXPECT_EQ(fs::file_size(DbFile()), kMaxDatabaseBytes + 1);
}

// --- Autosave ---

TEST_F(DatabaseTest, AutosaveWaitsForChangesAndFiveSeconds) {
  // No file yet: an empty library that saves.
  TrackInfoFor(L"/stale.mp3");
  LoadDatabase();
  EXPECT_TRUE(TrackLibrary.empty());
  EXPECT_FALSE(LibraryNoSave);
  EXPECT_FALSE(LibraryDirty);
  AutosaveLibrary(10'000);
  EXPECT_FALSE(fs::exists(DbFile()));  // nothing changed

  TrackInfoFor(L"/a.mp3").rating = 1;
  AutosaveLibrary(10'000);
  EXPECT_TRUE(fs::exists(DbFile()));
  EXPECT_FALSE(LibraryDirty);

  TrackInfoFor(L"/a.mp3").rating = 2;
  AutosaveLibrary(15'000);  // 5000 ms after the last try: too early
  EXPECT_TRUE(LibraryDirty);
  AutosaveLibrary(15'001);
  EXPECT_FALSE(LibraryDirty);
  LoadDatabase();
  EXPECT_EQ(FindTrackInfo(L"/a.mp3")->rating, 2);
}

// While a change waits on a failed save the status line says so and why, back whenever it is free
// (never over another message), until a save succeeds.
TEST_F(DatabaseTest, UnsavedChangesStayOnTheStatusLineUntilASaveSucceeds) {
  const uint64_t t0 = MonotonicMs();  // the status line's own clock
  TrackInfoFor(L"/a.mp3").rating = 1;
  fs::create_directories(DbFile() + "/blocker");  // a folder stands in the file's place
  AutosaveLibrary(t0);
  const std::wstring notice = Status.text;
  EXPECT_EQ(notice, L"Library changes not saved \u2014 a folder stands there, not a file; nothing was written");
  EXPECT_TRUE(LibraryChangesUnsaved());
  EXPECT_TRUE(WriteTemps(std::filesystem::path(DbFile()).parent_path().native()).empty());

  Status = StatusLine{};  // expired
  AutosaveLibrary(t0 + 1);
  EXPECT_EQ(Status.text, notice);
  ShowStatus(L"Analysis finished");
  AutosaveLibrary(t0 + 2);
  EXPECT_EQ(Status.text, L"Analysis finished");  // not cut short
  Status = StatusLine{};
  AutosaveLibrary(t0 + 5001);  // retried, still failing: back, logged once
  EXPECT_EQ(Status.text, notice);
  EXPECT_TRUE(LibraryAutosave.lastFailed);

  fs::remove_all(DbFile());
  AutosaveLibrary(t0 + 10'002);
  EXPECT_FALSE(LibraryAutosave.lastFailed);
  EXPECT_FALSE(LibraryChangesUnsaved());
  EXPECT_FALSE(StatusShowing(MonotonicMs()));  // gone with the save
  EXPECT_TRUE(fs::is_regular_file(DbFile()));
  TrackInfoFor(L"/b.mp3");
  AutosaveLibrary(t0 + 10'003);  // a new change is not unsaved until its save fails
  EXPECT_FALSE(StatusShowing(MonotonicMs()));
}

// Files found where they moved to are only kept once the database is saved: a failed save is said
// with the file and why, never a plain "Found".
TEST_F(DatabaseTest, FoundMovedFilesSayWhenTheDatabaseSaveFails) {
  TrackInfoFor(L"/gone/a.mp3").rating = 5;
  fs::create_directories(DbFile() + "/blocker");
  ApplyRelocate(new RelocateResult{.found = {{L"/gone/a.mp3", L"/new/a.mp3"}}, .missing = 2});
  EXPECT_EQ(Status.text,
            L"Found 1 of 2 missing files, but database.tsv couldn't be saved: a folder stands there, not a file; "
            L"nothing was written");
  EXPECT_TRUE(LibraryChangesUnsaved());

  fs::remove_all(DbFile());
  ApplyRelocate(new RelocateResult{.found = {{L"/new/a.mp3", L"/newer/a.mp3"}}, .missing = 1});
  EXPECT_EQ(Status.text, L"Found 1 of 1 missing file");
  ApplyRelocate(new RelocateResult{.missing = 1, .ambiguous = 1});
  EXPECT_EQ(Status.text, L"The missing file had several matches and was left alone");
  LoadDatabase();
  ASSERT_NE(FindTrackInfo(L"/newer/a.mp3"), nullptr);
  EXPECT_EQ(FindTrackInfo(L"/newer/a.mp3")->rating, 5);
}

TEST_F(DatabaseTest, TestModeSavesNothing) {
  TestMode = true;
  TrackInfoFor(L"/a.mp3");
  AutosaveLibrary(100'000);
  EXPECT_FALSE(SaveDatabase());
  EXPECT_FALSE(fs::exists(DbFile()));
  EXPECT_TRUE(LibraryDirty);
}
