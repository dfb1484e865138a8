// Writing a rekordbox collection XML.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <unordered_map>

#include <fmt/format.h>

#include "app/log.h"
#include "engine/beat_grid.h"
#include "engine/musical_keys.h"
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

bool RealReadTags(const std::wstring& path, TrackTags* tags) { return ReadTags(path, tags); }

// Writes to one target never interleave: every export's write goes through this lock.
std::mutex ExportWriteLock;

std::string Attr(const std::wstring& text) { return WideToUtf8(XmlEscape(text)); }

std::wstring FileStem(const std::wstring& path) {
  size_t slash = path.find_last_of(L'/');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

bool Finite(double value) { return std::isfinite(value); }

void AppendTempo(std::string& out, const ExportRecord& record) {
  const TrackInfo& info = record.info;
  if (info.tempoMarkers.empty()) {
    const double start = Finite(info.firstBeat) && info.firstBeat > 0.0 ? info.firstBeat : 0.0;
    fmt::format_to(std::back_inserter(out), "      <TEMPO Inizio=\"{:.3f}\" Bpm=\"{:.2f}\" Metro=\"4/4\" Battito=\"1\"/>\n",
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
    fmt::format_to(std::back_inserter(out), "      <TEMPO Inizio=\"{:.3f}\" Bpm=\"{:.2f}\" Metro=\"4/4\" Battito=\"{}\"/>\n",
                   seconds, bpm, bar);
  };
  point(0.0, info.firstBeat);
  for (const TempoMarker& marker : info.tempoMarkers)
    if (marker.beat > 0.0) point(marker.beat, marker.seconds);
}

void AppendCues(std::string& out, const ExportRecord& record) {
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
    fmt::format_to(std::back_inserter(out), "      <POSITION_MARK Name=\"\" Type=\"0\" Start=\"{:.3f}\" Num=\"-1\"/>\n", time);
  for (int slot = 0; slot < kHotCues; ++slot) {
    const double start = info.hotCueStart[slot];
    if (!Finite(start) || start < 0.0) continue;
    const double end = info.hotCueEnd[slot];
    const bool loop = Finite(end) && end > start;
    const uint32_t rgb = record.hotCueRgb[slot];
    fmt::format_to(std::back_inserter(out), "      <POSITION_MARK Name=\"{}\" Type=\"{}\" Start=\"{:.3f}\"",
                   Attr(info.hotCueName[slot]), loop ? 4 : 0, start);
    if (loop) fmt::format_to(std::back_inserter(out), " End=\"{:.3f}\"", end);
    fmt::format_to(std::back_inserter(out), " Num=\"{}\" Red=\"{}\" Green=\"{}\" Blue=\"{}\"/>\n", slot,
                   (rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255);
  }
}

void AppendTrack(std::string& out, const ExportRecord& record, int32_t id, const ExportFileAccess& files) {
  const TrackInfo& info = record.info;
  TrackTags tags;
  if (!files.readTags(record.path, &tags)) tags = TrackTags();
  if (tags.title.empty()) tags.title = FileStem(record.path);
  const long long seconds = Finite(tags.duration) && tags.duration > 0.0 && tags.duration < 1e9 ? std::llround(tags.duration) : 0;
  const bool tempo = Finite(info.bpm) && info.bpm > 0.0;
  fmt::format_to(std::back_inserter(out),
                 "    <TRACK TrackID=\"{}\" Name=\"{}\" Artist=\"{}\" Album=\"{}\" Genre=\"{}\" Kind=\"{}\" TotalTime=\"{}\""
                 " AverageBpm=\"{:.2f}\" PlayCount=\"{}\" Rating=\"{}\" Comments=\"{}\" Tonality=\"{}\"",
                 id, Attr(tags.title), Attr(tags.artist), Attr(tags.album), Attr(tags.genre), Attr(KindName(record.path)),
                 seconds, tempo ? info.bpm : 0.0, std::max(info.playCount, 0),
                 std::clamp(info.rating, 0, kMaxStars) * kRatingStep, Attr(tags.comment),
                 Attr(info.key >= 0 && info.key < kKeyCount ? KeyName(info.key, false) : std::wstring()));
  if (info.color >= 1 && info.color < kTrackColourCount)
    fmt::format_to(std::back_inserter(out), " Colour=\"0x{:06X}\"", kTrackColours[static_cast<size_t>(info.color)].rgb);
  fmt::format_to(std::back_inserter(out), " Location=\"{}\">\n", Attr(PathToFileUrl(record.path)));
  if (tempo) AppendTempo(out, record);
  AppendCues(out, record);
  out += "    </TRACK>\n";
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
      default: {
        const uint32_t u = static_cast<uint32_t>(c);
        if ((u < 32 && c != L'\t') || u == 0xFFFE || u == 0xFFFF || (u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF) break;
        out += c;
      }
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

std::string RekordboxXmlText(const std::vector<ExportRecord>& records, const std::vector<TrackList>& lists,
                             const ExportFileAccess& files, int32_t* written) {
  std::string tracks;
  std::unordered_map<std::wstring, int32_t> ids;
  int32_t count = 0;
  for (const ExportRecord& record : records) {
    const std::wstring key = PathKey(record.path);
    if (ids.count(key) || !files.isFile(record.path)) continue;
    ids.emplace(key, ++count);
    AppendTrack(tracks, record, count, files);
  }
  *written = count;
  if (count == 0) return {};

  std::string playlists;
  int32_t listCount = 0;
  for (const TrackList& list : lists) {
    std::vector<int32_t> entries;
    for (const std::wstring& path : list.paths) {
      auto found = ids.find(PathKey(path));
      if (found != ids.end()) entries.push_back(found->second);
    }
    if (entries.empty()) continue;
    ++listCount;
    fmt::format_to(std::back_inserter(playlists), "        <NODE Name=\"{}\" Type=\"1\" KeyType=\"0\" Entries=\"{}\">\n",
                   Attr(list.name), entries.size());
    for (int32_t id : entries) fmt::format_to(std::back_inserter(playlists), "          <TRACK Key=\"{}\"/>\n", id);
    playlists += "        </NODE>\n";
  }

  std::string out;
  out.reserve(tracks.size() + playlists.size() + 512);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<DJ_PLAYLISTS Version=\"1.0.0\">\n";
  out += "  <PRODUCT Name=\"Veldmix\" Version=\"1.0.10\" Company=\"Orrelby\"/>\n";
  fmt::format_to(std::back_inserter(out), "  <COLLECTION Entries=\"{}\">\n", count);
  out += tracks;
  out += "  </COLLECTION>\n";
  out += "  <PLAYLISTS>\n";
  out += "    <NODE Type=\"0\" Name=\"ROOT\" Count=\"1\">\n";
  fmt::format_to(std::back_inserter(out), "      <NODE Type=\"0\" Name=\"Veldmix\" Count=\"{}\">\n", listCount);
  out += playlists;
  out += "      </NODE>\n";
  out += "    </NODE>\n";
  out += "  </PLAYLISTS>\n";
  out += "</DJ_PLAYLISTS>\n";
  return out;
}

int32_t WriteRekordboxXml(const std::wstring& target, const std::vector<ExportRecord>& records,
                          const std::vector<TrackList>& lists, std::wstring* error, const ExportFileAccess& files) {
  int32_t written = 0;
  const std::string text = RekordboxXmlText(records, lists, files, &written);
  if (written == 0) {
    if (error) *error = kNothingToExportText;
    return -1;
  }
  std::wstring why;
  bool ok;
  {
    std::lock_guard<std::mutex> hold(ExportWriteLock);
    ok = WriteBytesAtomic(target, text, &why);
  }
  if (!ok) {
    WriteLog(L"rekordbox export to {} failed: {}", target, why);
    if (error) *error = kExportWriteErrorText;
    return -1;
  }
  return written;
}
