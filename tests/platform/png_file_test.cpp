// PNG files: premultiplied pixels come back from ffmpeg's decoder as straight RGBA, an opaque
// image keeps its alpha channel, and a bad image or an unwritable folder leaves nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/png_file.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

// Byte 25 of a PNG is the IHDR colour type: 6 = RGBA, 2 = RGB.
int ColourType(const std::string& path) {
  const std::string bytes = ReadRaw(path);
  return bytes.size() > 25 ? static_cast<unsigned char>(bytes[25]) : -1;
}

std::string DecodedRgba(const std::string& path) {
  return RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f rawvideo -pix_fmt rgba -");
}

TEST(PngFile, PremultipliedPixelsComeBackStraightWithTheirAlpha) {
  TempHome home;
  const std::string path = home.path() + "/three.png";
  // Row 0: opaque red, half-transparent white (premultiplied 0x80 each), transparent.
  // Row 1 is read from a stride of 4 words: the fourth word of each row is not part of the image.
  const std::vector<uint32_t> pixels = {0xFFFF0000, 0x80808080, 0x00000000, 0xDEADBEEF,
                                        0xFF00FF00, 0x40200010, 0xFF0000FF, 0xDEADBEEF};
  std::wstring error;
  ASSERT_TRUE(WritePngFile(pixels.data(), 3, 2, 4, Utf8ToWide(path), &error)) << WideToUtf8(error);
  EXPECT_EQ(ColourType(path), 6);
  const std::string want = std::string("\xFF\x00\x00\xFF" "\xFF\xFF\xFF\x80" "\x00\x00\x00\x00", 12) +
                           std::string("\x00\xFF\x00\xFF" "\x80\x00\x40\x40" "\x00\x00\xFF\xFF", 12);
  EXPECT_EQ(DecodedRgba(path), want);
  EXPECT_TRUE(WriteTemps(std::filesystem::path(path).parent_path().native()).empty());
}

TEST(PngFile, AnOpaqueImageKeepsItsAlphaChannel) {
  TempHome home;
  const std::string path = home.path() + "/opaque.png";
  const std::vector<uint32_t> pixels(64 * 48, 0xFF102030);
  ASSERT_TRUE(WritePngFile(pixels.data(), 64, 48, 64, Utf8ToWide(path)));
  EXPECT_EQ(ColourType(path), 6);
  EXPECT_EQ(RunCommand("identify -format '%w %h %[channels]' " + ShellQuote(path)), "64 48 srgba");
}

TEST(PngFile, NothingIsWrittenForABadImageOrFolder) {
  TempHome home;
  const std::vector<uint32_t> pixels(16, 0xFFFFFFFF);
  const std::wstring path = Utf8ToWide(home.path() + "/bad.png");
  std::wstring error;
  EXPECT_FALSE(WritePngFile(pixels.data(), 0, 4, 4, path, &error));
  EXPECT_FALSE(WritePngFile(pixels.data(), 4, 0, 4, path, &error));
  EXPECT_FALSE(WritePngFile(pixels.data(), 4, 4, 3, path, &error)) << "a stride shorter than a row";
  EXPECT_FALSE(WritePngFile(nullptr, 4, 4, 4, path, &error));
  EXPECT_FALSE(WritePngFile(pixels.data(), kPngMaxSide + 1, 1, kPngMaxSide + 1, path, &error));
  EXPECT_EQ(error, L"The image has no pixels to write.");
  EXPECT_FALSE(fs::exists(home.path() + "/bad.png"));

  error.clear();
  EXPECT_FALSE(WritePngFile(pixels.data(), 4, 4, 4, Utf8ToWide(home.path() + "/none/bad.png"), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(home.path() + "/none"));
}

}  // namespace
