#include "library/traktor_import.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "base/musical_keys.h"
#include "base/text_parse.h"
#include "library/imported_tracks.h"
#include "platform/volumes.h"
#include "platform/xml.h"

namespace {

constexpr int kTypeCue = 0, kTypeLoad = 3, kTypeGrid = 4, kTypeLoop = 5;
constexpr double kMsPerSecond = 1000.0;
constexpr int64_t kRankingPerStar = 51;  // RANKING is 0-255
constexpr int64_t kRankingRound = 25;
constexpr int32_t kMaxStars = 5;
constexpr wchar_t kUnnamedCue[] = L"n.n.";
constexpr wchar_t kFolderSeparator[] = L" / ";
constexpr int kMaxFolderDepth = 64;  // deeper folder trees are no one's playlists
// Traktor COLOR 1-7 (red, orange, yellow, green, blue, purple, pink) to track colour indexes.
constexpr std::array<int32_t, 8> kTraktorColour = {0, 2, 3, 4, 5, 7, 8, 1};

int64_t Integer(XmlNode node, const char* name) { return LeadingInteger(XmlAttributeUtf8(node, name)); }
// 0 when absent; NaN (which no time or tempo check passes) when written as a non-finite number.
double Number(XmlNode node, const char* name) {
  double value = 0.0;
  return ImportedNumber(XmlAttributeUtf8(node, name), &value) ? value : std::nan("");
}

// Built in one pass: replacing in place moves the rest of the text at every hit, and a long DIR
// of a hostile file is nearly all hits.
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to) {
  std::wstring out;
  out.reserve(text.size());
  size_t done = 0;
  for (size_t at = text.find(from); at != std::wstring_view::npos; at = text.find(from, done)) {
    out.append(text, done, at - done);
    out.append(to);
    done = at + from.size();
  }
  out.append(text, done);
  return out;
}

void ReadCue(XmlNode cue, ImportedTrack* track, bool* gridSeen) {
  const int64_t type = Integer(cue, "TYPE"), hotcue = Integer(cue, "HOTCUE");
  const double start = Number(cue, "START") / kMsPerSecond, length = Number(cue, "LEN") / kMsPerSecond;
  if (!ImportedTimeFits(start)) return;
  if (type == kTypeGrid) {
    if (!*gridSeen) track->firstBeat = start;
    *gridSeen = true;
  } else if (hotcue >= 0 && hotcue < kHotCues) {
    track->hotCueStart[hotcue] = start;
    if (type == kTypeLoop && length > 0 && ImportedTimeFits(start + length)) track->hotCueEnd[hotcue] = start + length;
    if (const std::wstring name = XmlAttribute(cue, "NAME"); name != kUnnamedCue) track->hotCueName[hotcue] = name;
  } else if (type == kTypeCue || type == kTypeLoad) {
    if (type == kTypeLoad || track->cue < 0) track->cue = start;
    track->memoryCues.push_back(start);
  }
}

struct PlaylistWalk {
  const std::unordered_map<std::wstring, std::wstring>& pathByKey;
  ImportResult& result;

  void Walk(XmlNode node, const std::wstring& prefix, int depth) {
    if (depth > kMaxFolderDepth) return;
    for (const XmlNode child : XmlSelectNodes(node, L"SUBNODES/NODE")) {
      const std::wstring name = XmlAttribute(child, "NAME");
      const std::wstring full = prefix.empty() ? name : prefix + kFolderSeparator + name;
      const std::string_view type = XmlAttributeUtf8(child, "TYPE");
      if (type == "FOLDER") {
        Walk(child, full, depth + 1);
      } else if (type == "PLAYLIST") {
        std::vector<std::wstring> paths;
        for (const XmlNode key : XmlSelectNodes(child, L"PLAYLIST/ENTRY/PRIMARYKEY")) {
          const auto it = pathByKey.find(XmlAttribute(key, "KEY"));
          if (it != pathByKey.end() && !AddPlaylistPath(result, paths, it->second)) break;
        }
        AddImportedPlaylist(result, full, std::move(paths));
      }
    }
  }
};

}  // namespace

std::wstring TraktorPath(const std::wstring& volume, const std::wstring& dir, const std::wstring& file,
                         std::unordered_map<std::wstring, std::wstring>* mounts) {
  if (volume.find(L':') != std::wstring::npos) return {};
  std::wstring relative = ReplaceAll(dir, L"/:", L"/") + file;
  relative.erase(0, relative.find_first_not_of(L'/'));
  const std::wstring onRoot = L"/" + relative;
  if (ImportableFile(onRoot)) return onRoot;
  std::wstring mounted;
  if (!mounts) {
    mounted = MountedVolume(volume);
  } else if (const auto it = mounts->find(volume); it != mounts->end()) {
    mounted = it->second;
  } else {
    mounted = (*mounts)[volume] = MountedVolume(volume);
  }
  if (!mounted.empty() && ImportableFile(mounted + relative)) return mounted + relative;
  return onRoot;
}

ImportResult ImportTraktor(const std::wstring& path) {
  ImportResult result;
  const XmlDocumentPtr document = LoadXmlDocument(path, &result.error);
  if (!document) return result;
  const XmlNode root = XmlDocumentNode(*document);
  std::unordered_map<std::wstring, std::wstring> pathByKey, mounts;
  for (const XmlNode entry : XmlSelectNodes(root, L"/NML/COLLECTION/ENTRY")) {
    if (!ImportedTrackFits(result)) break;
    ImportedTrack track;
    std::wstring key;
    bool gridSeen = false;
    for (const XmlNode child : XmlChildElements(entry)) {
      if (XmlNameIs(child, "LOCATION")) {
        const std::wstring volume = XmlAttribute(child, "VOLUME"), dir = XmlAttribute(child, "DIR"),
                           file = XmlAttribute(child, "FILE");
        track.path = TraktorPath(volume, dir, file, &mounts);
        key = volume + dir + file;
      } else if (XmlNameIs(child, "INFO")) {
        if (const std::string_view ranking = XmlAttributeUtf8(child, "RANKING"); !ranking.empty())
          track.rating = static_cast<int32_t>(std::clamp<int64_t>((LeadingInteger(ranking) + kRankingRound) / kRankingPerStar, 0, kMaxStars));
        const int64_t colour = Integer(child, "COLOR");
        if (colour > 0 && colour < int64_t(kTraktorColour.size())) track.color = kTraktorColour[colour];
        if (track.key < 0) track.key = ParseKey(XmlAttribute(child, "KEY"));
      } else if (XmlNameIs(child, "TEMPO")) {
        const double bpm = Number(child, "BPM");
        track.bpm = ImportedTempoFits(bpm) ? bpm : 0.0;
      } else if (XmlNameIs(child, "MUSICAL_KEY")) {
        const std::string_view text = XmlAttributeUtf8(child, "VALUE");
        const int64_t value = LeadingInteger(text);
        if (!text.empty() && value >= 0 && value < kKeyCount) track.key = static_cast<int32_t>(value);
      } else if (XmlNameIs(child, "CUE_V2")) {
        ReadCue(child, &track, &gridSeen);
      }
    }
    if (!ImportableFile(track.path)) continue;
    if (!gridSeen) track.bpm = 0.0;
    pathByKey[key] = track.path;
    std::sort(track.memoryCues.begin(), track.memoryCues.end());
    result.tracks.push_back(std::move(track));
  }
  PlaylistWalk walk{pathByKey, result};
  for (const XmlNode node : XmlSelectNodes(root, L"/NML/PLAYLISTS/NODE")) walk.Walk(node, L"", 0);
  if (result.tracks.empty() && result.error.empty())
    result.error = L"No tracks from that Traktor collection were found on this computer";
  return result;
}
