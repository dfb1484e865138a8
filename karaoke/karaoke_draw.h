#pragma once
// Drawing the karaoke screen: one frame from the record, the settings and the animation clock,
// into a target of any size (sizes are fractions of it). UI thread.
#include <cstdint>
#include <string_view>

#include "karaoke/karaoke_screen_info.h"
#include "karaoke/karaoke_settings.h"
#include "platform/draw_surface.h"

// What drawing keeps between frames of one target.
struct KaraokeDrawState {};

// What the screen shows beside the record: one for the window, one for off-screen renders.
struct KaraokeScreen {};

// The window's content object.
KaraokeScreen& KaraokeWindowContent();
// Drops everything the state holds (the window closed).
void ResetKaraokeDrawState(KaraokeDrawState& state);
// Stops the content's video players.
void StopKaraokeVideo(KaraokeScreen& content);

// One frame over the whole W x H DIP target.
void DrawKaraokeScreen(KaraokeDrawState& state, KaraokeScreen& content, DrawSurface& target, float w, float h,
                       const KaraokeScreenInfo& info, const KaraokeSettings& settings, double clock);
// The text centred on centreX with its top at y, wrapped at maxWidth; returns its height (0 when
// nothing could be laid out).
float DrawCentredText(KaraokeDrawState& state, DrawSurface& target, std::wstring_view text, float centreX, float y,
                      float maxWidth, float size, bool heavy, uint32_t rgb, float opacity, float outline);
