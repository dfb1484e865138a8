#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>  // mkdtemp
#include <filesystem>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/stems.h"
#include "platform/folders.h"
#include "platform/onnx_runtime.h"
#include "platform/text.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"
#include "ui/language.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// The generated models (tests/support/make_stem_models.py): vocals keep what lies below 1 kHz,
// drums swap the channels at half level, bass is the mix at a quarter.
constexpr double kDrumsGain = 0.5;
constexpr double kBassGain = 0.25;

std::string MakeTempFolder() {
  char tmpl[] = "/tmp/veldmix-stems-XXXXXX";
  if (!mkdtemp(tmpl)) return {};
  return tmpl;
}

// Generates the models into folder/Models; extra = the generator's options.
bool MakeModels(const std::string& folder, const std::string& extra = "") {
  int status = -1;
  RunCommand("/usr/bin/python3 " + ShellQuote(std::string(VELDMIX_SOURCE_DIR) + "/tests/support/make_stem_models.py") +
                 " " + ShellQuote(folder) + " " + extra + " 2>&1",
             &status);
  return status == 0;
}

// The runtime the build copied beside the test program, linked into a test folder.
std::string BuiltRuntime() { return WideToUtf8(JoinPath(ProgramFolder(), kOnnxRuntimeFileName)); }

// Left: 220 Hz and 3 kHz (the vocals model keeps only the first); right: 330.5 Hz.
struct TestSignal {
  double low = 0.4, high = 0.2, right = 0.3;
  double Left(double t) const { return low * std::sin(kTwoPi * 220 * t) + high * std::sin(kTwoPi * 3000 * t); }
  double LeftLow(double t) const { return low * std::sin(kTwoPi * 220 * t); }
  double Right(double t) const { return right * std::sin(kTwoPi * 330.5 * t); }
};

TrackPtr MakeTrack(const TestSignal& s, int32_t rate, double seconds) {
  auto track = std::make_shared<Track>();
  track->sampleRate = rate;
  track->frames = static_cast<uint64_t>(seconds * rate);
  track->samples.resize(2 * track->frames);
  for (uint64_t i = 0; i < track->frames; ++i) {
    const double t = double(i) / rate;
    track->samples[2 * i] = static_cast<float>(s.Left(t));
    track->samples[2 * i + 1] = static_cast<float>(s.Right(t));
  }
  return track;
}

// Worst difference in 16-bit steps between a stem and the expected signal, over the frames from
// `skip` to frames - skip.
template <typename Expected>
double WorstError(const std::vector<int16_t>& stem, uint64_t frames, int32_t rate, uint64_t skip, Expected expected) {
  double worst = 0;
  for (uint64_t i = skip; i + skip < frames; ++i) {
    double l, r;
    expected(double(i) / rate, l, r);
    worst = std::max({worst, std::abs(stem[2 * i] - l * 32767), std::abs(stem[2 * i + 1] - r * 32767)});
  }
  return worst;
}

// One folder for the whole process: the engine is built once and keeps its sessions.
class StemSeparation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = MakeTempFolder();
    ASSERT_FALSE(folder_.empty());
    ASSERT_TRUE(fs::exists(BuiltRuntime())) << "the build did not copy the runtime beside the tests: " << BuiltRuntime();
    fs::create_symlink(BuiltRuntime(), folder_ + "/libonnxruntime.so.1");
    ASSERT_TRUE(MakeModels(folder_));
    SetStemProgramFolder(Utf8ToWide(folder_));
    // Where the runtime would keep what it gathers about the user, before the engine loads.
    if (const char* cache = getenv("XDG_CACHE_HOME")) savedCache_ = cache;
    setenv("XDG_CACHE_HOME", (folder_ + "/cache").c_str(), 1);
  }
  static void TearDownTestSuite() {
    savedCache_ ? setenv("XDG_CACHE_HOME", savedCache_->c_str(), 1) : unsetenv("XDG_CACHE_HOME");
    SetStemProgramFolder(L"");
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  static std::string folder_;
  static std::optional<std::string> savedCache_;
};
std::string StemSeparation::folder_;
std::optional<std::string> StemSeparation::savedCache_;

}  // namespace

TEST(StemModelTable, NamesDistinctModelsOfValidGeometry) {
  std::set<std::wstring> files;
  for (const StemModel& m : kStemModels) {
    EXPECT_TRUE(StemDsp::ValidGeometry(m.geometry)) << WideToUtf8(m.file);
    EXPECT_TRUE(std::wstring(m.file).ends_with(L".onnx"));
    files.insert(m.file);
  }
  EXPECT_EQ(files.size(), size_t(kStemModelCount));
  EXPECT_EQ(std::wstring(kStemModels[0].file), L"mdx-vocals.onnx");
  EXPECT_EQ(std::wstring(kStemModels[1].file), L"mdx-drums.onnx");
  EXPECT_EQ(std::wstring(kStemModels[2].file), L"mdx-bass.onnx");
}

TEST(StemModelsPresence, NamesTheRuntimeOrEveryMissingModel) {
  const std::string folder = MakeTempFolder();
  ASSERT_FALSE(folder.empty());
  SetStemProgramFolder(Utf8ToWide(folder));
  std::wstring error = L"untouched";

  EXPECT_FALSE(StemModelsPresent(&error));
  // Neither the runtime nor the models come with the program: the messages say so and where they go.
  const std::wstring where = Utf8ToWide(folder);
  EXPECT_EQ(error, L"Stems need ONNX Runtime, which is not included with Veldmix: put libonnxruntime.so.1 in " + where);
  EXPECT_FALSE(StemModelsPresent(nullptr));

  WriteRaw(folder + "/libonnxruntime.so.1", "not loaded here");
  EXPECT_FALSE(StemModelsPresent(&error));
  EXPECT_EQ(error, L"The stem models are not included with Veldmix: put the missing files in " + where +
                       L"/Models: mdx-vocals.onnx, mdx-drums.onnx, mdx-bass.onnx");
  // The words translate; the folder and the file names stay as they are.
  SetUiLanguage(kUiGerman);
  EXPECT_EQ(Translate(error), L"Die Stem-Modelle liegen Veldmix nicht bei: kopiere die fehlenden Dateien nach " + where +
                                  L"/Models: mdx-vocals.onnx, mdx-drums.onnx, mdx-bass.onnx");
  SetUiLanguage(kUiEnglish);

  ASSERT_TRUE(MakeModels(folder, "--skip drums"));
  EXPECT_FALSE(StemModelsPresent(&error));
  EXPECT_EQ(error, L"The stem models are not included with Veldmix: put the missing files in " + where +
                       L"/Models: mdx-drums.onnx");

  ASSERT_TRUE(MakeModels(folder));
  error = L"untouched";
  EXPECT_TRUE(StemModelsPresent(&error));
  EXPECT_EQ(error, L"untouched");

  SetStemProgramFolder(L"");
  std::error_code ec;
  fs::remove_all(folder, ec);
}

TEST_F(StemSeparation, StemsFollowTheModelsMathAtTheTracksRate) {
  const TestSignal s;
  for (const int32_t rate : {44100, 48000}) {
    const TrackPtr track = MakeTrack(s, rate, 7.0);  // two chunks of the largest model
    std::atomic<float> progress{0.5f};
    std::atomic<bool> cancel{false};
    std::wstring error;
    bool usedGpu = true;
    const StemDataPtr stems = SeparateStems(*track, progress, cancel, error, &usedGpu);
    ASSERT_TRUE(stems) << WideToUtf8(error);
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(usedGpu);  // no DirectML on this system: the CPU retry runs the models
    EXPECT_EQ(progress.load(), 1.0f);
    EXPECT_EQ(stems->track, track.get());
    EXPECT_EQ(stems->frames, track->frames);
    ASSERT_EQ(stems->vocals.size(), 2 * track->frames) << rate;
    ASSERT_EQ(stems->drums.size(), 2 * track->frames) << rate;
    ASSERT_EQ(stems->bass.size(), 2 * track->frames) << rate;

    // The track starts and ends abruptly (and the resampler fades there): judge from 50 ms in.
    const uint64_t skip = rate / 20;
    const double vocals = WorstError(stems->vocals, track->frames, rate, skip, [&](double t, double& l, double& r) {
      l = s.LeftLow(t);
      r = s.Right(t);
    });
    const double drums = WorstError(stems->drums, track->frames, rate, skip, [&](double t, double& l, double& r) {
      l = kDrumsGain * s.Right(t);
      r = kDrumsGain * s.Left(t);
    });
    const double bass = WorstError(stems->bass, track->frames, rate, skip, [&](double t, double& l, double& r) {
      l = kBassGain * s.Left(t);
      r = kBassGain * s.Right(t);
    });
    // A 16-bit step is 1/32767; the brick-wall mask's ripple costs a few more.
    constexpr double tolerance = 4.0;
    EXPECT_LT(vocals, tolerance) << rate;
    EXPECT_LT(drums, tolerance) << rate;
    EXPECT_LT(bass, tolerance) << rate;
  }
}

TEST_F(StemSeparation, ClampsToFullScaleSymmetrically) {
  TestSignal loud;
  loud.low = 1.5;  // the vocals model passes it unchanged: beyond full scale
  const TrackPtr track = MakeTrack(loud, 44100, 1.0);
  std::atomic<float> progress{0.0f};
  std::atomic<bool> cancel{false};
  std::wstring error;
  const StemDataPtr stems = SeparateStems(*track, progress, cancel, error, nullptr);
  ASSERT_TRUE(stems) << WideToUtf8(error);
  const auto [low, high] = std::minmax_element(stems->vocals.begin(), stems->vocals.end());
  EXPECT_EQ(*high, 32767);
  EXPECT_EQ(*low, -32767);
}

TEST_F(StemSeparation, ProgressRisesByModelThirdsToOne) {
  const TrackPtr track = MakeTrack(TestSignal{}, 44100, 40.0);
  std::atomic<float> progress{0.0f};
  std::atomic<bool> cancel{false}, finished{false};
  std::vector<float> seen;
  std::thread watcher([&] {
    float last = -1;
    while (!finished.load()) {
      const float now = progress.load();
      if (now != last) seen.push_back(last = now);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a batch takes seconds
    }
  });
  std::wstring error;
  const StemDataPtr stems = SeparateStems(*track, progress, cancel, error, nullptr);
  finished = true;
  watcher.join();
  ASSERT_TRUE(stems) << WideToUtf8(error);
  ASSERT_GE(seen.size(), 3u);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]) << i;
  // Inside a model the demix reaches at most 95 % of its third.
  const float third = 1.0f / 3;
  for (float p : seen) {
    const float within = std::fmod(p, third);
    if (p < 1.0f && within > 1e-4f) {
      EXPECT_LE(within, 0.95f * third + 1e-5f) << p;
    }
  }
  EXPECT_EQ(progress.load(), 1.0f);
}

TEST_F(StemSeparation, CancelDuringDrumsGivesNothingAndTheNextRunStartsAtZero) {
  const TrackPtr track = MakeTrack(TestSignal{}, 44100, 60.0);
  std::atomic<float> progress{0.0f};
  std::atomic<bool> cancel{false}, finished{false};
  // Cancel as soon as the vocals are done: the drums model is then running.
  std::thread watcher([&] {
    while (!finished.load()) {
      if (progress.load() >= 1.0f / 3) {
        cancel = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a batch takes seconds
    }
  });
  std::wstring error;
  const StemDataPtr stems = SeparateStems(*track, progress, cancel, error, nullptr);
  finished = true;
  watcher.join();
  EXPECT_FALSE(stems);
  EXPECT_EQ(error, L"Cancelled");
  EXPECT_GE(progress.load(), 1.0f / 3);
  EXPECT_LT(progress.load(), 2.0f / 3);

  // Already cancelled at the start: progress goes back to 0, nothing runs, the error stays.
  error = L"earlier";
  EXPECT_FALSE(SeparateStems(*track, progress, cancel, error, nullptr));
  EXPECT_EQ(progress.load(), 0.0f);
  EXPECT_EQ(error, L"earlier");

  cancel = false;
  const TrackPtr short_ = MakeTrack(TestSignal{}, 44100, 1.0);
  EXPECT_TRUE(SeparateStems(*short_, progress, cancel, error, nullptr));
  EXPECT_EQ(progress.load(), 1.0f);
}

// The runtime as shipped reports usage to its vendor from threads of its own and keeps a device
// identifier in the user's cache; separating stems must do neither.
TEST_F(StemSeparation, LeavesNothingOfTheRuntimesTelemetryInTheCache) {
  const TrackPtr track = MakeTrack(TestSignal{}, 44100, 1.0);
  std::atomic<float> progress{0.0f};
  std::atomic<bool> cancel{false};
  std::wstring error;
  ASSERT_TRUE(SeparateStems(*track, progress, cancel, error, nullptr)) << WideToUtf8(error);
  EXPECT_FALSE(fs::exists(folder_ + "/cache/Microsoft"));
}

TEST_F(StemSeparation, RefusesATrackWithoutAudio) {
  std::atomic<float> progress{0.0f};
  std::atomic<bool> cancel{false};
  Track empty;
  std::wstring error;
  EXPECT_FALSE(SeparateStems(empty, progress, cancel, error, nullptr));
  EXPECT_EQ(error, L"This track has no audio loaded");

  // A frame count the samples do not hold is no audio either, never a read past the end.
  Track shortSamples;
  shortSamples.frames = 1000;
  shortSamples.samples.assign(1999, 0.1f);
  error.clear();
  EXPECT_FALSE(SeparateStems(shortSamples, progress, cancel, error, nullptr));
  EXPECT_EQ(error, L"This track has no audio loaded");
}
