#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>

#include <fmt/format.h>

#include "engine/analysis.h"
#include "engine/audio_file.h"
#include "platform/text.h"
#include "support/click_tracks.h"
#include "support/tempo_corpus.h"

namespace {

// What the analysis reaches on this subset (24 tracks); a change may raise these, never lower them.
constexpr int kTempoCorpusExact = 24;
constexpr int kTempoCorpusOnBeat = 23;
constexpr int kKeyCorpusExact = 40;  // of 48

// Two tracks of every style of the benchmark's corpus (its slowest and one from the middle of its
// tempo range), shortened to 30 s so the test stays quick; the first of each style goes through a
// real encoded file (WAV, MP3 or FLAC by ffmpeg) and DecodeFile.
TEST(TempoCorpus, TempoAndFirstBeatOnEveryStyle) {
  const ClickTrackFolder folder;
  int tracks = 0, exact = 0, within4 = 0, on_beat = 0;
  std::string misses;
  int index = 0;
  const std::vector<CorpusTrack> corpus = TempoCorpus(7);
  for (size_t i = 0; i < corpus.size(); ++i) {
    if (i % 7 != 0 && i % 7 != 3) continue;
    CorpusTrack spec = corpus[i];
    spec.seconds = 30.0;
    double bpm = 0.0, first_beat = 0.0;
    if (index++ % 2 == 0) {
      const std::string path = WriteCorpusTrack(spec, folder.path());
      ASSERT_FALSE(path.empty()) << spec.name;
      std::atomic<float> progress{0.0f};
      std::wstring error;
      const TrackPtr track = DecodeFile(Utf8ToWide(path), &progress, &error, true);
      ASSERT_TRUE(track) << path << ": " << WideToUtf8(error);
      bpm = track->bpm, first_beat = track->firstBeat;
    } else {
      Track track = SynthesizeCorpusTrack(spec);
      AnalyzeTrack(track);
      bpm = track.bpm, first_beat = track.firstBeat;
    }
    ++tracks;
    exact += TempoExact(bpm, spec.bpm);
    within4 += TempoWithin4Percent(bpm, spec.bpm);
    const double beat_error = FirstBeatError(first_beat, spec.firstBeat, spec.bpm);
    on_beat += beat_error <= 0.020;
    if (!TempoExact(bpm, spec.bpm) || beat_error > 0.020)
      misses += fmt::format("  {}.{}: {:.2f} BPM from {:.3f} s, found {:.2f} from {:.3f} s\n", spec.name, spec.extension,
                            spec.bpm, spec.firstBeat, bpm, first_beat);
  }
  ASSERT_EQ(tracks, 24);
  EXPECT_GE(exact, kTempoCorpusExact) << misses;
  EXPECT_GE(within4, kTempoCorpusExact) << misses;
  EXPECT_GE(on_beat, kTempoCorpusOnBeat) << misses;
}

// Dance grooves whose bass plays sixteenths around the kicks (on the off-beat, either side of it,
// with the kick) and whose open hats (noise or metallic, some reaching down to 1 kHz, from -18 to
// 0 dB) sit on the off-beats, a clap on two and four from -18 to 0 dB: the grid lands on the
// kicks, which start on exact samples, within a millisecond; never on the off-beat or a sixteenth.
TEST(TempoCorpus, GroovesPutTheBeatOnTheKickToTheMillisecond) {
  int grooves = 0, within_1ms = 0, off_beat = 0, sixteenth = 0;
  std::string misses;
  for (const GrooveSpec& spec : PhaseGrooves()) {
    Track track = SynthesizeGroove(spec);
    AnalyzeTrack(track);
    ++grooves;
    const double error = FirstBeatError(track.firstBeat, spec.firstBeat, spec.bpm);
    const double beats = error * spec.bpm / 60.0;
    within_1ms += TempoOctaveOk(track.bpm, spec.bpm) && error <= 0.001;
    off_beat += std::fabs(beats - 0.5) <= 0.1;
    sixteenth += std::fabs(beats - 0.25) <= 0.1;
    if (!TempoOctaveOk(track.bpm, spec.bpm) || error > 0.001)
      misses += fmt::format("  {}: {:.2f} BPM from {:.5f} s, found {:.2f} from {:.5f} s ({:.2f} of a beat off)\n",
                            spec.name, spec.bpm, spec.firstBeat, track.bpm, track.firstBeat, beats);
  }
  ASSERT_EQ(grooves, 32);
  // What the phase step reaches on these; a change may raise it, never lower it.
  EXPECT_GE(within_1ms, 32) << misses;
  EXPECT_EQ(off_beat, 0) << misses;
  EXPECT_EQ(sixteenth, 0) << misses;
}

// Chord progressions in every major and minor key over bass and drums, some minor ones built of
// their relative major's notes; 15 s each.
TEST(KeyCorpus, KeyOfChordProgressions) {
  int exact = 0;
  std::string misses;
  for (CorpusTrack spec : KeyCorpus(48)) {
    spec.seconds = 15.0;
    const int32_t key = DetectKey(SynthesizeCorpusTrack(spec));
    if (key == spec.key) ++exact;
    else misses += fmt::format(" {} ({} read as {})", spec.name, spec.key, key);
  }
  EXPECT_GE(exact, kKeyCorpusExact) << misses;
}

}  // namespace
