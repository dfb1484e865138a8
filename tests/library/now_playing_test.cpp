// The per-frame now-playing step on real decoded tracks: play counts and History, the stream
// title (against a loopback Icecast peer), and cue edits reaching the saved library.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/test_mode.h"
#include "base/track_info.h"
#include "broadcast/audio_stream.h"
#include "broadcast/mix_recording.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/transport.h"
#include "library/database.h"
#include "library/now_playing.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/net.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/audio_server.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

using Paths = std::vector<std::wstring>;
constexpr int kRate = 44100;

void DrainViewScan();

class NowPlayingStep : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    TrackLists = LoadLists();
    NowPlaying = NowPlayingState{};
    CrossfaderPosition = 0.5f;
  }
  // A History shown during the test starts a real scan: its batches are taken, not left behind.
  void TearDown() override {
    DrainViewScan();
    ResetDecksForTest();
    TrackLists.clear();
    NowPlaying = NowPlayingState{};
    TestMode = false;
    Engine.recording.store(false);
    RecordingTracklist.clear();
  }

  static ClickTrackFolder& Folder() {
    static ClickTrackFolder folder;
    return folder;
  }
  static std::string Click(double bpm) {
    ClickTrack spec;
    spec.bpm = bpm;
    spec.seconds = 8.0;
    return Folder().Make(spec);
  }
  // One frame of 20 ms on the step's clock.
  static void Tick() {
    SnapshotDecks();
    NowPlayingTick(clockMs += 20);
  }
  static void PlayOn(int ms) {
    for (int t = 0; t < ms; t += 20) Tick();
  }
  static void PlayPauseTick(int deck) {
    PlayPause(deck);
    Tick();
  }
  static void MoveTo(int deck, double seconds) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[deck].position = seconds * kRate;
  }
  static const Paths& History() { return TrackLists[kHistoryList].paths; }

  static inline uint64_t clockMs = 1'000'000;
  TempHome home_;
};

// --- Play counts and History ---

TEST_F(NowPlayingStep, PlayPausePlayListsAndCountsOnce) {
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  PlayPauseTick(0);
  PlayPauseTick(0);
  Tick();
  PlayPauseTick(0);
  Tick();
  EXPECT_EQ(History(), Paths{a});
  const TrackInfo* record = FindTrackInfo(a);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->playCount, 1);
  EXPECT_GE(record->lastPlayed, before);
  EXPECT_LE(record->lastPlayed, static_cast<int64_t>(std::time(nullptr)));
  // The list went to its file, not only into memory.
  EXPECT_EQ(LoadLists()[kHistoryList].paths, Paths{a});
}

// History lists each load once: resuming A after B played adds nothing, loading A again does.
// A deck is listed once it is the one announced, after the hold. The play count is once per
// track and session.
TEST_F(NowPlayingStep, EachLoadIsListedOnceAndEachTrackCountsOncePerSession) {
  const std::wstring a = Utf8ToWide(Click(120)), b = Utf8ToWide(Click(126));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(b)));
  PlayPauseTick(0);
  PlayPauseTick(0);
  PlayPauseTick(0);  // a resume of the same load
  PlayPauseTick(0);
  PlayPauseTick(1);
  PlayOn(5000);
  PlayPauseTick(1);
  PlayPauseTick(0);  // A resumed after B was listed
  PlayOn(5000);
  EXPECT_EQ(History(), (Paths{a, b}));

  PlayPauseTick(0);
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  PlayPauseTick(0);
  EXPECT_EQ(History(), (Paths{a, b, a}));
  EXPECT_EQ(LoadLists()[kHistoryList].paths, (Paths{a, b, a}));
  EXPECT_EQ(FindTrackInfo(a)->playCount, 1);
  EXPECT_EQ(FindTrackInfo(b)->playCount, 1);

  // The same load straight after itself still adds nothing.
  PlayPauseTick(0);
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  PlayPauseTick(0);
  EXPECT_EQ(History(), (Paths{a, b, a}));
}

// Applies the view's scan completions until its scan ends.
void DrainViewScan() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Scanning && std::chrono::steady_clock::now() < deadline) {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kScanBatchPost)
        ApplyScanBatch(static_cast<uint32_t>(post.wparam), static_cast<std::vector<LibraryFile>*>(post.lparam));
      else if (post.message == kScanFinishedPost)
        FinishFolderScan(static_cast<uint32_t>(post.wparam));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// A play start while the browser shows History shows it again, newest first, at the same row.
TEST_F(NowPlayingStep, AShownHistoryIsShownAgainKeepingItsScrollRow) {
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  Paths old;
  for (int i = 0; i < 40; ++i) old.push_back(L"/old/" + std::to_wstring(i) + L".mp3");
  TrackLists[kHistoryList].paths = old;
  ShowList(kHistoryList);
  DrainViewScan();
  ASSERT_EQ(ViewItems.size(), old.size());
  VisibleRows = 10;
  ScrollRow = 7;
  PlayPauseTick(0);
  EXPECT_EQ(ScrollRow, 7);
  DrainViewScan();
  ASSERT_EQ(ViewItems.size(), old.size() + 1);
  EXPECT_EQ(ViewItems.back().path, a);
  ASSERT_FALSE(ViewOrder.empty());
  EXPECT_EQ(ViewItems[static_cast<size_t>(ViewOrder.front())].path, a) << "History shows its newest first";
  EXPECT_EQ(ScrollRow, 7);
}

TEST_F(NowPlayingStep, HistoryKeepsTheNewestThousand) {
  Paths old;
  for (size_t i = 0; i < kHistoryLimit; ++i) old.push_back(L"/old/" + std::to_wstring(i) + L".mp3");
  TrackLists[kHistoryList].paths = old;
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  PlayPauseTick(0);
  ASSERT_EQ(History().size(), kHistoryLimit);
  EXPECT_EQ(History().front(), L"/old/1.mp3");
  EXPECT_EQ(History().back(), a);
  EXPECT_EQ(LoadLists()[kHistoryList].paths, History());
}

TEST_F(NowPlayingStep, TestModeCountsThePlayButLeavesHistoryAlone) {
  TestMode = true;
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  PlayPauseTick(0);
  EXPECT_TRUE(History().empty());
  EXPECT_EQ(FindTrackInfo(a)->playCount, 1);
}

// --- What is announced ---

// What each deck sends to the master decides, and another deck takes the title only after
// leading for the hold time: the first title comes at once.
TEST_F(NowPlayingStep, TheDeckHeardOnTheMasterIsAnnouncedAfterItHoldsTheLead) {
  const std::wstring a = Utf8ToWide(Click(120)), b = Utf8ToWide(Click(126));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(b)));
  PlayPause(0);
  PlayPause(1);
  uint64_t now = 1'000'000;
  auto run = [&](int ms) {
    for (int t = 0; t < ms; t += 20) {
      SnapshotDecks();
      NowPlayingTick(now += 20);
    }
  };
  LiveDeckViews[0].meterLevel = 0.6f;
  LiveDeckViews[1].meterLevel = 0.3f;
  run(20);
  EXPECT_EQ(NowPlaying.announcedPath, a) << "the first title at once";

  LiveDeckViews[1].meterLevel = 0.9f;
  run(2000);
  EXPECT_EQ(NowPlaying.announcedPath, a) << "held while B has led for only two seconds";
  run(4000);
  EXPECT_EQ(NowPlaying.announcedPath, b) << "B has led long enough";

  CrossfaderPosition = 0.0f;  // B's side closed: quieter A is all the audience hears
  run(6000);
  EXPECT_EQ(NowPlaying.announcedPath, a);

  // Pre-fader B is far louder, but its channel fader is nearly down: the audience hears A.
  CrossfaderPosition = 0.5f;
  LiveDeckViews[0].fader = 0.8f;
  LiveDeckViews[1].fader = 0.3f;
  run(8000);
  EXPECT_EQ(NowPlaying.announcedPath, a);

  LiveDeckViews[1].fader = 0.8f;
  LiveDeckViews[0].meterLevel = LiveDeckViews[1].meterLevel = 0.5f;
  NowPlaying = NowPlayingState{};
  run(20);
  EXPECT_EQ(NowPlaying.announcedPath, b) << "a tie goes to the last deck";
}

// An Icecast stand-in on a loopback port: accepts the source connection with 200 OK, then keeps
// the request of every later connection (title updates), answering each after replyDelayMs.
class IcecastPeer {
 public:
  explicit IcecastPeer(unsigned replyDelayMs = 0) : replyDelayMs_(replyDelayMs) {
    ok_ = NetListenLoopback(0, 64, &listener_, &port_);
    if (ok_) thread_ = std::thread([this] { Serve(); });
  }
  ~IcecastPeer() {
    stop_ = true;
    NetShutdown(listener_);
    if (thread_.joinable()) thread_.join();
    NetClose(listener_);
  }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  bool titleArrived() const { return titleCount() > 0; }
  size_t titleCount() const {
    std::lock_guard<std::mutex> hold(lock_);
    return titles_.size();
  }
  std::string title() const {
    std::lock_guard<std::mutex> hold(lock_);
    return titles_.empty() ? std::string() : titles_.front();
  }
  std::string lastTitle() const {
    std::lock_guard<std::mutex> hold(lock_);
    return titles_.empty() ? std::string() : titles_.back();
  }

 private:
  static std::string ReadRequest(NetSocket s) {
    std::string text;
    uint8_t buffer[1024];
    NetSetTimeouts(s, 3000);
    while (text.find("\r\n\r\n") == std::string::npos) {
      const long n = NetReceiveSome(s, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return text;
  }
  static void Reply(NetSocket s) {
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    NetSendAll(s, reinterpret_cast<const uint8_t*>(ok.data()), ok.size(), ok.size(), nullptr);
  }
  void Serve() {
    NetSocket source = kNoSocket, update = kNoSocket;
    if (!NetAccept(listener_, &stop_, &source)) return;
    ReadRequest(source);
    Reply(source);
    while (NetAccept(listener_, &stop_, &update)) {
      const std::string request = ReadRequest(update);
      {
        std::lock_guard<std::mutex> hold(lock_);
        titles_.push_back(request);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(replyDelayMs_));
      Reply(update);
      NetClose(update);
    }
    NetClose(source);
  }

  unsigned replyDelayMs_;
  bool ok_ = false;
  NetSocket listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::vector<std::string> titles_;
  std::thread thread_;
};

// Puts the stream on air against peer; false (stream stopped) when it does not get there.
bool GoOnAir(const IcecastPeer& peer) {
  StreamConfig config;
  config.Host = L"127.0.0.1";
  config.Port = peer.port();
  config.Password = L"hackme";
  PublishOutputStarted(Engine, 48000);
  StartLiveStream(Engine, config);
  if (WaitFor([] { return LiveStreamState() == kStreamOnAir; }, 5000)) return true;
  StopLiveStream();
  PublishOutputStopped(Engine);
  return false;
}

void GoOffAir() {
  StopLiveStream();
  PublishOutputStopped(Engine);
}

TEST_F(NowPlayingStep, GoingOnAirAnnouncesTheCurrentTrackAgain) {
  const std::string plain = Click(120);
  const std::string tagged = home_.path() + "/tagged.flac";
  int status = -1;
  RunCommand("ffmpeg -v error -i " + ShellQuote(plain) + " -metadata artist='Ana' -metadata title='Night Bus' " +
                 ShellQuote(tagged) + " 2>&1",
             &status);
  ASSERT_EQ(status, 0);
  ASSERT_TRUE(LoadAndWait(0, tagged));
  PlayPauseTick(0);
  ASSERT_EQ(NowPlaying.announcedPath, Utf8ToWide(tagged)) << "announced while off air";

  IcecastPeer peer;
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(GoOnAir(peer)) << EnglishText(LiveStreamError());
  Tick();
  EXPECT_TRUE(WaitFor([&] { return peer.titleArrived(); }, 5000));
  EXPECT_NE(peer.title().find("&song=Ana%20-%20Night%20Bus&"), std::string::npos) << peer.title();
  EXPECT_EQ(NowPlaying.announcedPath, Utf8ToWide(tagged));
  GoOffAir();
}

// Two decks whose meters tie (two quiet passages decay to the same level) announce the last of
// them once, not each in turn every frame, each time a new connection to the server.
TEST_F(NowPlayingStep, TiedDecksOnAirSendOneTitleOverManyFrames) {
  const std::wstring a = Utf8ToWide(Click(120)), b = Utf8ToWide(Click(126));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(b)));
  PlayPause(0);
  PlayPause(1);
  IcecastPeer peer;
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(GoOnAir(peer)) << EnglishText(LiveStreamError());
  for (int frame = 0; frame < 60; ++frame) {
    LiveDeckViews[0].meterLevel = LiveDeckViews[1].meterLevel = 1e-6f;
    Tick();
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
  }
  EXPECT_TRUE(WaitFor([&] { return peer.titleArrived(); }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // room for any late update
  EXPECT_EQ(NowPlaying.announcedPath, b);
  EXPECT_EQ(peer.titleCount(), 1u);
  EXPECT_NE(peer.lastTitle().find(WideToUtf8(DeckSnapshots[1].track->title)), std::string::npos) << peer.lastTitle();
  GoOffAir();
}

// Two decks in a blend hovering around each other (equal faders, then 0.8/0.7, meters jumping
// every frame) send no new title in 20 s and add nothing to History or the recording's
// tracklist; a real cross-fade to the other deck sends exactly one title and adds one entry to
// each, the tracklist's dated within the cross-fade.
TEST_F(NowPlayingStep, ABlendHoldsTheTitleAndACrossfadeSendsOneUpdate) {
  const std::wstring a = Utf8ToWide(Click(120)), b = Utf8ToWide(Click(126));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(b)));
  // A recording runs from the start, its position one frame a millisecond.
  Engine.recordRate.store(1000);
  Engine.recordFrames.store(0);
  Engine.recording.store(true);
  PlayPause(0);
  IcecastPeer peer;
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(GoOnAir(peer)) << EnglishText(LiveStreamError());
  uint64_t noise = 12345;
  auto jitter = [&] {  // a peak meter on noise: 0.3 .. 0.7
    noise = noise * 6364136223846793005ull + 1442695040888963407ull;
    return 0.3f + 0.4f * static_cast<float>((noise >> 33) % 1000) / 1000.0f;
  };
  auto run = [&](int ms) {
    for (int t = 0; t < ms; t += 20) {
      LiveDeckViews[0].meterLevel = jitter();
      LiveDeckViews[1].meterLevel = DeckSnapshots[1].playing ? jitter() : 0.0f;
      Tick();
      Engine.recordFrames.fetch_add(20);
    }
  };
  run(1000);
  EXPECT_TRUE(WaitFor([&] { return peer.titleCount() == 1; }, 5000));
  PlayPause(1);
  LiveDeckViews[0].fader = LiveDeckViews[1].fader = 0.8f;
  run(10000);
  LiveDeckViews[1].fader = 0.7f;
  run(10000);
  EXPECT_EQ(NowPlaying.announcedPath, a);
  EXPECT_EQ(History(), Paths{a}) << "B only played along";
  ASSERT_EQ(RecordingTracklist.size(), 1u);
  const double fadeStart = static_cast<double>(Engine.recordFrames.load()) / 1000.0;
  for (int step = 0; step <= 50; ++step) {  // across in five seconds, then the new track plays on
    CrossfaderPosition = 0.5f + 0.5f * static_cast<float>(step) / 50.0f;
    run(100);
  }
  const double fadeEnd = static_cast<double>(Engine.recordFrames.load()) / 1000.0;
  run(8000);
  EXPECT_EQ(NowPlaying.announcedPath, b);
  EXPECT_TRUE(WaitFor([&] { return peer.titleCount() >= 2; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // room for any late update
  EXPECT_EQ(peer.titleCount(), 2u);
  EXPECT_NE(peer.lastTitle().find(WideToUtf8(DeckSnapshots[1].track->title)), std::string::npos) << peer.lastTitle();
  EXPECT_EQ(History(), (Paths{a, b}));
  ASSERT_EQ(RecordingTracklist.size(), 2u);
  EXPECT_EQ(RecordingTracklist[0].path, a);
  EXPECT_EQ(RecordingTracklist[0].seconds, 0.0);
  EXPECT_EQ(RecordingTracklist[1].path, b);
  EXPECT_GT(RecordingTracklist[1].seconds, fadeStart);
  EXPECT_LT(RecordingTracklist[1].seconds, fadeEnd) << "dated from when B took the lead, not after the hold";
  GoOffAir();
}

// Stopping the stream while a title waits on a slow server ends the sender and waits for it.
TEST_F(NowPlayingStep, StoppingTheStreamWaitsForTheTitleSender) {
  IcecastPeer peer(2000);
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(GoOnAir(peer)) << EnglishText(LiveStreamError());
  UpdateLiveStreamTitle(L"Last words");
  ASSERT_TRUE(WaitFor([&] { return peer.titleArrived(); }, 5000));
  UpdateLiveStreamTitle(L"Never sent");
  GoOffAir();  // returns once the sender has ended: nothing runs on into the exit
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(peer.titleCount(), 1u) << "the queued title is dropped when the stream stops";
}

// A slow server gets one update at a time, and the newest title is the one it ends with.
TEST_F(NowPlayingStep, TitlesWhileAnUpdateIsInFlightCollapseToTheNewest) {
  IcecastPeer peer(300);
  ASSERT_TRUE(peer.ok());
  ASSERT_TRUE(GoOnAir(peer)) << EnglishText(LiveStreamError());
  for (int i = 0; i < 40; ++i) {
    UpdateLiveStreamTitle(L"Title " + std::to_wstring(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(WaitFor([&] { return peer.lastTitle().find("&song=Title%2039&") != std::string::npos; }, 5000))
      << peer.lastTitle();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_LE(peer.titleCount(), 2u) << "one request in flight, then the newest";
  EXPECT_NE(peer.lastTitle().find("&song=Title%2039&"), std::string::npos) << peer.lastTitle();
  GoOffAir();
}

// --- Cue edits reach the library ---

TEST_F(NowPlayingStep, HotCueEditsReachTheRecordWithinOneTick) {
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  Tick();
  MoveTo(0, 3.5);
  PressHotCue(0, 2);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = Engine.decks[0];
    deck.loopIn = 1.0 * kRate;
    deck.loopOut = 2.0 * kRate;
    deck.loopOn = true;
  }
  PressHotCue(0, 5);  // a running loop makes a loop cue
  Tick();
  const TrackInfo* record = FindTrackInfo(a);
  ASSERT_NE(record, nullptr);
  EXPECT_DOUBLE_EQ(record->hotCueStart[2], 3.5);
  EXPECT_EQ(record->hotCueEnd[2], kEmptyCue);
  EXPECT_DOUBLE_EQ(record->hotCueStart[5], 1.0);
  EXPECT_DOUBLE_EQ(record->hotCueEnd[5], 2.0);

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].loopOn = false;
  }
  MoveTo(0, 4.25);
  CuePress(0);  // paused off the cue point: the cue moves here
  DeleteHotCue(0, 2);
  Tick();
  record = FindTrackInfo(a);
  EXPECT_DOUBLE_EQ(record->cue, 4.25);
  EXPECT_EQ(record->hotCueStart[2], kEmptyCue);
  EXPECT_EQ(record->hotCueEnd[2], kEmptyCue);
  EXPECT_DOUBLE_EQ(record->hotCueStart[5], 1.0) << "the other slot stays";

  // A deck that changed nothing leaves the record alone, whoever else wrote it.
  TrackInfoFor(a).cue = 7.0;
  Tick();
  EXPECT_DOUBLE_EQ(FindTrackInfo(a)->cue, 7.0);

  // An end not after its start, or without a start, is no loop.
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = Engine.decks[0];
    deck.hotCueStart[6] = 2.0 * kRate;
    deck.hotCueEnd[6] = 1.0 * kRate;
    deck.hotCueStart[7] = -1.0;
    deck.hotCueEnd[7] = 3.0 * kRate;
  }
  Tick();
  record = FindTrackInfo(a);
  EXPECT_DOUBLE_EQ(record->hotCueStart[6], 2.0);
  EXPECT_EQ(record->hotCueEnd[6], kEmptyCue);
  EXPECT_EQ(record->hotCueStart[7], kEmptyCue);
  EXPECT_EQ(record->hotCueEnd[7], kEmptyCue);
}

TEST_F(NowPlayingStep, ATrackWithoutARateWritesNothing) {
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  Tick();
  TrackLibrary.clear();
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = Engine.decks[0];
    auto broken = std::make_shared<Track>(*deck.track);
    broken->sampleRate = 0;
    deck.track = broken;
    deck.hotCueStart[0] = 1000.0;
  }
  Tick();
  EXPECT_EQ(FindTrackInfo(a), nullptr);
}

// The point of it all: a hot cue set on a deck survives a save and a fresh start.
TEST_F(NowPlayingStep, AHotCueSurvivesSavingAndLoadingTheLibrary) {
  const std::wstring a = Utf8ToWide(Click(120));
  ASSERT_TRUE(LoadAndWait(0, WideToUtf8(a)));
  MoveTo(0, 2.75);
  PressHotCue(0, 0);
  Tick();
  ASSERT_TRUE(SaveDatabase());

  TrackLibrary.clear();
  LoadDatabase();
  const TrackInfo* record = FindTrackInfo(a);
  ASSERT_NE(record, nullptr);
  EXPECT_NEAR(record->hotCueStart[0], 2.75, 1e-6);
  EXPECT_EQ(record->hotCueEnd[0], kEmptyCue);

  ASSERT_TRUE(LoadAndWait(1, WideToUtf8(a)));
  SnapshotDecks();
  EXPECT_NEAR(DeckSnapshots[1].hotCueStart[0], 2.75 * kRate, 0.5) << "the reloaded deck jumps there";
}

}  // namespace
