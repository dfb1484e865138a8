#pragma once
// The karaoke self-test: three test singers, the first one's song sung on deck A through SING
// with key shift and stems, the lyric timing controls, the song's end and the rotation, CD+G
// graphics, the online lyrics service, an optional karaoke video and the karaoke screen window.
// Every check is a "PASS  ", "FAIL  " or (online lookup only) "WARN  " line; numbered screenshots
// and results.txt go to the output folder. UI thread.
#include <string>

inline constexpr double kKaraokeStuckSeconds = 300.0;  // a run still going is stuck
inline constexpr int kKaraokeSteps = 9;
// The online lookup's fixed test song.
inline constexpr wchar_t kLookupArtist[] = L"Veldmix Test Band";
inline constexpr wchar_t kLookupTitle[] = L"Self-Test Song";
inline constexpr double kLookupSeconds = 198.0;
// The picture the test writes itself for the GOLD screenshot's background.
inline constexpr wchar_t kGoldPictureName[] = L"gold-background.png";

// One tick of the karaoke test at `nowSeconds`: runs the current step, which either waits (and
// runs again next tick) or finishes and moves on; ends the run at step 8, when the song has no
// lyric lines, or after kKaraokeStuckSeconds.
void KaraokeTestTick(double nowSeconds);
