#include "support/playlist_collection.h"

#include <filesystem>
#include <fstream>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/file_url.h"
#include "platform/text.h"

namespace {
// Track t of list `list` in folder f, 0-based: spread so that lists differ.
int TrackOf(const PlaylistCollection& shape, int f, int list, int t) { return (f * 131 + list * 17 + t) % shape.tracks; }
}  // namespace

std::wstring PlaylistCollectionTrack(const std::string& folder, int i) {
  return Utf8ToWide(fmt::format("{}/Music/{:05} - Title.mp3", folder, i));
}

std::wstring PlaylistCollectionListName(int f, int list) {
  return fmt::format(L"RB \u00b7 Gigs {:03} - Set {:03}", f, list);
}

std::vector<std::wstring> PlaylistCollectionPaths(const std::string& folder, const PlaylistCollection& shape, int f,
                                                  int list) {
  std::vector<std::wstring> paths;
  for (int t = 0; t < shape.tracksPerList; ++t) paths.push_back(PlaylistCollectionTrack(folder, TrackOf(shape, f, list, t)));
  return paths;
}

std::wstring WritePlaylistCollection(const std::string& folder, const PlaylistCollection& shape) {
  std::filesystem::create_directories(folder + "/Music");
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DJ_PLAYLISTS Version=\"1.0.0\">\n";
  text += fmt::format("  <COLLECTION Entries=\"{}\">\n", shape.tracks);
  for (int i = 0; i < shape.tracks; ++i) {
    const std::wstring song = PlaylistCollectionTrack(folder, i);
    std::ofstream(WideToUtf8(song)).put('x');
    text += fmt::format("    <TRACK TrackID=\"{}\" AverageBpm=\"124.00\" Location=\"{}\">\n"
                        "      <TEMPO Inizio=\"0.050\" Bpm=\"124.00\" Metro=\"4/4\" Battito=\"1\"/>\n    </TRACK>\n",
                        i + 1, WideToUtf8(PathToFileUrl(song)));
  }
  text += fmt::format("  </COLLECTION>\n  <PLAYLISTS>\n    <NODE Type=\"0\" Name=\"ROOT\" Count=\"{}\">\n", shape.folders);
  for (int f = 0; f < shape.folders; ++f) {
    text += fmt::format("      <NODE Type=\"0\" Name=\"Gigs {:03}\" Count=\"{}\">\n", f, shape.lists);
    for (int l = 0; l < shape.lists; ++l) {
      text += fmt::format("        <NODE Name=\"Set {:03}\" Type=\"1\" KeyType=\"0\" Entries=\"{}\">\n", l,
                          shape.tracksPerList);
      for (int t = 0; t < shape.tracksPerList; ++t)
        text += fmt::format("          <TRACK Key=\"{}\"/>\n", TrackOf(shape, f, l, t) + 1);
      text += "        </NODE>\n";
    }
    text += "      </NODE>\n";
  }
  text += "    </NODE>\n  </PLAYLISTS>\n</DJ_PLAYLISTS>\n";
  const std::string xml = folder + "/rekordbox.xml";
  std::ofstream(xml, std::ios::binary) << text;
  return Utf8ToWide(xml);
}
