#pragma once
// What the deck-load completion reads and writes of the karaoke rotation: the singers with their
// songs, and the pending request to sing on a stage deck. UI thread.
#include <cstdint>
#include <string>
#include <vector>

struct KaraokeSong {
  std::wstring path;
  int32_t keyShift = 0;  // semitones
};

struct KaraokeSinger {
  std::wstring name;
  std::vector<KaraokeSong> songs;
};

struct KaraokeSingRequest {
  bool pending = false;
  int32_t stageDeck = -1;     // -1 = none
  int32_t singer = -1;        // index into KaraokeSingers, -1 = none
  int32_t song = -1;          // index into that singer's songs, -1 = none
  int32_t songEndMarker = -1;
  bool singing = false;       // the song was started with GO
  bool paused = false;
};

extern std::vector<KaraokeSinger> KaraokeSingers;
extern KaraokeSingRequest KaraokeSing;

// The key shift of the current singer's current song, or false when either index is not valid.
bool CurrentKaraokeKeyShift(int32_t* keyShift);
