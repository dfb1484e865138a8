#include "engine/sampler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cwctype>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/beat_grid.h"
#include "base/files.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "engine/builtin_sounds.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/render.h"
#include "engine/sampler_bank.h"
#include "engine/sandbox.h"
#include "engine/wav_file.h"
#include "platform/folders.h"

int32_t PadRecordTarget = -1;

namespace {

constexpr size_t kPadNameChars = 10;   // a loaded sound's label: its title, cut
constexpr int kBeatsPerBar = 4;
constexpr int kPluralBarsFromBeats = 5;
// Puts a sound on engine pad `pad`, stopped at its start; the sound and name it held come back
// through the arguments, to be released after the lock.
void SwapOntoPad(int pad, TrackPtr& sound, std::wstring& name) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  SamplerPad& target = Engine.pads[pad];
  std::swap(target.track, sound);
  std::swap(target.name, name);
  target.playing = false;
  target.position = 0.0;
}

// Writes a pad's sound to Samples and remembers it in its slot, outside test mode. True when the
// file was written.
bool SaveSoundFile(int slot, const std::wstring& fileName, const Track& sound) {
  if (TestMode) return false;
  const std::wstring path = JoinPath(SamplesDir(), fileName);
  std::wstring error;
  if (!WriteWavFile(path, sound.samples.data(), sound.frames, static_cast<uint32_t>(sound.sampleRate), &error)) {
    // The pad plays it now, but the next start would not have it.
    WriteLog(L"Sampler: couldn't write {} ({})", path, error);
    ShowStatus(WriteFailedText(path, error));
    return false;
  }
  Settings.Slot[slot] = path;
  return true;
}

// The frames [in, out) of a capture: the loop when it has one, else the 4 beats from the start
// of the current beat, clamped to the track. False when the range is too short or too long.
bool CaptureRange(const Track& track, double position, double loopIn, double loopOut, uint64_t& in, uint64_t& out) {
  const double rate = track.sampleRate;
  double from = loopIn, to = loopOut;
  if (!(loopOut > loopIn)) {
    const double beat = std::floor(BeatAtTime(track, position / rate));
    from = TimeAtBeat(track, beat) * rate;
    to = TimeAtBeat(track, beat + kCaptureBeats) * rate;
  }
  if (!std::isfinite(from) || !std::isfinite(to)) return false;
  const double frames = static_cast<double>(track.frames);
  from = std::clamp(std::round(from), 0.0, frames);
  to = std::clamp(std::round(to), 0.0, frames);
  if (!(to > from + kMinCaptureFrames) || to - from > rate * kMaxPadSoundSeconds) return false;
  in = static_cast<uint64_t>(from);
  out = static_cast<uint64_t>(to);
  return true;
}

}  // namespace

std::wstring SamplesDir() {
  const std::wstring folder = JoinPath(AppDataDir(), L"Samples");
  CreateFolderTree(folder);
  return folder;
}

std::wstring CapturedLoopFileName(int bank, int pad) {
  if (bank == 0) return fmt::format(L"pad{}.wav", pad + 1);
  return fmt::format(L"bank{}-pad{}.wav", BankLetter(bank), pad + 1);
}

std::wstring RecordingFileName(int bank, int pad) { return fmt::format(L"rec-{}{}.wav", BankLetter(bank), pad + 1); }

void LoadSamplerAtStart() {
  for (int pad = 0; pad < kPadsPerBank; ++pad) {
    std::wstring name;
    TrackPtr sound = MakeBuiltinSound(pad, &name);
    if (SamplerBank == 0) SwapOntoPad(pad, sound, name);
    else SamplerBankStore[pad] = BankSound{std::move(sound), std::move(name)};
    ApplyPadSettings(pad);
  }
  for (int slot = 0; slot < kSamplerSlotCount; ++slot)
    if (!Settings.Slot[slot].empty()) LoadSamplerSlot(slot, Settings.Slot[slot]);
}

void ApplyPadSettings(int pad) {
  if (!ValidPad(pad)) return;
  const int slot = CurrentSlot(pad);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.pads[pad].loop = Settings.Loop[slot];
  Engine.pads[pad].gain = std::clamp(Settings.Vol[slot], 0.0f, 1.0f);
}

void SelectSamplerBank(int bank) {
  bank = std::clamp(bank, 0, kSamplerBanks - 1);
  if (bank == SamplerBank) return;
  // The new bank's sounds are copied out of the store first; under the lock the pads and these
  // copies only trade pointers and strings, so nothing is allocated or freed there.
  std::array<BankSound, kPadsPerBank> trade;
  for (int pad = 0; pad < kPadsPerBank; ++pad) trade[pad] = SamplerBankStore[bank * kPadsPerBank + pad];
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int pad = 0; pad < kPadsPerBank; ++pad) {
      SamplerPad& target = Engine.pads[pad];
      std::swap(target.track, trade[pad].track);
      std::swap(target.name, trade[pad].name);
      target.playing = false;
      target.position = 0.0;
    }
  }
  for (int pad = 0; pad < kPadsPerBank; ++pad)
    SamplerBankStore[SamplerBank * kPadsPerBank + pad] = std::move(trade[pad]);
  SamplerBank = bank;
  for (int pad = 0; pad < kPadsPerBank; ++pad) ApplyPadSettings(pad);
  SaveSettings();
}

void InstallSamplerSound(int slot, TrackPtr sound) {
  if (slot < 0 || slot >= kSamplerSlotCount) return;
  if (!sound) {
    ShowStatus(L"Couldn't load that sample (it must be under 60 seconds)");
    return;
  }
  std::wstring name = sound->title.substr(0, kPadNameChars);
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
  const int bank = slot / kPadsPerBank, pad = slot % kPadsPerBank;
  if (bank == SamplerBank) SwapOntoPad(pad, sound, name);  // the old sound leaves with `sound`
  else SamplerBankStore[slot] = BankSound{std::move(sound), std::move(name)};
}

void CaptureLoopToPad(int pad, int deck) {
  if (!ValidPad(pad) || !ValidDeck(deck)) return;
  TrackPtr source;
  double position = 0.0, loopIn = 0.0, loopOut = 0.0;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    const DeckState& state = DeckStateOf(deck);
    source = state.track;
    position = state.position;
    loopIn = state.loopIn;
    loopOut = state.loopOut;
  }
  if (!source || source->sampleRate <= 0) {
    ShowStatus(L"Nothing loaded on deck " + DeckLetter(deck));
    return;
  }
  uint64_t in = 0, out = 0;
  if (!CaptureRange(*source, position, loopIn, loopOut, in, out)) {
    ShowStatus(L"That loop is too long or too short to sample");
    return;
  }
  // A shared track's samples never change, so the copy is made without the lock.
  auto sound = std::make_shared<Track>();
  sound->sampleRate = source->sampleRate;
  sound->frames = out - in;
  sound->bpm = source->bpm;
  sound->samples.assign(source->samples.begin() + static_cast<ptrdiff_t>(2 * in),
                        source->samples.begin() + static_cast<ptrdiff_t>(2 * out));
  std::wstring name = L"LOOP " + DeckLetter(deck);
  sound->title = name;

  const int slot = CurrentSlot(pad);
  SaveSoundFile(slot, CapturedLoopFileName(SamplerBank, pad), *sound);
  Settings.Loop[slot] = true;
  SaveSettings();

  TrackPtr released = std::move(sound);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    SamplerPad& target = Engine.pads[pad];
    std::swap(target.track, released);
    std::swap(target.name, name);
    target.playing = false;
    target.position = 0.0;
    target.loop = true;
  }
  ShowStatus(UiFormat(L"Captured into sampler pad {} (loops until pressed again)", pad + 1));
}

void StartPadRecording(int pad, int source, int beats) {
  if (!ValidPad(pad)) return;
  const int32_t state = Engine.padRecordState.load();
  if (state == kPadRecordArmed || state == kPadRecordRunning) {
    StopPadRecording(Engine);
    return;
  }
  PadRecordTarget = CurrentSlot(pad);
  const int32_t rate = std::max(Engine.sampleRate.load(), kPadRecordMinRate);
  // Made here, swapped in under the lock, the old buffer freed after it.
  std::vector<float> buffer(static_cast<size_t>(2) * kPadRecordSeconds * rate, 0.0f);
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    std::swap(Engine.padRecordBuffer, buffer);
    Engine.padRecordFrames = 0;
    Engine.padRecordSource = source;
    Engine.padRecordBeats = std::max(beats, 0);
    Engine.padRecordRate = rate;
    Engine.padRecordLastBeat = kPadRecordArmedBeat;
    Engine.padRecordState.store(kPadRecordArmed);
  }
  if (beats > 0) {
    if (beats >= kPluralBarsFromBeats)
      ShowStatus(UiFormat(L"Recording {} bars into pad {} from the next bar", beats / kBeatsPerBar, pad + 1));
    else
      ShowStatus(UiFormat(L"Recording {} bar into pad {} from the next bar", beats / kBeatsPerBar, pad + 1));
  } else {
    ShowStatus(UiFormat(L"Recording into pad {} \u2014 press REC again to stop", pad + 1));
  }
}

void FinishPadRecording() {
  if (PadRecordTarget < 0) return;
  std::vector<float> samples;
  uint64_t frames = 0;
  int32_t rate = 0;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    if (Engine.padRecordState.load() != kPadRecordDone) return;
    std::swap(samples, Engine.padRecordBuffer);  // the engine keeps an empty buffer
    frames = Engine.padRecordFrames;
    rate = Engine.padRecordRate;
    Engine.padRecordState.store(kPadRecordIdle);
  }
  frames = std::min<uint64_t>(frames, samples.size() / 2);
  samples.resize(2 * frames);
  samples.shrink_to_fit();
  const int slot = PadRecordTarget;
  const int bank = slot / kPadsPerBank, pad = slot % kPadsPerBank;
  PadRecordTarget = -1;
  if (samples.size() < kMinRecordedFloats || rate <= 0) {
    ShowStatus(L"Nothing was recorded");
    return;
  }
  auto sound = std::make_shared<Track>();
  sound->sampleRate = rate;
  sound->frames = frames;
  sound->samples = std::move(samples);
  std::wstring name = fmt::format(L"REC {}", pad + 1);
  sound->title = name;
  if (SaveSoundFile(slot, RecordingFileName(bank, pad), *sound)) SaveSettings();

  if (bank == SamplerBank) {
    TrackPtr released = std::move(sound);
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    // Its loop flag, gain and play state stay: only the sound is new.
    std::swap(Engine.pads[pad].track, released);
    std::swap(Engine.pads[pad].name, name);
    Engine.pads[pad].position = 0.0;
  } else {
    SamplerBankStore[slot] = BankSound{std::move(sound), std::move(name)};
  }
  ShowStatus(UiFormat(L"Recorded {:.1f} s into bank {} pad {}", static_cast<double>(frames) / rate, BankLetter(bank),
                      pad + 1));
}

void LoadPadSound(int pad, const std::wstring& path) {
  if (!ValidPad(pad) || path.empty()) return;
  const int slot = CurrentSlot(pad);
  if (!TestMode) Settings.Slot[slot] = path;
  SaveSettings();
  LoadSamplerSlot(slot, path);
}

void SetPadLoop(int pad, bool loop) {
  if (!ValidPad(pad)) return;
  Settings.Loop[CurrentSlot(pad)] = loop;
  ApplyPadSettings(pad);
  SaveSettings();
}

void SetPadVolume(int pad, float volume) {
  if (!ValidPad(pad)) return;
  Settings.Vol[CurrentSlot(pad)] = std::clamp(volume, 0.0f, 1.0f);
  ApplyPadSettings(pad);
  SaveSettings();
}

void ClearPad(int pad) {
  if (!ValidPad(pad)) return;
  const int slot = CurrentSlot(pad);
  std::wstring name;
  TrackPtr sound = SamplerBank == 0 ? MakeBuiltinSound(pad, &name) : nullptr;
  SwapOntoPad(pad, sound, name);
  if (!TestMode) Settings.Slot[slot].clear();
  Settings.Loop[slot] = false;
  ApplyPadSettings(pad);
  SaveSettings();
}
