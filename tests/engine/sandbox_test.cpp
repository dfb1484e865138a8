// The sandbox, eject, instant double and prelisten on click tracks loaded through the real
// LoadTrack and rendered with RenderMix; prelisten through its real worker and completion.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/status_message.h"
#include "engine/audio_file.h"
#include "engine/automix.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"

namespace {

// A click track of `bpm` lasting `seconds`, the other settings at their defaults.
ClickTrack ClickSpec(double bpm, double seconds) {
  ClickTrack spec;
  spec.bpm = bpm;
  spec.seconds = seconds;
  return spec;
}

constexpr int kWaitMs = 20000;

// Hands queued completions to their handlers until `done` holds or the time runs out.
template <typename Done>
bool DrainUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  do {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kDeckLoadPost) FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
      else if (post.message == kPrelistenReadyPost) OnPrelistenReady(post.wparam, static_cast<TrackPtr*>(post.lparam));
    });
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// Waits until the load worker sharing `progress` has posted and let go of its job, leaving
// `holders` other references (the caller's and the deck views').
bool WaitForLoadWorker(const SharedProgress& progress, long holders) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (progress.use_count() > holders && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return progress.use_count() <= holders;
}

double Rms(const std::vector<float>& out) {
  double sum = 0.0;
  for (float v : out) sum += double(v) * v;
  return out.empty() ? 0.0 : std::sqrt(sum / out.size());
}

class Sandboxed : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Sandbox = SandboxState{};
    Prelisten = PrelistenState{};
    Automix = AutomixState{};
    CrossfaderPosition = 0.5f;
    MasterFx = MasterFxSelection{};
    XfGlide = CrossfaderGlide{};
    Status = StatusLine{};
    SetHeadphones(kPhonesSplit);
    OpenUiPosts(nullptr);
  }
  void TearDown() override {
    if (Sandbox.on) ToggleSandbox();
    StopPrelisten();
    DrainUntil([] { return true; });
    SetHeadphones(kPhonesNone);
    ResetDecksForTest();
  }

  static void SetHeadphones(PhonesMode mode) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.phonesMode = mode;
    Engine.externalMixer = false;
  }
  static std::string Click(double bpm) {
    static ClickTrackFolder folder;
    return folder.Make(ClickSpec(bpm, 12.0));
  }
  static DeckState& Deck(int deck) { return Engine.decks[deck]; }
  static TrackPtr DeckTrack(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].track;
  }
  static void Play(int deck, double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck(deck).position = seconds * Deck(deck).track->sampleRate;
    Deck(deck).playing = true;
  }
};

using PrelistenPlayer = Sandboxed;

}  // namespace

TEST_F(Sandboxed, SandboxIsRefusedWithoutHeadphonesAndWithAutomix) {
  SetHeadphones(kPhonesNone);
  ToggleSandbox();
  EXPECT_EQ(Status.text, L"Sandbox needs headphones \u2014 set a headphone output in Settings \u25b8 AUDIO");
  EXPECT_FALSE(Sandbox.on);
  SetHeadphones(kPhonesSplit);
  Automix.on = true;
  ToggleSandbox();
  EXPECT_EQ(Status.text, L"Turn Automix off to use the sandbox");
  EXPECT_FALSE(Engine.sandboxOn.load());
}

TEST_F(Sandboxed, SandboxKeepsTheCrowdsMixAndPutsTheControlsBack) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  DeckView& a = LiveDeckViews[0];
  a.tempoFader = 0.4f;
  a.loopSizeIndex = 7;
  a.syncLock = true;
  CrossfaderPosition = 0.2f;
  MasterFx = MasterFxSelection{.effect = 3, .on = true, .amount = 0.7f, .beats = 2.0f};
  Play(0, 1.0);
  ToggleSandbox();
  ASSERT_TRUE(Engine.sandboxOn.load());
  EXPECT_EQ(Status.text, L"SANDBOX: the crowd hears the mix as it is \u2014 try your next mix in the headphones");

  // Rehearse: A stops, its controls and the master section change; the crowd still hears A.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck(0).playing = false;
  }
  a.tempoFader = 0.9f;
  a.loopSizeIndex = 1;
  a.syncLock = false;
  CrossfaderPosition = 1.0f;
  MasterFx.on = false;
  XfGlide.active = true;
  EXPECT_GT(Rms(RenderPeriods(20)), 0.01);

  // Loading, ejecting, instant double and Automix wait for the sandbox to end.
  EXPECT_FALSE(LoadTrack(1, Utf8ToWide(Click(120.0))));
  EjectDeck(0);
  EXPECT_EQ(Status.text, L"Leave the sandbox first");
  Status = StatusLine{};
  InstantDouble(1, 0);
  EXPECT_EQ(Status.text, L"Leave the sandbox first");
  ToggleAutomix();
  EXPECT_EQ(Status.text, L"Leave the sandbox to start Automix");

  ToggleSandbox();
  EXPECT_FALSE(Engine.sandboxOn.load());
  EXPECT_EQ(Status.text, L"Sandbox off \u2014 back with the crowd's mix");
  EXPECT_FLOAT_EQ(a.tempoFader, 0.4f);
  EXPECT_EQ(a.loopSizeIndex, 7);
  EXPECT_TRUE(a.syncLock);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.2f);
  EXPECT_TRUE(MasterFx.on);
  EXPECT_FALSE(XfGlide.active);
  EXPECT_TRUE(Deck(0).playing) << "the crowd's deck is live again, still playing";
}

TEST_F(Sandboxed, ALoadInFlightIsDroppedWhenTheSandboxStarts) {
  ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
  const TrackPtr crowdTrack = DeckTrack(1);
  const std::wstring crowdPath = LiveDeckViews[1].path;
  ASSERT_TRUE(LoadTrack(1, Utf8ToWide(Click(120.0))));
  ToggleSandbox();
  ASSERT_TRUE(Sandbox.on);
  EXPECT_FALSE(LiveDeckViews[1].loading);
  EXPECT_EQ(Status.text, L"SANDBOX: the crowd hears the mix as it is \u2014 the load on deck B was dropped");
  // The worker still finishes; its result is stale and changes nothing.
  ASSERT_TRUE(WaitForLoadWorker(SharedProgress(LiveDeckViews[1].loadProgress), 3));  // + the sandbox copy
  DrainUntil([] { return true; });
  EXPECT_EQ(DeckTrack(1), crowdTrack);
  EXPECT_EQ(LiveDeckViews[1].path, crowdPath);
}

TEST_F(Sandboxed, LeavingRestoresTheWholeViewOfADeckWhoseTrackChanged) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  DeckView& a = LiveDeckViews[0];
  a.hotCueName[0] = L"DROP";
  a.memoryCues = {1.0, 2.0};
  ToggleSandbox();
  ASSERT_TRUE(Sandbox.on);
  // Another track reaches the rehearsal deck with its own cues.
  auto other = std::make_shared<Track>();
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck(0).track = other;
  }
  a.hotCueName[0] = L"OTHER";
  a.memoryCues = {7.0};
  a.path = L"/elsewhere/other.wav";
  const uint32_t serial = ++a.loadSerial;
  ToggleSandbox();
  EXPECT_NE(DeckTrack(0), other);
  EXPECT_EQ(a.hotCueName[0], L"DROP");
  EXPECT_EQ(a.memoryCues, (std::vector<double>{1.0, 2.0}));
  EXPECT_EQ(a.path, Utf8ToWide(Click(120.0)));
  EXPECT_GT(a.loadSerial, serial) << "serials never go back";
}

TEST_F(Sandboxed, EjectRefusesAPlayingDeckAndMakesALoadInFlightStale) {
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  Play(0, 1.0);
  EjectDeck(0);
  EXPECT_EQ(Status.text, L"Pause the deck before ejecting");
  EXPECT_TRUE(DeckTrack(0));

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck(0).playing = false;
  }
  LiveDeckViews[0].hotCueName[2] = L"KEEP";
  ASSERT_TRUE(LoadTrack(0, Utf8ToWide(Click(126.0))));
  EjectDeck(0);
  EXPECT_FALSE(DeckTrack(0));
  EXPECT_FALSE(LiveDeckViews[0].loading);
  EXPECT_TRUE(LiveDeckViews[0].path.empty());
  EXPECT_EQ(LiveDeckViews[0].hotCueName[2], L"KEEP");
  EXPECT_EQ(Deck(0).hotCueStart[0], -1.0);
  ASSERT_TRUE(WaitForLoadWorker(SharedProgress(LiveDeckViews[0].loadProgress), 2));
  DrainUntil([] { return true; });
  EXPECT_FALSE(DeckTrack(0)) << "the load's late result was dropped";
}

TEST_F(Sandboxed, InstantDoublePlaysInStepAndRefusesAPlayingTarget) {
  InstantDouble(1, 0);
  EXPECT_EQ(Status.text, L"Nothing on the other deck to copy");
  ASSERT_TRUE(LoadAndWait(0, Click(120.0)));
  ASSERT_TRUE(LoadAndWait(1, Click(126.0)));
  LiveDeckViews[0].tempoFader = 0.3f;
  LiveDeckViews[0].hotCueName[1] = L"VERSE";
  Play(0, 2.0);
  Play(1, 1.0);
  InstantDouble(1, 0);
  EXPECT_EQ(Status.text, L"Pause this deck first");

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Deck(1).playing = false;
  }
  InstantDouble(1, 0);
  EXPECT_EQ(Status.text, L"Instant double: deck B now mirrors deck A");
  EXPECT_EQ(DeckTrack(1), DeckTrack(0));
  EXPECT_TRUE(Deck(1).playing);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].tempoFader, 0.3f);
  EXPECT_EQ(LiveDeckViews[1].hotCueName[1], L"VERSE");
  EXPECT_EQ(LiveDeckViews[1].path, LiveDeckViews[0].path);
  RenderPeriods(30);
  EXPECT_DOUBLE_EQ(Deck(1).position, Deck(0).position);
}

TEST_F(PrelistenPlayer, StartsAtThirtyPercentAndTheSameFileStopsIt) {
  const std::string path = Click(120.0);
  TogglePrelisten(Utf8ToWide(path));
  EXPECT_TRUE(Prelisten.on);
  ASSERT_TRUE(DrainUntil([] { return !Prelisten.loading; }));
  ASSERT_TRUE(Engine.prelistenPlaying);
  ASSERT_TRUE(Engine.prelistenTrack);
  EXPECT_DOUBLE_EQ(Engine.prelistenPosition, Engine.prelistenTrack->frames * 0.3);
  const double start = Engine.prelistenPosition;
  RenderPeriods(10);
  EXPECT_GT(Engine.prelistenPosition, start);

  TogglePrelisten(Utf8ToWide(path));
  EXPECT_FALSE(Prelisten.on);
  EXPECT_FALSE(Engine.prelistenPlaying);
  EXPECT_FALSE(Engine.prelistenTrack);
}

TEST_F(PrelistenPlayer, DropsAnOvertakenLoadAndReportsAFailure) {
  const std::string first = Click(120.0), second = Click(126.0);
  TogglePrelisten(Utf8ToWide(first));
  TogglePrelisten(Utf8ToWide(second));
  ASSERT_TRUE(DrainUntil([] { return !Prelisten.loading; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  DrainUntil([] { return true; });
  ASSERT_TRUE(Engine.prelistenTrack);
  EXPECT_EQ(Engine.prelistenTrack->path, Utf8ToWide(second));

  SetHeadphones(kPhonesNone);
  TogglePrelisten(L"/no/such/file.wav");
  EXPECT_EQ(Status.text, L"No headphone output set \u2014 prelisten plays through the master (see Settings)");
  ASSERT_TRUE(DrainUntil([] { return !Prelisten.loading; }));
  EXPECT_EQ(Status.text, L"Couldn't open that file for prelisten");
  EXPECT_TRUE(Prelisten.path.empty());
  EXPECT_FALSE(Engine.prelistenPlaying);
}
