#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/palette.h"
#include "base/settings.h"
#include "broadcast/video_compositor.h"
#include "broadcast/video_effects.h"
#include "broadcast/video_feed.h"
#include "broadcast/video_player.h"
#include "broadcast/video_record.h"
#include "broadcast/video_window.h"
#include "engine/audio_output.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "settings/settings_screen.h"
#include "support/art_loader.h"
#include "support/audio_server.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu;
constexpr int kWaitMs = 20000;

uint32_t Channel(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

// Clips made once by ffmpeg for the suite: solid red and solid blue, 2 s at 30 fps with sound,
// and one 8200 pixels wide.
class VideoFeedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/veldmix-video-feed-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    media_ = folder;
    const std::string cd = "cd " + ShellQuote(media_) + " && ffmpeg -nostdin -v error -y ";
    int status = 0;
    for (const char* colour : {"red", "blue"}) {
      RunCommand(cd + "-f lavfi -i color=c=" + colour + ":size=160x90:rate=30:duration=2 -c:v libx264 -g 30 " +
                     colour + ".mp4 >/dev/null 2>&1",
                 &status);
      ASSERT_EQ(status, 0) << colour;
    }
    RunCommand(cd + "-f lavfi -i color=c=gray:size=8200x16:rate=30:duration=0.2 -c:v rawvideo wide.mkv >/dev/null 2>&1",
               &status);
    ASSERT_EQ(status, 0);
  }
  static void TearDownTestSuite() { fs::remove_all(media_); }
  // Decks an earlier suite left loaded would ask for covers of their own.
  void SetUp() override {
    for (DeckSnapshot& s : DeckSnapshots) s = DeckSnapshot{};
  }
  void TearDown() override {
    StopVideoDecks();
    for (DeckSnapshot& s : DeckSnapshots) s = DeckSnapshot{};
    SettingsOpen = false;
    CrossfaderPosition = 0.5f;
    PublishedVideoFeed = VideoFeed{};
  }

  static std::wstring Media(const std::string& name) { return Utf8ToWide(media_ + "/" + name); }
  // Pushes the feed until both sides' players have answered it.
  static void Settle(const VideoFeed& feed) {
    VideoFeed copy = feed;
    PushVideoFeed(copy);
    for (VideoDeck& d : VideoDecks)
      if (d.hasVideo) d.player.WaitUntilIdle(kWaitMs);
    copy = feed;
    PushVideoFeed(copy);
  }
  // The master playing into `sink` (made once EnsureAudioServer said yes), and an MP4 of the video mix
  // drawn by `source` recorded over it to `path`.
  static void StartRecordingOver(const TestSink& sink, VideoMixSource source, const std::wstring& path) {
    ASSERT_TRUE(sink.ok());
    OutputConfig config;
    config.masterDevice = sink.wname();
    StartOutput(Engine, config);
    ASSERT_TRUE(WaitFor([] { return Engine.outputRunning.load(); }, kWaitMs));
    SetVideoMixSource(source);
    UiText error;
    ASSERT_TRUE(StartVideoRecording(path, 720, &error)) << WideToUtf8(EnglishText(error));
  }
  static uint32_t Centre(const std::vector<uint32_t>& pixels, int w, int h) {
    return pixels[static_cast<size_t>(h / 2) * w + w / 2];
  }

  static std::string media_;
};
std::string VideoFeedTest::media_;

// The player follows the wanted time without restarting for the same path, gives its frames in
// BGRA with alpha 0xFF, and a file over 8192 pixels a side counts as failed with no frame.
TEST_F(VideoFeedTest, PlayerFramesReopenAndOversizedPictures) {
  VideoFilePlayer player;
  player.Open(Media("red.mp4"));
  player.Seek(0.5, false);
  ASSERT_TRUE(player.WaitUntilIdle(kWaitMs));
  std::vector<uint32_t> pixels;
  uint32_t w = 0, h = 0;
  uint64_t serial = 0;
  ASSERT_TRUE(player.TakeFrame(&pixels, &w, &h, &serial));
  EXPECT_EQ(w, 160u);
  EXPECT_EQ(h, 90u);
  const uint32_t p = Centre(pixels, 160, 90);
  EXPECT_EQ(p >> 24, 0xFFu);
  EXPECT_GT(Channel(p, 16), 230u);
  EXPECT_LT(Channel(p, 8), 25u);
  EXPECT_FALSE(player.TakeFrame(&pixels, &w, &h, &serial)) << "the same frame twice";

  const uint64_t decoded = player.DecodedPictures();
  player.Open(Media("red.mp4"));  // already playing: nothing restarts
  player.Seek(0.5, false);
  ASSERT_TRUE(player.WaitUntilIdle(kWaitMs));
  EXPECT_EQ(player.DecodedPictures(), decoded);
  EXPECT_FALSE(player.TakeFrame(&pixels, &w, &h, &serial));

  player.Stop();
  EXPECT_TRUE(player.Path().empty());
  EXPECT_FALSE(player.TakeFrame(&pixels, &w, &h, &serial));

  player.Open(Media("wide.mkv"));
  player.Seek(0.0, false);
  ASSERT_TRUE(player.WaitUntilIdle(kWaitMs));
  EXPECT_TRUE(player.Failed());
  serial = 0;
  EXPECT_FALSE(player.TakeFrame(&pixels, &w, &h, &serial));
}

// A new track on a side drops the old picture at once: the next composed frame shows the new
// track's card, never the previous video.
TEST_F(VideoFeedTest, NewTrackNeverShowsTheOldPicture) {
  VideoFeed feed;
  feed.entries[0].path = Media("red.mp4");
  feed.entries[0].level = 1;
  feed.entries[0].position = 1.0;
  Settle(feed);
  ASSERT_FALSE(VideoDecks[0].frame.empty());
  VideoRenderer renderer;
  std::vector<uint32_t> out;
  ASSERT_TRUE(RenderVideoFrameAt(&renderer, 64, 36, 100.0, &out));
  EXPECT_GT(Channel(Centre(out, 64, 36), 16), 230u) << "the red clip fills the frame";
  ASSERT_TRUE(RenderVideoFrameAt(&renderer, 1, 1, 100.0, &out)) << "a frame under 2 x 2 still composes";
  ASSERT_EQ(out.size(), 1u);
  EXPECT_GT(Channel(out[0], 16), 230u);

  const uint64_t version = VideoDecks[0].frameVersion;
  feed.entries[0].path = Media("song-without-video.mp3");
  feed.entries[0].colour = 0x00FF00;
  VideoFeed next = feed;
  PushVideoFeed(next);
  EXPECT_TRUE(VideoDecks[0].frame.empty());
  EXPECT_GT(VideoDecks[0].frameVersion, version);
  EXPECT_FALSE(VideoDecks[0].hasVideo);
  ASSERT_TRUE(RenderVideoFrameAt(&renderer, 64, 36, 100.0, &out));
  for (uint32_t px : out) ASSERT_LT(Channel(px, 16), 128u) << "no red is left of the old picture";

  // Back to a video: until its first frame arrives the side is a card, then the blue clip.
  feed.entries[0].path = Media("blue.mp4");
  Settle(feed);
  ASSERT_TRUE(RenderVideoFrameAt(&renderer, 64, 36, 100.0, &out));
  EXPECT_GT(Channel(Centre(out, 64, 36), 0), 230u);
}

// The preview fills its rectangle at the surface's density; the deck picture fills its circle
// and nothing outside it, and draws nothing for a side without video.
TEST_F(VideoFeedTest, PreviewAndDeckCircle) {
  VideoFeed feed;
  feed.entries[0].path = Media("red.mp4");
  feed.entries[0].level = 1;
  Settle(feed);
  std::unique_ptr<DrawSurface> ui = DrawSurface::Create(200, 120, 2.0f);  // 100 x 60 DIPs
  ASSERT_TRUE(ui);
  ui->Clear(Rgba{0, 0, 0, 0});
  DrawVideoPreview(ui.get(), 10, 10, 40, 20);
  EXPECT_TRUE(DrawDeckVideo(ui.get(), 2, 80, 30, 15, 1.0f)) << "side 2 is the left side";
  EXPECT_FALSE(DrawDeckVideo(ui.get(), 1, 80, 30, 15, 1.0f));
  const PixelView v = ui->Pixels();
  auto at = [&](int x, int y) { return v.pixels[static_cast<size_t>(y) * v.stride + x]; };
  EXPECT_GT(Channel(at(21, 21), 16), 230u);  // just inside the preview, in pixels
  EXPECT_GT(Channel(at(98, 58), 16), 230u);
  EXPECT_EQ(at(18, 18), 0u);  // just outside
  EXPECT_EQ(at(102, 62), 0u);
  EXPECT_GT(Channel(at(160, 60), 16), 230u);  // the circle's centre
  EXPECT_EQ(at(133, 33), 0u) << "the square's corner is outside the circle";
}

// The feed from the program decks: the cross-fader's gains, fader squared, paused decks at 0.3,
// the deck's own cross-fader assignment, and a steady 2 beats a second without an on-air deck.
TEST_F(VideoFeedTest, LevelsFromFadersCrossfaderAndPlayState) {
  auto track = [](const wchar_t* path) {
    auto t = std::make_shared<Track>();
    t->path = path;
    t->title = L"T";
    t->sampleRate = 44100;
    return t;
  };
  SideSlots[kLeftSide] = 0;
  SideSlots[kRightSide] = 1;
  DeckSnapshots[0].track = track(L"/nowhere/a.mp3");
  DeckSnapshots[0].position = 44100 * 3;
  DeckSnapshots[0].playing = true;
  DeckSnapshots[1].track = track(L"/nowhere/b.mp3");
  DeckSnapshots[1].playing = false;
  LiveDeckViews[0].fader = 0.8f;
  LiveDeckViews[1].fader = 0.8f;
  LiveDeckViews[0].xfAssignSet = LiveDeckViews[1].xfAssignSet = false;

  UpdateVideoFeed();  // nothing wants video yet: the feed is not touched
  EXPECT_TRUE(PublishedVideoFeed.entries[0].path.empty());

  SettingsOpen = true;
  SettingsPage = 7;  // the Video page shows the preview
  CrossfaderPosition = 0.5f;
  UpdateVideoFeed();
  const auto& e = PublishedVideoFeed.entries;
  EXPECT_EQ(e[0].path, L"/nowhere/a.mp3");
  EXPECT_DOUBLE_EQ(e[0].position, 3.0);
  EXPECT_FLOAT_EQ(e[0].level, 0.64f);
  EXPECT_FLOAT_EQ(e[1].level, 0.64f * kPausedVideoLevel);
  EXPECT_EQ(e[1].colour, DeckColour(1));

  CrossfaderPosition = 0.1f;  // gain B = 0.2
  UpdateVideoFeed();
  EXPECT_FLOAT_EQ(e[0].level, 0.64f);
  EXPECT_NEAR(e[1].level, 0.64f * 0.3f * 0.2f, 1e-6);
  LiveDeckViews[1].xfAssignSet = true;
  LiveDeckViews[1].xfAssign = 1;  // through: the cross-fader does not touch it
  UpdateVideoFeed();
  EXPECT_FLOAT_EQ(e[1].level, 0.64f * 0.3f);
  LiveDeckViews[1].xfAssignSet = false;
  Settings.XfReverse = true;  // the engine hears 0.9: the picture follows what is heard
  UpdateVideoFeed();
  Settings.XfReverse = false;
  EXPECT_NEAR(e[0].level, 0.64f * 0.2f, 1e-6);
  EXPECT_FLOAT_EQ(e[1].level, 0.64f * 0.3f);
  UpdateVideoFeed();

  // The on-air deck's beat: 3 s into a 120 BPM grid.
  EXPECT_DOUBLE_EQ(PublishedVideoFeed.beat, 6.0);
  // With nothing audible the beat runs at 2 a second on the clock.
  DeckSnapshots[0].playing = false;
  const double before = 2.0 * MonotonicMs() / 1000.0;
  UpdateVideoFeed();
  const double after = 2.0 * MonotonicMs() / 1000.0;
  EXPECT_GE(PublishedVideoFeed.beat, before);
  EXPECT_LE(PublishedVideoFeed.beat, after);
}

// A side's card shows its track's cover: asked for on the first frame, picked up once loaded, held
// by the side and not copied again, dropped when a track without one comes.
TEST_F(VideoFeedTest, CardsTakeTheTracksCoverOnceLoaded) {
  ArtLoaderFixture art;
  int status = 0;
  RunCommand("cd " + ShellQuote(media_) + " && ffmpeg -nostdin -v error -y -f lavfi -i " +
                 "'color=c=red:size=150x300[l];color=c=lime:size=150x300[r];[l][r]hstack' -frames:v 1 cover.png && " +
                 "ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=1 -i cover.png -map 0:a -map 1:v -c:a libmp3lame " +
                 "-c:v png -disposition:v attached_pic covered.mp3 >/dev/null 2>&1",
             &status);
  ASSERT_EQ(status, 0);
  auto track = [](const std::wstring& path) {
    auto t = std::make_shared<Track>();
    t->path = path;
    t->sampleRate = 44100;
    return t;
  };
  SideSlots[kLeftSide] = 0;
  SideSlots[kRightSide] = 1;
  DeckSnapshots[0].track = track(Media("covered.mp3"));
  SettingsOpen = true;
  SettingsPage = 7;  // the Video page's preview wants the mix
  UpdateVideoFeed();
  EXPECT_TRUE(VideoDecks[0].art.empty()) << "nothing is loaded yet";
  art.StartLoader();
  // A loader an earlier test started may still hand in its own result first on a busy machine.
  bool loaded = false;
  for (int i = 0; i < 4 && !loaded; ++i)
    for (const std::wstring& key : art.TakeLoaded(1)) loaded = loaded || key == PathKey(Media("covered.mp3"));
  ASSERT_TRUE(loaded);
  UpdateVideoFeed();
  const VideoDeck& side = VideoDecks[0];
  ASSERT_EQ(side.artPath, Media("covered.mp3"));
  ASSERT_EQ(side.artWidth, 128u);
  ASSERT_EQ(side.artHeight, 128u);
  ASSERT_EQ(side.art.size(), 128u * 128u);
  // Within the few levels ffmpeg's colour source loses on its way through YUV.
  auto near = [](uint32_t p, uint32_t want) {
    for (int shift = 0; shift < 32; shift += 8)
      if (std::abs(static_cast<int>(Channel(p, shift)) - static_cast<int>(Channel(want, shift))) > 4) return false;
    return true;
  };
  EXPECT_TRUE(near(side.art[64 * 128 + 10], 0xFFFF0000u)) << std::hex << side.art[64 * 128 + 10] << ": red on the left";
  EXPECT_TRUE(near(side.art[64 * 128 + 117], 0xFF00FF00u)) << std::hex << side.art[64 * 128 + 117] << ": green on the right";
  const uint64_t version = side.artVersion;
  UpdateVideoFeed();
  EXPECT_EQ(side.artVersion, version) << "art the side holds is not copied again";

  DeckSnapshots[0].track = track(Media("song-without-video.mp3"));
  UpdateVideoFeed();
  EXPECT_TRUE(side.art.empty());
  EXPECT_GT(side.artVersion, version);
}

// The pixel passes on tiny hand-computed pictures.
// A pooled picture is taken again only once every holder let go, the encoder thread included,
// and keeps its pixels; the pool holds four and lends a buffer of its own beyond.
TEST(VideoFramePoolTest, APictureIsReusedOnlyOnceEveryHolderLetGo) {
  VideoFramePool pool;
  auto first = TakePoolFrame(pool);
  first->assign(4, 7u);
  const std::vector<uint32_t>* buffer = first.get();
  auto second = TakePoolFrame(pool);
  EXPECT_NE(second.get(), buffer);
  auto queued = first;  // the encoder's copy
  first.reset();
  second.reset();
  auto third = TakePoolFrame(pool);
  EXPECT_NE(third.get(), buffer) << "taken while the encoder still held it";
  std::thread encoder([held = std::move(queued)] { EXPECT_EQ((*held)[0], 7u); });
  encoder.join();
  auto again = TakePoolFrame(pool);
  ASSERT_EQ(again.get(), buffer);
  EXPECT_EQ((*again)[0], 7u);
  auto fourth = TakePoolFrame(pool), fifth = TakePoolFrame(pool), sixth = TakePoolFrame(pool);
  EXPECT_EQ(pool.slots.size(), 4u);
  for (const auto& slot : pool.slots) EXPECT_NE(&slot->pixels, sixth.get());
}

TEST(VideoEffects, MatrixSplitCellsMirrorAndBlur) {
  std::vector<uint32_t> src = {kRed, kGreen, kBlue, 0xFF808080u};
  std::vector<uint32_t> dst(4);
  const PixelView s{src.data(), 4, 1, 4}, d{dst.data(), 4, 1, 4};
  ApplyColorMatrix(kInvertMatrix, s, d);
  EXPECT_EQ(dst, (std::vector<uint32_t>{0xFF00FFFFu, 0xFFFF00FFu, 0xFFFFFF00u, 0xFF7F7F7Fu}));
  ApplyColorMatrix(kMonoMatrix, s, d);
  EXPECT_EQ(dst[0], 0xFF4D4D4Du);  // 0.3 x 255 = 76.5
  EXPECT_EQ(dst[1], 0xFF969696u);  // 0.59 x 255 = 150.45
  EXPECT_EQ(dst[2], 0xFF1C1C1Cu);  // 0.11 x 255 = 28.05

  // Red from one pixel to the right, blue from one to the left, green in place.
  SplitChannels(s, d, 1);
  EXPECT_EQ(dst, (std::vector<uint32_t>{0xFF000000u, 0xFF00FF00u, 0xFF800000u, 0xFF0080FFu}));

  MirrorLeftHalf(s, d);
  EXPECT_EQ(dst, (std::vector<uint32_t>{kRed, kGreen, kGreen, kRed}));

  std::vector<uint32_t> cells;
  AverageCells(s, 2, 1, &cells);
  EXPECT_EQ(cells, (std::vector<uint32_t>{0xFF808000u, 0xFF4040C0u}));

  // One white pixel in black: the blur spreads it evenly both ways and keeps a solid picture solid.
  std::vector<uint32_t> dot(21 * 21, 0xFF000000u), small, scratch;
  dot[10 * 21 + 10] = 0xFFFFFFFFu;
  int sw = 0, sh = 0;
  BlurSmallCopy(PixelView{dot.data(), 21, 21, 21}, 1, 2.0f, &small, &scratch, &sw, &sh);
  ASSERT_EQ(sw, 21);
  const auto at = [&](int x, int y) { return Channel(small[static_cast<size_t>(y) * sw + x], 0); };
  EXPECT_GT(at(10, 10), at(12, 10));
  EXPECT_GT(at(12, 10), 0u);
  EXPECT_EQ(at(8, 10), at(12, 10));
  EXPECT_EQ(at(10, 8), at(10, 12));
  EXPECT_EQ(at(0, 0), 0u);
  std::vector<uint32_t> solid(40 * 30, 0xFF336699u);
  BlurSmallCopy(PixelView{solid.data(), 40, 30, 40}, 4, 3.0f, &small, &scratch, &sw, &sh);
  EXPECT_EQ(sw * sh, 10 * 8);
  for (uint32_t px : small) ASSERT_EQ(px, 0xFF336699u);
}

// The BLUR transition is sharp at either end of the fade and blurred in its middle: a card's ring
// over the red clip loses its hard edges only mid-fade.
TEST_F(VideoFeedTest, BlurTransitionBlursOnlyMidFade) {
  VideoFeed feed;
  feed.entries[0].path = L"/nowhere/card.mp3";
  feed.entries[0].colour = 0xFFFFFF;
  feed.entries[1].path = Media("red.mp4");
  feed.entries[1].position = 1.0;
  // Sum of the green differences between neighbouring pixels: how sharp the picture is.
  auto sharpness = [&](int transition, float left, float right) {
    feed.transition = transition;
    feed.entries[0].level = left;
    feed.entries[1].level = right;
    Settle(feed);
    VideoRenderer renderer;
    std::vector<uint32_t> out;
    EXPECT_TRUE(RenderVideoFrameAt(&renderer, 320, 180, 100.0, &out));
    long sum = 0;
    for (int y = 0; y < 180; ++y)
      for (int x = 1; x < 320; ++x)
        sum += std::labs(static_cast<long>(Channel(out[y * 320 + x], 8)) - Channel(out[y * 320 + x - 1], 8));
    return sum;
  };
  EXPECT_EQ(sharpness(kTransitionBlur, 1, 0), sharpness(kTransitionFade, 1, 0));
  const long fadeMid = sharpness(kTransitionFade, 1, 1), blurMid = sharpness(kTransitionBlur, 1, 1);
  EXPECT_GT(fadeMid, 0);
  EXPECT_LT(blurMid, fadeMid / 2) << "fade " << fadeMid << ", blur " << blurMid;
}

}  // namespace

namespace {

// A new picture of noise each time: the encoder has plenty to write (a still picture over silence
// would sit in the muxer's buffer for minutes).
bool NoisePicture(int width, int height, std::vector<uint32_t>& pixels) {
  static uint32_t seed = 1;
  pixels.resize(static_cast<size_t>(width) * height);
  for (uint32_t& p : pixels) p = 0xFF000000u | ((seed = seed * 1664525u + 1013904223u) >> 8);
  return true;
}

}  // namespace

// An MP4 recording keeps the feed running while it encodes; once its encoder stops on an error (a
// file-size limit stands in for a full disk) the recording stays on, but the feed no longer runs
// every frame on its account.
TEST_F(VideoFeedTest, AFailedRecordingNoLongerRunsTheFeed) {
  TempHome home;
  auto track = std::make_shared<Track>();
  track->path = L"/nowhere/a.mp3";
  track->sampleRate = 44100;
  SideSlots[kLeftSide] = 0;
  DeckSnapshots[0].track = track;
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink sink("videofeed", 2);
  ASSERT_NO_FATAL_FAILURE(StartRecordingOver(sink, NoisePicture, home.wpath() + L"/mix.mp4"));
  UpdateVideoFeed();
  EXPECT_EQ(PublishedVideoFeed.entries[0].path, L"/nowhere/a.mp3") << "a running recording runs the feed";

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool failed = WaitFor([] {
    CaptureRecordFrame();
    return VideoRecordingFailed();
  }, kWaitMs);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(failed) << "the encoder did not stop at the file-size limit";
  EXPECT_TRUE(VideoRecordingRunning()) << "a failed recording stays on until it is stopped";
  PublishedVideoFeed = VideoFeed{};
  UpdateVideoFeed();
  EXPECT_TRUE(PublishedVideoFeed.entries[0].path.empty()) << "the feed ran for a failed recording";

  StopVideoRecording();
  WaitForVideoRecording();
  SetVideoMixSource(nullptr);
  StopOutputs(Engine);
}

namespace {

// Picture n of the recorder's placement check: a grey that H.264 keeps apart from its neighbours;
// -1 is a white that must never be recorded.
int DrawnPicture = 0;
uint32_t PictureLevel(int n) { return n < 0 ? 255u : 40u + 20u * static_cast<uint32_t>(n % 9); }
bool NumberedPicture(int width, int height, std::vector<uint32_t>& pixels) {
  pixels.assign(static_cast<size_t>(width) * height, 0xFF000000u | PictureLevel(DrawnPicture) * 0x010101u);
  return true;
}

}  // namespace

// A picture goes in the frame starting nearest the time it began to show, however late it is
// captured: one captured after the next came due still lands in its own frame, one never captured
// leaves its frame to the one before, a later picture for the same frame replaces it, and one for
// a frame a later picture holds is dropped.
TEST_F(VideoFeedTest, RecordedPicturesLandInTheirOwnFrameHoweverLateTheyCome) {
  TempHome home;
  const std::string mp4 = home.path() + "/placed.mp4";
  std::string why;
  ASSERT_TRUE(EnsureAudioServer(&why)) << why;
  TestSink sink("videoplace", 2);
  ASSERT_NO_FATAL_FAILURE(StartRecordingOver(sink, NumberedPicture, Utf8ToWide(mp4)));
  // Picture n shows from a third into frame kFirstFrame + n; the last lateness passes the next's time.
  constexpr int kFirstFrame = 6, kPictures = 30;
  constexpr double kLateSeconds[] = {0.0, 0.005, 0.02, 0.045};
  for (int n = 0; n < kPictures; ++n) {
    const double shownAt = (kFirstFrame + 0.36 + n) / 30.0;
    if (n % 7 == 3) continue;
    ASSERT_TRUE(WaitFor([&] { return VideoRecordingClock() >= shownAt + kLateSeconds[n % 4]; }, kWaitMs));
    DrawnPicture = -1;
    if (n % 5 == 2) CaptureRecordFrame(shownAt - 0.004);
    DrawnPicture = n;
    CaptureRecordFrame(shownAt);
    DrawnPicture = -1;
    if (n % 5 == 4) CaptureRecordFrame(shownAt - 1.0 / 30);
  }
  StopVideoRecording();
  WaitForVideoRecording();
  SetVideoMixSource(nullptr);
  StopOutputs(Engine);

  const std::string rgb = RunCommand("ffmpeg -v error -i " + ShellQuote(mp4) + " -vf scale=1:1 -pix_fmt rgb24 -f rawvideo -");
  ASSERT_GE(rgb.size(), 3u * (kFirstFrame + kPictures));
  for (int frame = 0; frame < kFirstFrame + kPictures; ++frame) {
    int n = std::max(frame - kFirstFrame, 0);
    if (n % 7 == 3) --n;
    EXPECT_NEAR(static_cast<uint8_t>(rgb[3 * frame + 1]), PictureLevel(n), 8) << "frame " << frame;
  }
}
