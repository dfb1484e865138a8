// The render allocates nothing once its buffers have grown. The global allocator is replaced for
// the whole test binary: it passes every call through and counts only while a thread has asked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "engine/engine.h"
#include "engine/render.h"

namespace {

thread_local bool tCounting = false;
thread_local long tAllocations = 0;

void* Allocate(std::size_t size) {
  if (tCounting) ++tAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  if (tCounting) ++tAllocations;
  const std::size_t a = static_cast<std::size_t>(alignment);
  if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t a) { return AllocateAligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateAligned(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 480;

TrackPtr MusicLike(int rate, double seconds) {
  auto track = std::make_shared<Track>();
  track->sampleRate = rate;
  track->frames = static_cast<uint64_t>(seconds * rate);
  track->samples.resize(track->frames * 2);
  uint32_t noise = 1;
  for (uint64_t i = 0; i < track->frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    noise = noise * 1664525u + 1013904223u;
    const float hiss = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
    const float v = 0.3f * static_cast<float>(std::sin(2 * M_PI * 110 * t)) * static_cast<float>(std::exp(-8 * std::fmod(t, 0.5))) +
                    0.1f * static_cast<float>(std::sin(2 * M_PI * 660 * t)) + 0.05f * hiss;
    track->samples[2 * i] = v;
    track->samples[2 * i + 1] = 0.9f * v;
  }
  return track;
}

long CountAllocations(AudioEngine& engine, std::vector<float>& out, int periods) {
  tAllocations = 0;
  tCounting = true;
  for (int i = 0; i < periods; ++i) RenderMix(engine, out.data(), kPeriod, kRate);
  tCounting = false;
  return tAllocations;
}

TEST(RenderAllocation, CounterSeesAllocations) {
  tAllocations = 0;
  tCounting = true;
  auto probe = std::make_unique<std::vector<float>>(100);
  tCounting = false;
  EXPECT_GE(tAllocations, 2);
}

TEST(RenderAllocation, FourDecksWithKeyLockAndEffectsAllocateNothing) {
  auto engine = std::make_unique<AudioEngine>();
  PrepareRenderBuffers(*engine, kPeriod, kRate);
  TrackPtr track = MusicLike(44100, 20.0);
  for (int d = 0; d < kEngineDecks; ++d) {
    DeckState& deck = engine->decks[d];
    deck.track = track;
    deck.playing = true;
    deck.position = 1000.0 * d;
    deck.tempo = 0.06f;
    deck.keyLock = true;
    deck.fxMask = EffectBit(kFxEcho) | EffectBit(kFxReverb) | EffectBit(kFxStutter) | EffectBit(kFxGate);
    deck.filter = -0.4f;
    deck.colorFx = 2;
    deck.cue = d == 0;
    deck.xfAssign = d % 2 == 0 ? 0 : 2;
  }
  engine->masterFxMask = EffectBit(kFxFlanger) | EffectBit(kFxDubEcho);
  engine->phonesMode = kPhonesSplit;
  engine->clickDeck = 0;
  engine->pads[0].track = MusicLike(44100, 0.5);
  engine->pads[0].playing = true;
  engine->pads[0].loop = true;
  RingResize(engine->streamRing, 4 * kRate);
  engine->tapStream.store(true);
  std::vector<float> out(2 * kPeriod);
  CountAllocations(*engine, out, 1);  // warm-up: the first period may still grow buffers
  EXPECT_EQ(CountAllocations(*engine, out, 300), 0);

  // A seek, a loop, a stretcher switch and a filter change do not allocate either.
  SeekDeck(*engine, 1, 30000.0);
  engine->decks[2].loopIn = 50000.0;
  engine->decks[2].loopOut = 60000.0;
  engine->decks[2].loopOn = true;
  engine->decks[3].keyLock = false;
  engine->decks[0].filter = 0.7f;
  EXPECT_EQ(CountAllocations(*engine, out, 300), 0);
}

}  // namespace
