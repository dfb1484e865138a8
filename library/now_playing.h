#pragma once
// What the audience hears: the per-frame now-playing step and the audible-deck rule. UI thread.

// Once per tick, also while the window is minimised. Until the now-playing work (stream title,
// play counts, History, cue edits) exists it only runs the library autosave that ends it.
void NowPlayingTick();
// True when deck 0..3 plays, its channel fader is at least 0.05 and its cross-fader side is open
// (through always; A while the position is at most 0.5, B while at least 0.5, after the reverse
// setting). Reads the frame's deck snapshots and deck views.
bool IsDeckAudible(int deck);
