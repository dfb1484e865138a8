#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library/cover_art.h"
#include "platform/text.h"
#include "screens/cover_art.h"
#include "support/art_loader.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

void Make(const std::string& command) {
  int status = -1;
  const std::string out = RunCommand(command + " 2>&1", &status);
  ASSERT_EQ(status, 0) << command << "\n" << out;
}

}  // namespace

// The first frame gets no picture, a later one the cover; a new device remakes the bitmap from the
// kept pixels, with the file already gone.
TEST(CoverArt, ArrivesOnALaterFrameAndSurvivesANewDeviceWithoutTheFile) {
  TempHome home;
  const std::string dir = home.path();
  const std::string cover = dir + "/cover.png", track = dir + "/covered.flac";
  Make("convert -size 400x300 xc:'rgb(200,40,60)' " + ShellQuote(cover));
  Make("ffmpeg -v error -y -f lavfi -i sine=duration=1 -i " + ShellQuote(cover) +
       " -map 0 -map 1 -c:a flac -c:v copy -disposition:v attached_pic " + ShellQuote(track));
  const std::wstring path = Utf8ToWide(track);

  ArtLoaderFixture fixture;
  ASSERT_TRUE(CreateDevice(64, 64, 1));
  EXPECT_EQ(RequestArt(path), nullptr);
  fixture.StartLoader();
  ASSERT_EQ(fixture.TakeLoaded(1).size(), 1u);
  const std::shared_ptr<Bitmap> first = RequestArt(path);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->image->width(), 128);
  EXPECT_EQ(first->image->height(), 96);
  EXPECT_EQ(first->generation, DeviceGeneration());
  EXPECT_EQ(RequestArt(path), first);  // made once per device
  const ArtEntry& entry = ArtCache[path];
  ASSERT_EQ(entry.pixels.size(), 128u * 96u);
  const uint32_t centre = entry.pixels[128 * 48 + 64];  // the cover's colour (scaling may round by one)
  EXPECT_EQ(centre >> 24, 255u);
  EXPECT_NEAR(static_cast<int>((centre >> 16) & 0xFF), 200, 2);
  EXPECT_NEAR(static_cast<int>((centre >> 8) & 0xFF), 40, 2);
  EXPECT_NEAR(static_cast<int>(centre & 0xFF), 60, 2);

  std::filesystem::remove(track);
  ReleaseDevice();
  ASSERT_TRUE(CreateDevice(64, 64, 1));
  const std::shared_ptr<Bitmap> remade = RequestArt(path);
  ASSERT_NE(remade, nullptr);
  EXPECT_NE(remade, first);
  EXPECT_EQ(remade->generation, DeviceGeneration());
  EXPECT_NE(remade->generation, first->generation);
  {
    std::lock_guard<std::mutex> lock(ArtMutex);
    EXPECT_TRUE(ArtQueue.empty());
  }
  EXPECT_TRUE(fixture.TakeLoaded(1, 0.3).empty());  // nothing was read again
  ReleaseDevice();
}
