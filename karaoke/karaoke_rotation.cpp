#include "karaoke/karaoke_rotation.h"

#include <algorithm>
#include <cwctype>
#include <limits>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "base/text_file.h"
#include "engine/audio_file.h"
#include "karaoke/karaoke_panel.h"
#include "library/track_view.h"

KaraokeRotation Rotation;
KaraokeStage Stage;

namespace {

constexpr wchar_t kQueueFileName[] = L"karaoke.tsv";
constexpr size_t kSongFields = 6;

bool ValidSinger(int32_t singer) { return singer >= 0 && static_cast<size_t>(singer) < Rotation.singers.size(); }

bool ValidSong(int32_t singer, int32_t song) {
  return ValidSinger(singer) && song >= 0 &&
         static_cast<size_t>(song) < Rotation.singers[static_cast<size_t>(singer)].songs.size();
}

bool BreaksLine(wchar_t c) { return c == L'\t' || c == L'\n' || c == L'\r'; }

// A field as the file holds it: a tab, LF or CR would break the line or the columns.
std::wstring Field(const std::wstring& text) {
  std::wstring out = text;
  std::replace_if(out.begin(), out.end(), BreaksLine, L' ');
  return out;
}

// Base-10 as the C library reads it: leading white space, a sign, digits up to the first other
// character, none giving 0. Saturates instead of overflowing.
int64_t LeadingInteger(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  constexpr int64_t kCap = std::numeric_limits<int32_t>::max() + int64_t(1);
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) value = std::min(kCap, value * 10 + (text[i] - L'0'));
  return negative ? -value : value;
}

// The song on stage now counts as sung when looking for who waits.
bool WaitingSong(size_t singer, size_t song) {
  const KaraokeSong& s = Rotation.singers[singer].songs[song];
  if (s.sung) return false;
  return !(SingerOnStage() && Stage.currentSinger == static_cast<int32_t>(singer) &&
           Stage.currentSong == static_cast<int32_t>(song));
}

int32_t FirstWaitingSong(size_t singer) {
  const std::vector<KaraokeSong>& songs = Rotation.singers[singer].songs;
  for (size_t i = 0; i < songs.size(); ++i)
    if (WaitingSong(singer, i)) return static_cast<int32_t>(i);
  return -1;
}

// The next-singer walk with a choice of what counts as waiting.
template <typename HasSong>
int32_t NextFrom(int32_t from, HasSong hasSong) {
  const int64_t n = static_cast<int64_t>(Rotation.singers.size());
  if (n == 0) return -1;
  const int64_t start = from < 0 ? -1 : from;
  for (int64_t k = 1; k <= n; ++k) {
    const size_t i = static_cast<size_t>(((start + k) % n + n) % n);
    if (hasSong(i)) return static_cast<int32_t>(i);
  }
  return -1;
}

bool Save() { return SaveKaraokeQueue(); }

}  // namespace

std::wstring KaraokeQueuePath() { return AppDataDir() + L"/" + kQueueFileName; }

std::wstring FormatKaraokeQueue(const KaraokeRotation& rotation) {
  size_t size = 32;
  for (const KaraokeSinger& singer : rotation.singers) {
    size += singer.name.size() + 8;
    for (const KaraokeSong& song : singer.songs) size += song.path.size() + song.title.size() + song.artist.size() + 16;
  }
  std::wstring text;
  text.reserve(size);
  // Appended piece by piece: the file is written after every change on the UI thread.
  const auto field = [&text](const std::wstring& value) {
    const size_t at = text.size();
    text += value;
    std::replace_if(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(), BreaksLine, L' ');
  };
  text += L"onstage\t";
  text += std::to_wstring(rotation.onstage);
  text += L'\n';
  for (const KaraokeSinger& singer : rotation.singers) {
    text += L"singer\t";
    field(singer.name);
    text += L'\n';
    for (const KaraokeSong& song : singer.songs) {
      text += song.sung ? L"song\t1\t" : L"song\t0\t";
      text += std::to_wstring(song.keyShift);
      text += L'\t';
      field(song.path);
      text += L'\t';
      field(song.title);
      text += L'\t';
      field(song.artist);
      text += L'\n';
    }
  }
  return text;
}

KaraokeRotation ParseKaraokeQueue(const std::wstring& text) {
  KaraokeRotation rotation;
  int64_t onstage = -1;
  for (std::wstring line : SplitString(text, L'\n')) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const std::vector<std::wstring> fields = SplitString(line, L'\t');
    if (fields.size() < 2) continue;
    if (fields[0] == L"onstage") {
      onstage = LeadingInteger(fields[1]);
    } else if (fields[0] == L"singer") {
      rotation.singers.push_back(KaraokeSinger{fields[1], {}});
    } else if (fields[0] == L"song" && fields.size() >= kSongFields && !rotation.singers.empty()) {
      KaraokeSong song;
      song.sung = fields[1] == L"1";
      song.keyShift = static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger(fields[2]), -kMaxKeyShift, kMaxKeyShift));
      song.path = fields[3];
      song.title = fields[4];
      song.artist = fields[5];
      rotation.singers.back().songs.push_back(std::move(song));
    }
  }
  const bool named = onstage >= 0 && onstage < static_cast<int64_t>(rotation.singers.size());
  rotation.onstage = named ? static_cast<int32_t>(onstage) : -1;
  return rotation;
}

// A queue file that exists but can't be read is left as it is for the session: an empty
// rotation written over it would lose the night's singers.
namespace {
std::wstring UnreadableQueue;  // the path of such a file, empty when the last read was whole
}  // namespace

void LoadKaraokeQueueFile(const std::wstring& path) {
  bool unreadable = false;
  Rotation = ParseKaraokeQueue(ReadPathsFile(path, &unreadable));
  UnreadableQueue = unreadable ? path : std::wstring();
  if (unreadable) WriteLog(L"Karaoke: couldn't read {}; it will not be overwritten this session", path);
}

bool SaveKaraokeQueueFile(const std::wstring& path) {
  std::wstring error = L"it couldn't be read at start, so it is left as it is";
  if (!UnreadableQueue.empty() && path == UnreadableQueue) {
    NoteFailedWrite(path, error);
  } else {
    if (WriteUtf8File(path, FormatKaraokeQueue(Rotation), &error)) return true;
    WriteLog(L"Karaoke: couldn't write {}", path);
  }
  ShowStatus(WriteFailedText(path, error));
  return false;
}

void LoadKaraokeQueue() { LoadKaraokeQueueFile(KaraokeQueuePath()); }

bool SaveKaraokeQueue() { return TestMode || SaveKaraokeQueueFile(KaraokeQueuePath()); }

bool SingerOnStage() { return Stage.stageDeck >= 0 && !Stage.ended; }

int32_t FirstUnsungSong(int32_t singer) {
  if (!ValidSinger(singer)) return -1;
  const std::vector<KaraokeSong>& songs = Rotation.singers[static_cast<size_t>(singer)].songs;
  for (size_t i = 0; i < songs.size(); ++i)
    if (!songs[i].sung) return static_cast<int32_t>(i);
  return -1;
}

int32_t KaraokeNextSinger(int32_t from) {
  return NextFrom(from, [](size_t i) { return FirstUnsungSong(static_cast<int32_t>(i)) >= 0; });
}

std::vector<std::pair<int32_t, int32_t>> KaraokeUpNext(size_t n) {
  std::vector<std::pair<int32_t, int32_t>> next;
  const size_t limit = std::min(n, Rotation.singers.size());
  int32_t from = Rotation.onstage;
  while (next.size() < limit) {
    const int32_t singer = NextFrom(from, [](size_t i) { return FirstWaitingSong(i) >= 0; });
    if (singer < 0) break;
    if (std::any_of(next.begin(), next.end(), [&](const auto& pair) { return pair.first == singer; })) break;
    next.emplace_back(singer, FirstWaitingSong(static_cast<size_t>(singer)));
    from = singer;
  }
  return next;
}

void KaraokeAddSong(int32_t singer, const std::wstring& path) {
  if (!ValidSinger(singer)) return;
  if (std::any_of(path.begin(), path.end(), BreaksLine)) {
    // The queue file could not hold it: reloaded, the line would name another file.
    ShowStatus(UiFormat(L"Can't queue “{}” — its name holds a tab or a line break", Field(FileStem(path))));
    return;
  }
  KaraokeSong song;
  song.path = path;
  for (const LibraryFile& file : ViewItems) {
    if (file.path != path) continue;
    song.title = file.title;
    song.artist = file.artist;
    break;
  }
  if (song.title.empty()) song.title = FileStem(path);
  KaraokeSinger& s = Rotation.singers[static_cast<size_t>(singer)];
  const std::wstring title = song.title;
  s.songs.push_back(std::move(song));
  KaraokePanelShown = true;
  if (Save()) ShowStatus(UiFormat(L"“{}” added for {}", title, s.name));
}

void KaraokeJoinRotation(const std::wstring& path, const std::wstring& name) {
  const size_t first = name.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return;
  const size_t last = name.find_last_not_of(L" \t");
  const std::wstring trimmed = name.substr(first, last - first + 1);
  Rotation.singers.push_back(KaraokeSinger{trimmed, {}});
  KaraokePanelShown = true;
  if (!path.empty())
    KaraokeAddSong(static_cast<int32_t>(Rotation.singers.size() - 1), path);
  else if (Save())
    ShowStatus(UiFormat(L"{} joined the rotation — drag songs onto their name", trimmed));
}

void MoveSinger(int32_t singer, bool up) {
  const int32_t other = up ? singer - 1 : singer + 1;
  if (!ValidSinger(singer) || !ValidSinger(other)) return;
  std::swap(Rotation.singers[static_cast<size_t>(singer)], Rotation.singers[static_cast<size_t>(other)]);
  auto remap = [&](int32_t& index) {
    if (index == singer) index = other;
    else if (index == other) index = singer;
  };
  remap(Rotation.onstage);
  remap(Stage.currentSinger);
  Save();
}

void TakeOutSinger(int32_t singer) {
  if (!ValidSinger(singer)) return;
  if (SingerOnStage() && Stage.currentSinger == singer) return;
  Rotation.singers.erase(Rotation.singers.begin() + singer);
  if (Rotation.onstage == singer) Rotation.onstage = singer - 1;
  else if (Rotation.onstage > singer) --Rotation.onstage;
  if (Stage.currentSinger == singer) Stage.currentSinger = -1;
  else if (Stage.currentSinger > singer) --Stage.currentSinger;
  Save();
}

void RemoveKaraokeSong(int32_t singer, int32_t song) {
  if (!ValidSong(singer, song)) return;
  const bool current = Stage.currentSinger == singer && Stage.currentSong == song;
  if (current && SingerOnStage()) {
    ShowStatus(L"That song is on stage now");
    return;
  }
  std::vector<KaraokeSong>& songs = Rotation.singers[static_cast<size_t>(singer)].songs;
  songs.erase(songs.begin() + song);
  if (Stage.currentSinger == singer) {
    // The ended song itself may go; KEY must then change no other song.
    if (current) Stage.currentSong = -1;
    else if (Stage.currentSong > song) --Stage.currentSong;
  }
  Save();
}

void SingKaraokeSongAgain(int32_t singer, int32_t song) {
  if (!ValidSong(singer, song)) return;
  Rotation.singers[static_cast<size_t>(singer)].songs[static_cast<size_t>(song)].sung = false;
  Save();
}

void RenameSinger(int32_t singer, const std::wstring& name) {
  if (!ValidSinger(singer) || name.empty()) return;
  Rotation.singers[static_cast<size_t>(singer)].name = name;
  Save();
}
