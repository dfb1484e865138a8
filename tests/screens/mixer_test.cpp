// The mixer panel driven by scripted mouse frames: strip and master controls reach the DeckViews
// and the master-section values, the per-frame publish carries them into the engine, and the
// real render follows the cross-fader; meters, CLIP and LIMIT are checked in the frame's pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/publish_controls.h"
#include "base/settings.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/render.h"
#include "engine/side_slots.h"
#include "engine/stems.h"
#include "platform/clock.h"
#include "screens/mixer.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "tests/ui/widget_frames.h"
#include "ui/offscreen.h"
#include "ui/status_line.h"
#include "ui/text_log.h"

namespace {

constexpr double kPi = 3.141592653589793;

// The panel and the points the layout rules put its controls at.
constexpr Rc kPanel{140, 14, 360, 372};
constexpr float kBottom = 386;
constexpr float kCxm = 320;                       // x + (w - 100) / 2 + 50
constexpr float kLeftKx = 174, kRightKx = 466;    // knob columns
constexpr float kLeftFaderX = 218, kRightFaderX = 380;
constexpr float kRow = 48.4f;                      // (bottom row - 8 - y0) / 5
constexpr float kKnobR = 11.7f;                    // (row - 25) / 2
constexpr float RowY(int n) { return 46 + (n + 0.5f) * kRow - 6; }
constexpr float kFaderTop = 46 + 11, kFaderTravel = 242 - 22;  // cap centre range
constexpr float FaderCapY(float v) { return kFaderTop + (1 - v) * kFaderTravel; }
constexpr float kButtonRowY = 296 + 13;
constexpr float kXFaderLeft = 184 + 13, kXFaderTravel = 272 - 26, kXFaderY = 355;
constexpr float kGlideAX = 166, kGlideBX = 474, kGlideY = 355;

std::wstring SamplePath(const char* name) {
  const char* dir = std::getenv("VELDMIX_SAMPLE_DIR");
  const std::string path = (dir && *dir ? std::string(dir) + "/" : ::testing::TempDir()) + name;
  return std::wstring(path.begin(), path.end());
}

class MixerTest : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ResetMixer();
  }
  void TearDown() override {
    ResetMixer();
    WidgetFrames::TearDown();
  }
  static void ResetMixer() {
    ResetDecksForTest();
    MasterSection = MasterSectionValues{};
    CrossfaderPosition = 0.5f;
    XfGlide = CrossfaderGlide{};
    Meters = MixMeters{};
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    Settings.Limiter = true;
    Settings.XfCurve = 0;
    Settings.XfReverse = false;
    Status = StatusLine{};
    Engine.booth.wanted.store(false);
    Engine.boothOnMaster = false;
  }
  static void DrawPanel() { Frame([] { DrawMixer(kPanel); }); }
  // A full press-move-release on the panel, one frame each.
  static void Drag(float x0, float y0, float x1, float y1) {
    Press(x0, y0);
    DrawPanel();
    MoveTo(x1, y1);
    DrawPanel();
    Release();
    DrawPanel();
  }
  static void Click(float x, float y) {
    Press(x, y);
    DrawPanel();
    Release();
    DrawPanel();
  }
  static void RightClick(float x, float y) {
    MoveTo(x, y);
    Input.rightPressed = true;
    DrawPanel();
  }
  // The per-frame publish step, as the tick runs it.
  static void Publish() { DemoTickAt(MonotonicMs()); }
  TempHome home_;
};

TEST_F(MixerTest, StripAndMasterControlsReachTheViewsAndTheEngine) {
  Drag(kLeftFaderX + 21, FaderCapY(0.8f), kLeftFaderX + 21, FaderCapY(0.8f) + 110);  // half the travel down
  Drag(kLeftKx, RowY(1), kLeftKx, RowY(1) - 45);  // a quarter of a knob's 180-DIP range
  Drag(kRightKx, RowY(4), kRightKx, RowY(4) + 45);  // the filter spans -1..1
  Drag(kCxm, 58, kCxm, 58 + 36);
  Drag(kCxm - 24, kBottom - 144, kCxm - 24, kBottom - 144 - 90);
  Press(kRightKx, RowY(0), true);  // a double click resets GAIN
  LiveDeckViews[1].gain = 0.9f;
  DrawPanel();
  Release();
  DrawPanel();
  Publish();
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_NEAR(Engine.decks[0].fader, 0.3f, 1e-4f);
  EXPECT_NEAR(Engine.decks[0].eqHigh, 0.75f, 1e-4f);
  EXPECT_NEAR(Engine.decks[1].filter, -0.5f, 1e-4f);
  EXPECT_FLOAT_EQ(Engine.decks[1].gain, 0.5f);
  EXPECT_NEAR(Engine.masterVolume, 0.6f, 1e-4f);
  EXPECT_NEAR(Engine.headphoneMix, 0.5f, 1e-4f);
}

TEST_F(MixerTest, StripsFollowTheSideSlotsAndShareIdsPerSide) {
  SideSlots[kLeftSide] = 2, SideSlots[kRightSide] = 3;
  Drag(kLeftFaderX + 21, FaderCapY(0.8f), kLeftFaderX + 21, FaderCapY(0.8f) + 55);
  EXPECT_NEAR(LiveDeckViews[2].fader, 0.55f, 1e-4f) << "the left strip shows deck C";
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.8f);
  absolutePositions[StripControlId(kRightSide, kStripLow)] = 0.1f;  // a controller's LOW, right side
  DrawPanel();
  EXPECT_NEAR(LiveDeckViews[3].eqLow, 0.1f, 1e-6f);
}

TEST_F(MixerTest, RightClickKillsAndRestoresABandAndAMovedKnobForgetsTheKill) {
  DeckView& view = LiveDeckViews[0];
  const int dotX = static_cast<int>(kLeftKx + kKnobR + 1), dotY = static_cast<int>(RowY(1) - kKnobR - 1);
  view.eqHigh = 0.7f;
  RightClick(kLeftKx, RowY(1));
  EXPECT_FLOAT_EQ(view.eqHigh, 0.0f);
  EXPECT_GT(Channel(Pixel(dotX, dotY), 16), 200) << "the red kill dot";
  RightClick(kLeftKx, RowY(1));
  EXPECT_FLOAT_EQ(view.eqHigh, 0.7f);
  EXPECT_LT(Channel(Pixel(dotX, dotY), 16), 150) << "no dot once restored";

  RightClick(kLeftKx, RowY(1));
  Drag(kLeftKx, RowY(1), kLeftKx, RowY(1) + 30);  // held at exactly 0: still killed
  EXPECT_FLOAT_EQ(view.eqKillMemory[0], 0.7f);
  // Moved away from 0 the kill is forgotten in that very frame, dot and all.
  Press(kLeftKx, RowY(1));
  DrawPanel();
  MoveTo(kLeftKx, RowY(1) - 36);
  DrawPanel();
  EXPECT_NEAR(view.eqHigh, 0.2f, 1e-4f);
  EXPECT_FLOAT_EQ(view.eqKillMemory[0], -1.0f);
  EXPECT_LT(Channel(Pixel(dotX, dotY), 16), 150);
  Release();
  DrawPanel();
  view.eqHigh = 0.4f;  // moved by a key or controller: a new kill starts from there
  RightClick(kLeftKx, RowY(1));
  EXPECT_FLOAT_EQ(view.eqHigh, 0.0f);
  EXPECT_FLOAT_EQ(view.eqKillMemory[0], 0.4f);
}

// Each strip label sits with its own knob, clearly apart from the knob below, and a right-click
// anywhere on an EQ band's word kills the band it names.
TEST_F(MixerTest, EachKnobLabelSitsWithItsKnobAndARightClickOnItKillsThatBand) {
  std::vector<DrawnText> texts;
  DrawnTextLog = &texts;
  DrawPanel();
  DrawnTextLog = nullptr;
  const wchar_t* const names[] = {L"GAIN", L"HIGH", L"MID", L"LOW", L"FILTER"};
  constexpr float kRingOuter = kKnobR + 5 + 1.75f;  // the ring's outer edge
  for (int n = 0; n < 5; ++n) {
    const auto label = std::find_if(texts.begin(), texts.end(),
                                    [&](const DrawnText& t) { return t.text == names[n] && t.box.x < kCxm; });
    ASSERT_NE(label, texts.end()) << "no label " << n;
    const float inkTop = label->box.CenterY() - 0.45f * label->size, inkBottom = label->box.CenterY() + 0.45f * label->size;
    const float above = inkTop - (RowY(n) + kKnobR);  // from its own knob's body
    EXPECT_GE(above, 0) << "label " << n << " is drawn over its knob";
    if (n < 4) {
      const float below = (RowY(n + 1) - kRingOuter) - inkBottom;  // to the ring of the knob below
      EXPECT_GE(below, 5) << "label " << n << " touches the next knob";
      EXPECT_LT(above, below) << "label " << n << " sits nearer the knob below than its own";
    }
  }
  const float memory[3] = {0.7f, 0.6f, 0.55f};
  for (int band = 0; band < 3; ++band) {
    const auto label = std::find_if(texts.begin(), texts.end(),
                                    [&](const DrawnText& t) { return t.text == names[band + 1] && t.box.x < kCxm; });
    ASSERT_NE(label, texts.end());
    for (const float dy : {-0.4f, 0.0f, 0.4f}) {  // the word's top, middle and bottom
      DeckView& view = LiveDeckViews[0];
      view.eqHigh = memory[0], view.eqMid = memory[1], view.eqLow = memory[2];
      for (float& m : view.eqKillMemory) m = -1;
      RightClick(kLeftKx, label->box.CenterY() + dy * label->size);
      const float values[3] = {view.eqHigh, view.eqMid, view.eqLow};
      for (int b = 0; b < 3; ++b)
        EXPECT_FLOAT_EQ(values[b], b == band ? 0.0f : memory[b]) << "right-click on " << band << " at " << dy;
    }
  }
}

TEST_F(MixerTest, ModeLabelStepsTheColourEffectAndSaysSo) {
  const float labelY = RowY(4) + kKnobR + 4 + 8;
  Input.shiftHeld = true;
  Click(kLeftKx, labelY);
  Input.shiftHeld = false;
  EXPECT_EQ(LiveDeckViews[0].colorFx, 5) << "Shift steps back from FILTER to ECHO";
  EXPECT_EQ(Status.text, L"Deck A colour FX: ECHO \u2014 turn the knob either way from the middle");
  Click(kLeftKx, labelY);
  EXPECT_EQ(Status.text, L"Deck A colour FX: FILTER");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].filter, 0.0f) << "the label does not turn the knob";
  LiveDeckViews[1].colorFx = 42;  // out of range: clamped to ECHO, then stepped
  DrawPanel();
  EXPECT_EQ(LiveDeckViews[1].colorFx, 5);
  Click(kRightKx, labelY);
  EXPECT_EQ(LiveDeckViews[1].colorFx, kColorFxFilter);
  EXPECT_EQ(StepColorFx(2, -13), 1);
  EXPECT_EQ(StepColorFx(-4, -1), 5);
}

TEST_F(MixerTest, VoxInstAndCueButtons) {
  const DeckView& view = LiveDeckViews[0];
  // No stem engine beside the program: turning VOX or INST on says why no stems do it.
  const TempHome empty;
  const std::wstring programFolder = StemProgramFolder();
  SetStemProgramFolder(empty.wpath());
  const std::wstring why = L"Stems for deck A: Stems need ONNX Runtime, which is not included with Veldmix: put "
                           L"libonnxruntime.so.1 in " + empty.wpath();
  Status.text.clear();
  Click(kLeftKx - 16, kButtonRowY);  // VOX
  EXPECT_EQ(view.stemPreset, kStemPresetVocals);
  EXPECT_EQ(Status.text, why);
  Status.text.clear();
  Click(kLeftKx + 16, kButtonRowY);  // INST while VOX is lit
  EXPECT_EQ(view.stemPreset, kStemPresetInstrumental);
  EXPECT_EQ(Status.text, why);
  Status.text.clear();
  Click(kLeftKx + 16, kButtonRowY);
  EXPECT_EQ(view.stemPreset, kStemPresetNone) << "the lit one again returns to none";
  EXPECT_TRUE(Status.text.empty()) << "turning off needs no reason";
  SetStemProgramFolder(programFolder);
  Click(kLeftKx - 16, kButtonRowY);
  Click(kLeftKx - 16, kButtonRowY);
  EXPECT_EQ(view.stemPreset, kStemPresetNone);
  Click(kRightFaderX + 21, kButtonRowY);
  Publish();
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  EXPECT_TRUE(Engine.decks[1].cue);
  EXPECT_FALSE(Engine.decks[0].cue);
}

TEST_F(MixerTest, SamplerKnobSitsCentredWithoutABoothAndBoothAppearsWithOne) {
  Drag(kCxm, kBottom - 94, kCxm, kBottom - 94 + 36);
  EXPECT_NEAR(MasterSection.samplerLevel, 0.6f, 1e-4f);
  EXPECT_EQ(controlKinds.count(kBoothLevelId), 0u);
  Engine.boothOnMaster = true;
  Drag(kCxm + 24, kBottom - 94, kCxm + 24, kBottom - 94 + 72);
  EXPECT_NEAR(MasterSection.boothLevel, 0.4f, 1e-4f);
  Drag(kCxm - 24, kBottom - 94, kCxm - 24, kBottom - 94 - 18);
  EXPECT_NEAR(MasterSection.samplerLevel, 0.7f, 1e-4f);
  Engine.boothOnMaster = false;
  Engine.booth.wanted.store(true);  // its own device counts too
  controlKinds.clear();
  DrawPanel();
  EXPECT_EQ(controlKinds.count(kBoothLevelId), 1u);
}

TEST_F(MixerTest, GlideButtonsStartAndRestartTheGlide) {
  Click(kGlideAX, kGlideY);
  EXPECT_TRUE(XfGlide.active);
  EXPECT_FLOAT_EQ(XfGlide.target, 0.0f);
  EXPECT_TRUE(controlLights[kGlideToAId]);
  CrossfaderPosition = 0.35f;  // the tick has moved it part of the way
  pressedIds.insert(kGlideToBId);  // B from a controller
  DrawPanel();
  EXPECT_FLOAT_EQ(XfGlide.target, 1.0f);
  EXPECT_FLOAT_EQ(XfGlide.start, 0.35f) << "restarts from where the cross-fader is";
  EXPECT_NEAR(XfGlide.startTime, MonotonicSeconds(), 1.0);
}

TEST_F(MixerTest, ClipLightAndLimiterBar) {
  const int clipX = static_cast<int>(kCxm - 16), clipY = static_cast<int>(kBottom - 191);
  const int barY = static_cast<int>(kBottom - 177);
  DrawPanel();
  EXPECT_LT(Channel(Pixel(clipX, clipY), 16), 90) << "the unlit CLIP box is a faint red";
  Meters.clipUntilMs = MonotonicMs() + 60000;
  Meters.limiterDb = 3.0f;  // a quarter of full scale: the bar's right quarter
  DrawPanel();
  EXPECT_GT(Channel(Pixel(clipX, clipY), 16), 200);
  EXPECT_GT(Channel(Pixel(static_cast<int>(kCxm + 22), barY), 8), 150) << "Yellow";
  EXPECT_LT(Brightness(Pixel(static_cast<int>(kCxm - 10), barY)), 90);
  Settings.Limiter = false;
  DrawPanel();
  EXPECT_LT(Brightness(Pixel(static_cast<int>(kCxm + 22), barY)), 60) << "no LIMIT bar with the limiter off";
  EXPECT_GT(Channel(Pixel(clipX, clipY), 16), 200) << "CLIP still works";
}

TEST_F(MixerTest, MetersShowTheDecksAndTheMasterFromTheRender) {
  // Meter columns: L, master left, master right, R; the lowest segment ends at bottom - 202.
  const int meterX[4] = {299, 313, 327, 341};
  const int lowestY = static_cast<int>(kBottom - 203);
  auto sine = std::make_shared<Track>();
  sine->sampleRate = kTestRate;
  sine->frames = kTestRate * 2;
  sine->samples.resize(sine->frames * 2);
  for (uint64_t i = 0; i < sine->frames; ++i)
    sine->samples[2 * i] = sine->samples[2 * i + 1] = 0.3f * static_cast<float>(std::sin(2 * kPi * 440.0 * i / kTestRate));
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = sine;
    Engine.decks[0].playing = true;
  }
  Publish();
  RenderPeriods(20);
  Publish();
  DrawPanel();
  for (int i = 0; i < 3; ++i) EXPECT_GT(Channel(Pixel(meterX[i], lowestY), 8), 150) << "meter " << i;
  EXPECT_LT(Channel(Pixel(meterX[3], lowestY), 8), 60) << "deck B is silent";
}

// The cross-fader dragged with the mouse, published, and heard in the real render of two decks.
class CrossfaderMix : public MixerTest {
 protected:
  static constexpr double kHzA = 440.0, kHzB = 1000.0;
  static constexpr float kLevel = 0.2f;

  static TrackPtr Tone(double hz) {
    auto track = std::make_shared<Track>();
    track->sampleRate = kTestRate;
    track->frames = kTestRate * 30;
    track->samples.resize(track->frames * 2);
    for (uint64_t i = 0; i < track->frames; ++i)
      track->samples[2 * i] = track->samples[2 * i + 1] =
          kLevel * static_cast<float>(std::sin(2 * kPi * hz * static_cast<double>(i) / kTestRate));
    return track;
  }
  void SetUp() override {
    MixerTest::SetUp();
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < 2; ++d) {
      Engine.decks[d].track = Tone(d == 0 ? kHzA : kHzB);
      Engine.decks[d].playing = true;
    }
    LiveDeckViews[0].fader = LiveDeckViews[1].fader = 1.0f;
  }
  // The amplitude of one frequency in the left channel of the last 0.2 s of a 0.6 s render.
  static double AmplitudeAt(const std::vector<float>& out, double hz) {
    const size_t frames = out.size() / 2, from = frames - kTestRate / 5;
    double re = 0, im = 0;
    for (size_t i = from; i < frames; ++i) {
      const double phase = 2 * kPi * hz * static_cast<double>(i) / kTestRate;
      re += out[2 * i] * std::cos(phase);
      im += out[2 * i] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / static_cast<double>(frames - from);
  }
  struct Heard {
    double a, b;
  };
  static Heard Listen() {
    Publish();
    const std::vector<float> out = RenderPeriods(60);
    return {AmplitudeAt(out, kHzA), AmplitudeAt(out, kHzB)};
  }
  // Drags the cap from where it is by dx DIPs.
  static void DragCrossfader(float dx) {
    const float capX = kXFaderLeft + kXFaderTravel * CrossfaderPosition;
    Drag(capX, kXFaderY, capX + dx, kXFaderY);
  }
};

TEST_F(CrossfaderMix, EachSideFollowsTheCurveAtTheDraggedPosition) {
  const Heard centre = Listen();
  EXPECT_GT(centre.a, 0.1);
  EXPECT_NEAR(centre.b / centre.a, 1.0, 0.05) << "both sides full in the middle";
  DragCrossfader(-kXFaderTravel / 4);  // to 0.25
  const Heard quarter = Listen();
  EXPECT_NEAR(quarter.a / centre.a, 1.0, 0.03);
  EXPECT_NEAR(quarter.b / centre.b, 0.5, 0.03);
  DragCrossfader(-kXFaderTravel);  // hard left, clamped
  EXPECT_LT(Listen().b, centre.b * 0.01) << "side B closed";
  DragCrossfader(kXFaderTravel);
  EXPECT_LT(Listen().a, centre.a * 0.01) << "side A closed";

  Settings.XfCurve = 2;  // constant power at 0.25: sin / cos of a quarter of a quarter turn
  DragCrossfader(-kXFaderTravel * 3 / 4);
  const Heard power = Listen();
  EXPECT_NEAR(power.b / power.a, std::tan(0.25 * kPi / 2), 0.02);
  Settings.XfCurve = 1;  // cut: open between its ends, a ramp inside them
  DragCrossfader(-kXFaderTravel * 0.22f);
  const Heard cut = Listen();
  EXPECT_NEAR(cut.b / cut.a, 0.5, 0.03);
}

TEST_F(MixerTest, DrawsTheFullPanelAndAShortOne) {
  LiveDeckViews[0].meterLevel = 0.5f;
  LiveDeckViews[1].meterLevel = 0.9f;
  Meters.masterLeft = 0.7f, Meters.masterRight = 0.65f;
  Meters.limiterDb = 4.0f;
  Meters.clipUntilMs = MonotonicMs() + 60000;
  LiveDeckViews[0].eqHigh = 0.0f, LiveDeckViews[0].eqKillMemory[0] = 0.6f;
  LiveDeckViews[1].colorFx = 2;
  LiveDeckViews[1].filter = 0.4f;
  LiveDeckViews[0].stemPreset = kStemPresetVocals;
  LiveDeckViews[1].headphoneCue = true;
  CrossfaderPosition = 0.3f;
  XfGlide = CrossfaderGlide{.active = true, .start = 0.5f, .target = 0.0f, .startTime = MonotonicSeconds()};
  ASSERT_TRUE(RenderFrameToPng(kWidth, kHeight, [] { DrawMixer(kPanel); }, SamplePath("mixer_full.png")));
  Engine.boothOnMaster = true;
  ASSERT_TRUE(RenderFrameToPng(kWidth, kHeight, [] { DrawMixer(kPanel); }, SamplePath("mixer_booth.png")));
  // Lower than the meters need: they are left out; the controls still work.
  constexpr Rc kShort{140, 10, 360, 250};
  ASSERT_TRUE(RenderFrameToPng(kWidth, kHeight, [] { DrawMixer(kShort); }, SamplePath("mixer_short.png")));
  Press(kShort.x + 130 - 31, kShort.y + 32 + 11 + (1 - LiveDeckViews[0].fader) * (250 - 90 - 8 - 32 - 22));
  Frame([] { DrawMixer(kShort); });
  MoveTo(Input.x, Input.y + 9.8f);  // a tenth of the 98-DIP travel
  Frame([] { DrawMixer(kShort); });
  Release();
  Frame([] { DrawMixer(kShort); });
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.7f, 1e-4f);
  // CLIP would sit on the master knob there: it is left out rather than drawn over it.
  const uint32_t clipSpot = Pixel(static_cast<int>(kCxm - 16), static_cast<int>(kShort.Bottom() - 191));
  EXPECT_FALSE(Channel(clipSpot, 16) > 200 && Channel(clipSpot, 8) < 120) << "no lit CLIP box";
}

}  // namespace
