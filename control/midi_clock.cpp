#include "control/midi_clock.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/beat_grid.h"
#include "base/settings.h"
#include "control/midi_devices.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "library/now_playing.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/midi.h"
#include "platform/thread_priority.h"

std::unique_ptr<MidiClockSender> MidiClock;

namespace {

constexpr double kMinTempo = 20.0, kMaxTempo = 400.0;
constexpr double kClocksPerBeat = 24.0;
constexpr double kStartLead = 0.050;    // a start this close is waited for precisely
constexpr double kMaxWait = 0.100;      // no single wait is longer, so stop is seen
constexpr double kIdleWait = 0.005;     // while there is no tempo
constexpr double kPhaseGain = 0.1;      // share of the phase error removed per clock
constexpr double kMaxShift = 0.25;      // of one interval

int ClockOutput = -1;

// Waits until `when` in slices of at most kMaxWait; false when stop was raised meanwhile.
bool WaitUntil(MidiClockSender& s, double when) {
  for (;;) {
    if (s.stop.load()) return false;
    const double now = MonotonicSeconds();
    if (now >= when) return true;
    SleepUntilSeconds(std::min(when, now + kMaxWait));
  }
}

void SenderThread(MidiClockSender* s) {
  RaiseThreadToRealtime();
  bool running = false;
  int64_t clocks = 0;
  double next = 0.0;
  while (!s->stop.load()) {
    double tempo, beat, stamp;
    {
      std::lock_guard<std::mutex> lock(s->lock);
      tempo = s->tempo, beat = s->beat, stamp = s->stampSeconds;
    }
    if (!(tempo >= kMinTempo && tempo <= kMaxTempo)) {
      if (running) s->send(kMidiStopByte), running = false;
      WaitUntil(*s, MonotonicSeconds() + kIdleWait);
      continue;
    }
    const double beatSeconds = 60.0 / tempo;
    const double interval = beatSeconds / kClocksPerBeat;
    if (!running) {
      const double now = MonotonicSeconds();
      const double nextBeat = stamp + (std::floor((now - stamp) / beatSeconds + beat) + 1.0 - beat) * beatSeconds;
      if (nextBeat - now > kStartLead) {
        WaitUntil(*s, std::min(now + kStartLead, nextBeat));
        continue;
      }
      if (!WaitUntil(*s, nextBeat)) break;
      s->send(kMidiStartByte);
      s->send(kMidiClockByte);
      running = true, clocks = 1, next = nextBeat + interval;
      continue;
    }
    if (!WaitUntil(*s, next)) break;
    s->send(kMidiClockByte);
    ++clocks;
    // The deck's beat at the following clock minus that clock's own count: lock to the deck.
    const double x = (next + interval - stamp) / beatSeconds + beat - static_cast<double>(clocks) / kClocksPerBeat;
    const double error = x - std::round(x);
    const double shift = std::clamp(kPhaseGain * error * beatSeconds, -interval * kMaxShift, interval * kMaxShift);
    next += interval - shift;
  }
  if (running) s->send(kMidiStopByte);
}

}  // namespace

std::unique_ptr<MidiClockSender> StartMidiClock(std::function<void(uint8_t)> send) {
  auto sender = std::make_unique<MidiClockSender>();
  sender->send = std::move(send);
  sender->thread = std::thread(SenderThread, sender.get());
  return sender;
}

void StopMidiClock(std::unique_ptr<MidiClockSender> sender) {
  if (!sender) return;
  sender->stop.store(true);
  if (sender->thread.joinable()) sender->thread.join();
}

void SetMidiClockTempo(MidiClockSender& sender, double bpm, double beat, double stampSeconds) {
  if (!std::isfinite(bpm) || !std::isfinite(beat)) bpm = 0.0, beat = 0.0;
  std::lock_guard<std::mutex> lock(sender.lock);
  sender.tempo = bpm, sender.beat = beat, sender.stampSeconds = stampSeconds;
}

void Midi::ClockTo() {
  int chosen = -1;
  if (!Settings.ClockOut.empty()) {
    const std::vector<std::wstring> outputs = MidiOutputNames();
    for (size_t i = 0; i < outputs.size(); ++i)
      if (outputs[i] == Settings.ClockOut) chosen = static_cast<int>(i);
  }
  if (chosen == ClockOutput && (chosen < 0 || MidiClock)) return;
  StopMidiClock(std::move(MidiClock));
  ClockOutput = chosen;
  if (chosen >= 0)
    MidiClock = StartMidiClock([chosen](uint8_t status) { SendMidiShort(static_cast<size_t>(chosen), status); });
}

void StopMidiClockOutput() {
  StopMidiClock(std::move(MidiClock));
  ClockOutput = -1;
}

int MidiClockOutput() { return ClockOutput; }

void PublishMidiClockTempo() {
  if (!MidiClock) return;
  double bpm = 0.0, beat = 0.0;
  const int deck = OnAirDeck();
  if (ValidDeck(deck)) {
    const DeckSnapshot& shot = DeckSnapshots[deck];
    if (shot.track && shot.playing && !shot.jogTouched && !shot.reverse && !shot.stopEffect &&
        IsDeckAudible(deck)) {
      bpm = DeckBpm(deck);
      beat = BeatAtTime(*shot.track, shot.position / shot.track->sampleRate);
    }
  }
  SetMidiClockTempo(*MidiClock, bpm, beat, MonotonicSeconds());
}
