#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/beat_grid.h"
#include "library/rekordbox_xml.h"
#include "platform/file_url.h"
#include "platform/text.h"
#include "platform/xml.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

class RekordboxTest : public ::testing::Test {
 protected:
  RekordboxTest() {
    dir_ = home_.path() + "/Music/Deep \xC3\xA9";
    std::filesystem::create_directories(dir_);
  }
  // An (empty) audio file in the music folder; its path.
  std::wstring Song(const std::string& name) {
    WriteRaw(dir_ + "/" + name, "");
    return Utf8ToWide(dir_ + "/" + name);
  }
  std::string Url(const std::wstring& path) { return WideToUtf8(PathToFileUrl(path)); }
  ImportResult Import(const std::string& body) {
    WriteRaw(home_.path() + "/rb.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DJ_PLAYLISTS Version=\"1.0.0\">" +
                                           body + "</DJ_PLAYLISTS>\n");
    return ImportRekordbox(Utf8ToWide(home_.path() + "/rb.xml"));
  }

  TempHome home_;
  std::string dir_;
};

bool NoTags(const std::wstring&, TrackTags*) { return false; }
const ExportFileAccess kAnyFile = {.isFile = [](const std::wstring&) { return true; }, .readTags = NoTags};

}  // namespace

TEST_F(RekordboxTest, ReadsGridKeyRatingColourAndCuesAsTheFileHasThem) {
  const std::wstring a = Song("a b.mp3"), b = Song("b.mp3"), c = Song("c.mp3");
  ImportResult r = Import(
      "<COLLECTION Entries=\"5\">"
      // rekordbox writes long attribute lists over several lines.
      "<TRACK TrackID=\"1\" AverageBpm=\"128.00\" Rating=\"204\" Tonality=\"8A\" Colour=\"0xFF0000\"\n"
      "   Kind=\"MP3-Datei\" Location=\"" + Url(a) + "\">"
      "<TEMPO Inizio=\"0.1\" Bpm=\"128\" Metro=\"4/4\" Battito=\"1\"/>"
      "<TEMPO Inizio=\"30.1\" Bpm=\"130\" Metro=\"4/4\" Battito=\"1\"/>"
      "<TEMPO Inizio=\"30.12\" Bpm=\"131\" Metro=\"4/4\" Battito=\"1\"/>"
      "<POSITION_MARK Name=\"Drop\" Type=\"4\" Start=\"1.5\" End=\"9.5\" Num=\"2\" Red=\"255\" Green=\"256\" Blue=\"1\"/>"
      "<POSITION_MARK Name=\"\" Type=\"0\" Start=\"12.5\" Num=\"-1\"/>"
      "<POSITION_MARK Name=\"\" Type=\"0\" Start=\"40.0\" Num=\"-1\"/>"
      "<POSITION_MARK Name=\"nine\" Type=\"0\" Start=\"3\" Num=\"9\"/>"
      "<POSITION_MARK Name=\"huge\" Type=\"0\" Start=\"3\" Num=\"99999999999999999999\"/>"
      "<POSITION_MARK Type=\"0\" Start=\"nan\" Num=\"1\"/><POSITION_MARK Type=\"0\" Start=\"1e999\" Num=\"3\"/>"
      "<POSITION_MARK Type=\"0\" Start=\"-2\" Num=\"4\"/><POSITION_MARK Type=\"0\" Start=\"90000\" Num=\"5\"/>"
      "<POSITION_MARK Type=\"4\" Start=\"5\" End=\"inf\" Num=\"6\"/>"
      "</TRACK>"
      "<TRACK TrackID=\"2\" AverageBpm=\"128\" Rating=\"230\" Tonality=\"F#m\" Location=\"" + Url(b) + "\"/>"
      "<TRACK TrackID=\"3\" AverageBpm=\"128\" Rating=\"25\" Location=\"" + Url(c) + "\">"
      "<TEMPO Inizio=\"0.1\" Bpm=\"0\"/></TRACK>"
      "<TRACK TrackID=\"4\" Location=\"file://localhost/nowhere/gone.mp3\"/>"
      "<TRACK TrackID=\"5\" AverageBpm=\"inf\" Location=\"" + Url(Utf8ToWide(dir_)) + "\"><TEMPO Inizio=\"0\" Bpm=\"120\"/></TRACK>"
      "</COLLECTION>");
  ASSERT_EQ(r.tracks.size(), 3u) << WideToUtf8(r.error);  // the missing file and the folder are no tracks
  EXPECT_EQ(r.error, L"");
  const ImportedTrack& t = r.tracks[0];
  EXPECT_EQ(t.path, a);
  EXPECT_DOUBLE_EQ(t.bpm, 128.0);
  EXPECT_DOUBLE_EQ(t.firstBeat, 0.1);
  ASSERT_EQ(t.tempoMarkers.size(), 2u);  // (64, 30.1), the 30.12 point dropped, then the closing marker
  EXPECT_DOUBLE_EQ(t.tempoMarkers[0].beat, 64.0);
  EXPECT_DOUBLE_EQ(t.tempoMarkers[0].seconds, 30.1);
  EXPECT_DOUBLE_EQ(t.tempoMarkers[1].beat, 2112.0);
  EXPECT_DOUBLE_EQ(t.tempoMarkers[1].seconds, 30.1 + 122880.0 / 130.0);
  EXPECT_EQ(t.key, 9 + 12);  // 8A is A minor
  EXPECT_EQ(t.rating, 4);
  EXPECT_EQ(t.color, 2);  // red
  EXPECT_DOUBLE_EQ(t.cue, 12.5);
  EXPECT_EQ(t.memoryCues, (std::vector<double>{12.5, 40.0}));
  EXPECT_DOUBLE_EQ(t.hotCueStart[2], 1.5);
  EXPECT_DOUBLE_EQ(t.hotCueEnd[2], 9.5);
  EXPECT_EQ(t.hotCueName[2], L"Drop");
  EXPECT_EQ(t.hotCueColor[2], 0xFF0001);  // each channel & 255
  // Non-finite, negative and over-a-day times count as absent; a loop without a usable end is a point.
  for (int slot : {1, 3, 4, 5}) EXPECT_EQ(t.hotCueStart[slot], -1.0) << slot;
  EXPECT_DOUBLE_EQ(t.hotCueStart[6], 5.0);
  EXPECT_EQ(t.hotCueEnd[6], -1.0);
  EXPECT_EQ(t.hotCueStart[0], -1.0);
  EXPECT_EQ(t.hotCueStart[7], -1.0);

  EXPECT_EQ(r.tracks[1].bpm, 0.0);  // a tempo without a grid is no tempo
  EXPECT_EQ(r.tracks[1].rating, 5);
  EXPECT_EQ(r.tracks[1].key, 6 + 12);
  EXPECT_DOUBLE_EQ(r.tracks[2].bpm, 128.0);  // TEMPO Bpm 0 takes AverageBpm
  EXPECT_DOUBLE_EQ(r.tracks[2].firstBeat, 0.1);
  EXPECT_EQ(r.tracks[2].rating, 0);
  EXPECT_TRUE(r.tracks[2].tempoMarkers.empty());
}

TEST_F(RekordboxTest, PlaylistsByTrackIdOrLocationWithFoldersJoined) {
  const std::wstring a = Song("a.mp3"), b = Song("b.mp3");
  std::string deep;
  for (int i = 0; i < kMaxRekordboxFolderDepth + 5; ++i) deep += "<NODE Type=\"0\" Name=\"f\">";
  deep += "<NODE Type=\"1\" Name=\"lost\" KeyType=\"0\"><TRACK Key=\"1\"/></NODE>";
  for (int i = 0; i < kMaxRekordboxFolderDepth + 5; ++i) deep += "</NODE>";
  ImportResult r = Import(
      "<COLLECTION><TRACK TrackID=\"1\" Location=\"" + Url(a) + "\"/><TRACK TrackID=\"2\" Location=\"" + Url(b) +
      "\"/><TRACK TrackID=\"3\" Location=\"file:///gone.mp3\"/></COLLECTION>"
      "<PLAYLISTS><NODE Type=\"0\" Name=\"ROOT\">"
      "<NODE Type=\"0\" Name=\"House\"><NODE Type=\"1\" Name=\"Deep\" KeyType=\"0\">"
      "<TRACK Key=\"2\"/><TRACK Key=\"3\"/><TRACK Key=\"2\"/><TRACK Key=\"1\"/></NODE></NODE>"
      "<NODE Type=\"1\" Name=\"By place\" KeyType=\"1\"><TRACK Key=\"" + Url(b) +
      "\"/><TRACK Key=\"file:///gone.mp3\"/></NODE>"
      "<NODE Type=\"1\" Name=\"Only gone\" KeyType=\"0\"><TRACK Key=\"3\"/></NODE>"
      "<NODE Type=\"1\" Name=\"\" KeyType=\"0\"><TRACK Key=\"1\"/></NODE>" +
      deep + "</NODE></PLAYLISTS>");
  ASSERT_EQ(r.playlists.size(), 2u);
  EXPECT_EQ(r.playlists[0].name, L"House / Deep");
  EXPECT_EQ(r.playlists[0].paths, (std::vector<std::wstring>{b, b, a}));
  EXPECT_EQ(r.playlists[1].name, L"By place");
  EXPECT_EQ(r.playlists[1].paths, (std::vector<std::wstring>{b}));
}

TEST_F(RekordboxTest, FailuresGiveTheirTexts) {
  EXPECT_EQ(Import("<COLLECTION><TRACK TrackID=\"1\" Location=\"file:///gone.mp3\"/></COLLECTION>").error,
            kRekordboxNoTracksText);
  WriteRaw(home_.path() + "/bad.xml", "<DJ_PLAYLISTS><COLLECTION>");
  ImportResult bad = ImportRekordbox(Utf8ToWide(home_.path() + "/bad.xml"));
  EXPECT_EQ(bad.error, kXmlReadErrorText);
  EXPECT_TRUE(bad.tracks.empty());
  ASSERT_EQ(mkfifo((home_.path() + "/fifo.xml").c_str(), 0600), 0);
  EXPECT_EQ(ImportRekordbox(Utf8ToWide(home_.path() + "/fifo.xml")).error, kXmlReadErrorText);
}

TEST_F(RekordboxTest, WritesTheLayoutRekordboxReadsAndReadsItBack) {
  const std::wstring a = Song("a&<\"b>.mp3"), upper = Song("A&<\"B>.mp3"), other = Song("other");
  ExportRecord ra;
  ra.path = a;
  ra.info.bpm = 128.0;
  ra.info.firstBeat = 0.1;
  ra.info.tempoMarkers = {{64.0, 30.1}, {2112.0, 30.1 + 122880.0 / 130.0}};
  ra.info.key = 21;
  ra.info.rating = 9;  // limited to 5 stars
  ra.info.color = 2;
  ra.info.cue = 12.5;
  ra.info.memoryCues = {12.504, 40.0};
  ra.info.hotCueStart[0] = 1.5;
  ra.info.hotCueEnd[0] = 1.5;  // end == start: a point
  ra.info.hotCueStart[3] = 2.0;
  ra.info.hotCueEnd[3] = 4.25;
  ra.info.hotCueName[3] = L"Loop \u201cA\u201d\x01\uFFFE";
  ra.hotCueRgb = {0xFF3D6E, 0, 0, 0x123456, 0, 0, 0, 0};
  ExportRecord same = ra;  // the same path again: written once
  ExportRecord rUpper;     // differs in case only: another file on Linux
  rUpper.path = upper;
  ExportRecord missing;
  missing.path = Utf8ToWide(dir_ + "/gone.mp3");
  ExportRecord plain;
  plain.path = other;
  TrackList list{.name = L"Set & <1>", .paths = {other, a, missing.path, a}};
  TrackList none{.name = L"Empty", .paths = {missing.path}};
  const std::wstring target = home_.wpath() + L"/out.xml";
  std::wstring error;
  ASSERT_EQ(WriteRekordboxXml(target, {ra, same, rUpper, missing, plain}, {list, none}, &error), 3) << WideToUtf8(error);
  const std::string text = ReadRaw(WideToUtf8(target));
  EXPECT_NE(text.find("  <PRODUCT Name=\"Veldmix\" Version=\"1.0.10\" Company=\"Orrelby\"/>\n  <COLLECTION Entries=\"3\">\n"
                      "    <TRACK TrackID=\"1\" Name=\"a&amp;&lt;&quot;b&gt;\" Artist=\"\" Album=\"\" Genre=\"\" "
                      "Kind=\"MP3 File\" TotalTime=\"0\" AverageBpm=\"128.00\" PlayCount=\"0\" Rating=\"255\" "
                      "Comments=\"\" Tonality=\"Am\" Colour=\"0xFF0000\" Location=\"file://localhost"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("      <TEMPO Inizio=\"0.100\" Bpm=\"128.00\" Metro=\"4/4\" Battito=\"1\"/>\n"
                      "      <TEMPO Inizio=\"30.100\" Bpm=\"130.00\" Metro=\"4/4\" Battito=\"1\"/>\n"),
            std::string::npos);
  EXPECT_NE(text.find("      <POSITION_MARK Name=\"\" Type=\"0\" Start=\"12.500\" Num=\"-1\"/>\n"
                      "      <POSITION_MARK Name=\"\" Type=\"0\" Start=\"40.000\" Num=\"-1\"/>\n"
                      "      <POSITION_MARK Name=\"\" Type=\"0\" Start=\"1.500\" Num=\"0\" Red=\"255\" Green=\"61\" Blue=\"110\"/>\n"
                      "      <POSITION_MARK Name=\"Loop \xE2\x80\x9C" "A\xE2\x80\x9D\" Type=\"4\" Start=\"2.000\" End=\"4.250\" "
                      "Num=\"3\" Red=\"18\" Green=\"52\" Blue=\"86\"/>\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Kind=\"Audio File\""), std::string::npos);
  EXPECT_NE(text.find("      <NODE Type=\"0\" Name=\"Veldmix\" Count=\"1\">\n"
                      "        <NODE Name=\"Set &amp; &lt;1&gt;\" Type=\"1\" KeyType=\"0\" Entries=\"3\">\n"
                      "          <TRACK Key=\"3\"/>\n          <TRACK Key=\"1\"/>\n          <TRACK Key=\"1\"/>\n"
                      "        </NODE>\n      </NODE>\n    </NODE>\n  </PLAYLISTS>\n</DJ_PLAYLISTS>\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);

  // Read back: the same grid, key, cues.
  ImportResult back = ImportRekordbox(target);
  ASSERT_EQ(back.tracks.size(), 3u) << WideToUtf8(back.error);
  const ImportedTrack& t = back.tracks[0];
  EXPECT_EQ(t.path, a);
  EXPECT_EQ(back.tracks[1].path, upper);
  EXPECT_EQ(t.key, 21);
  EXPECT_EQ(t.rating, 5);
  EXPECT_EQ(t.color, 2);
  Track written, read;
  written.bpm = ra.info.bpm, written.firstBeat = ra.info.firstBeat, written.tempoMarkers = ra.info.tempoMarkers;
  read.bpm = t.bpm, read.firstBeat = t.firstBeat, read.tempoMarkers = t.tempoMarkers;
  for (double s : {0.0, 10.0, 30.0, 31.0, 500.0, 2000.0})
    EXPECT_NEAR(BeatAtTime(read, s), BeatAtTime(written, s), 0.01) << s;
  EXPECT_DOUBLE_EQ(t.cue, 12.5);
  EXPECT_EQ(t.memoryCues, (std::vector<double>{12.5, 40.0}));
  EXPECT_DOUBLE_EQ(t.hotCueStart[0], 1.5);
  EXPECT_EQ(t.hotCueEnd[0], -1.0);
  EXPECT_DOUBLE_EQ(t.hotCueEnd[3], 4.25);
  EXPECT_EQ(t.hotCueName[3], L"Loop \u201cA\u201d");
  EXPECT_EQ(t.hotCueColor[3], 0x123456);
  ASSERT_EQ(back.playlists.size(), 1u);
  EXPECT_EQ(back.playlists[0].paths, (std::vector<std::wstring>{other, a, a}));
}

TEST_F(RekordboxTest, AFailedWriteKeepsTheLastGoodFile) {
  const std::wstring a = Song("a.mp3");
  ExportRecord record;
  record.path = a;
  const std::wstring target = home_.wpath() + L"/out.xml";
  std::wstring error;
  ASSERT_EQ(WriteRekordboxXml(target, {record}, {}, &error), 1);
  const std::string good = ReadRaw(WideToUtf8(target));
  // Nothing to write: no file is touched.
  record.path = Utf8ToWide(dir_ + "/gone.mp3");
  EXPECT_EQ(WriteRekordboxXml(target, {record}, {}, &error), -1);
  EXPECT_EQ(error, kNothingToExportText);
  EXPECT_EQ(ReadRaw(WideToUtf8(target)), good);
  // The write fails part-way (no room for the file): the old file stays whole.
  record.path = a;
  record.info.bpm = 120.0;
  {
    FileSizeLimit full(64);
    EXPECT_EQ(WriteRekordboxXml(target, {record}, {}, &error), -1);
  }
  EXPECT_EQ(error, kExportWriteErrorText);
  EXPECT_EQ(ReadRaw(WideToUtf8(target)), good);
  EXPECT_EQ(WriteRekordboxXml(home_.wpath() + L"/no/such/folder/out.xml", {record}, {}, &error), -1);
  EXPECT_EQ(error, kExportWriteErrorText);
}

TEST(RekordboxText, EscapeDropsWhatXmlCannotHoldAndKindNamesTheFormat) {
  std::wstring text = L"a\"&<>\tb\nc\x01";
  text += static_cast<wchar_t>(0xFFFE);
  text += static_cast<wchar_t>(0xFFFF);
  text += static_cast<wchar_t>(0xD800);
  text += static_cast<wchar_t>(0x110000);
  text += L"\u00e9\U0001F3B5";
  EXPECT_EQ(XmlEscape(text), L"a&quot;&amp;&lt;&gt;\tbc\u00e9\U0001F3B5");
  EXPECT_EQ(KindName(L"/m/song.m4a"), L"M4A File");
  EXPECT_EQ(KindName(L"/m/song.Mp4"), L"M4A File");
  EXPECT_EQ(KindName(L"/m/song.aif"), L"AIFF File");
  EXPECT_EQ(KindName(L"/m/song.aiff"), L"AIFF File");
  EXPECT_EQ(KindName(L"/m/song.mp3"), L"MP3 File");
  EXPECT_EQ(KindName(L"/m.d/song"), L"Audio File");
}

TEST(RekordboxText, TheWriterAloneNeedsNoFiles) {
  ExportRecord record;
  record.path = L"/m/x.flac";
  record.info.bpm = 126.0;
  int32_t written = 0;
  const std::string text = RekordboxXmlText({record}, {}, kAnyFile, &written);
  EXPECT_EQ(written, 1);
  EXPECT_NE(text.find("Name=\"x\""), std::string::npos);  // the file name stands in for a missing title
  EXPECT_NE(text.find("<TEMPO Inizio=\"0.000\" Bpm=\"126.00\" Metro=\"4/4\" Battito=\"1\"/>"), std::string::npos);
  std::wstring error;
  EXPECT_TRUE(ParseXmlDocument(text, &error)) << text;
}

TEST_F(RekordboxTest, ANameRepeatedMillionsOfTimesCannotBlowUpTheResult) {
  // One real file with a long path, named by far more list entries than the bound lets through.
  std::string deep = dir_;
  for (int i = 0; i < 15; ++i) deep += "/" + std::string(250, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  WriteRaw(deep + "/t.mp3", "");
  const std::wstring path = Utf8ToWide(deep + "/t.mp3");
  const size_t fits = kMaxImportedPlaylistChars / (path.size() + 1);
  std::string entries;
  for (size_t i = 0; i < fits + 1000; ++i) entries += "<TRACK Key=\"1\"/>";
  ImportResult r = Import("<COLLECTION><TRACK TrackID=\"1\" Location=\"" + Url(path) +
                          "\"/></COLLECTION><PLAYLISTS><NODE Type=\"0\" Name=\"ROOT\">"
                          "<NODE Type=\"1\" Name=\"Many\" KeyType=\"0\">" + entries + "</NODE>"
                          "<NODE Type=\"1\" Name=\"After\" KeyType=\"0\"><TRACK Key=\"1\"/></NODE></NODE></PLAYLISTS>");
  ASSERT_EQ(r.tracks.size(), 1u);
  ASSERT_EQ(r.playlists.size(), 1u);
  EXPECT_EQ(r.playlists[0].paths.size(), fits);
}

TEST_F(RekordboxTest, TwoExportsToOneFileNeverInterleave) {
  std::vector<ExportRecord> small(1), large(400);
  small[0].path = Song("small.mp3");
  for (size_t i = 0; i < large.size(); ++i) {
    large[i].path = Song("large" + std::to_string(i) + ".mp3");
    large[i].info.bpm = 120.0;
    large[i].info.memoryCues = {1.0, 2.0, 3.0};
  }
  int32_t n = 0;
  const std::string smallText = RekordboxXmlText(small, {}, kAnyFile, &n);
  const std::string largeText = RekordboxXmlText(large, {}, kAnyFile, &n);
  const std::wstring target = home_.wpath() + L"/same.xml";
  for (int round = 0; round < 20; ++round) {
    std::wstring e1, e2;
    std::thread one([&] { WriteRekordboxXml(target, small, {}, &e1, kAnyFile); });
    std::thread two([&] { WriteRekordboxXml(target, large, {}, &e2, kAnyFile); });
    one.join();
    two.join();
    const std::string text = ReadRaw(WideToUtf8(target));
    ASSERT_TRUE(text == smallText || text == largeText) << "round " << round << ": " << text.size() << " bytes";
    EXPECT_EQ(e1 + e2, L"");
  }
}

// The importer closes a grid with a marker 2048 beats on, far past the end of a short track. An
// exchange with rekordbox must not turn it into a real point: each export, import round trip
// would add one more, and rekordbox would hold tempo changes where the track has no audio.
TEST_F(RekordboxTest, RoundTripsLeaveAnImportedGridAsItWas) {
  const std::string song = dir_ + "/thirty.flac";
  int status = -1;
  RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:duration=30 " + ShellQuote(song) + " 2>&1", &status);
  ASSERT_EQ(status, 0);
  const std::wstring path = Utf8ToWide(song);
  ImportResult first = Import("<COLLECTION Entries=\"1\"><TRACK TrackID=\"7\" AverageBpm=\"128\" Location=\"" +
                              Url(path) + "\"><TEMPO Inizio=\"0.1\" Bpm=\"128\"/><TEMPO Inizio=\"15.1\" Bpm=\"130\"/>"
                              "<TEMPO Inizio=\"22.484\" Bpm=\"126\"/></TRACK></COLLECTION>");
  ASSERT_EQ(first.tracks.size(), 1u) << WideToUtf8(first.error);
  const ImportedTrack original = first.tracks[0];
  ASSERT_EQ(original.tempoMarkers.size(), 3u) << "two real markers and the closing one";

  ImportedTrack now = original;
  for (int trip = 1; trip <= 3; ++trip) {
    ExportRecord record;
    record.path = path;
    record.info.bpm = now.bpm;
    record.info.firstBeat = now.firstBeat;
    record.info.tempoMarkers = now.tempoMarkers;
    const std::wstring target = home_.wpath() + L"/trip.xml";
    std::wstring error;
    ASSERT_EQ(WriteRekordboxXml(target, {record}, {}, &error), 1) << WideToUtf8(error);
    const std::string text = ReadRaw(WideToUtf8(target));
    // Every TEMPO lies within the 30 s track.
    size_t tempos = 0;
    for (size_t at = text.find("<TEMPO Inizio=\""); at != std::string::npos; at = text.find("<TEMPO Inizio=\"", at + 1)) {
      ++tempos;
      EXPECT_LE(std::stod(text.substr(at + 15)), 30.0) << "trip " << trip << "\n" << text;
    }
    EXPECT_EQ(tempos, 3u) << text;
    ImportResult back = ImportRekordbox(target);
    ASSERT_EQ(back.tracks.size(), 1u) << WideToUtf8(back.error);
    now = back.tracks[0];
    ASSERT_EQ(now.tempoMarkers.size(), original.tempoMarkers.size()) << "trip " << trip;
    EXPECT_NEAR(now.firstBeat, original.firstBeat, 1e-3);
    for (size_t i = 0; i < now.tempoMarkers.size(); ++i) {
      EXPECT_EQ(now.tempoMarkers[i].beat, original.tempoMarkers[i].beat) << "trip " << trip << " marker " << i;
      EXPECT_NEAR(now.tempoMarkers[i].seconds, original.tempoMarkers[i].seconds, 0.05) << "trip " << trip;
    }
  }
  // A grid that earlier exchanges already padded with made-up points keeps only the track's own.
  ExportRecord padded;
  padded.path = path;
  padded.info.bpm = 128.0;
  padded.info.firstBeat = 0.1;
  padded.info.tempoMarkers = {{32.0, 15.1}, {2080.0, 960.0}, {4128.0, 1905.0}};
  std::wstring error;
  ASSERT_EQ(WriteRekordboxXml(home_.wpath() + L"/padded.xml", {padded}, {}, &error), 1);
  const std::string text = ReadRaw(home_.path() + "/padded.xml");
  EXPECT_NE(text.find("Inizio=\"15.100\""), std::string::npos) << text;
  EXPECT_EQ(text.find("Inizio=\"960.000\""), std::string::npos) << text;
  EXPECT_EQ(text.find("Inizio=\"1905.000\""), std::string::npos) << text;
}
