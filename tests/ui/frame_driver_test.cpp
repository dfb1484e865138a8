// The frame driver and the per-frame tick: the order of the tick's steps, the tick without
// drawing, drawn frames and their input, the queue of actions after the frame, and the
// `screen` command of the tool that drives whole frames off-screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/frame_tick.h"
#include "app/publish_controls.h"
#include "base/files.h"
#include "base/settings.h"
#include "base/test_mode.h"
#include "base/track_info.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sampler.h"
#include "engine/side_slots.h"
#include "library/database.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/demo_tracks.h"
#include "settings/updates.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/draw.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

namespace {

TrackPtr MakeTrack(double bpm, double seconds) {
  auto track = std::make_shared<Track>();
  track->sampleRate = 44100;
  track->frames = static_cast<uint64_t>(seconds * track->sampleRate);
  track->bpm = bpm;
  return track;
}

void PutTrack(int deck, const TrackPtr& track, bool playing) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[deck].track = track;
  Engine.decks[deck].playing = playing;
}

// Every global the tick or the frame touches, back to its start.
void ResetFrameState() {
  ResetDecksForTest();
  for (DeckState& deck : Engine.decks) deck.peak.store(0.0f);
  Engine.recording.store(false);
  Meters = MixMeters{};
  AppTickMemory = TickMemory{};
  CrossfaderPosition = 0.5f;
  XfGlide = CrossfaderGlide{};
  Automix.on = false;
  SideSlots[kLeftSide] = 0;
  SideSlots[kRightSide] = 1;
  ActiveControlId = kNoActiveControl;
  Input = UiInput{};
  pressedIds.clear();
  releasedIds.clear();
  absolutePositions.clear();
  DeferredActions.clear();
  Status = StatusLine{};
  DemoTrackState.store(kDemoIdle);
  StopUpdateWorkers();
  Updates = UpdateState{};
  LibraryDirty = false;
  TestMode = false;
  SetFramePresenter(nullptr);
  ReleaseDevice();
}

class FrameTick : public ::testing::Test {
 protected:
  void SetUp() override { ResetFrameState(); }
  void TearDown() override { ResetFrameState(); }
  TempHome home_;
};

TEST_F(FrameTick, SyncLockAndTheGlideArePublishedInTheSameTick) {
  // Deck A follows deck B's tempo; the follow runs before the publish, so one tick is enough.
  PutTrack(0, MakeTrack(120, 60), false);
  PutTrack(1, MakeTrack(126, 60), false);
  SnapshotDecks();
  LiveDeckViews[0].syncLock = true;
  XfGlide = CrossfaderGlide{true, 0.0f, 1.0f, MonotonicSeconds() - 60.0};
  AppTick();
  EXPECT_NEAR(Engine.decks[0].tempo, 126.0 / 120.0 - 1.0, 1e-4);
  EXPECT_FLOAT_EQ(Engine.xfPosition, 1.0f);
  EXPECT_FALSE(XfGlide.active);
}

TEST_F(FrameTick, TheSnapshotCopiesTheEngineAndThePhrasesFollowItInTheSameTick) {
  const TrackPtr track = MakeTrack(124, 90);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    DeckState& deck = Engine.decks[2];
    deck.track = track;
    deck.position = 1234.5, deck.cuePoint = 100.0, deck.loopIn = 10.0, deck.loopOut = 20.0;
    deck.hotCueStart[3] = 500.0, deck.hotCueEnd[3] = 900.0;
    deck.playing = deck.jogTouched = deck.loopOn = deck.reverse = deck.slipMode = deck.slipOn = true;
    deck.slipPosition = 777.0;
    deck.stopMode = kStopBackspin;
    Engine.pads[4].name = L"HORN";
    Engine.pads[4].playing = true;
  }
  AppTick();
  const DeckSnapshot& shot = DeckSnapshots[2];
  EXPECT_EQ(shot.track, track);
  const double got[] = {shot.position,       shot.cuePoint,       shot.loopIn,         shot.loopOut,
                        shot.hotCueStart[3], shot.hotCueEnd[3], shot.hotCueStart[2], shot.slipPosition};
  const double want[] = {1234.5, 100, 10, 20, 500, 900, -1, 777};
  for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(got[i], want[i]) << "field " << i;
  EXPECT_TRUE(shot.playing && shot.jogTouched && shot.loopOn && shot.reverse && shot.slipMode && shot.slipOn);
  EXPECT_TRUE(shot.stopEffect);
  EXPECT_EQ(SamplerShot.padName[4], L"HORN");
  EXPECT_TRUE(SamplerShot.padPlaying[4]);
  EXPECT_FALSE(SamplerShot.padPlaying[3]);
  // The phrase cache ran after the snapshot: it already belongs to the new track.
  EXPECT_EQ(LiveDeckViews[2].phrasesFor, track);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.pads[4].name.clear();
  Engine.pads[4].playing = false;
}

TEST_F(FrameTick, ThePadRecordingShowsUntilItsSoundIsCollected) {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.padRecordBuffer.assign(2 * 1000, 0.0f);
    Engine.padRecordFrames = 250;
    Engine.padRecordState.store(kPadRecordRunning);
  }
  PadRecordTarget = 11;  // bank B, pad 4
  SnapshotDecks();
  EXPECT_TRUE(SamplerShot.recording);
  EXPECT_FLOAT_EQ(SamplerShot.recordProgress, 0.25f);
  EXPECT_EQ(SamplerShot.recordingName, L"REC 4");
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.padRecordState.store(kPadRecordIdle);
    Engine.padRecordBuffer.clear();
    Engine.padRecordFrames = 0;
  }
  PadRecordTarget = -1;
  SnapshotDecks();
  EXPECT_FALSE(SamplerShot.recording);
  EXPECT_EQ(SamplerShot.recordProgress, 0.0f) << "an empty buffer counts as one frame";
  EXPECT_TRUE(SamplerShot.recordingName.empty());
}

TEST_F(FrameTick, ThePhrasesAreAnalysedOnlyWhenTheTrackOrGridChanges) {
  const TrackPtr track = MakeTrack(120, 60);
  PutTrack(1, track, false);
  AppTick();
  ASSERT_EQ(LiveDeckViews[1].phrasesFor, track);
  const Phrase marker{999.0, kPhraseOutro};
  LiveDeckViews[1].phrases = {marker};
  AppTick();
  ASSERT_EQ(LiveDeckViews[1].phrases.size(), 1u);
  EXPECT_EQ(LiveDeckViews[1].phrases[0].beat, 999.0) << "unchanged track: cached";
  track->firstBeat = 0.25;
  AppTick();
  EXPECT_TRUE(LiveDeckViews[1].phrases.empty() || LiveDeckViews[1].phrases[0].beat != 999.0);
  EXPECT_EQ(LiveDeckViews[1].phrasesFirstBeat, 0.25);
  PutTrack(1, nullptr, false);
  LiveDeckViews[1].phrases = {marker};
  AppTick();
  EXPECT_TRUE(LiveDeckViews[1].phrases.empty());
  EXPECT_EQ(LiveDeckViews[1].phrasesFor, nullptr);
}

TEST_F(FrameTick, SideSlotsReturnToAAndBWithoutFourDecks) {
  SideSlots[kLeftSide] = 2;
  SideSlots[kRightSide] = 3;
  Settings.FourDecks = true;
  AppTick();
  EXPECT_EQ(SideSlots[kLeftSide], 2);
  EXPECT_EQ(SideSlots[kRightSide], 3);
  Settings.FourDecks = false;
  AppTick();
  EXPECT_EQ(SideSlots[kLeftSide], 0);
  EXPECT_EQ(SideSlots[kRightSide], 1);
}

TEST_F(FrameTick, TheGlideEasesAndEndsWhenTheFaderIsGrabbed) {
  Settings.MixLen = 8;
  const uint64_t now = MonotonicMs();
  const double seconds = static_cast<double>(now) / 1000.0;
  XfGlide = CrossfaderGlide{true, 0.0f, 1.0f, seconds - 2.0};  // t = 0.25
  AppTickAt(now);
  EXPECT_NEAR(CrossfaderPosition, 0.15625f, 1e-5);  // 0.25^2 x (3 - 0.5)
  XfGlide = CrossfaderGlide{true, 1.0f, 0.0f, seconds - 4.0};  // t = 0.5
  AppTickAt(now);
  EXPECT_NEAR(CrossfaderPosition, 0.5f, 1e-5);
  EXPECT_TRUE(XfGlide.active);
  ActiveControlId = kCrossfaderControlId;
  AppTickAt(now + 1000);
  EXPECT_FALSE(XfGlide.active);
  EXPECT_NEAR(CrossfaderPosition, 0.5f, 1e-5) << "the user holds it where it was";
}

TEST_F(FrameTick, KeepAwakeAndTheLibraryAutosaveRunFromTheTick) {
  TrackInfoFor(L"/music/a.flac").bpm = 122.0;
  LibraryAutosave = AutosaveState{};
  AppTick();
  EXPECT_FALSE(LibraryDirty);
  EXPECT_TRUE(FileExists(DatabasePath()));
  EXPECT_FALSE(AppTickMemory.keepAwake);
  PutTrack(3, MakeTrack(120, 60), true);
  AppTick();
  EXPECT_TRUE(AppTickMemory.keepAwake);
  PutTrack(3, MakeTrack(120, 60), false);
  AppTick();
  EXPECT_FALSE(AppTickMemory.keepAwake);
  Engine.recording.store(true);
  AppTick();
  EXPECT_TRUE(AppTickMemory.keepAwake);
}

TEST_F(FrameTick, AnUpdateThatTookIsAnnouncedOnceAndOneThatDidNotIsDismissed) {
  setenv("XDG_CACHE_HOME", home_.path().c_str(), 1);
  setenv("VELDMIX_UPDATE_SITE", "https://127.0.0.1:1", 1);  // a refused port: nothing leaves the machine
  const uint64_t now = MonotonicMs();
  Settings.Pending = 1700000000;
  Settings.PendingBuild = BuildStamp();  // the same program still runs
  AppTickAt(now);
  EXPECT_EQ(Settings.Dismissed, 1700000000);
  EXPECT_EQ(Settings.Installed, 0);
  EXPECT_EQ(Settings.Pending, 0);
  EXPECT_EQ(Settings.PendingBuild, 0);
  EXPECT_TRUE(Status.text.empty());
  EXPECT_TRUE(FileExists(SettingsPath()));
  EXPECT_EQ(Updates.nextAutoCheck, now + kFirstUpdateCheckDelayMs);

  // Once per process: a later tick does not look again.
  Settings.Pending = 5;
  AppTickAt(now + 15);
  EXPECT_EQ(Settings.Pending, 5);

  AppTickMemory = TickMemory{};
  Settings.PendingBuild = static_cast<int64_t>(BuildStamp()) + 1;  // another build ran the installer
  ASSERT_TRUE(CreateFolderTree(UpdateDownloadFolder()));
  AppTickAt(now);
  EXPECT_EQ(Settings.Installed, 5);
  EXPECT_EQ(Settings.Pending, 0);
  EXPECT_FALSE(FolderExists(UpdateDownloadFolder()));
  EXPECT_EQ(Status.text, L"Veldmix has been updated \u2014 this is version " VELDMIX_VERSION);
  EXPECT_GE(Status.expiresAtMs, MonotonicMs() + 5000);
  unsetenv("XDG_CACHE_HOME");

  // The first automatic check is due 20 s after the first tick.
  AppTickAt(now + kFirstUpdateCheckDelayMs - 1);
  EXPECT_EQ(Updates.nextAutoCheck, now + kFirstUpdateCheckDelayMs);
  AppTickAt(now + kFirstUpdateCheckDelayMs);
  EXPECT_GT(Updates.nextAutoCheck, now + kFirstUpdateCheckDelayMs) << "the check set the next due time";
  EXPECT_EQ(Updates.phase, kUpdateChecking);
  StopUpdateWorkers();
  unsetenv("VELDMIX_UPDATE_SITE");
  // A test run does no update work at all.
  AppTickMemory = TickMemory{};
  TestMode = true;
  Settings.Pending = 9;
  AppTickAt(now);
  EXPECT_FALSE(AppTickMemory.updateNoticeDone);
  EXPECT_EQ(Settings.Pending, 9);
}

// ---- frames ------------------------------------------------------------------------------------

struct Presented {
  int count = 0;
  int width = 0;
  uint32_t topLeft = 0;
  uint32_t statusCentre = 0;
};

class FrameDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFrameState();
    SetFramePresenter([this](const PixelView& v, const PixelBox&) {
      ++shown_.count;
      shown_.width = v.width;
      shown_.topLeft = v.pixels[0];
      shown_.statusCentre = v.pixels[static_cast<size_t>(117) * v.stride + v.width / 2];
      return true;
    });
  }
  void TearDown() override { ResetFrameState(); }
  Presented shown_;
  TempHome home_;
};

TEST_F(FrameDriver, ADrawnFrameIsShownOnceAndCarriesTheStatusPill) {
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  ASSERT_EQ(shown_.count, 1);
  EXPECT_EQ(shown_.width, 800);
  EXPECT_EQ(CurrentDpi(), 96.0f);
  EXPECT_GT(FrameClock, 0.0);
  const uint32_t without = shown_.statusCentre;

  ShowStatus(L"Deck A is playing \u2014 pause it before loading");
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  ASSERT_EQ(shown_.count, 2);
  EXPECT_NE(shown_.statusCentre, without) << "the pill sits at y 100..134";

  Status = StatusLine{};
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  EXPECT_EQ(shown_.statusCentre, without) << "no message, no pill";
}

TEST_F(FrameDriver, TheTargetsFollowTheWindowsScaleAndSize) {
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  DriveFrame(FrameWindow{1200, 900, false, 1.5f});
  EXPECT_EQ(CurrentDpi(), 144.0f);
  EXPECT_EQ(FrameImage().width, 1200);
  EXPECT_FLOAT_EQ(TargetWidth(), 800.0f);
  DriveFrame(FrameWindow{1000, 900, false, 1.5f});
  EXPECT_EQ(FrameImage().width, 1000);
  EXPECT_EQ(shown_.count, 3);
}

TEST_F(FrameDriver, ASmallOrMinimisedWindowOnlyTicks) {
  LiveDeckViews[0].fader = 0.33f;
  Engine.decks[1].peak.store(0.5f);
  Input.pressed = true;
  for (const FrameWindow& window : {FrameWindow{199, 600, false, 1.0f}, FrameWindow{1200, 800, true, 1.0f}}) {
    DriveFrame(window);
    EXPECT_FALSE(HasDevice());
  }
  EXPECT_EQ(shown_.count, 0);
  EXPECT_FLOAT_EQ(Engine.decks[0].fader, 0.33f) << "published while nothing was drawn";
  EXPECT_FLOAT_EQ(LiveDeckViews[1].meterLevel, 0.5f * 0.86f) << "two ticks of meter decay";
  EXPECT_TRUE(Input.pressed) << "one-frame flags wait for the next drawn frame";
}

TEST_F(FrameDriver, OneFrameInputEndsAfterADrawnFrame) {
  Input.pressed = Input.released = Input.rightPressed = Input.doubleClicked = true;
  Input.wheel = 2.0f;
  Input.x = 50.0f;
  ActiveControlId = kCrossfaderControlId;
  pressedIds.insert(5);
  absolutePositions[19] = 0.5f;
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  EXPECT_FALSE(Input.pressed || Input.released || Input.rightPressed || Input.doubleClicked);
  EXPECT_EQ(Input.wheel, 0.0f);
  EXPECT_EQ(Input.x, 50.0f);
  EXPECT_EQ(ActiveControlId, kNoActiveControl) << "the button is up: the drag ends";
  EXPECT_TRUE(pressedIds.empty());
  EXPECT_TRUE(absolutePositions.empty());

  Input.held = true;
  ActiveControlId = kCrossfaderControlId;
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  EXPECT_EQ(ActiveControlId, kCrossfaderControlId) << "still held: still dragging";
}

TEST_F(FrameDriver, ActionsQueuedDuringTheFrameRunOnceAfterItIsPresented) {
  // The tick queues the demo announcement during the frame. It adds the demo folder and shows
  // it: put back afterwards, so that no later test finds its scan or its view.
  const std::vector<std::wstring> folders = MusicFolders;
  const int view = ViewIndex;
  DemoTrackState.store(kDemoDone);
  bool announcedBeforePresent = true;
  SetFramePresenter([&](const PixelView&, const PixelBox&) {
    announcedBeforePresent = !Status.text.empty();
    return true;
  });
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  EXPECT_FALSE(announcedBeforePresent);
  EXPECT_EQ(Status.text, L"Two demo tracks added \u2014 load one onto each deck and press SYNC");
  EXPECT_TRUE(DeferredActions.empty());

  int outer = 0, inner = 0;
  QueueDeferredAction([&] {
    ++outer;
    QueueDeferredAction([&] { ++inner; });
  });
  DriveFrame(FrameWindow{800, 600, false, 1.0f});
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 0) << "queued by an action: after the next frame";
  DriveFrame(FrameWindow{199, 199, false, 1.0f});  // a tick-only frame runs the queue too
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 1);
  StopFolderScans();
  Scanning = false;
  MusicFolders = folders;
  ViewIndex = view;
}

// Boxes to redraw alone: those that overlap or lie near each other join, far ones stay apart, and
// a full set joins the pair whose joining costs least.
TEST(PartBoxes, NearBoxesJoinFarOnesStayApart) {
  PartBoxes parts;
  parts.Add(PixelBox{0, 0, 100, 100});
  parts.Add(PixelBox{50, 50, 150, 150});
  parts.Add(PixelBox{160, 0, 260, 100});  // 10 pixels from the joined one
  ASSERT_EQ(parts.count, 1);
  EXPECT_EQ(parts.box[0], (PixelBox{0, 0, 260, 150}));
  parts.Add(PixelBox{1000, 100, 1100, 200});
  parts.Add(PixelBox{});  // nothing to redraw
  ASSERT_EQ(parts.count, 2);
  parts.Add(PixelBox{0, 1000, 50, 1050});
  parts.Add(PixelBox{1800, 0, 1850, 50});
  parts.Add(PixelBox{1000, 1500, 1100, 1600});  // too far to join, but the set is full
  ASSERT_EQ(parts.count, kMaxPartBoxes);
  EXPECT_NE(std::find(std::begin(parts.box), std::end(parts.box), PixelBox{1000, 100, 1100, 1600}), std::end(parts.box))
      << "the pair joined that grows least";
  int64_t area = 0;
  for (const PixelBox& b : parts.box) area += int64_t{b.x1 - b.x0} * (b.y1 - b.y0);
  EXPECT_EQ(area, 260 * 150 + 100 * 1500 + 50 * 50 + 50 * 50);
}

namespace {
int LightStep = 0;
std::vector<PixelBox> ShownBoxes;
// Two glowing lights that step along and change alone, over a dark frame, among still glows
// just beyond their boxes, whose blurs the parts' glow reads.
void DrawTwoLights() {
  FillRect(Rc{0, 0, TargetWidth(), TargetHeight()}, ColorOf(0x101010));
  for (const Rc r : {Rc{40, 40, 60, 30}, Rc{330, 160, 60, 30}}) {
    const float reach = kGlowReachPx;
    GlowLine(r.x - 2 * reach, r.y - reach - 6, r.Right() + 2 * reach, r.y - reach - 6, ColorOf(0x40FF80, 0.9f), 3);
    GlowOutline(Rc{r.x - reach - 30, r.y - 20, 24, r.h + 60}, 4, ColorOf(0xFF40C0, 0.8f), 2);
    GlowCircle(r.Right() + reach + 12, r.Bottom() + reach + 4, 9, ColorOf(0x80C0FF, 0.9f));
    RedrawPartAt(0, r, UINT64_MAX);
    FillRoundedRect(Rc{r.x + 5.0f * LightStep, r.y, 30, 30}, 8, ColorOf(LightStep % 2 ? 0xFF8040 : 0x40A0FF));
    GlowCircle(r.x + 5.0f * LightStep + 15, r.CenterY(), 14, ColorOf(0xFFFFFF, 0.8f));
  }
}
std::vector<uint32_t> FramePixels() {
  const PixelView v = FrameImage();
  std::vector<uint32_t> out;
  for (int y = 0; y < v.height; ++y) {
    const uint32_t* row = v.pixels + static_cast<size_t>(y) * v.stride;
    out.insert(out.end(), row, row + v.width);
  }
  return out;
}
}  // namespace

// The two lights' boxes are drawn and shown each in a pass of its own, step after step, and the
// frame then holds what whole frames of the same steps hold; so does a whole frame after them.
TEST_F(FrameDriver, PartsFarApartAreDrawnAsTwoBoxesThatShowWhatAWholeFrameShows) {
  SetFramePresenter([](const PixelView&, const PixelBox& changed) {
    ShownBoxes.push_back(changed);
    return true;
  });
  const FrameWindow window{800, 600, false, 1.0f};
  constexpr int kSteps = 6;
  std::vector<std::vector<uint32_t>> whole;
  for (LightStep = 0; LightStep <= kSteps; ++LightStep) {
    ASSERT_TRUE(DrawWindowFrame(window, DrawTwoLights));
    whole.push_back(FramePixels());
  }
  LightStep = 0;
  ASSERT_TRUE(DrawWindowFrame(window, DrawTwoLights));
  for (LightStep = 1; LightStep <= kSteps; ++LightStep) {
    PartBoxes parts;
    ASSERT_TRUE(RedrawPartDue(1, &parts));
    ASSERT_EQ(parts.count, 2);
    ShownBoxes.clear();
    ASSERT_TRUE(DrawWindowFrame(window, DrawTwoLights, parts));
    ASSERT_EQ(ShownBoxes.size(), 2u);
    for (const PixelBox& b : ShownBoxes) EXPECT_LT(int64_t{b.x1 - b.x0} * (b.y1 - b.y0), 200 * 200);
    const std::vector<uint32_t> patched = FramePixels();
    ASSERT_EQ(patched.size(), whole[LightStep].size());
    size_t differing = 0;
    for (size_t i = 0; i < patched.size(); ++i) differing += patched[i] != whole[LightStep][i];
    EXPECT_EQ(differing, 0u) << "step " << LightStep;
  }
  LightStep = kSteps;
  ASSERT_TRUE(DrawWindowFrame(window, DrawTwoLights));
  EXPECT_TRUE(FramePixels() == whole[kSteps]) << "a whole frame after the parts";
}

// ---- the tool's screen command ----------------------------------------------------------------

struct ToolRun {
  int status = -1;
  std::string output;
};

ToolRun RunTool(const std::string& arguments) {
  ToolRun run;
  run.output = RunCommand(ShellQuote(VELDMIX_TOOL) + " " + arguments + " 2>&1", &run.status);
  return run;
}

TEST(ScreenCommand, TheToolDrawsFramesWithTracksLoadedAndWritesAPng) {
  TempHome home;
  ClickTrackFolder folder;
  ClickTrack spec;
  spec.seconds = 4.0;
  const std::string track = folder.Make(spec);
  ASSERT_FALSE(track.empty());
  const std::string out = home.path() + "/screen.png";
  const ToolRun run = RunTool("screen " + ShellQuote(out) + " --lang 2 --size 960x540 " + ShellQuote(track));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + ShellQuote(out)), "960,540\n");
  EXPECT_FALSE(FileExists(JoinPath(home.wpath(), L"data/Veldmix/database.tsv"))) << "the tool saves nothing";

  const ToolRun missing = RunTool("screen " + out + " " + home.path() + "/none.wav");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("none.wav"), std::string::npos) << missing.output;
  EXPECT_EQ(RunTool("screen " + out + " --size 100x").status, 2);
  EXPECT_EQ(RunTool("screen").status, 2);
}

}  // namespace
