// veldmix-tool play and devices: the real output and input threads on the sound server.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/load_settings.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/text_parse.h"
#include "control/timecode.h"
#include "engine/audio_file.h"
#include "engine/audio_input.h"
#include "engine/audio_output.h"
#include "engine/audio_routing.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/recorder.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "tools/veldmix-tool/commands.h"

namespace {

constexpr double kMaxPlaySeconds = 3600.0;
constexpr uint64_t kStartWaitMs = 5000;  // how long play waits for the master output to open
constexpr unsigned kPollMs = 20;
constexpr float kFullFader = 1.0f;
constexpr uint64_t kTracePeriodMs = 100;

constexpr const char kPlayUsage[] =
    "usage: veldmix-tool play FILE --seconds N [--record OUT.wav] [--input] [--device SINK]\n"
    "                          [--decks N] [--timecode] [--from SECONDS]\n"
    "Loads FILE on deck A and plays it through the real output thread for N seconds, routed as\n"
    "settings.ini says ([Audio]); --device plays on that sink instead of [Audio] Master.\n"
    "  --record OUT.wav  records the mix with the mix recorder while it plays\n"
    "  --input           opens the input ([Mic] Device, else the default source) with the\n"
    "                    microphone live, so the music ducks under it\n"
    "  --decks N         plays FILE on decks A to A + N - 1 (1..4) at once, for load tests\n"
    "  --from SECONDS    starts FILE there instead of at its beginning\n"
    "  --timecode        starts the timecode input as [Dvs] says; decks A and B follow their\n"
    "                    records (they start stopped) and every 100 ms a line \"tc T SPEED SIGNAL\n"
    "                    FADER POSITION PLAYING RUNNING\" tells deck A's state (seconds, 0/1 flags)\n"
    "Exit 0 when the output played, 1 when it never opened or a step failed, 2 on bad usage.\n";

bool ParseSeconds(const std::string& text, double& seconds) {
  return ParseNumber(text, &seconds, 0.0, kMaxPlaySeconds) && seconds > 0.0;
}

bool WaitForOutput(uint64_t timeoutMs) {
  const uint64_t deadline = MonotonicMs() + timeoutMs;
  while (!Engine.outputRunning.load() && MonotonicMs() < deadline) SleepMs(kPollMs);
  return Engine.outputRunning.load();
}

// The frame tick's timecode step, and every 100 ms a line with deck A's state.
void TraceTimecode(uint64_t begin, uint64_t* nextTrace) {
  SnapshotDecks();
  ApplyTimecodeSpeed();
  const uint64_t now = MonotonicMs();
  if (now < *nextTrace) return;
  *nextTrace += kTracePeriodMs;
  double position = 0.0;
  bool playing = false;
  {
    std::lock_guard<RealtimeMutex> guard(Engine.lock);
    const DeckState& deck = Engine.decks[0];
    position = deck.track ? deck.position / deck.track->sampleRate : 0.0;
    playing = deck.playing;
  }
  std::printf("tc %.3f %.4f %d %.4f %.4f %d %d\n", static_cast<double>(now - begin) / 1000.0, TimecodeSpeed(0),
              TimecodeHasSignal(0) ? 1 : 0, LiveDeckViews[0].tempoFader, position, playing ? 1 : 0,
              TimecodeInputRunning() ? 1 : 0);
  std::fflush(stdout);
}

int RunPlay(const std::vector<std::string>& args) {
  std::string file, record, device;
  double seconds = 0.0;
  bool input = false, haveSeconds = false, timecode = false;
  double from = 0.0;
  int decks = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kPlayUsage, stdout);
      return 0;
    } else if (a == "--seconds" && hasValue) {
      if (!ParseSeconds(args[++i], seconds)) {
        std::fprintf(stderr, "veldmix-tool play: --seconds takes a number above 0 and at most 3600\n");
        return 2;
      }
      haveSeconds = true;
    } else if (a == "--record" && hasValue) {
      record = args[++i];
    } else if (a == "--device" && hasValue) {
      device = args[++i];
    } else if (a == "--decks" && hasValue) {
      int64_t n = 0;
      if (!ParseInteger(args[++i], &n, 1, kEngineDecks)) {
        std::fprintf(stderr, "veldmix-tool play: --decks takes 1 to 4\n");
        return 2;
      }
      decks = static_cast<int>(n);
    } else if (a == "--input") {
      input = true;
    } else if (a == "--timecode") {
      timecode = true;
    } else if (a == "--from" && hasValue) {
      if (!ParseNumber(args[++i], &from, 0.0, kMaxPlaySeconds)) {
        std::fprintf(stderr, "veldmix-tool play: --from takes seconds, 0 to 3600\n");
        return 2;
      }
    } else if (file.empty() && a.rfind("--", 0) != 0) {
      file = a;
    } else {
      std::fputs(kPlayUsage, stderr);
      return 2;
    }
  }
  if (file.empty() || !haveSeconds) {
    std::fputs(kPlayUsage, stderr);
    return 2;
  }

  StartLog(Utf8ToWide("play " + file));
  LoadSettings();
  std::wstring error;
  TrackPtr track = DecodeFile(PathFromBytes(file), nullptr, &error, false);
  if (!track) {
    std::fprintf(stderr, "veldmix-tool play: %s: %s\n", file.c_str(), WideToUtf8(error).c_str());
    return 1;
  }
  {
    std::lock_guard<RealtimeMutex> guard(Engine.lock);
    for (int d = 0; d < decks; ++d) {
      DeckState& deck = Engine.decks[d];
      deck.track = track;
      deck.position = std::min(from * track->sampleRate, static_cast<double>(track->frames));
      deck.playing = false;
      deck.fader = kFullFader;
    }
    // What the per-frame tick would publish from the settings.
    Engine.micGain = Settings.MicGain;
    Engine.micDuck = Settings.MicDuck;
    Engine.limiterOn = Settings.Limiter;
  }
  if (input) EnableInput(Engine, true, Settings.MicDevice);
  OutputConfig config = CurrentOutputConfig();
  if (!device.empty()) config.masterDevice = Utf8ToWide(device);
  StartOutput(Engine, config);

  int status = 0;
  const bool started = WaitForOutput(kStartWaitMs);
  if (started && !record.empty() && !StartRecording(PathFromBytes(record))) {
    std::fprintf(stderr, "veldmix-tool play: %s: the recording could not be started\n", record.c_str());
    status = 1;
  }
  {
    std::lock_guard<RealtimeMutex> guard(Engine.lock);
    for (int d = 0; d < decks; ++d) Engine.decks[d].playing = !timecode;
  }
  if (timecode) StartTimecodeInput();
  const uint64_t end = MonotonicMs() + static_cast<uint64_t>(seconds * 1000.0);
  bool everRan = started;
  int32_t rate = RunningOutputRate(Engine);  // the output forgets its rate once stopped
  const uint64_t begin = MonotonicMs();
  uint64_t nextTrace = begin;
  while (MonotonicMs() < end) {
    SleepMs(kPollMs);
    if (timecode) TraceTimecode(begin, &nextTrace);
    everRan = everRan || Engine.outputRunning.load();
    if (RunningOutputRate(Engine) > 0) rate = RunningOutputRate(Engine);
  }
  if (!record.empty() && started) {
    StopRecording();
    if (!RecordingProblem().empty()) {
      std::fprintf(stderr, "veldmix-tool play: %s\n", WideToUtf8(EnglishText(RecordingProblem())).c_str());
      status = 1;
    }
  }
  if (input) EnableInput(Engine, false, L"");
  if (timecode) {
    StopTimecodeInput();
    std::printf("timecode input %s after stopping\n", TimecodeInputRunning() ? "still runs" : "stopped");
  }
  StopOutputs(Engine);
  if (!everRan) {
    std::fprintf(stderr, "veldmix-tool play: the master output never opened\n");
    return 1;
  }
  // Every kind the top bar counts: what lost or repeated sound.
  const uint32_t dropouts = Engine.dropouts.load() + Engine.renderLockMisses.load() + Engine.serverUnderruns.load();
  std::printf("played %.3f s: %d Hz, %d channels, %d-frame buffer, mode %d; %u dropout(s)\n", seconds,
              rate, Engine.outputChannels.load(), Engine.bufferFrames.load(), Engine.shareMode.load(), dropouts);
  return status;
}

int RunDevices(const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fputs("usage: veldmix-tool devices\n", args[0] == "--help" ? stdout : stderr);
    return args[0] == "--help" ? 0 : 2;
  }
  const std::wstring defaults[2] = {DefaultAudioDeviceId(kRenderFlow), DefaultAudioDeviceId(kCaptureFlow)};
  const char* kinds[2] = {"output", "input"};
  bool any = false;
  for (int flow : {kRenderFlow, kCaptureFlow}) {
    for (const AudioDevice& d : ListAudioDevices(flow)) {
      any = true;
      std::printf("%s\t%s\t%d\t%s%s\n", kinds[flow], WideToUtf8(d.id).c_str(), d.channels,
                  WideToUtf8(d.name).c_str(), d.id == defaults[flow] ? "\t(default)" : "");
    }
  }
  if (!any) {
    std::fprintf(stderr, "veldmix-tool devices: no sound server answered, or it has no devices\n");
    return 1;
  }
  return 0;
}

// The timecode input alone: every 100 ms "deck SPEED SIGNAL" for A and B and the channel count.
int RunTimecode(const std::vector<std::string>& args) {
  double seconds = 0.0;
  if (args.size() != 2 || args[0] != "--seconds" || !ParseSeconds(args[1], seconds)) {
    std::fputs("usage: veldmix-tool timecode --seconds N\n"
               "Reads the timecode input as settings.ini's [Dvs] says for N seconds; every 100 ms a line\n"
               "\"tc T SPEED_A SIGNAL_A SPEED_B SIGNAL_B CHANNELS\". Exit 1 when [Dvs] On is off.\n",
               args.size() == 1 && args[0] == "--help" ? stdout : stderr);
    return args.size() == 1 && args[0] == "--help" ? 0 : 2;
  }
  StartLog(L"timecode");
  LoadSettings();
  StartTimecodeInput();
  if (!TimecodeInputRunning()) {
    std::fprintf(stderr, "veldmix-tool timecode: [Dvs] On is off\n");
    return 1;
  }
  const uint64_t begin = MonotonicMs();
  for (uint64_t next = begin; MonotonicMs() < begin + static_cast<uint64_t>(seconds * 1000.0); next += kTracePeriodMs) {
    while (MonotonicMs() < next) SleepMs(1);
    std::printf("tc %.3f %.4f %d %.4f %d %d\n", static_cast<double>(MonotonicMs() - begin) / 1000.0, TimecodeSpeed(0),
                TimecodeHasSignal(0) ? 1 : 0, TimecodeSpeed(1), TimecodeHasSignal(1) ? 1 : 0, TimecodeInputState());
    std::fflush(stdout);
  }
  StopTimecodeInput();
  return 0;
}

}  // namespace

const ToolCommand kAudioCommands[] = {
    {"play", "FILE --seconds N [--record OUT.wav] [--input] [--device SINK] [--decks N] [--timecode] [--from S]",
     "play a file on deck A through the real outputs", RunPlay},
    {"timecode", "--seconds N", "read the timecode input ([Dvs]) and print the decks' speeds", RunTimecode},
    {"devices", "", "list the sound server's outputs and inputs (kind, id, channels, name)", RunDevices},
};
const int kAudioCommandCount = static_cast<int>(sizeof kAudioCommands / sizeof kAudioCommands[0]);
