#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "broadcast/camera.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/temp_home.h"

namespace {

CameraFormat Format(int w, int h, double fps, CameraSubtype subtype) {
  CameraFormat f;
  f.width = w;
  f.height = h;
  f.fps = fps;
  f.subtype = subtype;
  return f;
}

TEST(CameraFormatChoice, PrefersUncompressed720pAndSkipsWhatDoesNotQualify) {
  std::wstring label;
  // YUY2 720p: 240 + 20 = 260; MJPEG 1080p: -360 - 320 + 240 = -440.
  EXPECT_EQ(ChooseCameraFormat({Format(1920, 1080, 30, CameraSubtype::Mjpeg), Format(1280, 720, 30, CameraSubtype::Yuy2)},
                               &label),
            1);
  EXPECT_EQ(label, L"1280x720 YUY2 30 fps");
  EXPECT_EQ(ChooseCameraFormat({Format(3840, 2160, 30, CameraSubtype::Nv12)}, &label), -1) << "wider than 1920";
  EXPECT_EQ(label, L"");
  EXPECT_EQ(ChooseCameraFormat({Format(0, 720, 30, CameraSubtype::Nv12), Format(640, 480, 0, CameraSubtype::Other)},
                               &label),
            1);
  EXPECT_EQ(label, L"640x480 other 0 fps");
  // Equal scores keep the earlier format.
  EXPECT_EQ(ChooseCameraFormat({Format(1280, 720, 30, CameraSubtype::Nv12), Format(1280, 720, 60, CameraSubtype::Yuy2)},
                               &label),
            0);
  EXPECT_EQ(label, L"1280x720 NV12 30 fps");
}

TEST(CameraList, InfraredCamerasComeLastInTheirOrder) {
  EXPECT_TRUE(IsInfraredCamera(L"Integrated ir Camera"));
  EXPECT_TRUE(IsInfraredCamera(L"Hello IR"));
  EXPECT_TRUE(IsInfraredCamera(L"Infrared front"));
  EXPECT_FALSE(IsInfraredCamera(L"Mirror Cam"));
  EXPECT_FALSE(IsInfraredCamera(L"IR"));
  std::vector<CameraSource> cameras(4);
  cameras[0].name = L"Front IR Camera";
  cameras[1].name = L"Desk Cam";
  cameras[2].name = L"Hello IR";
  cameras[3].name = L"Stage Cam";
  OrderCameras(&cameras);
  std::vector<std::wstring> names;
  for (const auto& c : cameras) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Desk Cam", L"Stage Cam", L"Front IR Camera", L"Hello IR"}));
}

TEST(CameraList, StandInFileGivesEachCameraItsOneFormatAndSkipsBadLines) {
  TempHome dir;
  const std::string file = dir.path() + "/cameras.txt";
  std::ofstream(file) << "Desk\tusb-desk\t/tmp/a.fifo\trawvideo\tvideo_size=1280x720 pixel_format=yuyv422 framerate=30\n"
                         "too\tfew fields\n"
                         "Stage\tusb-stage\t/tmp/b.fifo\tmjpeg\tframerate=25\r\n";
  const auto cameras = ReadStandInCameras(file);
  ASSERT_EQ(cameras.size(), 2u);
  EXPECT_EQ(cameras[0].link, L"usb-desk");
  EXPECT_EQ(cameras[0].path, "/tmp/a.fifo");
  ASSERT_EQ(cameras[0].formats.size(), 1u);
  EXPECT_EQ(cameras[0].formats[0].width, 1280);
  EXPECT_EQ(cameras[0].formats[0].height, 720);
  EXPECT_EQ(cameras[0].formats[0].fps, 30);
  EXPECT_EQ(cameras[0].formats[0].subtype, CameraSubtype::Yuy2);
  EXPECT_EQ(cameras[1].formats[0].subtype, CameraSubtype::Mjpeg);
  EXPECT_EQ(cameras[1].formats[0].width, 0) << "a bare MJPEG stream promises no size";
  EXPECT_EQ(cameras[1].formats[0].fps, 25);
  EXPECT_EQ(cameras[1].options, "framerate=25");
}

TEST(CameraConversion, ConvertsYuyvAndSkipsFramesShorterThanTheirFormat) {
  constexpr int w = 4, h = 2;
  auto converter = CameraConverter::Make(CameraSubtype::Yuy2, w, h);
  ASSERT_TRUE(converter);
  // Row 0 white (Y 235), row 1 black (Y 16), no colour (U = V = 128): video range.
  std::vector<uint8_t> frame;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w / 2; ++x) {
      const uint8_t luma = y == 0 ? 235 : 16;
      frame.insert(frame.end(), {luma, 128, luma, 128});
    }
  std::vector<uint32_t> pixels = {0x12345678};
  int outW = 0, outH = 0;
  EXPECT_FALSE(converter->Convert(frame.data(), frame.size() - 1, &pixels, &outW, &outH));
  EXPECT_EQ(pixels, std::vector<uint32_t>{0x12345678}) << "a short frame is skipped, nothing written";
  ASSERT_TRUE(converter->Convert(frame.data(), frame.size(), &pixels, &outW, &outH));
  EXPECT_EQ(outW, w);
  EXPECT_EQ(outH, h);
  ASSERT_EQ(pixels.size(), static_cast<size_t>(w * h));
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(static_cast<int>((pixels[0] >> (8 * c)) & 0xFF), 255, 3);
    EXPECT_NEAR(static_cast<int>((pixels[w * h - 1] >> (8 * c)) & 0xFF), 0, 3);
  }
  EXPECT_EQ(pixels[0] >> 24, 0xFFu);
  EXPECT_FALSE(CameraConverter::Make(CameraSubtype::Yuy2, 0, 720)) << "raw frames need their size";
  EXPECT_FALSE(CameraConverter::Make(CameraSubtype::Other, 640, 480));
}

TEST(CameraConversion, MjpegOfAnotherSizeThanPromisedIsSkipped) {
  TempHome dir;
  const std::string jpeg = dir.path() + "/frame.jpg";
  const std::string command = "ffmpeg -loglevel error -y -f lavfi -i color=c=0x3080C0:size=64x32 -frames:v 1 -f mjpeg '" +
                              jpeg + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string bytes;
  ASSERT_EQ(ReadBytes(std::wstring(jpeg.begin(), jpeg.end()), &bytes, 1 << 20), ReadStatus::Ok);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  std::vector<uint32_t> pixels;
  int w = 0, h = 0;
  auto promised = CameraConverter::Make(CameraSubtype::Mjpeg, 1280, 720);
  ASSERT_TRUE(promised);
  EXPECT_FALSE(promised->Convert(data, bytes.size(), &pixels, &w, &h));
  EXPECT_TRUE(pixels.empty());
  auto any = CameraConverter::Make(CameraSubtype::Mjpeg, 0, 0);
  ASSERT_TRUE(any->Convert(data, bytes.size(), &pixels, &w, &h));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 32);
  const uint32_t p = pixels[16 * 64 + 32];
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 0x30, 4);
  EXPECT_NEAR(static_cast<int>((p >> 8) & 0xFF), 0x80, 4);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 0xC0, 4);
  EXPECT_EQ(p >> 24, 0xFFu);
  EXPECT_FALSE(any->Convert(data, bytes.size() / 8, &pixels, &w, &h) && w != 64) << "never another size";
}

// A 4:2:2 frame with the standard Huffman tables (what cameras use), ffmpeg's own decode of it
// to BGRA, and the same frame without its table segments, as many cameras send it.
TEST(CameraConversion, MjpegDecodesAsFfmpegDoesWithOrWithoutItsHuffmanTables) {
  TempHome dir;
  const std::string jpeg = dir.path() + "/frame.jpg", raw = dir.path() + "/frame.bgra";
  const std::string make = "ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=320x180 -frames:v 1 -pix_fmt yuvj422p "
                           "-huffman default -q:v 3 -f mjpeg '" + jpeg + "' && ffmpeg -loglevel error -y -i '" + jpeg +
                           "' -pix_fmt bgra -f rawvideo '" + raw + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  std::string bytes, reference;
  ASSERT_EQ(ReadBytes(std::wstring(jpeg.begin(), jpeg.end()), &bytes, 1 << 20), ReadStatus::Ok);
  ASSERT_EQ(ReadBytes(std::wstring(raw.begin(), raw.end()), &reference, 1 << 20), ReadStatus::Ok);
  ASSERT_EQ(reference.size(), 320u * 180 * 4);
  std::string bare = bytes.substr(0, 2);  // the segments before the scan, less DHT (0xFFC4)
  size_t at = 2;
  while (at + 4 <= bytes.size() && static_cast<uint8_t>(bytes[at]) == 0xFF) {
    const auto marker = static_cast<uint8_t>(bytes[at + 1]);
    const size_t length = static_cast<uint8_t>(bytes[at + 2]) << 8 | static_cast<uint8_t>(bytes[at + 3]);
    if (marker == 0xDA) break;
    if (marker != 0xC4) bare += bytes.substr(at, length + 2);
    at += length + 2;
  }
  bare += bytes.substr(at);
  ASSERT_LT(bare.size(), bytes.size()) << "the frame had tables to take out";
  auto converter = CameraConverter::Make(CameraSubtype::Mjpeg, 320, 180);
  for (const std::string* frame : {&bytes, &bare}) {
    std::vector<uint32_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(converter->Convert(reinterpret_cast<const uint8_t*>(frame->data()), frame->size(), &pixels, &w, &h));
    ASSERT_EQ(pixels.size(), 320u * 180);
    int largest = 0;
    for (size_t i = 0; i < pixels.size(); ++i)
      for (int c = 0; c < 4; ++c)
        largest = std::max(largest, std::abs(static_cast<int>(pixels[i] >> (8 * c) & 0xFF) -
                                             static_cast<uint8_t>(reference[i * 4 + static_cast<size_t>(c)])));
    EXPECT_LE(largest, 4) << (frame == &bare ? "without tables" : "with tables");
  }
  // Bytes that are no picture are skipped, the pixels left as they were.
  std::vector<uint32_t> pixels(5, 7u);
  int w = 0, h = 0;
  const std::string junk(4096, '\x5A');
  EXPECT_FALSE(converter->Convert(reinterpret_cast<const uint8_t*>(junk.data()), junk.size(), &pixels, &w, &h));
  EXPECT_EQ(pixels, std::vector<uint32_t>(5, 7u));
}

TEST(CameraTestPattern, BarsRampRedBlockAndTheMovingDisc) {
  std::vector<uint32_t> p;
  DrawCameraTestPattern(&p, 0);
  ASSERT_EQ(p.size(), 1280u * 720u);
  auto at = [&](int x, int y) { return p[static_cast<size_t>(y) * 1280 + x]; };
  EXPECT_EQ(at(0, 0), 0xFFC0C0C0u);
  EXPECT_EQ(at(1279, 287), 0xFF0000C0u);
  EXPECT_EQ(at(1000, 100), 0xFFC00000u);
  EXPECT_EQ(at(300, 288), 0xFF101828u + 300 / 32);
  EXPECT_EQ(at(1279, 719), 0xFF10184Fu);
  EXPECT_EQ(at(159, 541), 0xFFFF2020u);
  EXPECT_EQ(at(159, 540), 0xFF101828u + 4);
  // Frame 0's disc sits at (640, 576), radius 60.
  EXPECT_EQ(at(640, 576), 0xFFFFFFFFu);
  EXPECT_EQ(at(699, 576), 0xFFFFFFFFu);
  EXPECT_NE(at(700, 576), 0xFFFFFFFFu);
  DrawCameraTestPattern(&p, 31);  // (floor(sin(1.55) x 384 + 640), floor(cos(2.17) x 129.6 + 446.4)) = (1023, 371)
  EXPECT_EQ(at(1023, 371), 0xFFFFFFFFu);
  EXPECT_NE(at(640, 576), 0xFFFFFFFFu);
}

// Waits up to 5 s for the capture thread to end.
bool WaitForCaptureEnd() {
  for (int i = 0; i < 500 && CameraCapturing(); ++i) SleepMs(10);
  return !CameraCapturing();
}

TEST(CameraCapture, NoCameraAndAStalledStandInReportAndStopAtOnce) {
  TempHome dir;
  const std::string list = dir.path() + "/cameras.txt";
  std::ofstream(list) << "";
  setenv("VELDMIX_CAMERAS", list.c_str(), 1);
  EXPECT_TRUE(ListCameras().empty());
  StartCamera(L"");
  EXPECT_TRUE(CameraRunning());
  ASSERT_TRUE(WaitForCaptureEnd());
  EXPECT_EQ(CameraStatusText(), L"No camera found \u2014 plug one in");
  StartCamera(L"");
  EXPECT_EQ(CameraStatusText(), L"No camera found \u2014 plug one in") << "not retried before 3 s";
  StopCamera();
  EXPECT_EQ(CameraStatusText(), L"");
  EXPECT_FALSE(CameraRunning());

  // A FIFO nobody writes into: the capture waits for its producer and still stops at once.
  const std::string fifo = dir.path() + "/cam.fifo";
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  std::ofstream(list) << "Desk Cam\tusb-desk\t" << fifo << "\trawvideo\tvideo_size=64x32 pixel_format=yuyv422\n";
  StartCamera(L"usb-desk");
  SleepMs(100);
  EXPECT_TRUE(CameraCapturing());
  EXPECT_EQ(CameraStatusText(), L"Starting the camera\u2026");
  const uint64_t before = MonotonicMs();
  StopCamera();
  EXPECT_LT(MonotonicMs() - before, 1000u) << "a stalled source cannot hold the stop";
  EXPECT_FALSE(CameraCapturing());
  unsetenv("VELDMIX_CAMERAS");
}

}  // namespace
