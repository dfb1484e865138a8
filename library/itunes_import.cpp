#include "library/itunes_import.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "base/text_parse.h"
#include "library/imported_tracks.h"
#include "platform/file_url.h"
#include "platform/text.h"

namespace {

constexpr int64_t kRatingPerStar = 20;  // Rating is 0-100
constexpr int32_t kMaxStars = 5;
constexpr wchar_t kUnnamedPlaylist[] = L"iTunes playlist";

XmlNode Value(const std::map<std::wstring, XmlNode>& dict, const wchar_t* key) {
  const auto it = dict.find(key);
  return it == dict.end() ? XmlNode{} : it->second;
}

}  // namespace

std::map<std::wstring, XmlNode> PlistDict(XmlNode dict) {
  std::map<std::wstring, XmlNode> out;
  const std::vector<XmlNode> children = XmlChildElements(dict);
  for (size_t i = 0; i + 1 < children.size();) {
    if (XmlNameIs(children[i], "key")) {
      out[XmlNodeText(children[i])] = children[i + 1];
      i += 2;
    } else {
      ++i;
    }
  }
  return out;
}

ImportResult ImportItunes(const std::wstring& path) {
  ImportResult result;
  const XmlDocumentPtr document = LoadXmlDocument(path, &result.error);
  if (!document) return result;
  const std::vector<XmlNode> tops = XmlSelectNodes(XmlDocumentNode(*document), L"/plist/dict");
  if (tops.empty()) {
    result.error = L"That doesn't look like an iTunes / Music library file";
    return result;
  }
  const std::map<std::wstring, XmlNode> top = PlistDict(tops[0]);

  std::unordered_map<std::wstring, std::wstring> pathById;
  for (const auto& [id, node] : PlistDict(Value(top, L"Tracks"))) {
    const std::map<std::wstring, XmlNode> fields = PlistDict(node);
    const XmlNode location = Value(fields, L"Location");
    if (!location) continue;
    if (!ImportedTrackFits(result)) break;
    ImportedTrack track;
    track.path = FileUrlToPath(XmlNodeText(location));
    if (!ImportableFile(track.path)) continue;
    pathById[id] = track.path;
    if (const XmlNode rating = Value(fields, L"Rating"); rating && !Value(fields, L"Rating Computed")) {
      const int64_t stars = LeadingInteger(WideToUtf8(XmlNodeText(rating))) / kRatingPerStar;
      track.rating = static_cast<int32_t>(std::clamp<int64_t>(stars, 0, kMaxStars));
    }
    result.tracks.push_back(std::move(track));
  }

  for (const XmlNode playlistNode : XmlChildElements(Value(top, L"Playlists"))) {
    const std::map<std::wstring, XmlNode> playlist = PlistDict(playlistNode);
    // The library itself, the built-in lists (Music, Movies, Purchased...) and folders are no lists.
    if (Value(playlist, L"Master") || Value(playlist, L"Distinguished Kind") || Value(playlist, L"Folder")) continue;
    if (const XmlNode visible = Value(playlist, L"Visible"); visible && XmlNameIs(visible, "false")) continue;
    std::vector<std::wstring> paths;
    for (const XmlNode item : XmlChildElements(Value(playlist, L"Playlist Items"))) {
      const std::map<std::wstring, XmlNode> entry = PlistDict(item);
      const XmlNode id = Value(entry, L"Track ID");
      if (!id) continue;
      const auto it = pathById.find(XmlNodeText(id));
      if (it != pathById.end() && !AddPlaylistPath(result, paths, it->second)) break;
    }
    const XmlNode name = Value(playlist, L"Name");
    AddImportedPlaylist(result, name ? XmlNodeText(name) : kUnnamedPlaylist, std::move(paths));
  }
  if (result.tracks.empty() && result.error.empty())
    result.error = L"No tracks from that library were found on this computer";
  return result;
}
