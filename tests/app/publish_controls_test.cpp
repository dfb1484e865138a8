// DemoTick: deck views and the master section reach the engine, meters decay from the engine's
// peaks, the clock leader, dropout logging, the demo-track failure and the camera.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "app/publish_controls.h"
#include "base/beat_grid.h"
#include "base/settings.h"
#include "broadcast/camera.h"
#include "broadcast/visualiser.h"
#include "control/midi_clock.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/mixer_controls.h"
#include "engine/render.h"
#include "engine/stem_controls.h"
#include "engine/stems.h"
#include "karaoke/karaoke_rotation.h"
#include "settings/demo_tracks.h"
#include "settings/settings_screen.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"
#include "ui/status_line.h"

namespace {

constexpr uint64_t kT0 = 1000000;  // the tick clock, ms

TrackPtr MakeTrack(double bpm) {
  auto track = std::make_shared<Track>();
  track->frames = 60 * 44100;
  track->bpm = bpm;
  return track;
}

class Publish : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ResetDecksForTest();
    for (DeckState& deck : Engine.decks) deck.peak.store(0.0f);
    Engine.clipped.store(false);
    Engine.dropouts.store(0);
    Engine.renderLockMisses.store(0);
    Engine.serverUnderruns.store(0);
    Meters = MixMeters{};
    CrossfaderPosition = 0.5f;
    MasterSection = MasterSectionValues{};
    MasterFx = MasterFxSelection{};
    Stage = KaraokeStage{};
    MidiClock.reset();
    DemoTrackState.store(kDemoIdle);
    SettingsOpen = VisualiserWindowOpen = false;
    StopCamera();
    Status = StatusLine{};
  }
  // Puts a track on the engine deck and takes the snapshot the tick reads.
  static void PutTrack(int deck, const TrackPtr& track, bool playing, double position = 0.0) {
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      Engine.decks[deck].track = track;
      Engine.decks[deck].playing = playing;
      Engine.decks[deck].position = position;
    }
    SnapshotDecks();
  }
  TempHome home_;
};

TEST_F(Publish, DeckViewValuesReachTheEngineDeck) {
  DeckView& view = LiveDeckViews[2];
  view.tempoFader = 0.25f;  // with the 8 % range: +4 %
  view.gain = 0.3f, view.eqHigh = 0.6f, view.eqMid = 0.4f, view.eqLow = 0.2f, view.filter = -0.5f, view.fader = 0.7f;
  view.keyShift = -3;
  view.keyLock = view.headphoneCue = true;
  view.colorFx = 4;
  view.bendHeld = 0.01f;
  view.jogBend = 0.0015f;
  view.fxParam[5] = 0.125f;
  LiveDeckViews[1].xfAssignSet = true;
  LiveDeckViews[1].xfAssign = 1;
  DemoTickAt(kT0);
  const DeckState& deck = Engine.decks[2];
  EXPECT_NEAR(deck.tempo, 0.04f, 1e-6);
  EXPECT_NEAR(deck.bend, 0.01f + 0.001275f, 1e-6) << "the nudge fades before it is added";
  EXPECT_FLOAT_EQ(deck.keyShift, -3.0f);
  EXPECT_TRUE(deck.keyLock && deck.cue);
  EXPECT_EQ(deck.colorFx, 4);
  const float channel[6] = {deck.gain, deck.eqHigh, deck.eqMid, deck.eqLow, deck.filter, deck.fader};
  const float expected[6] = {0.3f, 0.6f, 0.4f, 0.2f, -0.5f, 0.7f};
  for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(channel[i], expected[i]) << "channel value " << i;
  EXPECT_FLOAT_EQ(deck.fxParam[5].load(), 0.125f);
  // A and C on side A, B and D on side B, unless a deck chose its own.
  EXPECT_EQ(Engine.decks[0].xfAssign, 0);
  EXPECT_EQ(Engine.decks[1].xfAssign, 1);
  EXPECT_EQ(Engine.decks[3].xfAssign, 2);
  // 0.001275 -> 0.00108 -> 0.00092, which is below the floor: exactly 0.
  DemoTickAt(kT0 + 15);
  DemoTickAt(kT0 + 30);
  EXPECT_EQ(view.jogBend, 0.0f);
  EXPECT_FLOAT_EQ(deck.bend, 0.01f);
}

TEST_F(Publish, StemModeActsThroughTheVoiceBandOrThePartGains) {
  struct Case {
    bool ready;
    uint32_t preset;
    std::array<bool, 4> switches;
    int32_t vocalMode;
    std::array<float, 4> gains;
  };
  const Case cases[] = {
      {false, 1, {true, false, true, false}, 1, {1, 0, 1, 0}},  // no stems: the voice band, switches
      {true, 1, {false, true, true, true}, 0, {1, 0, 0, 0}},   // stems: the preset picks the parts
      {true, 2, {true, false, false, false}, 0, {0, 1, 1, 1}},
      {true, 0, {false, true, false, true}, 0, {0, 1, 0, 1}},
  };
  DeckView& view = LiveDeckViews[1];
  view.kickOn = false;
  view.stemFxTarget = 2;
  for (const Case& c : cases) {
    view.stemsReady = c.ready;
    view.stemPreset = c.preset;
    view.stemOn = c.switches;
    DemoTickAt(kT0);
    const DeckState& deck = Engine.decks[1];
    SCOPED_TRACE(testing::Message() << "ready " << c.ready << ", preset " << c.preset);
    EXPECT_EQ(deck.vocalMode, c.vocalMode);
    for (int p = 0; p < 4; ++p) EXPECT_FLOAT_EQ(deck.stemGain[p].load(), c.gains[p]) << "part " << p;
    EXPECT_FLOAT_EQ(deck.kickTarget, c.ready ? 0.0f : 1.0f) << "KICK acts only on stems";
    EXPECT_EQ(deck.stemFxTarget, c.ready ? 2 : -1);
  }
  // The karaoke stage deck keeps a guide vocal under the instrumental preset.
  Settings.KaraokeVocals = 1;
  Settings.Guide = 20;
  Stage.stageDeck = 1;
  view.stemPreset = 2;
  DemoTickAt(kT0);
  EXPECT_FLOAT_EQ(Engine.decks[1].stemGain[0].load(), 0.2f);
  Stage.stageDeck = 0;
  DemoTickAt(kT0);
  EXPECT_FLOAT_EQ(Engine.decks[1].stemGain[0].load(), 0.0f);
}

TEST_F(Publish, VoxAndInstWithReadyStemsAreHeard) {
  // A tone whose "vocals" are all of it: VOX keeps it, INST removes it, none plays it.
  auto track = std::make_shared<Track>();
  track->sampleRate = 48000;
  track->frames = 48000;
  for (uint64_t i = 0; i < track->frames; ++i)
    track->samples.insert(track->samples.end(), 2, 0.5f * static_cast<float>(std::sin(i * 0.05)));
  auto stems = std::make_shared<StemData>();
  stems->track = track.get();
  stems->frames = track->frames;
  for (float v : track->samples) stems->vocals.push_back(static_cast<int16_t>(std::lround(v * 32767.0f)));
  stems->drums.assign(stems->vocals.size(), 0);
  stems->bass = stems->drums;
  PrepareRenderBuffers(Engine, 480, 48000);
  const auto level = [&](uint32_t preset) {
    {
      std::lock_guard<RealtimeMutex> lock(Engine.lock);
      DeckState& deck = Engine.decks[0];
      deck.track = track;
      deck.stems = stems;
      deck.position = 0.0;
      deck.playing = true;
    }
    DeckView& view = LiveDeckViews[0];
    view.stemsReady = true;
    view.stemPreset = preset;
    view.fader = 1.0f;
    DemoTickAt(kT0);
    std::vector<float> out(960);
    double peak = 0.0;
    for (int block = 0; block < 20; ++block) {
      RenderMix(Engine, out.data(), 480, 48000);
      if (block >= 10)
        for (float x : out) peak = std::max(peak, static_cast<double>(std::fabs(x)));
    }
    return peak;
  };
  EXPECT_NEAR(level(kStemPresetNone), 0.5, 0.02);
  EXPECT_NEAR(level(kStemPresetVocals), 0.5, 0.02);
  EXPECT_LT(level(kStemPresetInstrumental), 1e-3);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[0].stems.reset();
  Engine.decks[0].track.reset();
}

TEST_F(Publish, EffectSlotsSetKnobsAndMaskButStopEffectsNeverSetABit) {
  DeckView& view = LiveDeckViews[3];
  view.fxSlotEffect = {kFxBrake, kFxEcho, kFxBackspin};
  view.fxSlotOn = {true, true, true};
  view.fxSlotAmount = {0.3f, 0.6f, 0.9f};
  DemoTickAt(kT0);
  const DeckState& deck = Engine.decks[3];
  EXPECT_EQ(deck.fxMask, EffectBit(kFxEcho));
  EXPECT_FLOAT_EQ(deck.fxAmount[kFxBrake].load(), 0.3f);
  EXPECT_FLOAT_EQ(deck.fxAmount[kFxBackspin].load(), 0.9f);
  view.fxSlotEffect = {kFxReverb, kFxGate, 40};  // 40 names no effect: skipped
  view.fxSlotOn = {false, true, true};
  DemoTickAt(kT0);
  EXPECT_EQ(deck.fxMask, EffectBit(kFxGate));
  EXPECT_FLOAT_EQ(deck.fxAmount[kFxReverb].load(), 0.3f) << "the knob follows even while off";
}

TEST_F(Publish, TheMasterSectionReachesTheEngine) {
  CrossfaderPosition = 0.3f;
  Settings.XfReverse = true;
  Settings.XfCurve = 2;
  MasterSection = MasterSectionValues{0.5f, 0.25f, 0.6f, 0.7f, 0.1f};
  Settings.MicGain = 0.45f;
  Settings.MicFx = 2;
  Settings.Limiter = false;
  MasterFx = MasterFxSelection{kFxPhaser, true, 0.8f, 4.0f};
  DemoTickAt(kT0);
  EXPECT_FLOAT_EQ(Engine.xfPosition, 0.7f);
  EXPECT_EQ(Engine.xfCurve, 2);
  const float levels[5] = {Engine.masterVolume, Engine.headphoneMix, Engine.headphoneVolume, Engine.samplerVolume,
                           Engine.boothVolume};
  const float expected[5] = {0.5f, 0.25f, 0.6f, 0.7f, 0.1f};
  for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(levels[i], expected[i]) << "level " << i;
  EXPECT_FLOAT_EQ(Engine.micGain, 0.45f);
  EXPECT_EQ(Engine.micEffectMask, EffectBit(kFxReverb));
  EXPECT_FALSE(Engine.limiterOn);
  EXPECT_EQ(Engine.masterFxMask, EffectBit(kFxPhaser));
  EXPECT_FLOAT_EQ(Engine.masterFxParam, 4.0f);
  MasterFx.effect = kFxBackspin;
  DemoTickAt(kT0);
  EXPECT_EQ(Engine.masterFxMask, 0u);

  // The music does not duck under the singer while a karaoke song runs on the stage deck.
  Settings.MicDuck = true;
  Stage.stageDeck = 0;
  Stage.singing = true;
  PutTrack(0, MakeTrack(120), true);
  DemoTickAt(kT0);
  EXPECT_FALSE(Engine.micDuck);
  Stage.ended = true;
  DemoTickAt(kT0);
  EXPECT_TRUE(Engine.micDuck);
}

TEST_F(Publish, MetersTakeThePeaksAndDecayAndTheClipLightHolds) {
  Engine.decks[0].peak.store(0.7f);
  Engine.masterPeakL.store(0.5f);
  Engine.inputPeak.store(0.4f);
  Engine.limiterReductionDb.store(6.0f);
  Engine.spectrum[3].store(0.9f);
  Engine.loadPeak.store(0.3f);
  Engine.clipped.store(true);
  DemoTickAt(kT0);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].meterLevel, 0.7f);
  EXPECT_EQ(Engine.decks[0].peak.load() + Engine.masterPeakL.load() + Engine.spectrum[3].load(), 0.0f)
      << "read and reset";
  EXPECT_FALSE(Engine.clipped.load());
  EXPECT_EQ(Meters.clipUntilMs, kT0 + 700);

  Engine.decks[0].peak.store(0.2f);  // below the decayed value: the decay wins
  Engine.masterPeakR.store(0.9f);    // above it: the peak wins
  Engine.loadPeak.store(0.1f);
  DemoTickAt(kT0 + 500);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].meterLevel, 0.7f * 0.86f);
  EXPECT_FLOAT_EQ(Meters.masterLeft, 0.5f * 0.86f);
  EXPECT_FLOAT_EQ(Meters.masterRight, 0.9f);
  EXPECT_FLOAT_EQ(Meters.microphone, 0.4f * 0.85f);
  EXPECT_FLOAT_EQ(Meters.limiterDb, 6.0f * 0.9f);
  EXPECT_FLOAT_EQ(Meters.spectrum[3], 0.9f * 0.82f);
  EXPECT_FLOAT_EQ(Meters.load, 0.3f * 0.97f);
  EXPECT_FLOAT_EQ(Meters.loadHighest, 0.3f);
  EXPECT_EQ(Meters.clipUntilMs, kT0 + 700) << "no new clip";
  Engine.clipped.store(true);
  DemoTickAt(kT0 + 600);
  EXPECT_EQ(Meters.clipUntilMs, kT0 + 1300);
  // With no more peaks every level comes to rest at zero within seconds of ticks.
  for (int tick = 1; tick <= 200; ++tick) DemoTickAt(kT0 + 600 + 15 * tick);
  EXPECT_EQ(LiveDeckViews[0].meterLevel, 0.0f);
  EXPECT_EQ(Meters.masterLeft + Meters.masterRight + Meters.microphone + Meters.limiterDb + Meters.spectrum[3], 0.0f);
}

TEST_F(Publish, DropoutsAreLoggedAtMostEveryTenSeconds) {
  Engine.dropouts.store(1);
  DemoTickAt(kT0);
  EXPECT_EQ(Meters.dropoutsLogged, 1u);
  EXPECT_EQ(Meters.dropoutLogMs, kT0);
  Engine.dropouts.store(2);  // 3 s later: counted, not logged
  DemoTickAt(kT0 + 3000);
  EXPECT_EQ(Meters.dropoutRiseMs, kT0 + 3000);
  DemoTickAt(kT0 + 10000);
  EXPECT_EQ(Meters.dropoutsLogged, 1u) << "not more than 10 s since the last line";
  DemoTickAt(kT0 + 10001);
  EXPECT_EQ(Meters.dropoutsLogged, 2u);
  DemoTickAt(kT0 + 30000);
  EXPECT_EQ(Meters.dropoutLogMs, kT0 + 10001) << "nothing new, no line";
}

TEST_F(Publish, EveryKindOfDropoutShowsOnTheMeterButOnlyLateWakeUpsMakeTheDropoutLine) {
  Engine.renderLockMisses.store(2);
  Engine.serverUnderruns.store(1);
  DemoTickAt(kT0);
  EXPECT_EQ(Meters.dropouts, 3u);
  EXPECT_EQ(Meters.dropoutRiseMs, kT0);
  EXPECT_EQ(Meters.dropoutsLogged, 0u) << "no late wake-up to tell of";
  Engine.dropouts.store(1);
  DemoTickAt(kT0 + 100);
  EXPECT_EQ(Meters.dropouts, 4u);
  EXPECT_EQ(Meters.dropoutsLogged, 1u);
}

TEST_F(Publish, TheLoudestAudibleDeckLeadsAndFeedsTheMidiClock) {
  const TrackPtr a = MakeTrack(120);
  PutTrack(0, a, true, 44100.0 * 2.25);
  PutTrack(1, MakeTrack(128), true);
  Engine.decks[0].peak.store(0.5f);
  Engine.decks[1].peak.store(0.8f);
  DemoTickAt(kT0);
  EXPECT_EQ(Engine.leaderDeck, 1);
  CrossfaderPosition = 0.0f;  // side B closed: deck A leads although B is louder
  MidiClock = std::make_unique<MidiClockSender>();
  DemoTickAt(kT0 + 15);
  EXPECT_EQ(Engine.leaderDeck, 0);
  {
    std::lock_guard<std::mutex> lock(MidiClock->lock);
    EXPECT_NEAR(MidiClock->tempo, 120.0, 1e-9);
    EXPECT_NEAR(MidiClock->beat, BeatAtTime(*a, 2.25), 1e-9);
  }
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].jogTouched = true;  // a scratched leader sends no clock
  }
  SnapshotDecks();
  DemoTickAt(kT0 + 30);
  std::lock_guard<std::mutex> lock(MidiClock->lock);
  EXPECT_EQ(MidiClock->tempo + MidiClock->beat, 0.0);
}

TEST_F(Publish, AFailedDemoJobIsReportedAndTheCameraFollowsWhatShowsIt) {
  DemoTrackError = L"The disk is full.";
  DemoTrackState.store(kDemoFailed);
  DemoTickAt(kT0);
  EXPECT_EQ(DemoTrackState.load(), kDemoIdle);
  EXPECT_EQ(Status.text, L"Couldn't make the demo tracks: The disk is full.");

  Settings.CameraOn = true;
  DemoTickAt(kT0);
  EXPECT_FALSE(CameraRunning()) << "nothing shows it";
  SettingsOpen = true;
  SettingsPage = kSettingsPageKaraoke;
  DemoTickAt(kT0);
  EXPECT_TRUE(CameraRunning());
  SettingsPage = kSettingsPageBroadcast;
  DemoTickAt(kT0);
  EXPECT_FALSE(CameraRunning());
  VisualiserWindowOpen = true;
  DemoTickAt(kT0);
  EXPECT_TRUE(CameraRunning());
}

}  // namespace
