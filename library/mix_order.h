#pragma once
// Mix order: tracks arranged so that neighbours mix well (keys, tempos with half and double time,
// an energy curve that rises over three quarters of the set and eases off), written to a list.
// Also the per-track record and list helpers the duplicate finder and the set builder share.
// UI thread.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "library/library_file.h"

inline constexpr wchar_t kMixOrderListName[] = L"Mix order";

// The texts are views: into the MixTrackSet that holds the track, or into storage its maker keeps.
struct MixTrack {
  std::wstring_view path{};
  std::wstring_view artist{};
  std::wstring_view title{};
  std::wstring_view genre{};
  double bpm = 0.0;       // 0 = not analysed
  double duration = 0.0;  // seconds; 0 unknown
  int32_t key = -1;       // 0-11 major, 12-23 minor, -1 none
  int32_t energy = 0;     // 1-10; 0 unknown
};

// Tracks with their own copies of their texts, packed into a few large blocks (no allocation per
// text). Moving keeps the views valid; a set cannot be copied, and a MixTrack taken out of it is
// valid only while the set lives. Owned by one thread at a time.
class MixTrackSet {
 public:
  MixTrackSet() = default;
  MixTrackSet(MixTrackSet&& other) noexcept;
  MixTrackSet& operator=(MixTrackSet&& other) noexcept;

  // Not on a temporary set: its tracks would outlive their texts.
  std::vector<MixTrack>& tracks() & { return tracks_; }
  const std::vector<MixTrack>& tracks() const& { return tracks_; }
  void tracks() && = delete;
  void tracks() const&& = delete;
  // A copy of the text in the set's blocks.
  std::wstring_view Keep(std::wstring_view text);

 private:
  std::vector<MixTrack> tracks_;
  std::vector<std::unique_ptr<wchar_t[]>> blocks_;
  wchar_t* next_ = nullptr;
  size_t room_ = 0;
};

// A bare path (list entries): its path viewed, no texts, the analysis of its record.
MixTrack MixTrackFromPath(const std::wstring& path);
// The rows in view in view order, each file once (the first of paths with the same PathKey), with
// the analysis of their records (only an analysed record with a BPM).
MixTrackSet CollectViewTracks();
// Replaces the paths of the user list named `name` ignoring case (the highest such index of 3 and
// up), or appends a new one; saves and shows it. False when it couldn't be saved (SaveList said why).
bool ReplaceOrCreateList(const std::wstring& name, const std::vector<std::wstring>& paths);

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
