// Reading a rekordbox collection XML.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/log.h"
#include "base/musical_keys.h"
#include "base/text_parse.h"
#include "library/database.h"
#include "library/rekordbox_xml.h"
#include "platform/file_url.h"
#include "platform/xml.h"

namespace {

constexpr double kSameGridPointSeconds = 0.05;
constexpr int64_t kRatingStep = 51;  // 0-255 in steps of 51 per star
constexpr int64_t kRatingRounding = 25;
constexpr int64_t kMaxRatingValue = 1000000;  // well past 255; keeps the arithmetic small
constexpr int kMaxStars = 5;
constexpr int kHotCueLoopType = 4;

bool Has(std::string_view text) { return !text.empty(); }

// A decimal attribute (ImportedNumber): false when absent as a number.
bool Number(XmlNode node, const char* name, double* out) { return ImportedNumber(XmlAttributeUtf8(node, name), out); }
double Number(XmlNode node, const char* name) {
  double value = 0.0;
  return Number(node, name, &value) ? value : 0.0;
}
int64_t Integer(XmlNode node, const char* name) { return LeadingInteger(XmlAttributeUtf8(node, name)); }

uint32_t HexNumber(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  uint64_t value = 0;
  for (char c : text) {
    int digit = HexDigitValue(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    if (digit < 0) break;
    value = (value << 4 | static_cast<uint64_t>(digit)) & 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(value);
}

// The running state of one TRACK's grid walk.
struct GridWalk {
  bool seenTempo = false;
  double lastTime = 0.0;
  double tempo = 0.0;
  double lastBeat = 0.0;
};

void ReadTempo(XmlNode node, double averageBpm, ImportedTrack& track, GridWalk& walk) {
  double time = 0.0;
  if (!Number(node, "Inizio", &time) || std::fabs(time) > kMaxImportedSeconds) return;  // no time a track has
  double bpm = Number(node, "Bpm");
  if (!ImportedTempoFits(bpm)) bpm = 0.0;
  if (!walk.seenTempo) {
    walk.seenTempo = true;
    track.firstBeat = time;
    walk.tempo = bpm > 0.0 ? bpm : averageBpm;
    track.bpm = walk.tempo;
    walk.lastTime = time;
    return;
  }
  if (!(time > walk.lastTime + kSameGridPointSeconds) || !(walk.tempo > 0.0) || !(bpm > 0.0)) return;
  const double beat = std::round((time - walk.lastTime) * walk.tempo / 60.0 + walk.lastBeat);
  if (!(beat > walk.lastBeat) || !(beat <= kMaxMarkerBeat)) return;
  if (track.tempoMarkers.size() + 1 >= kMaxTempoMarkers) return;  // room for the closing marker
  track.tempoMarkers.push_back({beat, time});
  walk.lastTime = time;
  walk.tempo = bpm;
  walk.lastBeat = beat;
}

void ReadPositionMark(XmlNode node, ImportedTrack& track) {
  const int64_t num = Integer(node, "Num");
  double start = 0.0;
  if (!Number(node, "Start", &start) || !ImportedTimeFits(start)) return;
  if (num < 0) {
    if (track.cue < 0.0) track.cue = start;
    if (track.memoryCues.size() < kMaxMemoryCues) track.memoryCues.push_back(start);
    return;
  }
  if (num >= kHotCues) return;
  const size_t slot = static_cast<size_t>(num);
  track.hotCueStart[slot] = start;
  track.hotCueEnd[slot] = -1.0;
  if (Has(XmlAttributeUtf8(node, "End")) && Integer(node, "Type") == kHotCueLoopType) {
    double end = 0.0;
    if (Number(node, "End", &end) && ImportedTimeFits(end)) track.hotCueEnd[slot] = end;
  }
  track.hotCueName[slot] = XmlAttribute(node, "Name");
  if (Has(XmlAttributeUtf8(node, "Red")))
    track.hotCueColor[slot] = static_cast<int32_t>((Integer(node, "Red") & 255) << 16 |
                                                   (Integer(node, "Green") & 255) << 8 | (Integer(node, "Blue") & 255));
}

bool ReadTrack(XmlNode node, ImportedTrack& track) {
  track.path = FileUrlToPath(XmlAttribute(node, "Location"));
  if (!ImportableFile(track.path)) return false;
  double averageBpm = Number(node, "AverageBpm");
  if (!ImportedTempoFits(averageBpm)) averageBpm = 0.0;
  track.bpm = averageBpm;
  track.key = ParseKey(XmlAttribute(node, "Tonality"));
  const std::string_view rating = XmlAttributeUtf8(node, "Rating");
  if (Has(rating)) {
    int64_t value = std::clamp<int64_t>(LeadingInteger(rating), -kMaxRatingValue, kMaxRatingValue);
    track.rating = static_cast<int32_t>(std::clamp<int64_t>((value + kRatingRounding) / kRatingStep, 0, kMaxStars));
  }
  const std::string_view colour = XmlAttributeUtf8(node, "Colour");
  if (Has(colour)) track.color = TrackColourIndex(HexNumber(colour));

  GridWalk walk;
  for (XmlNode child : XmlChildElements(node)) {
    if (XmlNameIs(child, "TEMPO")) ReadTempo(child, averageBpm, track, walk);
    else if (XmlNameIs(child, "POSITION_MARK")) ReadPositionMark(child, track);
  }
  if (!walk.seenTempo) track.bpm = 0.0;
  if (!track.tempoMarkers.empty()) AppendClosingMarker(track, walk.tempo);
  return true;
}

using TrackIds = std::unordered_map<std::string, std::wstring>;

// The entries of one playlist NODE: Locations (KeyType 1) or TrackIDs (any other), kept when
// they name a track here.
// *budget counts down the path characters all lists may still take.
std::vector<std::wstring> PlaylistPaths(XmlNode list, const TrackIds& ids, ImportResult& result) {
  std::vector<std::wstring> paths;
  const bool byLocation = XmlAttributeUtf8(list, "KeyType") == "1";
  for (XmlNode entry : XmlChildElements(list)) {
    std::wstring path;
    if (byLocation) {
      path = FileUrlToPath(XmlAttribute(entry, "Key"));
      if (!ImportableFile(path)) continue;
    } else {
      auto found = ids.find(std::string(XmlAttributeUtf8(entry, "Key")));
      if (found == ids.end()) continue;
      path = found->second;
    }
    if (!AddPlaylistPath(result, paths, std::move(path))) break;
  }
  return paths;
}

// The playlist tree below `top` in document order, depth first without recursion; folders
// nested deeper than the limit are skipped.
void ReadPlaylists(XmlNode top, const TrackIds& ids, ImportResult& result) {
  struct Pending {
    XmlNode node;
    std::wstring name;  // full name: the folder's prefix for its children, or the list's name
    bool folder;
    int depth;
  };
  std::vector<Pending> stack{{top, L"", true, 0}};
  while (!stack.empty()) {
    Pending at = std::move(stack.back());
    stack.pop_back();
    if (!at.folder) {
      AddImportedPlaylist(result, at.name, PlaylistPaths(at.node, ids, result));
      continue;
    }
    std::vector<Pending> children;
    for (XmlNode child : XmlChildElements(at.node)) {
      if (!XmlNameIs(child, "NODE")) continue;
      const std::wstring name = XmlAttribute(child, "Name");
      std::wstring full = at.name.empty() || at.name == L"ROOT" ? name : at.name + L" / " + name;
      const bool folder = XmlAttributeUtf8(child, "Type") == "0";
      if (folder && at.depth >= kMaxRekordboxFolderDepth) {
        WriteLog(L"rekordbox import: the folder {} nests too deep; skipped", PrintableExcerpt(full, 80));
        continue;
      }
      children.push_back({child, std::move(full), folder, at.depth + 1});
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(std::move(*it));
  }
}

}  // namespace

ImportResult ImportRekordbox(const std::wstring& path) {
  ImportResult result;
  XmlDocumentPtr document = LoadXmlDocument(path, &result.error);
  if (!document) return result;
  const XmlNode root = XmlDocumentNode(*document);
  TrackIds ids;
  for (XmlNode node : XmlSelectNodes(root, L"/DJ_PLAYLISTS/COLLECTION/TRACK")) {
    if (!ImportedTrackFits(result)) break;
    ImportedTrack track;
    if (!ReadTrack(node, track)) continue;
    ids[std::string(XmlAttributeUtf8(node, "TrackID"))] = track.path;
    result.tracks.push_back(std::move(track));
  }
  for (XmlNode node : XmlSelectNodes(root, L"/DJ_PLAYLISTS/PLAYLISTS/NODE")) ReadPlaylists(node, ids, result);
  if (result.tracks.empty() && result.error.empty()) result.error = kRekordboxNoTracksText;
  return result;
}
