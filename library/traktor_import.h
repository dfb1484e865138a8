#pragma once
// Traktor's collection file (collection.nml): tracks with tempo, first beat, key, rating, colour,
// hot cues, loops and cue points, and the playlists under their folder names.
#include <string>
#include <unordered_map>

// The local path of a LOCATION: a VOLUME with a colon (a Windows drive) names nothing here; any
// other gives "/" + DIR + FILE when that is a file, else the same under a mounted volume of that
// name when that is one, else "/" + DIR + FILE. DIR's "/:" separators become "/". mounts (when
// given) keeps the volume names looked up so far, so a large collection reads the mount table once
// per volume.
std::wstring TraktorPath(const std::wstring& volume, const std::wstring& dir, const std::wstring& file,
                         std::unordered_map<std::wstring, std::wstring>* mounts = nullptr);
