#pragma once
// The two halves of the performance suite: playing (effects, sampler, sandbox, macros) and
// pictures (video window, MP4 recording, live video). UI thread.
#include <vector>

#include "selftest/feature_run.h"

namespace FeatureTest {

// Deck A plays: a deck with a track that stands still starts at 40 s; a playing one is left.
void DeckAPlays();
// Appends to the suite in order.
void AddPlayingSteps(std::vector<TimedStep>& steps);
void AddPictureSteps(std::vector<TimedStep>& steps);

}  // namespace FeatureTest
