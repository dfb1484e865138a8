#include "support/click_tracks.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include "base/settings.h"
#include "base/track_info.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/key_lock.h"
#include "engine/render.h"
#include "engine/undo.h"
#include "library/library_file.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/wav_probe.h"

namespace {

constexpr int kClickHz = 1000;
constexpr int kPollMs = 5;
constexpr int kBlockBeats = 32;

// The aevalsrc expression of one channel: silence before the lead, then clicks and the tone,
// scaled by the level of the current 32-beat block.
std::string ChannelExpression(const ClickTrack& spec) {
  const double beat = 60.0 / spec.bpm;
  const std::string t = fmt::format("(t-{:.9f})", spec.leadSilence);
  std::string level = "1";
  if (!spec.blockLevels.empty()) {
    level = fmt::format("{:.6f}", spec.blockLevels.back());
    for (size_t i = spec.blockLevels.size() - 1; i-- > 0;)
      level = fmt::format("if(lt({}/{:.9f},{}),{:.6f},{})", t, beat, (i + 1) * kBlockBeats, spec.blockLevels[i], level);
  }
  std::string sound = fmt::format("{}*sin(2*PI*{}*t)*lt(mod({},{:.9f}),{})", kClickLevel, kClickHz, t, beat, kClickSeconds);
  if (spec.toneHz > 0.0) sound += fmt::format("+{}*sin(2*PI*{}*t)", kToneLevel, spec.toneHz);
  return fmt::format("if(gte(t,{:.9f}),({})*({}),0)", spec.leadSilence, level, sound);
}

std::string DefaultName(const ClickTrack& spec) {
  std::string name = fmt::format("click-{:.2f}bpm-{:.1f}s-lead{:.3f}-tone{:.0f}-{}", spec.bpm, spec.seconds,
                                 spec.leadSilence, spec.toneHz, spec.rate);
  for (double level : spec.blockLevels) name += fmt::format("-{:.2f}", level);
  return name;
}

}  // namespace

ClickTrackFolder::ClickTrackFolder() {
  char tmpl[] = "/tmp/veldmix-clicks-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ClickTrackFolder::~ClickTrackFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ClickTrackFolder::Make(const ClickTrack& spec, const std::string& name) {
  const std::string file = path_ + "/" + (name.empty() ? DefaultName(spec) : name) + "." + spec.extension;
  if (std::filesystem::exists(file)) return file;
  const std::string channel = ChannelExpression(spec);
  const std::string source = fmt::format("aevalsrc='{}|{}':s={}:d={:.6f}", channel, channel, spec.rate, spec.seconds);
  std::string codec;
  if (spec.extension == "wav") codec = "-c:a pcm_s16le";
  else if (spec.extension == "mp3") codec = "-c:a libmp3lame -b:a 192k";
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i " + ShellQuote(source) +
                              " " + codec + " " + ShellQuote(file) + " 2>&1";
  int status = 0;
  RunCommand(command, &status);
  return status == 0 && std::filesystem::exists(file) ? file : std::string();
}

void ResetDecksForTest() {
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (DeckState& deck : Engine.decks) {
      deck.track.reset();
      deck.stems.reset();
      deck.position = deck.cuePoint = 0.0;
      deck.playing = deck.jogTouched = deck.loopOn = deck.reverse = false;
      deck.slipMode = deck.slipOn = false;
      deck.loopIn = deck.loopOut = deck.slipPosition = 0.0;
      deck.stopMode = kStopNone;
      deck.speed = deck.scratchSpeed = 0.0;
      deck.fadeIn = deck.oldFade = deck.olderFade = 0.0f;
      deck.tempo = deck.bend = deck.keyShift = 0.0f;
      deck.fader = 0.8f;
      std::fill(std::begin(deck.hotCueStart), std::end(deck.hotCueStart), -1.0);
      std::fill(std::begin(deck.hotCueEnd), std::end(deck.hotCueEnd), -1.0);
      ResetStretch(deck.stretch);
    }
    Engine.sandboxOn.store(false);
  }
  // Serials keep counting: a load still in flight from an earlier test must not match a new one.
  for (DeckView& view : LiveDeckViews) {
    const uint32_t serial = view.loadSerial;
    view = DeckView{};
    view.loadSerial = serial + 1;
  }
  UndoStack.clear();
  TrackLibrary.clear();
  Settings = SettingsRecord{};
  Settings.StemsAuto = false;  // no separation jobs from test loads
  SnapshotDecks();
}

void DrainDeckLoads() {
  DrainUiPosts([](const UiPost& post) {
    if (post.message == kDeckLoadPost) FinishDeckLoad(post.wparam, static_cast<DeckLoadResult*>(post.lparam));
    // A scan another step started would otherwise leave its batch unowned.
    if (post.message == kScanBatchPost) delete static_cast<std::vector<LibraryFile>*>(post.lparam);
  });
}

bool LoadAndWait(int deck, const std::string& path, int timeoutMs) {
  OpenUiPosts(nullptr);  // again each time: another test may have closed the queue
  if (!LoadTrack(deck, Utf8ToWide(path))) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    DrainDeckLoads();
    if (!LiveDeckViews[deck].loading) {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      return Engine.decks[static_cast<size_t>(deck)].track != nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return false;
}

std::vector<float> RenderPeriods(int periods) {
  PrepareRenderBuffers(Engine, kTestPeriod, kTestRate);
  std::vector<float> out(static_cast<size_t>(std::max(periods, 0)) * kTestPeriod * 2);
  for (int p = 0; p < periods; ++p) {
    // Every period rendered for real: the test waits for a hold by another thread, where the
    // output would repeat its last block instead.
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    RenderMix(Engine, out.data() + static_cast<size_t>(p) * kTestPeriod * 2, kTestPeriod, kTestRate);
  }
  return out;
}
