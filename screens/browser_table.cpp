#include "screens/browser_table.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>

#include "base/musical_keys.h"
#include "base/palette.h"
#include "base/settings.h"
#include "base/track_info.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_snapshot.h"
#include "engine/sandbox.h"
#include "library/now_playing.h"
#include "library/track_view.h"
#include "platform/paths.h"
#include "screens/cover_art.h"
#include "screens/main_screen.h"
#include "screens/track_menu.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int kWheelRowsPerNotch = 3;
constexpr float kRowRadius = 4.0f;
constexpr float kSelectedTopAlpha = 0.34f, kSelectedBottomAlpha = 0.18f;
constexpr float kSelectedEdgeAlpha = 0.55f, kSelectedGlowAlpha = 0.35f, kSelectedGlowWidth = 1.5f;
constexpr float kHoverAlpha = 0.05f, kOddRowAlpha = 0.02f;
constexpr float kColourBarWidth = 3.0f, kColourBarHeight = 18.0f, kColourBarRadius = 1.5f, kColourGlowAlpha = 0.5f;
constexpr float kStopMarkDip = 8.0f;
constexpr float kNumberTextSize = 10.0f;
constexpr float kPlayedAlpha = 0.7f, kPlayedTextSize = 12.0f, kPlayedOpacity = 0.45f;
constexpr float kDeckDotRadius = 2.8f, kDeckDotStepDip = 6.0f;
constexpr float kArtDip = 20.0f, kArtAlpha = 0.04f, kArtRadius = 3.0f, kArtShiftDip = 27.0f;
constexpr float kTitleXDip = 32.0f, kTitleSize = 12.5f, kCellTextSize = 12.0f, kEnergyTextSize = 11.0f;
constexpr float kEnergyBarW = 7.0f, kEnergyBarH = 8.0f, kEnergyBarStep = 9.0f, kEnergyBarLeftOfRating = 53.0f;
constexpr float kEnergyLitAlpha = 0.9f, kEnergyDarkAlpha = 0.12f, kEnergyBarRadius = 1.5f;
constexpr float kStarSize = 11.0f, kStarFaintAlpha = 0.3f, kStarAlpha = 0.85f;
constexpr float kEmptyTextSize = 13.0f;
constexpr float kThumbRadius = 3.0f, kTrackHitLeftDip = 4.0f, kTrackHitRightDip = 10.0f;
constexpr int kSecondsPerMinute = 60;

// A thumb drag: the scroll row and pointer y at the press.
int DragStartRow = 0;
float DragStartY = 0;

// The track colours as rows show them (index 0 has none).
constexpr uint32_t kTrackDisplayColours[kTrackColourCount] = {0,        0xFF4FB8, 0xFF3D4F, 0xFF8A2B, 0xFFD23D,
                                                              0x2BF57A, 0x22E0F0, 0x3B7BFF, 0xA66BFF};

// The display colour of a record's colour index, clamped to 0..8.
uint32_t TrackColourOf(int index) { return kTrackDisplayColours[std::clamp(index, 0, kTrackColourCount - 1)]; }

bool LoadedOnDeck(const std::wstring& path) {
  for (const DeckSnapshot& shot : DeckSnapshots)
    if (shot.track && shot.track->path == path) return true;
  return false;
}

struct RowState {
  const LibraryFile* file = nullptr;
  int fileIndex = -1;
  int position = 0;  // in ViewOrder
  Rc rect;
  bool hovered = false;
  bool prelistened = false;
  bool loaded = false;
  bool played = false;
};

void DrawRowBackground(const RowState& row) {
  const Rc r = row.rect;
  if (row.fileIndex == Selection) {
    const uint32_t deckA = Pal.DeckA;
    FillGradientRoundedRect(r, kRowRadius, ColorOf(deckA, kSelectedTopAlpha), ColorOf(deckA, kSelectedBottomAlpha));
    StrokeRoundedRect(Rc{r.x + 0.5f, r.y + 0.5f, r.w - 1, r.h - 1.5f}, kRowRadius, ColorOf(deckA, kSelectedEdgeAlpha),
                      1);
    GlowOutline(r, kRowRadius, ColorOf(deckA, kSelectedGlowAlpha), kSelectedGlowWidth);
  } else if (row.hovered) {
    FillRoundedRect(r, kRowRadius, Color{1, 1, 1, kHoverAlpha});
  } else if (row.position % 2 == 1) {
    FillRoundedRect(r, kRowRadius, Color{1, 1, 1, kOddRowAlpha});
  }
}

void DrawFirstCell(const BrowserLayout& l, const RowState& row, Rc cell) {
  const float cx = l.contentX, y = row.rect.y;
  if (row.prelistened) {
    FillRect(Rc{cell.CenterX() - kStopMarkDip / 2, cell.CenterY() - kStopMarkDip / 2, kStopMarkDip, kStopMarkDip},
             ColorOf(Pal.Yellow));
  } else if (row.hovered) {
    FillTriangle(PointF{cx + 10, y + 7}, PointF{cx + 10, y + 17}, PointF{cx + 18, y + 12}, ColorOf(Pal.Text));
  } else if (SortColumn == kSortSourceOrder) {
    DrawTextAsIs(fmt::format(L"{}", row.file->index + 1), cell, kNumberTextSize, ColorOf(Pal.Faint), kAlignCenter,
                 false, kFontBahnschrift);
  } else if (row.played && !row.loaded) {
    DrawTextAsIs(L"✓", cell, kPlayedTextSize, ColorOf(Pal.Green, kPlayedAlpha), kAlignCenter, false, kFontSegoeUi);
  }
  if (row.hovered) return;
  int k = 0;
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    const DeckSnapshot& shot = DeckSnapshots[deck];
    if (!shot.track || shot.track->path != row.file->path) continue;
    const float x = cx + 6 + kDeckDotStepDip * static_cast<float>(k % 3), dotY = y + 12;
    FillCircle(x, dotY, kDeckDotRadius, ColorOf(DeckColour(deck)));
    GlowCircle(x, dotY, kDeckDotRadius * 2, ColorOf(DeckColour(deck)));
    ++k;
  }
}

// The stars; returns true when a press on them was taken.
bool DrawStars(const BrowserLayout& l, const RowState& row, const TrackInfo* info, float opacity) {
  const Rc stars = BrowserStarsRect(l, row.rect);
  const bool hovering = row.hovered && MouseOver(stars);
  NotePointerFollowed(stars);
  const int rating = info ? info->rating : 0;
  const int hover = hovering ? HoveredStar(stars.x, Input.x) : 0;
  const int shown = hovering ? hover : rating;
  for (int i = 0; i < kBrowserStars; ++i) {
    const Rc cell{stars.x + kBrowserStarDip * static_cast<float>(i), row.rect.y, kBrowserStarDip, row.rect.h};
    if (i < shown)
      DrawTextAsIs(L"★", cell, kStarSize, ColorOf(Pal.Yellow, hovering ? 1.0f : kStarAlpha * opacity), kAlignCenter,
                   false, kFontSegoeUi);
    else if (hovering || rating != 0)
      DrawTextAsIs(L"☆", cell, kStarSize, ColorOf(Pal.Yellow, kStarFaintAlpha), kAlignCenter, false, kFontSegoeUi);
  }
  if (!hovering || midiLearnOn || !PressStarts(stars)) return false;
  ActiveControlId = kBrowserStarsId;
  TrackInfo& record = TrackInfoFor(row.file->path);
  record.rating = RatingAfterClick(record.rating, hover);
  if (SortColumn == kSortRating) RebuildView();
  return true;
}

void DrawEnergy(const BrowserLayout& l, Rc rowRect, float level, float opacity) {
  const Rc rating = l.headerCells[5], energy = l.headerCells[4];
  const float firstBar = rating.x - kEnergyBarLeftOfRating;
  const uint32_t colours[5] = {Pal.Green, Pal.Green, Pal.Yellow, Pal.Yellow, Pal.Red};
  const int e = static_cast<int>(level);
  for (int j = 0; j < 5; ++j) {
    const Rc bar{firstBar + kEnergyBarStep * static_cast<float>(j), rowRect.y + 8, kEnergyBarW, kEnergyBarH};
    FillRoundedRect(bar, kEnergyBarRadius,
                    ColorOf(colours[j], 2 * j < e ? kEnergyLitAlpha * opacity : kEnergyDarkAlpha));
  }
  const Rc number{energy.x + 4, rowRect.y, firstBar - 6 - (energy.x + 4), rowRect.h};
  DrawTextAsIs(fmt::format(L"{}", e), number, kEnergyTextSize, ColorOf(Pal.Dim, opacity), kAlignRight, false,
               kFontBahnschrift);
}

Rc NumberCell(Rc column, Rc row) { return Rc{column.x + 4, row.y, column.w - 8, row.h}; }

void DrawRowTexts(const BrowserLayout& l, const RowState& row, const TrackInfo* info, float opacity) {
  const Rc r = row.rect;
  float titleX = l.contentX + kTitleXDip;
  if (Settings.Art) {
    const Rc art{titleX, r.y + 2, kArtDip, kArtDip};
    if (const std::shared_ptr<Bitmap> cover = RequestArt(row.file->path)) DrawImage(cover, art, opacity, kArtRadius);
    else FillRoundedRect(art, kArtRadius, Color{1, 1, 1, kArtAlpha});
    titleX += kArtShiftDip;
  }
  const Rc artistCol = l.headerCells[1];
  const float titleW = artistCol.x - 4 - titleX;
  if (!row.file->title.empty() && titleW > 0)
    DrawTextAsIs(row.file->title, Rc{titleX, r.y, titleW, r.h}, kTitleSize, ColorOf(Pal.Text, opacity), kAlignLeft,
                 false, kFontSegoeUi);
  if (!row.file->artist.empty() && artistCol.w - 8 > 0)
    DrawTextAsIs(row.file->artist, Rc{artistCol.x + 4, r.y, artistCol.w - 8, r.h}, kTitleSize,
                 ColorOf(Pal.Dim, opacity), kAlignLeft, false, kFontSegoeUi);
  if (info && info->analyzed) {
    DrawTextAsIs(BpmText(info->bpm, 1), NumberCell(l.headerCells[2], r), kCellTextSize,
                 ColorOf(Pal.Text, opacity), kAlignRight, false, kFontBahnschrift);
    DrawTextAsIs(KeyName(info->key, Settings.Camelot), NumberCell(l.headerCells[3], r), kCellTextSize,
                 ColorOf(Pal.Purple, opacity), kAlignRight, false, kFontBahnschrift);
    DrawEnergy(l, r, static_cast<float>(EnergyLevel(info->loudness)), opacity);
  }
  if (row.file->duration > 0) {
    const long seconds = static_cast<long>(row.file->duration);
    DrawTextAsIs(fmt::format(L"{}:{:02}", seconds / kSecondsPerMinute, seconds % kSecondsPerMinute),
                 NumberCell(l.headerCells[6], r), kCellTextSize, ColorOf(Pal.Dim, opacity), kAlignRight, false,
                 kFontBahnschrift);
  }
}

// A row's presses: the stars first, then the prelisten icon, then the row itself.
void RowInput(const BrowserLayout& l, const RowState& row, bool starsTook) {
  if (!row.hovered || midiLearnOn) return;
  if (Input.rightPressed && ActiveControlId == kNoActiveControl) {
    Selection = row.fileIndex;
    const int file = row.fileIndex;
    QueueDeferredAction([file] { TrackMenu(file); });
    return;
  }
  if (starsTook || !PressStarts(row.rect)) return;
  if (MouseOver(BrowserPlayCell(l, row.rect))) {
    ActiveControlId = kBrowserRowPlayId;
    TogglePrelisten(row.file->path);
    return;
  }
  ActiveControlId = kBrowserRowsControlId;
  Selection = row.fileIndex;
  BrowserScreen.pressX = Input.x, BrowserScreen.pressY = Input.y;
  RowDrag.dragging = false;
  if (Input.doubleClicked) LoadSelectedTrack(-1);
}

void DrawRow(const BrowserLayout& l, RowState row) {
  const std::wstring& path = row.file->path;
  row.hovered = ActiveControlId == kNoActiveControl && MouseOver(row.rect) &&
                MouseOver(l.list);
  row.prelistened = !Prelisten.path.empty() && Prelisten.path == path;
  row.loaded = LoadedOnDeck(path);
  row.played = NowPlaying.playedThisSession.count(PathKey(path)) != 0;
  const TrackInfo* info = FindTrackInfo(path);
  const float opacity = row.played && !row.loaded ? kPlayedOpacity : 1.0f;

  DrawRowBackground(row);
  if (info && std::clamp(info->color, 0, kTrackColourCount - 1) != 0) {
    const Color c = ColorOf(TrackColourOf(info->color));
    FillRoundedRect(Rc{l.contentX, row.rect.y + 3, kColourBarWidth, kColourBarHeight}, kColourBarRadius, c);
    GlowOutline(Rc{l.contentX, row.rect.y + 3, kColourBarWidth, kColourBarHeight}, kColourBarRadius,
                WithAlpha(c, kColourGlowAlpha), 1);
  }
  DrawFirstCell(l, row, BrowserPlayCell(l, row.rect));
  DrawRowTexts(l, row, info, opacity);
  const bool starsTook = DrawStars(l, row, info, opacity);
  RowInput(l, row, starsTook);
}

void DrawScrollbar(const BrowserLayout& l, int rows) {
  if (rows <= l.visibleRows) return;
  const Rc track = l.scrollTrack;
  const Rc hit{track.x - kTrackHitLeftDip, track.y, kTrackHitLeftDip + kTrackHitRightDip, track.h};
  const ScrollThumb thumb = ScrollbarThumb(l, rows, ScrollRow);
  if (!midiLearnOn && ActiveControlId == kNoActiveControl && PressStarts(hit)) {
    ActiveControlId = kBrowserScrollbarId;
    if (Input.y < thumb.top || Input.y >= thumb.top + thumb.height) ScrollRow = ScrollRowForJump(l, rows, Input.y);
    DragStartRow = ScrollRow;
    DragStartY = Input.y;
  } else if (ActiveControlId == kBrowserScrollbarId && Input.held) {
    ScrollRow = ScrollRowForDrag(l, rows, DragStartRow, DragStartY, Input.y);
  }
  const ScrollThumb now = ScrollbarThumb(l, rows, ScrollRow);
  FillRoundedRect(track, kThumbRadius, ColorOf(Pal.Background));
  FillRoundedRect(Rc{track.x, now.top, track.w, now.height}, kThumbRadius,
                  ColorOf(ActiveControlId == kBrowserScrollbarId ? Pal.Dim : Pal.Faint));
}

}  // namespace

int ScrollRowAfterWheel(int scrollRow, float wheel, int rows, int visibleRows) {
  const long moved = static_cast<long>(scrollRow) - std::lroundf(wheel * kWheelRowsPerNotch);
  return static_cast<int>(std::clamp<long>(moved, 0, std::max(0, rows - visibleRows)));
}

void DrawTrackTable(const BrowserLayout& l) {
  const int rows = static_cast<int>(ViewOrder.size());
  VisibleRows = l.visibleRows;
  const float wheel = MouseOver(l.list) && ActiveControlId == kNoActiveControl ? Input.wheel : 0.0f;
  // While a scan still delivers rows (a list shown again keeping its scroll row) only the top
  // bounds the scroll row; the end does once every row is in.
  const int bound = Scanning ? std::max(rows, ScrollRow + VisibleRows) : rows;
  ScrollRow = ScrollRowAfterWheel(ScrollRow, wheel, bound, VisibleRows);

  PushClip(l.list);
  for (int i = 0; i <= VisibleRows; ++i) {
    const int position = ScrollRow + i;
    if (position >= rows) break;
    const int fileIndex = ViewOrder[static_cast<size_t>(position)];
    if (fileIndex < 0 || static_cast<size_t>(fileIndex) >= ViewItems.size()) continue;
    RowState row;
    row.file = &ViewItems[static_cast<size_t>(fileIndex)];
    row.fileIndex = fileIndex;
    row.position = position;
    row.rect = BrowserRowRect(l, i);
    DrawRow(l, row);
  }
  if (rows == 0)
    DrawText(EmptyViewText(), l.list, kEmptyTextSize, ColorOf(Pal.Faint), kAlignCenter, false, kFontSegoeUi);
  PopClip();

  controlKinds[kBrowserListId] = kControlKindRelative;
  TakeLearnClick(kBrowserListId, l.list);
  MidiLearnMark(kBrowserListId, l.list);
  DrawScrollbar(l, rows);
}
