// The track overview, the phase meter and the deck status chip on real click tracks loaded
// through LoadTrack: seeking by click and drag, the dimmed played part and markers, the phase
// offset between the side decks, and the chip's line of facts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/settings.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/side_slots.h"
#include "engine/transport.h"
#include "screens/main_screen.h"
#include "screens/overview.h"
#include "screens/waveform.h"
#include "support/click_tracks.h"
#include "ui/offscreen.h"
#include "ui/widget_frames.h"

namespace {

constexpr Rc kStrip{40, 20, 800, 30};                        // the overview
constexpr Rc kMeter{8, 70, 1024, 18};                        // the phase meter
constexpr float kMeterW = 0.3f * 1024, kMeterCx = 520, kMeterCy = 79;

class OverviewScreens : public WidgetFrames {
 protected:
  void SetUp() override {
    WidgetFrames::SetUp();
    ReleaseDevice();
    ASSERT_TRUE(CreateDevice(1040, 100, 1.0f));
    ResetDecksForTest();
    SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
    for (float& pulse : BeatPulse) pulse = 0;
  }
  void TearDown() override {
    ResetDecksForTest();
    WidgetFrames::TearDown();
  }
  // A 40 s click track with an exact 120 BPM grid from 0 s, so beats are known to the hundredth.
  static void LoadClicks(int deck, int32_t key = -1) {
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 40.0;
    ASSERT_TRUE(LoadAndWait(deck, folder.Make(spec)));
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Track& track = *Engine.decks[deck].track;
      track.bpm = 120.0, track.firstBeat = 0.0, track.key = key;
      track.tempoMarkers.clear();
    }
    SnapshotDecks();
  }
  static void SetPosition(int deck, double frames) {
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Engine.decks[deck].position = frames;
    }
    SnapshotDecks();
  }
  static void PlaceAtBeat(int deck, double beat) { SetPosition(deck, beat * 0.5 * 44100); }
  static double Position(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].position;
  }
  static double Frames(int deck) { return static_cast<double>(DeckSnapshots[deck].track->frames); }
  static std::wstring Chip() { return DeckStatusText(0, DeckSnapshots[0].track.get()); }
  static bool Has(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }
  // One frame; without glows flat colours can be compared.
  static void DrawFlat(const std::function<void()>& draw) {
    Frame([&] {
      draw();
      GlowList.clear();
    });
  }
  static bool Near(uint32_t rgb, uint32_t want, int tolerance) {
    for (int shift : {16, 8, 0})
      if (std::abs(Channel(rgb, shift) - Channel(want, shift)) > tolerance) return false;
    return true;
  }
  // The mean x of the pixels on the meter's centre row that show `colour`; -1 when none do.
  static float CentreOf(uint32_t colour) {
    double sum = 0;
    int count = 0;
    for (int x = 0; x < 1040; ++x)
      if (Near(Pixel(x, static_cast<int>(kMeterCy)), colour, 30)) sum += x + 0.5, ++count;
    return count ? static_cast<float>(sum / count) : -1.0f;
  }
};

// ---- overview ------------------------------------------------------------------------------

TEST_F(OverviewScreens, APressSeeksToTheFractionAndADragKeepsSeeking) {
  LoadClicks(0);
  const auto draw = [] { Frame([] { DrawOverview(0, kStrip); }); };
  Press(kStrip.x + 0.25f * kStrip.w, kStrip.CenterY());
  draw();
  EXPECT_EQ(ActiveControlId, 1001);
  EXPECT_NEAR(Position(0), 0.25 * Frames(0), 1.0);
  SetPosition(0, 1000);
  draw();  // holding still does not seek again
  EXPECT_EQ(Position(0), 1000);
  MoveTo(kStrip.x + 0.75f * kStrip.w, kStrip.CenterY());
  draw();
  EXPECT_NEAR(Position(0), 0.75 * Frames(0), 1.0);
  SetPosition(0, 1000);
  MoveTo(Input.x + 0.5f, Input.y);  // under one unit from the last seek
  draw();
  EXPECT_EQ(Position(0), 1000);
  MoveTo(Input.x + 0.6f, Input.y);
  draw();
  EXPECT_NEAR(Position(0), (0.75 * kStrip.w + 1.1) / kStrip.w * Frames(0), 1.0);
  MoveTo(kStrip.Right() + 50, Input.y);  // past the end: the last frame
  draw();
  EXPECT_NEAR(Position(0), Frames(0) - 1, 1.0);
  Release();
  draw();
  Press(kStrip.x, kStrip.CenterY());  // the left edge is the start
  draw();
  EXPECT_EQ(Position(0), 0);
  Release();
  draw();

  // Decks B and D share 1101; an empty deck's overview ignores presses.
  EXPECT_EQ(OverviewControlId(2), 1001);
  EXPECT_EQ(OverviewControlId(3), 1101);
  Press(kStrip.x + 0.5f * kStrip.w, kStrip.CenterY());
  Frame([] { DrawOverview(1, kStrip); });
  EXPECT_EQ(ActiveControlId, kNoActiveControl);
}

TEST_F(OverviewScreens, ThePlayedPartIsDimmedAndMarkersSitWhereTheyBelong) {
  LoadClicks(0);
  PlaceAtBeat(0, 20);  // 10 s of 40
  PressHotCue(0, 3);
  PlaceAtBeat(0, 40);  // half-way
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = Engine.decks[0];
    deck.loopIn = 0.6 * deck.track->frames, deck.loopOut = 0.65 * deck.track->frames, deck.loopOn = true;
  }
  SnapshotDecks();
  DrawFlat([] { DrawOverview(0, kStrip); });
  const int cy = static_cast<int>(kStrip.CenterY()), x = static_cast<int>(kStrip.x);
  int played = 0, ahead = 0;
  for (int i = 0; i < 300; ++i) played += Brightness(Pixel(x + 50 + i, cy)), ahead += Brightness(Pixel(x + 450 + i, cy));
  EXPECT_GT(ahead * 2, played * 3) << "three stacked bands at 0.9 ahead of the playhead, at 0.35 behind it";
  EXPECT_GT(Brightness(Pixel(x + 400, static_cast<int>(kStrip.y) + 3)), 230) << "the white playhead";
  EXPECT_TRUE(Near(Pixel(x + 200, static_cast<int>(kStrip.y) + 1), HotCueSlotColours[3], 25)) << "hot cue 4";
  const uint32_t loop = Pixel(x + 495, static_cast<int>(kStrip.y) + 4);  // between two clicks
  EXPECT_GT(Channel(loop, 8), Channel(loop, 16) + 40) << "the loop's green";
}

// The columns a deck's overview keeps between frames are its own track's at the strip's size: a
// track swapped on the deck, or a strip that changed size and back, draws what a first drawing of
// that track at that size draws.
TEST_F(OverviewScreens, KeptColumnsFollowTheTrackAndTheStripSize) {
  LoadClicks(0);
  PlaceAtBeat(0, 40);
  const auto strip = [] {
    std::vector<uint32_t> pixels;
    for (int y = static_cast<int>(kStrip.y); y < static_cast<int>(kStrip.Bottom()); ++y)
      for (int x = static_cast<int>(kStrip.x); x < static_cast<int>(kStrip.Right()); ++x) pixels.push_back(Pixel(x, y));
    return pixels;
  };
  DrawFlat([] { DrawOverview(0, kStrip); });
  const std::vector<uint32_t> clicks = strip();
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    auto quieter = std::make_shared<Track>(*Engine.decks[0].track);
    for (size_t i = 0; i < quieter->waveform.size(); i += 2) quieter->waveform[i] = WavePoint{};
    Engine.decks[0].track = quieter;
  }
  SnapshotDecks();
  DrawFlat([] { DrawOverview(0, kStrip); });
  const std::vector<uint32_t> swapped = strip();
  EXPECT_NE(swapped, clicks) << "the other track's columns show";
  DrawFlat([] { DrawOverview(0, Rc{kStrip.x, kStrip.y, kStrip.w - 200, kStrip.h + 10}); });
  DrawFlat([] { DrawOverview(0, kStrip); });
  EXPECT_EQ(strip(), swapped) << "a strip drawn narrower and lower between, the same columns";
}

// ---- phase meter ---------------------------------------------------------------------------

TEST(PhaseMeterMaths, OffsetIsTheWrappedDifferenceOfTheBeatFractions) {
  EXPECT_NEAR(PhaseOffsetBeats(3.98, 0.02), 0.04, 1e-9);
  EXPECT_NEAR(PhaseOffsetBeats(0.02, 3.98), -0.04, 1e-9);
  EXPECT_NEAR(PhaseOffsetBeats(10.25, 7.25), 0.0, 1e-9);
  EXPECT_NEAR(PhaseOffsetBeats(-0.9, 0.0), -0.1, 1e-9) << "negative beats use their fraction too";
  EXPECT_EQ(PhaseColour(0.029), Pal.Green);
  EXPECT_EQ(PhaseColour(-0.04), Pal.Yellow);
  EXPECT_EQ(PhaseColour(0.12), Pal.Red);
  EXPECT_EQ(LitBeatDot(3.98), 3);
  EXPECT_EQ(LitBeatDot(-0.5), 3) << "the non-negative remainder";
  EXPECT_EQ(LitBeatDot(-4.0), 0);
  EXPECT_EQ(LitBeatDot(std::nan("")), -1);
}

TEST_F(OverviewScreens, PhaseDotAndBeatDotsShowTheSideDecks) {
  LoadClicks(0);
  LoadClicks(1);
  PlaceAtBeat(0, 3.98);
  PlaceAtBeat(1, 0.02);
  DrawFlat([] { DrawPhaseMeter(kMeter); });
  EXPECT_NEAR(CentreOf(Pal.Yellow), kMeterCx + 0.04f * kMeterW, 1.5f) << "0.04 W right of the centre";
  const float x0 = kMeterCx - kMeterW / 2;
  const auto dot = [](float left, int i) { return Pixel(static_cast<int>(left + 16 * i + 6), static_cast<int>(kMeterCy)); };
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Near(dot(x0 - 80, i), Pal.DeckA, 20), i == 3) << "left deck on the 4th beat, dot " << i;
    EXPECT_EQ(Near(dot(x0 + kMeterW + 20, i), Pal.DeckB, 20), i == 0) << "right deck on the 1st beat, dot " << i;
  }
  PlaceAtBeat(1, 7.99);
  DrawFlat([] { DrawPhaseMeter(kMeter); });
  EXPECT_NEAR(CentreOf(Pal.Green), kMeterCx + 0.01f * kMeterW, 1.5f) << "in phase";
  PlaceAtBeat(1, 0.73);  // 0.75 beat ahead is a quarter beat behind
  DrawFlat([] { DrawPhaseMeter(kMeter); });
  EXPECT_NEAR(CentreOf(Pal.Red), kMeterCx - 0.25f * kMeterW, 1.5f);
  SideSlots[kRightSide] = 3;  // deck D, empty, shown on the right: no offset
  DrawFlat([] { DrawPhaseMeter(kMeter); });
  EXPECT_LT(CentreOf(Pal.Red), 0);
}

// ---- deck status chip ----------------------------------------------------------------------

TEST_F(OverviewScreens, ChipCountsBarsBeatsThePhraseAndTheNextCue) {
  LoadClicks(0, 21);  // A minor
  Settings.Camelot = true;
  EXPECT_EQ(Chip(), L"120.0 BPM  \u2022  8A  \u2022  BAR 1.1  \u2022  PHRASE IN 32");
  Settings.Camelot = false;
  PlaceAtBeat(0, 31.5);  // the last beat of the first phrase
  EXPECT_EQ(Chip(), L"120.0 BPM  \u2022  Am  \u2022  BAR 8.4  \u2022  PHRASE IN 1");
  LiveDeckViews[0].pitchRange = 0.08f, LiveDeckViews[0].tempoFader = 0.0f;  // +8 %
  PlaceAtBeat(0, 37.0);
  EXPECT_EQ(Chip().substr(0, 9), L"129.6 BPM");
  EXPECT_TRUE(Has(Chip(), L"BAR 10.2  \u2022  PHRASE IN 27"));
  EXPECT_EQ(DeckStatusText(0, nullptr), L"");

  PlaceAtBeat(0, 4.0);  // 2.0 s
  LiveDeckViews[0].memoryCues = {2.005};  // 0.01 s ahead or closer counts as passed
  EXPECT_FALSE(Has(Chip(), L"CUE IN"));
  LiveDeckViews[0].memoryCues = {2.005, 5.5};
  EXPECT_TRUE(Has(Chip(), L"  \u2022  CUE IN 1.4")) << "7 beats ahead";
  PlaceAtBeat(0, 8.5);
  PressHotCue(0, 0);
  PlaceAtBeat(0, 6.5);
  EXPECT_TRUE(Has(Chip(), L"CUE IN 0.3")) << "the hot cue 2 beats ahead comes first";
  DeleteHotCue(0, 0);
  LiveDeckViews[0].memoryCues = {2.0 + 128.0};
  PlaceAtBeat(0, 4.0);
  EXPECT_FALSE(Has(Chip(), L"CUE IN")) << "256 beats ahead";
  PlaceAtBeat(0, 4.5);
  EXPECT_TRUE(Has(Chip(), L"CUE IN 63.4")) << "255.5 beats ahead";

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track->firstBeat = 4.0;
    Engine.decks[0].track->key = -1;
  }
  LiveDeckViews[0].memoryCues.clear();
  EXPECT_EQ(Chip(), L"129.6 BPM") << "no bar before the first beat, no key text without a key";
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track->firstBeat = 0.0;
    Engine.decks[0].track->bpm = 0.0;  // a held tone: no tempo
    Engine.decks[0].track->key = 21;
  }
  LiveDeckViews[0].tempoFader = 0.5f;
  EXPECT_EQ(Chip(), L"Am") << "no tempo: no \"0.0 BPM\", and no bars to count";
}

TEST_F(OverviewScreens, ChipNamesTheStemState) {
  LoadClicks(0);
  DeckView& view = LiveDeckViews[0];
  view.stemsRunning = true;
  view.stemProgress->store(0.416f);
  EXPECT_TRUE(Has(Chip(), L"  \u2022  STEMS 42%"));
  view.stemsRunning = false;
  view.stemsReady = true;
  EXPECT_TRUE(Has(Chip(), L"  \u2022  STEMS \u2713"));
  view.stemOn[1] = view.stemOn[3] = false;
  EXPECT_TRUE(Has(Chip(), L"  \u2022  MUTED: DRUMS MELODY"));
  view.stemOn = {true, true, true, true};
  view.stemPreset = 1;  // vocals only
  EXPECT_TRUE(Has(Chip(), L"MUTED: DRUMS BASS MELODY"));
  view.stemPreset = 2;  // no vocals
  EXPECT_EQ(Chip().substr(Chip().find(L"MUTED")), L"MUTED: VOCALS");
  view.stemsReady = false;
  EXPECT_FALSE(Has(Chip(), L"STEMS") || Has(Chip(), L"MUTED"));
}

TEST_F(OverviewScreens, ChipGrowsWithItsTextBesideTheBadge) {
  LoadClicks(0);
  PlaceAtBeat(0, 9.0);
  const auto inkRight = [] {
    int right = 0;
    for (int x = 40; x < 1040; ++x)
      for (int y = 6; y < 20; ++y)
        if (Brightness(Pixel(x, y)) > 150) right = x;
    return right;
  };
  DrawFlat([] { DrawDeckStatus(0, Rc{0, 0, 1000, 66}, nullptr); });
  EXPECT_LT(inkRight(), 40) << "no text without a track";
  EXPECT_TRUE(Near(Pixel(10, 13), Pal.DeckA, 30)) << "the badge";
  DrawFlat([] { DrawDeckStatus(0, Rc{0, 0, 1000, 66}, DeckSnapshots[0].track.get()); });
  EXPECT_NEAR(inkRight(), 27 + TextWidth(Chip(), 9.5f, true, kFontBahnschrift), 8) << "the text runs from x + 27";
}

}  // namespace
