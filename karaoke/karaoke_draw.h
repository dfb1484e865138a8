#pragma once
// Drawing the karaoke screen: one frame from the record, the [Karaoke] settings and an animation
// clock, into a target of any size; every size is a fraction of the target's, so the window and
// the 1280 x 720 off-screen render look alike. Backgrounds (moving colour, picture, video loop),
// CD+G graphics, the track's own video, and the show's text: idle, GET READY, the singing screen
// with the song header, lyric lines with the colour wipe, count-in dots and the NEXT UP banner.
// UI thread only.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/karaoke_settings.h"
#include "broadcast/video_player.h"
#include "karaoke/cdg.h"
#include "karaoke/karaoke_screen_info.h"
#include "platform/draw_surface.h"
#include "platform/text_block.h"

// --- Colour themes (setting Palette; colour A unsung and coming lyrics, B sung and accents) ---

struct KaraokeTheme {
  const char* name;
  uint32_t colourA;  // 0xRRGGBB
  uint32_t colourB;
};
inline constexpr KaraokeTheme kKaraokeThemes[] = {
    {.name = "CLASSIC", .colourA = 0xFFFFFF, .colourB = 0x2BB5FF},
    {.name = "GOLD", .colourA = 0xFFFFFF, .colourB = 0xFFC83D},
    {.name = "NEON", .colourA = 0xC9D2E6, .colourB = 0xFF4FD8},
    {.name = "MINT", .colourA = 0xFFFFFF, .colourB = 0x2BF59A},
    {.name = "FIRE", .colourA = 0xFFE9C9, .colourB = 0xFF5E2B},
};
// The theme of a Palette value, clamped to the table (below 0 the first, past the end the last).
const KaraokeTheme& KaraokeThemeOf(int32_t palette);

// Texts of the screen go through this before drawing (the UI language). The shell sets it; null
// shows them as given.
extern std::wstring (*KaraokeTranslateHook)(std::wstring_view text);

// --- State ---

// What drawing keeps between the frames of one target: text formats and layouts, bitmaps, the
// blurred copy of the picture and the gradient brushes. Reset when the target goes.
struct KaraokeDrawState {
  uint64_t frame = 0;
  std::map<int32_t, std::unique_ptr<TextFormat>> formats;  // key: half points x 2 + heavy
  struct CachedBlock {
    std::unique_ptr<TextBlock> block;
    uint64_t lastUsed = 0;
  };
  std::unordered_map<std::string, CachedBlock> blocks;
  std::string keyScratch;

  // The latest video frame (opaque ARGB) and the player it came from (0 none, 1 the track's own
  // video, 2 the background loop); each player's serial and the file it belongs to.
  std::vector<uint32_t> video;
  uint32_t videoWidth = 0, videoHeight = 0;
  int videoFrom = 0;
  uint64_t karaokeVideoSerial = 0, backgroundVideoSerial = 0;
  std::wstring karaokeVideoPath, backgroundVideoPath;

  std::unique_ptr<DrawBitmap> blurred;  // a picture or frame blurred at a quantised deviation
  int64_t blurredSource = -1;           // which picture or frame
  int32_t blurredStep = -1;

  std::unique_ptr<DrawSurface> glowSurface;  // the moving colour, drawn small
  std::unique_ptr<GradientBrush> backdrop;
  std::unique_ptr<GradientBrush> glow[3];
  uint32_t glowColour[3] = {0, 0, 0};
};

// What the screen shows beside the record; one for the window, one for off-screen renders.
struct KaraokeScreen {
  CdgDecoder cdg;
  std::shared_ptr<const std::vector<uint8_t>> installedCdg;  // to notice a change of song
  VideoFilePlayer karaokeVideo;     // the track's own video
  VideoFilePlayer backgroundVideo;  // the background loop
  std::wstring pictureFile;
  std::vector<uint32_t> picturePixels;  // premultiplied ARGB
  int pictureWidth = 0, pictureHeight = 0;
  int64_t pictureGeneration = 0;  // raised on every load attempt
};

// The window's content object.
KaraokeScreen& KaraokeWindowContent();
// Drops everything the state holds (the target went away).
void ResetKaraokeDrawState(KaraokeDrawState& state);
// Stops the content's video players.
void StopKaraokeVideo(KaraokeScreen& content);

// --- The frame ---

// One frame over the whole w x h DIP target: t is the song position (info.position), clock the
// animation clock in seconds.
void DrawKaraokeScreen(KaraokeDrawState& state, KaraokeScreen& content, DrawSurface& target, float w, float h,
                       const KaraokeScreenInfo& info, const KaraokeSettings& settings, double clock);
// Renders one 1280 x 720 frame off-screen (its own content object, kept between calls; a video's
// first frame is waited for, up to 1.5 s) and writes it as a PNG, whole. False with *error when the
// frame cannot be drawn or written.
bool RenderKaraokeScreenToBitmap(const std::wstring& path, const KaraokeScreenInfo& info,
                                 const KaraokeSettings& settings, double clock, std::wstring* error = nullptr);
// The same at any size (1 to 16384 pixels a side, one pixel a DIP).
bool RenderKaraokeScreenPng(const std::wstring& path, int width, int height, const KaraokeScreenInfo& info,
                            const KaraokeSettings& settings, double clock, std::wstring* error = nullptr);
// The off-screen renders' content object.
KaraokeScreen& KaraokeOffscreenContent();

// --- Drawing parts (karaoke_draw_parts.cpp) ---

// The cached layout of a text: heavy ("Segoe UI" black) or light ("Bahnschrift" semi-bold), size
// in DIPs to the nearest half point, wrapped at maxWidth; null when it cannot be made.
const TextBlock* KaraokeTextLayout(KaraokeDrawState& state, std::wstring_view text, float size, bool heavy,
                                   float maxWidth);
// Eight dark copies around the text and a shadow below when outline > 0, then the text.
void DrawOutlinedText(DrawSurface& target, const TextBlock& block, float x, float y, uint32_t rgb, float opacity,
                      float outline);
// The text centred on centreX with its top at y, wrapped at maxWidth; returns its height (0 when
// nothing could be laid out).
float DrawCentredText(KaraokeDrawState& state, DrawSurface& target, std::wstring_view text, float centreX, float y,
                      float maxWidth, float size, bool heavy, uint32_t rgb, float opacity, float outline);
// The line in the unsung colour with the first `sung` characters (fractional) painted over in the
// sung colour, wrapped line by wrapped line.
void DrawWipedLine(DrawSurface& target, const TextBlock& block, float x, float y, float fullWidth, double sung,
                   int textLength, uint32_t unsung, uint32_t sungColour, float opacity, float outline);
// A rounded pill with a label in the accent and a name in white, its top-left at (x, y).
void DrawBannerPill(KaraokeDrawState& state, DrawSurface& target, std::wstring_view label, std::wstring_view name,
                    float x, float y, float h, uint32_t accent);
// The gradient, three soft circles on the beat and the bass, and seventy sparkles.
void DrawMovingColour(KaraokeDrawState& state, DrawSurface& target, float w, float h, double clock,
                      const KaraokeScreenInfo& info);
// The pixels covering the target, slowly drifting when moving, blurred when asked; `source` names
// the picture or frame for the blur's cache (a new value when the pixels change).
void DrawCoverPixels(KaraokeDrawState& state, DrawSurface& target, const PixelView& pixels, bool opaque, float w,
                     float h, double clock, bool moving, bool blur, int64_t source);
// The pixels fitted inside the target, centred (aspect: their own when 0); interpolated linearly,
// or by the nearest pixel for pixel graphics (CD+G), which then stay sharp and exact at any size.
void DrawFittedPixels(DrawSurface& target, const PixelView& pixels, bool opaque, float w, float h, float aspect,
                      bool nearest);
// A 0xRRGGBB colour at an opacity.
Rgba KaraokeColour(uint32_t rgb, float opacity);

// --- Pictures ---

// The longest side a background picture is kept at.
inline constexpr int kKaraokePictureMaxSide = 2560;
// Decodes a picture file, scaled down so that its longer side is at most 2560 pixels, into
// premultiplied ARGB; false when it cannot be read (see platform/picture_file.h for the limits).
bool LoadPicturePixels(const std::wstring& path, std::vector<uint32_t>* pixels, int* width, int* height);
