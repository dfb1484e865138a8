#pragma once
// The record the karaoke screen draws from: everything the second screen shows (who sings, what,
// where in the song, the words, who is next), built by the karaoke tick and copied into the
// screen's own state. UI thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "karaoke/lyrics.h"

inline constexpr double kDefaultBeatSeconds = 0.5;  // 120 BPM
inline constexpr uint32_t kDefaultAccent1 = 0x1FA8FF;
inline constexpr uint32_t kDefaultAccent2 = 0xFF5E2B;

struct KaraokeScreenInfo {
  int32_t mode = 0;  // 0 nothing to show, 1 get ready, 2 playing
  std::shared_ptr<const Lyrics> lyrics;  // never null once built: SharedEmptyLyrics() when none
  std::wstring path;
  double position = 0.0;  // seconds
  bool playing = false;
  double duration = 0.0;  // seconds
  double beatLength = kDefaultBeatSeconds;  // seconds per beat
  double firstBeat = 0.0;  // seconds
  std::wstring title;
  std::wstring artist;
  std::wstring singer;
  std::wstring nextSinger;
  std::wstring nextSong;
  std::vector<std::wstring> laterSingers;
  float beatPulse = 0.0f;  // 0..1
  float bassLevel = 0.0f;  // 0..1
  uint32_t accent1 = kDefaultAccent1;  // 0xRRGGBB
  uint32_t accent2 = kDefaultAccent2;
};

// The one empty Lyrics every record without words shares, made on first use.
std::shared_ptr<const Lyrics> SharedEmptyLyrics();
// A record with the defaults and the shared empty Lyrics.
KaraokeScreenInfo DefaultKaraokeScreenInfo();
