// karaoke queue|up-next: the karaoke queue file read and written by the program's own code, and
// the turn order it gives.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "karaoke/karaoke_rotation.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "tools/veldmix-tool/karaoke_commands.h"

namespace {

constexpr int64_t kDefaultUpNext = 5;
constexpr int64_t kMaxUpNext = 1000000;

int Fail(const std::string& text) {
  std::fprintf(stderr, "veldmix-tool karaoke: %s\n", text.c_str());
  return 1;
}

}  // namespace

// karaoke queue IN.tsv OUT.tsv: loads IN as the program does at start and saves it to OUT.
int RunKaraokeQueue(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool karaoke queue IN.tsv OUT.tsv\n");
    return 2;
  }
  const std::wstring in = PathFromBytes(args[0]), out = PathFromBytes(args[1]);
  if (!FileExists(in)) return Fail("no such file: " + args[0]);
  LoadKaraokeQueueFile(in);
  if (!SaveKaraokeQueueFile(out)) return Fail("couldn't write " + args[1]);
  size_t songs = 0;
  for (const KaraokeSinger& singer : Rotation.singers) songs += singer.songs.size();
  std::printf("singers %zu songs %zu onstage %d\n", Rotation.singers.size(), songs, Rotation.onstage);
  return 0;
}

// karaoke up-next FILE.tsv [N]: one line per waiting singer in turn order: singer index, song
// index, name, title.
int RunKaraokeUpNext(const std::vector<std::string>& args) {
  int64_t n = kDefaultUpNext;
  if (args.empty() || args.size() > 2 || (args.size() == 2 && !ParseInteger(args[1], &n, 0, kMaxUpNext))) {
    std::fprintf(stderr, "usage: veldmix-tool karaoke up-next FILE.tsv [N]   (N 0..%lld, default 5)\n",
                 static_cast<long long>(kMaxUpNext));
    return 2;
  }
  const std::wstring in = PathFromBytes(args[0]);
  if (!FileExists(in)) return Fail("no such file: " + args[0]);
  LoadKaraokeQueueFile(in);
  for (const auto& [singer, song] : KaraokeUpNext(static_cast<size_t>(n))) {
    const KaraokeSinger& who = Rotation.singers[static_cast<size_t>(singer)];
    std::printf("%d\t%d\t%s\t%s\n", singer, song, WideToUtf8(who.name).c_str(),
                WideToUtf8(who.songs[static_cast<size_t>(song)].title).c_str());
  }
  return 0;
}
