#pragma once
// The UI-side state of one deck (written only by the UI thread) and the small deck helpers every
// deck command uses. The engine half of a deck is its DeckState (engine/engine.h).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/text_parse.h"
#include "base/track.h"
#include "base/ui_text.h"
#include "engine/engine.h"
#include "engine/phrases.h"

constexpr int kDeckFxSlots = 3;
constexpr int kStemSwitches = 4;   // vocals, drums, bass, melody
constexpr int kEqKnobs = 3;        // high, mid, low
constexpr float kDefaultPitchRange = 0.08f;   // fraction of the track's tempo
constexpr int32_t kDefaultLoopSizeIndex = 5;  // LoopSizes[5] = 4 beats
constexpr double kNoPendingSeek = -1.0;       // seconds; the completion starts on the cue point
constexpr double kNoHotCue = -1.0;            // frames, seconds: an empty slot
constexpr int32_t kNoColour = -1;             // hot-cue colour index: none
inline constexpr float kNudgeBend = 0.04f;    // tempo fraction while a pitch-bend control is held

// The engine's default effect parameters as the view's array.
constexpr std::array<float, kEffectCount> DefaultFxParamArray() {
  std::array<float, kEffectCount> params{};
  for (int i = 0; i < kEffectCount; ++i) params[static_cast<size_t>(i)] = kDefaultFxParams[i];
  return params;
}

using SharedProgress = std::shared_ptr<std::atomic<float>>;
using SharedFlag = std::shared_ptr<std::atomic<bool>>;

struct DeckView {
  float tempoFader = 0.5f;                   // 0 fastest .. 1 slowest
  float pitchRange = kDefaultPitchRange;
  // Channel strip, in the order the per-frame tick copies it.
  float gain = 0.5f;
  float eqHigh = 0.5f;
  float eqMid = 0.5f;
  float eqLow = 0.5f;
  float filter = 0.0f;                       // -1..1, 0 = off
  float fader = 0.8f;
  float bendHeld = 0.0f;                     // pitch bend from held nudge controls
  float jogBend = 0.0f;                      // pitch bend from the jog; decays every frame
  int32_t keyShift = 0;                      // semitones
  bool keyLock = false;
  bool headphoneCue = false;
  uint32_t stemPreset = 0;                   // 0 none, 1 vocals only
  uint32_t padMode = 0;
  std::array<uint32_t, kDeckFxSlots> fxSlotEffect = {0, 1, 2};
  std::array<bool, kDeckFxSlots> fxSlotOn = {false, false, false};
  std::array<float, kDeckFxSlots> fxSlotAmount = {0.5f, 0.5f, 0.5f};
  std::array<float, kEffectCount> fxParam = DefaultFxParamArray();
  int32_t loopSizeIndex = kDefaultLoopSizeIndex;
  float meterLevel = 0.0f;
  bool loading = false;
  uint32_t loadSerial = 0;                   // the serial of the newest load
  std::wstring title;                        // file name of the track loading or loaded
  UiText error;                              // the last load error; empty = none
  // Made here so a fresh view can be drawn before any load; every load makes a new one.
  SharedProgress loadProgress = std::make_shared<std::atomic<float>>(0.0f);
  bool cuePreview = false;                   // CUE held on a paused deck: plays until released
  int32_t rollIndex = -1;                    // the roll or slicer pad holding the loop; -1 none
  std::vector<double> taps;                  // tap-tempo times, seconds
  bool playCounted = false;                  // this load is in History: a resume does not list it again
  std::wstring path;                         // full path of the loaded track
  double libraryCue = 0.0;                   // frames: the main cue as last written to the library
  std::array<double, kHotCues> libraryHotCueStart = {-1, -1, -1, -1, -1, -1, -1, -1};  // frames
  std::array<double, kHotCues> libraryHotCueEnd = {-1, -1, -1, -1, -1, -1, -1, -1};
  std::wstring cuesPath;                     // the track the three library* copies describe
  bool wasPlaying = false;                   // the deck played at the last now-playing step
  double pendingSeek = kNoPendingSeek;       // seconds; consumed by the next completed load
  bool syncLock = false;
  bool censorHeld = false;
  bool vinylMode = true;                     // the jog wheel scratches when touched
  bool jogHeld = false;
  bool jogScratching = false;
  std::array<float, kEqKnobs> eqKillMemory = {-1.0f, -1.0f, -1.0f};  // -1 = not killed
  std::array<std::wstring, kHotCues> hotCueName;
  std::array<int32_t, kHotCues> hotCueColour = {-1, -1, -1, -1, -1, -1, -1, -1};  // 0..11 or -1
  std::vector<double> memoryCues;            // seconds, ascending
  std::vector<Phrase> phrases;
  double phrasesBpm = 0.0;
  double phrasesFirstBeat = -1.0;
  TrackPtr phrasesFor;                       // the track `phrases` belong to; none = recompute
  int32_t xfAssign = 0;                      // 0 left, 1 through, 2 right
  bool xfAssignSet = false;                  // unset: the deck follows its side
  std::array<bool, kStemSwitches> stemOn = {true, true, true, true};
  bool kickOn = true;
  bool hatOn = true;
  int32_t stemFxTarget = -1;                 // -1 = effects on the whole deck
  int32_t colorFx = 0;                       // what the filter knob does, 0..5
  bool stemsReady = false;
  bool stemsRunning = false;
  uint32_t stemJob = 0;
  std::wstring stemMessage;
  SharedProgress stemProgress = std::make_shared<std::atomic<float>>(0.0f);
  SharedFlag stemCancel = std::make_shared<std::atomic<bool>>(false);
};

// Decks A to D as the user plays them: every deck command reads and writes these.
extern DeckView LiveDeckViews[kEngineDecks];
// The saved views while the sandbox is on (kept by the sandbox commands).
extern DeckView SandboxDeckViews[kEngineDecks];

// --- Small deck helpers ---
// True for a deck number 0..3.
bool ValidDeck(int deck);
// The deck's DeckState in the engine (deck 0..3, asserted). Touch it only under the engine lock.
DeckState& DeckStateOf(int deck);
// Frames of one beat at the track's BPM: 60 / BPM x rate (a BPM that is not positive counts as 120).
double BeatSamples(const Track& track);
// The view's tempo offset, (0.5 - tempoFader) x 2 x pitchRange; the deck plays at 1 + this.
double TempoOffsetOf(const DeckView& view);
// The tempo fader position that plays `offset` (0.06 = 6 % faster) within the pitch range,
// clamped to the fader's travel (0 fastest .. 1 slowest); the inverse of TempoOffsetOf.
float TempoFaderFor(double offset, float pitchRange);
// The deck's current tempo: 60 / the grid's beat length at the play position x the deck's rate;
// 0 without a track. Reads the frame's deck snapshot (no lock). UI thread.
double DeckBpm(int deck);
// The key the deck sounds in: the track's key moved by keyShift plus, without key lock, the
// pitch change of the tempo offset, rounded to semitones; -1 without a track or key. Reads the
// frame's deck snapshot. UI thread.
int32_t DeckKey(int deck);
