#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "karaoke/cdg.h"
#include "platform/draw_surface.h"
#include "platform/files.h"
#include "platform/text.h"
#include "selftest/test_cdg.h"
#include "tools/veldmix-tool/commands.h"

namespace {

// cdg FILE SECONDS OUT.png: the CD+G picture at the playback position, 300 x 216 with its border.
int RunCdg(const std::vector<std::string>& args) {
  double seconds = 0.0;
  bool secondsOk = false;
  if (args.size() == 3) {
    secondsOk = ParseNumber(args[1], &seconds, 0.0);
  }
  if (!secondsOk) {
    std::fprintf(stderr, "usage: veldmix-tool cdg FILE SECONDS OUT.png\n");
    return 2;
  }
  const std::wstring path = PathFromBytes(args[0]);
  const long long size = FileSize(path);
  if (size > static_cast<long long>(kMaxCdgFileBytes)) {
    std::fprintf(stderr, "veldmix-tool cdg: \"%s\" is larger than %zu MiB — not a CD+G file\n", args[0].c_str(),
                 kMaxCdgFileBytes >> 20);
    return 1;
  }
  std::string bytes;
  if (ReadBytes(path, &bytes, kMaxCdgFileBytes) != ReadStatus::Ok) {
    std::fprintf(stderr, "veldmix-tool cdg: couldn't read \"%s\"\n", args[0].c_str());
    return 1;
  }
  if (bytes.size() < kCdgPacketBytes) {
    std::fprintf(stderr, "veldmix-tool cdg: \"%s\" holds no whole CD+G packet\n", args[0].c_str());
    return 1;
  }
  auto data = std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end());
  auto decoder = std::make_unique<CdgDecoder>();
  CdgLoad(*decoder, data);
  CdgPlayTo(*decoder, seconds);
  const std::vector<uint32_t>& picture = CdgRender(*decoder);

  const std::unique_ptr<DrawSurface> surface = DrawSurface::Create(kCdgWidth, kCdgHeight, 1.0f);
  if (!surface) {
    std::fprintf(stderr, "veldmix-tool cdg: couldn't make a %dx%d image\n", kCdgWidth, kCdgHeight);
    return 1;
  }
  // Every pixel is opaque, so the straight colours are also the premultiplied ones.
  const PixelView view = surface->Pixels();
  for (int y = 0; y < kCdgHeight; ++y)
    for (int x = 0; x < kCdgWidth; ++x)
      view.pixels[static_cast<size_t>(y) * view.stride + x] = picture[static_cast<size_t>(y) * kCdgWidth + x];
  surface->MarkDirty(0, 0, kCdgWidth, kCdgHeight);
  std::wstring error;
  if (!surface->WritePng(PathFromBytes(args[2]), &error)) {
    std::fprintf(stderr, "veldmix-tool cdg: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  std::printf("packets: %llu\n", static_cast<unsigned long long>(decoder->played));
  return 0;
}

// test-cdg OUT.cdg: the karaoke self-test's CD+G graphics as a file.
int RunTestCdg(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool test-cdg OUT.cdg\n");
    return 2;
  }
  const std::shared_ptr<const std::vector<uint8_t>> data = MakeTestCdg();
  std::wstring error;
  if (!WriteBytesAtomic(PathFromBytes(args[0]),
                        std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), &error,
                        SpecialTarget::WriteInPlace)) {
    std::fprintf(stderr, "veldmix-tool test-cdg: %s\n", WideToUtf8(error).c_str());
    return 1;
  }
  std::printf("packets: %zu\n", data->size() / kCdgPacketBytes);
  return 0;
}

}  // namespace

const ToolCommand kCdgCommands[] = {
    {"test-cdg", "OUT.cdg", "the karaoke self-test's CD+G graphics, as a file", RunTestCdg},
    {"cdg", "FILE SECONDS OUT.png", "the CD+G picture at a playback position, as a PNG", RunCdg},
};
const int kCdgCommandCount = static_cast<int>(sizeof kCdgCommands / sizeof kCdgCommands[0]);
