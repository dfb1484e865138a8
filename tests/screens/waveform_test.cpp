// The scrolling waveform lane drawn off-screen from real tracks made by ffmpeg and loaded through
// LoadTrack: the playhead, the band colours of a loud low and a loud high tone, the beat grid of a
// 120 BPM click track, cue markers, scrubbing and zoom; and the column maths on made-up summaries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/cue_colours.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/phrases.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "screens/main_screen.h"
#include "screens/overview.h"
#include "screens/waveform.h"
#include "support/click_tracks.h"
#include "ui/offscreen.h"
#include "ui/widget_frames.h"

namespace {

// 1000 wide at the default 8 s zoom: 8 ms of track per pixel.
constexpr Rc kLane{20, 20, 1000, 66};
constexpr float kCx = 520, kCy = 53, kAmp = 28;  // playhead, centre line, h / 2 - 5
constexpr double kSpp = 0.008;

std::wstring SamplePath(const char* name) {
  const char* dir = std::getenv("VELDMIX_SAMPLE_DIR");
  const std::string path = (dir && *dir ? std::string(dir) + "/" : ::testing::TempDir()) + name;
  return std::wstring(path.begin(), path.end());
}

ClickTrackFolder& Tracks() {
  static ClickTrackFolder folder;
  return folder;
}

// A track made by ffmpeg from an aevalsrc expression; empty when ffmpeg failed.
std::string MakeTrack(const std::string& name, const std::string& expr, int seconds) {
  const std::string path = Tracks().path() + "/" + name + ".wav";
  if (std::filesystem::exists(path)) return path;
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i \"aevalsrc='" + expr +
                              "':s=44100:d=" + std::to_string(seconds) + "\" -ac 2 '" + path + "'";
  return std::system(command.c_str()) == 0 && std::filesystem::exists(path) ? path : std::string();
}

// 64 s at 120 BPM: hats and a pad, with a kick and an off-beat bass in the drops (16-32 s, 40 s on).
std::string DanceTrack() {
  return MakeTrack("dance",
                   "(between(t,16,32)+gte(t,40))*(0.85*sin(2*PI*52*mod(t,0.5))*exp(-9*mod(t,0.5))"
                   "+0.3*sin(2*PI*110*t)*exp(-7*mod(t+0.25,0.5)))+0.22*(2*random(0)-1)*exp(-70*mod(t+0.25,0.5))"
                   "+0.05*(sin(2*PI*220*t)+sin(2*PI*277.2*t)+sin(2*PI*329.6*t))",
                   64);
}

class WaveformLane : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    UseCanvas(1040, 120);
    ResetDecksForTest();
    WaveformZoom = kDefaultWaveformZoom;
    for (float& pulse : BeatPulse) pulse = 0;
  }
  void TearDown() override {
    ResetDecksForTest();
    WidgetFrames::TearDown();
  }
  static void UseCanvas(int w, int h) {
    ReleaseDevice();
    ASSERT_TRUE(CreateDevice(w, h, 1.0f));
  }
  static void Load(int deck, const std::string& path) {
    ASSERT_FALSE(path.empty()) << "ffmpeg made the track";
    ASSERT_TRUE(LoadAndWait(deck, path));
    SnapshotDecks();
  }
  static void LoadClicks(int deck, double seconds = 16.0) {
    ClickTrack spec;
    spec.seconds = seconds;
    Load(deck, Tracks().Make(spec));
  }
  static void Place(int deck, double seconds) {
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Engine.decks[deck].position = seconds * Engine.decks[deck].track->sampleRate;
    }
    SnapshotDecks();
  }
  // One frame of the lane; without glows flat colours can be compared.
  static void DrawLane(Rc r = kLane, int deck = 0, bool glows = true) {
    Frame([&] {
      DrawWaveform(deck, r);
      if (!glows) GlowList.clear();
    });
  }
  // Green summed over five columns around x: a 1-unit line adds the same whatever its sub-pixel x.
  static int LineStrength(float x, int y) {
    int sum = 0;
    for (int i = -2; i <= 2; ++i) sum += Channel(Pixel(static_cast<int>(std::floor(x)) + i, y), 8);
    return sum;
  }
  static bool Near(uint32_t rgb, uint32_t want, int tolerance) {
    for (int shift : {16, 8, 0})
      if (std::abs(Channel(rgb, shift) - Channel(want, shift)) > tolerance) return false;
    return true;
  }
  static float XOf(double seconds, double position) { return kCx + static_cast<float>((seconds - position) / kSpp); }
};

TEST_F(WaveformLane, PlayheadIsAWhiteLineInTheLaneCentre) {
  LoadClicks(0);
  Place(0, 4.0);
  DrawLane();
  for (int y : {24, 40, 53, 70, 80}) EXPECT_GT(Channel(Pixel(static_cast<int>(kCx), y), 16), 220) << "row " << y;
  EXPECT_GT(Brightness(Pixel(static_cast<int>(kCx) - 4, 22)), 200) << "top triangle";
  EXPECT_GT(Brightness(Pixel(static_cast<int>(kCx) + 3, 83)), 200) << "bottom triangle";
  DrawLane(Rc{300, 20, 400, 66});
  EXPECT_GT(Channel(Pixel(500, 60), 16), 220) << "below the status chip, which covers the playhead's top";
  EXPECT_LT(Channel(Pixel(520, 60), 16), 200);
}

TEST_F(WaveformLane, BeatGridLinesSitOnTheBeatsOfA120BpmClickTrack) {
  LoadClicks(0);
  ASSERT_NEAR(DeckSnapshots[0].track->bpm, 120.0, 0.5) << "the analysis found the clicks' tempo";
  ASSERT_NEAR(DeckSnapshots[0].track->firstBeat, 0.0, 0.02);
  Place(0, 4.0);
  DrawLane();
  // Row y + 4 lies above the bands and carries bar lines (every 4th beat) and beat ticks.
  const int row = static_cast<int>(kLane.y) + 4;
  int bars = 0, ticks = 0, barStrength = 0, tickStrength = 0;
  for (int beat = 1; beat < 16; ++beat) {
    const float x = XOf(0.5 * beat, 4.0);
    if (x < 110 || x > 930 || std::fabs(x - kCx) < 40) continue;  // edge fades, playhead glow
    const int on = LineStrength(x, row);
    EXPECT_GT(on, LineStrength(x + 31.25f, row) + 15) << "a line on beat " << beat << ", none half a beat on";
    (beat % 4 == 0 ? bars : ticks) += 1;
    (beat % 4 == 0 ? barStrength : tickStrength) += on;
  }
  ASSERT_GT(bars, 1);
  ASSERT_GT(ticks, 4);
  EXPECT_LT(barStrength / bars + 8, tickStrength / ticks) << "bar lines (alpha 0.14) are fainter than ticks (0.22)";

  // At the start the left half holds time before 0: no bands, but lines for beats below 0.
  Place(0, 0.0);
  DrawLane();
  int left = 0, right = 0;
  for (int x = 300; x < 480; ++x) left += Brightness(Pixel(x, static_cast<int>(kCy) - 12)) > 70;  // past the chip
  for (int x = 560; x < 900; ++x) right += Brightness(Pixel(x, static_cast<int>(kCy) - 12)) > 70;
  EXPECT_EQ(left, 0);
  EXPECT_GT(right, 8) << "the bands start at the playhead";
  EXPECT_GT(LineStrength(XOf(-2.0, 0.0), row), LineStrength(XOf(-2.25, 0.0), row) + 15) << "beat -4";
}

TEST_F(WaveformLane, BandColoursFollowALoudLowAndALoudHighTone) {
  Load(0, MakeTrack("low-then-high", "if(lt(t,6),0.8*sin(2*PI*55*t),0.8*sin(2*PI*6000*t))", 12));
  const int outer = static_cast<int>(kCy - 0.85f * kAmp), inner = static_cast<int>(kCy - 0.1f * kAmp);
  const int x = static_cast<int>(kCx) + 150;  // 1.2 s ahead
  Place(0, 3.0);  // 55 Hz ahead
  DrawLane();
  EXPECT_GT(Channel(Pixel(x, outer), 0), 180) << "the low band's blue fills out to the edge";
  EXPECT_GT(Channel(Pixel(x, outer), 0), Channel(Pixel(x, outer), 16) + 100);
  ASSERT_TRUE(RenderFrameToPng(1040, 120, [] { DrawWaveform(0, kLane); }, SamplePath("waveform_low_tone.png")));

  Place(0, 8.0);  // 6 kHz ahead
  DrawLane();
  EXPECT_LT(Brightness(Pixel(x, outer)), 60) << "no low band under a high tone";
  for (int shift : {16, 8, 0}) EXPECT_GT(Channel(Pixel(x, inner), shift), 170) << "the high band's white core";
  Place(0, 10.0);  // 6 kHz behind and ahead: the played part at 0.38 opacity
  DrawLane();
  EXPECT_LT(Brightness(Pixel(static_cast<int>(kCx) - 150, inner)) + 40, Brightness(Pixel(x, inner)));
  ASSERT_TRUE(RenderFrameToPng(1040, 120, [] { DrawWaveform(0, kLane); }, SamplePath("waveform_high_tone.png")));
}

TEST_F(WaveformLane, PeakGlowsAreTwoShapesOnThePartStillToPlay) {
  Load(0, DanceTrack());
  Place(0, 24.0);  // inside the first drop: loud everywhere in the lane
  DrawLane();
  std::vector<const GlowShape*> peaks;
  for (const GlowShape& s : GlowList)
    if (s.kind == kGlowColumns) peaks.push_back(&s);
  ASSERT_EQ(peaks.size(), 2u) << "the low and the mid band, each one shape";
  EXPECT_LT(GlowList.size(), 40u) << "no glow per column step";
  for (const GlowShape* s : peaks) {
    EXPECT_GE(s->g1, kCx - 1) << "nothing behind the playhead glows";
    EXPECT_FLOAT_EQ(s->g2, kCy);
    float tallest = 0;
    for (float h : s->columns) tallest = std::max(tallest, h);
    EXPECT_GT(tallest, 5.0f);
    EXPECT_LE(tallest, kAmp);
  }
  // The glow lifts the lane ahead of the playhead far more than behind it.
  auto lift = [](const std::vector<int>& lit, const std::vector<int>& plain) {
    int sum = 0;
    for (size_t i = 0; i < lit.size(); ++i) sum += lit[i] - plain[i];
    return sum;
  };
  auto block = [](int x0) {
    std::vector<int> b;
    for (int y = static_cast<int>(kCy - kAmp); y <= static_cast<int>(kCy + kAmp); ++y)
      for (int x = x0; x < x0 + 200; ++x) b.push_back(Brightness(Pixel(x, y)));
    return b;
  };
  const std::vector<int> ahead = block(static_cast<int>(kCx) + 100), behind = block(static_cast<int>(kCx) - 300);
  DrawLane(kLane, 0, false);
  const int ahead_lift = lift(ahead, block(static_cast<int>(kCx) + 100));
  const int behind_lift = lift(behind, block(static_cast<int>(kCx) - 300));
  EXPECT_GT(ahead_lift, 2 * behind_lift);
}

TEST_F(WaveformLane, CueMarkersShowTheirColoursAndNames) {
  LoadClicks(0);
  Place(0, 5.0);
  PressHotCue(0, 1);  // no colour number: slot 2's default
  Place(0, 6.0);
  PressHotCue(0, 4);
  LiveDeckViews[0].hotCueColour[4] = 3;
  LiveDeckViews[0].hotCueName[4] = L"Vocal in";
  Place(0, 3.0);
  CuePress(0);  // paused away from the cue point: the main cue moves here
  Place(0, 2.5);
  AddMemoryCue(0);
  Place(0, 4.0);
  DrawLane(kLane, 0, false);
  const int top = static_cast<int>(kLane.y) + 2;
  EXPECT_TRUE(Near(Pixel(static_cast<int>(XOf(5.0, 4.0)) + 2, top), 0x2BF5A0, 12));
  EXPECT_TRUE(Near(Pixel(static_cast<int>(XOf(6.0, 4.0)) + 2, top), HotCueColours[3], 12));
  EXPECT_TRUE(Near(Pixel(static_cast<int>(XOf(3.0, 4.0)) + 2, top), Pal.Yellow, 12)) << "the main cue";
  const uint32_t memory = Pixel(static_cast<int>(XOf(2.5, 4.0)), top);
  EXPECT_TRUE(Channel(memory, 16) > 200 && Channel(memory, 8) < 120) << "the memory cue's red triangle";

  // The name stands beside its flag in the cue's colour, but not in a lane under 48 high.
  const auto nameInk = [] {
    int ink = 0;
    for (int x = static_cast<int>(XOf(6.0, 4.0)) + 18; x < static_cast<int>(XOf(6.0, 4.0)) + 60; ++x)
      for (int y = static_cast<int>(kLane.y) + 2; y < static_cast<int>(kLane.y) + 12; ++y)
        ink += Channel(Pixel(x, y), 8) > 150 && Channel(Pixel(x, y), 0) < 120;
    return ink;
  };
  EXPECT_GT(nameInk(), 10);
  DrawLane(Rc{kLane.x, kLane.y, kLane.w, 40});
  EXPECT_EQ(nameInk(), 0);
}

TEST_F(WaveformLane, DraggingScrubsTheTrackAndTheWheelZooms) {
  LoadClicks(0);
  Place(0, 4.0);
  const double rate = DeckSnapshots[0].track->sampleRate;
  Press(600, kCy);
  DrawLane();
  EXPECT_EQ(ActiveControlId, WaveformControlId(0));
  MoveTo(500, kCy);  // 100 to the left: the track moves forward
  DrawLane();
  DrawLane();  // holding still moves nothing more
  EXPECT_NEAR(Engine.decks[0].jogTarget, (4.0 + 100 * kSpp) * rate, 1.0);
  MoveTo(550, kCy);
  DrawLane();
  EXPECT_NEAR(Engine.decks[0].jogTarget, (4.0 + 50 * kSpp) * rate, 1.0);
  Release();
  DrawLane();
  EXPECT_FALSE(Engine.decks[0].jogTouched);

  // At +8 % the lane shows 8 % more track time, so the same drag goes 8 % further.
  LiveDeckViews[0].pitchRange = 0.08f, LiveDeckViews[0].tempoFader = 0.0f;
  Press(600, kCy);
  DrawLane();
  const double touched = Engine.decks[0].jogTarget;
  MoveTo(500, kCy);
  DrawLane();
  EXPECT_NEAR(Engine.decks[0].jogTarget - touched, 100 * kSpp * 1.08 * rate, 1.0);
  Release();
  DrawLane();

  Input.wheel = 1;  // over the lane, away from the user: zoom in
  DrawLane();
  EXPECT_FLOAT_EQ(WaveformZoom, kDefaultWaveformZoom / 1.2f);
  Input.wheel = 30;
  DrawLane();
  EXPECT_FLOAT_EQ(WaveformZoom, kMinWaveformZoom);
  Input.wheel = -30;
  DrawLane();
  EXPECT_FLOAT_EQ(WaveformZoom, kMaxWaveformZoom);
  MoveTo(500, 110);  // below the lane
  Input.wheel = 1;
  Press(500, 110);  // nor does a press outside touch the deck
  DrawLane();
  EXPECT_FLOAT_EQ(WaveformZoom, kMaxWaveformZoom);
  EXPECT_FALSE(Engine.decks[0].jogTouched);
}

TEST_F(WaveformLane, AnEmptyDeckShowsItsRestingLineAndBadgeButNoPlayhead) {
  DrawLane(kLane, 1, false);
  const uint32_t line = Pixel(200, static_cast<int>(kCy));
  EXPECT_GT(Channel(line, 16), Channel(line, 0) + 20) << "deck B's orange line";
  EXPECT_LT(Brightness(Pixel(static_cast<int>(kCx), 30)), 150);
  int badge = 0;
  for (int y = 27; y < 40; ++y)
    for (int x = 28; x < 41; ++x) badge += Near(Pixel(x, y), Pal.DeckB, 30);
  EXPECT_GT(badge, 60);
}

TEST_F(WaveformLane, TwoDecksWithCuesLoopPhrasesAndSlipLookFinished) {
  Load(0, DanceTrack());
  LoadClicks(1, 30.0);
  for (int deck : {0, 1}) LiveDeckViews[deck].phrases = AnalyzePhrases(*DeckSnapshots[deck].track);
  EXPECT_FALSE(LiveDeckViews[0].phrases.empty()) << "the drops and the break make phrases";
  Place(0, 18.0);
  PressHotCue(0, 0);
  LiveDeckViews[0].hotCueName[0] = L"Drop";
  Place(0, 14.0);
  AddMemoryCue(0);
  Place(0, 15.5);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = Engine.decks[0];
    deck.loopIn = 16.0 * deck.track->sampleRate, deck.loopOut = 17.0 * deck.track->sampleRate, deck.loopOn = true;
    deck.slipOn = true, deck.slipPosition = 13.0 * deck.track->sampleRate;
  }
  Place(1, 7.9);
  BeatPulse[0] = 0.8f, BeatPulse[1] = 0.3f;
  const auto draw = [] {
    DrawWaveform(0, Rc{8, 46, 1584, 66});
    DrawPhaseMeter(Rc{8, 112, 1584, 18});
    DrawWaveform(1, Rc{8, 130, 1584, 66});
    DrawOverview(0, Rc{8, 204, 780, 24});
    DrawOverview(1, Rc{812, 204, 780, 24});
  };
  ASSERT_TRUE(RenderFrameToPng(1600, 240, draw, SamplePath("waveform_two_decks.png")));
  ASSERT_TRUE(RenderFrameToPng(800, 160, [] {
    DrawWaveform(0, Rc{8, 8, 784, 66});
    DrawWaveform(1, Rc{8, 80, 784, 32});
    DrawWaveform(2, Rc{8, 116, 784, 32});
  }, SamplePath("waveform_short_lanes.png")));
  ASSERT_TRUE(RenderFrameToPng(160, 400, [] {  // the upright strips of the vertical layout
    DrawDeckRotated(0, Rc{8, 8, 64, 384});
    DrawDeckRotated(1, Rc{84, 8, 64, 384});
  }, SamplePath("waveform_upright.png")));
  UseCanvas(1600, 240);
  Frame(draw);
  // Lane A is 1584 wide: 8 / 1584 s a pixel around its playhead at x 800 (15.5 s).
  const auto laneX = [](double seconds) { return static_cast<int>(800 + (seconds - 15.5) * 1584 / 8.0); };
  const uint32_t loop = Pixel(laneX(16.6), 49), slip = Pixel(laneX(13.0), 50);
  EXPECT_GT(Channel(loop, 8), Channel(loop, 16) + 15) << "the loop's green wash";
  EXPECT_TRUE(Channel(slip, 16) > Channel(slip, 8) + 30 && Channel(slip, 0) > Channel(slip, 8) + 80) << "Purple slip";
}

// ---- columns and tables ---------------------------------------------------------------------

struct Columns {
  std::vector<float> low, mid, high, scratch;
  explicit Columns(int n) : low(n), mid(n), high(n), scratch(n) {}
  ColumnRange Fill(const std::vector<WavePoint>& points, double pos, double spp, float cx, float amp) {
    return FillBandColumns(points.data(), static_cast<int64_t>(points.size()), pos, spp, 0, cx, amp,
                           static_cast<int>(low.size()), low.data(), mid.data(), high.data(), scratch.data());
  }
};

TEST(WaveformColumns, OnlyColumnsInsideTheTrackHoldItsLoudestPoints) {
  std::vector<WavePoint> points(150, WavePoint{255, 255, 255});  // one second
  Columns c(40);
  // 0.1 s a column, playhead at column 20, 0.5 s (and a quarter point, so no column edge falls on a
  // point edge): columns 15..24 are inside.
  ColumnRange range = c.Fill(points, 0.5 + 0.25 / 150, 0.1, 20, 30);
  EXPECT_EQ(range.first, 15);
  EXPECT_EQ(range.last, 24);
  EXPECT_EQ(c.low[14], -1.0f);
  EXPECT_EQ(c.low[25], -1.0f);
  EXPECT_FLOAT_EQ(c.low[15], 30.0f);
  EXPECT_FLOAT_EQ(c.mid[20], 30.0f * 0.66f);
  EXPECT_FLOAT_EQ(c.high[24], 30.0f * 0.3f);
  EXPECT_LT(c.Fill({}, 1.0, 0.01, 4, 20).last, 0) << "no summary, no columns";

  points.assign(300, WavePoint{});
  points[33] = WavePoint{51, 0, 0};  // both in column 3 (points 30..39 at 1/15 s a column)
  points[36] = WavePoint{102, 0, 255};
  Columns d(10);
  d.Fill(points, 0.0, 1.0 / 15, 0, 10);
  EXPECT_FLOAT_EQ(d.low[3], 102 / 255.0f * 10);
  EXPECT_FLOAT_EQ(d.high[3], 10 * 0.3f);
  EXPECT_FLOAT_EQ(d.low[2], 0.25f * d.low[3]) << "smoothing lifts a neighbour to a quarter of the peak";
  EXPECT_FLOAT_EQ(d.low[6], 0.4f) << "silence is raised to the 0.4 floor";
}

TEST(WaveformColumns, SmoothingFillsDipsAndKeepsPeaksAndEnds) {
  std::vector<WavePoint> points(5);
  for (int i : {0, 2, 4}) points[i].mid = 255;
  Columns c(5);
  c.Fill(points, 0.5 / 150, 1.0 / 150, 0, 100);  // one point a column, edges between points
  EXPECT_FLOAT_EQ(c.mid[0], 66.0f);
  EXPECT_FLOAT_EQ(c.mid[1], 33.0f) << "a dip is filled from both sides";
  EXPECT_FLOAT_EQ(c.mid[2], 66.0f) << "a peak keeps its height";
  EXPECT_FLOAT_EQ(c.mid[4], 66.0f);
}

TEST(WaveformTables, HotCueAndPhraseColours) {
  EXPECT_EQ(HotCueColourOf(1, -1), 0x2BF5A0u) << "no colour number: the slot's default";
  EXPECT_EQ(HotCueColourOf(0, 12), HotCueSlotColours[0]);
  for (int n = 0; n < kHotCueColourCount; ++n) EXPECT_EQ(HotCueColourOf(7, n), HotCueColours[static_cast<size_t>(n)]);
  for (size_t i = 0; i < kPhraseStyles.size(); ++i) {
    EXPECT_EQ(kPhraseStyles[i].kind, static_cast<int32_t>(i)) << "the table is in kind order";
    const char* name = PhraseKindName(static_cast<int32_t>(i));
    EXPECT_EQ(std::wstring(kPhraseStyles[i].label), std::wstring(name, name + std::strlen(name)));
  }
  EXPECT_EQ(PhraseKindColour(0), 0x3BA7FFu);
  EXPECT_EQ(PhraseKindColour(1), Pal.Red);
  EXPECT_EQ(PhraseKindColour(2), Pal.Purple);
  EXPECT_EQ(PhraseKindColour(-4), 0x8C93A6u) << "any other value is an outro";
}

}  // namespace
