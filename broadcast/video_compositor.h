#pragma once
// The video mix: each program deck's video frame, or a card with its cover art, title and artist,
// mixed by the cross-fader share through the chosen transition, with one beat-driven effect and a
// title band announcing each new track. It draws from the published VideoFeed and the two
// VideoDecks (broadcast/video_feed.h) into the video window, the settings preview, the deck
// pictures and the off-screen frames that MP4 recording and live video encode. UI thread.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw_surface.h"

// The title band shows this long after a track is announced (seconds), fading in and out.
inline constexpr double kTitleBandSeconds = 7.0;
inline constexpr double kTitleBandFadeInSeconds = 0.6;
inline constexpr double kTitleBandFadeOutSeconds = 0.8;
// A deck is announced once its share of the picture is above this.
inline constexpr float kAnnounceLevel = 0.3f;

// One set of drawing resources for one consumer (the window, the preview, the deck pictures, MP4
// recording, live video): each keeps its own surfaces and caches, so several can draw the same
// frames. Built empty; everything is made on first use and kept while the sizes stay.
struct VideoRenderer {
  std::unique_ptr<DrawSurface> composition;  // the two deck layers, before the effect
  std::unique_ptr<DrawSurface> output;       // RenderVideoFrame's and the preview's target
  std::unique_ptr<DrawSurface> layer;        // a see-through deck layer before it is blended in
  std::array<std::unique_ptr<DrawSurface>, 2> fitted;  // per side, the frame scaled to the output
  std::array<uint64_t, 2> fittedVersion{};
  std::array<bool, 2> fittedMade{};
  std::vector<uint32_t> small;               // the blur's and the pixelate's smaller copy
  std::vector<uint32_t> smallScratch;
  std::vector<int> columnOf;                 // pixelate: output column -> cell column
  std::array<std::vector<uint32_t>, 2> blurredArt;  // per side, the art behind its card
  std::array<int, 2> blurredArtWidth{}, blurredArtHeight{};
  std::array<uint64_t, 2> blurredArtVersion{};
  std::array<bool, 2> blurredArtMade{};
  std::map<int, std::unique_ptr<TextFormat>> textFormats;        // by half-point size and boldness
  std::map<uint32_t, std::unique_ptr<GradientBrush>> backdrops;  // by deck colour
};

// Frees everything the renderer holds; it makes its resources again on next use.
void ReleaseVideoRenderer(VideoRenderer* renderer);

// Draws one frame of the mix onto `target` (its whole pixel area; width x height pixels, now in
// seconds of the clock the title band is timed on). Nothing when the composition surface cannot
// be made; the target keeps what it held.
void ComposeVideoFrame(VideoRenderer* renderer, DrawSurface* target, int width, int height, double now);

// Composes one frame off-screen and reads it into *out as width x height words (bytes B, G, R, A,
// premultiplied, top row first, rows packed). False, with *out untouched, when a size is outside
// 1..16384 or the renderer's surfaces cannot be made; the caller keeps its previous frame.
bool RenderVideoFrame(VideoRenderer* renderer, int width, int height, std::vector<uint32_t>* out);
// The same at a given title-band clock (seconds); RenderVideoFrame uses the monotonic clock.
bool RenderVideoFrameAt(VideoRenderer* renderer, int width, int height, double now, std::vector<uint32_t>* out);

// Forgets the last announced track, so the next deck over the announce level is announced again.
void ResetVideoAnnouncement();
