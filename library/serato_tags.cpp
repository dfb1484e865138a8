#include "library/serato_tags.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/text_parse.h"
#include "base/track_info.h"
#include "library/database.h"
#include "library/id3_frames.h"
#include "platform/text.h"

namespace {

constexpr int kSlots = 8;
constexpr double kMsPerSecond = 1000.0;
constexpr size_t kVersionBytes = 2;       // at the start of both objects and of the decoded markers
constexpr size_t kMinMarkersObject = 3;   // version and at least one base64 character
constexpr size_t kMinBeatGridObject = 14; // version, count and one marker
constexpr size_t kBeatGridMarkerBytes = 8;
constexpr size_t kCueMinBytes = 13, kLoopMinBytes = 20, kColorMinBytes = 4;
constexpr size_t kCueNameAt = 12;
constexpr size_t kLoopNameAt = 20;  // byte 19 is the locked flag
constexpr int kGreyTolerance = 40;  // a colour whose channels differ by no more is a grey
constexpr double kMinTempo = 20.0, kMaxTempo = 400.0;
constexpr double kMinFirstBeat = -10.0;
constexpr double kMinMarkerGapSeconds = 0.05;

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

float BigEndianFloat(const uint8_t* p) {
  const uint32_t bits = BigEndian32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// A NUL-ended UTF-8 name from `at` to the NUL or the end.
std::wstring NameAt(std::span<const uint8_t> payload, size_t at) {
  if (at >= payload.size()) return {};
  const auto begin = payload.begin() + static_cast<std::ptrdiff_t>(at);
  const auto end = std::find(begin, payload.end(), uint8_t(0));
  return Utf8ToWide(std::string_view(reinterpret_cast<const char*>(&*begin), static_cast<size_t>(end - begin)));
}

// Text of a GEOB field: single-byte up to NUL, or two-byte units (the non-zero byte of each)
// up to a NUL unit, keeping ASCII only. Moves *cursor past the terminator (or past the end).
std::string ReadGeobText(bool twoByte, std::span<const uint8_t> data, size_t* cursor) {
  std::string text;
  size_t p = *cursor;
  if (!twoByte) {
    while (p < data.size() && data[p] != 0) text += static_cast<char>(data[p++]);
    *cursor = p + 1;
    return text;
  }
  while (p + 2 <= data.size()) {
    const uint8_t first = data[p], second = data[p + 1];
    p += 2;
    if (first == 0 && second == 0) {
      *cursor = p;
      return text;
    }
    const uint8_t value = first != 0 ? first : second;
    if (value < 0x80) text += static_cast<char>(value);
  }
  *cursor = data.size() + 1;  // no terminator: past the end
  return text;
}

bool IsGrey(uint8_t r, uint8_t g, uint8_t b) {
  return std::max({r, g, b}) - std::min({r, g, b}) <= kGreyTolerance;
}

bool ValidTempo(double tempo) { return std::isfinite(tempo) && tempo > kMinTempo && tempo < kMaxTempo; }

}  // namespace

std::vector<uint8_t> Base64Decode(std::span<const uint8_t> text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3 + 3);
  uint32_t bits = 0;
  int pending = 0;
  for (uint8_t c : text) {
    if (c == '=' || c == 0) break;
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else continue;
    bits = (bits << 6 | uint32_t(v)) & 0xFFFFFF;
    pending += 6;
    if (pending >= 8) {
      pending -= 8;
      out.push_back(static_cast<uint8_t>(bits >> pending));
    }
  }
  return out;
}

bool SplitGeobFrame(std::span<const uint8_t> data, std::string* description, std::vector<uint8_t>* object) {
  if (data.empty()) return false;
  const bool twoByte = data[0] == 1 || data[0] == 2;
  size_t cursor = 1;
  while (cursor < data.size() && data[cursor] != 0) ++cursor;  // MIME type
  ++cursor;
  if (cursor > data.size()) return false;
  ReadGeobText(twoByte, data, &cursor);  // file name
  if (cursor > data.size()) return false;
  *description = ReadGeobText(twoByte, data, &cursor);
  if (cursor > data.size()) return false;
  object->assign(data.begin() + static_cast<std::ptrdiff_t>(cursor), data.end());
  return true;
}

std::map<std::string, std::vector<uint8_t>> ReadGeobFrames(const std::wstring& path) {
  std::map<std::string, std::vector<uint8_t>> objects;
  for (const Id3Frame& frame : ReadId3Frames(path)) {
    if (frame.id != "GEOB") continue;
    std::string description;
    std::vector<uint8_t> object;
    if (SplitGeobFrame(frame.data, &description, &object)) objects[description] = std::move(object);
  }
  return objects;
}

bool ApplySeratoMarkers(std::span<const uint8_t> d, ImportedTrack* track) {
  struct Loop {
    double start, end;
    std::wstring name;
  };
  std::vector<Loop> loops;
  bool taken = false;
  size_t pos = kVersionBytes;
  while (pos < d.size() && d[pos] != 0) {
    const auto nameEnd = std::find(d.begin() + static_cast<std::ptrdiff_t>(pos), d.end(), uint8_t(0));
    if (nameEnd == d.end()) break;
    const std::string name(reinterpret_cast<const char*>(&d[pos]), static_cast<size_t>(nameEnd - d.begin()) - pos);
    pos = static_cast<size_t>(nameEnd - d.begin()) + 1;
    if (d.size() - pos < 4) break;
    const uint64_t length = BigEndian32(&d[pos]);
    pos += 4;
    if (length > d.size() - pos) break;
    const std::span<const uint8_t> p = d.subspan(pos, static_cast<size_t>(length));
    pos += static_cast<size_t>(length);
    if (name == "CUE" && p.size() >= kCueMinBytes && p[1] < kSlots) {
      const double start = BigEndian32(&p[2]) / kMsPerSecond;
      if (!ImportedTimeFits(start)) continue;
      const int slot = p[1];
      track->hotCueStart[slot] = start;
      track->hotCueColor[slot] = int32_t(p[7]) << 16 | int32_t(p[8]) << 8 | int32_t(p[9]);
      track->hotCueName[slot] = NameAt(p, kCueNameAt);
      taken = true;
    } else if (name == "LOOP" && p.size() >= kLoopMinBytes) {
      const double start = BigEndian32(&p[2]) / kMsPerSecond, end = BigEndian32(&p[6]) / kMsPerSecond;
      if (end > start && ImportedTimeFits(start) && ImportedTimeFits(end)) loops.push_back({start, end, NameAt(p, kLoopNameAt)});
    } else if (name == "COLOR" && p.size() >= kColorMinBytes && !IsGrey(p[1], p[2], p[3])) {
      track->color = TrackColourIndex(uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
    }
  }
  // Saved loops go into the hot-cue slots the cues left free, in order.
  int slot = 0;
  for (Loop& loop : loops) {
    while (slot < kSlots && track->hotCueStart[slot] >= 0) ++slot;
    if (slot == kSlots) break;
    track->hotCueStart[slot] = loop.start;
    track->hotCueEnd[slot] = loop.end;
    track->hotCueName[slot] = std::move(loop.name);
    ++slot;
    taken = true;
  }
  return taken;
}

bool ApplySeratoBeatGrid(std::span<const uint8_t> g, ImportedTrack* track) {
  if (g.size() < kMinBeatGridObject) return false;
  const uint64_t count = BigEndian32(&g[2]);
  if (count == 0 || 6 + kBeatGridMarkerBytes * count > g.size()) return false;
  auto position = [&](uint64_t i) { return double(BigEndianFloat(&g[6 + kBeatGridMarkerBytes * i])); };
  auto field = [&](uint64_t i) { return &g[6 + kBeatGridMarkerBytes * i + 4]; };
  const double p0 = position(0);
  double tempo;
  if (count == 1) {
    tempo = BigEndianFloat(field(0));
  } else {
    const double p1 = position(1);
    const uint32_t beats = BigEndian32(field(0));
    if (!(p1 > p0) || beats == 0) return false;
    tempo = beats * 60.0 / (p1 - p0);
  }
  if (!ValidTempo(tempo) || !(p0 > kMinFirstBeat) || !ImportedTimeFits(std::max(p0, 0.0))) return false;
  track->bpm = tempo;
  track->firstBeat = p0;
  track->tempoMarkers.clear();
  uint64_t beat = 0;
  for (uint64_t i = 1; i < count && track->tempoMarkers.size() < kMaxTempoMarkers; ++i) {
    beat += BigEndian32(field(i - 1));
    const double at = position(i);
    if (!(at > position(i - 1) + kMinMarkerGapSeconds) || !ImportedTimeFits(at)) break;
    if (double(beat) > kMaxMarkerBeat) break;  // every later beat number is larger still
    track->tempoMarkers.push_back({double(beat), at});
    if (i == count - 1) {
      const double last = BigEndianFloat(field(i));
      if (ValidTempo(last)) AppendClosingMarker(*track, last);
    }
  }
  return true;
}

bool ReadSeratoTags(const std::wstring& path, ImportedTrack* track) {
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || LowerText(path.substr(dot)) != L".mp3") return false;
  const auto objects = ReadGeobFrames(path);
  bool taken = false;
  if (auto it = objects.find("Serato Markers2"); it != objects.end() && it->second.size() >= kMinMarkersObject) {
    const std::vector<uint8_t> decoded = Base64Decode(std::span<const uint8_t>(it->second).subspan(kVersionBytes));
    taken |= ApplySeratoMarkers(decoded, track);
  }
  if (auto it = objects.find("Serato BeatGrid"); it != objects.end()) taken |= ApplySeratoBeatGrid(it->second, track);
  return taken;
}
