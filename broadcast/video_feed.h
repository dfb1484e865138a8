#pragma once
// The video output's view of the mix: once per UI frame the two program decks (the decks shown
// on the left and right side) become a VideoFeed that the compositor draws from, and the two
// VideoDecks follow it, each decoding its side's video file at the deck's position. UI thread.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "broadcast/video_player.h"

// One program deck as the video mix sees it.
struct VideoFeedEntry {
  std::wstring path;      // the loaded track; empty = nothing loaded
  std::wstring title;
  std::wstring artist;
  double position = 0.0;  // seconds into the track
  float level = 0.0f;     // the deck's share of the picture
  uint32_t colour = 0xFFFFFF;  // 0xRRGGBB
  std::vector<uint32_t> art;   // B, G, R, A bytes per pixel; empty when no art is at hand
  uint32_t artWidth = 0;
  uint32_t artHeight = 0;
};

// Transitions and effects of [Video] Transition and Effect.
enum VideoTransition : int32_t { kTransitionFade, kTransitionWipe, kTransitionSlide, kTransitionZoom,
                                 kTransitionBlur, kTransitionCut };
enum VideoEffect : int32_t { kEffectNone, kEffectBeatFlash, kEffectStrobe, kEffectMono, kEffectInvert,
                             kEffectMirror, kEffectBeatZoom, kEffectRgbSplit, kEffectPixelate };

// The names the settings show, in index order.
inline constexpr const wchar_t* kVideoTransitionNames[] = {L"FADE", L"WIPE", L"SLIDE", L"ZOOM", L"BLUR", L"CUT"};
inline constexpr const wchar_t* kVideoEffectNames[] = {L"NONE",   L"BEAT FLASH", L"STROBE",    L"MONO",    L"INVERT",
                                                       L"MIRROR", L"BEAT ZOOM",  L"RGB SPLIT", L"PIXELATE"};

struct VideoFeed {
  std::array<VideoFeedEntry, 2> entries;  // 0 left program deck, 1 right
  int32_t transition = 0;
  int32_t effect = 0;
  bool overlay = true;
  double beat = 0.0;  // beat position of the on-air deck
};

// One side's decoder and what the compositor uploads from it.
struct VideoDeck {
  VideoFilePlayer player;
  std::wstring path;  // the path the side follows
  bool hasVideo = false;
  std::vector<uint32_t> frame;  // the newest video frame
  uint32_t frameWidth = 0;
  uint32_t frameHeight = 0;
  uint64_t frameSerial = 0;     // the player's serial of the frame last taken
  double frameTime = 0.0;       // the frame's own time in the track (seconds)
  uint64_t frameVersion = 0;    // raised when the frame or the followed path changes
  std::wstring artPath;         // the path whose art is held
  std::vector<uint32_t> art;
  uint32_t artWidth = 0;
  uint32_t artHeight = 0;
  uint64_t artVersion = 0;      // raised when the art changes
};

// The one published feed (written only by PushVideoFeed) and the two sides.
extern VideoFeed PublishedVideoFeed;
extern VideoDeck VideoDecks[2];

// The probe cache empties itself when it holds more paths than this.
inline constexpr size_t kVideoProbeCacheLimit = 500;
// A paused deck counts this much of its fader's share.
inline constexpr float kPausedVideoLevel = 0.3f;

// Whether a screen above shows the feed's preview (the settings page's), which keeps the feed
// running by itself. The shell sets it; null is never.
extern bool (*VideoPreviewShownHook)();

// Whether the file is a video file (a known extension holding a moving picture); cached by path.
bool HasVideo(const std::wstring& path);
// The per-frame step, from the main frame after the deck snapshots: builds the feed from the
// program decks when anything shows or encodes video, pushes it, then lets MP4 recording and live
// video capture their frames.
void UpdateVideoFeed();
// Brings both VideoDecks in line with the feed (players opened, stopped and sought, new frames
// taken, art moved in) and publishes it; the entries' art is moved out.
void PushVideoFeed(VideoFeed& feed);
// Stops both sides' players and forgets what they followed. At exit and in tests.
void StopVideoDecks();
