#pragma once
// What the deck commands ask of the library browser. UI thread.

// Rebuilds the browser's visible order from its folder, list or crate (search filter, then sort).
void RebuildView();
