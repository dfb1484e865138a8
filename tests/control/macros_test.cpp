// The macro language on real decks (click tracks through LoadTrack) and a clock the test moves:
// parsing, waits and glides frame by frame, the error text, and the argument edges.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "base/settings.h"
#include "base/status_message.h"
#include "control/macros.h"
#include "control/pad_macros.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/sampler_bank.h"
#include "engine/side_slots.h"
#include "platform/clock.h"
#include "support/click_tracks.h"
#include "support/temp_home.h"

namespace {

double FakeNow = 0.0;
double FakeClock() { return FakeNow; }

constexpr double kRate = 44100.0;

DeckPlace Place(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return Engine.decks[deck];
}

class Macros : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    Settings = SettingsRecord{};
    SideSlots[0] = 0, SideSlots[1] = 1;
    ClearMacros();
    MacroClockHook = FakeClock;
    FakeNow = 1000.0;
    Status = StatusLine{};
    CrossfaderPosition = 0.5f;
    XfGlide = CrossfaderGlide{};
    MasterSection = MasterSectionValues{};
  }
  void TearDown() override {
    ClearMacros();
    ResetDecksForTest();
    MacroClockHook = MonotonicSeconds;  // the shell's, for the tests after these
  }
  // Decks A and B with a 120 BPM track.
  void LoadTracks() {
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 20.0;
    const std::string path = folder.Make(spec);
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(LoadAndWait(0, path));
    ASSERT_TRUE(LoadAndWait(1, path));
  }
  // Puts the script in a slot, starts it and runs one frame at the current time.
  void Run(const std::wstring& script, int slot = 0) {
    Settings.MacroScript[slot] = script;
    RunPadMacro(slot);
    TickMacros();
  }
  void At(double secondsFromStart) {
    FakeNow = 1000.0 + secondsFromStart;
    TickMacros();
  }
  TempHome home;
};

TEST(MacroParse, StepsWordsQuotesAndCase) {
  const auto steps = ParseMacro(L"deck left & fx 1 echo & say \"hi there\" & wait 2 beats");
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[1][2], L"echo");
  ASSERT_EQ(steps[2].size(), 2u);
  EXPECT_EQ(steps[2][1], L"hi there");

  const auto mixed = ParseMacro(L"  FX 1 Echo ;\r\n say \"Hello World\"x\"\" & & \n");
  ASSERT_EQ(mixed.size(), 2u);
  EXPECT_EQ(mixed[0], (MacroStep{L"fx", L"1", L"echo"}));
  // A quote ends the word before it; "" is an empty word.
  EXPECT_EQ(mixed[1], (MacroStep{L"say", L"Hello World", L"x", L""}));
  EXPECT_TRUE(ParseMacro(L" & ; \n").empty());
  // An unclosed quote runs to the end, separators and all.
  EXPECT_EQ(ParseMacro(L"say \"a & b"), (std::vector<MacroStep>{{L"say", L"a & b"}}));
}

TEST_F(Macros, WaitsThenGlidesTheVolumeAndAnUnknownCommandStopsWithItsName) {
  Settings.MacroScript[7] = L"deck a & volume 20 & wait 400 ms & volume 90 over 300 ms";
  RunPadMacro(7);
  TickMacros();
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.2f, 0.0001f);
  At(0.15);
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.2f, 0.0001f);
  EXPECT_TRUE(MacroSlotRunning(7));
  At(0.40);  // the wait is over: the glide starts here and the macro ends
  EXPECT_FALSE(MacroSlotRunning(7));
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.2f, 0.0001f);
  At(0.55);
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.55f, 0.001f);
  At(1.0);
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.9f, 0.001f);
  EXPECT_TRUE(ValueGlides.empty());

  Settings.MacroScript[6] = L"frobnicate the deck & volume 10";
  RunPadMacro(6);
  TickMacros();
  EXPECT_FALSE(MacroSlotRunning(6));
  EXPECT_GT(LiveDeckViews[0].fader, 0.5f);  // the second step never ran
  EXPECT_EQ(Status.text, L"Macro \u201cGLIDE OVER\u201d: don't know \u201cfrobnicate the deck\u201d");

  Run(L"eq top 50 & volume 10", 2);
  EXPECT_EQ(Status.text, L"Macro \u201cBASS SWAP\u201d: don't know \u201ceq top 50\u201d");
  EXPECT_GT(LiveDeckViews[0].fader, 0.5f);
}

TEST_F(Macros, EmptySlotsAndCopiesOfOneSlot) {
  Settings.MacroScript[2] = L"  & ";
  RunPadMacro(2);
  EXPECT_TRUE(RunningMacros.empty());
  EXPECT_EQ(Status.text, L"Macro 3 is empty \u2014 right-click it (MACROS) to write one");
  RunPadMacro(-5);  // clamped to slot 1: its default script runs
  ASSERT_EQ(RunningMacros.size(), 1u);
  EXPECT_EQ(RunningMacros[0].slot, 0);

  ClearMacros();
  Settings.MacroScript[4] = L"wait 1 s & volume 30";
  RunPadMacro(4);
  TickMacros();
  At(0.5);
  RunPadMacro(4);
  TickMacros();
  EXPECT_EQ(RunningMacros.size(), 2u);
  At(1.0);  // the first copy is done, the second still waits
  EXPECT_TRUE(MacroSlotRunning(4));
  EXPECT_NEAR(LiveDeckViews[0].fader, 0.3f, 1e-6f);
  At(1.5);
  EXPECT_FALSE(MacroSlotRunning(4));

  // A macro that only waits runs, its button lit, for as long as it waits.
  Settings.MacroScript[5] = L"wait 2000 ms";
  RunPadMacro(5);
  At(1.5);
  EXPECT_TRUE(MacroSlotRunning(5));
  At(3.49);
  EXPECT_TRUE(MacroSlotRunning(5));
  At(3.5);
  EXPECT_FALSE(MacroSlotRunning(5));
}

TEST_F(Macros, BassSwapRunsInOneFrameWithEachDecksOwnBeat) {
  LoadTracks();
  LiveDeckViews[1].tempoFader = TempoFaderFor(0.25, 0.25f), LiveDeckViews[1].pitchRange = 0.25f;  // 150 BPM
  LiveDeckViews[1].eqLow = 0.0f;
  Run(Settings.MacroScript[2]);  // the default BASS SWAP
  EXPECT_TRUE(RunningMacros.empty());
  ASSERT_EQ(ValueGlides.size(), 2u);
  EXPECT_NEAR(ValueGlides[0].duration, 0.5, 1e-6);
  EXPECT_NEAR(ValueGlides[1].duration, 0.4, 1e-6);
  At(0.2);
  EXPECT_NEAR(LiveDeckViews[0].eqLow, 0.3f, 1e-4f);
  EXPECT_NEAR(LiveDeckViews[1].eqLow, 0.25f, 1e-4f);
  At(0.5);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].eqLow, 0.0f);
  EXPECT_FLOAT_EQ(LiveDeckViews[1].eqLow, 0.5f);
  EXPECT_TRUE(ValueGlides.empty());
}

TEST_F(Macros, WaitLengths) {
  // Deck A without a track counts 120 BPM.
  EXPECT_DOUBLE_EQ(ParseMacroLength(0, 2, L"beats"), 1.0);
  EXPECT_DOUBLE_EQ(ParseMacroLength(0, 1, L"bar"), 2.0);
  EXPECT_DOUBLE_EQ(ParseMacroLength(0, 500, L"ms"), 0.5);
  EXPECT_DOUBLE_EQ(ParseMacroLength(0, 2, L"s"), 2.0);
  EXPECT_DOUBLE_EQ(ParseMacroLength(0, 3, L"minutes"), 3.0);  // any other unit counts seconds
  LoadTracks();
  LiveDeckViews[0].tempoFader = TempoFaderFor(0.08, 0.08f);
  EXPECT_NEAR(ParseMacroLength(0, 1, L"beat"), 0.5 / 1.08, 1e-9);
  LiveDeckViews[0].tempoFader = 0.5f;

  Run(L"wait 500 ms & volume 10 & wait & volume 20 & wait 2 & volume 30 & wait 1 bar & volume 40 & wait");
  At(0.49);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.8f);
  At(0.5);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.2f);  // "wait" alone waits no time
  At(1.49);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.2f);
  At(1.5);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.3f);
  At(3.5);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.4f);
  EXPECT_TRUE(RunningMacros.empty());  // a trailing wait has no effect
}

TEST_F(Macros, SettingAValueCancelsItsGlide) {
  Run(L"filter 70 over 16 beats");
  At(1.0);
  EXPECT_NEAR(LiveDeckViews[0].filter, 0.7f / 8, 1e-4f);
  Run(L"filter 0");
  At(20.0);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].filter, 0.0f);
  Run(L"filter -150 & gain 150 & master 35 over");  // "over" without a length after it sets at once
  EXPECT_FLOAT_EQ(LiveDeckViews[0].filter, -1.0f);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].gain, 1.0f);
  EXPECT_FLOAT_EQ(MasterSection.masterLevel, 0.35f);
  Run(L"xfader 150");
  EXPECT_FLOAT_EQ(CrossfaderPosition, 1.0f);
  Run(L"xfader 30 & glide");
  EXPECT_TRUE(XfGlide.active);
  EXPECT_FLOAT_EQ(XfGlide.target, 1.0f);
  Run(L"xfader centre & xfader 20 over 2 s & glide left");
  EXPECT_FLOAT_EQ(XfGlide.target, 0.0f);
  EXPECT_TRUE(ValueGlides.empty()) << "the GLIDE button's glide replaces a macro's";
}

TEST_F(Macros, TempoKeyAndSwitches) {
  LiveDeckViews[0].pitchRange = 0.06f;
  LiveDeckViews[0].tempoFader = TempoFaderFor(0.01, 0.06f);
  Run(L"tempo +2%");
  EXPECT_NEAR(TempoOffsetOf(LiveDeckViews[0]), 0.03, 1e-6);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].pitchRange, 0.06f);
  Run(L"tempo -4");
  EXPECT_NEAR(TempoOffsetOf(LiveDeckViews[0]), -0.01, 1e-6);
  Run(L"tempo 30");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].pitchRange, 0.5f);
  EXPECT_NEAR(TempoOffsetOf(LiveDeckViews[0]), 0.30, 1e-6);
  Run(L"tempo 0");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].tempoFader, 0.5f);

  Run(L"key 9");
  EXPECT_EQ(LiveDeckViews[0].keyShift, 6);
  Run(L"key -2.7");
  EXPECT_EQ(LiveDeckViews[0].keyShift, -2);  // truncated toward zero
  Run(L"pfl");
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue);
  Run(L"pfl on & pfl on & keylock on & keylock");
  EXPECT_TRUE(LiveDeckViews[0].headphoneCue);
  EXPECT_FALSE(LiveDeckViews[0].keyLock);
  Run(L"bank z");
  EXPECT_EQ(SamplerBank, 3);
  Run(L"bank");
  EXPECT_EQ(SamplerBank, 0);

  Run(L"FX 1 Echo & fx 2 wah & fx 3 dub & fx 9 on & fx 0 amount 70");
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[0], 0u);   // ECHO, not DUB ECHO
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[1], 7u);   // AUTO-WAH
  EXPECT_EQ(LiveDeckViews[0].fxSlotEffect[2], 17u);  // DUB ECHO
  EXPECT_TRUE(LiveDeckViews[0].fxSlotOn[2]);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fxSlotAmount[0], 0.7f);
  Run(L"video effect Beat  Flash & video transition wipe & stems all & stem kick off & stem hat");
  EXPECT_EQ(Settings.Effect, 1);
  EXPECT_EQ(Settings.Transition, 1);
  EXPECT_FALSE(LiveDeckViews[0].kickOn);
  EXPECT_FALSE(LiveDeckViews[0].hatOn);
  Run(L"video effect beat & volume 5");
  EXPECT_NE(Status.text.find(L"video effect beat"), std::wstring::npos);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.8f);
  Run(L"fx 3 toggle & fx 1 frob & fx 1 on");
  EXPECT_FALSE(LiveDeckViews[0].fxSlotOn[2]);
  EXPECT_FALSE(LiveDeckViews[0].fxSlotOn[0]);
  EXPECT_NE(Status.text.find(L"fx 1 frob"), std::wstring::npos);
}

TEST_F(Macros, DecksSidesTransportAndLoops) {
  LoadTracks();
  SideSlots[1] = 3;
  Run(L"deck right & volume 10 & deck other & volume 20 & deck c & volume 30 & deck other & volume 40 & right & "
      L"volume 50");
  EXPECT_FLOAT_EQ(LiveDeckViews[3].fader, 0.5f);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.2f);
  EXPECT_FLOAT_EQ(LiveDeckViews[2].fader, 0.3f);
  Run(L"deck e & volume 60");
  EXPECT_FALSE(Status.text.empty());
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.2f);
  Run(L"volume 60");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.6f) << "a fresh macro starts on the left deck";
  SideSlots[1] = 1;

  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].cuePoint = 2.0 * kRate;
    Engine.decks[0].position = 5.0 * kRate;
  }
  Run(L"play & play");
  EXPECT_TRUE(Place(0).playing);
  Run(L"stop");
  EXPECT_FALSE(Place(0).playing);
  EXPECT_NEAR(Place(0).position, 2.0 * kRate, 1.0);
  Run(L"pause & hotcue 0 & jump 4 & hotcue 1e30");
  EXPECT_FALSE(Place(0).playing);
  EXPECT_NEAR(Place(0).hotCueStart[0], 2.0 * kRate, 1.0);
  EXPECT_NEAR(Place(0).hotCueStart[7], 4.0 * kRate, 1.0);  // 4 beats of 0.5 s later

  LiveDeckViews[0].loopSizeIndex = 2;  // half a beat
  Run(L"loop 3");
  EXPECT_TRUE(Place(0).loopOn);
  EXPECT_NEAR(Place(0).loopOut - Place(0).loopIn, 0.25 * kRate, 1.0);
  Run(L"loop 8");
  EXPECT_NEAR(Place(0).loopOut - Place(0).loopIn, 4.0 * kRate, 1.0);
  Run(L"loop off");
  EXPECT_FALSE(Place(0).loopOn);
}

// Numbers that are not finite make the step unknown (nothing of it done); large ones clamp.
TEST_F(Macros, NumbersThatAreNotFiniteStopTheMacro) {
  for (const wchar_t* step : {L"volume inf", L"volume -nan", L"volume 1e999", L"wait 1e400 ms", L"filter 5 over inf",
                              L"key infinity"}) {
    Status = StatusLine{};
    Run(std::wstring(step) + L" & volume 10");
    EXPECT_FALSE(MacroSlotRunning(0)) << step;
    EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.8f) << step;
    EXPECT_NE(Status.text.find(step), std::wstring::npos) << step;
  }
  Run(L"volume 0x32 & key -1e30 & volume2 & gain 12.5%");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.5f);  // hex, as wcstod reads it
  EXPECT_EQ(LiveDeckViews[0].keyShift, -6);
  EXPECT_FLOAT_EQ(LiveDeckViews[0].gain, 0.5f);  // "volume2" is no keyword: the macro stopped there
  Run(L"volume abc & gain 12.5%");
  EXPECT_FLOAT_EQ(LiveDeckViews[0].fader, 0.0f);  // no number reads 0
  EXPECT_FLOAT_EQ(LiveDeckViews[0].gain, 0.125f);
}

}  // namespace
