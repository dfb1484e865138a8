#pragma once
// The stem and karaoke self-tests. This build has none of them: each ends its run at
// once with one failed check, so a run that asks for one ends instead of waiting. UI thread.

void StemTestTick(double nowSeconds);
void KaraokeTestTick(double nowSeconds);
