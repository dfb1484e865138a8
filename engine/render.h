#pragma once
// The real-time render: one device period of the whole mix (RenderMix) and of one deck
// (RenderDeck). Both run under the engine lock, allocate nothing once the work buffers have
// reached the period size (PrepareRenderBuffers), and take no other lock.
#include <cstdint>

#include "engine/engine.h"
#include "engine/stems.h"

// --- Mixer ---
// Renders one period: writes the finished master block into out (2 x frames floats, cleared
// first) and fills the cue, headphone, booth, external-mixer, tap and recorder destinations,
// the pad recording and the meters. Holds the engine lock for the whole period and waits for it
// up to three quarters of the block's time (the holder runs at the caller's priority meanwhile);
// past that, out gets the last block again (de-clicked at its seam; silence when none of this
// length was played), nothing else moves, and the miss counts in renderLockMisses. When routing is
// given, it gets the routing the block was mixed for (left as it was after a miss).
void RenderMix(AudioEngine& engine, float* out, int32_t frames, int32_t rate, MasterRouting* routing = nullptr);
// The engine's master-device routing as one copy. The caller holds engine.lock.
MasterRouting TakeMasterRouting(const AudioEngine& engine);
// The frames RenderMix has mixed since start, the repeated blocks not counted: the time the
// decks moved through, at the sound server's pace rather than the wall clock's. Any thread.
uint64_t MixedFrames();
// The leader deck's beat at `frame` of the block being rendered and its beat length in seconds;
// a free-running 120 BPM clock when the leader has no track, does not play or frame lies outside
// the block. Engine lock held.
double LeaderBeatPosition(const AudioEngine& engine, int32_t frame, int32_t rate, double& beatLength);
// Ends a pad recording early: armed becomes idle, recording becomes done. Takes the lock.
void StopPadRecording(AudioEngine& engine);

// --- Deck ---
// Renders one deck for one period: moves its position, reads the track (cubic or through the
// key-lock stretcher) and remixes its stems when they belong to it, applies trim, EQ, voice
// modes, filter, colour effect, deck effects (on the whole deck or on one stem) and the beat
// click, and adds the result to out (times fader and cross-fader gain xfGain), cue (times
// the cue gain) and deckOut when given (unscaled). Engine lock held.
void RenderDeck(AudioEngine& engine, DeckState& deck, float xfGain, float* out, float* cue,
                float* deckOut, int32_t frames, int32_t rate);
// Remix weights of one read: weights[0] x mix + weights[1] x vocals + weights[2] x drums +
// weights[3] x bass, the stems taken from `stems` (which must belong to the track).
struct Remix {
  float weights[4] = {1.0f, 0.0f, 0.0f, 0.0f};
  const StemData* stems = nullptr;
};
// One stereo frame of the track at a fractional position by 4-point Catmull-Rom interpolation;
// 0, 0 when the position is negative or at or past the end; frames outside the track count as 0.
// With remix, each sample is the weighted sum of the mix and the stems.
void ReadTrackCubic(const Track& track, double position, float& left, float& right, const Remix* remix = nullptr);
// Whether stems were made from this very track as it is now: the same Track object and length,
// and three full stems. Stems that fail it are ignored by the render.
bool StemsBelongTo(const StemData* stems, const Track& track);

// --- Shared curves ---
// Cross-fader gains of the left and right sides for a position (clamped to 0..1) and a curve
// (0 linear, 1 cut, 2 constant power).
void CrossfaderGains(float position, int32_t curve, float& left, float& right);
// The master's soft knee: samples at or above 0.9 in magnitude bend toward 1.0 and never reach it.
float SoftClip(float x);
// True when the headphone mix leaves the master: split on the master output, or its own output
// running (and not in external-mixer mode). Engine lock held.
bool HeadphonesApart(const AudioEngine& engine);
