// Phase 1's immediate checks after the controller tests: the bent beat grid, the phone remote,
// the skins and the timecode decoder. Each writes its own lines and returns within the tick.
#include <fmt/xchar.h>

#include <array>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "app/main_window.h"
#include "base/beat_grid.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/tags.h"
#include "control/action_table.h"
#include "control/macros.h"
#include "control/remote_server.h"
#include "control/remote_state.h"
#include "control/timecode.h"
#include "engine/audio_file.h"
#include "engine/audio_output.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/sync.h"
#include "platform/files.h"
#include "platform/text.h"
#include "selftest/feature_run.h"
#include "selftest/selftest_state.h"
#include "settings/skins.h"

namespace FeatureTest {
namespace {

constexpr double kEqual = 1e-9;
constexpr int32_t kRate = 44100;
// A record played backwards for this long of mixed sound must take the deck back; the wait for
// it ends after 5 s whatever the sound server did.
constexpr double kTimecodeBackSeconds = 0.3;
constexpr int kTimecodeWaitSteps = 500;  // x 10 ms

bool Near(double a, double b, double tolerance = kEqual) { return std::fabs(a - b) < tolerance; }

Track StraightTrack() {
  Track track;
  track.sampleRate = kRate;
  track.bpm = 120.0;
  track.firstBeat = 0.5;
  return track;
}

// A 120 s track whose beats slow down quadratically, each marked in the waveform.
Track DriftTrack(std::vector<double>* beats) {
  Track track = StraightTrack();
  track.frames = 5292000;
  track.waveform.assign(18000, WavePoint{10, 10, 10});
  for (int k = 0;; ++k) {
    const double t = 0.5 + 0.5 * k + 0.000125 * k * k;
    if (t > 118.0) break;
    beats->push_back(t);
    const size_t point = static_cast<size_t>(std::floor(t * 150.0));
    for (size_t p = point; p <= point + 1 && p < track.waveform.size(); ++p) track.waveform[p] = {255, 200, 120};
  }
  return track;
}

// A deck's tempo in BPM as its fader and the local beat length give it.
double LocalTempo(const DeckView& view, const DeckSnapshot& shot) {
  if (!shot.track) return 0.0;
  const double seconds = shot.position / shot.track->sampleRate;
  return (1.0 + 2.0 * (0.5 - view.tempoFader) * view.pitchRange) * 60.0 / BeatLengthAt(*shot.track, seconds);
}

double BeatOf(const DeckSnapshot& shot) {
  return shot.track ? BeatAtTime(*shot.track, shot.position / shot.track->sampleRate) : 0.0;
}

void BentGridSync() {
  TrackPtr a = DeckSnapshots[0].track;
  if (!a || !DeckSnapshots[1].track) {
    SelfTestCheck(false, L"sync on a bent grid (both decks hold the test track)");
    return;
  }
  const double beat = 60.0 / UsableBpm(a->bpm);
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    DeckState& deckA = Engine.decks[0];
    DeckState& deckB = Engine.decks[1];
    if (!deckA.track || !deckB.track) return;
    deckA.track->tempoMarkers = {TempoMarker{64.0, deckA.track->firstBeat + 64.0 * beat * 1.02}};
    SetDeckPosition(0, (deckA.track->firstBeat + 10.0 * beat) * deckA.track->sampleRate);
    SetDeckPosition(1, deckB.track->firstBeat * deckB.track->sampleRate + 1000.0);
  }
  for (const int deck : {0, 1})
    if (!IsDeckPlaying(deck)) ClickDeckAction(deck, kPlayOffset);
  LiveDeckViews[0].tempoFader = 0.5f;
  SnapshotDecks();
  ClickDeckAction(1, kSyncOffset);
  SnapshotDecks();
  const double tempoA = LocalTempo(LiveDeckViews[0], DeckSnapshots[0]);
  const double tempoB = LocalTempo(LiveDeckViews[1], DeckSnapshots[1]);
  SelfTestCheck(Near(tempoA, tempoB, 0.02), fmt::format(L"sync matches the local tempo ({:f} / {:f})", tempoB, tempoA));
  double phase = (BeatOf(DeckSnapshots[0]) - std::floor(BeatOf(DeckSnapshots[0]))) -
                 (BeatOf(DeckSnapshots[1]) - std::floor(BeatOf(DeckSnapshots[1])));
  phase -= std::round(phase);
  SelfTestCheck(std::fabs(phase) < 0.05, L"sync lines the beats up on a bent grid");

  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    Engine.decks[0].loopOn = false;
  }
  LiveDeckViews[0].loopSizeIndex = 6;  // 8 beats
  ClickDeckAction(0, kLoopOffset);
  SnapshotDecks();
  const DeckSnapshot& shot = DeckSnapshots[0];
  const double span = shot.track ? BeatAtTime(*shot.track, shot.loopOut / shot.track->sampleRate) -
                                       BeatAtTime(*shot.track, shot.loopIn / shot.track->sampleRate)
                                 : 0.0;
  SelfTestCheck(shot.loopOn && Near(span, 8.0, 1e-6), L"an 8-beat loop on a bent grid is 8 of its beats");
  ClickDeckAction(0, kLoopOffset);
  for (const int deck : {0, 1})
    if (IsDeckPlaying(deck)) ClickDeckAction(deck, kPlayOffset);
  std::lock_guard<RealtimeMutex> hold(Engine.lock);
  if (Engine.decks[0].track) Engine.decks[0].track->tempoMarkers.clear();
}

void Report(bool passed, const std::wstring& name) { SelfTestCheck(passed, name); }

}  // namespace

void BentGridTest() {
  Track track = StraightTrack();
  Report(Near(TimeAtBeat(track, 8.0), 4.5) && Near(BeatAtTime(track, 4.5), 8.0), L"straight grid: beat 8 at 4.5 s");
  track.tempoMarkers = {{16.0, 8.6}, {32.0, 16.9}};
  Report(Near(BeatAtTime(track, 8.6), 16.0) && Near(TimeAtBeat(track, 32.0), 16.9), L"pinned beats land on their pins");
  Report(Near(BeatLengthAt(track, 4.0), 0.50625) && Near(BeatLengthAt(track, 12.0), 0.51875), L"tempo between pins");
  Report(Near(BeatLengthAt(track, 20.0), 0.51875), L"after the last pin the tempo carries on");
  bool roundTrip = true;
  for (double b = -4.0; b < 60.0; b += 0.37) roundTrip = roundTrip && Near(BeatAtTime(track, TimeAtBeat(track, b)), b, 1e-7);
  Report(roundTrip, L"beat \u2194 time round trip on a bent grid");

  std::vector<double> beats;
  Track drift = DriftTrack(&beats);
  const auto worst = [&](const Track& grid, size_t from, size_t to) {
    double error = 0.0;
    for (size_t k = from; k < to; ++k)
      error = std::max(error, std::fabs(beats[k] - TimeAtBeat(grid, static_cast<double>(k))));
    return error;
  };
  const double straight = worst(drift, 0, beats.size());
  const int32_t pins = RefineBeatGrid(drift);
  const double refined = beats.size() > 32 ? worst(drift, 16, beats.size() - 16) : straight;
  Report(pins >= 4 && refined < 0.025,
         fmt::format(L"drift found: {} pins, off by {} ms at most (a straight grid is off by {} ms)", pins,
                     static_cast<int64_t>(refined * 1000.0), static_cast<int64_t>(straight * 1000.0)));

  Track steady = drift;
  steady.tempoMarkers.clear();
  steady.waveform.assign(steady.waveform.size(), WavePoint{10, 10, 10});
  for (int k = 0; k < 230; ++k) {
    const size_t point = static_cast<size_t>((0.5 * k + 0.5) * 150.0);
    if (point < steady.waveform.size()) steady.waveform[point] = {255, 200, 120};
  }
  Report(RefineBeatGrid(steady) == 0, L"a steady track gets no pins");
  BentGridSync();
}

void RemoteTest() {
  constexpr int kPort = kRemoteSelfTestPort;
  const std::string pin = "6180";
  std::wstring error;
  if (!StartRemoteServer(kPort, pin, &error, true)) {
    Report(false, L"remote: server starts (" + error + L")");
    return;
  }
  BuildRemoteState();
  TickMacros();
  ApplyTimecodeSpeed();

  const std::string page = RemoteTestRequest("/", kPort);
  Report(page.starts_with("HTTP/1.1 200") && page.find("VELDMIX") != std::string::npos,
         L"remote: the phone page is served");
  const size_t body = page.find("\r\n\r\n");
  WriteBytesAtomic(OutputFile(L"remote.html"),
                   WideToUtf8(Utf8ToWide(body == std::string::npos ? std::string() : page.substr(body + 4))));

  Report(RemoteTestRequest("/api/state", kPort).starts_with("HTTP/1.1 403"), L"remote: no PIN, no entry");

  // The title as the file's tag gives it, or its name: read here, not from the deck.
  TrackTags tags;
  std::wstring title = ReadTags(SelfTest.trackPath, &tags) ? tags.title : std::wstring();
  if (title.empty()) title = FileStem(SelfTest.trackPath);
  const std::wstring state = Utf8ToWide(RemoteTestRequest("/api/state?pin=" + pin, kPort));
  Report(state.find(L"\"decks\"") != std::wstring::npos && !title.empty() &&
             state.find(Utf8ToWide(JsonEscape(title))) != std::wstring::npos,
         L"remote: state with the decks' tracks");

  const std::string api = "/api/do?pin=" + pin;
  MoveCrossfader(0.5f);
  RemoteTestRequest(api + "&name=mixer.xfader&value=0.25", kPort);
  DispatchUiPosts();
  Report(Near(CrossfaderPosition, 0.25, 0.0001), L"remote: cross-fader from the phone");

  const bool wasPlaying = IsDeckPlaying(0);
  RemoteTestRequest(api + "&name=deck.0.play&press=1", kPort);
  DispatchUiPosts();
  Report(IsDeckPlaying(0) != wasPlaying, L"remote: PLAY from the phone");
  RemoteTestRequest(api + "&name=deck.0.play&press=1", kPort);
  DispatchUiPosts();

  RemoteTestRequest(api + "&name=deck.1.vol&value=0.3", kPort);
  DispatchUiPosts();
  Report(Near(LiveDeckViews[1].fader, 0.3, 0.0001), L"remote: channel fader from the phone");
  Report(CountRemotePhones() == 1, L"remote: one phone seen");
  StopRemoteServer();
  StopTimecodeInput();
}

void SkinTest() {
  const std::wstring kept = Settings.Skin;
  Settings.Skin = L"Ember";
  LoadSkin();
  Report(Pal.Background == 0x0C0706 && Pal.DeckA == 0xFF8A3D && Pal.WaveLow == 0xFF6A2B,
         L"skin: Ember colours everything");
  Settings.Skin = L"Veldmix";
  LoadSkin();
  Report(Pal.Background == 0x07080C && Pal.Text == 0xEEF1F8, L"skin: back to the standard look");
  const size_t skins = ListSkins().size();
  Report(skins >= 5, fmt::format(L"skin: {} skins to choose from", skins));
  Settings.Skin = kept;
  LoadSkin();
}

void TimecodeTest() {
  struct Signal {
    double carrier, speed, noise;
    const wchar_t* name;
  };
  constexpr std::array<Signal, 6> kSignals = {{
      {1000, 1.0, 0, L"normal speed"},
      {1000, 0.5, 0, L"half speed"},
      {1000, 1.08, 0.02, L"+8% with noise"},
      {1000, -1.0, 0, L"backwards"},
      {1000, -0.3, 0.02, L"slow scratch back"},
      {2000, 1.0, 0.02, L"Traktor (2 kHz)"},
  }};
  for (const Signal& s : kSignals) {
    const double measured = SimulateTimecode(s.carrier, s.speed, s.noise, 0.5);
    Report(std::isfinite(measured) && std::fabs(measured - s.speed) < 0.01,
           fmt::format(L"timecode: {} reads {:f}", s.name, measured));
  }
  Report(SimulateTimecode(1000, 0, 0, 0.5) == 0.0, L"timecode: a stopped record reads 0");

  StartOutput(Engine, PlainOutputConfig());
  for (int i = 0; i < 40 && !Engine.outputRunning.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  double before = 0.0, rate = 1.0;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    DeckState& deck = Engine.decks[0];
    deck.externalSpeedOn = true;
    deck.externalSpeed = -1.0f;
    before = deck.position;
    if (deck.track) rate = deck.track->sampleRate;
  }
  // 0.3 s of sound mixed, however late the sound server asks for it.
  const uint64_t mark = MixedFramesMark();
  for (int i = 0; i < kTimecodeWaitSteps && MixedSecondsSince(mark) < kTimecodeBackSeconds; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  double after = 0.0;
  {
    std::lock_guard<RealtimeMutex> hold(Engine.lock);
    DeckState& deck = Engine.decks[0];
    after = deck.position;
    deck.externalSpeedOn = false;
    deck.externalSpeed = 0.0f;
  }
  Report(after < before - 0.1 * rate, L"timecode: a record going backwards takes the deck backwards");
}

}  // namespace FeatureTest
