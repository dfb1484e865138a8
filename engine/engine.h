#pragma once
// The one engine object: everything the real-time render reads. Deck commands, the sampler and
// the UI snapshot change or read it under `lock`; the render holds the lock for a whole period.
// Fields marked atomic are written and read without the lock.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/audio_thread.h"
#include "base/phones_mode.h"
#include "base/track.h"
#include "engine/biquad.h"
#include "engine/drum_split.h"
#include "engine/effects.h"
#include "engine/key_lock.h"
#include "engine/spsc_ring.h"
#include "engine/stem_data.h"
#include "platform/realtime_mutex.h"

inline constexpr int kEnginePads = 8;
inline constexpr int kStemParts = 4;             // VOCALS, DRUMS, BASS, MELODY
inline constexpr int kSpectrumBands = 16;
inline constexpr uint64_t kSecondaryRingFrames = 32768;
inline constexpr uint64_t kInputRingFrames = 32768;
inline constexpr double kPadRecordArmedBeat = -1e9;  // padRecordLastBeat while just armed
// A deck's stop effect while it runs.
enum DeckStopMode : int32_t { kStopNone = 0, kStopBrake = 1, kStopBackspin = 2 };
// Where the pad recording stands.
enum PadRecordStep : int32_t {
  kPadRecordIdle = 0,
  kPadRecordArmed = 1,     // waits for the leader's next bar (or the first block)
  kPadRecordRunning = 2,
  kPadRecordDone = 3,      // the take waits to be kept
};
inline constexpr int32_t kRepeatMaxFrames = 8192;  // the longest period the render can repeat

// Per-deck defaults of the beat parameters, in effect order (beats for the beat-timed effects).
inline constexpr float kDefaultFxParams[kEffectCount] = {0.5f, 0.0f,  8.0f, 4.0f, 0.0f, 0.25f,
                                                            0.0f, 1.0f,  0.0f, 0.0f, 0.25f, 0.0f,
                                                            0.0f, 0.25f, 0.0f, 0.0f, 8.0f, 0.75f};

// Where a deck stands in its track: the part a deck snapshot and an instant double take whole.
struct DeckPlace {
  TrackPtr track;                 // empty = no track
  double position = 0.0;          // frames of the track's own rate (fractional)
  bool playing = false;
  bool jogTouched = false;        // the jog wheel is held: scratch mode
  double cuePoint = 0.0;
  std::array<double, kHotCues> hotCueStart = {-1, -1, -1, -1, -1, -1, -1, -1};  // -1 = none
  std::array<double, kHotCues> hotCueEnd = {-1, -1, -1, -1, -1, -1, -1, -1};
  bool loopOn = false;
  double loopIn = 0.0;
  double loopOut = 0.0;
  bool reverse = false;
  bool slipMode = false;          // the SLIP switch
  bool slipOn = false;            // the slip shadow is running
  double slipPosition = 0.0;
  DeckStopMode stopMode = kStopNone;
};

// Every plain field of a deck: CopyDeckState copies these by assignment, so a field added here is
// never left out of the sandbox's copy.
struct DeckPlain : DeckPlace {
  double jogTarget = 0.0;
  double scratchSpeed = 0.0;
  bool jogStopping = false;       // just touched: the platter stops within the next block
  double speed = 0.0;             // source frames per output frame in the last block, 0 = still
  double stopElapsed = 0.0;       // seconds since the stop effect began
  float fadeIn = 0.0f;            // 0..1 after a jump; starts at 0 so a first start fades in
  float motionGain = 1.0f;        // 0..1: the deck's level as its speed allows (0 while held still)
  double oldPosition = 0.0;       // the position still sounding, fading out, after a jump
  double oldSpeed = 0.0;
  float oldFade = 0.0f;
  double olderPosition = 0.0;     // a voice still fading from the jump before, when two jumps
  double olderSpeed = 0.0;        // come within one fade (a seek right after a loop wrap)
  float olderFade = 0.0f;
  float tempo = 0.0f;             // relative offset, 0 = the track's own tempo
  float bend = 0.0f;              // temporary nudge added to tempo
  float keyShift = 0.0f;          // semitones
  bool keyLock = false;
  bool cue = false;               // headphone cue button
  float gain = 0.5f;              // 0.5 = 0 dB
  float eqHigh = 0.5f;
  float eqMid = 0.5f;
  float eqLow = 0.5f;
  float filter = 0.0f;            // -1..1, 0 = off
  float fader = 0.8f;
  int32_t vocalMode = 0;          // 0 normal, 1 voice band only, 2 voice band removed
  StemDataPtr stems;
  float kickTarget = 1.0f;
  float hatTarget = 1.0f;
  int32_t stemFxTarget = -1;      // 0..3 = the stem the deck effects act on, -1 = whole deck
  int32_t colorFx = 0;            // 0..5: what the filter knob does
  bool externalSpeedOn = false;
  float externalSpeed = 0.0f;     // timecode speed, -6..6
  int32_t xfAssign = 0;           // 0 left, 1 through, 2 right
  uint32_t fxMask = 0;
  int32_t filterRate = 0;         // output rate the fixed filters were built for

  // Fixed filters, [channel][stage]: EQ crossover, KICK and HI-HAT split, voice band (mono),
  // and the two cascaded stages of the channel filter.
  Biquad eqLowPass250[2][2];
  Biquad eqHighPass250[2][2];
  Biquad eqLowPass2800[2][2];
  Biquad eqHighPass2800[2][2];
  Biquad eqAllPass2800[2];
  DrumSplit drumSplit[2];
  SplitPhase deckPhase[2];        // the rest of the deck, in step with the split drums
  SplitPhase aimedPhase[2];       // the part the deck effects take, likewise
  Biquad voiceHighPass;
  Biquad voiceLowPass;
  Biquad channelFilter[2][2];     // run as state-variable stages (engine/deck_render.cpp)
  float filterLast = 0.0f;        // the filter value the stages sound at; glides to the knob
  bool filterActive = false;

  float gainLast[6] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f};  // low, mid, high, trim, fader, cue
  float stemGainNow[kStemParts] = {1.0f, 1.0f, 1.0f, 1.0f};
  float kickNow = 1.0f;
  float hatNow = 1.0f;
  float splitNow = 0.0f;          // 0..1: how far the deck sounds through the KICK/HI-HAT split
  float voiceNow[2] = {0.0f, 0.0f};
  StretchState stretch;
  double clickLastBeat = 0.0;
  double clickPhase = 0.0;
  float clickLevel = 0.0f;
  float clickFrequency = 1200.0f;      // Hz
};

// What CopyDeckState does not assign: the atomics (stored one by one), the two effect units and
// the work vectors (kept by each deck, so nothing is allocated under the lock).
struct DeckShared {
  std::atomic<float> stemGain[kStemParts] = {1.0f, 1.0f, 1.0f, 1.0f};
  std::atomic<float> fxAmount[kEffectCount];
  std::atomic<float> fxParam[kEffectCount];
  std::atomic<float> peak{0.0f};  // output peak since the UI last read it
  std::vector<float> stemScratch;
  EffectUnit colorFxUnit;
  EffectUnit fxUnit;
  std::vector<float> blockScratch;     // the block before EQ, 2 floats per frame
  std::vector<double> blockPositions;  // source position of every frame of the last block
};

// One deck's playback state. Not copyable as a whole (atomics, effect units): CopyDeckState.
// It holds no fields of its own: a new one goes into DeckPlain or DeckShared.
struct DeckState : DeckPlain, DeckShared {
  DeckState();
  DeckState(const DeckState&) = delete;
  DeckState& operator=(const DeckState&) = delete;
};
static_assert(sizeof(DeckState) == sizeof(DeckPlain) + sizeof(DeckShared),
              "DeckState holds no fields of its own; add them to DeckPlain or DeckShared");

struct SamplerPad {
  TrackPtr track;
  std::wstring name;
  double position = 0.0;  // frames of the pad's track
  bool playing = false;
  bool loop = false;
  float gain = 1.0f;
};

// The routing handed to the outputs, built from the settings.
struct OutputConfig {
  std::wstring masterDevice;  // empty = default device
  int32_t masterPair = 0;     // pair p = channels 2p and 2p + 1
  PhonesMode phonesMode = kPhonesNone;  // split: on the master output
  std::wstring phonesDevice;
  int32_t phonesPair = 1;
  std::wstring boothDevice;
  int32_t boothPair = 0;
  int32_t shareMode = 0;      // 0 shared, 1 shared low latency, 2 exclusive
  int32_t bufferMs = 10;
  bool externalMixer = false;
  int32_t deckCount = 2;      // 2 or 4
};

// Which channel pairs of the master device carry what: one block's copy of the engine's routing,
// taken under the engine lock so a change in between never reaches the device half-way.
struct MasterRouting {
  bool externalMixer = false;
  int32_t deckCount = 2;
  int32_t masterPair = 0;
  PhonesMode phonesMode = kPhonesNone;
  bool phonesOnMaster = false;
  int32_t phonesPair = 1;
  bool boothOnMaster = false;
  int32_t boothPair = 0;
};

// A headphone or booth output on a device other than the master's, fed through its ring.
struct SecondaryOutput {
  SpscRing ring;
  std::wstring deviceId;
  int32_t pair = 0;
  std::thread thread;
  std::atomic<bool> running{false};
  std::atomic<bool> wanted{false};
};

struct AudioEngine {
  RealtimeMutex lock;
  DeckState decks[kEngineDecks];
  SamplerPad pads[kEnginePads];

  // Prelisten player (headphones).
  TrackPtr prelistenTrack;
  double prelistenPosition = 0.0;
  bool prelistenPlaying = false;

  // Mixer controls, 0..1.
  float xfPosition = 0.5f;
  float masterVolume = 0.8f;      // 0.8 = unity
  float headphoneMix = 0.0f;      // 0 cue only, 1 master only
  float headphoneVolume = 0.8f;
  float samplerVolume = 0.8f;
  float boothVolume = 0.8f;
  int32_t xfCurve = 0;            // 0 linear, 1 cut, 2 constant power

  // Master meters: raised by the render (atomic maximum), reset by their reader.
  std::atomic<float> masterPeakL{0.0f};
  std::atomic<float> masterPeakR{0.0f};
  // Published by the master output (PublishOutputStarted / PublishOutputStopped): the rate is 0
  // whenever no output runs. Consumers ask RunningOutputRate, which reads both.
  std::atomic<int32_t> sampleRate{0};  // the master device's rate, 0 = unknown or stopped
  std::atomic<bool> outputRunning{false};
  std::atomic<float> spectrum[kSpectrumBands] = {};
  std::atomic<bool> clipped{false};
  std::atomic<float> loadPeak{0.0f};   // largest fraction of a period spent rendering
  std::atomic<uint32_t> dropouts{0};   // late device wake-ups
  bool limiterOn = true;
  std::atomic<float> limiterReductionDb{0.0f};

  // Master effects.
  uint32_t masterFxMask = 0;
  float masterFxAmount = 0.5f;
  float masterFxParam = 0.5f;

  int32_t leaderDeck = 0;   // the deck whose grid drives master effects, pads, pad recording
  int32_t clickDeck = -1;   // the deck ticked in the headphones, -1 = none

  // Microphone, then the state the master output publishes.
  float micGain = 0.8f;
  bool micDuck = true;
  std::atomic<bool> inputCapturing{false};
  uint32_t micEffectMask = 0;  // only ECHO and REVERB act
  std::atomic<int32_t> outputChannels{0};
  std::atomic<int32_t> bufferFrames{0};
  std::atomic<int32_t> shareMode{0};
  std::atomic<bool> lastWriteFlag{false};  // a route's channels are missing on the device

  // Tap rings: audio stream, video recorder, live video.
  SpscRing streamRing;
  SpscRing videoRecordRing;
  SpscRing liveVideoRing;

  std::thread masterThread;
  std::thread recorderThread;
  std::atomic<bool> stopOutputs{false};
  std::atomic<bool> recording{false};
  std::atomic<bool> tapStream{false};
  std::atomic<bool> sandboxOn{false};
  std::atomic<bool> tapVideoRecord{false};
  // While set, the video-recording tap takes only the blocks the WAV recorder takes.
  std::atomic<bool> videoRecordBesideWav{false};
  std::atomic<bool> tapLiveVideo{false};
  // Frames of the block being mixed now, 0 between blocks: the decks' positions already show this
  // block while the taps hold only the blocks before it, so a picture is stamped with both.
  std::atomic<int32_t> mixingFrames{0};
  // The render's own (no lock): the master block it played last, repeated when the engine lock
  // stays held past the render's patience; and how often that happened (blocks lost to a hold).
  float repeatBlock[2 * kRepeatMaxFrames] = {};
  int32_t repeatFrames = 0;  // 0 = none kept
  std::atomic<uint32_t> renderLockMisses{0};
  // Underruns the sound server reported for the master stream: it played past what was written.
  std::atomic<uint32_t> serverUnderruns{0};

  // Routing copy.
  std::wstring masterDevice;
  int32_t masterPair = 0;
  PhonesMode phonesMode = kPhonesNone;
  std::wstring phonesDevice;
  int32_t phonesPair = 1;
  std::wstring boothDevice;
  int32_t boothPair = 0;
  int32_t routeShareMode = 0;     // OutputConfig.shareMode (the published one is `shareMode`)
  int32_t bufferMs = 10;
  bool externalMixer = false;
  int32_t deckCount = 2;
  std::wstring masterDeviceId;    // the id the output opens; empty = follow the default device

  SecondaryOutput phones;
  SecondaryOutput booth;
  bool phonesOnMaster = false;
  bool boothOnMaster = false;

  float masterGainLast = 1.0f;    // master gain reached at the end of the last block
  // Reached at the end of the last block, each ramped from like masterGainLast; -1 = not yet
  // rendered (the first block starts at its target).
  float padGainLast[kEnginePads] = {-1, -1, -1, -1, -1, -1, -1, -1};
  float phonesVolumeLast = -1.0f;
  float phonesMixLast = -1.0f;
  float boothVolumeLast = -1.0f;

  // Work buffers (2 floats per frame; they only grow).
  std::vector<float> cueBuffer;
  std::vector<float> phonesBuffer;
  std::vector<float> boothBuffer;
  std::vector<float> deckOutBuffers[kEngineDecks];
  std::vector<float> extraBuffer;
  SpscRing recordRing;
  std::FILE* recordFile = nullptr;
  std::atomic<uint64_t> recordFrames{0};
  std::atomic<int32_t> recordRate{0};
  std::vector<float> padRecordBuffer;  // its capacity in frames is size / 2
  std::vector<float> micBuffer;

  // Pad recording.
  uint64_t padRecordFrames = 0;
  int32_t padRecordSource = 0;    // 1 = microphone, else master
  int32_t padRecordBeats = 0;     // <= 0: until the buffer is full
  double padRecordStartBeat = 0.0;
  double padRecordLastBeat = kPadRecordArmedBeat;
  std::atomic<PadRecordStep> padRecordState{kPadRecordIdle};
  int32_t padRecordRate = 0;      // the rate the recording is taken at

  DeckState sandboxDecks[kEngineDecks];
  float sandboxXfPosition = 0.5f;
  std::vector<float> liveMixBuffer;
  std::vector<float> sandboxCueBuffer;

  EffectUnit masterFx;
  EffectUnit micEffects;

  float limiterEnvelope = 1.0f;
  double freeBeatClock = 0.0;     // beats of a free-running 120 BPM clock
  Biquad analyserBands[kSpectrumBands];  // band-pass filters with their states
  int32_t analyserRate = 0;

  // Input side (microphone and line).
  std::thread inputThread;
  std::atomic<bool> inputOn{false};
  std::atomic<bool> inputStop{false};
  std::atomic<bool> inputResync{false};
  std::wstring inputDeviceId;
  std::vector<float> inputRing;   // 2 floats per frame
  uint64_t inputCapacity = kInputRingFrames;
  std::atomic<uint64_t> inputWritten{0};
  double inputReadPos = 0.0;
  RingFollower inputFollower;
  // The first frame the render may still read, published after each block: the writer never
  // writes past it + inputCapacity, and drops (and counts) what does not fit.
  std::atomic<uint64_t> inputReadFrame{0};
  std::atomic<uint64_t> inputDropped{0};
  std::atomic<int32_t> inputRate{0};
  std::atomic<float> inputPeak{0.0f};
  float duckGain = 1.0f;          // smoothed music gain under the microphone

  AudioEngine();
  ~AudioEngine();
  AudioEngine(const AudioEngine&) = delete;
  AudioEngine& operator=(const AudioEngine&) = delete;
};

extern AudioEngine Engine;

// --- Deck state ---
// Copies every field of `source` into `destination` except the two effect units and the work
// vectors; atomics are stored one by one. Caller holds the engine lock. May release the old track.
void CopyDeckState(DeckState& destination, const DeckState& source);
// Leaves the sandbox: the saved decks come back live, keeping cue points and hot cues edited in
// the sandbox when the same Track is still loaded. Takes the lock; nothing when the sandbox is off.
// The saved decks' tracks and stems are released after the lock is dropped.
void SwapSandbox(AudioEngine& engine);
// Starts a de-click before a jump: the sound at the current position keeps playing at its speed
// and fades out over 4 ms while the new position fades in; a fade still running moves to the
// second voice, so nothing is cut off. Resets the stretcher grains. Caller holds the lock.
void StartDeclick(DeckState& deck);
// Moves deck `deck` (0..3) to `position` frames, clamped to the track, de-clicked when it sounds.
// Non-finite positions and decks without a track are ignored. Takes the lock.
void SeekDeck(AudioEngine& engine, int deck, double position);
bool InputEnabled(const AudioEngine& engine);

// --- The master output's published state ---
// The output opened at `rate`: publishes the rate, then sets outputRunning. Output thread, or a
// stand-in that renders the mix itself at that pace.
void PublishOutputStarted(AudioEngine& engine, int32_t rate);
// The output stopped (device lost, server gone, stopped on purpose): clears outputRunning, then
// the rate. Any thread.
void PublishOutputStopped(AudioEngine& engine);
// The master rate while the output runs, else 0: what a consumer of the mix (recorder, stream,
// self-test) asks before it starts. Any thread, no lock.
int32_t RunningOutputRate(const AudioEngine& engine);
// 60 / the beat length at `seconds` on the track's grid: the tempo in BPM there.
double TempoAtTime(const Track& track, double seconds);

// --- Sizing, outside the render ---
// Grows every work buffer of the engine and its decks for periods up to `frames` at `rate` and
// builds effect units for that rate, so that the render allocates nothing. Allocates: never on
// the audio thread; takes the lock only to swap each grown buffer in.
void PrepareRenderBuffers(AudioEngine& engine, int frames, int rate);

