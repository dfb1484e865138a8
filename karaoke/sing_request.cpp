#include "karaoke/sing_request.h"

std::vector<KaraokeSinger> KaraokeSingers;
KaraokeSingRequest KaraokeSing;

bool CurrentKaraokeKeyShift(int32_t* keyShift) {
  const int32_t singer = KaraokeSing.singer, song = KaraokeSing.song;
  if (singer < 0 || static_cast<size_t>(singer) >= KaraokeSingers.size()) return false;
  const std::vector<KaraokeSong>& songs = KaraokeSingers[static_cast<size_t>(singer)].songs;
  if (song < 0 || static_cast<size_t>(song) >= songs.size()) return false;
  *keyShift = songs[static_cast<size_t>(song)].keyShift;
  return true;
}
