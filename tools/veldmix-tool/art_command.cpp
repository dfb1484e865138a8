#include <cstdio>
#include <string>
#include <vector>

#include "library/cover_art.h"
#include "platform/png_file.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

// art FILE OUT.png: what the cover loader makes of the file, as a PNG; nothing written without a
// cover. Exit 1 (with the reason) for a missing or non-media file.
int RunArt(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: veldmix-tool art FILE OUT.png\n");
    return 2;
  }
  std::wstring reason;
  CoverRead outcome = CoverRead::Failed;
  const ArtResult art = LoadArt(PathFromBytes(args[0]), &outcome, &reason);
  if (outcome == CoverRead::Failed) {
    std::fprintf(stderr, "veldmix-tool art: \"%s\": %s\n", args[0].c_str(), WideToUtf8(reason).c_str());
    return 1;
  }
  if (outcome != CoverRead::Picture) {
    std::printf("no cover: %s\n", WideToUtf8(reason).c_str());
    return 0;
  }
  std::wstring error;
  if (!WritePngFile(art.pixels.data(), art.width, art.height, art.width, PathFromBytes(args[1]), &error)) {
    std::fprintf(stderr, "veldmix-tool art: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  std::printf("cover: %d x %d\n", art.width, art.height);
  return 0;
}

}  // namespace

const ToolCommand kArtCommands[] = {
    {"art", "FILE OUT.png", "the embedded cover as the cover-art loader makes it, as a PNG", RunArt},
};
const int kArtCommandCount = static_cast<int>(sizeof kArtCommands / sizeof kArtCommands[0]);
