#include "screens/main_screen.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/beat_grid.h"
#include "base/palette.h"
#include "base/settings.h"
#include "control/auto_map.h"
#include "control/macros_panel.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_commands.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_rotation.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "screens/auto_map_screen.h"
#include "screens/browser_screen.h"
#include "screens/deck_panel.h"
#include "screens/grid_editor.h"
#include "screens/karaoke_panel.h"
#include "screens/layout.h"
#include "screens/macros_panel_view.h"
#include "screens/mixer.h"
#include "screens/overview.h"
#include "screens/screen_signature.h"
#include "screens/slim_layout.h"
#include "screens/top_bar.h"
#include "screens/waveform.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "settings/skin_editor.h"
#include "settings/tour.h"
#include "ui/draw_pixels.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/scroll_view.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

float BeatPulse[kEngineDecks] = {};
namespace {
float FallingPulse[kEngineDecks] = {};  // BeatPulse before its steps: decays smoothly after a stop
float ShownPulse(float pulse) { return std::round(pulse * kBeatPulseSteps) / kBeatPulseSteps; }
}  // namespace
FrameTooltip Tooltip;
LibraryRowDrag RowDrag;

namespace {

bool BrowserMoves = false;  // the browser asked for a redraw as it drew this frame

// Beat pulse: exp(-kPulseSharpness x beat fraction) while playing, else decays per frame.
constexpr double kPulseSharpness = 5.0;
constexpr float kPulseDecayPerFrame = 0.9f;
constexpr float kPulseFloor = 1e-3f;  // a glow alpha this small scaled by it shows nothing

// The window's backdrop: fixed colours, not skin colours.
constexpr uint32_t kBackdropTop = 0x0B0D14;     // rgb(11, 13, 20)
constexpr uint32_t kBackdropBottom = 0x040508;  // rgb(4, 5, 8)

// Soft lights behind the side panels, brighter with the side's deck playing and on its beats.
constexpr float kSideGlowWidthShare = 0.75f, kSideGlowHeightShare = 0.95f;
constexpr float kSideGlowPulseAlpha = 0.1f;
constexpr float kSideGlowPlayingAlpha = 0.13f, kSideGlowIdleAlpha = 0.07f;
constexpr float kCentreGlowWidthShare = 0.6f, kCentreGlowRadiusYDip = 120.0f;
constexpr uint32_t kCentreGlowColour = 0x6A5BFF;  // rgb(106, 91, 255)
constexpr float kCentreGlowAlpha = 0.06f;
// The browser panel's corner radius, and how far a light's edge pixels reach (antialiasing).
constexpr float kBrowserCornerDip = 8.0f;
constexpr int kSideLightReachPx = 2;

constexpr float kMarginDip = 8.0f;
constexpr float kPhaseMeterHeightDip = 18.0f;

// A dragged library row.
constexpr float kDragStartDip = 6.0f;  // straight-line distance from the press point
constexpr float kDragLabelDxDip = 12.0f, kDragLabelDyDip = 8.0f;
constexpr float kDragLabelWidthDip = 260.0f, kDragLabelHeightDip = 28.0f, kDragLabelRadius = 5.0f;
constexpr float kDragLabelAlpha = 0.95f;
constexpr float kDragTitleInsetDip = 10.0f, kDragTitleWidthDip = 240.0f, kDragTitleSize = 12.5f;

// Banners: centred pills under the top bar.
constexpr float kBannerTopDip = 44.0f, kBannerHeightDip = 26.0f, kBannerRadius = 13.0f;
constexpr float kBannerPadDip = 30.0f;  // both sides together
constexpr float kBannerTextSize = 12.0f;
constexpr float kBannerAlpha = 0.95f;
constexpr int32_t kBrowseKnobLearnTarget = 31;
constexpr wchar_t kLearnBrowseText[] =
    L"MIDI LEARN — turn your browse knob, then push it down (click MIDI to finish)";
constexpr wchar_t kLearnControlText[] = L"MIDI LEARN — now move a control on your controller (click MIDI to finish)";
constexpr wchar_t kLearnStartText[] =
    L"MIDI LEARN — click the control you want to map (the track list maps the browse knob)";
constexpr wchar_t kSandboxText[] =
    L"SANDBOX {}:{:02} — the crowd hears the mix from when you started; you're rehearsing in the headphones. "
    L"SANDBOX again to go back.";
constexpr int kSecondsPerMinute = 60;
constexpr double kMsPerSecond = 1000.0;
constexpr double kMaxBannerSeconds = 1e8;  // keeps a broken start time from overflowing the count

// The tooltip box.
constexpr float kTooltipPadDip = 24.0f;      // both sides together
constexpr float kTooltipLineDip = 18.0f;
constexpr float kTooltipVPadDip = 12.0f;     // above and below together
constexpr float kTooltipGapDip = 6.0f;       // under the anchor
constexpr float kTooltipEdgeDip = 8.0f;      // kept clear of the window's sides
constexpr float kTooltipRadius = 6.0f;
constexpr float kTooltipTextSize = 11.5f;
constexpr Color kTooltipEdge{1, 1, 1, 0.1f};

// The upright strips of the vertical layout: the deck letter near the strip's bottom.
constexpr float kStripLetterHeightDip = 16.0f, kStripLetterRiseDip = 18.0f, kStripLetterSize = 10.0f;

// ---- the overlays, in the order the first open one wins --------------------------------------

struct OverlayRow {
  bool (*open)();
  void (*draw)();
  bool hidesPanels = true;  // the panels behind it see no mouse
};
constexpr OverlayRow kOverlays[] = {
    {[] { return Prompt.pending; }, DrawAsk},
    {[] { return Modal.open; }, DrawModal},
    {[] { return AutoMapOpen; }, DrawAutoMap},
    {[] { return TourOpen; }, DrawTour},
    {[] { return GridEditorDeck >= 0; }, DrawGridEditor},
    {[] { return MacrosPanelOpen; }, DrawMacros},
    {[] { return SkinEditorOpen; }, DrawSkinEditor},
    {[] { return SettingsOpen; }, DrawSettings},
    {[] { return HelpOpen; }, DrawHelp},
};

const OverlayRow* FirstOpenOverlay() {
  for (const OverlayRow& row : kOverlays)
    if (row.open()) return &row;
  return nullptr;
}


// ---- background ------------------------------------------------------------------------------
// The backdrop and its soft lights look the same frame after frame except for the side lights'
// strength, and filling them costs far more than copying them: each is drawn once into an image
// (a side light at full strength) and laid over the frame's pixels every frame (a side light at
// its alpha), all in one pass down the rows.

struct CachedImage {
  std::vector<uint32_t> pixels;  // premultiplied; empty when it could not be drawn
  int width = 0, height = 0;
  Rc area;      // where it goes, DIPs on whole pixels
  Rc drawnFor;  // the window or panel it was drawn for
  uint32_t colour = 0;
  float dpi = 0;
  float meterY = 0;
  std::vector<PanelShape> panels;  // the panels it holds (the backdrop), or lies under (a light)
  bool ok = false;      // drawn, or nothing to draw
  bool opaque = false;  // every pixel's alpha is 255: it replaces what lies under it
  PixelRuns lit;        // where a light that is not opaque shows
};
CachedImage BackdropImage, SideLightImages[2];
bool LightsUnderPanels = false;  // this frame's side lights are left out under the panels
std::vector<PanelShape> LightCovers;  // what hides the side lights this frame (scratch)

// Frame pixels per DIP.
float FrameScale() { return CurrentDpi() > 0 ? CurrentDpi() / kBaseDpi : 1.0f; }

bool SameRect(Rc a, Rc b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

// The bounds of r on whole pixels at the scale, in DIPs.
Rc PixelAligned(Rc r, float scale) {
  const float x0 = std::floor(r.x * scale), y0 = std::floor(r.y * scale);
  const float x1 = std::ceil(r.Right() * scale), y1 = std::ceil(r.Bottom() * scale);
  return Rc{x0 / scale, y0 / scale, (x1 - x0) / scale, (y1 - y0) / scale};
}

// Runs draw onto a transparent image covering image->area (DIPs on whole pixels) and keeps its
// pixels; leaves them empty when the image cannot be made.
void DrawIntoImage(CachedImage* image, float scale, const std::function<void()>& draw) {
  image->pixels.clear();
  image->opaque = false;
  image->width = static_cast<int>(std::lround(image->area.w * scale));
  image->height = static_cast<int>(std::lround(image->area.h * scale));
  std::unique_ptr<DrawSurface> surface = DrawSurface::Create(image->width, image->height, scale);
  if (!surface) return;
  DrawSurface* const previous = DrawTarget();
  SetDrawTarget(surface.get());
  SetTransform(Affine{1, 0, 0, 1, -image->area.x, -image->area.y});
  draw();
  SetDrawTarget(previous);
  const PixelView pixels = surface->Pixels();
  if (!surface->Ok() || !pixels.pixels || pixels.stride < pixels.width || pixels.width != image->width ||
      pixels.height != image->height)
    return;
  image->pixels.resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
  for (int y = 0; y < pixels.height; ++y)
    std::copy_n(pixels.pixels + static_cast<size_t>(y) * static_cast<size_t>(pixels.stride), pixels.width,
                image->pixels.begin() + static_cast<ptrdiff_t>(y) * pixels.width);
  image->opaque = std::all_of(image->pixels.begin(), image->pixels.end(), [](uint32_t p) { return p >> 24 == 255; });
}

bool Fresh(const CachedImage& image, Rc drawnFor, uint32_t colour, float dpi, float meterY,
           const std::vector<PanelShape>& panels) {
  return image.ok && image.dpi == dpi && image.colour == colour && image.meterY == meterY &&
         SameRect(image.drawnFor, drawnFor) && image.panels == panels;
}

// Takes out of a light what the panels drawn over it would hide: each pixel is scaled by how
// much of it no panel covers.
void HideUnderPanels(CachedImage* light, const std::vector<PanelShape>& panels, float scale) {
  CachedImage cover;
  cover.area = light->area;
  DrawIntoImage(&cover, scale, [&] {
    for (const PanelShape& p : panels) FillRoundedRect(p.r, p.radius, Color{1, 1, 1, 1});
  });
  if (cover.pixels.size() != light->pixels.size()) {
    light->pixels.clear();
    return;
  }
  for (size_t i = 0; i < light->pixels.size(); ++i) {
    const uint32_t open = 255 - (cover.pixels[i] >> 24), p = light->pixels[i];
    if (open == 255 || p == 0) continue;
    uint32_t kept = 0;
    for (int c = 0; c < 32; c += 8) {
      const uint32_t t = ((p >> c) & 255) * open + 128;
      kept |= ((t + (t >> 8)) >> 8) << c;
    }
    light->pixels[i] = kept;
  }
}

// Redraws the image when what it was drawn for changed, or drawing it failed last time. A light
// (hideUnder) is taken out where the panels cover it.
void Refresh(CachedImage* image, Rc drawnFor, Rc area, uint32_t colour, float dpi, float meterY,
             const std::vector<PanelShape>& panels, bool hideUnder, float scale, const std::function<void()>& draw) {
  if (Fresh(*image, drawnFor, colour, dpi, meterY, panels)) return;
  image->area = PixelAligned(area, scale);
  image->drawnFor = drawnFor;
  image->colour = colour, image->dpi = dpi, image->meterY = meterY;
  image->panels = panels;
  image->pixels.clear();
  const bool nothing = !(image->area.w > 0 && image->area.h > 0);
  if (!nothing) DrawIntoImage(image, scale, draw);
  if (!nothing && hideUnder && !panels.empty() && !image->pixels.empty()) HideUnderPanels(image, panels, scale);
  image->ok = nothing || !image->pixels.empty();
  if (!image->pixels.empty() && !image->opaque) FindLitRuns(image->pixels.data(), image->width, image->height, &image->lit);
}

// The window's gradient and the violet light along the phase meter.
void DrawBackdropAndCentreLight(Rc window, float meterY) {
  GradientBrush* brush = LinearGradientBrush(ColorOf(kBackdropTop), ColorOf(kBackdropBottom), PointF{0, 0},
                                             PointF{0, window.h}, false);
  FillRect(window, brush ? Brush(brush) : Brush(ColorOf(kBackdropBottom)));
  SoftGlow(window.w / 2, meterY + kPhaseMeterHeightDip / 2, kCentreGlowWidthShare * window.w, kCentreGlowRadiusYDip,
           ColorOf(kCentreGlowColour, kCentreGlowAlpha));
}

void DrawSideLight(Rc panel, Color c) {
  SoftGlow(panel.CenterX(), panel.CenterY(), kSideGlowWidthShare * panel.w, kSideGlowHeightShare * panel.h, c);
}

Rc SideLightArea(Rc panel) {
  const float rx = kSideGlowWidthShare * panel.w, ry = kSideGlowHeightShare * panel.h;
  return Rc{panel.CenterX() - rx, panel.CenterY() - ry, 2 * rx, 2 * ry};
}

// The side light's strength for the deck its panel shows.
float SideLightAlpha(int deck) {
  const bool valid = deck >= 0 && deck < kEngineDecks;
  const bool playing = valid && DeckSnapshots[deck].playing;
  const float pulse = valid ? BeatPulse[deck] : 0.0f;
  return pulse * kSideGlowPulseAlpha + (playing ? kSideGlowPlayingAlpha : kSideGlowIdleAlpha);
}

// The top bar's place in a window this wide, and a key of the colours its backdrop is drawn in.
Rc TopBarRect(float windowWidth) { return Rc{0, 0, windowWidth, kTopBarHeight}; }
uint32_t BarColoursKey() { return Pal.DeckA * 16777619u ^ Pal.DeckB; }

// Notes where the light's kept image shows (its lit runs, on the window), rows with the same runs
// as one box: with the panels, the lanes and the bar over it, that is the margins between them.
// False when the image has no runs to go by.
bool NoteLitRuns(int part, const CachedImage& light, float scale, float windowWidth, float windowHeight) {
  if (light.pixels.empty() || light.opaque || light.lit.rowStart.size() != static_cast<size_t>(light.height) + 1)
    return false;
  const int left = static_cast<int>(std::lround(light.area.x * scale));
  const int top = static_cast<int>(std::lround(light.area.y * scale));
  const int right = static_cast<int>(std::ceil(windowWidth * scale)), bottom = static_cast<int>(std::ceil(windowHeight * scale));
  struct Open {
    int x0, x1, y0, y1;
  };
  constexpr int kMaxOpen = 16;  // runs side by side in one row; more are noted as one
  Open open[kMaxOpen];
  int count = 0;
  auto note = [&](const Open& o) {
    NotePartDrawn(part, Rc{o.x0 / scale, o.y0 / scale, (o.x1 - o.x0) / scale, (o.y1 - o.y0) / scale},
                  kSideLightReachPx);
  };
  for (int iy = 0; iy <= light.height; ++iy) {
    const int y = top + iy;
    Open row[kMaxOpen];
    int runs = 0;
    if (iy < light.height && y >= 0 && y < bottom) {
      for (uint32_t k = light.lit.rowStart[iy]; k < light.lit.rowStart[iy + 1]; ++k) {
        const int x0 = std::max(0, left + light.lit.spans[k].first), x1 = std::min(right, left + light.lit.spans[k].second);
        if (x1 <= x0) continue;
        if (runs == kMaxOpen) row[runs - 1].x1 = x1;
        else row[runs++] = Open{x0, x1, y, y + 1};
      }
    }
    // A run under one of the rows above goes on its box; the boxes no run goes on are done.
    int kept = 0;
    for (int i = 0; i < count; ++i) {
      bool goesOn = false;
      for (int j = 0; j < runs && !goesOn; ++j) goesOn = row[j].x0 == open[i].x0 && row[j].x1 == open[i].x1;
      if (goesOn) open[kept++] = Open{open[i].x0, open[i].x1, open[i].y0, y + 1};
      else note(open[i]);
    }
    count = kept;
    for (int j = 0; j < runs; ++j) {
      bool onBox = false;
      for (int i = 0; i < count && !onBox; ++i) onBox = row[j].x0 == open[i].x0 && row[j].x1 == open[i].x1;
      if (!onBox && count < kMaxOpen) open[count++] = row[j];
      else if (!onBox) note(row[j]);
    }
  }
  for (int i = 0; i < count; ++i) note(open[i]);
  return true;
}

// Where the light behind a side's panel changes with its deck's pulse. With the panels kept, the
// light is taken out under them: only the margins between them and the browser's corners show it.
void NoteSideLightPart(int side, Rc area, bool panelsKept, float scale) {
  if (!ValidDeck(SideSlots[side])) return;
  const int part = kSidePanelPart + side;
  if (panelsKept && NoteLitRuns(part, SideLightImages[side], scale, Screen.width, Screen.height)) return;
  const Rc browser = Screen.browser;
  const float cut = browser.y + kBrowserCornerDip;
  if (!panelsKept || !VariantOf(Screen.layout).browser || browser.h <= 0 || area.Bottom() <= cut) {
    NotePartDrawn(part, area, kSideLightReachPx);
    return;
  }
  if (cut > area.y) NotePartDrawn(part, Rc{area.x, area.y, area.w, cut - area.y}, kSideLightReachPx);
  const float below = area.Bottom() - browser.y;
  const float leftEdge = browser.x + kBrowserCornerDip, rightEdge = browser.Right() - kBrowserCornerDip;
  if (area.x < leftEdge) NotePartDrawn(part, Rc{area.x, browser.y, leftEdge - area.x, below}, kSideLightReachPx);
  if (area.Right() > rightEdge)
    NotePartDrawn(part, Rc{rightEdge, browser.y, area.Right() - rightEdge, below}, kSideLightReachPx);
}

PixelImage ImageOf(const CachedImage& image) {
  return PixelImage{.pixels = image.pixels.data(),
                    .width = image.pixels.empty() ? 0 : image.width,
                    .height = image.pixels.empty() ? 0 : image.height,
                    .x = image.area.x,
                    .y = image.area.y,
                    .opaque = image.opaque,
                    .lit = image.pixels.empty() || image.opaque ? nullptr : &image.lit};
}

// ---- panels ----------------------------------------------------------------------------------

void DrawLanes() {
  for (int deck = 0; deck < DecksInUse(); ++deck) {
    const Rc lane = Screen.lanes[deck];
    if (lane.w <= 0) continue;
    NotePartDrawn(kDeckMotionPart + deck, lane);
    if (Screen.vertical) DrawDeckRotated(deck, lane);
    else DrawWaveform(deck, lane);
  }
}

// What a panel draws beyond its own box lands, at most, up to the panels drawn after it (to its
// right and below): they would cover it. Clipped so, the panels can lie in the backdrop.
Rc BeforeLaterPanels(Rc panel, const Rc* laterRight) {
  float right = Screen.width, bottom = Screen.height;
  if (laterRight && laterRight->w > 0 && laterRight->x >= panel.Right()) right = laterRight->x;
  if (VariantOf(Screen.layout).browser && Screen.browser.w > 0 && Screen.browser.y >= panel.Bottom())
    bottom = Screen.browser.y;
  return Rc{0, 0, right, bottom};
}

// What of a slim deck its deck's playing changes: the pulse's wash and accent, the header's
// numbers and the overview, down to the overview's bottom; the control row only while it moves
// too (paused, CUE lights at the cue point the position reaches; looping, the loop's outline
// pulses).
void NoteSlimDeckPart(int side, Rc panel) {
  const int deck = SideSlots[side];
  if (!ValidDeck(deck)) return;
  const DeckSnapshot& s = DeckSnapshots[deck];
  const float bottom = s.playing && !s.loopOn ? SlimOverviewRect(panel).Bottom() : panel.Bottom();
  NotePartDrawn(kSidePanelPart + side, Rc{panel.x, panel.y, panel.w, std::max(0.0f, bottom - panel.y)});
}

// ---- panels in the backdrop ------------------------------------------------------------------
// The panels the last frame drew, and the window and layout it drew them for: while those stay,
// this frame draws the same panels, so the backdrop holds them and DrawPanel leaves them out.

struct PanelsOfFrame {
  float width = 0, height = 0, dpi = 0;
  int32_t layout = -1;
  bool vertical = false, fourDecks = false;
  int sides[2] = {-1, -1};  // a slim panel is drawn only for a valid deck
  std::vector<PanelShape> panels;
  bool SameScreen(const PanelsOfFrame& o) const {
    return width == o.width && height == o.height && dpi == o.dpi && layout == o.layout && vertical == o.vertical &&
           fourDecks == o.fourDecks && sides[0] == o.sides[0] && sides[1] == o.sides[1];
  }
};
PanelsOfFrame LastPanels;
const std::vector<PanelShape> kNoPanels;

PanelsOfFrame ThisScreen() {
  PanelsOfFrame now;
  now.width = Screen.width, now.height = Screen.height, now.dpi = CurrentDpi();
  now.layout = Screen.layout, now.vertical = Screen.vertical, now.fourDecks = Screen.fourDecks;
  now.sides[0] = SideSlots[kLeftSide], now.sides[1] = SideSlots[kRightSide];
  return now;
}

// True when the backdrop holds the top bar's.
bool DrawBackdropAndPanels() {
  const std::vector<PanelShape>& keep = ThisScreen().SameScreen(LastPanels) ? LastPanels.panels : kNoPanels;
  ForgetDrawnPanels();
  const bool kept = DrawBackgroundWithPanels(keep);
  KeepPanelsInBackdrop(kept ? keep : kNoPanels);
  return kept && !keep.empty();
}

// After the panels: later drawing (forms, menus) draws every panel it asks for.
void RememberPanels() {
  const PanelsOfFrame now = ThisScreen();
  LastPanels.width = now.width, LastPanels.height = now.height, LastPanels.dpi = now.dpi;
  LastPanels.layout = now.layout, LastPanels.vertical = now.vertical, LastPanels.fourDecks = now.fourDecks;
  LastPanels.sides[0] = now.sides[0], LastPanels.sides[1] = now.sides[1];
  LastPanels.panels = DrawnPanels();
  KeepPanelsInBackdrop(kNoPanels);
}

// ---- dragging a library row ------------------------------------------------------------------

void DrawDragLabel(const std::wstring& title) {
  const Rc box{Input.x + kDragLabelDxDip, Input.y + kDragLabelDyDip, kDragLabelWidthDip, kDragLabelHeightDip};
  const uint32_t edge = RowDrag.targetDeck >= 0 ? DeckColour(RowDrag.targetDeck) : Pal.Border;
  FillRoundedRect(box, kDragLabelRadius, ColorOf(Pal.Panel3, kDragLabelAlpha));
  StrokeRoundedRect(box, kDragLabelRadius, ColorOf(edge), 1.0f);
  // A track title is the user's text: never translated.
  DrawTextAsIs(title, Rc{box.x + kDragTitleInsetDip, box.y, kDragTitleWidthDip, box.h}, kDragTitleSize,
               ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
}

// The row's file onto the deck under the pointer, else into every list and singer row under it.
void DropRow(float x, float y) {
  const LibraryFile* file = SelectedFile();
  if (!file) return;
  const std::wstring path = file->path;  // a copy: loading may rebuild the view
  const int deck = DeckAtPoint(x, y);
  if (deck >= 0) {
    LoadTrack(deck, path);
    return;
  }
  const std::vector<ListDropRow> lists = SidebarListRows;  // AddToList may refresh the browser
  for (const ListDropRow& list : lists)
    if (Inside(list.rect, x, y)) AddToList(list.list, path);
  const std::vector<SingerDropRow> singers = SingerRows;
  for (const SingerDropRow& singer : singers)
    if (Inside(singer.rect, x, y)) KaraokeAddSong(singer.singer, path);
}

// ---- banners and the tooltip -------------------------------------------------------------------

void DrawBanner(float windowWidth) {
  const double now = MonotonicSeconds();
  const Banner banner = CurrentBanner(now);
  if (banner.text.empty()) return;
  if (Sandbox.on) {  // its clock counts seconds
    const double shown = std::floor(now - Sandbox.since);
    RedrawAt(static_cast<uint64_t>(std::max(0.0, (Sandbox.since + shown + 1) * kMsPerSecond)));
  }
  const float width = TextWidth(banner.text, kBannerTextSize, true, kFontSegoeUi) + kBannerPadDip;
  const Rc pill{windowWidth / 2 - width / 2, kBannerTopDip, width, kBannerHeightDip};
  FillRoundedRect(pill, kBannerRadius, ColorOf(banner.colour, kBannerAlpha));
  DrawTextAsIs(banner.text, pill, kBannerTextSize, ColorOf(Pal.Background), kAlignCenter, true, kFontSegoeUi);
}

void DrawTooltipBox(const TooltipBox& tip) {
  FillRoundedRect(tip.box, kTooltipRadius, ColorOf(Pal.Panel3));
  StrokeRoundedRect(tip.box, kTooltipRadius, kTooltipEdge, 1.0f);
  for (size_t i = 0; i < tip.lines.size(); ++i) {
    const Rc line{tip.box.x + kTooltipPadDip / 2, tip.box.y + kTooltipVPadDip / 2 + kTooltipLineDip * i,
                  tip.box.w - kTooltipPadDip, kTooltipLineDip};
    DrawTextAsIs(tip.lines[i], line, kTooltipTextSize, ColorOf(i == 0 ? Pal.Text : Pal.Dim), kAlignLeft, false,
                 kFontSegoeUi);
  }
}

void QueueTooltip(float windowWidth) {
  if (Tooltip.text.empty()) return;
  QueueOverlay([tip = PlaceTooltip(Tooltip.text, Tooltip.anchor, windowWidth)] { DrawTooltipBox(tip); });
  Tooltip.text.clear();
}

}  // namespace

// ---- shared state ------------------------------------------------------------------------------

int OpenOverlay() {
  const OverlayRow* row = FirstOpenOverlay();
  return row ? static_cast<int>(row - kOverlays) : -1;
}

bool SettingsScreenShown() {
  const OverlayRow* row = FirstOpenOverlay();
  return row && row->draw == DrawSettings;
}

int RowDropTarget() { return RowDrag.dragging ? DeckAtPoint(Input.x, Input.y) : -1; }

void UpdateBeatPulses() {
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    const DeckSnapshot& shot = DeckSnapshots[deck];
    float& pulse = FallingPulse[deck];
    // A pulse set from outside (a reset, a test) is where it goes on from.
    if (BeatPulse[deck] != ShownPulse(pulse)) pulse = BeatPulse[deck];
    const bool playing = shot.track && shot.playing;
    const double beat = playing ? BeatAtTime(*shot.track, shot.position / std::max(shot.track->sampleRate, 1)) : 0.0;
    if (playing && std::isfinite(beat)) {
      pulse = static_cast<float>(std::exp(-kPulseSharpness * (beat - std::floor(beat))));
    } else {
      pulse *= kPulseDecayPerFrame;
      // Settles at zero rather than creeping towards it: a paused screen stays the same.
      if (pulse < kPulseFloor) pulse = 0.0f;
    }
    BeatPulse[deck] = ShownPulse(pulse);
  }
}

bool BeatPulsesFalling() {
  for (int deck = 0; deck < kEngineDecks; ++deck)
    if (BeatPulse[deck] > 0 && !DeckSnapshots[deck].playing) return true;
  return false;
}

void DrawBackground() { DrawBackgroundWithPanels({}); }

bool DrawBackgroundWithPanels(const std::vector<PanelShape>& panels) {
  const float dpi = CurrentDpi();
  const float scale = FrameScale();
  const Rc window{0, 0, Screen.width, Screen.height};
  const float meterY = Screen.phaseMeterY;
  const Rc sides[2] = {Screen.leftPanel, Screen.rightPanel};
  const int decks[2] = {SideSlots[kLeftSide], SideSlots[kRightSide]};
  // With the panels, the top bar's backdrop (in the decks' colours) is kept too.
  const bool withBar = !panels.empty();
  const Rc bar = TopBarRect(window.w);
  const uint32_t barColours = withBar ? BarColoursKey() : 0;
  Refresh(&BackdropImage, window, window, barColours, dpi, meterY, panels, false, scale, [&] {
    DrawBackdropAndCentreLight(window, meterY);
    if (withBar) DrawTopBarBackdrop(bar);
    for (const PanelShape& p : panels) DrawPanel(p.r, p.radius);
  });
  // With the panels kept, the lights are also left out under the bar and the lanes, whose opaque
  // frames lie over them.
  std::vector<PanelShape>& covers = LightCovers;
  covers.assign(panels.begin(), panels.end());
  if (withBar) covers.push_back(PanelShape{bar, 0});
  if (!panels.empty() && !Screen.vertical)
    for (int deck = 0; deck < DecksInUse(); ++deck)
      if (Screen.lanes[deck].w > 0 && Screen.lanes[deck].h > 0) covers.push_back(PanelShape{Screen.lanes[deck], kLaneRadiusDip});
  for (int side = 0; side < 2; ++side) {
    const uint32_t colour = DeckColour(decks[side]);
    Refresh(&SideLightImages[side], sides[side], SideLightArea(sides[side]), colour, dpi, 0, covers, true, scale,
            [&] { DrawSideLight(sides[side], ColorOf(colour)); });
  }
  LightsUnderPanels = !panels.empty();
  // An opaque gradient replaces whatever the frame held; one whose edge pixels are only partly
  // covered (a window size that is not whole in DIPs) lies over the plain background.
  const PixelImage images[3] = {ImageOf(BackdropImage), ImageOf(SideLightImages[0]), ImageOf(SideLightImages[1])};
  const float alphas[3] = {1.0f, SideLightAlpha(decks[0]), SideLightAlpha(decks[1])};
  const bool whole = BackdropImage.ok && SideLightImages[0].ok && SideLightImages[1].ok;
  DrawSurface* target = DrawTarget();
  if (whole && target) {
    if (!BackdropImage.opaque) Clear(ColorOf(Pal.Background));
    if (DrawPixelImages(*target, images, alphas, 3)) return true;
  }
  Clear(ColorOf(Pal.Background));
  DrawBackdropAndCentreLight(window, meterY);
  for (int side = 0; side < 2; ++side) DrawSideLight(sides[side], ColorOf(DeckColour(decks[side]), alphas[side + 1]));
  return false;
}

// ---- the panels in drawing order ------------------------------------------------------------------

void DrawPanels() {
  const int left = SideSlots[kLeftSide], right = SideSlots[kRightSide];
  const bool slim = VariantOf(Screen.layout).slimPanels;
  if (slim) {
    NoteSlimDeckPart(kLeftSide, Screen.leftPanel);
    NoteSlimDeckPart(kRightSide, Screen.rightPanel);
  }
  // After the panels' places: the lights' margins along them join those boxes.
  const float scale = FrameScale();
  NoteSideLightPart(kLeftSide, SideLightArea(Screen.leftPanel), LightsUnderPanels, scale);
  NoteSideLightPart(kRightSide, SideLightArea(Screen.rightPanel), LightsUnderPanels, scale);
  PushClip(BeforeLaterPanels(Screen.leftPanel, &Screen.mixer));
  if (slim) DrawSlimDeck(left, Screen.leftPanel);
  else DrawDeck(left, Screen.leftPanel);
  PopClip();
  PushClip(BeforeLaterPanels(Screen.mixer, &Screen.rightPanel));
  if (slim) DrawSlimMixer(Screen.mixer);
  else DrawMixer(Screen.mixer);
  PopClip();
  PushClip(BeforeLaterPanels(Screen.rightPanel, nullptr));
  if (slim) DrawSlimDeck(right, Screen.rightPanel);
  else DrawDeck(right, Screen.rightPanel);
  PopClip();
  if (!VariantOf(Screen.layout).browser) return;
  // A part of the frame that neither the browser nor its glows reach leaves out its rows: while it
  // asks for no redraw of its own it draws what it drew, and nothing of it shows there. Its panel
  // is still listed, so that the backdrop goes on holding it.
  if (!BrowserMoves && !PointerNotesTaken() && ClipHides(Screen.browser, kGlowReachPx / scale)) {
    DrawPanel(Screen.browser, kBrowserCornerDip);
    return;
  }
  const uint64_t asked = RedrawRequestCount();
  DrawBrowser(Screen.browser);
  BrowserMoves = RedrawRequestCount() != asked;
}

// ---- hit tests and strips ------------------------------------------------------------------------

int DeckAtPoint(float x, float y) {
  const int decks = Screen.fourDecks ? kEngineDecks : kTwoDecks;
  for (int deck = 0; deck < decks; ++deck)
    if (Inside(Screen.lanes[deck], x, y)) return deck;
  if (Inside(Screen.leftPanel, x, y)) return SideSlots[kLeftSide];
  if (Inside(Screen.rightPanel, x, y)) return SideSlots[kRightSide];
  if (y < Screen.browser.y) return x < Screen.width / 2 ? SideSlots[kLeftSide] : SideSlots[kRightSide];
  return -1;
}

void DrawDeckRotated(int deck, Rc strip) {
  if (deck < 0 || deck >= kEngineDecks || strip.w <= 0 || strip.h <= 0) return;
  const Affine previous = GetTransform();
  // A quarter turn back about the strip's bottom-left corner: the lane's x runs up the strip.
  SetTransform(Compose(Affine{0, -1, 1, 0, strip.x, strip.Bottom()}, previous));
  const UiInput saved = Input;
  const int32_t id = WaveformControlId(deck);
  const bool over = MouseOver(strip);
  // The lane sees the pointer turned with it: x' = bottom - y, y' = x - left.
  const Affine outer = SetPointerSpace(Affine{});
  SetPointerSpace(Compose(outer, Affine{0, 1, -1, 0, strip.Bottom(), -strip.x}));
  if (!over && ActiveControlId != id) {
    Input.x = Input.y = kHiddenMouseDip;
  } else {
    Input.x = strip.Bottom() - saved.y;
    Input.y = saved.x - strip.x;
  }
  DrawWaveform(deck, Rc{0, 0, strip.h, strip.w});
  SetPointerSpace(outer);
  const bool consumed = saved.pressed && (!Input.pressed || ActiveControlId == id);
  Input = saved;
  if (consumed) Input.pressed = false;
  SetTransform(previous);
  DrawText(DeckLetter(deck), Rc{strip.x, strip.Bottom() - kStripLetterRiseDip, strip.w, kStripLetterHeightDip},
           kStripLetterSize, ColorOf(DeckColour(deck)), kAlignCenter, true, kFontBahnschrift);
}

// ---- row drag, banners, tooltip --------------------------------------------------------------

void FollowRowDrag() {
  if (!RowDrag.dragging && ActiveControlId == kBrowserRowsControlId && Input.held &&
      std::hypot(Input.x - BrowserScreen.pressX, Input.y - BrowserScreen.pressY) > kDragStartDip)
    RowDrag.dragging = true;
  if (RowDrag.dragging && Input.held) {
    RowDrag.targetDeck = DeckAtPoint(Input.x, Input.y);
    const LibraryFile* file = SelectedFile();
    DrawDragLabel(file ? file->title : std::wstring());
  }
  if (Input.released && RowDrag.dragging) DropRow(Input.x, Input.y);
  // Every release ends the drag, and so does a button no longer held (the release was lost).
  if (Input.released || !Input.held) RowDrag = LibraryRowDrag{};
}

Banner CurrentBanner(double nowSeconds) {
  if (midiLearnOn) {
    const wchar_t* text = midiLearnTarget == kBrowseKnobLearnTarget ? kLearnBrowseText
                          : midiLearnTarget != 0                    ? kLearnControlText
                                                                    : kLearnStartText;
    return Banner{Translate(text), Pal.Yellow};
  }
  if (Sandbox.on) {
    const int seconds = static_cast<int>(std::clamp(std::floor(nowSeconds - Sandbox.since), 0.0, kMaxBannerSeconds));
    const int minutes = seconds / kSecondsPerMinute, rest = seconds % kSecondsPerMinute;
    return Banner{TranslateFormat(kSandboxText, minutes, rest), Pal.Pink};
  }
  return Banner{};
}

TooltipBox PlaceTooltip(const std::wstring& text, Rc anchor, float windowWidth) {
  TooltipBox tip;
  float widest = 0;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(L'\n', start);
    tip.lines.push_back(Translate(std::wstring_view(text).substr(start, end - start)));
    widest = std::max(widest, TextWidth(tip.lines.back(), kTooltipTextSize, false, kFontSegoeUi));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  const float w = widest + kTooltipPadDip;
  const float h = kTooltipLineDip * static_cast<float>(tip.lines.size()) + kTooltipVPadDip;
  const float x = std::min(windowWidth - w - kTooltipEdgeDip, std::max(kTooltipEdgeDip, anchor.Right() - w));
  tip.box = Rc{x, anchor.Bottom() + kTooltipGapDip, w, h};
  return tip;
}

// ---- the layout cycle ------------------------------------------------------------------------

void CycleLayout() {
  Settings.Layout = NextLayout(Settings.Layout);
  ShowStatus(VariantOf(Settings.Layout).statusText);
  SaveSettings();
}

// ---- the frame -------------------------------------------------------------------------------

void DrawMainScreen() {
  const float width = TargetWidth(), height = TargetHeight();
  Screen = ComputeLayout(width, height, Settings.Layout, Settings.Vertical, Settings.FourDecks);
  // The panels register this frame's drop rows as they draw.
  SidebarListRows.clear();
  SingerRows.clear();

  const bool barKept = DrawBackdropAndPanels();
  if (Input.pressed && !MouseOver(BrowserScreen.searchBox)) SearchFocused = false;

  const OverlayRow* overlay = FirstOpenOverlay();
  {
    const MouseHidden hidden(overlay != nullptr && overlay->hidesPanels);
    DrawTopBar(TopBarRect(width), barKept);
    DrawLanes();
    const Rc phase{kMarginDip, Screen.phaseMeterY, width - 2 * kMarginDip, kPhaseMeterHeightDip};
    for (int side = 0; side < 2; ++side)
      if (ValidDeck(SideSlots[side])) NotePartDrawn(kDeckMotionPart + SideSlots[side], phase);
    DrawPhaseMeter(phase);
    DrawPanels();
    RememberPanels();
  }

  FollowRowDrag();
  // The browser's area holds still while nothing but the browser, the backdrop and the status
  // line draws there and none of them moves with time.
  bool still = VariantOf(Screen.layout).browser && Screen.browser.h > 0 && !BrowserMoves && !RowDrag.dragging &&
               Tooltip.text.empty() && CurrentBanner(MonotonicSeconds()).text.empty();
  DrawBanner(width);
  QueueTooltip(width);
  // Looked up again: a panel may have opened one during this frame.
  if (const OverlayRow* shown = FirstOpenOverlay()) {
    shown->draw();
    RedrawNextFrame();  // forms, pages and the tour have carets, pulses and worker progress of their own
    still = false;
  }
  const uint64_t asked = RedrawRequestCount();
  DrawStatusLine(width);
  if (still && RedrawRequestCount() == asked) {
    // The side lights pulse with the beat as far down as they reach.
    const float top = std::max({Screen.browser.y, SideLightArea(Screen.leftPanel).Bottom(),
                                SideLightArea(Screen.rightPanel).Bottom()});
    if (top < height) NoteStillArea(Rc{0, top, width, height - top});
  }
}
