#pragma once
// The projector visualiser window. UI thread.

// True while the visualiser window exists.
extern bool VisualiserWindowOpen;
