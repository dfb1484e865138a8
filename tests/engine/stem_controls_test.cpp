// Stem switches, presets and the effects target on a loaded deck, and separation jobs started
// from a deck: the real worker with tiny generated models, its completion, stale results and the
// message when the models are missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "app/load_settings.h"
#include "app/shutdown.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/deck_commands.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sandbox.h"
#include "engine/stem_controls.h"
#include "engine/stems.h"
#include "platform/folders.h"
#include "platform/onnx_runtime.h"
#include "platform/sanitizers.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/thread_priority.h"
#include "platform/ui_post.h"
#include "support/click_tracks.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace fs = std::filesystem;

namespace {

// A click track of `bpm` lasting `seconds`, the other settings at their defaults.
ClickTrack ClickSpec(double bpm, double seconds) {
  ClickTrack spec;
  spec.bpm = bpm;
  spec.seconds = seconds;
  return spec;
}

std::string MakeTempFolder() {
  char tmpl[] = "/tmp/veldmix-stemctl-XXXXXX";
  return mkdtemp(tmpl) ? std::string(tmpl) : std::string();
}

int gStemPostsSeen = 0;

// Hands queued completions to their handlers until `done` holds or three minutes have passed, ten
// times that in a build checked by ThreadSanitizer (beside other such suites on two cores, one
// separation takes over three).
template <typename Done>
bool DrainUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3) * kSanitizerWaitScale;
  do {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kStemsReadyPost) ++gStemPostsSeen, OnStemsReady(static_cast<StemResult*>(post.lparam));
      if (post.message == kDeckLoadPost) FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
    });
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

class StemControls : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Status = StatusLine{};
    static ClickTrackFolder folder;
    path_ = folder.Make(ClickSpec(120.0, 6.0));
    ASSERT_TRUE(LoadAndWait(0, path_));
  }
  void TearDown() override {
    StopStemJobs();  // no worker outlives its test
    DrainUntil([] { return true; });
    ResetDecksForTest();
  }
  static TrackPtr DeckTrack(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].track;
  }
  static StemDataPtr DeckStems(int deck) {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    return Engine.decks[deck].stems;
  }
  // Silent stems of deck A's track, as a finished separation would leave them.
  static StemDataPtr SilentStems() {
    auto stems = std::make_shared<StemData>();
    stems->track = DeckTrack(0).get();
    stems->frames = DeckTrack(0)->frames;
    stems->vocals.assign(2 * stems->frames, 0);
    stems->drums = stems->bass = stems->vocals;
    return stems;
  }

  std::string path_;
};

// Jobs with the generated models: one folder for the suite, as the stem engine is built once.
class StemControlJobs : public StemControls {
 protected:
  static void SetUpTestSuite() {
    folder_ = MakeTempFolder();
    const std::string runtime = WideToUtf8(JoinPath(ProgramFolder(), kOnnxRuntimeFileName));
    ASSERT_TRUE(fs::exists(runtime)) << "the build did not copy the runtime beside the tests";
    fs::create_symlink(runtime, folder_ + "/libonnxruntime.so.1");
    int status = -1;
    const std::string script = std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_stem_models.py";
    RunCommand("/usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(folder_) + " 2>&1", &status);
    ASSERT_EQ(status, 0);
  }
  static void TearDownTestSuite() {
    SetStemProgramFolder(L"");
    fs::remove_all(folder_);
  }
  void SetUp() override {
    SetStemProgramFolder(Utf8ToWide(folder_));
    StemControls::SetUp();
  }
  static inline std::string folder_;
};

}  // namespace

TEST_F(StemControls, PresetsSwitchesAndTheEffectsTargetActOnReadyStems) {
  SetStemEffectsTarget(0, 1);
  EXPECT_EQ(Status.text, L"Separate the stems first \u2014 then the effects can go on just one of them");
  ASSERT_TRUE(AttachStems(DeckTrack(0), SilentStems()));
  DeckView& view = LiveDeckViews[0];
  view.kickOn = false;
  ToggleStem(0, kStemVocalsOnlyPad);
  EXPECT_EQ(view.stemOn, (std::array<bool, 4>{true, false, false, false}));
  EXPECT_TRUE(view.kickOn);
  ToggleStem(0, kStemVocalsOnlyPad);
  EXPECT_EQ(view.stemOn, (std::array<bool, 4>{true, true, true, true})) << "the same preset twice: full mix";
  ToggleStem(0, kStemNoVocalsPad);
  EXPECT_EQ(view.stemOn, (std::array<bool, 4>{false, true, true, true}));
  ToggleStem(0, kStemHatSwitch);
  EXPECT_FALSE(view.hatOn);

  SetStemEffectsTarget(0, 1);
  EXPECT_EQ(view.stemFxTarget, 1);
  EXPECT_EQ(Status.text, L"Deck A effects: on the drums only");
  SetStemEffectsTarget(0, 1);
  EXPECT_EQ(view.stemFxTarget, -1);
  EXPECT_EQ(Status.text, L"Deck A effects: on everything");
}

TEST_F(StemControls, StemsOfOneTrackReachEveryDeckHoldingIt) {
  InstantDouble(1, 0);
  const StemDataPtr stems = SilentStems();
  EXPECT_TRUE(AttachStems(DeckTrack(0), stems));
  EXPECT_EQ(DeckStems(1), stems);
  EXPECT_TRUE(LiveDeckViews[1].stemsReady);
  // A deck holding the same Track without stems takes them instead of separating again.
  InstantDouble(2, 0);
  LiveDeckViews[2].stemsReady = false;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[2].stems.reset();
  }
  StartStemSeparation(2);
  EXPECT_EQ(DeckStems(2), stems);
  EXPECT_FALSE(LiveDeckViews[2].stemsRunning);
  EXPECT_FALSE(AttachStems(std::make_shared<Track>(), stems)) << "no deck holds that track";
}

TEST_F(StemControls, WithoutTheModelsTheReasonIsShownAndNothingRuns) {
  const std::string empty = MakeTempFolder();
  SetStemProgramFolder(Utf8ToWide(empty));
  const uint32_t job = LiveDeckViews[0].stemJob;
  ToggleStem(0, 1);
  const std::wstring expected =
      L"Stems need ONNX Runtime, which is not included with Veldmix: put libonnxruntime.so.1 in " + Utf8ToWide(empty);
  EXPECT_EQ(LiveDeckViews[0].stemMessage, expected);
  EXPECT_EQ(Status.text, expected);
  EXPECT_FALSE(LiveDeckViews[0].stemsRunning);
  EXPECT_EQ(LiveDeckViews[0].stemJob, job);
  SetStemProgramFolder(L"");
  fs::remove_all(empty);
}

TEST_F(StemControls, CompletionsReportFailuresButNotCancelsAndDropOldJobs) {
  DeckView& view = LiveDeckViews[0];
  view.stemsRunning = true;
  view.stemJob = 4;
  OnStemsReady(new StemResult{0, 4, DeckTrack(0), nullptr, kStemsCancelledText, false, 1.0});
  EXPECT_FALSE(view.stemsRunning);
  EXPECT_EQ(view.stemMessage, kStemsCancelledText);
  EXPECT_TRUE(Status.text.empty());
  OnStemsReady(new StemResult{0, 4, DeckTrack(0), nullptr, L"The stem model failed: bad shape", false, 1.0});
  EXPECT_EQ(Status.text, L"Stems for deck A: The stem model failed: bad shape");
  // The reason is translated too; only the runtime's own words stay as they came.
  EXPECT_EQ(ShownStatusIn(kUiSpanish), L"Stems del deck A: Falló el modelo de stems: bad shape");
  OnStemsReady(new StemResult{0, 4, DeckTrack(0), nullptr, L"There isn't enough memory to separate this track", false,
                              1.0});
  EXPECT_EQ(ShownStatusIn(kUiGerman), L"Stems für Deck A: Es ist nicht genug Speicher frei, um diesen Track zu trennen");
  view.stemsRunning = true;
  OnStemsReady(new StemResult{0, 3, DeckTrack(0), SilentStems(), L"", false, 1.0});
  EXPECT_TRUE(view.stemsRunning) << "an older job's result is dropped unseen";
  EXPECT_FALSE(DeckStems(0));
}

TEST_F(StemControlJobs, ASeparationRunsOnceAndAttachesItsStems) {
  DeckView& view = LiveDeckViews[0];
  const uint32_t job = view.stemJob + 1;
  ToggleStem(0, 1);
  EXPECT_TRUE(view.stemsRunning);
  ToggleStem(0, 1);  // while it runs: no second job, nothing flips
  EXPECT_EQ(view.stemJob, job);
  EXPECT_TRUE(view.stemOn[1]);

  ASSERT_TRUE(DrainUntil([&] { return !view.stemsRunning; }));
  ASSERT_TRUE(view.stemsReady) << WideToUtf8(view.stemMessage);
  const StemDataPtr stems = DeckStems(0);
  ASSERT_TRUE(stems);
  EXPECT_EQ(stems->frames, DeckTrack(0)->frames);
  EXPECT_TRUE(Status.text.starts_with(L"Stems ready on deck A (")) << WideToUtf8(Status.text);
  EXPECT_TRUE(Status.text.ends_with(L" s on the CPU)"));
  EXPECT_TRUE(ShownStatusIn(kUiGerman).starts_with(L"Stems bereit auf Deck A (")) << WideToUtf8(ShownStatusIn(kUiGerman));
}

TEST_F(StemControlJobs, EjectingDuringAJobCancelsItAndItsLateResultIsIgnored) {
  ToggleStem(0, 0);
  DeckView& view = LiveDeckViews[0];
  const auto cancel = view.stemCancel;
  EjectDeck(0);
  EXPECT_TRUE(cancel->load()) << "the running job was told to stop";
  // The same file again; the old job's result, seen here, carries an old serial.
  const int seen = gStemPostsSeen;
  ASSERT_TRUE(LoadTrack(0, Utf8ToWide(path_)));
  ASSERT_TRUE(DrainUntil([&] { return !view.loading; }));
  Status = StatusLine{};
  ASSERT_TRUE(DrainUntil([&] { return gStemPostsSeen > seen; }));
  EXPECT_FALSE(view.stemsReady);
  EXPECT_FALSE(DeckStems(0));
  EXPECT_TRUE(Status.text.empty());
}

TEST_F(StemControlJobs, TheSeparationAndItsHelperThreadsRunBelowTheUiThread) {
  // Every thread that works while the separation runs, other than this (the UI) thread, does so
  // at a raised nice value: the worker, the spectrogram threads and the runtime's own.
  const std::string self = std::to_string(CurrentThreadId());
  std::map<std::string, std::pair<long, int>> seen;  // thread id: first CPU ticks seen, last nice
  std::map<std::string, long> busy;                  // thread id: CPU ticks used while watched
  const auto sample = [&] {
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
      const std::string tid = entry.path().filename();
      std::ifstream file(entry.path() / "stat");
      std::string stat;
      try {
        stat.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      } catch (const std::ios_base::failure&) {
        continue;  // the thread ended between the listing and the read
      }
      const size_t close = stat.rfind(')');
      if (tid == self || close == std::string::npos) continue;
      std::istringstream fields(stat.substr(close + 2));
      std::vector<std::string> f{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
      if (f.size() < 17) continue;
      const long ticks = std::stol(f[11]) + std::stol(f[12]);  // utime + stime
      const int nice = std::stoi(f[16]);
      auto [it, fresh] = seen.try_emplace(tid, ticks, nice);
      if (!fresh) busy[tid] = ticks - it->second.first, it->second.second = nice;  // a new thread lowers itself first
    }
  };
  const int uiNice = ThreadNiceValue();
  sample();
  // Threads that ran before the job (the log, the test's own) may be charged a tick on a busy
  // machine; only those the separation starts are judged.
  std::set<std::string> before;
  for (const auto& [tid, first] : seen) before.insert(tid);
  ToggleStem(0, 1);
  ASSERT_TRUE(LiveDeckViews[0].stemsRunning);
  ASSERT_TRUE(DrainUntil([&] {
    sample();
    return !LiveDeckViews[0].stemsRunning;
  }));
  ASSERT_TRUE(LiveDeckViews[0].stemsReady) << WideToUtf8(LiveDeckViews[0].stemMessage);
  EXPECT_EQ(ThreadNiceValue(), uiNice);
  int working = 0;
  for (const auto& [tid, ticks] : busy) {
    if (ticks <= 0 || before.count(tid)) continue;
    ++working;
    EXPECT_GE(seen[tid].second, std::min(uiNice + kBackgroundNiceStep, 19))  // 19: the lowest there is
        << "thread " << tid << " worked at normal priority";
  }
  EXPECT_GE(working, 2) << "the worker and at least one helper did the work";
}

// Closing the program while a separation runs: the end of the run cancels it and waits for its
// worker, so that no thread is left to meet the runtime's globals destroyed after main, and the
// process ends cleanly. StopAndSaveAll runs once per process: a child process of its own.
TEST_F(StemControlJobs, ClosingMidSeparationCancelsItWaitsForItAndEndsCleanly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempHome home;
        LoadSettings();
        TestMode = true;
        static ClickTrackFolder folder;
        if (!LoadAndWait(0, folder.Make(ClickSpec(120.0, 60.0)))) std::exit(2);
        ToggleStem(0, 1);
        const auto cancel = LiveDeckViews[0].stemCancel;
        const auto progress = LiveDeckViews[0].stemProgress;
        // Well inside the separation: the first model has made progress and has more to do.
        if (!DrainUntil([&] { return progress->load() > 0.0f; })) std::exit(3);
        // Its job is the one holder of the progress beside the view and this test.
        if (progress->load() >= 1.0f / 3 || progress.use_count() != 3) std::exit(4);
        StopAndSaveAll();
        if (!cancel->load()) std::exit(5);
        // The worker has freed its job: it has ended.
        std::exit(progress.use_count() == 2 ? 0 : 6);
      },
      testing::ExitedWithCode(0), "");
}
