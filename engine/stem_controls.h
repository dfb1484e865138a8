#pragma once
// The deck side of stem separation: separation jobs on a worker thread (start, cancel, the
// completion, the stop at the end of the run), sharing finished stems with every deck that holds
// the same Track, and the stem switches, presets and effects target of each deck. UI thread
// unless said otherwise.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/track.h"
#include "engine/stem_data.h"
#include "platform/sanitizers.h"

struct DeckView;

// The completion number of a separation job.
inline constexpr int kStemsReadyPost = 14;
inline constexpr int kStemNameCount = 4;
inline constexpr std::array<const wchar_t*, kStemNameCount> StemNames = {L"VOCALS", L"DRUMS", L"BASS", L"MELODY"};
// The stem switches of STEMS pads 6 (vocals only) and 7 (no vocals): vocals, drums, bass, melody.
inline constexpr bool kStemPadPresets[2][kStemNameCount] = {{true, false, false, false}, {false, true, true, true}};
// DeckView::stemPreset, set by the VOX and INST buttons: the switches, vocals only, no vocals.
inline constexpr uint32_t kStemPresetNone = 0;
inline constexpr uint32_t kStemPresetVocals = 1;
inline constexpr uint32_t kStemPresetInstrumental = 2;
inline constexpr int kStemKickSwitch = 4;
inline constexpr int kStemHatSwitch = 5;
inline constexpr int kStemVocalsOnlyPad = 6;
inline constexpr int kStemNoVocalsPad = 7;
inline constexpr wchar_t kStemsCancelledText[] = L"Cancelled";
inline constexpr wchar_t kStemsNoThreadText[] = L"Couldn't start separating \u2014 the system is out of threads.";

// Handed to the worker; freed by it.
struct StemJob {
  int32_t deck = 0;
  uint32_t serial = 0;
  TrackPtr track;
  std::shared_ptr<std::atomic<bool>> cancel;
  std::shared_ptr<std::atomic<float>> progress;
};
void FreeStemJob(StemJob* job);

// Posted back with kStemsReadyPost (lparam); freed by whoever handles it (FreeStemResult).
struct StemResult {
  int32_t deck = 0;
  uint32_t serial = 0;
  TrackPtr track;
  StemDataPtr stems;     // empty on failure or cancellation
  std::wstring error;    // why there are no stems ("Cancelled" after a cancel)
  bool gpu = false;      // the separation ran on the GPU
  double seconds = 0.0;  // how long it took
};
// Releases the result's track, stems and text and frees it; null is ignored.
void FreeStemResult(StemResult* result);

// --- Jobs ---
// Starts separating the deck's track, or reuses stems another deck made of the same Track.
// Nothing without a track or while its stems are ready or running; without the models the
// reason goes to the deck's stem message and the status line. An older job of the deck is
// cancelled.
void StartStemSeparation(int deck);
// Cancels the view's separation job and sets every stem switch back to its default, as for a
// newly loaded track. UI thread.
void ResetStemSwitches(DeckView& view);
// How long the end of the run waits for separations to notice their cancel: loading the models
// and one model step cannot be interrupted (a thread-checked build runs a step many times slower).
inline constexpr unsigned kStemStopWaitMs = 10000 * kSanitizerWaitScale;
// Cancels every separation still running and joins its worker, waiting up to waitMs in all; a
// worker still busy then is detached and logged. True when none was left. UI thread.
bool StopStemJobs(unsigned waitMs = kStemStopWaitMs);
// Worker body: SeparateStems, then posts kStemsReadyPost (frees the result itself when the post
// is refused). Frees the job.
void StemSeparationThread(StemJob* job);
// The completion: drops a stale result unseen; attaches stems to every deck holding the track
// and says so, or keeps the failure in the deck's stem message. Always frees the result.
void OnStemsReady(StemResult* result);
// Gives `stems` to every live deck (and, in the sandbox, every saved deck) whose track is that
// Track object; marks their views ready. Takes the lock. True when any live deck took them.
bool AttachStems(const TrackPtr& track, const StemDataPtr& stems);

// --- Switches ---
// Sets the four stem switches; the same setting twice returns to the full mix. Without stems it
// starts a separation (unless one runs) and changes nothing else.
void SetStemMix(int deck, bool vocals, bool drums, bool bass, bool melody);
// n 0..3: one stem; 4 KICK, 5 HI-HAT; 6 vocals only, 7 no vocals (presets, KICK and HI-HAT on).
void ToggleStem(int deck, int n);
// VOX (kStemPresetVocals) or INST (kStemPresetInstrumental): switches the preset on, or off when
// it is the one on. Turned on without stems and without the models, the status line says why
// the stems cannot do it, as SEPARATE STEMS does (the voice band is filtered meanwhile).
void SetStemPreset(int deck, uint32_t preset);
// Puts the deck's effects on one stem (0..3), or back on the whole deck when it already is.
void SetStemEffectsTarget(int deck, int stem);

// --- Publishing ---
// The gains of the four parts (vocals, drums, bass, melody) for a deck's preset and its own part
// levels `manual`: ready stems carry the preset (vocals only, or everything but the vocals);
// without them the parts follow `manual`. Returns the voice-band mode the render takes: the
// preset while no stems are ready, 0 once they are (the stems do its work then).
int32_t StemPartGains(bool stemsReady, uint32_t preset, const float manual[kStemNameCount], float gains[kStemNameCount]);
