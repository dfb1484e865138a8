#include "engine/mixer_controls.h"

#include <gtest/gtest.h>

#include "base/settings.h"
#include "engine/control_input.h"
#include "engine/effects.h"
#include "engine/side_slots.h"

// The mixer's controls move with no widget drawn, as controllers, macros and the remote drive them.
TEST(MixerControls, MasterEffectAndSidesMoveWithoutTheirWidgets) {
  MasterFx = MasterFxSelection{.effect = kFxDubEcho, .on = false, .amount = 0.5f, .beats = 0.75f};
  StepMasterFx(+1);
  EXPECT_EQ(MasterFx.effect, kFxEcho);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.5f);
  StepMasterFxBeats(false);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.75f);
  ControllerShiftHeld = true;  // a controller's SHIFT steps back like the keyboard's
  StepMasterFxBeats(AnyShiftHeld());
  ControllerShiftHeld = false;
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.5f);
  MasterFx.effect = kFxReverb;  // no beat length: the beats stay
  StepMasterFxBeats(false);
  EXPECT_FLOAT_EQ(MasterFx.beats, 0.5f);
  ToggleMasterFx();
  EXPECT_TRUE(MasterFx.on);
  MasterFx = MasterFxSelection{};

  EXPECT_FLOAT_EQ(StepBeatLength(0.125f, true), 16.0f);
  EXPECT_FLOAT_EQ(StepBeatLength(16.0f, false), 0.125f);

  const bool fourDecks = Settings.FourDecks;
  Settings.FourDecks = false;
  SwapSideDeck(kRightSide);
  EXPECT_EQ(SideSlots[kRightSide], 1) << "two decks: nothing to swap";
  Settings.FourDecks = true;
  SwapSideDeck(kRightSide);
  EXPECT_EQ(SideSlots[kRightSide], 3);
  SwapSideDeck(7);  // not a side
  ShowDecksAB();
  EXPECT_EQ(SideSlots[kLeftSide], 0);
  EXPECT_EQ(SideSlots[kRightSide], 1);
  Settings.FourDecks = fourDecks;
}

TEST(MixerControls, NudgeStopsAGlideAndStaysInTravel) {
  CrossfaderPosition = 0.98f;
  StartCrossfaderGlide(0.0f, 0.0);
  EXPECT_TRUE(GlidingTowards(0.0f));
  NudgeCrossfader(0.05f);
  EXPECT_FALSE(XfGlide.active);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 1.0f);
  CrossfaderPosition = 0.5f;
}
