#include "karaoke/lyrics_sources.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <vector>

#include "base/log.h"
#include "base/text_parse.h"
#include "karaoke/lrc.h"
#include "library/id3_frames.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/media_probe.h"
#include "platform/media_tags.h"
#include "platform/text.h"

namespace {

constexpr size_t kUsltDescriptorAt = 4;   // after the encoding byte and three language bytes
constexpr size_t kSyltMinBytes = 7;       // encoding, language, stamp format, content type, descriptor
constexpr size_t kSyltStampFormatAt = 4;
constexpr size_t kSyltDescriptorAt = 6;
constexpr uint8_t kSyltStampMpegFrames = 1;
constexpr size_t kSyltTimeBytes = 4;
constexpr double kMillisecondsPerSecond = 1000.0;
// Syllable-timed songs have a few thousand entries; far more is not lyrics.
constexpr size_t kMaxSyltEntries = 100000;

// MPEG audio frame header fields.
constexpr size_t kMpegHeaderBytes = 4;
constexpr uint8_t kMpegSyncHigh = 0xFF;
constexpr uint8_t kMpegSyncLowMask = 0xE0;
constexpr uint8_t kMpegBadBitrateIndex = 0xF;
constexpr uint8_t kMpegReservedRateIndex = 3;
constexpr uint8_t kMpegReservedLayerBits = 0;

constexpr const wchar_t* kCdgExtensions[] = {L".cdg", L".CDG"};
constexpr const wchar_t* kLrcExtensions[] = {L".lrc", L".LRC"};

bool IsLineBreak(wchar_t c) { return c == L'\r' || c == L'\n'; }

std::wstring LowerExtension(const std::wstring& path) {
  const std::wstring name = FileNameOf(path, PathSeparators::kSlashOrBackslash);
  const size_t dot = name.rfind(L'.');
  std::wstring ext = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
  for (wchar_t& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return ext;
}

// Up to `limit` bytes of the file from `offset`; empty when it cannot be read there.
std::vector<uint8_t> ReadFileRange(const std::wstring& path, uint64_t offset, size_t limit) {
  const long long size = FileSize(path);
  if (size < 0 || static_cast<uint64_t>(size) <= offset) return {};
  std::ifstream in(PathToBytes(path), std::ios::binary);
  if (!in.seekg(static_cast<std::streamoff>(offset))) return {};
  std::vector<uint8_t> bytes(std::min<uint64_t>(static_cast<uint64_t>(size) - offset, limit));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

const MpegVersionRow* MpegVersionOf(uint8_t bits) {
  for (const MpegVersionRow& row : kMpegVersions)
    if (row.bits == bits) return &row;
  return nullptr;
}

// Seconds per frame of the header at p, or 0.0 when it is not a valid header.
double MpegHeaderSeconds(const uint8_t* p) {
  if (p[0] != kMpegSyncHigh || (p[1] & kMpegSyncLowMask) != kMpegSyncLowMask) return 0.0;
  const MpegVersionRow* version = MpegVersionOf((p[1] >> 3) & 3);
  const uint8_t layerBits = (p[1] >> 1) & 3;  // 3 is layer I, 2 layer II, 1 layer III
  const uint8_t bitrateIndex = p[2] >> 4;
  const uint8_t rateIndex = (p[2] >> 2) & 3;
  if (!version || layerBits == kMpegReservedLayerBits || bitrateIndex == kMpegBadBitrateIndex ||
      rateIndex == kMpegReservedRateIndex)
    return 0.0;
  return double(version->samplesPerFrame[3 - layerBits]) / version->sampleRates[rateIndex];
}

// The MPEG frame length of an MP3 whose ID3 tag ends at tagBytes; the default when not found.
double FileMpegFrameSeconds(const std::wstring& path, uint64_t tagBytes) {
  const double seconds = MpegFrameSeconds(ReadFileRange(path, tagBytes, kMpegSyncSearchBytes));
  return seconds > 0.0 ? seconds : kDefaultMpegFrameSeconds;
}

struct SyltEntry {
  std::wstring text;
  double time;
};

// Ends a line of joined syllables: trailing spaces go and word spans stay inside the text.
void FinishSyllableLine(LyricLine* line, std::vector<LyricLine>* lines) {
  while (!line->text.empty() && line->text.back() == L' ') line->text.pop_back();
  const auto length = static_cast<int32_t>(line->text.size());
  for (LyricWord& w : line->words) w.count = std::max(0, std::min(w.count, length - w.offset));
  std::erase_if(line->words, [](const LyricWord& w) { return w.count == 0; });
  lines->push_back(std::move(*line));
  *line = LyricLine{};
}

// Syllables with line breaks: joined into word-timed lines.
std::vector<LyricLine> JoinSyllables(std::vector<SyltEntry>& entries) {
  std::vector<LyricLine> lines;
  LyricLine line;
  bool started = false;
  for (SyltEntry& e : entries) {
    std::wstring& text = e.text;
    if (!text.empty() && IsLineBreak(text.front())) {
      if (started) FinishSyllableLine(&line, &lines);
      started = false;
      text.erase(0, std::find_if_not(text.begin(), text.end(), IsLineBreak) - text.begin());
    }
    const bool endAfter = !text.empty() && IsLineBreak(text.back());
    while (!text.empty() && IsLineBreak(text.back())) text.pop_back();
    if (!started) {
      line.start = e.time;
      started = true;
    }
    if (!text.empty()) {
      line.words.push_back(LyricWord{.start = e.time,
                                     .offset = static_cast<int32_t>(line.text.size()),
                                     .count = static_cast<int32_t>(text.size())});
      line.text += text;
    }
    if (endAfter) {
      FinishSyllableLine(&line, &lines);
      started = false;
    }
  }
  if (started) FinishSyllableLine(&line, &lines);
  return lines;
}

// The first USLT frame whose text is not blank; empty when none.
std::wstring UsltText(const std::vector<Id3Frame>& frames) {
  for (const Id3Frame& f : frames) {
    // Lyrics text is held to the size of a lyrics file, wherever it comes from.
    if (f.id != "USLT" || f.data.size() <= kUsltDescriptorAt || f.data.size() > kMaxLyricsFileBytes) continue;
    size_t pos = kUsltDescriptorAt;
    ReadId3Text(f.data, &pos, f.data[0], false);  // the content descriptor
    std::wstring text = ReadId3Text(f.data, &pos, f.data[0], true);
    if (!TrimText(text).empty()) return text;
  }
  return {};
}

std::wstring TagStoreLyrics(const std::wstring& path) {
  const std::unique_ptr<TagStore> store = TagStore::Open(path, TagAccess::Read);
  if (!store) return {};
  for (const std::wstring& value : store->Values(TagProperty::Lyrics))
    if (value.size() <= kMaxLyricsFileBytes && !TrimText(value).empty()) return value;
  return {};
}

// The ".cdg" beside the track as CD+G lyrics; kind None when it is missing, short or too large.
Lyrics CdgBeside(const std::wstring& trackPath) {
  for (const wchar_t* ext : kCdgExtensions) {
    const std::wstring path = SiblingPath(trackPath, ext);
    const long long size = FileSize(path);
    if (size < 0 || !FileExists(path)) continue;
    if (static_cast<uint64_t>(size) > kMaxCdgFileBytes) {
      WriteLog(L"Lyrics: {} is larger than {} MiB; passed over", path, kMaxCdgFileBytes >> 20);
      continue;
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>(ReadFileBytes(path, kMaxCdgFileBytes));
    if (bytes->size() < kCdgPacketBytes) continue;
    Lyrics lyrics;
    lyrics.kind = LyricsKind::CdgGraphics;
    lyrics.cdg = std::move(bytes);
    lyrics.source = L"CD+G graphics (" + FileNameOf(path, PathSeparators::kSlashOrBackslash) + L")";
    return lyrics;
  }
  return {};
}

}  // namespace

std::wstring SiblingPath(const std::wstring& trackPath, const std::wstring& extension) {
  const size_t slash = trackPath.find_last_of(L"\\/");
  const size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
  const size_t dot = trackPath.rfind(L'.');
  const size_t stem = dot != std::wstring::npos && dot >= nameStart ? dot : trackPath.size();
  return trackPath.substr(0, stem) + extension;
}

double MpegFrameSeconds(std::span<const uint8_t> bytes) {
  for (size_t i = 0; i + kMpegHeaderBytes <= bytes.size(); ++i)
    if (const double seconds = MpegHeaderSeconds(&bytes[i]); seconds > 0.0) return seconds;
  return 0.0;
}

bool ParseSylt(std::span<const uint8_t> frame, Lyrics* lyrics, double mpegFrameSeconds) {
  if (frame.size() < kSyltMinBytes) return false;
  const uint8_t encoding = frame[0];
  const bool mpegFrames = frame[kSyltStampFormatAt] == kSyltStampMpegFrames;
  size_t pos = kSyltDescriptorAt;
  ReadId3Text(frame, &pos, encoding, false);  // the content descriptor
  std::vector<SyltEntry> entries;
  size_t chars = 0;
  bool breaks = false;
  while (pos < frame.size()) {
    std::wstring text = ReadId3Text(frame, &pos, encoding, false);
    if (pos + kSyltTimeBytes > frame.size()) break;
    const uint32_t stamp = uint32_t(frame[pos]) << 24 | uint32_t(frame[pos + 1]) << 16 |
                           uint32_t(frame[pos + 2]) << 8 | uint32_t(frame[pos + 3]);
    pos += kSyltTimeBytes;
    const double time = mpegFrames ? stamp * mpegFrameSeconds : stamp / kMillisecondsPerSecond;
    if (time > kMaxLyricSeconds) continue;  // a stamp this late is no time
    chars += text.size();
    if (entries.size() >= kMaxSyltEntries || chars > kMaxLyricsChars) {
      WriteLog(L"Lyrics: a SYLT frame of {} bytes holds more than the lyrics limits; ignored", frame.size());
      return false;
    }
    breaks = breaks || std::any_of(text.begin(), text.end(), IsLineBreak);
    entries.push_back(SyltEntry{.text = std::move(text), .time = time});
  }
  std::vector<LyricLine> lines;
  if (breaks) {
    lines = JoinSyllables(entries);
  } else {
    for (SyltEntry& e : entries) lines.push_back(LyricLine{.start = e.time, .text = TrimText(e.text), .words = {}});
  }
  std::erase_if(lines, [](const LyricLine& l) { return l.text.empty() && l.words.empty() && l.start == 0.0; });
  const bool tooLong = std::any_of(lines.begin(), lines.end(),
                                   [](const LyricLine& l) { return l.text.size() > kMaxLyricLineChars; });
  if (lines.empty() || lines.size() > kMaxLyricLines || tooLong) {
    if (!lines.empty()) WriteLog(L"Lyrics: a SYLT frame's lines exceed the lyrics limits; ignored");
    return false;
  }
  std::stable_sort(lines.begin(), lines.end(), [](const LyricLine& a, const LyricLine& b) { return a.start < b.start; });
  lyrics->kind = LyricsKind::Synced;
  lyrics->lines = std::move(lines);
  return true;
}

Lyrics ReadTagLyrics(const std::wstring& trackPath) {
  std::wstring text;
  if (LowerExtension(trackPath) == L".mp3") {
    Id3Tag tag;
    std::wstring error;
    if (const Id3Status status = ReadId3Tag(trackPath, &tag, &error);
        status == Id3Status::Malformed || status == Id3Status::Partial)
      WriteLog(L"Lyrics: {}: {}", trackPath, error);
    double frameSeconds = 0.0;  // read from the audio only when a SYLT frame counts in frames
    for (const Id3Frame& f : tag.frames) {
      if (f.id != "SYLT" || f.data.size() > kMaxLyricsFileBytes) continue;
      if (frameSeconds == 0.0 && f.data.size() > kSyltStampFormatAt && f.data[kSyltStampFormatAt] == kSyltStampMpegFrames)
        frameSeconds = FileMpegFrameSeconds(trackPath, tag.bytes);
      Lyrics lyrics;
      if (ParseSylt(f.data, &lyrics, frameSeconds > 0.0 ? frameSeconds : kDefaultMpegFrameSeconds)) {
        lyrics.source = kSyltSourceText;
        return lyrics;
      }
    }
    text = UsltText(tag.frames);
  }
  if (text.empty()) text = TagStoreLyrics(trackPath);
  if (TrimText(text).empty()) return {};
  return ParseLrcWithSource(text, kTagSourceText);
}

Lyrics FindLyrics(const std::wstring& trackPath) {
  const std::wstring cachePath = LyricsCachePath(trackPath);
  if (FileExists(cachePath)) {
    Lyrics cached = ParseLrcWithSource(ReadLyricsText(cachePath), kCacheSourceText);
    if (cached.kind != LyricsKind::None) return cached;
  }
  if (FileHasVideo(trackPath)) {
    Lyrics video;
    video.kind = LyricsKind::KaraokeVideo;
    video.source = kVideoSourceText;
    return video;
  }
  if (Lyrics cdg = CdgBeside(trackPath); cdg.kind != LyricsKind::None) return cdg;
  for (const wchar_t* ext : kLrcExtensions) {
    const std::wstring path = SiblingPath(trackPath, ext);
    if (!FileExists(path)) continue;
    Lyrics lrc = ParseLrcWithSource(ReadLyricsText(path), FileNameOf(path, PathSeparators::kSlashOrBackslash));
    if (lrc.kind != LyricsKind::None) return lrc;
  }
  return ReadTagLyrics(trackPath);
}
