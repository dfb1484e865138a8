#include "settings/help_screen.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "base/palette.h"
#include "engine/control_input.h"
#include "engine/side_slots.h"
#include "settings/settings_screen.h"
#include "settings/tour.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

bool HelpOpen = false;

namespace {

struct DeckShortcut {
  const wchar_t* action;
  const wchar_t* left;
  const wchar_t* right;
};
constexpr DeckShortcut kDeckShortcuts[] = {
    {L"Cue (hold to preview)", L"Z", L","},
    {L"Play / pause", L"X", L"."},
    {L"Sync", L"C", L"/"},
    {L"Loop on / off", L"V", L"M"},
    {L"Pads", L"1\u20134", L"7\u20130"},
    {L"Censor (hold)", L"Q", L"P"},
    {L"Memory cue (Shift: delete)", L"D", L"J"},
    {L"Call memory cue \u25C0 \u25B6", L"A S", L"K L"},
    {L"Switch layer (4 decks)", L"[", L"]"},
};

struct GlobalShortcut {
  const wchar_t* key;
  const wchar_t* action;
};
constexpr GlobalShortcut kGlobalShortcuts[] = {
    {L"\u2190 \u2192", L"Cross-fader"}, {L"Ctrl \u2190 \u2192", L"Glide to A / B"},
    {L"\u2191 \u2193", L"Browse"},      {L"Enter", L"Load"},
    {L"Space", L"Prelisten"},           {L"Ctrl F", L"Search"},
    {L"Ctrl R", L"Record"},             {L"Ctrl M", L"Automix"},
    {L"Ctrl Z", L"Undo"},               {L"Ctrl L", L"Layout"},
    {L"F10", L"Visualiser"},            {L"F11", L"Full screen"},
    {L"Ctrl K", L"Karaoke panel"},      {L"F9", L"Karaoke screen"},
};

struct TipCard {
  const wchar_t* title;
  uint32_t Palette::*colour;  // null: kPadsColour
  const wchar_t* lines[4];
};
constexpr uint32_t kPadsColour = 0xFF3D6E;
constexpr TipCard kTipCards[] = {
    {L"DECKS", &Palette::DeckA,
     {L"Drag a track onto a deck, or double-click it", L"Drag the jog or waveform to scratch",
      L"Right-click a title: auto cues, double, tags", L"4 decks: click the letter by the badge"}},
    {L"PADS", nullptr,
     {L"Empty pad stores a cue \u2014 or the loop (\u27F3)", L"Right-click a cue to name or colour it",
      L"STEMS: AI vocals, drums, bass, melody", L"SAMPLER: right-click to capture a loop"}},
    {L"EFFECTS", &Palette::Purple,
     {L"Three slots per deck, plus MASTER FX", L"Click the beat value to change timing",
      L"CENSOR drops you back in on time", L"Shift+click SYNC to lock the tempo"}},
    {L"MIXER", &Palette::DeckB,
     {L"Right-click HIGH / MID / LOW to kill", L"Click A or B to glide the cross-fader",
      L"Double-click a knob to reset it", L"Hold Shift for fine control"}},
    {L"LIBRARY", &Palette::Green,
     {L"bpm:120-128  key:8A  rating:4+  color:red", L"AI \u00B7 TOOLS: AI sets, mix order, duplicates",
      L"Import rekordbox, Serato, Traktor, VirtualDJ", L"Right-click a list to import / export"}},
    {L"SHOW", &Palette::Red,
     {L"GO LIVE: Icecast, or video to YouTube / Twitch", L"REC saves WAV, MP3 or FLAC + tracklist",
      L"Automix mixes out at each outro", L"Controllers: plug in \u2014 or MIDI, click, move it"}},
};

constexpr Color kCapTop = ColorOf(0x2E3340);
constexpr Color kCapBottom = ColorOf(0x1A1D25);
constexpr Color kRule = ColorOf(0x2A2F3B);
constexpr Color kColumnTop = ColorOf(0x191C24);
constexpr Color kColumnBottom = ColorOf(0x12141A);
constexpr Color kColumnEdge = ColorOf(0x262B36);
constexpr float kInset = 28.0f;
constexpr float kCardGap = 12.0f;
constexpr float kMinTipLine = 17.0f;
constexpr float kTipBoxHeight = 62.0f;

void DrawDeckTable(Rc col, Color left, Color right, float* lastRowCy) {
  const float innerX = col.x + 16, innerR = col.Right() - 16;
  const float top = col.y + 14;
  DrawHelpSectionHeader(Rc{innerX, 0, innerR - innerX, 0}, top, L"DECKS", ColorOf(Pal.Dim));
  const float leftCx = innerR - 103, rightCx = innerR - 33;
  DrawText(L"LEFT", Rc{leftCx - 35, top, 70, 16}, 9.5f, left, kAlignCenter, true, kFontSegoeUi);
  DrawText(L"RIGHT", Rc{rightCx - 35, top, 70, 16}, 9.5f, right, kAlignCenter, true, kFontSegoeUi);
  float cy = top + 36;
  for (size_t i = 0; i < std::size(kDeckShortcuts); ++i, cy += 30) {
    const DeckShortcut& row = kDeckShortcuts[i];
    if (i % 2 == 0) FillRoundedRect(Rc{innerX - 6, cy - 14, innerR - innerX + 12, 28}, 5, ColorOf(0xFFFFFF, 0.025f));
    DrawText(row.action, Rc{innerX, cy - 10, leftCx - 40 - innerX, 20}, 12.5f, ColorOf(Pal.Text), kAlignLeft, false,
             kFontSegoeUi);
    // Centred on the column: measure first, then draw at the centred left edge.
    for (auto [text, cx, colour] : {std::tuple{row.left, leftCx, left}, std::tuple{row.right, rightCx, right}}) {
      const float w = std::max(MeasureTextWidth(Translate(text), 11, true, kFontSegoeUi) + 16, 24.0f);
      DrawKeyCap(cx - w / 2, cy, text, colour, 24);
    }
  }
  *lastRowCy = cy - 30;
}

void DrawGlobalList(Rc col, float headerY) {
  const float innerX = col.x + 16, innerR = col.Right() - 16;
  DrawHelpSectionHeader(Rc{innerX, 0, innerR - innerX, 0}, headerY, L"EVERYWHERE", ColorOf(Pal.Dim));
  const float half = (innerR - innerX) / 2;
  float cy = headerY + 28;
  for (size_t i = 0; i < std::size(kGlobalShortcuts); i += 2, cy += 30) {
    if (cy > col.Bottom() - kTipBoxHeight - 24) break;  // a short window cuts the list above the TIP box
    for (size_t j = i; j < std::min(i + 2, std::size(kGlobalShortcuts)); ++j) {
      const float x = innerX + (j - i) * half;
      const float w = DrawKeyCap(x, cy, kGlobalShortcuts[j].key, ColorOf(Pal.Purple), 22);
      DrawText(kGlobalShortcuts[j].action, Rc{x + w + 10, cy - 10, half - w - 14, 20}, 12, ColorOf(Pal.Dim), kAlignLeft,
               false, kFontSegoeUi);
    }
  }
}

void DrawTipBox(Rc col, Color left, Color right) {
  const Rc box{col.x + 12, col.Bottom() - kTipBoxHeight - 12, col.w - 24, kTipBoxHeight};
  FillRoundedRect(box, 6, LinearGradientBrush(WithAlpha(left, 0.12f), WithAlpha(right, 0.12f), PointF{0, box.y},
                                              PointF{0, box.Bottom()}, false));
  StrokeRoundedRect(box, 6, kColumnEdge, 1);
  DrawText(L"TIP", Rc{box.x + 14, box.y + 9, 60, 13}, 9.5f, ColorOf(Pal.Yellow), kAlignLeft, true, kFontSegoeUi);
  DrawText(L"Right-click almost anything for more options \u2014", Rc{box.x + 14, box.y + 26, box.w - 28, 16}, 11.5f,
           ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  DrawText(L"pads, decks, knobs, lists and tracks.", Rc{box.x + 14, box.y + 42, box.w - 28, 16}, 11.5f,
           ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
}

void DrawTipCards(Rc area) {
  const HelpTipGrid grid = HelpTipGridFor(area.w);
  const float cw = (area.w - kCardGap * (grid.columns - 1)) / grid.columns;
  const float ch = (area.h - kCardGap * (grid.rows - 1)) / grid.rows;
  for (int i = 0; i < static_cast<int>(std::size(kTipCards)); ++i) {
    const TipCard& card = kTipCards[i];
    const Color c = ColorOf(card.colour != nullptr ? Pal.*card.colour : kPadsColour);
    const Rc r{area.x + (i % grid.columns) * (cw + kCardGap), area.y + (i / grid.columns) * (ch + kCardGap), cw, ch};
    FillGradientRoundedRect(r, 8, ColorOf(0x191C24), ColorOf(0x111318));
    FillGradientRoundedRect(Rc{r.x, r.y, r.w, std::min(44.0f, r.h)}, 8, WithAlpha(c, 0.14f), WithAlpha(c, 0.0f));
    StrokeRoundedRect(r, 8, WithAlpha(c, 0.28f), 1);
    FillRoundedRect(Rc{r.x + 14, r.y + 12, 4, 16}, 2, c);
    GlowRoundedRect(Rc{r.x + 14, r.y + 12, 4, 16}, 2, WithAlpha(c, 0.5f));
    DrawText(card.title, Rc{r.x + 30, r.y + 12, r.w - 44, 16}, 12, c, kAlignLeft, true, kFontSegoeUi);
    // Lines never squeeze below a readable height; on a short window the ones that do not fit go.
    const float lh = std::clamp((r.h - 58) / 4, kMinTipLine, 30.0f);
    for (int k = 0; k < 4 && 46 + (k + 1) * lh <= r.h; ++k)
      DrawText(card.lines[k], Rc{r.x + 30, r.y + 46 + k * lh, r.w - 34, lh}, FittingSize(card.lines[k], r.w - 34, 12.5f),
               ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  }
}

// The left column of the body: the shortcut tables and the TIP box.
Rc ShortcutColumn(Rc panel) {
  const float width = panel.w - 2 * kInset;
  const float top = panel.y + 92, bottom = panel.Bottom() - 20;
  return Rc{panel.x + kInset, top, std::min(0.42f * width, 430.0f), bottom - top};
}

}  // namespace

Rc HelpPanelRect(float W, float H) {
  const float w = std::min(W - 40, 1120.0f), h = std::min(H - 24, 740.0f);
  return Rc{W / 2 - w / 2, std::max(H / 2 - h / 2, 12.0f), w, h};
}

Rc HelpTipArea(Rc panel) {
  const Rc col = ShortcutColumn(panel);
  const float x = col.Right() + 22;
  return Rc{x, col.y, panel.Right() - kInset - x, col.h};
}

float DrawKeyCap(float x, float cy, std::wstring_view text, Color c, float h) {
  const float w = std::max(MeasureTextWidth(Translate(text), 11, true, kFontSegoeUi) + 16, h);
  const Rc key{x, cy - h / 2, w, h};
  FillRoundedRect(Rc{key.x, key.y + 2, w, h}, 5, ColorOf(0x000000, 0.55f));
  FillGradientRoundedRect(key, 5, kCapTop, kCapBottom);
  StrokeRoundedRect(Rc{key.x + 0.5f, key.y + 0.5f, w - 1, h - 1}, 5, WithAlpha(c, 0.55f), 1);
  DrawLine(x + 5, key.y + 1.5f, x + w - 5, key.y + 1.5f, ColorOf(0xFFFFFF, 0.12f), 1);
  DrawText(text, key, 11, Lighten(c, 0.3f), kAlignCenter, true, kFontSegoeUi);
  GlowOutline(key, 5, WithAlpha(c, 0.25f), 1.5f);
  return w;
}

void DrawHelpSectionHeader(Rc r, float y, std::wstring_view text, Color c) {
  DrawText(text, Rc{r.x, y, r.w, 16}, 10, c, kAlignLeft, true, kFontSegoeUi);
  const float tw = MeasureTextWidth(Translate(text), 10, true, kFontSegoeUi);
  if (r.x + tw + 10 < r.x + r.w) DrawLine(r.x + tw + 10, y + 8, r.x + r.w, y + 8, kRule, 1);
}

HelpTipGrid HelpTipGridFor(float width) { return width > 560 ? HelpTipGrid{2, 3} : HelpTipGrid{1, 6}; }

void DrawHelp() {
  const float W = TargetWidth(), H = TargetHeight();
  const Rc shape = HelpPanelRect(W, H);
  const Rc panel = DrawModalBackdrop(shape.w, shape.h);
  const float left = panel.x + kInset, right = panel.Right() - kInset, width = right - left;
  const Color leftSide = ColorOf(DeckColour(SideSlots[kLeftSide]));
  const Color rightSide = ColorOf(DeckColour(SideSlots[kRightSide]));

  // Header.
  const std::wstring title = L"How to mix with Veldmix";
  DrawText(title, Rc{left, panel.y + 18, 500, 30}, 21, ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  const float titleEnd = left + std::min(500.0f, MeasureTextWidth(Translate(title), 21, true, kFontSegoeUi));
  const Rc pill{titleEnd + 12, panel.y + 24, 58, 18};
  FillGradientRoundedRect(pill, 9, WithAlpha(leftSide, 0.55f), WithAlpha(leftSide, 0.25f));
  DrawTextAsIs(L"v" VELDMIX_VERSION, pill, 10, ColorOf(Pal.Text), kAlignCenter, true, kFontSegoeUi);
  // The credit is a text of its own, so each half finds its translation.
  DrawText(TranslateFormat(L"{}  \u00B7  {}", UiText(L"Shortcuts and tips \u2014 press F1 any time"),
                           UiText(L"Made by Orrelby")),
           Rc{left, panel.y + 48, width - 360, 18}, 12, ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  const float ruleY = panel.y + 74;
  FillRect(Rc{left, ruleY, width, 2},
           LinearGradientBrush(WithAlpha(leftSide, 0.9f), WithAlpha(rightSide, 0.9f), PointF{left, 0}, PointF{right, 0}, false));
  GlowLine(left, ruleY + 1, left + width / 2, ruleY + 1, leftSide, 2);
  GlowLine(left + width / 2, ruleY + 1, right, ruleY + 1, rightSide, 2);
  if (Button(kHelpTourId, Rc{right - 340, panel.y + 26, 140, 30}, L"TAKE THE TOUR", ColorOf(Pal.DeckA), false, 10.5f)) {
    OpenTour();
    return;
  }
  DrawText(L"close", Rc{right - 140, panel.y + 24, 50, 24}, 11, ColorOf(Pal.Faint), kAlignRight, false, kFontSegoeUi);
  DrawKeyCap(right - 84, panel.y + 36, L"F1", ColorOf(Pal.Text), 24);
  DrawKeyCap(right - 44, panel.y + 36, L"ESC", ColorOf(Pal.Text), 24);

  // Body: the shortcut column on the left, the tip cards on the right.
  const Rc col = ShortcutColumn(panel);
  FillGradientRoundedRect(col, 8, kColumnTop, kColumnBottom);
  StrokeRoundedRect(col, 8, kColumnEdge, 1);
  float lastRowCy = 0;
  DrawDeckTable(col, leftSide, rightSide, &lastRowCy);
  DrawGlobalList(col, lastRowCy + 40);
  DrawTipBox(col, leftSide, rightSide);
  DrawTipCards(HelpTipArea(panel));

  if (Input.pressed && ActiveControlId == kNoActiveControl) {
    HelpOpen = false;
    Input.pressed = false;
  }
}
