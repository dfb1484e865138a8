#include "library/database.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "platform/text.h"

bool LibraryNoSave = false;
LibrarySaveFailure LibrarySaveFault;
UiText LibraryRefusal;
AutosaveState LibraryAutosave;

namespace {

// Column groups: a line is read group by group, each only when it has at least this many columns.
constexpr int kMinColumns = 15;        // path .. hot-cue starts
constexpr int kPlayColumns = 18;       // rating, play count, last played
constexpr int kCueDetailColumns = 43;  // hot-cue ends, colours, grid flag, names
constexpr int kMemoryCueColumns = 44;
constexpr int kColourColumns = 45;
constexpr int kTagColumns = 46;
constexpr int kMarkerColumns = 47;

constexpr int kColBpm = 1, kColFirstBeat = 2, kColKey = 3, kColLoudness = 4, kColAnalyzed = 5,
              kColCue = 6, kColHotCueStart = 7, kColRating = 15, kColPlayCount = 16,
              kColLastPlayed = 17, kColHotCueEnd = 18, kColHotCueColor = 26,
              kColGridImported = 34, kColHotCueName = 35, kColMemoryCues = 43, kColColour = 44,
              kColTags = 45, kColMarkers = 46;

constexpr int kMaxRating = 5;
constexpr int kMaxKey = 23;           // 0-11 major, 12-23 minor
constexpr int kMaxHotCueColour = 11;  // twelve hot-cue colours
constexpr size_t kUtf8MaxBytesPerChar = 4;
constexpr size_t kMaxPathBytes = kMaxPathChars * kUtf8MaxBytesPerChar;
constexpr size_t kMaxTextFieldBytes = kMaxTextFieldChars * kUtf8MaxBytesPerChar;
constexpr int kMaxLoggedBadLines = 5;
constexpr size_t kLogExcerptChars = 80;
constexpr size_t kTypicalRecordChars = 400;  // a path and 46 mostly numeric columns

// --- Numbers are read the way the C library's wide conversions do (LeadingNumber) ---

std::string_view SkipBlanks(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsCSpace(s[i])) ++i;
  return s.substr(i);
}

int32_t ReadInt32(std::string_view s) {
  int64_t v = LeadingInteger(s);
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

float ReadFloat(std::string_view s) {
  double v = LeadingNumber(s);
  return std::fabs(v) > std::numeric_limits<float>::max() ? 0.0f : static_cast<float>(v);
}

// --- One line ---

struct LineColumns {
  std::string_view col[kDatabaseColumns];
  int count = 0;  // pieces in the line, counted up to kDatabaseColumns + 1
};

LineColumns SplitColumns(std::string_view line) {
  LineColumns out;
  size_t pos = 0;
  for (;;) {
    size_t tab = line.find('\t', pos);
    if (out.count < kDatabaseColumns)
      out.col[out.count] = line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
    ++out.count;
    // Columns past the 47th are ignored, so their tabs need not be counted.
    if (tab == std::string_view::npos || out.count > kDatabaseColumns) break;
    pos = tab + 1;
  }
  return out;
}

// Splits at ';' and hands each piece to `take`; false as soon as more than `limit` pieces are
// taken, so a hostile column cannot grow a record without bound.
template <typename Take>
bool ForEachPiece(std::string_view text, size_t limit, Take take) {
  size_t taken = 0, pos = 0;
  for (;;) {
    size_t semi = text.find(';', pos);
    std::string_view piece = text.substr(pos, semi == std::string_view::npos ? std::string_view::npos : semi - pos);
    if (take(piece) && ++taken > limit) return false;
    if (semi == std::string_view::npos) return true;
    pos = semi + 1;
  }
}

// Fills `info` from one line. Returns an empty text, or why the line is damaged (then `info`
// is not to be used).
std::wstring ParseLine(std::string_view line, std::wstring* key, TrackInfo* info) {
  if (line.find('\0') != std::string_view::npos) return L"it holds a NUL byte";
  const LineColumns c = SplitColumns(line);
  if (c.count < kMinColumns) return fmt::format(L"{} columns where at least {} are needed", c.count, kMinColumns);
  if (c.col[0].empty()) return L"the path is empty";
  if (c.col[0].size() > kMaxPathBytes) return L"the path is longer than any real path";

  // Bytes that are not UTF-8 (a Latin-1 file name) are kept as they are, so the line saves back whole.
  *key = PathKey(PathFromBytes(c.col[0]));
  info->bpm = LeadingNumber(c.col[kColBpm]);
  info->firstBeat = LeadingNumber(c.col[kColFirstBeat]);
  info->key = ReadInt32(c.col[kColKey]);
  if (info->key < -1 || info->key > kMaxKey) info->key = -1;
  info->loudness = ReadFloat(c.col[kColLoudness]);
  info->analyzed = ReadInt32(c.col[kColAnalyzed]) != 0;
  info->cue = LeadingNumber(c.col[kColCue]);
  for (int i = 0; i < kHotCues; ++i) info->hotCueStart[i] = LeadingNumber(c.col[kColHotCueStart + i]);

  if (c.count >= kPlayColumns) {
    info->rating = std::clamp(ReadInt32(c.col[kColRating]), 0, kMaxRating);
    info->playCount = std::max(ReadInt32(c.col[kColPlayCount]), 0);
    info->lastPlayed = LeadingInteger(c.col[kColLastPlayed]);
  }
  if (c.count >= kCueDetailColumns) {
    for (int i = 0; i < kHotCues; ++i) {
      info->hotCueEnd[i] = LeadingNumber(c.col[kColHotCueEnd + i]);
      int32_t colour = ReadInt32(c.col[kColHotCueColor + i]);
      info->hotCueColor[i] = colour < -1 || colour > kMaxHotCueColour ? -1 : colour;
      std::string_view name = c.col[kColHotCueName + i];
      if (name.size() > kMaxTextFieldBytes) return L"a hot-cue name is longer than any real name";
      if (!name.empty() && name.back() == '\r') name.remove_suffix(1);
      info->hotCueName[i] = PathFromBytes(name);
    }
    info->gridImported = ReadInt32(c.col[kColGridImported]) != 0;
  }
  if (c.count >= kMemoryCueColumns) {
    bool within = ForEachPiece(c.col[kColMemoryCues], kMaxMemoryCues, [&](std::string_view piece) {
      if (piece.empty() || piece[0] == '\r') return false;
      info->memoryCues.push_back(LeadingNumber(piece));
      return true;
    });
    if (!within) return fmt::format(L"more than {} memory cues", kMaxMemoryCues);
    std::sort(info->memoryCues.begin(), info->memoryCues.end());
  }
  if (c.count >= kColourColumns) info->color = std::clamp(ReadInt32(c.col[kColColour]), 0, kTrackColourCount - 1);
  if (c.count >= kTagColumns) {
    if (c.col[kColTags].size() > kMaxTextFieldBytes) return L"the tags are longer than any real tags";
    info->myTags = NormalizeTags(PathFromBytes(c.col[kColTags]));
  }
  if (c.count >= kMarkerColumns) {
    bool within = ForEachPiece(c.col[kColMarkers], kMaxTempoMarkers, [&](std::string_view piece) {
      size_t colon = piece.find(':');
      if (colon == std::string_view::npos) return false;
      info->tempoMarkers.push_back({LeadingNumber(piece.substr(0, colon)), LeadingNumber(piece.substr(colon + 1))});
      return true;
    });
    if (!within) return fmt::format(L"more than {} tempo markers", kMaxTempoMarkers);
    std::stable_sort(info->tempoMarkers.begin(), info->tempoMarkers.end(),
                     [](const TempoMarker& a, const TempoMarker& b) { return a.beat < b.beat; });
  }
  return {};
}

// A short, printable piece of a bad line for the log.
std::wstring Excerpt(std::string_view line) { return PrintableExcerpt(line, kLogExcerptChars); }

// --- Writing ---

// A value that is not finite is written as the field's default, never as "nan" or "inf".
double Finite(double v, double fallback) { return std::isfinite(v) ? v : fallback; }

// Names and tags lose tabs and line breaks (and NULs) so they stay inside their column.
void AppendText(std::wstring& out, const std::wstring& text) {
  size_t n = std::min(text.size(), kMaxTextFieldChars);
  for (size_t i = 0; i < n; ++i) {
    wchar_t ch = text[i];
    out.push_back(ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\0' ? L' ' : ch);
  }
}

// The path column cannot escape anything: a key with a tab, a line break or a NUL would break
// the line (or be read as damage), so such a record is left out rather than corrupt the file.
bool KeyCanBeWritten(const std::wstring& key) {
  constexpr std::wstring_view kBreaksLine(L"\t\r\n\0", 4);
  return !key.empty() && key.size() <= kMaxPathChars && key.find_first_of(kBreaksLine) == std::wstring::npos;
}

// Numbers go through to_chars: exactly printf's "%.Nf" and "%d" in the C locale, without its cost.
// A value too large for 64 characters (no real time or tempo) is written as 0, which is what the
// reader would make of it.
void AppendFixed(std::wstring& out, double v, int decimals) {
  char digits[64];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, decimals);
  if (ec != std::errc()) end = std::to_chars(digits, digits + sizeof digits, 0.0, std::chars_format::fixed, decimals).ptr;
  for (const char* p = digits; p != end; ++p) out.push_back(static_cast<wchar_t>(*p));
}

void AppendInt(std::wstring& out, int64_t v) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
  (void)ec;  // 24 characters always hold a 64-bit integer
  for (const char* p = digits; p != end; ++p) out.push_back(static_cast<wchar_t>(*p));
}

void AppendRecord(std::wstring& out, const std::wstring& key, const TrackInfo& t) {
  // Each column after the path starts with its tab.
  auto fixed = [&out](double v, int decimals) { out.push_back(L'\t'); AppendFixed(out, v, decimals); };
  auto integer = [&out](int64_t v) { out.push_back(L'\t'); AppendInt(out, v); };
  auto text = [&out](const std::wstring& v) { out.push_back(L'\t'); AppendText(out, v); };
  out += key;
  fixed(Finite(t.bpm, 0.0), 4);
  fixed(Finite(t.firstBeat, 0.0), 5);
  integer(t.key);
  fixed(Finite(t.loudness, kDefaultLoudnessDb), 2);
  integer(t.analyzed ? 1 : 0);
  fixed(Finite(t.cue, 0.0), 5);
  for (double v : t.hotCueStart) fixed(Finite(v, kEmptyCue), 5);
  integer(t.rating);
  integer(t.playCount);
  integer(t.lastPlayed);
  for (double v : t.hotCueEnd) fixed(Finite(v, kEmptyCue), 5);
  for (int32_t v : t.hotCueColor) integer(v);
  integer(t.gridImported ? 1 : 0);
  for (const std::wstring& name : t.hotCueName) text(name);
  out.push_back(L'\t');
  size_t cues = 0;
  for (double v : t.memoryCues) {
    if (!std::isfinite(v)) continue;
    if (cues++ == kMaxMemoryCues) break;
    if (cues > 1) out.push_back(L';');
    AppendFixed(out, v, 5);
  }
  integer(t.color);
  text(t.myTags);
  out.push_back(L'\t');
  size_t markers = 0;
  for (const TempoMarker& m : t.tempoMarkers) {
    if (!std::isfinite(m.beat) || !std::isfinite(m.seconds)) continue;
    if (markers++ == kMaxTempoMarkers) break;
    if (markers > 1) out.push_back(L';');
    AppendFixed(out, m.beat, 3);
    out.push_back(L':');
    AppendFixed(out, m.seconds, 5);
  }
  out.push_back(L'\n');
}

// Shown at once; after that again whenever the status line is free, so no other message is cut
// short and the notice is never away for long.
void ShowUnsavedNotice(uint64_t nowMs) {
  std::wstring& shown = LibraryAutosave.noticeShown;
  if (!LibraryChangesUnsaved()) {
    if (!shown.empty() && Status.text == shown) HideStatus();
    shown.clear();
    return;
  }
  if (!shown.empty() && StatusShowing(nowMs)) return;
  ShowStatus(UiFormat(L"Library changes not saved \u2014 {}", LibrarySaveCause()), kSaveFailedStatusMs);
  shown = Status.text;
}

// A damaged file is replaced only once a copy of it as it was is kept beside it.
void RefuseUnkeptDamage() {
  LibraryNoSave = true;
  LibraryRefusal = UiText(L"it has damaged lines, and no copy of it as it was could be kept before saving");
}

}  // namespace

std::wstring DatabasePath() { return JoinPath(AppDataDir(), kDatabaseFileName); }

void LoadDatabase() {
  TrackLibrary.clear();
  LibraryNoSave = false;
  LibraryRefusal = UiText();
  LibrarySaveFault = {};
  const std::wstring path = DatabasePath();
  std::string bytes;
  ReadStatus status = ReadBytes(path, &bytes, kMaxDatabaseBytes);
  if (status == ReadStatus::Unreadable) {
    LibraryNoSave = true;
    long long size = FileSize(path);
    if (size > 0 && static_cast<unsigned long long>(size) > kMaxDatabaseBytes) {
      WriteLog(L"Library: database.tsv is larger than {} MiB; it was not read and will not be overwritten",
               kMaxDatabaseBytes >> 20);
      LibraryRefusal = UiFormat(L"it is larger than {} MiB", kMaxDatabaseBytes >> 20);
    } else {
      WriteLog(L"Library: database.tsv couldn't be read; it will not be overwritten");
      LibraryRefusal = IsRegularFile(path) ? UiText(L"it couldn't be read") : UiText(L"it is no regular file");
    }
  }
  if (status != ReadStatus::Ok) {
    LibraryDirty = false;
    return;
  }

  std::string_view text(bytes);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  size_t badLines = 0, goodLines = 0;
  // A last line without its line feed is read like any other, but the file may have been cut
  // short by a writer that died, so it is kept as it was before it is replaced.
  const bool cutShort = !text.empty() && text.back() != '\n';
  size_t lineNumber = 0, pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string_view::npos ? text.size() : lf;
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (SkipBlanks(line).empty()) continue;
    std::wstring key;
    TrackInfo info;
    std::wstring damage = ParseLine(line, &key, &info);
    if (!damage.empty()) {
      if (++badLines <= kMaxLoggedBadLines)
        WriteLog(L"Library: database.tsv line {} is damaged ({}): \"{}\"", lineNumber, damage, Excerpt(line));
      continue;
    }
    TrackLibrary.insert_or_assign(std::move(key), std::move(info));
    ++goodLines;
  }
  if (cutShort && badLines == 0) {
    WriteLog(L"Library: database.tsv ends without a line feed; its last line was read all the same");
    if (!KeepDamagedCopy(path, bytes, NowLocal())) RefuseUnkeptDamage();
  }
  if (badLines > 0) {
    // A few odd lines are skipped and the file saved without them, once it is kept as it was;
    // a file of mostly bad lines is likely not ours to rewrite at all.
    if (MostLinesBad(badLines, goodLines)) {
      LibraryNoSave = true;
      LibraryRefusal = UiFormat(L"{} of its {} lines could not be read", badLines, badLines + goodLines);
      WriteLog(L"Library: database.tsv looks damaged ({} bad lines, {} records read); it will not be "
               L"overwritten this session",
               badLines, TrackLibrary.size());
    } else {
      WriteLog(L"Library: skipped {} damaged lines of database.tsv, {} records read", badLines, TrackLibrary.size());
      if (!KeepDamagedCopy(path, bytes, NowLocal())) RefuseUnkeptDamage();
    }
  }
  LibraryDirty = false;
}

bool DatabaseText(std::wstring* text) {
  if (LibraryNoSave || TestMode) return false;
  std::vector<const std::pair<const std::wstring, TrackInfo>*> records;
  records.reserve(TrackLibrary.size());
  size_t skipped = 0;
  for (const auto& entry : TrackLibrary) {
    if (KeyCanBeWritten(entry.first)) {
      records.push_back(&entry);
    } else if (++skipped <= kMaxLoggedBadLines) {
      WriteLog(L"Library: left out of database.tsv, its path can't be stored: \"{}\"", Excerpt(PathToBytes(entry.first)));
    }
  }
  if (skipped > 0) WriteLog(L"Library: {} records with unstorable paths were left out", skipped);
  // Sorted so that the file is the same for the same library (diffs and backups stay readable).
  std::sort(records.begin(), records.end(), [](auto* a, auto* b) { return a->first < b->first; });
  text->clear();
  text->reserve(records.size() * kTypicalRecordChars);
  for (const auto* entry : records) AppendRecord(*text, entry->first, entry->second);
  return true;
}

bool SaveDatabase() {
  WaitForLibraryFiles();  // closing while an import saves: its files first, whole
  std::wstring text;
  if (!DatabaseText(&text)) return false;
  std::wstring error;
  const bool ok = WriteFileAtomic(DatabasePath(), text, &error);
  if (ok) {
    LibraryDirty = false;
    LibrarySaveFault = {};
  } else {
    LibrarySaveFault = {.failed = true, .systemError = LastWriteError(), .detail = std::move(error)};
  }
  return ok;
}

bool LibraryChangesUnsaved() { return LibraryDirty && LibrarySaveFault.failed && !LibraryNoSave && !TestMode; }

UiText LibrarySaveCause() { return WriteFailureCause(LibrarySaveFault.systemError, LibrarySaveFault.detail); }

void AutosaveLibrary(uint64_t nowMs) {
  // An import's save holds the file; the library stays dirty and is saved on a later frame.
  const bool due = !LibraryAutosave.attempted || nowMs - LibraryAutosave.lastAttemptMs >= kAutosaveIntervalMs;
  if (LibraryDirty && !TestMode && !LibraryFilesHeld() && due) {
    const bool ok = SaveDatabase();
    // The failing step and the system's reason are in the log line just before (WriteFileAtomic).
    if (!ok && !LibraryAutosave.lastFailed && !LibraryNoSave) WriteLog(L"Library: the database couldn't be saved");
    if (ok && LibraryAutosave.lastFailed) WriteLog(L"Library: the database saved again");
    LibraryAutosave.attempted = true;
    LibraryAutosave.lastFailed = !ok;
    LibraryAutosave.lastAttemptMs = nowMs;
  }
  ShowUnsavedNotice(nowMs);
}
