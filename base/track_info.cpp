#include "base/track_info.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "base/text_parse.h"
#include "platform/paths.h"

TrackMap TrackLibrary;
bool LibraryDirty = false;

namespace {
constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;
constexpr uint32_t kFirstAstral = 0x10000;  // code points from here on need a surrogate pair

inline uint64_t HashUnit(uint64_t hash, uint32_t unit) {
  hash = (hash ^ (unit & 0xFFu)) * kFnvPrime;
  return (hash ^ ((unit >> 8) & 0xFFu)) * kFnvPrime;
}

// One character as its UTF-16 units.
inline uint64_t HashChar(uint64_t hash, wchar_t c) {
  uint32_t cp = static_cast<uint32_t>(c);
  if (cp < kFirstAstral || cp > 0x10FFFF) return HashUnit(hash, cp);
  cp -= kFirstAstral;
  return HashUnit(HashUnit(hash, 0xD800u + (cp >> 10)), 0xDC00u + (cp & 0x3FFu));
}

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  return true;
}
}  // namespace

uint64_t Fnv1aPathHash(std::wstring_view key) {
  uint64_t hash = kFnvOffsetBasis;
  for (wchar_t c : key) hash = HashChar(hash, c);
  return hash;
}

void Fnv1aPathHashes(std::span<const std::wstring_view> keys, uint64_t* hashes) {
  // Each hash is one chain of dependent multiplies; four chains side by side keep the multiplier
  // busy. The lanes are separate variables so that they stay in registers.
  size_t k = 0;
  for (; k + 4 <= keys.size(); k += 4) {
    const std::wstring_view a = keys[k], b = keys[k + 1], c = keys[k + 2], d = keys[k + 3];
    uint64_t ha = kFnvOffsetBasis, hb = kFnvOffsetBasis, hc = kFnvOffsetBasis, hd = kFnvOffsetBasis;
    const size_t common = std::min({a.size(), b.size(), c.size(), d.size()});
    for (size_t i = 0; i < common; ++i)
      ha = HashChar(ha, a[i]), hb = HashChar(hb, b[i]), hc = HashChar(hc, c[i]), hd = HashChar(hd, d[i]);
    for (size_t i = common; i < a.size(); ++i) ha = HashChar(ha, a[i]);
    for (size_t i = common; i < b.size(); ++i) hb = HashChar(hb, b[i]);
    for (size_t i = common; i < c.size(); ++i) hc = HashChar(hc, c[i]);
    for (size_t i = common; i < d.size(); ++i) hd = HashChar(hd, d[i]);
    hashes[k] = ha, hashes[k + 1] = hb, hashes[k + 2] = hc, hashes[k + 3] = hd;
  }
  for (; k < keys.size(); ++k) hashes[k] = Fnv1aPathHash(keys[k]);
}

const TrackInfo* FindTrackInfo(const std::wstring& path) {
  auto it = TrackLibrary.find(PathKey(path));
  return it == TrackLibrary.end() ? nullptr : &it->second;
}

void FindHashedTrackInfos(std::span<const HashedPathKey> keys, const TrackInfo** records) {
  // Each bucket's first node first, in a loop small enough that many of these chains run at once;
  // then each node, its hash (past the node's value, where the library caches it) and its key are
  // fetched ahead of the lookup. The modulo is the library's choice; a wrong guess only costs hints.
  constexpr size_t kLookAhead = 24;
  const size_t count = keys.size(), buckets = TrackLibrary.bucket_count();
  std::vector<const TrackMap::value_type*> firsts(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t bucket = keys[i].hash % buckets;
    const auto first = TrackLibrary.begin(bucket);
    firsts[i] = first == TrackLibrary.end(bucket) ? nullptr : &*first;
  }
  for (size_t i = 0; i < count; ++i) {
    if (i + kLookAhead < count)
      if (const TrackMap::value_type* node = firsts[i + kLookAhead]) {
        __builtin_prefetch(node);
        __builtin_prefetch(reinterpret_cast<const char*>(node) + sizeof(*node));
      }
    if (i + kLookAhead / 2 < count)
      if (const TrackMap::value_type* node = firsts[i + kLookAhead / 2]) __builtin_prefetch(node->first.data());
    const auto record = TrackLibrary.find(keys[i]);
    records[i] = record == TrackLibrary.end() ? nullptr : &record->second;
  }
}

TrackInfo& TrackInfoFor(const std::wstring& path) {
  LibraryDirty = true;
  return TrackLibrary[PathKey(path)];
}

void RelocateTrack(const std::wstring& oldPath, const std::wstring& newPath) {
  const std::wstring oldKey = PathKey(oldPath);
  auto it = TrackLibrary.find(oldKey);
  if (it == TrackLibrary.end()) return;
  const std::wstring newKey = PathKey(newPath);
  if (newKey == oldKey) return;
  TrackInfo moved = std::move(it->second);
  TrackLibrary.erase(it);
  TrackLibrary.try_emplace(newKey, std::move(moved));  // an existing record at newKey wins
  LibraryDirty = true;
}

std::vector<std::wstring> SplitTags(const std::wstring& text) {
  std::vector<std::wstring> tags;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(L',', pos);
    size_t end = comma == std::wstring::npos ? text.size() : comma;
    std::wstring piece = TrimSpace(std::wstring_view(text).substr(pos, end - pos));
    if (!piece.empty()) {
      bool seen = std::any_of(tags.begin(), tags.end(),
                              [&](const std::wstring& t) { return SameIgnoringCase(t, piece); });
      if (!seen) tags.push_back(std::move(piece));
    }
    if (comma == std::wstring::npos) break;
    pos = comma + 1;
  }
  return tags;
}

std::wstring NormalizeTags(const std::wstring& text) {
  std::wstring joined;
  for (const std::wstring& tag : SplitTags(text)) {
    if (!joined.empty()) joined += L", ";
    joined += tag;
  }
  return joined;
}

int TrackColourIndex(uint32_t rgb) {
  auto scaled = [](uint32_t c, double out[3]) {
    double r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    double top = std::max({r, g, b, 1.0});
    out[0] = r / top;
    out[1] = g / top;
    out[2] = b / top;
  };
  double want[3];
  scaled(rgb, want);
  int best = 1;
  double bestDistance = 0.0;
  for (int i = 1; i < kTrackColourCount; ++i) {
    double have[3];
    scaled(kTrackColours[i].rgb, have);
    double d = 0.0;
    for (int k = 0; k < 3; ++k) d += (want[k] - have[k]) * (want[k] - have[k]);
    if (i == 1 || d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

void CopyGridToTrack(const TrackInfo& record, Track& track) {
  track.bpm = record.bpm;
  track.firstBeat = record.firstBeat;
  track.tempoMarkers = record.tempoMarkers;
}

void CopyGridToRecord(const Track& track, TrackInfo& record) {
  record.bpm = track.bpm;
  record.firstBeat = track.firstBeat;
  record.tempoMarkers = track.tempoMarkers;
  record.key = track.key;
}

void RecordAnalysis(const Track& track, TrackInfo& record) {
  if (record.gridImported && record.bpm > 0.0) {
    if (record.key < 0) record.key = track.key;
  } else {
    CopyGridToRecord(track, record);
  }
  record.loudness = track.loudness;
  record.analyzed = true;
}

std::wstring BpmText(double bpm, int decimals) {
  if (!(bpm > 0.0) || !std::isfinite(bpm)) return {};
  return fmt::format(L"{:.{}f}", bpm, decimals);
}
