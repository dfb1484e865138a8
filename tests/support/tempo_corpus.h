#pragma once
// A corpus of synthetic dance-music tracks with known tempo, first beat and key, for measuring the
// analysis against the truth: drum kits of varied timbre, grooves of ten styles with fills, ghost
// notes, swing and timing jitter, bass and pads that swell, formant "vocals" and drumless intros.
// Every track is a pure function of its spec (seeded noise, doubles), so the corpus is the same on
// every machine. Tests and benchmarks only.
#include <cstdint>
#include <string>
#include <vector>

#include "base/track.h"

struct CorpusTrack {
  std::string style;       // e.g. "house", "hiphop-swing"
  std::string name;        // unique file stem
  double bpm = 120.0;      // true tempo
  double firstBeat = 0.0;  // seconds of the first grid beat on a downbeat kick, modulo one beat
  int32_t key = 0;         // 0-11 major, 12-23 minor (C = 0)
  double seconds = 40.0;
  uint32_t seed = 1;
  std::string extension = "wav";  // wav, mp3 or flac
  bool tonal = true;               // false: the drums alone, no bass, pads or vocal
};

// The tempo corpus: at least 60 tracks over ten styles (straight four-on-the-floor, swung hip-hop,
// half-time, two-step drum & bass, breakbeat, slow, fast, vocals over the beat, long drumless
// intros, live-like jitter). `perStyle` tracks of each style.
std::vector<CorpusTrack> TempoCorpus(int perStyle = 7);
// The key corpus: chord progressions in major and minor over bass and drums, some made of the
// relative major's notes.
std::vector<CorpusTrack> KeyCorpus(int count = 24);

// Dance grooves for the beat phase: a kick on every beat, open hats on the off-beats, a clap on two
// and four and a bass on sixteenths between the kicks. Every hit starts on an exact sample.
struct GrooveSpec {
  std::string name;
  double bpm = 124.0;
  double firstBeat = 0.0;      // seconds of the first kick, on a whole sample
  std::string bass;            // sixteenths of one beat: 'x' a bass note, '.' none
  double hatLowHz = 7000.0;    // the open hat's high-pass: 1000 reaches down into the snare band
  bool metallicHat = false;    // six detuned squares, as analogue hats are made; else noise
  double hatDb = -12.0;        // open hat and clap levels against the kick
  double clapDb = -6.0;
  double seconds = 24.0;
  uint32_t seed = 1;
};
// `count` grooves drawn from `seed`, the bass patterns in turn; tempo, hat, clap and start vary.
std::vector<GrooveSpec> PhaseGrooves(int count = 32, uint32_t seed = 61);
Track SynthesizeGroove(const GrooveSpec& spec);

// The stereo samples of a corpus track at 44.1 kHz.
Track SynthesizeCorpusTrack(const CorpusTrack& spec);
// Writes the track into `folder` as a 16-bit WAV, encoded by ffmpeg into the spec's extension when
// it is not wav; returns the path, or empty when writing or ffmpeg failed.
std::string WriteCorpusTrack(const CorpusTrack& spec, const std::string& folder);

// Scoring against the truth.
bool TempoExact(double found, double truth);       // within 0.5 BPM
bool TempoWithin4Percent(double found, double truth);
bool TempoOctaveOk(double found, double truth);     // within 4 % of the truth, its half or double
// Circular distance in seconds between a found first beat and the truth, modulo one true beat.
double FirstBeatError(double found, double truthFirstBeat, double truthBpm);
