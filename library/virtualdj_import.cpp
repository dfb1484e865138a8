#include "library/virtualdj_import.h"

#include <algorithm>
#include <vector>

#include "base/musical_keys.h"
#include "base/text_parse.h"
#include "library/imported_tracks.h"
#include "platform/folder_walk.h"
#include "platform/folders.h"
#include "platform/xml.h"

namespace {

// Bpm is stored as seconds per beat; outside this range (20-400 BPM) it is no tempo.
constexpr double kMinBeatSeconds = 0.15, kMaxBeatSeconds = 3.0;
constexpr double kSecondsPerMinute = 60.0;
constexpr int32_t kMaxStars = 5;
constexpr wchar_t kFolderExtension[] = L".vdjfolder";
constexpr const wchar_t* kListFolders[] = {L"Playlists", L"MyLists"};

// A hot cue (Num 1-8) or a memory cue from a Poi that is a cue. VirtualDJ 8.2 writes hot cues
// without a Type, so a Poi without Type that has a hot-cue number counts as one.
void ReadPoi(XmlNode poi, ImportedTrack* track, bool* gridSeen) {
  double pos = 0.0;
  if (!ImportedNumber(XmlAttributeUtf8(poi, "Pos"), &pos) || !ImportedTimeFits(pos)) return;
  const std::string_view type = XmlAttributeUtf8(poi, "Type");
  const std::string_view numText = XmlAttributeUtf8(poi, "Num");
  const int64_t num = LeadingInteger(numText);
  const bool hotCueNumber = !numText.empty() && num >= 1 && num <= kHotCues;
  if (type == "beatgrid") {
    track->firstBeat = pos;
    *gridSeen = true;
  } else if ((type == "cue" || type.empty()) && hotCueNumber) {
    track->hotCueStart[num - 1] = pos;
    track->hotCueName[num - 1] = XmlAttribute(poi, "Name");
  } else if (type == "cue") {
    track->memoryCues.push_back(pos);
  }
}

void ReadSongInfo(XmlNode node, bool scan, ImportedTrack* track) {
  double beat = 0.0;
  if (ImportedNumber(XmlAttributeUtf8(node, "Bpm"), &beat) && beat > kMinBeatSeconds && beat < kMaxBeatSeconds && (scan || track->bpm <= 0))
    track->bpm = kSecondsPerMinute / beat;
  // The analysed tempo (Scan) wins over the tag's; the tag's key wins over the analysed one.
  const int32_t key = ParseKey(XmlAttribute(node, "Key"));
  if (key >= 0 && (!scan || track->key < 0)) track->key = key;
  if (const std::string_view stars = XmlAttributeUtf8(node, "Stars"); !stars.empty())
    track->rating = static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger(stars), 0, kMaxStars));
}

void ReadListFolder(const std::wstring& folder, ImportResult* result) {
  if (!FolderExists(folder)) return;
  std::vector<std::wstring> files;
  WalkHandlers handlers;
  handlers.visit = [&](const WalkEntry& entry) {
    if (entry.regularFile && entry.path.ends_with(kFolderExtension)) files.push_back(entry.path);
    return true;
  };
  WalkFolder(folder, handlers, [](const std::wstring& path) { return path.ends_with(kFolderExtension); });
  for (const std::wstring& file : files) {
    std::wstring ignored;
    const XmlDocumentPtr document = LoadXmlDocument(file, &ignored);
    if (!document) continue;
    std::vector<std::wstring> paths;
    for (const XmlNode song : XmlSelectNodes(XmlDocumentNode(*document), L"/VirtualFolder/song"))
      if (std::wstring path = XmlAttribute(song, "path"); ImportableFile(path) && !AddPlaylistPath(*result, paths, std::move(path)))
        break;
    const std::wstring relative = file.substr(folder.size() + (folder.ends_with(L'/') ? 0 : 1));
    AddImportedPlaylist(*result, VdjFolderListName(relative), std::move(paths));
  }
}

}  // namespace

std::wstring VdjFolderListName(const std::wstring& relativePath) {
  if (!relativePath.ends_with(kFolderExtension)) return {};
  std::wstring name;
  for (wchar_t c : relativePath.substr(0, relativePath.size() - (std::size(kFolderExtension) - 1)))
    name += c == L'/' ? std::wstring(L" / ") : std::wstring(1, c);
  return name;
}

ImportResult ImportVirtualDj(const std::wstring& path) {
  ImportResult result;
  const XmlDocumentPtr document = LoadXmlDocument(path, &result.error);
  if (!document) return result;
  for (const XmlNode song : XmlSelectNodes(XmlDocumentNode(*document), L"/VirtualDJ_Database/Song")) {
    if (!ImportedTrackFits(result)) break;
    ImportedTrack track;
    track.path = XmlAttribute(song, "FilePath");
    if (!ImportableFile(track.path)) continue;
    bool gridSeen = false;
    for (const XmlNode child : XmlChildElements(song)) {
      if (XmlNameIs(child, "Scan")) ReadSongInfo(child, true, &track);
      else if (XmlNameIs(child, "Tags")) ReadSongInfo(child, false, &track);
      else if (XmlNameIs(child, "Poi")) ReadPoi(child, &track, &gridSeen);
    }
    if (!gridSeen) track.bpm = 0.0;
    std::sort(track.memoryCues.begin(), track.memoryCues.end());
    result.tracks.push_back(std::move(track));
  }
  const size_t slash = path.rfind(L'/');
  const std::wstring base = slash == std::wstring::npos ? L"." : path.substr(0, slash == 0 ? 1 : slash);
  for (const wchar_t* folder : kListFolders) ReadListFolder(JoinPath(base, folder), &result);
  if (result.tracks.empty() && result.error.empty())
    result.error = L"No tracks from that VirtualDJ database were found on this computer";
  return result;
}
