#include "settings/tour.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/palette.h"
#include "base/settings.h"
#include "screens/browser_screen.h"
#include "screens/layout.h"
#include "settings/demo_tracks.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/widgets.h"

bool TourOpen = false;
int32_t TourStep = 0;

namespace {

struct TourCard {
  const wchar_t* title;
  const wchar_t* lines[3];
};
constexpr TourCard kTourCards[kTourSteps] = {
    {L"Welcome to Veldmix",
     {L"A quick look round: eight steps, about a minute.",
      L"Skip it if you like \u2014 Help (?) \u25B8 TAKE THE TOUR brings it back.", nullptr}},
    {L"Your music",
     {L"Add a music folder with the + beside FOLDERS. Veldmix reads the tags and",
      L"works out each track's tempo and key in the background.",
      L"No music to hand? Add two demo tracks Veldmix makes for you."}},
    {L"Loading a track",
     {L"Drag a track onto a deck, double-click it, or pick it and press \u25C0 LOAD A or LOAD B \u25B6.",
      L"Type in the search box to find one \u2014 even bpm:124 or key:8A.", nullptr}},
    {L"The decks",
     {L"PLAY and CUE, SYNC to match the other deck's tempo, the pitch fader and the jog wheel.",
      L"The pads below do hot cues, loops, rolls, AI stems and the sampler.", nullptr}},
    {L"The waveforms",
     {L"Both tracks scroll past the centre line. When their beat markers line up,",
      L"the beats are matched \u2014 or just press SYNC and let Veldmix do it.", nullptr}},
    {L"The mixer",
     {L"Gain, three-band EQ (right-click a knob to cut that band), the filter, the volume",
      L"faders and the cross-fader. CUE puts a deck in your headphones.", nullptr}},
    {L"The top bar",
     {L"AUTOMIX mixes a playlist for you, REC records your set, GO LIVE streams it and",
      L"KARAOKE runs a karaoke night. The CPU light turns red if the sound ever drops out.", nullptr}},
    {L"You're ready",
     {L"Settings (\u2699) has your sound outputs, controllers and looks \u2014 plug in a DJ controller",
      L"and Veldmix picks it up. Help (?) lists every shortcut. Have fun!", nullptr}},
};

constexpr Color kDimming = ColorOf(0x020305, 0.76f);
constexpr Color kCardFill = ColorOf(0x14171E);
constexpr Color kCardBand = ColorOf(0x1B1F29);
constexpr float kLineSize = 12.5f;
constexpr float kCardMinWidth = 580.0f;
constexpr float kMargin = 16.0f;  // card to the window's sides
constexpr float kEdge = 8.0f;     // card to the window's top and bottom
constexpr float kGap = 14.0f;     // card to the spotlight

// The clamp with the lower bound winning when the range is empty (a window shorter than the card).
float ClampLowFirst(float v, float lo, float hi) { return std::max(lo, std::min(v, hi)); }

bool HasArea(Rc r) { return r.w > 0 && r.h > 0; }

void DrawDemoButton(Rc r) {
  const int32_t state = DemoTrackState.load();
  const wchar_t* label = L"ADD 2 DEMO TRACKS";
  bool lit = false;
  if (state == kDemoMaking) label = L"MAKING THEM\u2026", lit = true;
  else if (state == kDemoDone || state == kDemoAnnounced) label = L"DEMO TRACKS ADDED \u2713", lit = state == kDemoAnnounced;
  if (Button(kTourDemoId, r, label, ColorOf(Pal.Green), lit, 10.5f) && state != kDemoMaking && state != kDemoAnnounced) {
    StartDemoTracks();
  }
}

void DrawSpotlight(Rc s, float W, float H) {
  FillRect(Rc{0, 0, W, std::max(s.y, 0.0f)}, kDimming);
  FillRect(Rc{0, s.y + s.h, W, H - (s.y + s.h)}, kDimming);
  FillRect(Rc{0, s.y, std::max(s.x, 0.0f), s.h}, kDimming);
  FillRect(Rc{s.x + s.w, s.y, W - (s.x + s.w), s.h}, kDimming);
  const Color accent = ColorOf(Pal.DeckA);
  StrokeRoundedRect(Rc{s.x + 1, s.y + 1, s.w - 2, s.h - 2}, 8, accent, 2);
  const float pulse = 0.7f + 0.3f * std::sin(static_cast<float>(FrameClockMs % 1884956) / 300.0f);
  GlowOutline(s, 8, WithAlpha(accent, pulse), 3);
}

}  // namespace

TourLayout CurrentTourLayout() {
  TourLayout l;
  l.w = Screen.width, l.h = Screen.height;
  l.library = Screen.browser;
  l.tableLeft = BrowserScreen.tableLeft;
  l.leftDeck = Screen.leftPanel;
  l.mixer = Screen.mixer;
  for (int d = 0; d < 4; ++d) l.waveforms[d] = Screen.lanes[d];
  l.fourDecks = Screen.fourDecks;
  return l;
}

Rc TourSpotlight(int32_t step, const TourLayout& l) {
  const bool library = l.library.w > 0;
  switch (step) {
    case 1:
      return library ? Rc{l.library.x, l.library.y, 214, l.library.h} : Rc{};
    case 2:
      return library ? Rc{l.tableLeft - 6, l.library.y + 2, l.library.x + l.library.w - l.tableLeft + 2, l.library.h - 4}
                     : Rc{};
    case 3:
      return l.leftDeck;
    case 4: {
      Rc box;
      bool any = false;
      for (int d = 0; d < (l.fourDecks ? 4 : 2); ++d) {
        const Rc r = l.waveforms[d];
        if (r.w <= 0) continue;
        if (!any) {
          box = r, any = true;
          continue;
        }
        const float x0 = std::min(box.x, r.x), y0 = std::min(box.y, r.y);
        const float x1 = std::max(box.x + box.w, r.x + r.w), y1 = std::max(box.y + box.h, r.y + r.h);
        box = Rc{x0, y0, x1 - x0, y1 - y0};
      }
      return box;
    }
    case 5:
      return l.mixer;
    case 6:
      return Rc{0, 0, l.w, 40};
    case 7:
      return Rc{l.w - 78, 7, 70, 26};
    default:
      return Rc{};
  }
}

Rc TourCardRect(Rc s, float w, float h, float winW, float winH) {
  if (!HasArea(s)) return Rc{(winW - w) / 2, (winH - h) / 2, w, h};
  const float x = ClampLowFirst(s.x + s.w / 2 - w / 2, kMargin, winW - w - kMargin);
  float y = s.y + s.h + kGap;
  if (y + h >= winH - kEdge) {
    y = s.y - kGap - h;
    if (y <= kEdge) y = ClampLowFirst(s.y + s.h / 2 - h / 2, kEdge, winH - h - kEdge);
  }
  return Rc{x, y, w, h};
}

void OpenTour() {
  TourOpen = true;
  TourStep = 0;
  SettingsOpen = false;
  HelpOpen = false;
}

void CloseTour() {
  TourOpen = false;
  Settings.TourDone = true;
  SaveSettings();
}

void DrawTour() {
  TourStep = std::clamp(TourStep, 0, kTourSteps - 1);
  const int32_t step = TourStep;
  // The glows of the dimmed screen would otherwise shine through the dimming and the card.
  GlowStartIndex = GlowList.size();
  const TourLayout layout = CurrentTourLayout();
  const float W = layout.w, H = layout.h;
  Rc s = TourSpotlight(step, layout);
  const bool spot = HasArea(s);
  if (spot) {
    s = Rc{s.x - 4, s.y - 4, s.w + 8, s.h + 8};
    DrawSpotlight(s, W, H);
  } else {
    FillRect(Rc{0, 0, W, H}, kDimming);
  }

  const TourCard& card = kTourCards[step];
  int lines = 0;
  float widest = 0;
  for (const wchar_t* line : card.lines) {
    if (line == nullptr) continue;
    ++lines;
    widest = std::max(widest, MeasureTextWidth(Translate(line), kLineSize, false, 0));
  }
  float cw = std::max(widest + 56, kCardMinWidth);
  if (cw > W - 32) cw = W - 32;
  const float ch = 130.0f + 21.0f * lines;
  const Rc c = TourCardRect(spot ? s : Rc{}, cw, ch, W, H);
  const Color accent = ColorOf(Pal.DeckA);

  FillRoundedRect(c, 10, kCardFill);
  FillGradientRoundedRect(Rc{c.x, c.y, c.w, 60}, 10, kCardBand, kCardFill);
  StrokeRoundedRect(Rc{c.x + 0.5f, c.y + 0.5f, c.w - 1, c.h - 1}, 10, WithAlpha(accent, 0.6f), 1);
  GlowOutline(c, 10, WithAlpha(accent, 0.4f), 2);
  DrawText(card.title, Rc{c.x + 26, c.y + 20, c.w - 132, 28}, 18, ColorOf(Pal.Text), kAlignLeft, true, 0);
  for (int i = 0; i < kTourSteps; ++i)
    FillCircle(c.x + c.w - 114 + 12.0f * i, c.y + 34, i == step ? 4.0f : 2.5f, ColorOf(i <= step ? Pal.DeckA : Pal.Faint));
  int k = 0;
  for (const wchar_t* line : card.lines) {
    if (line == nullptr) continue;
    DrawText(line, Rc{c.x + 26, c.y + 60 + 21.0f * k, c.w - 52, 20}, kLineSize, ColorOf(Pal.Dim), kAlignLeft, false, 0);
    ++k;
  }

  const float yb = c.y + c.h - 46;
  if (step == 0) {
    if (Button(kTourSkipId, Rc{c.x + 26, yb, 110, 32}, L"SKIP", ColorOf(Pal.Dim), false, 11)) CloseTour();
    if (Button(kTourNextId, Rc{c.x + c.w - 176, yb, 150, 32}, L"START THE TOUR  \u25B8", accent, true, 11.5f)) TourStep = 1;
    return;
  }
  if (Button(kTourSkipId, Rc{c.x + 26, yb, 110, 32}, L"SKIP TOUR", ColorOf(Pal.Dim), false, 10.5f)) {
    CloseTour();
    return;
  }
  if (step == 1) DrawDemoButton(Rc{c.x + 144, yb, std::max(c.w - 388, 150.0f), 32});
  if (Button(kTourBackId, Rc{c.x + c.w - 236, yb, 84, 32}, L"\u25C2  BACK", ColorOf(Pal.Text), false, 10.5f))
    TourStep = std::max(step - 1, 0);
  const bool last = step == kTourSteps - 1;
  if (Button(kTourNextId, Rc{c.x + c.w - 144, yb, 118, 32}, last ? L"FINISH" : L"NEXT  \u25B8", accent, true, 11.5f)) {
    if (last) CloseTour();
    else TourStep = step + 1;
  }
}
