#include "settings/settings_screen.h"

#include <algorithm>
#include <utility>

#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "settings/about_page.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/scroll_view.h"
#include "ui/widgets.h"

bool SettingsOpen = false;
int32_t SettingsPage = 0;
std::vector<AudioDevice> SettingsOutputDevices;
std::vector<AudioDevice> SettingsInputDevices;

const std::array<SettingsTab, kSettingsTabs> SettingsTabs = {{
    {L"Audio", 0xE767, L"Sound cards, latency, the microphone and recording."},
    {L"Mixing", 0xE9E9, L"How the mixer, automix and effects behave."},
    {L"Library", 0xE8F1, L"Importing, exporting and finding your music."},
    {L"Broadcast", 0xE93E, L"Streaming your sets live \u2014 audio and video."},
    {L"Controllers", 0xE7FC, L"DJ controllers, MIDI mapping and turntables."},
    {L"Look", 0xE771, L"Colours, layout, language and the projector visualiser."},
    {L"Karaoke", 0xE720, L"The singers' screen, vocals, lyrics and the camera."},
    {L"Video", 0xE714, L"The video mixer and its output screen."},
    {L"Updates", 0xE896, L"New versions of Veldmix come from the Orrelby web site."},
    {L"About", 0xE946, L"Who made Veldmix, and where to find help."},
}};

namespace {

constexpr float kPanelMaxWidthDip = 1240.0f, kPanelSideMarginDip = 40.0f;
constexpr float kPanelMaxHeightDip = 800.0f, kPanelTopMarginDip = 24.0f;

// Sidebar.
constexpr Color kSidebarTop = ColorOf(0x0B0D12), kSidebarBottom = ColorOf(0x10131A);
constexpr Color kSidebarSeam = ColorOf(0x0D1016);
constexpr float kSidebarRadius = 10.0f, kSidebarSeamDip = 12.0f;
constexpr Color kDivider{1, 1, 1, 0.06f};
constexpr float kDividerInsetDip = 14.0f;
constexpr float kLogoDiscRadius = 8.0f, kLogoGlowRadius = 9.0f, kLogoGlowAlpha = 0.8f;
constexpr float kLogoDiscAx = 30.0f, kLogoDiscBx = 40.0f, kLogoDiscY = 40.0f;
constexpr float kLogoDiscAAlpha = 0.95f, kLogoDiscBAlpha = 0.85f;
constexpr Rc kLogoText{56, 26, 154, 18}, kLogoSub{56, 43, 154, 16};
constexpr float kLogoTextSize = 14.0f, kLogoSubSize = 11.0f;
constexpr float kTabsTopDip = 84.0f, kTabStepDip = 44.0f, kTabXDip = 12.0f;
constexpr float kTabWidthDip = 190.0f, kTabHeightDip = 40.0f, kTabRadius = 8.0f;
constexpr float kTabFillTopAlpha = 0.28f, kTabFillBottomAlpha = 0.12f, kTabEdgeAlpha = 0.55f;
constexpr Color kTabHover{1, 1, 1, 0.05f};
constexpr Rc kTabBar{1, 9, 3, 22};
constexpr Rc kTabGlyph{24, 0, 24, 40}, kTabLabel{58, 0, 138, 40};
constexpr float kTabGlyphSize = 15.0f, kTabLabelSize = 13.0f;
constexpr int32_t kFirstTabId = 3000;
constexpr float kVersionXDip = 24.0f, kVersionRiseDip = 40.0f, kVersionWidthDip = 174.0f, kVersionHeightDip = 18.0f;
constexpr float kVersionSize = 10.5f;
constexpr wchar_t kVersionLine[] = L"v1.0.10  \u00B7  Orrelby";

// Header.
constexpr float kTitleTopDip = 22.0f, kTitleHeightDip = 32.0f, kTitleSize = 22.0f, kTitleDoneRoomDip = 140.0f;
constexpr float kSubtitleTopDip = 56.0f, kSubtitleHeightDip = 18.0f, kSubtitleSize = 12.0f;
constexpr int32_t kDoneId = 90;
constexpr float kDoneWidthDip = 110.0f, kDoneHeightDip = 34.0f, kDoneTopDip = 26.0f, kDoneSize = 12.5f;
constexpr float kAboutTopDip = 104.0f, kAboutBottomPadDip = 24.0f;

// A page taller than the panel scrolls: two rows a wheel notch, its bar in the panel's margin.
constexpr float kWheelStepDip = 2 * kSettingsRowStepDip;
constexpr float kScrollMarkInsetDip = 6.0f;

using PageFunction = void (*)();
// Pages not listed here draw an empty page.
constexpr PageFunction kPages[kSettingsTabs] = {
    DrawAudioPage,    // Audio
    DrawMixingPage,   // Mixing
    DrawLibraryPage,  // Library
    DrawBroadcastPage,  // Broadcast
    DrawControllersPage,  // Controllers
    DrawLookPage,     // Look
    DrawKaraokePage,  // Karaoke
    DrawVideoPage,    // Video
    DrawUpdatesPage,  // Updates
    nullptr,          // About: drawn on its own below
};

void DrawSidebar(Rc panel) {
  const Rc side{panel.x, panel.y, kSettingsSidebarDip, panel.h};
  FillGradientRoundedRect(side, kSidebarRadius, kSidebarTop, kSidebarBottom);
  FillRect(Rc{side.Right() - kSidebarSeamDip, side.y + 1, kSidebarSeamDip, side.h - 2}, kSidebarSeam);
  DrawLine(side.Right(), side.y + kDividerInsetDip, side.Right(), side.Bottom() - kDividerInsetDip, kDivider, 1);

  const Color deckA = ColorOf(Pal.DeckA), deckB = ColorOf(Pal.DeckB);
  FillCircle(side.x + kLogoDiscAx, side.y + kLogoDiscY, kLogoDiscRadius, WithAlpha(deckA, kLogoDiscAAlpha));
  FillCircle(side.x + kLogoDiscBx, side.y + kLogoDiscY, kLogoDiscRadius, WithAlpha(deckB, kLogoDiscBAlpha));
  GlowCircle(side.x + kLogoDiscAx, side.y + kLogoDiscY, kLogoGlowRadius, WithAlpha(deckA, kLogoGlowAlpha));
  GlowCircle(side.x + kLogoDiscBx, side.y + kLogoDiscY, kLogoGlowRadius, WithAlpha(deckB, kLogoGlowAlpha));
  DrawTextAsIs(L"VELDMIX", Rc{side.x + kLogoText.x, side.y + kLogoText.y, kLogoText.w, kLogoText.h}, kLogoTextSize,
               ColorOf(Pal.Text), kAlignLeft, true, kFontBahnschrift);
  DrawText(L"Settings", Rc{side.x + kLogoSub.x, side.y + kLogoSub.y, kLogoSub.w, kLogoSub.h}, kLogoSubSize,
           ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);

  for (int i = 0; i < kSettingsTabs; ++i) {
    const Rc tab{side.x + kTabXDip, side.y + kTabsTopDip + kTabStepDip * i, kTabWidthDip, kTabHeightDip};
    const int32_t id = kFirstTabId + i;
    RecordWidgetRect(id, tab);
    const bool selected = i == SettingsPage;
    const bool hover = MouseIn(tab);
    if (!midiLearnOn && PressStarts(tab)) {
      ActiveControlId = id;
      SettingsPage = i;
    }
    if (selected) {
      FillGradientRoundedRect(tab, kTabRadius, WithAlpha(deckA, kTabFillTopAlpha),
                              WithAlpha(deckA, kTabFillBottomAlpha));
      StrokeRoundedRect(tab, kTabRadius, WithAlpha(deckA, kTabEdgeAlpha), 1);
      const Rc bar{tab.x + kTabBar.x, tab.y + kTabBar.y, kTabBar.w, kTabBar.h};
      FillRect(bar, deckA);
      GlowRoundedRect(bar, 1, deckA);
    } else if (hover) {
      FillRoundedRect(tab, kTabRadius, kTabHover);
    }
    const Color ink = selected || hover ? ColorOf(Pal.Text) : ColorOf(Pal.Dim);
    const wchar_t glyph[2] = {static_cast<wchar_t>(SettingsTabs[i].glyph), 0};
    DrawTextAsIs(glyph, Rc{tab.x + kTabGlyph.x, tab.y, kTabGlyph.w, kTabGlyph.h}, kTabGlyphSize, ink, kAlignCenter,
                 false, kFontIcons);
    DrawText(SettingsTabs[i].label, Rc{tab.x + kTabLabel.x, tab.y, kTabLabel.w, kTabLabel.h}, kTabLabelSize, ink,
             kAlignLeft, selected, kFontSegoeUi);
  }
  DrawTextAsIs(kVersionLine,
               Rc{side.x + kVersionXDip, side.Bottom() - kVersionRiseDip, kVersionWidthDip, kVersionHeightDip},
               kVersionSize, ColorOf(Pal.Faint), kAlignLeft, false, kFontBahnschrift);
}

// Each page's height as last drawn (unscrolled, from the page view's top) and how far it is scrolled;
// a page is laid out in one pass, so this frame scrolls by last frame's height.
std::array<float, kSettingsTabs> PageHeights{};
std::array<float, kSettingsTabs> PageScrolls{};
// The height of the view the page was last drawn in.
float PageViewHeight = 0;
// The controls the page drew this frame, kept only while a key or controller presses one.
std::vector<std::pair<int, Rc>> PressedLog;

// The offset that shows a control pressed by a key or controller this frame.
float ScrollToPressed(Rc view, float scroll) {
  for (const auto& [id, r] : PressedLog)
    if (pressedIds.count(id) > 0) return RevealScroll(scroll, r.y + scroll - view.y, r.h, view.h);
  return scroll;
}

void DrawHeader(Rc content) {
  const SettingsTab& tab = SettingsTabs[SettingsPage];
  const float left = content.x + kSettingsMarginDip, inner = content.w - 2 * kSettingsMarginDip;
  DrawText(tab.label, Rc{left, content.y + kTitleTopDip, inner - kTitleDoneRoomDip, kTitleHeightDip}, kTitleSize,
           ColorOf(Pal.Text), kAlignLeft, true, kFontSegoeUi);
  DrawText(tab.subtitle, Rc{left, content.y + kSubtitleTopDip, inner, kSubtitleHeightDip}, kSubtitleSize,
           ColorOf(Pal.Dim), kAlignLeft, false, kFontSegoeUi);
  const Rc done{content.Right() - kSettingsMarginDip - kDoneWidthDip, content.y + kDoneTopDip, kDoneWidthDip,
                kDoneHeightDip};
  if (Button(kDoneId, done, L"DONE", ColorOf(Pal.DeckA), true, kDoneSize)) SettingsOpen = false;
  DrawLine(left, content.y + kSettingsPageTopDip, content.Right() - kSettingsMarginDip,
           content.y + kSettingsPageTopDip, kDivider, 1);
}

}  // namespace

PointF SettingsPanelSize(float windowWidth, float windowHeight) {
  return PointF{std::min(kPanelMaxWidthDip, windowWidth - kPanelSideMarginDip),
                std::min(kPanelMaxHeightDip, windowHeight - kPanelTopMarginDip)};
}

void DrawSettings() {
  SettingsPage = std::clamp<int32_t>(SettingsPage, 0, kSettingsTabs - 1);
  const PointF size = SettingsPanelSize(TargetWidth(), TargetHeight());
  const Rc panel = DrawModalBackdrop(size.x, size.y);
  DrawSidebar(panel);
  // A click on a tab changed the page: the header and page follow in this same frame.
  StartSettingsPage(panel, SettingsPage);
  DrawHeader(Cursor.content);
  if (SettingsPage == kSettingsPageAbout) {
    const float top = Cursor.content.y + kAboutTopDip;
    DrawAbout(Rc{Cursor.content.x + kSettingsMarginDip, top, Cursor.content.w - 2 * kSettingsMarginDip,
                 Cursor.content.Bottom() - kAboutBottomPadDip - top});
    return;
  }
  const int tab = SettingsPage;
  const Rc view = SettingsPageView(panel);
  PageViewHeight = view.h;
  float scroll = WheelScroll(view, PageScrolls[tab], MaxScroll(PageHeights[tab], view.h), kWheelStepDip);
  StartSettingsPage(panel, tab, scroll);
  {
    const ScrollClip clip(view);
    std::vector<std::pair<int, Rc>>* outer = WidgetRectLog;
    PressedLog.clear();
    if (!pressedIds.empty()) WidgetRectLog = &PressedLog;
    if (PageFunction page = kPages[tab]) page();
    WidgetRectLog = outer;
    if (outer) outer->insert(outer->end(), PressedLog.begin(), PressedLog.end());
  }
  EndSection();
  PageHeights[tab] = SettingsPageBottom() - view.y;
  const float most = MaxScroll(PageHeights[tab], view.h);
  scroll = std::clamp(ScrollToPressed(view, scroll), 0.0f, most);
  PageScrolls[tab] = scroll;
  DrawScrollMark(Rc{view.x, view.y, view.w - kScrollMarkInsetDip, view.h}, scroll, most);
}

void ScrollSettingsPage(PageMove move) {
  const int tab = std::clamp<int32_t>(SettingsPage, 0, kSettingsTabs - 1);
  if (tab == kSettingsPageAbout) return;
  const float most = MaxScroll(PageHeights[tab], PageViewHeight);
  // A view's step leaves one row of the view before in sight.
  const float view = std::max(kSettingsRowStepDip, PageViewHeight - kSettingsRowStepDip);
  float to = PageScrolls[tab];
  switch (move) {
    case PageMove::RowUp: to -= kSettingsRowStepDip; break;
    case PageMove::RowDown: to += kSettingsRowStepDip; break;
    case PageMove::ViewUp: to -= view; break;
    case PageMove::ViewDown: to += view; break;
    case PageMove::Top: to = 0; break;
    case PageMove::Bottom: to = most; break;
  }
  PageScrolls[tab] = std::clamp(to, 0.0f, most);
}
