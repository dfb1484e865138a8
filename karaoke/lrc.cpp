#include "karaoke/lrc.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "library/id3_frames.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr size_t kMaxTimeTagChars = 32;  // "123:45:67.890" and more fit; longer is no time
constexpr size_t kMaxTimeFields = 3;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kSecondsPerHour = 3600.0;
constexpr double kHundredthsPerSecond = 100.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr int64_t kHundredthsPerSecondInt = 100;
constexpr int64_t kSecondsPerMinuteInt = 60;
constexpr int64_t kHundredthsPerMinute = kHundredthsPerSecondInt * kSecondsPerMinuteInt;
constexpr size_t kLoggedExcerptChars = 40;
constexpr const wchar_t* kCacheFolderName = L"Lyrics";


std::wstring AsciiLower(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

// A run of ASCII digits with at most one "." (and at least one digit), read as a decimal number.
bool ParseDecimal(std::wstring_view text, double* value) {
  int dots = 0, digits = 0;
  for (wchar_t c : text) {
    if (c == L'.') ++dots;
    else if (c >= L'0' && c <= L'9') ++digits;
    else return false;
  }
  return dots <= 1 && digits > 0 && ParseNumber(text, value);
}

// The offset tag's value: an optional sign, then a decimal number of milliseconds.
bool ParseSignedDecimal(std::wstring_view text, double* value) {
  double sign = 1.0;
  if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) {
    sign = text[0] == L'-' ? -1.0 : 1.0;
    text.remove_prefix(1);
  }
  if (!ParseDecimal(text, value)) return false;
  *value *= sign;
  return true;
}

std::wstring Excerpt(std::wstring_view text) { return PrintableExcerpt(text, kLoggedExcerptChars); }

// What one pass over LRC text collects before the lines are finished.
struct LrcParse {
  std::vector<LyricLine> timed;
  std::vector<std::wstring> untimed;
  double fileOffset = 0.0;
  bool estimated = false;
  size_t chars = 0;
  std::wstring tooBig;  // why the text was refused; empty while within the limits

  // Counts lines and characters about to be added; false (with the reason) past a limit.
  bool Room(size_t addedLines, size_t addedChars) {
    if (timed.size() + untimed.size() + addedLines > kMaxLyricLines) {
      tooBig = fmt::format(L"more than {} lines", kMaxLyricLines);
      return false;
    }
    if (chars + addedChars > kMaxLyricsChars) {
      tooBig = fmt::format(L"more than {} characters", kMaxLyricsChars);
      return false;
    }
    chars += addedChars;
    return true;
  }
};

void ReadMetadataTag(std::wstring_view inner, size_t colon, LrcParse* parse) {
  const std::wstring key = AsciiLower(TrimText(inner.substr(0, colon)));
  const std::wstring value = TrimText(inner.substr(colon + 1));
  if (key == L"offset") {
    double ms = 0.0;
    // An offset beyond the time limit is as meaningless as such a time tag.
    if (ParseSignedDecimal(value, &ms) && std::abs(ms) / kMillisecondsPerSecond <= kMaxLyricSeconds)
      parse->fileOffset = ms / kMillisecondsPerSecond;
  } else if (key == L"vx") {
    if (AsciiLower(value) == L"estimated") parse->estimated = true;
  }
}

// The text after a timed line's tags, with its word tags taken out as words.
void ReadWords(std::wstring_view rest, std::wstring* text, std::vector<LyricWord>* words, LrcParse* parse) {
  bool open = false;
  LyricWord word;
  auto closeWord = [&] {
    if (open && text->size() > static_cast<size_t>(word.offset)) {
      word.count = static_cast<int32_t>(text->size()) - word.offset;
      words->push_back(word);
    }
  };
  // The next ">" is remembered, so a run of "<" without tags stays linear.
  size_t nextClose = 0;
  bool closeKnown = false;
  for (size_t i = 0; i < rest.size();) {
    if (rest[i] == L'<') {
      if (!closeKnown || (nextClose != std::wstring_view::npos && nextClose <= i)) {
        nextClose = rest.find(L'>', i + 1);
        closeKnown = true;
      }
      if (nextClose != std::wstring_view::npos) {
        const double t = ParseLrcTime(rest.substr(i + 1, nextClose - i - 1));
        if (t >= 0.0) {
          closeWord();
          word = LyricWord{.start = t, .offset = static_cast<int32_t>(text->size()), .count = 0};
          open = true;
          i = nextClose + 1;
          continue;
        }
      }
    }
    if (text->size() >= kMaxLyricLineChars) {
      parse->tooBig = fmt::format(L"a line longer than {} characters", kMaxLyricLineChars);
      return;
    }
    *text += rest[i++];
  }
  closeWord();
}

// Blank-only text loses its words; otherwise blanks go from both ends and word spans follow.
void TidyLine(std::wstring* text, std::vector<LyricWord>* words) {
  if (std::all_of(text->begin(), text->end(), IsBlank)) {
    text->clear();
    words->clear();
    return;
  }
  size_t lead = 0;
  while (IsBlank((*text)[lead])) ++lead;
  text->erase(0, lead);
  while (IsBlank(text->back())) text->pop_back();
  const auto length = static_cast<int32_t>(text->size());
  for (LyricWord& w : *words) {
    w.offset = std::max(0, w.offset - static_cast<int32_t>(lead));
    w.count = std::max(0, std::min(w.count, length - w.offset));
  }
  std::erase_if(*words, [](const LyricWord& w) { return w.count == 0; });
}

void ParseLine(std::wstring_view line, LrcParse* parse) {
  size_t cursor = 0;
  bool consumed = false;
  std::vector<double> stamps;
  while (cursor < line.size() && line[cursor] == L'[') {
    const size_t close = line.find(L']', cursor + 1);
    if (close == std::wstring_view::npos) break;
    const std::wstring_view inner = line.substr(cursor + 1, close - cursor - 1);
    const double t = ParseLrcTime(inner);
    if (t >= 0.0) {
      if (stamps.size() >= kMaxLyricLines) {
        parse->tooBig = fmt::format(L"more than {} lines", kMaxLyricLines);
        return;
      }
      stamps.push_back(t);
    } else {
      const size_t colon = inner.find(L':');
      if (colon == std::wstring_view::npos) break;
      ReadMetadataTag(inner, colon, parse);
    }
    consumed = true;
    cursor = close + 1;
  }
  if (stamps.empty()) {
    // A line that held only metadata tags is not words.
    if (consumed) return;
    std::wstring text = TrimText(line);
    if (text.empty()) return;
    if (text.size() > kMaxLyricLineChars) {
      parse->tooBig = fmt::format(L"a line longer than {} characters", kMaxLyricLineChars);
      return;
    }
    if (parse->Room(1, text.size())) parse->untimed.push_back(std::move(text));
    return;
  }
  std::wstring text;
  std::vector<LyricWord> words;
  ReadWords(line.substr(cursor), &text, &words, parse);
  if (!parse->tooBig.empty()) return;
  TidyLine(&text, &words);
  if (!parse->Room(stamps.size(), text.size() * stamps.size())) return;
  for (double stamp : stamps) {
    LyricLine made{.start = stamp, .text = text, .words = words};
    for (LyricWord& w : made.words) w.start += stamp - stamps.front();
    parse->timed.push_back(std::move(made));
  }
}

// Parses the text; on text beyond the limits returns kind None with *tooBig saying why.
Lyrics ParseLrcText(std::wstring_view text, std::wstring* tooBig) {
  LrcParse parse;
  size_t begin = 0;
  while (begin <= text.size() && parse.tooBig.empty()) {
    // Lines end at LF, CR LF, or a lone CR (lyrics copied from some players use CR alone).
    const size_t end = text.find_first_of(L"\r\n", begin);
    const size_t stop = end == std::wstring_view::npos ? text.size() : end;
    ParseLine(text.substr(begin, stop - begin), &parse);
    if (end == std::wstring_view::npos) break;
    begin = end + (text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n' ? 2 : 1);
  }
  Lyrics lyrics;
  if (!parse.tooBig.empty()) {
    *tooBig = parse.tooBig;
    return lyrics;
  }
  if (!parse.timed.empty()) {
    std::stable_sort(parse.timed.begin(), parse.timed.end(),
                     [](const LyricLine& a, const LyricLine& b) { return a.start < b.start; });
    for (LyricLine& line : parse.timed) {
      line.start = std::max(0.0, line.start - parse.fileOffset);
      for (LyricWord& w : line.words) w.start = std::max(0.0, w.start - parse.fileOffset);
    }
    lyrics.kind = parse.estimated ? LyricsKind::Estimated : LyricsKind::Synced;
    lyrics.lines = std::move(parse.timed);
    return lyrics;
  }
  for (std::wstring& words : parse.untimed) lyrics.lines.push_back(LyricLine{.start = 0.0, .text = std::move(words), .words = {}});
  lyrics.kind = lyrics.lines.empty() ? LyricsKind::None : LyricsKind::Plain;
  return lyrics;
}

// Appends text with any line break inside it written as a space, so one line stays one LRC line.
void AppendOneLine(std::wstring* out, std::wstring_view text) {
  for (wchar_t c : text) *out += (c == L'\r' || c == L'\n') ? L' ' : c;
}

}  // namespace

std::wstring DecodeLyricsBytes(std::string_view bytes) {
  const auto span = [](std::string_view b) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  };
  if (bytes.starts_with("\xFF\xFE")) return Utf16BytesToWide(span(bytes.substr(2)), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16BytesToWide(span(bytes.substr(2)), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return Utf8OrWindows1252ToWide(bytes);
}

std::wstring ReadLyricsText(const std::wstring& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path, kMaxLyricsFileBytes);
  return DecodeLyricsBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

double ParseLrcTime(std::wstring_view tag) {
  if (tag.size() > kMaxTimeTagChars) return -1.0;
  double fields[kMaxTimeFields] = {};
  size_t count = 0, begin = 0;
  for (;;) {
    const size_t colon = tag.find(L':', begin);
    const size_t end = colon == std::wstring_view::npos ? tag.size() : colon;
    if (count == kMaxTimeFields || !ParseDecimal(tag.substr(begin, end - begin), &fields[count])) return -1.0;
    ++count;
    if (colon == std::wstring_view::npos) break;
    begin = colon + 1;
  }
  double seconds = -1.0;
  if (count == 2) {
    seconds = fields[0] * kSecondsPerMinute + fields[1];
  } else if (count == 3) {
    const bool hundredths = tag.find(L'.') == std::wstring_view::npos &&
                            fields[2] < kHundredthsPerSecond && tag.size() - begin == 2;
    seconds = hundredths ? fields[0] * kSecondsPerMinute + fields[1] + fields[2] / kHundredthsPerSecond
                         : fields[0] * kSecondsPerHour + fields[1] * kSecondsPerMinute + fields[2];
  }
  return seconds >= 0.0 && seconds <= kMaxLyricSeconds ? seconds : -1.0;
}

Lyrics ParseLrc(std::wstring_view text) {
  std::wstring tooBig;
  Lyrics lyrics = ParseLrcText(text, &tooBig);
  if (!tooBig.empty()) WriteLog(L"Lyrics: text with {} ignored (\"{}\")", tooBig, Excerpt(text));
  return lyrics;
}

Lyrics ParseLrcWithSource(std::wstring_view text, const std::wstring& source) {
  std::wstring tooBig;
  Lyrics lyrics = ParseLrcText(text, &tooBig);
  if (!tooBig.empty()) WriteLog(L"Lyrics: {} has {}; ignored (\"{}\")", source, tooBig, Excerpt(text));
  lyrics.source = source;
  return lyrics;
}

std::wstring FormatLrcTime(double seconds) {
  const double clamped = seconds > 0.0 ? std::min(seconds, kMaxLyricSeconds) : 0.0;  // NaN gives 0
  const int64_t hundredths = std::llround(clamped * kHundredthsPerSecond);
  const int64_t minutes = hundredths / kHundredthsPerMinute;
  const int64_t secs = hundredths / kHundredthsPerSecondInt - kSecondsPerMinuteInt * minutes;
  return fmt::format(L"{:02}:{:02}.{:02}", minutes, secs, hundredths % kHundredthsPerSecondInt);
}

std::wstring WriteLrc(const Lyrics& lyrics) {
  std::wstring out = fmt::format(L"[re:Veldmix {}]\n", Utf8ToWide(VELDMIX_VERSION));
  if (lyrics.kind == LyricsKind::Estimated) out += L"[vx:estimated]\n";
  for (const LyricLine& line : lyrics.lines) {
    out += L"[" + FormatLrcTime(line.start + lyrics.offset) + L"]";
    const std::wstring_view text = line.text;
    size_t cursor = 0;
    for (const LyricWord& w : line.words) {
      const size_t at = std::min(static_cast<size_t>(std::max(w.offset, 0)), text.size());
      if (at > cursor) AppendOneLine(&out, text.substr(cursor, at - cursor));
      out += L"<" + FormatLrcTime(w.start + lyrics.offset) + L">";
      const size_t end = std::min(text.size(), at + static_cast<size_t>(std::max(w.count, 0)));
      AppendOneLine(&out, text.substr(at, end - at));
      cursor = end;
    }
    if (cursor < text.size()) AppendOneLine(&out, text.substr(cursor));
    out += L"\n";
  }
  return out;
}

uint64_t LyricsCacheHash(const std::wstring& trackPath) {
  uint64_t hash = kLyricsCacheHashBasis;
  for (char c : PathToBytes(PathKey(trackPath))) {
    hash ^= static_cast<uint8_t>(c);
    hash *= kFnvPrime;
  }
  return hash;
}

std::wstring LyricsCachePath(const std::wstring& trackPath) {
  return JoinPath(JoinPath(AppDataDir(), kCacheFolderName), fmt::format(L"{:016x}.lrc", LyricsCacheHash(trackPath)));
}

bool SaveLyrics(const std::wstring& trackPath, const Lyrics& lyrics, std::wstring* error) {
  if (lyrics.lines.empty() || !IsTimedLyrics(lyrics.kind)) return false;
  CreateFolderTree(JoinPath(AppDataDir(), kCacheFolderName));  // a failure shows in the write
  return WriteUtf8File(LyricsCachePath(trackPath), WriteLrc(lyrics), error);
}

bool SaveLyricsOrSay(const std::wstring& trackPath, const Lyrics& lyrics) {
  std::wstring error;
  if (SaveLyrics(trackPath, lyrics, &error)) return true;
  if (!error.empty()) ShowStatus(WriteFailedText(LyricsCachePath(trackPath), error));
  return false;
}
