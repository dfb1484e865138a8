#include <gtest/gtest.h>

#include <span>
#include <string>

#include "library/id3_frames.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

constexpr uint8_t kUnsyncFlag = 0x80, kExtendedFlag = 0x40, kFooterFlag = 0x10;

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string Syncsafe(uint32_t v) {
  return {char(v >> 21 & 0x7F), char(v >> 14 & 0x7F), char(v >> 7 & 0x7F), char(v & 0x7F)};
}
std::string BigEndian(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A frame as version 3 or 4 stores it: id, size, status flags 0, format flags, data.
std::string Frame(int version, const std::string& id, const std::string& data, uint8_t format = 0) {
  const auto size = static_cast<uint32_t>(data.size());
  return id + (version == 4 ? Syncsafe(size) : BigEndian(size)) + '\0' + char(format) + data;
}
std::string Tag(int version, const std::string& body, uint8_t flags = 0) {
  return std::string("ID3") + char(version) + '\0' + char(flags) + Syncsafe(static_cast<uint32_t>(body.size())) + body;
}

struct Parsed {
  Id3Status status;
  Id3Tag tag;
  std::wstring error;
};
Parsed Parse(const std::string& bytes) {
  Parsed p;
  p.status = ParseId3Tag(Bytes(bytes), &p.tag, &p.error);
  return p;
}

}  // namespace

TEST(Id3Pieces, SyncsafeAndUnsync) {
  uint32_t v = 0;
  const uint8_t small[] = {0x00, 0x00, 0x02, 0x01}, largest[] = {0x7F, 0x7F, 0x7F, 0x7F}, bad[] = {0, 0, 0x80, 0};
  ASSERT_TRUE(ReadSyncsafe(small, &v));
  EXPECT_EQ(v, 257u);
  ASSERT_TRUE(ReadSyncsafe(largest, &v));
  EXPECT_EQ(v, 0x0FFFFFFFu);
  v = 7;
  EXPECT_FALSE(ReadSyncsafe(bad, &v));
  EXPECT_EQ(v, 7u);
  EXPECT_EQ(Text(RemoveUnsync(Bytes(std::string("\x00\xFF\x00\xE0\xFF\x00\x00\xFF\xFF\x00", 10)))),
            std::string("\x00\xFF\xE0\xFF\x00\xFF\xFF", 7));
}

TEST(Id3Tags, FramesOfBothVersionsInFileOrder) {
  const std::string big(200, 'b');  // its size differs as syncsafe (01 48) and plain (00 C8)
  for (int version : {3, 4}) {
    const Parsed p = Parse(Tag(version, Frame(version, "TIT2", "\x03Title") + Frame(version, "USLT", big) +
                                            Frame(version, "TXXX", "") + std::string(30, '\0')) +
                           "\xFF\xFB audio");
    ASSERT_EQ(p.status, Id3Status::Ok) << WideToUtf8(p.error);
    EXPECT_EQ(p.tag.version, version);
    EXPECT_EQ(p.tag.bytes, 10u + 10 + 6 + 10 + 200 + 10 + 30);
    ASSERT_EQ(p.tag.frames.size(), 3u);
    EXPECT_EQ(p.tag.frames[0].id, "TIT2");
    EXPECT_EQ(Text(p.tag.frames[0].data), "\x03Title");
    EXPECT_EQ(Text(p.tag.frames[1].data), big);
    EXPECT_EQ(p.tag.frames[2].id, "TXXX");
    EXPECT_TRUE(p.tag.frames[2].data.empty());
  }
  // A 2.4 footer counts towards where the audio starts.
  EXPECT_EQ(Parse(Tag(4, Frame(4, "TIT2", "\x03x"), kFooterFlag) + std::string(10, 'f')).tag.bytes, 10u + 12 + 10);
}

TEST(Id3Tags, UnsynchronisationOfWholeTagsAndFrames) {
  // 2.3: the whole body is resynchronised first; frame sizes count the plain bytes.
  const std::string plain = std::string("\xFF\xE0\xFF\x00", 4);
  std::string stored = Frame(3, "PRIV", plain);
  std::string unsynced;
  for (size_t i = 0; i < stored.size(); ++i) {
    unsynced += stored[i];
    if (static_cast<uint8_t>(stored[i]) == 0xFF) unsynced += '\0';
  }
  Parsed p = Parse(Tag(3, unsynced, kUnsyncFlag));
  ASSERT_EQ(p.status, Id3Status::Ok) << WideToUtf8(p.error);
  ASSERT_EQ(p.tag.frames.size(), 1u);
  EXPECT_EQ(Text(p.tag.frames[0].data), plain);

  // 2.4: per frame, by its own flag or by the header's; stored sizes count the stored bytes.
  const std::string frameStored = std::string("\xFF\x00\xE0\xFF\x00\x00", 6);
  for (auto [headerFlags, frameFlags] : {std::pair<uint8_t, uint8_t>{0, 0x02}, {kUnsyncFlag, 0}}) {
    p = Parse(Tag(4, Frame(4, "PRIV", frameStored, frameFlags), headerFlags));
    ASSERT_EQ(p.status, Id3Status::Ok);
    EXPECT_EQ(Text(p.tag.frames.at(0).data), plain);
  }
  p = Parse(Tag(4, Frame(4, "PRIV", frameStored)));
  EXPECT_EQ(Text(p.tag.frames.at(0).data), frameStored);  // not marked: kept as stored
}

TEST(Id3Tags, FrameFormatFlags) {
  // 2.4: group byte, then data length indicator, both dropped; compressed and encrypted frames
  // cannot be read as stored and are left out.
  Parsed p = Parse(Tag(4, Frame(4, "TIT2", "G" + Syncsafe(3) + "abc", 0x41) + Frame(4, "TALB", "zz", 0x08) +
                              Frame(4, "TPE1", "zz", 0x04) + Frame(4, "TCON", std::string("\x00\x00\x00\x02" "ab", 6), 0x01)));
  ASSERT_EQ(p.status, Id3Status::Ok) << WideToUtf8(p.error);
  ASSERT_EQ(p.tag.frames.size(), 2u);
  EXPECT_EQ(Text(p.tag.frames[0].data), "abc");
  EXPECT_EQ(p.tag.frames[1].id, "TCON");
  EXPECT_EQ(Text(p.tag.frames[1].data), "ab");
  // 2.3: group byte dropped; compressed and encrypted left out.
  p = Parse(Tag(3, Frame(3, "TIT2", "Gabc", 0x20) + Frame(3, "TALB", "zzzzz", 0x80) + Frame(3, "TPE1", "zz", 0x40)));
  ASSERT_EQ(p.status, Id3Status::Ok) << WideToUtf8(p.error);
  ASSERT_EQ(p.tag.frames.size(), 1u);
  EXPECT_EQ(Text(p.tag.frames[0].data), "abc");
}

TEST(Id3Tags, ExtendedHeadersAreSkipped) {
  // 2.3: the size excludes its own four bytes; 2.4: a syncsafe size that includes them.
  Parsed p = Parse(Tag(3, BigEndian(6) + std::string(6, '\0') + Frame(3, "TIT2", "\x03x"), kExtendedFlag));
  ASSERT_EQ(p.status, Id3Status::Ok) << WideToUtf8(p.error);
  EXPECT_EQ(p.tag.frames.at(0).id, "TIT2");
  p = Parse(Tag(4, Syncsafe(6) + std::string("\x01\x00", 2) + Frame(4, "TIT2", "\x03x"), kExtendedFlag));
  ASSERT_EQ(p.status, Id3Status::Ok) << WideToUtf8(p.error);
  EXPECT_EQ(p.tag.frames.at(0).id, "TIT2");
}

// A bad header: a specific reason and no frames at all.
TEST(Id3Tags, MalformedHeadersFailWhole) {
  const std::string good = Frame(4, "TIT2", "\x03ok");
  const struct {
    std::string bytes;
    std::wstring error;
  } cases[] = {
      {Tag(4, good + Frame(4, "TALB", std::string(40, 'a'))).substr(0, 60),
       L"The file ends inside its ID3 tag (60 of 73 bytes)"},
      {Tag(4, good).replace(6, 4, std::string("\x00\x00\x80\x10", 4)), L"The ID3 tag size is not a syncsafe number"},
      {Tag(3, BigEndian(100) + good, kExtendedFlag), L"The ID3 extended header declares 104 bytes but the tag holds 17"},
      {Tag(4, Syncsafe(2) + good, kExtendedFlag),
       L"The ID3 extended header declares 2 bytes, fewer than its own fields"},
      {Tag(4, "\x01\x80\x00\x00" + good, kExtendedFlag), L"The ID3 extended header size is not a syncsafe number"},
      {Tag(3, "ab", kExtendedFlag), L"The ID3 extended header runs past the tag"},
      {std::string("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10) + good,
       L"The ID3 tag of 268435465 bytes is larger than the 64 MiB allowed"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_EQ(p.status, Id3Status::Malformed) << WideToUtf8(c.error);
    EXPECT_EQ(p.error, c.error);
    EXPECT_TRUE(p.tag.frames.empty());
    EXPECT_EQ(p.tag.version, 0);
  }
}

// A bad frame ends the walk there: the frames before it stay, nothing after it is read, and
// nothing is read past the tag (the bytes after it are not frames).
TEST(Id3Tags, ABadFrameKeepsTheFramesBeforeIt) {
  const std::string before = Frame(4, "SYLT", std::string("\x03" "eng\x02\x01\0a\0\0\0\0\x0A", 13)) + Frame(4, "TXXX", "");
  const std::string after = Frame(4, "TIT2", "\x03late");
  const std::string past = Frame(4, "TALB", "\x03outside");  // after the tag: never a frame
  const struct {
    std::string bytes;
    std::wstring error;
    size_t frames = 2;
  } cases[] = {
      // 2.4 sizes written as plain numbers, a common writer fault: C8 is not syncsafe ...
      {Tag(4, before + Frame(4, "GEOB", std::string(200, 'g')).replace(4, 4, BigEndian(200)) + after) + past,
       L"ID3 frame \"GEOB\" size is not a syncsafe number"},
      // ... and 00 00 01 2C reads as 172, which lands inside the frame's own data (nothing tells
      // that frame's size was wrong, so its first 172 bytes are kept).
      {Tag(4, before + Frame(4, "GEOB", std::string(300, 'g')).replace(4, 4, BigEndian(300)) + after) + past,
       L"ID3 frame id \"gggg\" is not four capital letters or digits", 3},
      {Tag(4, before + Frame(4, "USLT", "abcde").replace(4, 4, Syncsafe(0x0FFFFFFF))) + past,
       L"ID3 frame \"USLT\" declares 268435455 bytes but only 5 remain"},
      {Tag(3, Frame(3, "SYLT", "x") + Frame(3, "TXXX", "") + Frame(3, "USLT", "abcde").replace(4, 4, BigEndian(6))) + past,
       L"ID3 frame \"USLT\" declares 6 bytes but only 5 remain"},
      {Tag(4, before + "ti\x01T" + std::string(12, 'x') + after) + past,
       L"ID3 frame id \"ti\\x01T\" is not four capital letters or digits"},
      {Tag(4, before + Frame(4, "TIT2", "ab", 0x01) + after) + past,
       L"ID3 frame \"TIT2\" of 2 bytes is too short for the fields its flags announce"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.bytes);
    EXPECT_EQ(p.status, Id3Status::Partial) << WideToUtf8(c.error);
    EXPECT_EQ(p.error, c.error);
    ASSERT_EQ(p.tag.frames.size(), c.frames) << WideToUtf8(c.error);
    EXPECT_EQ(p.tag.frames[0].id, "SYLT");
    EXPECT_EQ(p.tag.frames[1].id, "TXXX");  // an empty frame is kept and the walk goes on
    EXPECT_EQ(p.tag.bytes, c.bytes.size() - past.size());
    if (c.frames == 3) {
      EXPECT_EQ(Text(p.tag.frames[2].data), std::string(172, 'g'));
    }
  }
  // A frame header cut by the tag's end is not read: the tag ends there.
  const Parsed cut = Parse(Tag(4, before + std::string("TIT2\0\0", 6)) + past);
  EXPECT_EQ(cut.status, Id3Status::Ok);
  EXPECT_EQ(cut.tag.frames.size(), 2u);
}

TEST(Id3Tags, NoTagOtherVersionsAndMissingFiles) {
  EXPECT_EQ(Parse("").status, Id3Status::NoTag);
  EXPECT_EQ(Parse("\xFF\xFB\x90\x00 audio frames").status, Id3Status::NoTag);
  Parsed p = Parse(std::string("ID3\x02\x00\x00\x00\x00\x00\x00", 10));
  EXPECT_EQ(p.status, Id3Status::Unsupported);
  EXPECT_EQ(p.error, L"ID3v2.2 tags are not read (only 2.3 and 2.4)");
  EXPECT_EQ(Parse(Tag(5, "")).status, Id3Status::Unsupported);
  EXPECT_EQ(Parse(Tag(4, "")).status, Id3Status::Ok);

  TempHome home;
  Id3Tag tag;
  EXPECT_EQ(ReadId3Tag(home.wpath() + L"/missing.mp3", &tag), Id3Status::Unreadable);
  EXPECT_TRUE(ReadId3Frames(home.wpath() + L"/missing.mp3").empty());
  WriteRaw(home.path() + "/cut.mp3", Tag(4, Frame(4, "TIT2", std::string(100, 'x'))).substr(0, 50));
  EXPECT_EQ(ReadId3Tag(home.wpath() + L"/cut.mp3", &tag), Id3Status::Malformed);
  EXPECT_TRUE(ReadId3Frames(home.wpath() + L"/cut.mp3").empty());
}

TEST(Id3Files, ReadFileBytesStopsAtTheLimitOrTheEnd) {
  TempHome home;
  WriteRaw(home.path() + "/f", "0123456789");
  EXPECT_EQ(Text(ReadFileBytes(home.wpath() + L"/f", 4)), "0123");
  EXPECT_EQ(Text(ReadFileBytes(home.wpath() + L"/f", size_t(1) << 40)), "0123456789");
  EXPECT_TRUE(ReadFileBytes(home.wpath() + L"/none", 4).empty());
  EXPECT_TRUE(ReadFileBytes(home.wpath(), 4).empty());  // a folder
}

TEST(Id3Text, EveryEncoding) {
  auto read = [](const std::string& bytes, uint8_t encoding, bool toEnd, size_t start = 0) {
    size_t pos = start;
    std::wstring text = ReadId3Text(Bytes(bytes), &pos, encoding, toEnd);
    return std::make_pair(text, pos);
  };
  // Latin-1 and UTF-8 stop after their 00; the position moves past it.
  EXPECT_EQ(read(std::string("Caf\xE9\0next", 9), 0, false), std::make_pair(std::wstring(L"Caf\u00e9"), size_t(5)));
  EXPECT_EQ(read(std::string("Caf\xC3\xA9\0x", 8), 3, false), std::make_pair(std::wstring(L"Caf\u00e9"), size_t(6)));
  EXPECT_EQ(read("abc", 0, false, 1), std::make_pair(std::wstring(L"bc"), size_t(3)));
  EXPECT_EQ(read(std::string("a\0b\0\0", 5), 0, true), std::make_pair(std::wstring(L"a\0b", 3), size_t(5)));
  EXPECT_EQ(read("\xE9", 7, false).first, L"\u00e9");  // an unknown encoding reads as Latin-1
  // UTF-16: the mark decides the order; without one, 1 is little-endian and 2 big-endian.
  EXPECT_EQ(read(std::string("\xFF\xFEh\0i\0\0\0z", 9), 1, false),
            std::make_pair(std::wstring(L"hi"), size_t(8)));
  EXPECT_EQ(read(std::string("\xFE\xFF\0h\0i\0\0", 8), 1, false).first, L"hi");
  EXPECT_EQ(read(std::string("h\0i\0", 4), 1, false).first, L"hi");
  EXPECT_EQ(read(std::string("\0h\0i", 4), 2, false).first, L"hi");
  EXPECT_EQ(read(std::string("\xFF\xFEh\0", 4), 2, false).first, L"h");
  EXPECT_EQ(read(std::string("\xD8\x3C\xDF\xA4\0!\0\0\0x", 10), 2, true),
            std::make_pair(std::wstring(L"\U0001F3A4!\0x", 4), size_t(10)));
  EXPECT_EQ(read(std::string("\xD8\x3C\xDF\xA4\0!\0\0\0x", 10), 2, false).first, L"\U0001F3A4!");
  EXPECT_EQ(read(std::string("\xDF\xA4\0!\0", 5), 2, false), std::make_pair(std::wstring(L"\ufffd!"), size_t(4)));
  EXPECT_EQ(read(std::string("a\0\0\0", 4), 1, true).first, L"a");  // trailing NULs go
  // A position past the end reads nothing and stays at the end.
  EXPECT_EQ(read("ab", 1, false, 9), std::make_pair(std::wstring(), size_t(2)));
}

// Tags written by a real tagger (python3-mutagen), in both versions, with frames over 127 bytes.
TEST(Id3Files, ReadsWhatMutagenWrites) {
  TempHome home;
  const std::string mp3 = home.path() + "/t.mp3";
  const std::string lyrics(300, 'w');
  for (const char* version : {"", " --v23"}) {
    WriteRaw(mp3, std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0'));
    int status = -1;
    RunCommand("/usr/bin/python3 " + ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_lyrics_tags.py") +
                   " " + ShellQuote(mp3) + version + " --uslt " + lyrics + " --uslt-encoding 1 --uslt-desc Desc" +
                   " --sylt '[[\"a\", 10], [\"b\", 20]]' 2>&1",
               &status);
    ASSERT_EQ(status, 0);
    Id3Tag tag;
    std::wstring error;
    ASSERT_EQ(ReadId3Tag(Utf8ToWide(mp3), &tag, &error), Id3Status::Ok) << WideToUtf8(error);
    EXPECT_EQ(tag.version, *version ? 3 : 4);
    EXPECT_EQ(ReadRaw(mp3).substr(tag.bytes, 2), "\xFF\xFB");  // the audio starts where the tag ends
    const Id3Frame* uslt = nullptr;
    int sylt = 0;
    for (const Id3Frame& f : tag.frames) {
      if (f.id == "USLT") uslt = &f;
      sylt += f.id == "SYLT";
    }
    ASSERT_NE(uslt, nullptr);
    EXPECT_EQ(sylt, 1);
    size_t pos = 4;
    EXPECT_EQ(ReadId3Text(uslt->data, &pos, uslt->data[0], false), L"Desc");
    EXPECT_EQ(ReadId3Text(uslt->data, &pos, uslt->data[0], true), Utf8ToWide(lyrics));
    EXPECT_EQ(pos, uslt->data.size());
  }
}
