#pragma once
// The video output's view of the mix. UI thread.

// At the end of every drawn frame: pushes the now-playing data to the video window and live
// video. Nothing until the video output exists.
void UpdateVideoFeed();
