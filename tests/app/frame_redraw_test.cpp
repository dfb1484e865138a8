// Frames drawn only when what the screen shows changed: one scripted session (tracks loaded,
// playing, pausing, a status message, hovering, dragging the cross-fader, the settings and help
// screens, a resize, another layout) run twice, once drawing every frame and once drawing only
// what changed; at every step the window must show the very same pixels, and a screen left alone
// must draw nothing. Second-screen windows (the visualiser, the karaoke screen) open, draw every
// frame and close beside it on SDL's headless video driver: they redraw in full on their own
// timers, and the main window's drawn-when-changed frames must not notice them. Last, both decks
// play over a browser full of rows that is scrolled, hovered and searched meanwhile: frames that
// keep the browser's pixels must not show a stale one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mix_meters.h"
#include "engine/mixer_controls.h"
#include "karaoke/karaoke_window.h"
#include "library/track_sort.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/second_window.h"
#include "platform/window.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/slim_layout.h"
#include "screens/top_bar.h"
#include "screens/visualiser_toggle.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/kept_images.h"
#include "ui/modal.h"

namespace {

constexpr int kTrackRate = 44100;
constexpr double kFramesPerTick = 0.015 * kTrackRate;  // a deck's advance per frame while it plays
constexpr int kStepFrames = 6;                // timer frames after each step's action
constexpr int kLongStatusMs = 600000;

TrackPtr RedrawTrack(double bpm, const wchar_t* title) {
  auto track = std::make_shared<Track>();
  track->sampleRate = kTrackRate;
  track->frames = static_cast<uint64_t>(240.0 * kTrackRate);
  track->bpm = bpm;
  track->firstBeat = 0.1;
  track->title = title;
  track->key = 4;
  track->waveform.resize(static_cast<size_t>(240 * 150 + 1));
  for (size_t i = 0; i < track->waveform.size(); ++i)
    track->waveform[i] = WavePoint{static_cast<uint8_t>((i * 37) % 255), static_cast<uint8_t>((i * 11) % 200),
                                   static_cast<uint8_t>((i * 5) % 120)};
  return track;
}

struct Step {
  const char* name;
  std::function<void(FrameWindow*)> act;
  int frames = kStepFrames;
};

struct SessionRun {
  std::vector<std::vector<uint32_t>> shots;  // what the window shows after each step
  std::vector<uint64_t> drawn;               // frames drawn during each step
  std::vector<uint64_t> kept;                // of them, frames that kept the browser's area
  int secondFrames = 0;                      // frames the second-screen windows showed
};

class FrameRedraw : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Settings;
    TestMode = true;
    // The runs compared are drawn at different moments: the bar's clock must not move between
    // them, however slowly a busy machine runs them.
    TopBarClockHook = [] { return LocalTime{2026, 5, 4, 21, 37, 0, 0}; };
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::wstring error;
    windowing_ = StartWindowing(&error);
    // A window's own image: a part of a frame changes only its pixels.
    SetFramePresenter([this](const PixelView& v, const PixelBox& changed) {
      presented_.push_back(changed);
      if (v.width != shownWidth_ || shown_.size() != static_cast<size_t>(v.width) * v.height) {
        shown_.assign(static_cast<size_t>(v.width) * v.height, 0);
        shownWidth_ = v.width;
      }
      for (int y = std::max(0, changed.y0); y < std::min(v.height, changed.y1); ++y)
        for (int x = std::max(0, changed.x0); x < std::min(v.width, changed.x1); ++x)
          shown_[static_cast<size_t>(y) * v.width + x] = v.pixels[static_cast<size_t>(y) * v.stride + x];
      return true;
    });
  }
  void TearDown() override {
    CloseAllSecondWindows();
    if (windowing_) StopWindowing();
    Reset();
    SetFramePresenter(nullptr);
    ReleaseDevice();
    FullRedraw = false;
    Settings = saved_;
    TopBarClockHook = NowLocal;
    TestMode = false;
  }

  static void Reset() {
    ResetDecksForTest();
    for (float& pulse : BeatPulse) pulse = 0.0f;
    // What earlier renders left in the meters' atomics would light the first run's meters only.
    for (DeckState& deck : Engine.decks) deck.peak.store(0.0f);
    for (auto& band : Engine.spectrum) band.store(0.0f);
    Engine.masterPeakL.store(0.0f), Engine.masterPeakR.store(0.0f), Engine.inputPeak.store(0.0f);
    Engine.limiterReductionDb.store(0.0f), Engine.loadPeak.store(0.0f), Engine.clipped.store(false);
    Engine.dropouts.store(0);  // a recent dropout blinks with the wall clock, unlike in the other run
    for (DeckView& view : LiveDeckViews) view.meterLevel = 0.0f;
    Meters = MixMeters{};
    CrossfaderPosition = 0.5f;
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
    pressedIds.clear();
    releasedIds.clear();
    absolutePositions.clear();
    Status = StatusLine{};
    SettingsOpen = HelpOpen = false;
    ViewItems.clear();
    SearchText.clear();
    SortColumn = kSortSourceOrder;
    Selection = -1;
    ScrollRow = 0;
    RebuildView();
    Settings.Layout = kLayoutFull;
    Settings.FourDecks = Settings.Vertical = false;
  }

  // An event as the message loop hands it over: the screen hears of it and the input changes.
  static void Mouse(float x, float y, bool press, bool release) {
    NoteWindowEvent(press ? WindowEventKind::LeftDown : release ? WindowEventKind::LeftUp : WindowEventKind::MouseMove);
    Input.x = x, Input.y = y;
    if (press) Input.pressed = Input.held = true;
    if (release) Input.held = false, Input.released = true;
  }

  static void Play(int deck, bool on) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].playing = on;
  }

  // The audio side, which no output runs here: playing decks move.
  static void Advance() {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (DeckState& deck : Engine.decks)
      if (deck.playing) deck.position += kFramesPerTick;
  }

  std::vector<Step> Session() const {
    const Rc mixer = ComputeLayout(1400, 900, kLayoutFull, false, false).mixer;
    return {
        {"loaded and paused",
         [](FrameWindow*) {
           std::lock_guard<RealtimeMutex> lock(Engine.lock);
           Engine.decks[0].track = RedrawTrack(124.0, L"First Track");
           Engine.decks[1].track = RedrawTrack(128.0, L"Second Track");
           Engine.decks[1].position = 30.0 * kTrackRate;
         }},
        {"left alone", [](FrameWindow*) {}},
        {"deck A plays", [](FrameWindow*) { Play(0, true); }, 9},
        {"both play", [](FrameWindow*) { Play(1, true); }, 5},
        {"both paused, the pulses settled", [](FrameWindow*) { Play(0, false), Play(1, false); }, 90},
        {"left alone again", [](FrameWindow*) {}},
        {"a status message", [](FrameWindow*) { ShowStatus(L"Loaded \u201cFirst Track\u201d", kLongStatusMs); }},
        {"hovering the mixer", [mixer](FrameWindow*) { Mouse(mixer.CenterX(), mixer.y + 120, false, false); }},
        {"the cross-fader grabbed",
         [mixer](FrameWindow*) { Mouse(mixer.CenterX(), mixer.Bottom() - 31, true, false); }, 2},
        {"and dragged", [mixer](FrameWindow*) { Mouse(mixer.CenterX() + 40, mixer.Bottom() - 31, false, false); }, 2},
        {"and let go", [mixer](FrameWindow*) { Mouse(mixer.CenterX() + 40, mixer.Bottom() - 31, false, true); }},
        {"the settings screen", [](FrameWindow*) { SettingsOpen = true; }},
        {"the help screen", [](FrameWindow*) { SettingsOpen = false, HelpOpen = true; }},
        {"closed", [](FrameWindow*) { HelpOpen = false; }},
        {"a larger window", [](FrameWindow* w) { w->pixelWidth = 1600, w->pixelHeight = 1000; }},
        {"another layout", [](FrameWindow*) { Settings.Layout = NextLayout(Settings.Layout); }},
        {"the status gone", [](FrameWindow*) { Status = StatusLine{}; }},
        {"the visualiser opens beside it", [](FrameWindow*) { ToggleVisualiser(); }},
        {"and the karaoke screen", [](FrameWindow*) { OpenKaraokeWindow(); }},
        {"deck A plays under them", [](FrameWindow*) { Play(0, true); }, 9},
        {"paused, the pulses settled", [](FrameWindow*) { Play(0, false); }, 90},
        {"the karaoke screen closes", [](FrameWindow*) { CloseKaraokeWindow(); }},
        {"and the visualiser", [](FrameWindow*) { ToggleVisualiser(); }},
        {"left alone with them gone", [](FrameWindow*) {}},
        {"a browser full of rows",
         [](FrameWindow*) {
           Settings.Layout = kLayoutFull;
           for (uint32_t i = 0; i < 60; ++i)
             ViewItems.push_back({.path = L"/music/row" + std::to_wstring(i) + L".wav",
                                  .title = L"Row " + std::to_wstring(i), .index = i});
           RebuildView();
           NoteScreenEvent();
         }},
        {"both play over it", [](FrameWindow*) { Play(0, true), Play(1, true); }, 9},
        {"it scrolls as they play",
         [](FrameWindow* w) {
           Mouse(w->pixelWidth / 2.0f, w->pixelHeight - 60.0f, false, false);
           Input.wheel = -2.0f;
         }, 9},
        {"a row hovered as they play", [](FrameWindow* w) { Mouse(w->pixelWidth / 2.0f, w->pixelHeight - 90.0f, false, false); }, 9},
        {"searched as they play",
         [](FrameWindow*) {
           SearchText = L"Row 1";
           RebuildView();
         }, 9},
        {"the mouse gone, the search cleared as they play",
         [](FrameWindow*) {
           Mouse(-100, -100, false, false);
           Input.x = Input.y = -100;
         }, 4},
        {"and cleared without an event",
         [](FrameWindow*) {
           SearchText.clear();
           RebuildView();
         }, 9},
        {"paused over the browser", [](FrameWindow*) { Play(0, false), Play(1, false); }, 90},
    };
  }

  SessionRun RunSession(bool fullRedraw) {
    Reset();
    ReleaseDevice();
    FullRedraw = fullRedraw;
    SessionRun run;
    FrameWindow window{1400, 900, false, 1.0f};
    DriveFrame(window);  // the window is shown: one painted frame
    for (const Step& step : Session()) {
      step.act(&window);
      const uint64_t before = DrawnFrameCount(), keptBefore = BrowserKeptCount();
      for (int i = 0; i < step.frames; ++i) {
        Advance();
        DriveFrame(window, FrameAsk::Timer);
        // The loop pumps the second windows after each event; their timers ask for every frame.
        PumpSecondWindows();
        for (SecondWindow* second : {KaraokeScreenWindow(), VisualiserScreenWindow()})
          run.secondFrames += RedrawSecondWindowNow(second);
      }
      run.drawn.push_back(DrawnFrameCount() - before);
      run.kept.push_back(BrowserKeptCount() - keptBefore);
      run.shots.push_back(shown_);
    }
    return run;
  }

  // The empty lanes' travelling spots, frame by frame on a clock stepped by hand, with a status
  // message, a hover, a late frame, a resize, the upright lanes and four decks on the way; what
  // the window shows after each frame, as a hash of its pixels.
  struct IdleRun {
    std::vector<uint64_t> shots;
    uint64_t drawn = 0, parts = 0;
  };
  static constexpr int kIdleFrames = 230;
  static constexpr uint64_t kFrameMs = 15, kLateFrameMs = 400;
  // Both runs start the stepped clock at one whole 1000 s a day ahead of the wall clock: what the
  // frame draws by the wall clock instead (a status message's expiry, a blink) shows unlike the
  // other run, whenever the machine started.
  static constexpr uint64_t kAheadOfWallMs = 24ull * 3600 * 1000, kStartStepMs = 1000000;
  static inline uint64_t FakeNowMs = 0;

  IdleRun RunIdle(bool fullRedraw) {
    Reset();
    ReleaseDevice();
    FullRedraw = fullRedraw;
    ForgetKeptImages();  // both runs start with nothing kept
    static const uint64_t startMs = (MonotonicMs() + kAheadOfWallMs) / kStartStepMs * kStartStepMs;
    FakeNowMs = startMs;
    FrameNowHook = [] { return FakeNowMs; };
    IdleRun run;
    FrameWindow window{1400, 900, false, 1.0f};
    const uint64_t drawn = DrawnFrameCount(), parts = PartFrameCount();
    DriveFrame(window);
    for (int frame = 0; frame < kIdleFrames; ++frame) {
      if (frame == 15) ShowStatus(L"Loaded \u201cFirst Track\u201d", kLongStatusMs);
      if (frame == 25) Mouse(300, 140, false, false);
      if (frame == 40) window.pixelWidth = 1600, window.pixelHeight = 1000;
      if (frame == 60) Settings.Vertical = true;
      if (frame == 80) Settings.Vertical = false, Settings.FourDecks = true;
      // Two seconds of the spots alone, then a hover: what the whole frame shows has not aged.
      if (frame == 220) Mouse(700, 140, false, false);
      FakeNowMs += frame == 50 ? kLateFrameMs : kFrameMs;
      DriveFrame(window, FrameAsk::Timer);
      uint64_t hash = 1469598103934665603ull;
      for (uint32_t p : shown_) hash = (hash ^ p) * 1099511628211ull;
      run.shots.push_back(hash);
    }
    FrameNowHook = MonotonicMs;
    run.drawn = DrawnFrameCount() - drawn;
    run.parts = PartFrameCount() - parts;
    return run;
  }

  // The library layout with a browser full of rows, deck A playing, on the stepped clock: a row
  // hovered on the way, paused deck B seeked (its lane, kept from the last whole frame, then shows
  // another stretch), then deck A paused until its pulse has settled. What the window shows
  // after each frame as a hash, whether it was drawn, and how often a frame drawn in parts
  // presented a box that reaches the browser's rows (under its toolbar and column header).
  struct LibraryRun {
    std::vector<uint64_t> shots;
    std::vector<bool> drawn;
    uint64_t parts = 0;
    int rowsTouched = 0;
    // Of the frames drawn as parts while the deck plays, those that redrew its slim panel's
    // transport row (below what its lane's glow reaches).
    int playingParts = 0, panelTouched = 0;
    // Frames after which the backdrop would no longer hold one of the four panels.
    int panelsDropped = 0;
  };
  static constexpr int kLibraryFrames = 170, kHoverFrame = 40, kSeekFrame = 55, kPauseFrame = 70;
  static constexpr double kSeekSeconds = 3.0;
  static constexpr int kBrowserEdgePx = 24, kRowsBelowTopPx = 66;  // its corners; toolbar and header

  LibraryRun RunLibrary(bool fullRedraw) {
    Reset();
    ReleaseDevice();
    FullRedraw = fullRedraw;
    ForgetKeptImages();
    static const uint64_t startMs = (MonotonicMs() + kAheadOfWallMs) / kStartStepMs * kStartStepMs;
    FakeNowMs = startMs;
    FrameNowHook = [] { return FakeNowMs; };
    Settings.Layout = kLayoutLibrary;
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Engine.decks[0].track = RedrawTrack(124.0, L"First Track");
      Engine.decks[1].track = RedrawTrack(128.0, L"Second Track");
    }
    for (uint32_t i = 0; i < 60; ++i)
      ViewItems.push_back({.path = L"/music/row" + std::to_wstring(i) + L".wav", .title = L"Row " + std::to_wstring(i),
                           .index = i});
    RebuildView();
    Play(0, true);
    LibraryRun run;
    const FrameWindow window{1400, 900, false, 1.0f};
    const uint64_t parts = PartFrameCount();
    DriveFrame(window);
    const ScreenLayout layout = ComputeLayout(1400, 900, kLayoutLibrary, false, false);
    const Rc browser = layout.browser, transport = SlimControlRowOf(0, layout.leftPanel).transport;
    const PixelBox panel{static_cast<int>(transport.x), static_cast<int>(transport.y),
                         static_cast<int>(transport.Right()), static_cast<int>(transport.Bottom())};
    const PixelBox rows{static_cast<int>(browser.x) + kBrowserEdgePx, static_cast<int>(browser.y) + kRowsBelowTopPx,
                        static_cast<int>(browser.Right()) - kBrowserEdgePx, static_cast<int>(browser.Bottom())};
    for (int frame = 0; frame < kLibraryFrames; ++frame) {
      if (frame == kHoverFrame) Mouse(700, browser.y + 120, false, false);
      if (frame == kPauseFrame) Play(0, false);
      if (frame == kSeekFrame) {
        std::lock_guard<RealtimeMutex> lock(Engine.lock);
        Engine.decks[1].position += kSeekSeconds * kTrackRate;
      }
      Advance();
      FakeNowMs += kFrameMs;
      presented_.clear();
      const uint64_t partsBefore = PartFrameCount(), drawnBefore = DrawnFrameCount();
      DriveFrame(window, FrameAsk::Timer);
      auto touches = [](const PixelBox& a, const PixelBox& b) {
        return a.x0 < b.x1 && a.x1 > b.x0 && a.y0 < b.y1 && a.y1 > b.y0;
      };
      const bool part = PartFrameCount() != partsBefore;
      bool panelDrawn = false;
      for (const PixelBox& b : presented_) {
        if (part) run.rowsTouched += touches(b, rows);
        panelDrawn = panelDrawn || touches(b, panel);
      }
      if (part && frame < kPauseFrame) run.playingParts++, run.panelTouched += panelDrawn;
      run.panelsDropped += DrawnPanels().size() != 4;
      uint64_t hash = 1469598103934665603ull;
      for (uint32_t p : shown_) hash = (hash ^ p) * 1099511628211ull;
      run.shots.push_back(hash);
      run.drawn.push_back(DrawnFrameCount() != drawnBefore);
    }
    run.parts = PartFrameCount() - parts;
    // The frame clock back on the real one for the tests after this one.
    FrameNowHook = MonotonicMs;
    DriveFrame(window);
    return run;
  }

  // Each frame's pixels (as hashes) drawn in parts against a full redraw's; how many frames of
  // the full redraw differ from the frame before.
  static size_t FramesMoved(const std::vector<uint64_t>& full, const std::vector<uint64_t>& parts) {
    EXPECT_EQ(full.size(), parts.size());
    for (size_t i = 0; i < std::min(full.size(), parts.size()); ++i)
      EXPECT_EQ(full[i], parts[i]) << "frame " << i << ": pixels unlike a full redraw";
    size_t moved = 0;
    for (size_t i = 1; i < full.size(); ++i) moved += full[i] != full[i - 1];
    return moved;
  }

  std::vector<uint32_t> shown_;
  std::vector<PixelBox> presented_;
  int shownWidth_ = 0;
  bool windowing_ = false;
  TempHome home_;
  SettingsRecord saved_;
};

TEST_F(FrameRedraw, OnlyChangedFramesAreDrawnAndTheyShowWhatAFullRedrawShows) {
  const std::vector<Step> steps = Session();
  const SessionRun full = RunSession(true), changed = RunSession(false);
  ASSERT_EQ(full.shots.size(), steps.size());
  ASSERT_EQ(changed.shots.size(), steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    ASSERT_FALSE(full.shots[i].empty()) << steps[i].name;
    ASSERT_EQ(changed.shots[i].size(), full.shots[i].size()) << steps[i].name;
    size_t differing = 0;
    for (size_t p = 0; p < full.shots[i].size(); ++p) differing += full.shots[i][p] != changed.shots[i][p];
    EXPECT_EQ(differing, 0u) << "step \"" << steps[i].name << "\": pixels unlike a full redraw";
    EXPECT_EQ(full.drawn[i], static_cast<uint64_t>(steps[i].frames)) << steps[i].name;
  }
  EXPECT_EQ(changed.drawn[1], 0u) << "a screen left alone draws nothing";
  EXPECT_EQ(changed.drawn[5], 0u) << "nor once the pulses have settled";
  EXPECT_EQ(changed.drawn[2], 9u) << "a playing deck moves every frame";
  EXPECT_LE(changed.drawn[7], 1u) << "a hover is drawn at most once, and then the screen rests";
  EXPECT_FALSE(full.shots[6] == full.shots[5]) << "the status message shows";
  EXPECT_FALSE(full.shots[10] == full.shots[7]) << "the cross-fader moved";
  EXPECT_NE(CrossfaderPosition, 0.5f);
  // The second windows drew every frame they were open, and the main screen, resting, drew none.
  const size_t opened = 17, settled = 20, gone = 23, rows = gone + 1, paused = rows + 7;
  ASSERT_EQ(steps.size(), paused + 1);
  EXPECT_EQ(changed.secondFrames, 2 * (kStepFrames + 9 + 90) + kStepFrames + kStepFrames)
      << "the second windows were open and drawing";
  EXPECT_EQ(changed.secondFrames, full.secondFrames);
  EXPECT_EQ(changed.drawn[opened], 0u) << "a second window opening leaves the main screen alone";
  EXPECT_EQ(changed.drawn[opened + 1], 0u);
  EXPECT_EQ(changed.drawn[opened + 2], 9u) << "the playing deck still moves every frame";
  EXPECT_EQ(changed.drawn[settled + 1], 0u) << "nor closing one";
  EXPECT_EQ(changed.drawn[settled + 2], 0u);
  EXPECT_EQ(changed.drawn[gone], 0u);
  // Over a still browser, the playing decks' frames after the settling ones keep its area.
  for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(full.kept[i], 0u) << steps[i].name;
  for (size_t i = rows + 1; i < paused; ++i) {
    EXPECT_EQ(changed.drawn[i], static_cast<uint64_t>(steps[i].frames)) << steps[i].name;
    EXPECT_GE(changed.kept[i], static_cast<uint64_t>(steps[i].frames) - 3) << steps[i].name;
  }
  EXPECT_FALSE(full.shots[rows + 2] == full.shots[rows + 1]) << "the rows scrolled";
  EXPECT_FALSE(full.shots[rows + 4] == full.shots[rows + 3]) << "the search narrowed the rows";
}

}  // namespace

TEST_F(FrameRedraw, EmptyLanesRedrawOnlyTheirSpotsAndShowWhatAFullRedrawShows) {
  const IdleRun full = RunIdle(true), parts = RunIdle(false);
  // The spots step about 30 times a second, every second or third frame of the session.
  const size_t moved = FramesMoved(full.shots, parts.shots);
  EXPECT_GE(moved, 40u) << "the spots travel";
  EXPECT_EQ(full.parts, 0u);
  EXPECT_LE(parts.drawn, moved + 12) << "a frame in which no spot steps draws nothing";
  // Whole frames: the first, each change with the two frames that settle it, and the late frame.
  EXPECT_GE(parts.parts + 20, moved) << "the rest redraw only the spots";
}

// What the frame keeps between frames (the backdrop and its lights, the soft lights, the glow's
// planes) follows a change of skin colours or window size: with both decks playing, a frame drawn
// after frames of other colours, at another size and then at its own, shows what the same screen
// shows when drawn first, with nothing kept.
TEST_F(FrameRedraw, KeptLayersFollowAChangeOfSkinOrSize) {
  const Palette saved = Pal;
  Palette other = Pal;
  other.DeckA = 0xFF3BD0, other.DeckB = 0x7CFF3B;
  struct Look {
    Palette palette;
    int width, height;
  };
  const Look shown{other, 1400, 900}, oldColours{saved, 1400, 900}, oldSize{saved, 1500, 950};
  auto shoot = [&](const Look& look, double seconds) {
    Pal = look.palette;
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      for (DeckState& deck : Engine.decks) deck.position = seconds * kTrackRate;
    }
    DriveFrame(FrameWindow{look.width, look.height, false, 1.0f});
    return shown_;
  };
  // Kept text is drawn directly the first time it shows and from its image later, a level apart
  // here and there: both compared frames draw it directly.
  auto forget = [] {
    ForgetKeptImages();
    ForgetKeptLights();
  };
  std::vector<uint32_t> fresh, later, old;
  Reset();
  ReleaseDevice();
  FullRedraw = true;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = RedrawTrack(124.0, L"First Track");
    Engine.decks[1].track = RedrawTrack(128.0, L"Second Track");
  }
  Play(0, true), Play(1, true);
  forget();
  // The first frame at a size draws its panels; from the second the backdrop holds them.
  shoot(shown, 20.1);
  ForgetKeptImages();
  fresh = shoot(shown, 20.1);
  forget();
  ReleaseDevice();
  // The old look for a while: beat pulses, lights and glows kept under it.
  for (int i = 0; i < 4; ++i) shoot(oldSize, 20.0 + 0.1 * i);
  for (int i = 0; i < 4; ++i) old = shoot(oldColours, 20.4 + 0.1 * i);
  ForgetKeptImages();
  later = shoot(shown, 20.1);
  Pal = saved;
  ASSERT_EQ(fresh.size(), static_cast<size_t>(1400 * 900));
  ASSERT_EQ(later.size(), fresh.size());
  size_t differing = 0, recoloured = 0;
  for (size_t p = 0; p < fresh.size(); ++p) differing += fresh[p] != later[p], recoloured += fresh[p] != old[p];
  EXPECT_EQ(differing, 0u) << "pixels kept from the old colours or size";
  EXPECT_GT(recoloured, fresh.size() / 20) << "the old colours showed";
}

// The library layout with one deck playing over the browser: past the frames that settle a change,
// the deck's frames redraw only what it moves, never the browser's rows, and every frame shows
// what a full redraw shows.
TEST_F(FrameRedraw, LibraryLayoutRedrawsOnlyWhatThePlayingDeckMoves) {
  const LibraryRun full = RunLibrary(true), parts = RunLibrary(false);
  const size_t moved = FramesMoved(full.shots, parts.shots);
  EXPECT_GE(moved, static_cast<size_t>(kPauseFrame)) << "the playing deck moves every frame";
  EXPECT_EQ(full.parts, 0u);
  EXPECT_EQ(parts.rowsTouched, 0) << "a frame of the deck's parts redrew the browser's rows";
  EXPECT_EQ(parts.panelsDropped, 0) << "a frame of parts left a panel out of the backdrop for the next";
  // The panel shows the pulse in steps, the time in tenths and the overview in whole pixels: it
  // changes with every frame only where a beat's pulse falls fastest.
  EXPECT_GT(parts.panelTouched, 0) << "the playing deck's panel never changed";
  EXPECT_LT(parts.panelTouched * 3, parts.playingParts * 2) << "the slim panel was redrawn with its lane";
  // Whole frames: the two that settle the first, the hover's, the pause's, each with two more.
  EXPECT_GE(parts.parts + 10, moved) << "the deck's frames redraw only its parts";
  for (int i = kLibraryFrames - 10; i < kLibraryFrames; ++i)
    EXPECT_FALSE(parts.drawn[static_cast<size_t>(i)]) << "frame " << i << ": drawn after the pulse settled";
}

// The pointer swept over the resting window in each layout, and the upright lanes, in jumps and
// in nudges of a few pixels: a frame comes only for a move that changes what is drawn, so every
// step must show what a full redraw at that place shows, and most moves over nothing draw none.
TEST_F(FrameRedraw, APointerMovingOverNothingDrawsNothingAndEveryHoverShows) {
  struct Config {
    int32_t layout;
    bool vertical;
  };
  for (const Config config : {Config{kLayoutFull, false}, Config{kLayoutLibrary, false}, Config{kLayoutFull, true},
                              Config{kLayoutPerformance, false}}) {
    std::vector<std::vector<uint32_t>> shots[2];
    std::vector<uint64_t> drawn[2];
    for (const bool fullRedraw : {true, false}) {
      Reset();
      ReleaseDevice();
      FullRedraw = fullRedraw;
      ForgetKeptImages();
      FakeNowMs = (MonotonicMs() + kAheadOfWallMs) / kStartStepMs * kStartStepMs;
      FrameNowHook = [] { return FakeNowMs; };
      Settings.Layout = config.layout;
      Settings.Vertical = config.vertical;
      {
        std::lock_guard<RealtimeMutex> lock(Engine.lock);
        Engine.decks[0].track = RedrawTrack(124.0, L"First Track");
        Engine.decks[1].track = RedrawTrack(128.0, L"Second Track");
      }
      FrameWindow window{1400, 900, false, 1.0f};
      for (int i = 0; i < 4; ++i) DriveFrame(window, FrameAsk::Timer);
      for (int gy = 0; gy < 7; ++gy)
        for (int gx = 0; gx < 9; ++gx)
          for (const float nudge : {0.0f, 3.0f}) {
            const uint64_t before = DrawnFrameCount();
            Mouse(20.0f + gx * 157.0f + nudge, 15.0f + gy * 131.0f + nudge, false, false);
            for (int f = 0; f < 2; ++f) DriveFrame(window, FrameAsk::Timer);
            drawn[fullRedraw ? 0 : 1].push_back(DrawnFrameCount() - before);
            shots[fullRedraw ? 0 : 1].push_back(shown_);
          }
      FrameNowHook = MonotonicMs;
    }
    const std::string name = "layout " + std::to_string(config.layout) + (config.vertical ? " upright" : "");
    ASSERT_EQ(shots[0].size(), shots[1].size());
    size_t still = 0, hovers = 0;
    for (size_t i = 0; i < shots[0].size(); ++i) {
      ASSERT_EQ(shots[0][i].size(), shots[1][i].size());
      size_t differing = 0;
      for (size_t p = 0; p < shots[0][i].size(); ++p) differing += shots[0][i][p] != shots[1][i][p];
      EXPECT_EQ(differing, 0u) << name << ", move " << i << ": the window is unlike a full redraw";
      still += drawn[1][i] == 0;
      hovers += i > 0 && shots[0][i] != shots[0][i - 1];
    }
    std::printf("%s: %zu moves, %zu drew nothing, %zu showed a change\n", name.c_str(), shots[0].size(), still, hovers);
    EXPECT_GT(hovers, 5u) << name << ": the sweep crossed too few hovers to prove anything";
    EXPECT_GE(still * 2, shots[0].size()) << name << ": moves over nothing still drew frames";
  }
}

// The frame timer's next frame: due at once while a deck plays and while what it left falls, then
// only when an animation or the status message asks, at the latest an idle period later.
TEST_F(FrameRedraw, FramesAreDueOnlyWhileSomethingMovesOrAsks) {
  Reset();
  ReleaseDevice();
  FakeNowMs = (MonotonicMs() + kAheadOfWallMs) / kStartStepMs * kStartStepMs;
  FrameNowHook = [] { return FakeNowMs; };
  // In the library layout a falling pulse is drawn in parts, which no settling frames follow.
  Settings.Layout = kLayoutLibrary;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track = RedrawTrack(124.0, L"First Track");
    Engine.decks[1].track = RedrawTrack(128.0, L"Second Track");
  }
  const FrameWindow window{1400, 900, false, 1.0f};
  DriveFrame(window);
  // Frames on the stepped clock until the next is not due at once; how many that took.
  auto rest = [&](int most) {
    for (int frame = 0; frame < most; ++frame) {
      Advance();
      FakeNowMs += kFrameMs;
      DriveFrame(window, FrameAsk::Timer);
      if (NextFrameDueMs(FakeNowMs) > FakeNowMs) return frame;
    }
    return most;
  };
  EXPECT_LT(rest(10), 10) << "a loaded, paused screen comes to rest";
  EXPECT_EQ(NextFrameDueMs(FakeNowMs), FakeNowMs + kIdleFrameMs);

  Play(0, true);
  EXPECT_EQ(rest(30), 30) << "a playing deck keeps the frames coming";
  {
    // Paused just after a beat, where the pulse shows most.
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].position = (0.1 + 8 * 60.0 / 124.0) * kTrackRate;
  }
  EXPECT_EQ(rest(1), 1);
  Play(0, false);
  const int falling = rest(200);
  EXPECT_GT(falling, 2) << "the pulse falls frame by frame after the pause";
  EXPECT_LT(falling, 200) << "and comes to rest";
  EXPECT_EQ(NextFrameDueMs(FakeNowMs), FakeNowMs + kIdleFrameMs);

  constexpr int kShortStatusMs = 300;
  ShowStatus(L"Saved", kShortStatusMs);
  EXPECT_LT(rest(10), 10);
  EXPECT_EQ(NextFrameDueMs(FakeNowMs), Status.expiresAtMs) << "the message's end is due";
  FakeNowMs = Status.expiresAtMs;
  DriveFrame(window, FrameAsk::Timer);
  EXPECT_EQ(NextFrameDueMs(FakeNowMs), FakeNowMs) << "the frame without it settles";
  EXPECT_LT(rest(10), 10);

  // A sort on a worker keeps the frames coming, and the frame that takes it shows its rows.
  static std::vector<std::function<void()>> sorts;
  const SortWorkerStarter thread = StartSortWorkerHook;
  const size_t slice = SortRowsPerTick;
  StartSortWorkerHook = [](std::function<void()> work) { sorts.push_back(std::move(work)); };
  SortRowsPerTick = 8;
  for (uint32_t i = 0; i < 40; ++i)
    ViewItems.push_back({.path = L"/music/row" + std::to_wstring(i) + L".wav", .title = L"Row " + std::to_wstring(i),
                         .duration = 100.0 + i % 7, .index = i});
  RebuildView();
  EXPECT_LT(rest(10), 10);
  SortView(kSortLength, false);
  EXPECT_EQ(rest(5), 5) << "the tick waits for the sort";
  ASSERT_EQ(sorts.size(), 1u);
  sorts.front()();
  Advance();
  FakeNowMs += kFrameMs;
  EXPECT_TRUE(DriveFrame(window, FrameAsk::Timer)) << "the sorted rows are drawn";
  EXPECT_FALSE(ViewSortPending());
  EXPECT_EQ(ViewItems[static_cast<size_t>(ViewOrder.front())].duration, 106.0);
  EXPECT_LT(rest(10), 10);
  StartSortWorkerHook = thread, SortRowsPerTick = slice;

  // An empty lane's light travels: its next step is due, sooner than an idle period.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[1].track.reset();
  }
  NoteScreenEvent();
  EXPECT_LT(rest(10), 10);
  const uint64_t due = NextFrameDueMs(FakeNowMs);
  EXPECT_GT(due, FakeNowMs);
  EXPECT_LT(due, FakeNowMs + kIdleFrameMs) << "the travelling light asks for its next step";
  FrameNowHook = MonotonicMs;
  DriveFrame(window);
}
