#pragma once
// The feature self-test. This build lacks it: it ends its run at
// once with one failed check, so a run that asks for one ends instead of waiting. UI thread.

void FeatureTestTick(double nowSeconds);
