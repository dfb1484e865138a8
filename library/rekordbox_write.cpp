// Writing a rekordbox collection XML.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <unordered_map>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "base/beat_grid.h"
#include "base/log.h"
#include "base/musical_keys.h"
#include "library/rekordbox_xml.h"
#include "platform/file_url.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr int32_t kRatingStep = 51;
constexpr int kMaxStars = 5;
constexpr double kSameCueSeconds = 0.01;
constexpr double kBpmProbeSeconds = 0.001;  // a grid point's tempo is the segment's just after it
constexpr int kBeatsPerBar = 4;
constexpr size_t kBytesPerTrackGuess = 1600;

bool RealReadTags(const std::wstring& path, TrackTags* tags) { return ReadTags(path, tags); }

// Writes to one target never interleave: every export's write goes through this lock.
std::mutex ExportWriteLock;

using Out = fmt::memory_buffer;

bool XmlForbids(wchar_t c) {
  const uint32_t u = static_cast<uint32_t>(c);
  return (u < 32 && c != L'\t') || u == 0xFFFE || u == 0xFFFF || (u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF;
}

void Put(Out& out, std::string_view text) { out.append(text.data(), text.data() + text.size()); }

// XmlEscape(text) as UTF-8, straight into the output.
void PutEscaped(Out& out, std::wstring_view text) {
  for (wchar_t c : text) {
    switch (c) {
      case L'"': Put(out, "&quot;"); break;
      case L'&': Put(out, "&amp;"); break;
      case L'<': Put(out, "&lt;"); break;
      case L'>': Put(out, "&gt;"); break;
      default:
        if (XmlForbids(c)) break;
        if (static_cast<uint32_t>(c) < 0x80) {
          out.push_back(static_cast<char>(c));
        } else {
          std::string bytes;
          AppendUtf8(c, &bytes);
          Put(out, bytes);
        }
    }
  }
}

// ` name="value"` with the value escaped.
void PutAttr(Out& out, std::string_view name, std::wstring_view value) {
  out.push_back(' ');
  Put(out, name);
  Put(out, "=\"");
  PutEscaped(out, value);
  out.push_back('"');
}

std::wstring FileStem(const std::wstring& path) {
  size_t slash = path.find_last_of(L'/');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

bool Finite(double value) { return std::isfinite(value); }

// The marker an importer adds 2048 beats after the last real one, only so that the last tempo
// segment has an end: the reader adds it again, so writing it would add one more each exchange.
bool ClosingMarker(const std::vector<TempoMarker>& markers, size_t i) {
  if (i + 1 != markers.size() || i == 0) return false;
  return markers[i].beat - markers[i - 1].beat == kImportClosingMarkerBeats;
}

// Grid points past the track's end (trackSeconds, 0 when unknown) are no point of this track.
void AppendTempo(Out& out, const ExportRecord& record, double trackSeconds) {
  const TrackInfo& info = record.info;
  if (info.tempoMarkers.empty()) {
    const double start = Finite(info.firstBeat) && info.firstBeat > 0.0 ? info.firstBeat : 0.0;
    fmt::format_to(fmt::appender(out), FMT_COMPILE("      <TEMPO Inizio=\"{:.3f}\" Bpm=\"{:.2f}\" Metro=\"4/4\" Battito=\"1\"/>\n"),
                   start, info.bpm);
    return;
  }
  Track grid;
  grid.bpm = info.bpm;
  grid.firstBeat = info.firstBeat;
  grid.tempoMarkers = info.tempoMarkers;
  auto point = [&](double beat, double seconds) {
    if (!(seconds >= 0.0) || !Finite(seconds) || !Finite(beat)) return;
    const double length = BeatLengthAt(grid, seconds + kBpmProbeSeconds);
    const double bpm = length > 0.0 && Finite(length) ? 60.0 / length : info.bpm;
    const long long b = std::llround(std::clamp(beat, -1e15, 1e15));
    const long long bar = ((b % kBeatsPerBar) + kBeatsPerBar) % kBeatsPerBar + 1;
    fmt::format_to(fmt::appender(out), FMT_COMPILE("      <TEMPO Inizio=\"{:.3f}\" Bpm=\"{:.2f}\" Metro=\"4/4\" Battito=\"{}\"/>\n"),
                   seconds, bpm, bar);
  };
  point(0.0, info.firstBeat);
  const std::vector<TempoMarker>& markers = info.tempoMarkers;
  for (size_t i = 0; i < markers.size(); ++i) {
    if (!(markers[i].beat > 0.0) || ClosingMarker(markers, i)) continue;
    if (trackSeconds > 0.0 && markers[i].seconds > trackSeconds) continue;
    point(markers[i].beat, markers[i].seconds);
  }
}

void AppendCues(Out& out, const ExportRecord& record) {
  const TrackInfo& info = record.info;
  std::vector<double> cues;
  if (Finite(info.cue) && info.cue > 0.0) cues.push_back(info.cue);
  for (double time : info.memoryCues) {
    if (!Finite(time)) continue;
    bool near = false;
    for (double have : cues) near = near || std::fabs(have - time) < kSameCueSeconds;
    if (!near) cues.push_back(time);
  }
  for (double time : cues)
    fmt::format_to(fmt::appender(out), FMT_COMPILE("      <POSITION_MARK Name=\"\" Type=\"0\" Start=\"{:.3f}\" Num=\"-1\"/>\n"), time);
  for (int slot = 0; slot < kHotCues; ++slot) {
    const double start = info.hotCueStart[slot];
    if (!Finite(start) || start < 0.0) continue;
    const double end = info.hotCueEnd[slot];
    const bool loop = Finite(end) && end > start;
    const uint32_t rgb = record.hotCueRgb[slot];
    Put(out, "      <POSITION_MARK");
    PutAttr(out, "Name", info.hotCueName[slot]);
    fmt::format_to(fmt::appender(out), FMT_COMPILE(" Type=\"{}\" Start=\"{:.3f}\""), loop ? 4 : 0, start);
    if (loop) fmt::format_to(fmt::appender(out), FMT_COMPILE(" End=\"{:.3f}\""), end);
    fmt::format_to(fmt::appender(out), FMT_COMPILE(" Num=\"{}\" Red=\"{}\" Green=\"{}\" Blue=\"{}\"/>\n"), slot,
                   (rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255);
  }
}

void AppendTrack(Out& out, const ExportRecord& record, int32_t id, const ExportFileAccess& files) {
  const TrackInfo& info = record.info;
  TrackTags tags;
  if (!files.readTags(record.path, &tags)) tags = TrackTags();
  if (tags.title.empty()) tags.title = FileStem(record.path);
  const long long seconds = Finite(tags.duration) && tags.duration > 0.0 && tags.duration < 1e9 ? std::llround(tags.duration) : 0;
  const bool tempo = Finite(info.bpm) && info.bpm > 0.0;
  fmt::format_to(fmt::appender(out), FMT_COMPILE("    <TRACK TrackID=\"{}\""), id);
  PutAttr(out, "Name", tags.title);
  PutAttr(out, "Artist", tags.artist);
  PutAttr(out, "Album", tags.album);
  PutAttr(out, "Genre", tags.genre);
  PutAttr(out, "Kind", KindName(record.path));
  fmt::format_to(fmt::appender(out), FMT_COMPILE(" TotalTime=\"{}\" AverageBpm=\"{:.2f}\" PlayCount=\"{}\" Rating=\"{}\""), seconds,
                 tempo ? info.bpm : 0.0, std::max(info.playCount, 0), std::clamp(info.rating, 0, kMaxStars) * kRatingStep);
  PutAttr(out, "Comments", tags.comment);
  PutAttr(out, "Tonality", info.key >= 0 && info.key < kKeyCount ? KeyName(info.key, false) : std::wstring());
  if (info.color >= 1 && info.color < kTrackColourCount)
    fmt::format_to(fmt::appender(out), FMT_COMPILE(" Colour=\"0x{:06X}\""), kTrackColours[static_cast<size_t>(info.color)].rgb);
  Put(out, " Location=\"");
  for (char c : PathToFileUrlUtf8(record.path)) {
    if (c == '&') Put(out, "&amp;");
    else out.push_back(c);  // the URL holds no other character that needs an entity
  }
  out.push_back('"');
  Put(out, ">\n");
  if (tempo) AppendTempo(out, record, Finite(tags.duration) && tags.duration > 0.0 ? tags.duration : 0.0);
  AppendCues(out, record);
  Put(out, "    </TRACK>\n");
}

}  // namespace

const ExportFileAccess kRealFileAccess = {.isFile = ImportableFile, .readTags = RealReadTags};

std::wstring XmlEscape(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'"': out += L"&quot;"; break;
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      default:
        if (!XmlForbids(c)) out += c;
    }
  }
  return out;
}

std::wstring KindName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  const size_t dot = path.find_last_of(L'.');
  std::wstring extension;
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) extension = path.substr(dot + 1);
  for (wchar_t& c : extension)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  if (extension.empty()) return L"Audio File";
  if (extension == L"M4A" || extension == L"MP4" || extension == L"AAC") return L"M4A File";
  if (extension == L"AIF") extension = L"AIFF";
  return extension + L" File";
}

namespace {

// The file into `out`; the number of tracks written (0: nothing written).
int32_t BuildRekordboxXml(const std::vector<ExportRecord>& records, const std::vector<TrackList>& lists,
                          const ExportFileAccess& files, Out& out) {
  // Which records are written, and their TrackIDs, before anything is written: the count heads
  // the collection.
  std::unordered_map<std::wstring, int32_t> ids;
  ids.reserve(records.size());
  std::vector<const ExportRecord*> chosen;
  chosen.reserve(records.size());
  for (const ExportRecord& record : records) {
    const std::wstring key = PathKey(record.path);
    if (ids.count(key) || !files.isFile(record.path)) continue;
    chosen.push_back(&record);
    ids.emplace(key, static_cast<int32_t>(chosen.size()));
  }
  if (chosen.empty()) return 0;
  out.reserve(chosen.size() * kBytesPerTrackGuess);
  Put(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  Put(out, "<DJ_PLAYLISTS Version=\"1.0.0\">\n");
  Put(out, "  <PRODUCT Name=\"Veldmix\" Version=\"1.0.10\" Company=\"Orrelby\"/>\n");
  fmt::format_to(fmt::appender(out), FMT_COMPILE("  <COLLECTION Entries=\"{}\">\n"), chosen.size());
  for (size_t i = 0; i < chosen.size(); ++i) AppendTrack(out, *chosen[i], static_cast<int32_t>(i + 1), files);
  Put(out, "  </COLLECTION>\n");
  Put(out, "  <PLAYLISTS>\n");
  Put(out, "    <NODE Type=\"0\" Name=\"ROOT\" Count=\"1\">\n");

  std::vector<std::vector<int32_t>> entries;
  for (const TrackList& list : lists) {
    std::vector<int32_t> found;
    for (const std::wstring& path : list.paths) {
      auto at = ids.find(PathKey(path));
      if (at != ids.end()) found.push_back(at->second);
    }
    entries.push_back(std::move(found));
  }
  size_t listCount = 0;
  for (const std::vector<int32_t>& found : entries) listCount += found.empty() ? 0 : 1;
  fmt::format_to(fmt::appender(out), FMT_COMPILE("      <NODE Type=\"0\" Name=\"Veldmix\" Count=\"{}\">\n"), listCount);
  for (size_t l = 0; l < lists.size(); ++l) {
    if (entries[l].empty()) continue;
    Put(out, "        <NODE");
    PutAttr(out, "Name", lists[l].name);
    fmt::format_to(fmt::appender(out), FMT_COMPILE(" Type=\"1\" KeyType=\"0\" Entries=\"{}\">\n"), entries[l].size());
    for (int32_t id : entries[l]) fmt::format_to(fmt::appender(out), FMT_COMPILE("          <TRACK Key=\"{}\"/>\n"), id);
    Put(out, "        </NODE>\n");
  }
  Put(out, "      </NODE>\n");
  Put(out, "    </NODE>\n");
  Put(out, "  </PLAYLISTS>\n");
  Put(out, "</DJ_PLAYLISTS>\n");
  return static_cast<int32_t>(chosen.size());
}

}  // namespace

std::string RekordboxXmlText(const std::vector<ExportRecord>& records, const std::vector<TrackList>& lists,
                             const ExportFileAccess& files, int32_t* written) {
  Out out;
  *written = BuildRekordboxXml(records, lists, files, out);
  return std::string(out.data(), out.size());
}

int32_t WriteRekordboxXml(const std::wstring& target, const std::vector<ExportRecord>& records,
                          const std::vector<TrackList>& lists, std::wstring* error, const ExportFileAccess& files) {
  Out text;
  const int32_t written = BuildRekordboxXml(records, lists, files, text);
  if (written == 0) {
    if (error) *error = kNothingToExportText;
    return -1;
  }
  std::wstring why;
  bool ok;
  {
    std::lock_guard<std::mutex> hold(ExportWriteLock);
    // An export named on purpose may go straight into a pipe or device; a file is replaced whole.
    ok = WriteBytesAtomic(target, std::string_view(text.data(), text.size()), &why, SpecialTarget::WriteInPlace);
  }
  if (!ok) {
    WriteLog(L"rekordbox export to {} failed: {}", target, why);
    if (error) *error = kExportWriteErrorText;
    return -1;
  }
  return written;
}
