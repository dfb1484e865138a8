// Speed of a self-test screenshot of the main window at 1500 x 980 (the test display's window) and
// 1920 x 1080, against ImageMagick's `convert` writing the same RGBA pixels as a PNG. Target: the
// capture is no slower than `convert`.
//   BM_CaptureWindowPng: CaptureWindowPng whole (the frame drawn again off-screen, then written).
//   BM_ConvertRgbaToPng: `convert -size WxH -depth 8 rgba:FILE OUT.png` on that capture's pixels,
//   the program started each time, as a test script would.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "base/test_mode.h"
#include "platform/draw_surface.h"
#include "platform/text.h"
#include "selftest/window_capture.h"
#include "ui/frame_driver.h"

namespace {

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

std::string SizeName(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

std::string CapturePath(int width, int height) {
  return TempPath("veldmix-bench-capture-" + SizeName(width, height) + ".png");
}

void BM_CaptureWindowPng(benchmark::State& state) {
  TestMode = true;
  LoadFontAliases();
  const FrameWindow window{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), false, 1.0f};
  const std::wstring path = Utf8ToWide(CapturePath(window.pixelWidth, window.pixelHeight));
  DriveFrame(window);  // fonts, layouts and the device made once, as in a running program
  for (auto _ : state) {
    std::wstring error;
    if (!CaptureWindowPng(window, path, &error)) state.SkipWithError(WideToUtf8(error).c_str());
  }
}
BENCHMARK(BM_CaptureWindowPng)->Args({1500, 980})->Args({1920, 1080})->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_ConvertRgbaToPng(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const std::string png = CapturePath(width, height);
  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  if (!ReadPngPixels(Utf8ToWide(png), &pixels, &w, &h) || w != width || h != height) {
    state.SkipWithError("run BM_CaptureWindowPng first: its capture is the input");
    return;
  }
  // Opaque frames: premultiplied ARGB words are straight colours; written as R, G, B, A bytes.
  const std::string raw = TempPath("veldmix-bench-capture-" + SizeName(width, height) + ".rgba");
  std::vector<unsigned char> bytes;
  bytes.reserve(pixels.size() * 4);
  for (uint32_t p : pixels)
    for (int shift : {16, 8, 0, 24}) bytes.push_back(static_cast<unsigned char>(p >> shift));
  if (FILE* f = std::fopen(raw.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  const std::string command = "convert -size " + SizeName(width, height) + " -depth 8 rgba:" + raw + " " +
                              TempPath("veldmix-bench-convert.png");
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("convert failed (ImageMagick missing?)");
  }
}
BENCHMARK(BM_ConvertRgbaToPng)->Args({1500, 980})->Args({1920, 1080})->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
