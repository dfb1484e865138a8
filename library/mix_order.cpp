#include "library/mix_order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cwchar>
#include <functional>
#include <string_view>
#include <utility>

#include "base/musical_keys.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/search_filter.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/paths.h"

namespace {

constexpr double kTieDistance = 1e-9;
constexpr double kNoScore = 1e18;
constexpr int kNoEnergyLow = 10;  // the range starts inverted; no energy at all gives 5..5
constexpr int kNoEnergyHigh = 1;
constexpr double kNoEnergyMiddle = 5.0;
constexpr double kRiseShare = 0.75;          // the curve climbs over the first three quarters
constexpr double kFallPerShare = 4.0 * 0.3;  // then drops to 70 % of the range at the end
constexpr double kUnknownKeyCost = 1.5;
constexpr double kNeighbourKeyCost = 0.5;
constexpr double kFarKeyExtraCost = 3.0;
constexpr double kEnergyWeight = 1.5;
constexpr double kTempoWeight = 0.5;
constexpr double kPercent = 100.0;
constexpr size_t kMinTracks = 2;
constexpr size_t kKeepBlockUnits = size_t{1} << 16;  // a MixTrackSet's text block

// The analysis of the record, when analysed with a BPM.
void TakeRecord(const TrackInfo* record, MixTrack* track) {
  if (!record || !record->analyzed || !(record->bpm > 0.0)) return;
  track->bpm = record->bpm;
  track->key = record->key;
  track->energy = TrackEnergy(record);
}

double KeyCost(int32_t a, int32_t b) {
  if (a < 0 || b < 0) return kUnknownKeyCost;
  const int32_t d = KeyDistance(a, b);
  if (d == 0) return 0.0;
  if (d == 1) return kNeighbourKeyCost;
  return d + kFarKeyExtraCost;
}

double TempoCost(double bpm, double lastBpm) {
  double best = kNoScore;
  for (double ratio : {0.5, 1.0, 2.0}) best = std::min(best, std::abs(bpm * ratio / lastBpm - 1.0) * kPercent);
  return best;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) { return LowerText(a) == LowerText(b); }

}  // namespace

MixTrackSet::MixTrackSet(MixTrackSet&& other) noexcept
    : tracks_(std::move(other.tracks_)),
      blocks_(std::move(other.blocks_)),
      next_(std::exchange(other.next_, nullptr)),
      room_(std::exchange(other.room_, 0)) {}

MixTrackSet& MixTrackSet::operator=(MixTrackSet&& other) noexcept {
  tracks_ = std::move(other.tracks_);
  blocks_ = std::move(other.blocks_);
  next_ = std::exchange(other.next_, nullptr);
  room_ = std::exchange(other.room_, 0);
  return *this;
}

std::wstring_view MixTrackSet::Keep(std::wstring_view text) {
  if (text.empty()) return {};
  if (text.size() > room_) {
    room_ = std::max(kKeepBlockUnits, text.size());
    blocks_.push_back(std::make_unique_for_overwrite<wchar_t[]>(room_));
    next_ = blocks_.back().get();
  }
  wchar_t* const at = next_;
  std::wmemcpy(at, text.data(), text.size());
  next_ += text.size(), room_ -= text.size();
  return {at, text.size()};
}

MixTrack MixTrackFromPath(const std::wstring& path) {
  MixTrack track{.path = path};
  TakeRecord(FindTrackInfo(path), &track);
  return track;
}

MixTrackSet CollectViewTracks() {
  // 50,000 rows on the UI thread, bound by memory rather than work: a row's texts and its library
  // record sit in scattered heap blocks. The first pass takes each file once (one hash per row
  // serves the repeat check and the record lookup) and packs its texts into the set's blocks,
  // starting the reads of rows ahead. The second finds the records: each lookup is a chain of
  // dependent misses (bucket, node, key), so the chains of many tracks are kept in flight.
  constexpr size_t kFileAhead = 48, kTextAhead = 24, kHashAhead = 8, kHashBatch = 4;
  constexpr size_t kRing = 32, kUnitsPerLine = 64 / sizeof(wchar_t);
  struct Taken {
    uint32_t tag = 0;    // the hash's high half
    int32_t track = -1;  // index into tracks; -1 empty
  };
  const size_t rows = ViewOrder.size();
  MixTrackSet set;
  std::vector<MixTrack>& tracks = set.tracks();
  tracks.reserve(rows);
  std::vector<size_t> hashes;  // per track
  hashes.reserve(rows);
  MixTrackSet keyTexts;                   // keys that differ from their paths
  std::vector<std::wstring_view> keyOf;  // per track, only then
  const auto trackKey = [&](size_t i) { return kPathKeyIsPath ? tracks[i].path : keyOf[i]; };
  const size_t mask = std::bit_ceil(rows * 2 + 1) - 1;
  std::vector<Taken> slots(mask + 1);
  const auto fileAt = [](size_t row) -> const LibraryFile& { return ViewItems[static_cast<size_t>(ViewOrder[row])]; };
  std::array<std::wstring, kRing> otherKeys;  // only where keys differ from paths
  std::array<size_t, kRing> rowHashes{};
  const auto rowKey = [&](size_t row) -> std::wstring_view {
    if constexpr (kPathKeyIsPath) return fileAt(row).path;
    return otherKeys[row % kRing];
  };
  // Rows [first, end) hashed together, their slots fetched.
  const auto hashRows = [&](size_t first, size_t end) {
    std::array<std::wstring_view, kHashBatch> batch;
    std::array<uint64_t, kHashBatch> batchHashes{};
    for (size_t row = first; row < end; ++row) {
      if constexpr (!kPathKeyIsPath) otherKeys[row % kRing] = PathKey(fileAt(row).path);
      batch[row - first] = rowKey(row);
    }
    Fnv1aPathHashes(std::span(batch.data(), end - first), batchHashes.data());
    for (size_t row = first; row < end; ++row) {
      const size_t hash = rowHashes[row % kRing] = static_cast<size_t>(batchHashes[row - first]);
      __builtin_prefetch(&slots[hash & mask]);
    }
  };
  for (size_t row = 0; row < std::min(rows, kHashAhead); row += kHashBatch)
    hashRows(row, std::min(rows, row + kHashBatch));
  for (size_t row = 0; row < rows; ++row) {
    if (row + kFileAhead < rows) {
      const LibraryFile& ahead = fileAt(row + kFileAhead);
      __builtin_prefetch(&ahead.path), __builtin_prefetch(&ahead.genre), __builtin_prefetch(&ahead.duration);
    }
    if (row + kTextAhead < rows) {
      const LibraryFile& ahead = fileAt(row + kTextAhead);
      for (const std::wstring* text : {&ahead.path, &ahead.title, &ahead.artist, &ahead.genre})
        for (size_t at = 0; at < text->size(); at += kUnitsPerLine) __builtin_prefetch(text->data() + at);
    }
    if (row + kHashAhead < rows && row % kHashBatch == 0)
      hashRows(row + kHashAhead, std::min(rows, row + kHashAhead + kHashBatch));
    const LibraryFile& file = fileAt(row);
    const std::wstring_view key = rowKey(row);
    const size_t hash = rowHashes[row % kRing];
    const auto tag = static_cast<uint32_t>(hash >> 32);
    size_t slot = hash & mask;
    bool seen = false;
    for (; slots[slot].track >= 0 && !seen; slot = (slot + 1) & mask)
      seen = slots[slot].tag == tag && trackKey(static_cast<size_t>(slots[slot].track)) == key;
    if (seen) continue;
    slots[slot] = {tag, static_cast<int32_t>(tracks.size())};
    hashes.push_back(hash);
    if constexpr (!kPathKeyIsPath) keyOf.push_back(keyTexts.Keep(key));
    tracks.push_back({.path = set.Keep(file.path),
                      .artist = set.Keep(file.artist),
                      .title = set.Keep(file.title),
                      .genre = set.Keep(file.genre),
                      .duration = file.duration});
  }

  std::vector<HashedPathKey> keys(tracks.size());
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = HashedPathKey{trackKey(i), hashes[i]};
  std::vector<const TrackInfo*> records(keys.size());
  FindHashedTrackInfos(keys, records.data());
  for (size_t i = 0; i < keys.size(); ++i) TakeRecord(records[i], &tracks[i]);
  return set;
}

bool ReplaceOrCreateList(const std::wstring& name, const std::vector<std::wstring>& paths) {
  int found = -1;
  for (int i = kBuiltInListCount; i < static_cast<int>(TrackLists.size()); ++i)
    if (SameNameIgnoringCase(TrackLists[static_cast<size_t>(i)].name, name)) found = i;
  if (found < 0) {
    TrackList list;
    list.name = name;
    TrackLists.push_back(std::move(list));
    found = static_cast<int>(TrackLists.size()) - 1;
  }
  TrackList& list = TrackLists[static_cast<size_t>(found)];
  list.paths = paths;
  const bool saved = SaveList(list);
  ShowList(found);
  return saved;
}

std::vector<uint32_t> MixOrder(const std::vector<MixTrack>& tracks) {
  std::vector<uint32_t> analysed, rest;
  for (uint32_t i = 0; i < tracks.size(); ++i) (tracks[i].bpm > 0.0 ? analysed : rest).push_back(i);
  const size_t m = analysed.size();

  int lo = kNoEnergyLow, hi = kNoEnergyHigh;
  for (uint32_t i : analysed)
    if (tracks[i].energy > 0) lo = std::min(lo, tracks[i].energy), hi = std::max(hi, tracks[i].energy);
  const double low = lo > hi ? kNoEnergyMiddle : lo;
  const double high = lo > hi ? kNoEnergyMiddle : hi;
  const double mid = (low + high) * 0.5;
  const auto energyOf = [&](uint32_t i) { return tracks[i].energy < 1 ? mid : double(tracks[i].energy); };
  const auto target = [&](size_t p) {
    double f = 0.0;
    if (m > 1) {
      const double x = double(p) / double(m - 1);
      f = x < kRiseShare ? x / kRiseShare : 1.0 - (x - kRiseShare) * kFallPerShare;
    } else {
      f = double(p) / kRiseShare;
    }
    return low + f * (high - low);
  };

  std::vector<uint32_t> order;
  order.reserve(tracks.size());
  std::vector<bool> used(tracks.size(), false);
  if (m > 0) {
    uint32_t best = analysed[0];
    double bestDistance = std::abs(energyOf(best) - target(0));
    for (size_t k = 1; k < m; ++k) {
      const uint32_t c = analysed[k];
      const double distance = std::abs(energyOf(c) - target(0));
      if (distance < bestDistance - kTieDistance ||
          (std::abs(distance - bestDistance) <= kTieDistance && tracks[c].bpm < tracks[best].bpm))
        best = c, bestDistance = distance;
    }
    order.push_back(best);
    used[best] = true;
  }
  for (size_t p = 1; p < m; ++p) {
    const MixTrack& last = tracks[order.back()];
    const double goal = target(p);
    uint32_t winner = 0;
    double bestScore = kNoScore;
    for (uint32_t c : analysed) {
      if (used[c]) continue;
      const double score = std::abs(energyOf(c) - goal) * kEnergyWeight +
                           TempoCost(tracks[c].bpm, last.bpm) * kTempoWeight + KeyCost(last.key, tracks[c].key);
      if (score < bestScore) bestScore = score, winner = c;
    }
    order.push_back(winner);
    used[winner] = true;
  }
  order.insert(order.end(), rest.begin(), rest.end());
  return order;
}

std::vector<std::wstring> RunMixOrder(const std::vector<std::wstring>& paths, int* unanalysed) {
  std::vector<MixTrack> tracks;
  tracks.reserve(paths.size());
  for (const std::wstring& path : paths) tracks.push_back(MixTrackFromPath(path));
  if (unanalysed)
    *unanalysed =
        static_cast<int>(std::count_if(tracks.begin(), tracks.end(), [](const MixTrack& t) { return t.bpm <= 0.0; }));
  std::vector<std::wstring> ordered;
  ordered.reserve(paths.size());
  for (uint32_t i : MixOrder(tracks)) ordered.push_back(paths[i]);
  return ordered;
}

namespace {

void ReportTooFew() { ShowStatus(L"Mix order needs at least two tracks"); }

}  // namespace

void MixOrderList(int listIndex) {
  if (listIndex < 0 || listIndex >= static_cast<int>(TrackLists.size()) ||
      TrackLists[static_cast<size_t>(listIndex)].paths.size() < kMinTracks) {
    ReportTooFew();
    return;
  }
  int unanalysed = 0;
  std::vector<std::wstring> ordered = RunMixOrder(TrackLists[static_cast<size_t>(listIndex)].paths, &unanalysed);
  bool saved = false;
  if (listIndex == kHistoryList) {
    saved = ReplaceOrCreateList(kMixOrderListName, ordered);
  } else {
    TrackList& list = TrackLists[static_cast<size_t>(listIndex)];
    list.paths = std::move(ordered);
    saved = SaveList(list);
    ShowList(listIndex);
  }
  if (saved) ReportMixOrder(unanalysed);
}

void MixOrderView() {
  if (ViewKind == kViewList) {
    MixOrderList(ViewIndex);
    return;
  }
  const MixTrackSet view = CollectViewTracks();
  const std::vector<MixTrack>& tracks = view.tracks();
  if (tracks.size() < kMinTracks) {
    ReportTooFew();
    return;
  }
  std::vector<std::wstring> paths;
  paths.reserve(tracks.size());
  for (const MixTrack& track : tracks) paths.emplace_back(track.path);
  int unanalysed = 0;
  if (ReplaceOrCreateList(kMixOrderListName, RunMixOrder(paths, &unanalysed))) ReportMixOrder(unanalysed);
}

void ReportMixOrder(int unanalysed) {
  if (unanalysed == 1)
    ShowStatus(L"In mix order: keys, tempos and energy now flow track to track (1 unanalysed track is at the end "
               L"\u2014 ANALYZE it first)");
  else if (unanalysed > 0)
    ShowStatus(
        UiFormat(L"In mix order: keys, tempos and energy now flow track to track ({} unanalysed tracks are at "
                 L"the end \u2014 ANALYZE them first)",
                 unanalysed));
  else
    ShowStatus(L"In mix order: keys, tempos and energy now flow track to track");
}
