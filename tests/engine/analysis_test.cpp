#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "engine/analysis.h"
#include "engine/audio_file.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "support/wav_probe.h"

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A stereo track of `seconds` at `rate` whose left and right samples come from `left` and `right`
// (functions of the time in seconds).
Track MakeTrack(int32_t rate, double seconds, const std::function<double(double)>& left,
                const std::function<double(double)>& right = nullptr) {
  Track track;
  track.sampleRate = rate;
  track.frames = static_cast<uint64_t>(seconds * rate);
  track.samples.resize(2 * track.frames);
  for (uint64_t f = 0; f < track.frames; ++f) {
    const double t = static_cast<double>(f) / rate;
    track.samples[2 * f] = static_cast<float>(left(t));
    track.samples[2 * f + 1] = static_cast<float>(right ? right(t) : left(t));
  }
  return track;
}

std::function<double(double)> Chord(std::vector<double> hz) {
  return [hz](double t) {
    double v = 0.0;
    for (double f : hz) v += 0.2 * std::sin(kTwoPi * f * t);
    return v;
  };
}

// 10 ms bursts of a 1 kHz sine on every beat from `firstClick` on, as a metronome makes them.
std::function<double(double)> Clicks(double bpm, double firstClick) {
  return [=](double t) {
    if (t < firstClick) return 0.0;
    return std::fmod(t - firstClick, 60.0 / bpm) < 0.01 ? 0.8 * std::sin(kTwoPi * 1000.0 * t) : 0.0;
  };
}

std::function<double(double)> WhiteNoise() {
  auto state = std::make_shared<uint32_t>(12345);
  return [state](double) {
    *state = *state * 1664525u + 1013904223u;
    return 0.5 * (static_cast<double>(*state >> 8) / (1u << 24) - 0.5);
  };
}

// Impulses of 1 every `period` points (rounded), from `phase`, over `points` points.
std::vector<float> Pulses(size_t points, double period, double phase) {
  std::vector<float> onset(points, 0.0f);
  for (double t = phase; t < points - 0.5; t += period) onset[static_cast<size_t>(t + 0.5)] = 1.0f;
  return onset;
}

// The same onsets in every band, at 150 frames a second.
OnsetBands InEveryBand(const std::vector<float>& onset) {
  OnsetBands bands;
  bands.framesPerSecond = 150.0;
  for (auto& band : bands.band) band = onset;
  bands.all = onset;
  return bands;
}

// Makes a stereo 16-bit WAV with sox: a 5 ms 2 kHz square click at the start of every beat of
// `beatSamples`, from 0.25 s on, over a steady 440 Hz tone; 15 s in all. `rateOption` is sox's
// "-r RATE" placed before or after its null input. Returns the decoded and analysed track.
TrackPtr SoxClickTrack(const std::string& folder, const std::string& rateOption, int rate, long beatSamples) {
  const long click = rate / 200;
  std::string name = fmt::format("sox{}-{}.wav", rateOption, beatSamples);
  std::replace(name.begin(), name.end(), ' ', '_');
  const std::string path = folder + "/" + name;
  const std::string command = fmt::format(
      "sox {} -c 2 -b 16 {} synth {}s square 2000 vol 0.5 pad 0 {}s repeat 60 trim 0 14.75 pad 0.25 0 "
      "synth sine mix 440 2>&1", rateOption, ShellQuote(path), click, beatSamples - click);
  int status = -1;
  RunCommand(command, &status);
  EXPECT_EQ(status, 0) << command;
  std::atomic<float> progress{0.0f};
  std::wstring error;
  TrackPtr track = DecodeFile(Utf8ToWide(path), &progress, &error, true);
  EXPECT_TRUE(track) << path << ": " << WideToUtf8(error);
  return track;
}

}  // namespace

// Every size, as the stages pair up differently with an odd or even number of them.
TEST(AnalysisFft, MatchesADirectTransform) {
  for (const size_t n : {2, 4, 8, 16, 32, 64, 128, 512}) {
    std::vector<std::complex<float>> data(n);
    for (size_t k = 0; k < data.size(); ++k)
      data[k] = {static_cast<float>(std::sin(0.3 * k) + 0.01 * k), static_cast<float>(std::cos(1.7 * k))};
    const std::vector<std::complex<float>> input = data;
    AnalysisFft(data);
    for (size_t bin = 0; bin < input.size(); ++bin) {
      std::complex<double> expected = 0.0;
      for (size_t k = 0; k < input.size(); ++k)
        expected += std::complex<double>(input[k]) * std::polar(1.0, -kTwoPi * bin * k / input.size());
      ASSERT_NEAR(data[bin].real(), expected.real(), 1e-3) << n << " points, bin " << bin;
      ASSERT_NEAR(data[bin].imag(), expected.imag(), 1e-3) << n << " points, bin " << bin;
    }
  }
  std::vector<std::complex<float>> odd(12, {1.0f, 0.0f});
  AnalysisFft(odd);  // not a power of two: untouched
  EXPECT_EQ(odd, std::vector<std::complex<float>>(12, {1.0f, 0.0f}));
}

// The windowed fill that the spectra hand to the FFT: each product lands at its reversed index.
TEST(AnalysisFft, FillsInBitReversedOrder) {
  for (const size_t n : {2, 8, 16, 64, 512, 4096}) {
    std::vector<float> x(n), w(n), out(n, -1.0f);
    for (size_t k = 0; k < n; ++k) x[k] = static_cast<float>(std::sin(0.7 * k)), w[k] = 1.0f + 0.001f * k;
    FillReversed(x.data(), w.data(), n, out.data());
    const uint32_t* order = FftReverseOrder(n);
    for (size_t k = 0; k < n; ++k) ASSERT_EQ(out[order[k]], x[k] * w[k]) << n << " points, index " << k;
  }
}

// The mix the key and onsets read: means of `factor` frames of cleaned samples, whichever path the
// factor takes (two frames at a time for even factors, one by one for odd ones) and whichever
// pass reads them.
TEST(AnalysisDecimation, MeansOfCleanedFramesAtEveryRate) {
  const float garbage[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(), 3e38f, -2e4f, 1e4f, -0.0f};
  for (const int32_t rate : {44100, 48000, 22050, 37800, 8000, 192000}) {
    Track track = MakeTrack(rate, 1.0, [](double t) { return 0.5 * std::sin(kTwoPi * 440.0 * t); },
                            [](double t) { return 0.3 * std::sin(kTwoPi * 97.0 * t); });
    for (size_t i = 0; i < std::size(garbage); ++i) track.samples[101 + 37 * i] = garbage[i];
    track.frames -= 3;  // not a whole number of decimated samples
    const DecimatedMix mix = DecimateMix(track);
    const int32_t factor = std::max(rate / 11025, 1);
    ASSERT_EQ(mix.factor, factor) << rate;
    EXPECT_EQ(mix.rate, static_cast<double>(rate) / factor);
    ASSERT_EQ(mix.samples.size(), track.frames / factor) << rate;
    // Non-finite samples are silence; absurd ones clamp at +-1e4.
    auto clean = [](float v) { return std::isfinite(v) ? std::clamp(static_cast<double>(v), -1e4, 1e4) : 0.0; };
    for (size_t j = 0; j < mix.samples.size(); ++j) {
      double sum = 0.0;
      for (size_t i = 2 * j * factor; i < 2 * (j + 1) * factor; ++i) sum += clean(track.samples[i]);
      ASSERT_NEAR(mix.samples[j], sum / (2.0 * factor), 1e-6 * (1.0 + std::fabs(sum))) << rate << " sample " << j;
    }
    // The whole analysis takes the mix from the band split's read of the samples: the same bits.
    DecimatedMix fused;
    SplitBands(track, &fused);
    ASSERT_EQ(fused.samples.size(), mix.samples.size()) << rate;
    EXPECT_EQ(fused.rate, mix.rate);
    for (size_t j = 0; j < mix.samples.size(); ++j)
      ASSERT_EQ(std::bit_cast<uint32_t>(fused.samples[j]), std::bit_cast<uint32_t>(mix.samples[j])) << rate << " sample " << j;
  }
}

TEST(AnalysisWaveform, HasOnePointPer150thOfASecondPlusOne) {
  struct Case { uint64_t frames; int32_t rate; };
  for (const Case c : {Case{44100, 44100}, Case{44099, 44100}, Case{1000, 48000}, Case{0, 44100},
                       Case{123457, 8000}, Case{300, 100}}) {
    Track track = MakeTrack(c.rate, static_cast<double>(c.frames) / c.rate, [](double) { return 0.1; });
    track.frames = c.frames;
    track.samples.resize(2 * c.frames, 0.1f);
    const BandSplit bands = SplitBands(track);
    const size_t expected = static_cast<size_t>(c.frames * 150 / c.rate) + 1;
    EXPECT_EQ(WavePointCount(c.frames, c.rate), expected);
    ASSERT_EQ(bands.count.size(), expected) << c.frames << " frames at " << c.rate;
    uint64_t counted = 0;
    for (size_t i = 0; i < expected; ++i) {
      counted += bands.count[i];
      // Point i holds exactly the frames f with floor(f x 150 / rate) = i.
      const uint64_t first = (i * c.rate + 149) / 150, end = ((i + 1) * c.rate + 149) / 150;
      EXPECT_EQ(bands.count[i], std::min(end, c.frames) - std::min(first, c.frames)) << "point " << i;
    }
    EXPECT_EQ(counted, c.frames);
    AnalyzeTrack(track);
    EXPECT_EQ(track.waveform.size(), expected);
  }
}

// The waveform is stored and compared across machines: the band split must give the bits of the
// plain frame-by-frame filter, whatever the samples and however the points' runs fall.
TEST(AnalysisWaveform, BandsAreTheBitsOfTheFrameByFrameFilter) {
  auto reference = [](const Track& t) {
    const size_t n = WavePointCount(t.frames, t.sampleRate);
    std::vector<float> peaks(3 * n, 0.0f);
    const double a1 = std::exp(-kTwoPi * 180.0 / t.sampleRate), a2 = std::exp(-kTwoPi * 2200.0 / t.sampleRate);
    const double b1 = 1.0 - a1, b2 = 1.0 - a2;
    auto clean = [](float v) { return std::isfinite(v) ? std::clamp(v, -1e4f, 1e4f) : 0.0f; };
    double lp1 = 0, low = 0, lp2 = 0, sum = 0;
    for (uint64_t f = 0; f < t.frames; ++f) {
      const double m = (static_cast<double>(clean(t.samples[2 * f])) + clean(t.samples[2 * f + 1])) * 0.5;
      sum += m * m;
      lp1 = lp1 * a1 + m * b1;
      low = low * a1 + lp1 * b1;
      lp2 = lp2 * a2 + m * b2;
      float* p = &peaks[3 * (f * 150 / t.sampleRate)];
      for (const double v : {low, lp2 - low, m - lp2}) *p = std::max(*p, static_cast<float>(std::fabs(v))), ++p;
    }
    return std::pair{peaks, sum};
  };
  const float hostile[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(), -3e38f, 2e4f, 1e-40f, -1e-45f, -0.0f};
  for (const int32_t rate : {44100, 48000, 11025, 8000, 96000, 37800}) {
    Track track = MakeTrack(rate, 0.7, [noise = WhiteNoise()](double t) { return 0.3 * noise(t) + 0.5 * std::sin(kTwoPi * 90.0 * t); },
                            Chord({440.0, 3000.0}));
    for (size_t i = 0; i < 400; ++i) track.samples[(i * 7919) % track.samples.size()] = hostile[i % std::size(hostile)];
    for (uint64_t frames : {track.frames, track.frames - 1, uint64_t{1}, uint64_t{2}}) {
      track.frames = frames;
      const BandSplit bands = SplitBands(track);
      const auto [peaks, sum] = reference(track);
      ASSERT_EQ(bands.lowPeak.size() * 3, peaks.size()) << rate;
      for (size_t i = 0; i < bands.lowPeak.size(); ++i) {
        ASSERT_EQ(std::bit_cast<uint32_t>(bands.lowPeak[i]), std::bit_cast<uint32_t>(peaks[3 * i])) << rate << " point " << i;
        ASSERT_EQ(std::bit_cast<uint32_t>(bands.midPeak[i]), std::bit_cast<uint32_t>(peaks[3 * i + 1])) << rate << " point " << i;
        ASSERT_EQ(std::bit_cast<uint32_t>(bands.highPeak[i]), std::bit_cast<uint32_t>(peaks[3 * i + 2])) << rate << " point " << i;
      }
      EXPECT_EQ(std::bit_cast<uint64_t>(bands.sumSquares), std::bit_cast<uint64_t>(sum)) << rate << ", " << frames << " frames";
    }
  }
}

TEST(AnalysisWaveform, LowAndHighBandsFollowTheTone) {
  // 2 s of 60 Hz, then 2 s of 5 kHz: each band is normalised to its own loudest point.
  Track track = MakeTrack(44100, 4.0, [](double t) {
    return 0.5 * std::sin(kTwoPi * (t < 2.0 ? 60.0 : 5000.0) * t);
  });
  AnalyzeTrack(track);
  ASSERT_EQ(track.waveform.size(), 601u);
  const WavePoint bass = track.waveform[150], treble = track.waveform[450];
  EXPECT_GE(bass.low, 240);
  EXPECT_LT(bass.high, 20);
  EXPECT_GE(treble.high, 240);
  EXPECT_LT(treble.low, 20);
  EXPECT_GT(bass.mid, treble.mid);  // 60 Hz leaks more into the 180-2200 Hz band than 5 kHz does
}

TEST(AnalysisLevels, LoudnessAndFirstSound) {
  // A sine at -20 dBFS RMS (peak 0.1 x sqrt 2) from 1.5 s on.
  Track track = MakeTrack(48000, 6.0, [](double t) {
    return t < 1.5 ? 0.0 : 0.1 * std::numbers::sqrt2 * std::sin(kTwoPi * 1000.0 * t);
  });
  AnalyzeTrack(track);
  EXPECT_NEAR(track.loudness, -20.0 + 10 * std::log10(4.5 / 6.0), 0.05);  // silence counts in the mean
  EXPECT_NEAR(track.firstSound, 1.5 - 0.01, 0.001);

  Track whole = MakeTrack(44100, 5.0, [](double t) { return 0.1 * std::numbers::sqrt2 * std::sin(kTwoPi * 440.0 * t); });
  AnalyzeTrack(whole);
  EXPECT_NEAR(whole.loudness, -20.0, 0.05);
  EXPECT_EQ(whole.firstSound, 0.0);  // sound from 0 s: never before 0

  // Only the right channel passes 0.02, at 0.5 s; a level of exactly 0.02 does not count.
  Track right = MakeTrack(44100, 1.0, [](double) { return 0.02; }, [](double t) { return t >= 0.5 ? -0.03 : 0.0; });
  AnalyzeTrack(right);
  EXPECT_NEAR(right.firstSound, 0.49, 1e-4);
}

TEST(AnalysisLevels, SilenceMeasuresNothing) {
  Track track = MakeTrack(44100, 8.0, [](double) { return 0.0; });
  AnalyzeTrack(track);
  EXPECT_EQ(track.loudness, -100.0f);
  EXPECT_EQ(track.firstSound, 0.0);
  EXPECT_EQ(track.bpm, 0.0) << "no beat, no tempo";
  EXPECT_EQ(track.firstBeat, 0.0);
  EXPECT_EQ(track.key, -1);
  ASSERT_EQ(track.waveform.size(), 1201u);
  for (const WavePoint& p : track.waveform) ASSERT_EQ(p.low + p.mid + p.high, 0);
}

// A held tone has no beat, however long, short or quiet, even with the rounding noise of 16-bit
// samples under it; clicks 50 dB down still have theirs.
TEST(AnalysisTempo, AHeldToneHasNoTempoButQuietClicksDo) {
  const auto tone = [](double level) {
    return [level](double t) { return std::round(level * std::sin(kTwoPi * 441.0 * t) * 32767.0) / 32767.0; };
  };
  for (double seconds : {2.0, 6.0, 60.0}) {
    for (double level : {0.5, 0.03, 0.001}) {
      Track track = MakeTrack(44100, seconds, tone(level));
      AnalyzeTrack(track);
      EXPECT_EQ(track.bpm, 0.0) << seconds << " s at " << level;
    }
  }
  const auto clicks = Clicks(126.0, 0.25);
  Track quiet = MakeTrack(44100, 20.0, [&](double t) { return 0.003 * clicks(t); });
  AnalyzeTrack(quiet);
  EXPECT_EQ(quiet.bpm, 126.0);
  Track loop = MakeTrack(44100, 2.0, Clicks(128.0, 0.1));  // a two-second loop: too short to measure
  AnalyzeTrack(loop);
  EXPECT_EQ(loop.bpm, 120.0);
}

TEST(AnalysisLevels, GarbageSamplesGiveFiniteResults) {
  Track track = MakeTrack(44100, 6.0, Chord({220.0, 261.63, 329.63}));
  track.samples[1000] = std::numeric_limits<float>::quiet_NaN();
  track.samples[2001] = std::numeric_limits<float>::infinity();
  track.samples[30000] = 3e38f;
  AnalyzeTrack(track);
  EXPECT_TRUE(std::isfinite(track.loudness));
  EXPECT_TRUE(std::isfinite(track.bpm));
  EXPECT_EQ(track.key, 21);  // one bad sample does not hide the chord

  Track short_samples = MakeTrack(44100, 6.0, Chord({220.0}));
  short_samples.frames *= 4;  // claims more frames than it holds
  AnalyzeTrack(short_samples);
  EXPECT_EQ(short_samples.waveform.size(), WavePointCount(short_samples.samples.size() / 2, 44100));

  Track no_rate = MakeTrack(44100, 1.0, Chord({220.0}));
  no_rate.sampleRate = 0;
  AnalyzeTrack(no_rate);
  EXPECT_TRUE(no_rate.waveform.empty());
  EXPECT_EQ(no_rate.key, -1);
  EXPECT_EQ(no_rate.bpm, 120.0);
}

TEST(AnalysisKey, ChordsNameTheirKey) {
  EXPECT_EQ(DetectKey(MakeTrack(44100, 10.0, Chord({220.0, 261.63, 329.63}))), 21);  // A minor
  EXPECT_EQ(DetectKey(MakeTrack(44100, 10.0, Chord({261.63, 329.63, 392.0}))), 0);   // C major
  EXPECT_EQ(DetectKey(MakeTrack(48000, 10.0, Chord({293.66, 369.99, 440.0}))), 2);   // D major
  EXPECT_EQ(DetectKey(MakeTrack(8000, 10.0, Chord({220.0, 261.63, 329.63}))), 21);   // analysed at d = 1
}

TEST(AnalysisKey, NoTonalContentIsUnknown) {
  EXPECT_EQ(DetectKey(MakeTrack(44100, 10.0, [](double) { return 0.0; })), -1);
  EXPECT_EQ(DetectKey(MakeTrack(44100, 10.0, WhiteNoise())), -1);
  EXPECT_EQ(DetectKey(MakeTrack(44100, 1.6, WhiteNoise())), -1);  // only three windows to average
  EXPECT_EQ(DetectKey(MakeTrack(44100, 10.0, Clicks(128, 0.25))), -1);
  // 16383 decimated samples are too few even for a clear chord; 16384 are enough.
  Track chord = MakeTrack(44100, 2.0, Chord({220.0, 261.63, 329.63}));
  chord.frames = 16383 * 4 + 3;
  EXPECT_EQ(DetectKey(chord), -1);
  chord.frames = 16384 * 4;
  EXPECT_EQ(DetectKey(chord), 21);
}

TEST(AnalysisTempo, CombScoreFindsThePhase) {
  const std::vector<float> onset = Pulses(3000, 75.0, 10.0);  // 120 BPM from point 10
  const CombScore score = ScoreTempo(onset, 120.0, 150.0);
  EXPECT_EQ(score.score, 40.0);
  EXPECT_EQ(score.phase, 10);
  EXPECT_LT(ScoreTempo(onset, 123.0, 150.0).score, 40.0);
  EXPECT_EQ(ScoreTempo(onset, 9001.0, 150.0).score, -1.0);  // period under one point
  EXPECT_EQ(ScoreTempo(onset, 0.0, 150.0).score, -1.0);
}

TEST(AnalysisTempo, OctavesFoldInto78To180) {
  EXPECT_EQ(EstimateTempo(InEveryBand(Pulses(9000, 120.0, 0.0))).bpm, 150.0);  // 75 BPM doubles
  EXPECT_EQ(EstimateTempo(InEveryBand(Pulses(9000, 9000.0 / 190.0, 0.0))).bpm, 95.0);  // 190 BPM halves
  EXPECT_EQ(EstimateTempo(InEveryBand(Pulses(9000, 9000.0 / 174.0, 0.0))).bpm, 174.0);
  const TempoEstimate none = EstimateTempo(InEveryBand(std::vector<float>(9000, 0.0f)));
  EXPECT_EQ(none.bpm, 120.0);
  EXPECT_EQ(none.firstBeat, 0.0);
  EXPECT_EQ(EstimateTempo(InEveryBand(Pulses(599, 75.0, 3.0))).bpm, 120.0);  // under 4 s: defaults
}

TEST(AnalysisTempo, ClickTracksGiveTempoAndFirstBeat) {
  for (double bpm : {128.0, 120.0, 126.0, 87.0, 172.0}) {
    for (double seconds : {6.0, 8.0, 9.0, 40.0}) {
      Track track = MakeTrack(44100, seconds, Clicks(bpm, 0.25));
      AnalyzeTrack(track);
      EXPECT_EQ(track.bpm, bpm) << seconds << " s of " << bpm << " BPM";
      EXPECT_NEAR(track.firstBeat, 0.25, 0.010) << seconds << " s of " << bpm << " BPM";
    }
  }
  Track late = MakeTrack(48000, 20.0, Clicks(128.0, 0.25 + 3 * 60.0 / 128));
  AnalyzeTrack(late);
  EXPECT_EQ(late.bpm, 128.0);
  EXPECT_NEAR(late.firstBeat, 0.25, 0.010);  // the phase, within the first beat

  Track short_track = MakeTrack(44100, 3.9, Clicks(128.0, 0.25));
  AnalyzeTrack(short_track);
  EXPECT_EQ(short_track.bpm, 120.0);
  EXPECT_EQ(short_track.firstBeat, 0.0);
  EXPECT_EQ(short_track.waveform.size(), WavePointCount(short_track.frames, 44100));
  EXPECT_LT(short_track.waveform.size(), 600u);
}

// The same clicks at every common rate read their whole BPM and first beat: the band split, the
// points and the comb all follow the file's rate. Beats are whole samples, within 0.005 BPM.
TEST(AnalysisTempo, SoxClickTracksReadTheirBpmAtEveryRate) {
  const ClickTrackFolder folder;
  for (int rate : {22050, 32000, 44100, 48000, 96000}) {
    for (double bpm : {120.0, 126.0, 128.0, 87.0, 172.0}) {
      const TrackPtr track =
          SoxClickTrack(folder.path(), fmt::format("-r {} -n", rate), rate, std::lround(rate * 60.0 / bpm));
      if (!track) continue;
      EXPECT_EQ(track->sampleRate, rate);
      EXPECT_EQ(track->bpm, bpm) << rate << " Hz, " << bpm << " BPM";
      EXPECT_NEAR(track->firstBeat, 0.25, 0.010) << rate << " Hz, " << bpm << " BPM";
    }
  }
  // With the rate after -n, sox synthesises at 48 kHz and resamples: 22050 samples there are
  // 20257.7 at 44.1 kHz, a true 130.61 BPM, which is no whole BPM to snap to. Half a point over
  // the 15 s is 0.03 BPM: the comb cannot tell tempos closer than that apart.
  const TrackPtr resampled = SoxClickTrack(folder.path(), "-n -r 44100", 44100, 22050);
  ASSERT_TRUE(resampled);
  EXPECT_NEAR(resampled->bpm, 60.0 * 48000 / 22050, 0.04);
}

TEST(AnalysisTrack, SameSamplesSameResults) {
  Track a = MakeTrack(44100, 12.0, [noise = WhiteNoise(), clicks = Clicks(124, 0.1)](double t) {
    return clicks(t) + 0.1 * noise(t) + 0.1 * std::sin(kTwoPi * 220.0 * t);
  });
  Track b = a;
  a.tempoMarkers.push_back({4.0, 2.0});
  AnalyzeTrack(a);
  AnalyzeTrack(b);
  EXPECT_EQ(a.bpm, b.bpm);
  EXPECT_EQ(a.firstBeat, b.firstBeat);
  EXPECT_EQ(a.key, b.key);
  EXPECT_EQ(a.loudness, b.loudness);
  ASSERT_EQ(a.waveform.size(), b.waveform.size());
  for (size_t i = 0; i < a.waveform.size(); ++i)
    ASSERT_TRUE(a.waveform[i].low == b.waveform[i].low && a.waveform[i].mid == b.waveform[i].mid &&
                a.waveform[i].high == b.waveform[i].high) << "point " << i;
  EXPECT_EQ(a.tempoMarkers.size(), 1u);  // markers are not the analysis's business
}

// A held tone with speech over it (espeak-ng, mixed by sox) has onsets but no beat: it gets no
// tempo (0, shown blank and left out of tempo searches and sync) where it used to read about 124;
// a bare click track over a bass, whose onsets are few and soft beside the bass, keeps its tempo.
TEST(AnalysisTempo, ToneAndSpeechHaveNoTempo) {
  const ClickTrackFolder folder;
  struct Case {
    const char* name;
    const char* make;  // {0}: a scratch file, {1}: the track
    double bpm;
  };
  const Case cases[] = {
      {"voice over a tone",
       "espeak-ng -w {0} 'A person talks over a steady tone. There is no beat here, only words, pauses and a "
       "held note that does not change, for long enough to analyse, in sentences of different lengths.' && "
       "sox -m \"|sox -n -r 44100 -c 2 -p synth 25 sine 220 vol 0.2\" \"|sox {0} -r 44100 -c 2 -p pad 0 25\" "
       "-b 16 {1} trim 0 25",
       0.0},
      {"another voice over a quieter tone",
       "espeak-ng -w {0} 'Good evening and welcome. Tonight we talk about the weather, the roads, and the long "
       "drive north. Please stay with us after the break for the news.' && "
       "sox -m \"|sox -n -r 44100 -c 2 -p synth 25 sine 330 vol 0.1\" \"|sox {0} -r 44100 -c 2 -p pad 0 25\" "
       "-b 16 {1} trim 0 25",
       0.0},
      {"2 kHz bursts at 120 BPM over a 50 Hz bass",
       "sox -r 44100 -n -c 1 -b 16 {0} synth 441s sine 2000 fade h 220s 441s 220s vol 0.9 pad 0 21609s "
       "repeat 50 trim 0 25 && sox -m \"|sox -r 44100 -n -c 1 -b 16 -p synth 25 sine 50 vol 0.25\" {0} -c 2 {1}",
       120.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string scratch = folder.path() + "/scratch.wav", path = folder.path() + "/track.wav";
    const std::string command = fmt::format(fmt::runtime(std::string(c.make) + " 2>&1"), ShellQuote(scratch),
                                            ShellQuote(path));
    int status = -1;
    RunCommand(command, &status);
    ASSERT_EQ(status, 0) << command;
    std::atomic<float> progress{0.0f};
    std::wstring error;
    const TrackPtr track = DecodeFile(Utf8ToWide(path), &progress, &error, true);
    ASSERT_TRUE(track) << WideToUtf8(error);
    EXPECT_GT(track->frames, 20u * 44100u);
    EXPECT_NEAR(track->bpm, c.bpm, 0.05);
    if (c.bpm == 0.0) EXPECT_EQ(track->firstBeat, 0.0);
  }
}
