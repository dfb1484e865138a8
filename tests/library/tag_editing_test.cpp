// Tag editing on real files: SaveTags read back by mutagen on MP3, FLAC and M4A, refused while a
// deck plays the file and allowed while it is paused, an immutable file left byte-identical; and
// the user's own tags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/status_message.h"
#include "base/tags.h"
#include "base/track_info.h"
#include "engine/transport.h"
#include "library/tag_editing.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

// mutagen's reading of the five fields, "title|artist|album|genre|comment", whatever the format.
constexpr const char* kMutagenReader = R"PY(
import sys, mutagen
f = mutagen.File(sys.argv[1])
t = f.tags
def first(*keys):
    for k in keys:
        for key in t.keys():
            if key == k or key.lower() == k.lower() or key.startswith(k + ":"):
                v = t[key]
                v = v.text if hasattr(v, "text") else v
                return str(v[0]) if isinstance(v, list) else str(v)
    return ""
if f.__class__.__name__ == "MP3":
    print("|".join([first("TIT2"), first("TPE1"), first("TALB"), first("TCON"), first("COMM")]))
elif f.__class__.__name__ == "MP4":
    print("|".join([first("\xa9nam"), first("\xa9ART"), first("\xa9alb"), first("\xa9gen"), first("\xa9cmt")]))
else:
    print("|".join([first("title"), first("artist"), first("album"), first("genre"), first("comment", "description")]))
)PY";

std::string MutagenFields(const std::string& path) {
  const std::string reader = path + ".reader.py";
  WriteRaw(reader, kMutagenReader);
  std::string out = RunCommand("/usr/bin/python3 " + ShellQuote(reader) + " " + ShellQuote(path) + " 2>&1");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TrackTags Fields(const std::wstring& suffix) {
  TrackTags t;
  t.title = L"Tïtle " + suffix;
  t.artist = L"Ärtist";
  t.album = L"Albüm";
  t.genre = L"Génre";
  t.comment = L"Cömment";
  return t;
}

class TagEditing : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    TrackLibrary.clear();
  }
  void TearDown() override {
    ResetDecksForTest();
    TrackLibrary.clear();
  }
  std::string Make(const std::string& name) {
    const std::string path = home_.path() + "/" + name;
    int status = -1;
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=f=440:d=3 -metadata title=Old " + ShellQuote(path) + " 2>&1",
               &status);
    EXPECT_EQ(status, 0) << name;
    return path;
  }
  TempHome home_;
};

TEST_F(TagEditing, SavedFieldsReadBackByMutagen) {
  for (const std::string name : {"a.mp3", "b.flac", "c.m4a"}) {
    const std::string path = Make(name);
    ASSERT_TRUE(SaveTags(Utf8ToWide(path), Fields(Utf8ToWide(name)))) << name << ": " << WideToUtf8(Status.text);
    EXPECT_EQ(Status.text, kTagsSavedText);
    EXPECT_EQ(MutagenFields(path), "Tïtle " + name + "|Ärtist|Albüm|Génre|Cömment") << name;
  }
}

TEST_F(TagEditing, RefusedWhilePlayingAllowedWhilePaused) {
  const std::string path = Make("deck.mp3");
  const std::wstring wpath = Utf8ToWide(path);
  ASSERT_TRUE(LoadAndWait(1, path));
  PlayPause(1);
  const std::string before = ReadRaw(path);
  EXPECT_FALSE(SaveTags(wpath, Fields(L"playing")));
  EXPECT_EQ(Status.text, kTagsPlayingText);
  EXPECT_EQ(ReadRaw(path), before);
  PlayPause(1);  // paused, still loaded
  EXPECT_TRUE(SaveTags(wpath, Fields(L"paused")));
  EXPECT_EQ(MutagenFields(path), "Tïtle paused|Ärtist|Albüm|Génre|Cömment");
}

TEST_F(TagEditing, AFileThatCannotBeWrittenStaysByteIdentical) {
  const std::string path = Make("locked.flac");
  const std::string before = ReadRaw(path);
  int status = -1;
  RunCommand("chattr +i " + ShellQuote(path) + " 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "chattr +i is not available on this file system";
  const bool saved = SaveTags(Utf8ToWide(path), Fields(L"x"));
  const std::wstring shown = Status.text;
  RunCommand("chattr -i " + ShellQuote(path));
  EXPECT_FALSE(saved);
  EXPECT_EQ(shown, L"Couldn't save the tags of locked.flac: the file is read-only");
  EXPECT_EQ(ReadRaw(path), before);
}

TEST(MyTags, StoredNormalisedToggledAndListedOnce) {
  TrackLibrary.clear();
  StoreMyTags(L"/m/a.mp3", L"  vocal , Vocal,opener  ");
  EXPECT_EQ(FindTrackInfo(L"/m/a.mp3")->myTags, L"vocal, opener");
  ToggleMyTag(L"/m/a.mp3", L"OPENER");
  EXPECT_EQ(FindTrackInfo(L"/m/a.mp3")->myTags, L"vocal");
  ToggleMyTag(L"/m/a.mp3", L" Summer ");
  EXPECT_EQ(FindTrackInfo(L"/m/a.mp3")->myTags, L"vocal, Summer");
  ToggleMyTag(L"/m/a.mp3", L"  ");
  EXPECT_EQ(FindTrackInfo(L"/m/a.mp3")->myTags, L"vocal, Summer");
  ToggleMyTag(L"/m/new.mp3", L"Deep");  // creates the record
  StoreMyTags(L"/m/c.mp3", L"deep, ambient");
  const std::vector<std::wstring> all = AllMyTags();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], L"ambient");
  EXPECT_TRUE(all[1] == L"Deep" || all[1] == L"deep");
  EXPECT_EQ(all[2], L"Summer");
  EXPECT_EQ(all[3], L"vocal");
  TrackLibrary.clear();
}

}  // namespace
