#pragma once
// The karaoke night's rotation: singers in turn order with their queued songs, the turn marker,
// what is on stage now, the next-singer rules and the queue file "karaoke.tsv" (rewritten whole
// after every change, never in test mode). UI thread only; no lock.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline constexpr int32_t kMaxKeyShift = 12;        // semitones a stored song may carry
inline constexpr size_t kSingerMenuSongs = 50;     // songs the singer menu's submenus list

struct KaraokeSong {
  std::wstring path{};
  std::wstring title{};
  std::wstring artist{};
  int32_t keyShift = 0;  // semitones
  bool sung = false;
};

struct KaraokeSinger {
  std::wstring name{};
  std::vector<KaraokeSong> songs{};  // queue order; the next song is the first not sung
};

struct KaraokeRotation {
  std::vector<KaraokeSinger> singers;
  int32_t onstage = -1;  // the turn marker: the singer whose turn began last; -1 none
};

// What is on stage now; never saved.
struct KaraokeStage {
  int32_t stageDeck = -1;  // 0..3, -1 nothing on stage
  std::wstring stageSongPath{};
  int32_t currentSinger = -1;
  int32_t currentSong = -1;
  bool settingUp = false;  // from SING until the load finished
  bool singing = false;    // from GO (or the deck started by hand) until the song ends
  bool ended = false;      // the song finished or was ended
  int32_t appliedVocals = -1;  // the Vocals setting last applied to the stage deck; -1 apply again
};

extern KaraokeRotation Rotation;
extern KaraokeStage Stage;

// --- The queue file ---
std::wstring KaraokeQueuePath();
// The rotation in the file's text (without the byte-order mark): fields keep no tab, CR or LF.
std::wstring FormatKaraokeQueue(const KaraokeRotation& rotation);
// The rotation a file's text (byte-order mark already dropped) describes; malformed lines skipped.
KaraokeRotation ParseKaraokeQueue(const std::wstring& text);
// Reads KaraokeQueuePath() into Rotation; a missing file gives an empty rotation. Stage untouched.
void LoadKaraokeQueue();
// Writes Rotation to KaraokeQueuePath(); false when the write failed or the file couldn't be read at
// start (the status line then names the file and the cause). Nothing (true) in test mode.
bool SaveKaraokeQueue();
// The same on any file (the tool's copies); these write in test mode too.
void LoadKaraokeQueueFile(const std::wstring& path);
bool SaveKaraokeQueueFile(const std::wstring& path);

// --- Turn order ---
// A singer is on stage now: a stage deck is set and the song has not ended.
bool SingerOnStage();
// Index of the singer's first unsung song, or -1 (also for an invalid singer).
int32_t FirstUnsungSong(int32_t singer);
// The first singer after `from` (wrapping, the marker's own singer last) with an unsung song; -1.
int32_t KaraokeNextSinger(int32_t from);
// Up to n (singer, song) pairs in turn order from the marker, each singer once; the song on stage
// now counts as sung. Works on the rotation in place.
std::vector<std::pair<int32_t, int32_t>> KaraokeUpNext(size_t n);

// --- Changes (each saves; invalid indexes do nothing) ---
// Queues a file for a singer (title and artist from the browser's list, else the file's stem),
// opens the panel and says so. A path holding a tab, CR or LF is refused with a message.
void KaraokeAddSong(int32_t singer, const std::wstring& path);
// Appends a singer named by the trimmed name (nothing when blank); queues `path` when not empty.
void KaraokeJoinRotation(const std::wstring& path, const std::wstring& name);
// Swaps the singer with the one above (up) or below; the marker and current singer follow.
void MoveSinger(int32_t singer, bool up);
// Removes a singer who is not on stage now.
void TakeOutSinger(int32_t singer);
// Removes a song unless it is on stage now ("That song is on stage now").
void RemoveKaraokeSong(int32_t singer, int32_t song);
// Clears a song's sung mark.
void SingKaraokeSongAgain(int32_t singer, int32_t song);
// Replaces the name as typed; nothing for an empty name.
void RenameSinger(int32_t singer, const std::wstring& name);
