#pragma once
// Plain-text tracklists: one line per track, numbered for a list export or stamped with each
// track's start time in a recorded mix. UI thread (reads the library records and the settings).
#include <string>
#include <vector>

// One line per path, each ended by CR LF: the prefix ("N. " without start times, "m:ss  " with
// them, minutes never folded into hours, a negative time as 0:00), then "artist – title" from the
// file's tags (the file's name when the title is empty), then "  (124.0 BPM, 8A)" when the library
// holds an analysed record of the path. startSeconds, when given, holds one time per path; a
// path without a time in it counts as 0. An empty path list gives an empty text.
std::wstring TracklistText(const std::vector<std::wstring>& paths, const std::vector<double>* startSeconds = nullptr);
