#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "base/tags.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

void Make(const std::string& command) {
  int status = -1;
  RunCommand(command + " 2>&1", &status);
  ASSERT_EQ(status, 0) << command;
}

// One tag as ffprobe reads it from the file's container metadata ("" when absent).
std::string ProbeTag(const std::string& path, const std::string& key) {
  std::string out = RunCommand("ffprobe -v error -show_entries format_tags=" + key + " -of default=nw=1:nk=1 " +
                               ShellQuote(path) + " 2>/dev/null");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The decoded audio, to show a tag edit left the sound alone.
std::string Pcm(const std::string& path) {
  return RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -f s16le - 2>/dev/null");
}

// True when a working copy was left in the folder.
bool WorkCopyLeft(const std::string& folder) { return !WriteTemps(folder).empty(); }

const char kMetadata[] =
    "-metadata title='Café Noir' -metadata artist='Zoë Ñandú' -metadata album='Über Alles' "
    "-metadata genre='Deep House' -metadata comment='línea uno'";

}  // namespace

// Tags written by FFmpeg come back in every common container, accents intact, with the play time.
TEST(TagsRead, ReadsWhatFfmpegWroteInEachFormat) {
  TempHome home;
  const std::string src = home.path() + "/src.wav";
  Make("sox -n -r 44100 -c 2 -b 16 " + src + " synth 2.5 sine 440");
  for (const char* name : {"t.mp3", "t.flac", "t.ogg", "t.m4a", "t.opus"}) {
    const std::string path = home.path() + "/" + name;
    Make("ffmpeg -v error -i " + src + " " + kMetadata + " " + path);
    TrackTags tags;
    ASSERT_TRUE(ReadTags(Utf8ToWide(path), &tags)) << name;
    EXPECT_EQ(tags.title, L"Café Noir") << name;
    EXPECT_EQ(tags.artist, L"Zoë Ñandú") << name;
    EXPECT_EQ(tags.album, L"Über Alles") << name;
    EXPECT_EQ(tags.genre, L"Deep House") << name;
    EXPECT_EQ(tags.comment, L"línea uno") << name;
    EXPECT_NEAR(tags.duration, 2.5, 0.1) << name;
  }
}

// A WAV without tags reads as empty texts and its play time; a file no format reads leaves the
// caller's values alone.
TEST(TagsRead, UntaggedAndUnreadableFiles) {
  TempHome home;
  const std::string wav = home.path() + "/plain.wav";
  Make("sox -n -r 48000 -c 2 -b 16 " + wav + " synth 3 sine 440");
  TrackTags tags{.title = L"x", .artist = L"x", .album = L"x", .genre = L"x", .comment = L"x", .duration = 9};
  ASSERT_TRUE(ReadTags(Utf8ToWide(wav), &tags));
  EXPECT_EQ(tags.title, L"");
  EXPECT_EQ(tags.artist, L"");
  EXPECT_EQ(tags.album, L"");
  EXPECT_EQ(tags.genre, L"");
  EXPECT_EQ(tags.comment, L"");
  EXPECT_NEAR(tags.duration, 3.0, 0.01);

  WriteRaw(home.path() + "/notes.txt", "hello\n");
  for (const char* name : {"notes.txt", "missing.mp3"}) {
    TrackTags kept;
    kept.title = L"keep";
    kept.duration = 7.0;
    EXPECT_FALSE(ReadTags(Utf8ToWide(home.path() + "/" + name), &kept)) << name;
    EXPECT_EQ(kept.title, L"keep");
    EXPECT_EQ(kept.duration, 7.0);
  }
}

// Several artists in one file read as one text joined the platform's way.
TEST(TagsRead, JoinsSeveralValues) {
  TempHome home;
  const std::string flac = home.path() + "/duo.flac";
  Make("sox -n -r 44100 -c 2 -b 16 " + flac + " synth 1 sine 440");
  Make("metaflac --set-tag=ARTIST=Ana --set-tag=ARTIST=Bo --set-tag=GENRE=Disco " + flac);
  TrackTags tags;
  ASSERT_TRUE(ReadTags(Utf8ToWide(flac), &tags));
  EXPECT_EQ(tags.artist, L"Ana; Bo");
  EXPECT_EQ(tags.genre, L"Disco");
}

// Written tags read back in ffprobe with every character intact, in MP3 and FLAC; an empty artist
// removes the artist; the audio and the file's mode are unchanged and no working copy is left.
TEST(TagsWrite, RoundTripsThroughFfprobe) {
  TempHome home;
  const std::string src = home.path() + "/src.wav";
  Make("sox -n -r 44100 -c 2 -b 16 " + src + " synth 1.5 sine 440");
  const TrackTags tags{.title = L"Ünïcödé 🎵 Mix", .artist = L"", .album = L"Ça va",
                       .genre = L"Música", .comment = L"日本語のコメント", .duration = 99.0};
  for (const char* name : {"w.mp3", "w.flac"}) {
    const std::string path = home.path() + "/" + name;
    Make("ffmpeg -v error -i " + src + " " + kMetadata + " " + path);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string audio = Pcm(path);
    UiText error = L"untouched";
    ASSERT_TRUE(WriteTags(Utf8ToWide(path), tags, &error)) << name << ": " << WideToUtf8(EnglishText(error));
    EXPECT_EQ(EnglishText(error), L"untouched");
    EXPECT_EQ(ProbeTag(path, "title"), "Ünïcödé 🎵 Mix") << name;
    EXPECT_EQ(ProbeTag(path, "artist"), "") << name;
    EXPECT_EQ(ProbeTag(path, "album"), "Ça va") << name;
    EXPECT_EQ(ProbeTag(path, "genre"), "Música") << name;
    EXPECT_EQ(ProbeTag(path, "comment"), "日本語のコメント") << name;
    EXPECT_EQ(Pcm(path), audio) << name;
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read) << name;

    TrackTags back;
    ASSERT_TRUE(ReadTags(Utf8ToWide(path), &back));
    EXPECT_EQ(back.title, tags.title);
    EXPECT_EQ(back.artist, L"");
    EXPECT_EQ(back.comment, tags.comment);
    EXPECT_NEAR(back.duration, 1.5, 0.1);  // never written
  }
  EXPECT_FALSE(WorkCopyLeft(home.path()));
}

// A tag that grows past the file's padding moves the audio back, one that shrinks moves it
// forward; either way the sound is untouched (FLAC checks its own MD5 of the samples).
TEST(TagsWrite, GrowsAndShrinksWithoutTouchingTheAudio) {
  TempHome home;
  const std::string noise = home.path() + "/noise.wav";
  Make("sox -n -r 44100 -c 2 -b 16 " + noise + " synth 4 whitenoise vol 0.3");
  for (const char* name : {"g.flac", "g.mp3"}) {
    const std::string path = home.path() + "/" + name;
    Make("ffmpeg -v error -i " + noise + " " + path);
    const std::string audio = Pcm(path);
    const long long size = static_cast<long long>(fs::file_size(path));
    for (const size_t length : {size_t(300000), size_t(1)}) {
      TrackTags tags;
      tags.title = L"Grow";
      tags.comment = std::wstring(length, L'é');
      UiText error;
      ASSERT_TRUE(WriteTags(Utf8ToWide(path), tags, &error)) << name << ": " << WideToUtf8(EnglishText(error));
      TrackTags back;
      ASSERT_TRUE(ReadTags(Utf8ToWide(path), &back));
      EXPECT_EQ(back.comment.size(), length) << name;
      EXPECT_EQ(Pcm(path), audio) << name << " after a comment of " << length;
      if (length > 1) {
        EXPECT_GT(static_cast<long long>(fs::file_size(path)), size + 300000) << name;
      }
    }
    if (std::string(name) == "g.flac") {
      int status = -1;
      RunCommand("flac -s -t " + ShellQuote(path) + " 2>&1", &status);
      EXPECT_EQ(status, 0);
    }
  }
  EXPECT_FALSE(WorkCopyLeft(home.path()));
}

// Through a symbolic link the file it names changes and the link stays a link.
TEST(TagsWrite, WritesThroughALink) {
  TempHome home;
  const std::string real = home.path() + "/real.flac";
  const std::string link = home.path() + "/link.flac";
  Make("sox -n -r 44100 -c 2 -b 16 " + real + " synth 1 sine 440");
  fs::create_symlink(real, link);
  UiText error;
  TrackTags tags;
  tags.title = L"Linked";
  ASSERT_TRUE(WriteTags(Utf8ToWide(link), tags, &error)) << WideToUtf8(EnglishText(error));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ProbeTag(real, "title"), "Linked");
}

// A file no tag format takes, or no file, is refused with its name and the real cause and stays
// as it was.
TEST(TagsWrite, RefusesFilesThatCannotTakeTags) {
  TempHome home;
  const std::string dir = home.path();
  const std::string notes = dir + "/notes.txt";
  WriteRaw(notes, "just text\n");
  fs::create_directory(dir + "/folder.mp3");
  fs::create_symlink(dir + "/gone.mp3", dir + "/dangling.mp3");
  fs::create_symlink(dir + "/loop-b.mp3", dir + "/loop-a.mp3");
  fs::create_symlink(dir + "/loop-a.mp3", dir + "/loop-b.mp3");
  ASSERT_EQ(::mkfifo((dir + "/pipe.mp3").c_str(), 0644), 0);
  TrackTags tags;
  tags.title = L"x";
  const std::pair<const char*, const wchar_t*> kCases[] = {
      {"notes.txt", L"Couldn't save the tags of notes.txt: no tag format for this file"},
      {"missing.flac", L"Couldn't save the tags of missing.flac: there is no file there"},
      {"folder.mp3", L"Couldn't save the tags of folder.mp3: a folder stands there, not a file"},
      {"dangling.mp3", L"Couldn't save the tags of dangling.mp3: its symbolic link points at nothing"},
      {"loop-a.mp3", L"Couldn't save the tags of loop-a.mp3: its symbolic links go round in a loop"},
      {"pipe.mp3", L"Couldn't save the tags of pipe.mp3: it is a device, pipe or socket, not a regular file"},
  };
  for (const auto& [name, message] : kCases) {
    UiText error;
    EXPECT_FALSE(WriteTags(Utf8ToWide(dir + "/" + name), tags, &error)) << name;
    EXPECT_EQ(EnglishText(error), message);
  }
  EXPECT_EQ(ReadRaw(notes), "just text\n");
  EXPECT_FALSE(fs::exists(home.path() + "/missing.flac"));
  EXPECT_FALSE(WorkCopyLeft(home.path()));
}

// The field table: each of the five properties once, in TrackTags order, lists for artist and genre.
TEST(TagsTable, CoversEachFieldOnce) {
  std::set<TagProperty> seen;
  for (const TagField& f : kTagFields) EXPECT_TRUE(seen.insert(f.property).second);
  ASSERT_EQ(std::size(kTagFields), 5u);
  EXPECT_EQ(kTagFields[0].field, &TrackTags::title);
  EXPECT_EQ(kTagFields[1].field, &TrackTags::artist);
  EXPECT_EQ(kTagFields[2].field, &TrackTags::album);
  EXPECT_EQ(kTagFields[3].field, &TrackTags::genre);
  EXPECT_EQ(kTagFields[4].field, &TrackTags::comment);
  for (const TagField& f : kTagFields)
    EXPECT_EQ(f.isList, f.property == TagProperty::Artist || f.property == TagProperty::Genre);
}
