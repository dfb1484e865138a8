#include "library/tracklist_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings.h"
#include "base/track_info.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

constexpr int kAMinor = 21;  // 8A on the Camelot wheel

// A folder of short MP3 files whose tags FFmpeg wrote, and the library records of the tests.
class Tracklist : public ::testing::Test {
 protected:
  void SetUp() override {
    TrackLibrary.clear();
    Settings.Camelot = true;
    source_ = home_.path() + "/tone.wav";
    Run("sox -n -r 44100 -c 2 -b 16 " + ShellQuote(source_) + " synth 0.5 sine 440");
  }
  void TearDown() override {
    TrackLibrary.clear();
    Settings.Camelot = true;
  }
  // An MP3 named `name` with the given title and artist tags (empty ones are left out).
  std::wstring Mp3(const std::string& name, const std::string& title, const std::string& artist) {
    const std::string path = home_.path() + "/" + name;
    std::string tags;
    if (!title.empty()) tags += " -metadata title=" + ShellQuote(title);
    if (!artist.empty()) tags += " -metadata artist=" + ShellQuote(artist);
    Run("ffmpeg -v error -y -i " + ShellQuote(source_) + tags + " " + ShellQuote(path));
    return Utf8ToWide(path);
  }
  static void Analysed(const std::wstring& path, double bpm, int key, bool analysed = true) {
    TrackInfo& info = TrackInfoFor(path);
    info.bpm = bpm;
    info.key = key;
    info.analyzed = analysed;
  }
  static void Run(const std::string& command) {
    int status = -1;
    RunCommand(command + " 2>&1", &status);
    ASSERT_EQ(status, 0) << command;
  }
  TempHome home_;
  std::string source_;
};

}  // namespace

TEST_F(Tracklist, NumberedListForAnExport) {
  const std::wstring tagged = Mp3("a.mp3", "Title One", "Artist Ü");
  const std::wstring titleOnly = Mp3("b.mp3", "Only A Title", "");
  const std::wstring untagged = Mp3("Plain Name.mp3", "", "");
  Analysed(tagged, 124.0, kAMinor);
  Analysed(titleOnly, 98.25, -1);

  EXPECT_EQ(TracklistText({tagged, titleOnly, untagged}),
            L"1. Artist Ü \u2013 Title One  (124.0 BPM, 8A)\r\n"
            L"2. Only A Title  (98.2 BPM)\r\n"
            L"3. Plain Name.mp3\r\n");

  Settings.Camelot = false;
  EXPECT_EQ(TracklistText({tagged}), L"1. Artist Ü \u2013 Title One  (124.0 BPM, Am)\r\n");
}

TEST_F(Tracklist, StampsStartTimesInARecordedMix) {
  const std::wstring first = Mp3("first.mp3", "Opener", "DJ");
  const std::wstring second = Mp3("second.mp3", "Closer", "DJ");
  Analysed(second, 128.0, kAMinor);
  const std::vector<double> seconds = {0.0, 725.6};
  EXPECT_EQ(TracklistText({first, second}, &seconds),
            L"0:00  DJ \u2013 Opener\r\n"
            L"12:05  DJ \u2013 Closer  (128.0 BPM, 8A)\r\n");
}

TEST_F(Tracklist, TimesAreTruncatedNeverNegativeAndNotFoldedIntoHours) {
  const std::wstring track = Mp3("t.mp3", "", "");
  const std::vector<std::wstring> paths(5, track);
  const std::vector<double> seconds = {-3.0, 59.99, 3599.9, 3600.0, 7322.0};
  EXPECT_EQ(TracklistText(paths, &seconds),
            L"0:00  t.mp3\r\n0:59  t.mp3\r\n59:59  t.mp3\r\n60:00  t.mp3\r\n122:02  t.mp3\r\n");
  // A path the time list leaves out starts at 0:00.
  const std::vector<double> short_list = {61.0};
  EXPECT_EQ(TracklistText({track, track}, &short_list), L"1:01  t.mp3\r\n0:00  t.mp3\r\n");
}

TEST_F(Tracklist, ArtistWithoutTitleUsesTheFileName) {
  const std::wstring path = Mp3("Night Drive.mp3", "", "Someone");
  EXPECT_EQ(TracklistText({path}), L"1. Someone \u2013 Night Drive.mp3\r\n");
}

TEST_F(Tracklist, OnlyAnalysedRecordsAddTempoAndKey) {
  const std::wstring path = Mp3("x.mp3", "X", "");
  Analysed(path, 140.0, kAMinor, false);
  EXPECT_EQ(TracklistText({path}), L"1. X\r\n");
}

TEST_F(Tracklist, EmptyAndMissingFiles) {
  EXPECT_EQ(TracklistText({}), L"");
  const std::vector<double> none;
  EXPECT_EQ(TracklistText({}, &none), L"");
  // A file that is gone still gets a line with its name.
  EXPECT_EQ(TracklistText({home_.wpath() + L"/gone/Lost Song.flac"}), L"1. Lost Song.flac\r\n");
}
