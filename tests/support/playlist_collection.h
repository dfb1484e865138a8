#pragma once
// A rekordbox collection XML of many playlists in folders, as a DJ with a large collection
// exports it: for the import's tests and benchmarks.
#include <string>
#include <vector>

struct PlaylistCollection {
  int tracks = 2000;       // one-byte files "Music/00000 - Title.mp3", each with a 124 BPM grid
  int folders = 100;       // "Gigs 000", "Gigs 001"... under the root
  int lists = 100;         // lists per folder: "Set 000", "Set 001"...
  int tracksPerList = 12;
};

// Writes the track files under folder/Music and the collection as folder/rekordbox.xml; returns
// the XML's path.
std::wstring WritePlaylistCollection(const std::string& folder, const PlaylistCollection& shape);
// The list name the import gives list `list` of folder `f` ("RB · Gigs 000 - Set 000").
std::wstring PlaylistCollectionListName(int f, int list);
// The paths that list holds, in order.
std::vector<std::wstring> PlaylistCollectionPaths(const std::string& folder, const PlaylistCollection& shape, int f,
                                                  int list);
// The path of track i.
std::wstring PlaylistCollectionTrack(const std::string& folder, int i);
