#pragma once
// The audio side of the per-frame tick: every deck's UI controls and the master section go into
// the engine, the peaks the output thread left behind become decaying meters, the loudest
// audible deck leads the beat-synced effects and the MIDI clock, dropouts reach the log now and
// then, finished demo tracks are announced and the camera follows its setting. UI thread.
#include <array>
#include <cstdint>

#include "engine/engine.h"
#include "engine/mix_meters.h"

// Per-tick factors: each meter becomes max(meter x factor, the engine's newest peak).
inline constexpr float kDeckMeterDecay = 0.86f;
inline constexpr float kMasterMeterDecay = 0.86f;
inline constexpr float kMicMeterDecay = 0.85f;
inline constexpr float kLimiterMeterDecay = 0.9f;
inline constexpr float kSpectrumDecay = 0.82f;
inline constexpr float kLoadDecay = 0.97f;
// The jog's nudge fades by this per tick and stops below the floor.
inline constexpr float kNudgeDecay = 0.85f;
inline constexpr float kNudgeFloor = 0.001f;
inline constexpr uint64_t kClipHoldMs = 700;
inline constexpr uint64_t kDropoutLogGapMs = 10000;


// Once per tick, after the cross-fader glide and before SnapshotDecks, in this order: deck
// controls and deck meters, the master section, the clock leader, the mix meters, clip, load,
// dropouts, the demo-track announcement (queued after the frame), the camera. Takes the engine
// lock once for the plain engine fields; every meter is read and reset with one exchange, so no
// peak is lost between ticks. Reads the previous tick's deck snapshots.
void DemoTick();
// The same at `nowMs` on the MonotonicMs clock.
void DemoTickAt(uint64_t nowMs);
