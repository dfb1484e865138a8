#include "screens/deck_panel.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/musical_keys.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "control/action_table.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "engine/grid_edits.h"
#include "engine/jog_loops.h"
#include "engine/side_slots.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "screens/cover_art.h"
#include "screens/deck_menus.h"
#include "screens/grid_editor.h"
#include "screens/layout.h"
#include "screens/main_screen.h"
#include "screens/overview.h"
#include "screens/pads.h"
#include "screens/pitch_jog.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

namespace {

// ---- panel layout ----
constexpr float kPanelRadiusDip = 8.0f;
constexpr float kInsetDip = 10, kTintHeightDip = 70, kAccentInsetDip = 14;
constexpr float kHeaderTopDip = 10, kHeaderHeightDip = 42;
constexpr float kOverviewTopDip = 58, kOverviewHeightDip = 36;
constexpr float kToolsTopDip = 100, kToolsHeightDip = 24;
constexpr float kMainTopDip = 134, kBottomRowFromEndDip = 50, kBottomRowHeightDip = 40, kMainGapDip = 10;
constexpr float kJogPerformanceDip = 300, kJogDefaultDip = 176;
constexpr float kJogColumnExtraDip = 54, kPitchWidthDip = 44, kPadsGapDip = 14, kPitchFromJogDip = 10;
// The pad section keeps room for its tabs' short labels and a whole effect name beside the jog;
// on a narrow panel the jog gives way, down to kMinJogDip.
constexpr float kMinPadsDip = 232, kMinJogDip = 96;

// ---- header ----
constexpr float kBadgeDip = 32, kBadgeTopDip = 5, kBadgeRadius = 6;
const Color kBadgeText = ColorOf(0x06070A);
constexpr float kSwitchXDip = 36, kSwitchYDip = 9, kSwitchW = 22, kSwitchH = 24;
constexpr float kTextWithSwitchDip = 66, kTextPlainDip = 42;
constexpr float kArtDip = 36, kArtRadiusDip = 4, kArtColumnShiftDip = 44;  // the cover left of the title
constexpr float kNumbersWidthDip = 240;
constexpr float kHintSize = 12, kHintWrappedSize = 10.5f, kHintWrappedLineDip = 13;
constexpr int kHintWrappedLines = 2;
constexpr float kProgressMaxDip = 220;
constexpr int kStars = 5;
constexpr float kStarW = 13, kStarH = 18, kStarRowDip = kStars * kStarW + 1;  // 66
constexpr float kTimeColumnFromRightDip = 230, kTimeColumnW = 118;
constexpr double kBlinkSeconds = 30;
constexpr uint64_t kBlinkPeriodMs = 400;
constexpr float kBpmBoxW = 100, kKeyLineW = 130;

// ---- tools ----
constexpr float kToolGapDip = 4, kToolFont = 10, kMinToolFont = 7.5f;
constexpr int32_t kKeyShiftLimit = 6;
constexpr double kMemoryCueNearSeconds = 0.02;
constexpr double kGridNudgeSeconds = 0.01, kGridNudgeFineSeconds = 0.001;
constexpr int kToolStatusMs = 2800;

// ---- transport and loops ----
constexpr float kTransportGapDip = 8;
constexpr double kCueLitFrames = 1;
constexpr float kLoopButtonW = 30, kLoopFont = 12, kLoopWideW = 58, kLoopDoubleFromEndDip = 96, kLoopBoxGapDip = 6;
const Color kLoopBoxTop = ColorOf(0x07080C), kLoopBoxBottom = ColorOf(0x0E1016), kLoopBoxEdge = ColorOf(0x232833);
const wchar_t* const kLoopSizeLabels[] = {L"1/8", L"1/4", L"1/2", L"1", L"2", L"4", L"8", L"16", L"32"};

Color DeckCol(int deck) { return ColorOf(DeckColour(deck)); }
bool RightClickIn(Rc r) {
  return Input.rightPressed && ActiveControlId == kNoActiveControl && MouseOver(r);
}
double PositionSeconds(const DeckSnapshot& s) {
  return s.track && s.track->sampleRate > 0 ? s.position / s.track->sampleRate : -1;
}
std::wstring KeyNameOf(int32_t key) { return key < 0 ? std::wstring(L"--") : KeyName(key, Settings.Camelot); }

// ---- the tool row's table ----
struct Tool {
  int32_t code;
  const char* name;      // for scripts that find the button
  const wchar_t* label;  // null: the key button's own label
  float width;
  uint32_t (*colour)(int deck);
  bool (*lit)(int deck);
  void (*click)(int deck);
  bool gridEdit;         // a right-click opens the beat-grid editor
};

uint32_t PurpleOf(int) { return Pal.Purple; }
uint32_t DimOf(int) { return Pal.Dim; }
uint32_t RedOf(int) { return Pal.Red; }
uint32_t OwnColour(int deck) { return DeckColour(deck); }
bool Never(int) { return false; }

void ShiftKey(int deck, int32_t by) {
  int32_t& shift = LiveDeckViews[deck].keyShift;
  shift = std::clamp(shift + by, -kKeyShiftLimit, kKeyShiftLimit);
}
bool NearMemoryCue(int deck) {
  const double now = PositionSeconds(DeckSnapshots[deck]);
  for (double cue : LiveDeckViews[deck].memoryCues)
    if (std::fabs(cue - now) <= kMemoryCueNearSeconds) return true;
  return false;
}
void ToggleVinyl(int deck) {
  bool& vinyl = LiveDeckViews[deck].vinylMode;
  vinyl = !vinyl;
  ShowStatus(vinyl ? L"Vinyl mode: touch the controller's jog wheel to scratch"
                   : L"Jog wheel bends the tempo (no scratching)",
             kToolStatusMs);
}
double NudgeSeconds() { return AnyShiftHeld() ? kGridNudgeFineSeconds : kGridNudgeSeconds; }

const Tool kTools[] = {
    {.code = 22, .name = "keylock", .label = L"KEY LOCK", .width = 64, .colour = PurpleOf,
     .lit = [](int d) { return LiveDeckViews[d].keyLock; },
     .click = [](int d) { LiveDeckViews[d].keyLock = !LiveDeckViews[d].keyLock; }, .gridEdit = false},
    {.code = 23, .name = "keydown", .label = L"−", .width = 22, .colour = DimOf, .lit = Never,
     .click = [](int d) { ShiftKey(d, -1); }, .gridEdit = false},
    {.code = 24, .name = "key", .label = nullptr, .width = 58, .colour = PurpleOf,
     .lit = [](int d) { return LiveDeckViews[d].keyShift != 0; },
     .click = [](int d) { LiveDeckViews[d].keyShift = 0; }, .gridEdit = false},
    {.code = 25, .name = "keyup", .label = L"+", .width = 22, .colour = DimOf, .lit = Never,
     .click = [](int d) { ShiftKey(d, 1); }, .gridEdit = false},
    {.code = 26, .name = "match", .label = L"MATCH", .width = 50, .colour = PurpleOf,
     .lit = Never, .click = MatchKey, .gridEdit = false},
    {.code = 27, .name = "slip", .label = L"SLIP", .width = 40, .colour = OwnColour,
     .lit = [](int d) { return DeckSnapshots[d].slipMode; }, .click = ToggleSlip, .gridEdit = false},
    {.code = 28, .name = "rev", .label = L"REV", .width = 38, .colour = OwnColour,
     .lit = [](int d) { return DeckSnapshots[d].reverse && !LiveDeckViews[d].censorHeld; }, .click = ToggleReverse,
     .gridEdit = false},
    {.code = 60, .name = "censor", .label = L"CENSOR", .width = 56, .colour = RedOf,
     .lit = [](int d) { return LiveDeckViews[d].censorHeld; }, .click = CensorPress, .gridEdit = false},
    {.code = 73, .name = "vinyl", .label = L"VINYL", .width = 46, .colour = OwnColour,
     .lit = [](int d) { return LiveDeckViews[d].vinylMode; }, .click = ToggleVinyl, .gridEdit = false},
    {.code = 70, .name = "memprev", .label = L"◂", .width = 22, .colour = RedOf, .lit = Never,
     .click = [](int d) { JumpMemoryCue(d, -1); }, .gridEdit = false},
    {.code = 69, .name = "mem", .label = L"MEM", .width = 40, .colour = RedOf, .lit = NearMemoryCue,
     .click = [](int d) { AnyShiftHeld() ? DeleteMemoryCue(d) : AddMemoryCue(d); }, .gridEdit = false},
    {.code = 71, .name = "memnext", .label = L"▸", .width = 22, .colour = RedOf, .lit = Never,
     .click = [](int d) { JumpMemoryCue(d, 1); }, .gridEdit = false},
    {.code = 29, .name = "tap", .label = L"TAP", .width = 38, .colour = DimOf,
     .lit = Never, .click = TapTempo, .gridEdit = true},
    {.code = 30, .name = "halve", .label = L"½", .width = 26, .colour = DimOf,
     .lit = Never, .click = HalveTempo, .gridEdit = true},
    {.code = 31, .name = "double", .label = L"×2", .width = 26, .colour = DimOf,
     .lit = Never, .click = DoubleTempo, .gridEdit = true},
    {.code = 32, .name = "gridleft", .label = L"◂", .width = 22, .colour = DimOf, .lit = Never,
     .click = [](int d) { NudgeGrid(d, -NudgeSeconds()); }, .gridEdit = true},
    {.code = 33, .name = "gridright", .label = L"▸", .width = 22, .colour = DimOf, .lit = Never,
     .click = [](int d) { NudgeGrid(d, NudgeSeconds()); }, .gridEdit = true},
    {.code = 56, .name = "set1", .label = L"SET 1", .width = 40, .colour = DimOf, .lit = Never,
     .click =
         [](int d) {
           SetDownbeatHere(d);
           ShowStatus(L"Downbeat set — the beat grid now starts here (right-click SET 1 for the grid editor)",
                      kToolStatusMs);
         },
     .gridEdit = true},
};
constexpr int kToolCount = static_cast<int>(sizeof(kTools) / sizeof(kTools[0]));
static_assert(kToolCount == kDeckTools, "kDeckTools counts the tool table");

}  // namespace

// ---- arithmetic ----

int64_t HeaderTenths(double seconds) {
  return seconds > 0 ? static_cast<int64_t>(std::floor(seconds * 10 + 1e-6)) : 0;
}

std::wstring HeaderTime(double seconds) {
  const int64_t tenths = HeaderTenths(seconds);
  return fmt::format(L"{}:{:02}.{}", tenths / 600, (tenths % 600) / 10, tenths % 10);
}

void ToolRowWidths(float rowWidth, float* widths, int count, const float* baseWidths, float* gap) {
  float sum = 0;
  for (int i = 0; i < count; ++i) sum += baseWidths[i] + kToolGapDip;
  const float scale = sum > rowWidth + kToolGapDip && sum > 0 ? (rowWidth + kToolGapDip) / sum : 1.0f;
  for (int i = 0; i < count; ++i) widths[i] = baseWidths[i] * scale;
  *gap = kToolGapDip * scale;
}

std::wstring KeyButtonLabel(const std::wstring& keyName, int32_t shift) {
  if (shift > 0) return fmt::format(L"{} +{}", keyName, shift);
  if (shift < 0) return fmt::format(L"{} {}", keyName, shift);
  return keyName;
}

DeckPanelLayout LayOutDeckPanel(int deck, Rc r, bool performanceLayout) {
  DeckPanelLayout out;
  const float left = r.x + kInsetDip, inner = r.w - 2 * kInsetDip;
  out.header = {left, r.y + kHeaderTopDip, inner, kHeaderHeightDip};
  out.overview = {left, r.y + kOverviewTopDip, inner, kOverviewHeightDip};
  out.tools = {left, r.y + kToolsTopDip, inner, kToolsHeightDip};
  const float top = r.y + kMainTopDip;
  const float bottom = r.Bottom() - kBottomRowFromEndDip;
  const float main = std::max(0.0f, bottom - kMainGapDip - top);
  const float roomForJog = inner - kJogColumnExtraDip - kPadsGapDip - kMinPadsDip;
  const float jog = std::min({performanceLayout ? kJogPerformanceDip : kJogDefaultDip, main,
                              std::max(roomForJog, kMinJogDip)});
  const float column = jog + kJogColumnExtraDip;
  float columnX = 0, padsX = 0, padsW = 0;
  if (deck % 2 == 0) {
    columnX = left;
    out.pitch = {left, top, kPitchWidthDip, main};
    out.jogX = left + column - jog / 2;
    padsX = left + column + kPadsGapDip;
    padsW = r.Right() - kInsetDip - padsX;
  } else {
    columnX = r.Right() - kInsetDip - column;
    out.pitch = {columnX + jog + kPitchFromJogDip, top, kPitchWidthDip, main};
    out.jogX = columnX + jog / 2;
    padsX = left;
    padsW = columnX - kPadsGapDip - left;
  }
  out.jogY = top + main / 2;
  out.jogRadius = jog / 2;
  out.pads = {padsX, top, padsW, main};
  out.transport = {columnX, bottom, column, kBottomRowHeightDip};
  out.loops = {padsX, bottom, padsW, kBottomRowHeightDip};
  return out;
}

TransportLayout LayOutTransport(Rc r) {
  const float u = r.w - 2 * kTransportGapDip;
  return TransportLayout{.cue = Rc{r.x, r.y, 0.3f * u, r.h},
                         .play = Rc{r.x + 0.3f * u + kTransportGapDip, r.y, 0.4f * u, r.h},
                         .sync = Rc{r.x + 0.7f * u + 2 * kTransportGapDip, r.y, 0.3f * u, r.h}};
}

LoopControlsLayout LayOutLoopControls(Rc r) {
  const float doubleX = r.Right() - kLoopDoubleFromEndDip;
  const float boxX = r.x + kLoopButtonW + kLoopBoxGapDip;
  return LoopControlsLayout{.halve = Rc{r.x, r.y, kLoopButtonW, r.h},
                            .size = Rc{boxX, r.y, doubleX - kLoopBoxGapDip - boxX, r.h},
                            .twice = Rc{doubleX, r.y, kLoopButtonW, r.h},
                            .loop = Rc{r.Right() - kLoopWideW, r.y, kLoopWideW, r.h}};
}

void LayOutDeckTools(Rc r, Rc (&buttons)[kDeckTools]) {
  float base[kToolCount], widths[kToolCount], gap = 0;
  for (int i = 0; i < kToolCount; ++i) base[i] = kTools[i].width;
  ToolRowWidths(r.w, widths, kToolCount, base, &gap);
  float x = r.x;
  for (int i = 0; i < kToolCount; ++i) {
    buttons[i] = Rc{x, r.y, widths[i], r.h};
    x += widths[i] + gap;
  }
}

const char* DeckToolName(int index) { return index >= 0 && index < kToolCount ? kTools[index].name : nullptr; }

// ---- the panel ----

void DrawDeck(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  const Color colour = DeckCol(deck);
  const float pulse = BeatPulse[deck];
  DrawPanel(r, kPanelRadiusDip);
  FillGradientRoundedRect(Rc{r.x + 1, r.y + 1, r.w - 2, kTintHeightDip}, kPanelRadiusDip,
                          WithAlpha(colour, 0.1f + 0.06f * pulse), WithAlpha(colour, 0));
  FillRoundedRect(Rc{r.x + kAccentInsetDip, r.y, r.w - 2 * kAccentInsetDip, 2}, 1, Lighten(colour, 0.2f));
  GlowRoundedRect(Rc{r.x + kAccentInsetDip, r.y - 1, r.w - 2 * kAccentInsetDip, 4}, 2,
                  WithAlpha(colour, 0.8f + 0.2f * pulse));
  if (DeckSnapshots[deck].playing) GlowOutline(r, kPanelRadiusDip, WithAlpha(colour, 0.08f + 0.28f * pulse), 1.5f);
  if (RowDropTarget() == deck) {
    StrokeRoundedRect(r.Inset(1, 1), kPanelRadiusDip, colour, 2);
    GlowOutline(r, kPanelRadiusDip, colour, 3);
  }

  const DeckPanelLayout l = LayOutDeckPanel(deck, r, Settings.Layout == kLayoutPerformance);
  DrawDeckHeader(deck, l.header);
  DrawOverview(deck, l.overview);
  DrawDeckTools(deck, l.tools);
  DrawPitchFader(deck, l.pitch);
  DrawJog(deck, l.jogX, l.jogY, l.jogRadius);
  DrawPads(deck, l.pads);
  DrawTransport(deck, l.transport);
  DrawLoopControls(deck, l.loops);
}

// ---- header ----

namespace {

void DrawBadgeAndSwitch(int deck, Rc r, float pulse) {
  const Color colour = DeckCol(deck);
  const Rc badge{r.x, r.y + kBadgeTopDip, kBadgeDip, kBadgeDip};
  FillGradientRoundedRect(badge, kBadgeRadius, Lighten(colour, 0.3f),
                          Color{colour.r * 0.85f, colour.g * 0.85f, colour.b * 0.85f, 1});
  DrawTextAsIs(DeckLetter(deck), badge, 18, kBadgeText, kAlignCenter, true, kFontBahnschrift);
  GlowRoundedRect(badge, kBadgeRadius, WithAlpha(colour, 0.45f + 0.5f * pulse));
  if (!Settings.FourDecks) return;
  const int other = deck ^ 2;  // the other deck of this side
  const Rc button{r.x + kSwitchXDip, r.y + kSwitchYDip, kSwitchW, kSwitchH};
  if (Button(kSideSwitchControlBase + deck % 2, button, DeckLetter(other), DeckCol(other), false, 11))
    SwapSideDeck(deck % 2);
  if (DeckSnapshots[other].playing) {
    const Color green = ColorOf(Pal.Green);
    FillCircle(button.Right() - 3, button.y + 3, 2.5f, green);
    GlowCircle(button.Right() - 3, button.y + 3, 2.5f, green);
  }
}

void DrawRating(const Track& track, float columnRight, float y) {
  const TrackInfo* info = FindTrackInfo(track.path);
  const int rating = info ? info->rating : 0;
  const Rc row{columnRight - kStarRowDip, y, kStarRowDip, kStarH};
  const bool hovering = !midiLearnOn && MouseIn(row);
  NotePointerFollowed(row);
  const int under = hovering ? std::clamp(static_cast<int>((Input.x - row.x) / kStarW) + 1, 1, kStars) : 0;
  if (!midiLearnOn && PressStarts(row)) {
    ActiveControlId = kRatingControlId;
    TrackInfo& record = TrackInfoFor(track.path);
    record.rating = record.rating == under ? 0 : under;
  }
  const Color yellow = ColorOf(Pal.Yellow);
  for (int i = 1; i <= kStars; ++i) {
    const bool set = i <= rating;
    const bool lit = hovering && i <= under;
    const float alpha = lit ? 1.0f : set ? 0.85f : 0.3f;
    DrawTextAsIs(set || lit ? L"★" : L"☆", Rc{row.x + (i - 1) * kStarW, y, kStarW, kStarH}, 11.5f,
                 WithAlpha(yellow, alpha), kAlignCenter, false, kFontSegoeUi);
  }
}

void DrawNumbers(int deck, Rc r, float pulse) {
  const DeckSnapshot& s = DeckSnapshots[deck];
  const Track& track = *s.track;
  const double rate = track.sampleRate > 0 ? track.sampleRate : 1;
  const double elapsed = std::max(0.0, s.position / rate);
  const double remaining = std::max(0.0, static_cast<double>(track.frames) / rate - elapsed);
  const float timeX = r.Right() - kTimeColumnFromRightDip;
  DrawTextAsIs(HeaderTime(elapsed), Rc{timeX, r.y, kTimeColumnW, 24}, 20, ColorOf(Pal.Text), kAlignRight, false,
               kFontBahnschrift);
  const bool blinkOn = s.playing && remaining < kBlinkSeconds && BlinkLit(FrameClockMs, kBlinkPeriodMs);
  const Rc remainBox{timeX, r.y + 23, kTimeColumnW, 18};
  const std::wstring remain = L"-" + HeaderTime(remaining);
  DrawTextAsIs(remain, remainBox, 13, ColorOf(blinkOn ? Pal.Red : Pal.Dim), kAlignRight, false, kFontBahnschrift);
  if (blinkOn) GlowText(remain, remainBox, 13, ColorOf(Pal.Red), kAlignRight, false);

  const Color colour = DeckCol(deck);
  const Rc bpmBox{r.Right() - kBpmBoxW, r.y, kBpmBoxW, 26};
  const std::wstring bpm = BpmText(DeckBpm(deck), 2);
  DrawTextAsIs(bpm, bpmBox, 23, Lighten(colour, 0.2f), kAlignRight, true, kFontBahnschrift);
  GlowText(bpm, bpmBox, 23, WithAlpha(colour, 0.55f + 0.45f * pulse), kAlignRight, true);

  const std::wstring line =
      fmt::format(L"{:+.1f}%   {}", TempoOffsetOf(LiveDeckViews[deck]) * 100, KeyNameOf(DeckKey(deck)));
  DrawTextAsIs(line, Rc{r.Right() - kKeyLineW, r.y + 25, kKeyLineW, 16}, 11, ColorOf(Pal.Dim), kAlignRight, true,
               kFontBahnschrift);
}

// An empty deck shows no numbers, so its hint may use the header's whole width; when even that is
// too narrow (a long translation) it wraps onto a second, smaller line below.
void DrawEmptyDeckHint(Rc r) {
  DrawWrappingHint(L"Drag a track here or double-click one in the browser", r, kHintSize, kHintWrappedSize,
                   kHintWrappedLineDip, kHintWrappedLines, ColorOf(Pal.Faint));
}

}  // namespace

void DrawDeckHeader(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  const DeckSnapshot& s = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const float pulse = BeatPulse[deck];
  if (RightClickIn(r)) QueueDeferredAction([deck] { DeckMenu(deck); });
  DrawBadgeAndSwitch(deck, r, pulse);
  float column = r.x + (Settings.FourDecks ? kTextWithSwitchDip : kTextPlainDip);
  if (s.track && !view.loading && Settings.DeckArt) {
    if (const std::shared_ptr<Bitmap> art = RequestArt(s.track->path)) {
      const Rc box{column, r.y + 3, kArtDip, kArtDip};
      DrawImage(art, box, 1, kArtRadiusDip);
      StrokeRoundedRect(box, kArtRadiusDip, Color{1, 1, 1, 0.12f}, 1);
      column += kArtColumnShiftDip;
    }
  }
  const float width = r.Right() - kNumbersWidthDip - column;

  if (view.loading) {
    DrawTextAsIs(Translate(L"Loading “") + view.title + L"”", Rc{column, r.y + 2, width, 20}, 15, ColorOf(Pal.Text),
                 kAlignLeft, true, kFontSegoeUi);
    const float length = std::min(kProgressMaxDip, width);
    const float progress = std::clamp(view.loadProgress ? view.loadProgress->load() : 0.0f, 0.0f, 1.0f);
    const Rc track{column, r.y + 28, length, 5};
    FillRoundedRect(track, 2.5f, ColorOf(Pal.Background));
    const Rc filled{column, r.y + 28, length * progress, 5};
    FillRoundedRect(filled, 2.5f, DeckCol(deck));
    GlowRoundedRect(filled, 2.5f, WithAlpha(DeckCol(deck), 0.9f));
    return;
  }
  if (!s.track) {
    if (!view.error.empty())
      DrawTextAsIs(TranslateFilled(view.error), Rc{column, r.y + 1, width, 22}, 14, ColorOf(Pal.Red), kAlignLeft, true,
                   kFontSegoeUi);
    else
      DrawText(L"Empty deck", Rc{column, r.y + 1, width, 22}, 14, ColorOf(Pal.Dim), kAlignLeft, true, kFontSegoeUi);
    DrawEmptyDeckHint(Rc{column, r.y + 22, r.Right() - column, 18});
    return;
  }
  const Track& track = *s.track;
  DrawTextAsIs(track.title.empty() ? FileNameOf(track.path) : track.title, Rc{column, r.y + 1, width, 22}, 15,
               ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  const Rc artist{column, r.y + 22, width - 72, 18};
  if (track.artist.empty())
    DrawText(L"Unknown artist", artist, 12, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  else
    DrawTextAsIs(track.artist, artist, 12, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  DrawRating(track, column + width, r.y + 22);
  DrawNumbers(deck, r, pulse);
}

// ---- tool row ----

// The labels' fitted sizes are kept (a few dozen labels show): translating and measuring each
// one every frame allocated its text and the measure's key.
float FittedLabelSize(std::wstring_view label, float size, float minSize, float width) {
  struct Fitted {
    std::wstring label;
    int language;
    float size, minSize, width, fitted;
  };
  constexpr size_t kMaxFitted = 256;  // a resize makes new widths: the old ones are dropped
  static std::vector<Fitted> kept;
  const int language = UiLanguage();
  for (const Fitted& f : kept)
    if (f.width == width && f.size == size && f.minSize == minSize && f.language == language && f.label == label)
      return f.fitted;
  const float shown = TextWidth(Translate(label), size, true, kFontBahnschrift);
  const float fitted = shown > width ? std::max(minSize, size * width / shown) : size;
  if (kept.size() >= kMaxFitted) kept.clear();
  kept.push_back(Fitted{std::wstring(label), language, size, minSize, width, fitted});
  return fitted;
}

void DrawDeckTools(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  Rc buttons[kDeckTools];
  LayOutDeckTools(r, buttons);
  const bool hasTrack = DeckSnapshots[deck].track != nullptr;
  const std::wstring keyLabel = KeyButtonLabel(KeyNameOf(DeckKey(deck)), LiveDeckViews[deck].keyShift);
  for (int i = 0; i < kToolCount; ++i) {
    const Tool& tool = kTools[i];
    const Rc button = buttons[i];
    const int id = DeckControlId(deck, tool.code);
    const bool openEditor = tool.gridEdit && hasTrack && RightClickIn(button);
    const std::wstring_view label = tool.label ? std::wstring_view(tool.label) : std::wstring_view(keyLabel);
    // A row scaled down to a narrow panel draws its labels smaller rather than cut.
    if (Button(id, button, label, ColorOf(tool.colour(deck)), tool.lit(deck),
               FittedLabelSize(label, kToolFont, kMinToolFont, button.w)))
      tool.click(deck);
    if (tool.code == 60 && IsReleased(id)) CensorRelease(deck);
    if (openEditor) GridEditorDeck = deck;
  }
}

// ---- transport ----

void DrawTransport(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  const DeckSnapshot& s = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const TransportLayout parts = LayOutTransport(r);
  const Rc cue = parts.cue, play = parts.play, sync = parts.sync;

  const int cueId = DeckControlId(deck, kCueCode);
  const bool cueLit = s.track && !s.playing && std::fabs(s.position - s.cuePoint) <= kCueLitFrames;
  if (Button(cueId, cue, L"CUE", ColorOf(Pal.Yellow), cueLit, 14)) CuePress(deck);
  if (IsReleased(cueId)) CueRelease(deck);

  const Color green = ColorOf(Pal.Green);
  if (Button(DeckControlId(deck, kPlayCode), play, L"", green, s.playing, 14)) PlayPause(deck);
  const float cx = play.CenterX(), cy = play.CenterY();
  if (s.playing) {
    const Color bars = Lighten(green, 0.35f);
    FillRect(Rc{cx - 8, cy - 8, 5, 16}, bars);
    FillRect(Rc{cx + 3, cy - 8, 5, 16}, bars);
  } else {
    FillTriangle(PointF{cx - 6, cy - 9}, PointF{cx - 6, cy + 9}, PointF{cx + 9, cy}, green);
  }

  const bool agree = DeckInSync(deck);
  const bool syncLit = view.syncLock || agree;
  const bool rightClick = RightClickIn(sync);
  if (Button(DeckControlId(deck, kSyncCode), sync, view.syncLock ? L"LOCK" : L"SYNC",
             syncLit ? green : DeckCol(deck), syncLit, 13))
    ApplyDeckAction(deck, ShiftedDeckOffset(kSyncOffset, AnyShiftHeld()), PressEvent());
  if (rightClick) ApplyDeckAction(deck, kSyncLockOffset, PressEvent());
}

// ---- loop controls ----

void DrawLoopControls(int deck, Rc r) {
  if (r.w <= 0 || r.h <= 0 || OffScreen(r)) return;
  const DeckSnapshot& s = DeckSnapshots[deck];
  const DeckView& view = LiveDeckViews[deck];
  const Color dim = ColorOf(Pal.Dim), green = ColorOf(Pal.Green);
  const float pulse = BeatPulse[deck];
  const LoopControlsLayout parts = LayOutLoopControls(r);
  if (Button(DeckControlId(deck, kLoopHalveCode), parts.halve, L"÷2", dim, false, kLoopFont)) ChangeLoopSize(deck, -1);

  const Rc box = parts.size;
  if (box.w > 0) {
    FillGradientRoundedRect(box, 5, kLoopBoxTop, kLoopBoxBottom);
    StrokeRoundedRect(box, 5, s.loopOn ? WithAlpha(green, 0.6f) : kLoopBoxEdge, 1);
    const int index = std::clamp(view.loopSizeIndex, 0, kLoopSizeCount - 1);
    const Rc label{box.x, box.y + 3, box.w, box.h - 16};
    DrawTextAsIs(kLoopSizeLabels[index], label, 16, s.loopOn ? green : ColorOf(Pal.Text), kAlignCenter, true,
                 kFontBahnschrift);
    if (s.loopOn) {
      GlowText(kLoopSizeLabels[index], label, 16, WithAlpha(green, 0.8f), kAlignCenter, true);
      // An outline glow: a filled one would drown the label it surrounds.
      GlowOutline(box, 5, WithAlpha(green, 0.4f + 0.4f * pulse), 2);
    }
    DrawText(L"BEATS", Rc{box.x, box.Bottom() - 15, box.w, 12}, 8.5f, dim, kAlignCenter, false, kFontSegoeUi);
  }
  if (Button(DeckControlId(deck, kLoopDoubleCode), parts.twice, L"×2", dim, false, kLoopFont)) ChangeLoopSize(deck, 1);
  if (Button(DeckControlId(deck, kLoopCode), parts.loop, L"LOOP", green, s.loopOn && view.rollIndex < 0, kLoopFont))
    ToggleAutoLoop(deck);
}
