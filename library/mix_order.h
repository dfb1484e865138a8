#pragma once
// Mix order: tracks arranged so that neighbours mix well (keys, tempos with half and double time,
// an energy curve that rises over three quarters of the set and eases off), written to a list.
// Also the per-track record and list helpers the duplicate finder and the set builder share.
// UI thread.
#include <cstdint>
#include <string>
#include <vector>

#include "library/library_file.h"

inline constexpr wchar_t kMixOrderListName[] = L"Mix order";

struct MixTrack {
  std::wstring path{};
  std::wstring artist{};
  std::wstring title{};
  std::wstring genre{};
  double bpm = 0.0;       // 0 = not analysed
  double duration = 0.0;  // seconds; 0 unknown
  int32_t key = -1;       // 0-11 major, 12-23 minor, -1 none
  int32_t energy = 0;     // 1-10; 0 unknown
};

// A browser row with the analysis of its library record (only an analysed record with a BPM).
MixTrack MixTrackFromFile(const LibraryFile& file);
// A bare path (list entries): no texts, the analysis of its record.
MixTrack MixTrackFromPath(const std::wstring& path);
// The rows in view in view order, each file once (the first of paths with the same PathKey).
std::vector<MixTrack> CollectViewTracks();
// Replaces the paths of the user list named `name` ignoring case (the highest such index of 3 and
// up), or appends a new one; saves and shows it.
void ReplaceOrCreateList(const std::wstring& name, const std::vector<std::wstring>& paths);

// A permutation of the tracks: the analysed ones in mix order, then the rest in input order.
std::vector<uint32_t> MixOrder(const std::vector<MixTrack>& tracks);
// The paths in mix order; *unanalysed receives the count of tracks without a BPM.
std::vector<std::wstring> RunMixOrder(const std::vector<std::wstring>& paths, int* unanalysed);
// Orders list `listIndex` in place (History's order goes to "Mix order" instead).
void MixOrderList(int listIndex);
// Orders the tracks in view into "Mix order" (a shown list is ordered itself).
void MixOrderView();
// The outcome on the status line.
void ReportMixOrder(int unanalysed);
