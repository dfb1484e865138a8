#include "screens/browser_screen.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "base/palette.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "control/macros_panel.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "karaoke/karaoke_panel.h"
#include "library/analysis_queue.h"
#include "library/duplicates.h"
#include "library/mix_order.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "screens/browser_seams.h"
#include "screens/browser_table.h"
#include "screens/karaoke_panel.h"
#include "screens/library_menus.h"
#include "screens/sidebar.h"
#include "screens/tag_forms.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/popup_menu.h"
#include "ui/widgets.h"

BrowserScreenState BrowserScreen;
std::vector<ListDropRow> SidebarListRows;

namespace {

constexpr float kPanelRadiusDip = 8.0f;
constexpr float kMarginDip = 8.0f;
constexpr float kSidebarWidthDip = 196.0f;
constexpr float kDividerXDip = 212.0f, kDividerInsetDip = 10.0f;
constexpr float kContentXDip = 222.0f;
constexpr float kKaraokeMinDip = 300.0f, kKaraokeMaxDip = 420.0f;
constexpr float kKaraokeTableDip = 860.0f;  // the table keeps this much before the panel grows
constexpr float kKaraokeGapDip = 10.0f;
constexpr float kCountGapDip = 12.0f;
constexpr float kCompactRoomDip = 200.0f, kToolbarFixedDip = 556.0f;
constexpr float kSearchMinDip = 120.0f, kSearchMaxDip = 300.0f, kSearchShare = 0.32f;
constexpr float kToolbarGapsDip = 30.0f;
constexpr float kToolbarHeightDip = 28.0f, kButtonGapDip = 6.0f, kButtonTextSize = 10.5f;
constexpr float kStopGapDip = 10.0f, kStopTextSize = 11.0f;
constexpr float kBarMinDip = 60.0f, kBarMaxDip = 220.0f, kBarHeightDip = 20.0f, kBarTopDip = 12.0f;
constexpr float kBarRadius = 3.0f, kBarFillAlpha = 0.35f, kBarInsetDip = 6.0f, kBarTextSize = 11.0f;
constexpr float kHeaderTopDip = 44.0f, kHeaderHeightDip = 22.0f, kHeaderRadius = 4.0f;
constexpr uint32_t kHeaderTop = 0x20242E, kHeaderBottom = 0x181B22;  // rgb(32,36,46), rgb(24,27,34)
constexpr float kHeaderTextSize = 10.0f, kHeaderInsetDip = 4.0f, kHashCellDip = 22.0f;
constexpr float kScrollbarDip = 12.0f, kFirstCellDip = 28.0f;
constexpr float kBpmDip = 66.0f, kKeyDip = 56.0f, kEnergyDip = 76.0f, kRatingDip = 76.0f, kTimeDip = 66.0f;
constexpr float kTitleShare = 0.56f;
constexpr float kListTopDip = 68.0f, kListBottomDip = 76.0f;
constexpr float kTrackRightDip = 8.0f, kTrackWidthDip = 6.0f, kThumbMinDip = 24.0f;
constexpr float kStarsLeftOfTimeDip = 68.0f;
constexpr float kStatusMs = 2800.0f;

struct ButtonWidths {
  float load, analyze, match, ai, macros;
};
constexpr ButtonWidths kNormalButtons{84, 90, 96, 92, 80};
constexpr ButtonWidths kCompactButtons{48, 74, 76, 52, 68};

constexpr const wchar_t* kHeaderLabels[kBrowserColumns] = {L"TITLE",  L"ARTIST", L"BPM", L"KEY",
                                                           L"ENERGY", L"RATING", L"TIME"};
constexpr int kHeaderSortKeys[kBrowserColumns] = {kSortTitle,  kSortArtist, kSortBpm,   kSortKey,
                                                  kSortEnergy, kSortRating, kSortLength};
constexpr const wchar_t* kMenuSortNames[] = {L"genre", L"play count", L"last played", L"date added", L"colour"};

// AI tools menu.
enum : uint32_t { kAiBuilder = 1, kAiMixOrder = 2, kAiDuplicates = 3, kAiRelocate = 4, kAiRekordbox = 5 };

// The one clamp the layout uses: the upper bound wins when the bounds cross.
float ClampHi(float v, float lo, float hi) { return std::min(std::max(v, lo), hi); }

uint32_t LeftDeckColour() { return DeckColour(SideSlots[kLeftSide]); }

// What the prelisten strip shows this frame.
struct PrelistenShown {
  bool shown = false, loading = false;
  std::wstring title;
  double progress = 0;
  uint64_t frames = 0;
};

PrelistenShown ReadPrelisten() {
  PrelistenShown p;
  if (!Prelisten.on && !Prelisten.loading) return p;
  p.shown = true;
  p.loading = Prelisten.loading;
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  if (const TrackPtr& t = Engine.prelistenTrack) {
    p.title = t->title;
    p.frames = t->frames;
    p.progress = Engine.prelistenPosition / std::max<double>(1.0, static_cast<double>(t->frames));
  }
  return p;
}

void SeekPrelisten(double fraction) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  if (const TrackPtr& t = Engine.prelistenTrack)
    Engine.prelistenPosition = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(t->frames);
}

void DrawPrelistenStrip(const BrowserLayout& l, const PrelistenShown& p) {
  if (!p.shown) return;
  if (Button(kBrowserStopPrelistenId, l.stopPrelisten, L"■", ColorOf(Pal.Yellow), true, kStopTextSize))
    StopPrelisten();
  const Rc bar = l.prelistenBar;
  if (!midiLearnOn && ActiveControlId == kNoActiveControl && PressStarts(bar))
    ActiveControlId = kBrowserPrelistenSeekId;
  if (ActiveControlId == kBrowserPrelistenSeekId && Input.held && bar.w > 0)
    SeekPrelisten((Input.x - bar.x) / bar.w);
  FillRoundedRect(bar, kBarRadius, ColorOf(Pal.Background));
  const float played = static_cast<float>(std::clamp(p.progress, 0.0, 1.0));
  if (played > 0)
    FillRoundedRect(Rc{bar.x, bar.y, bar.w * played, bar.h}, kBarRadius, ColorOf(Pal.Yellow, kBarFillAlpha));
  const Rc text = bar.Inset(kBarInsetDip, 0);
  if (p.loading) DrawText(L"Loading prelisten…", text, kBarTextSize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  else DrawTextAsIs(p.title, text, kBarTextSize, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
}

void ToggleMatch() {
  MatchDeck = !MatchDeck;
  if (MatchDeck)
    ShowStatus(OnAirDeck() >= 0 ? L"Showing analysed tracks within 6% tempo and a compatible key"
                                : L"Load a track first — MATCH finds tracks that mix with it",
               static_cast<int>(kStatusMs));
  RebuildView();
}

// While MATCH is on the view follows the on-air deck's tempo and key.
std::wstring MatchKeyText;
void FollowMatchDeck() {
  if (!MatchDeck) return;
  const int deck = OnAirDeck();
  const double bpm = deck >= 0 ? DeckBpm(deck) : 0.0;
  const int key = deck >= 0 ? DeckKey(deck) : -1;
  wchar_t text[64];
  swprintf(text, 64, L"%d|%.1f|%d", deck, bpm, key);
  if (MatchKeyText == text) return;
  MatchKeyText = text;
  RebuildView();
}

std::wstring MatchLabel(bool compact) {
  const int deck = OnAirDeck();
  if (!MatchDeck || deck < 0) return L"MATCH";
  return compact ? L"MATCH▸" + DeckLetter(deck) : L"MATCH ▸ " + DeckLetter(deck);
}

void DrawToolbar(const BrowserLayout& l) {
  const int left = SideSlots[kLeftSide], right = SideSlots[kRightSide];
  const std::wstring leftLabel = (l.compact ? L"◀ " : L"◀ LOAD ") + DeckLetter(left);
  const std::wstring rightLabel = l.compact ? DeckLetter(right) + L" ▶" : L"LOAD " + DeckLetter(right) + L" ▶";
  if (Button(kBrowserLoadLeftId, l.loadLeft, leftLabel, ColorOf(DeckColour(left)), false, kButtonTextSize))
    LoadSelectedTrack(left);
  if (Button(kBrowserLoadRightId, l.loadRight, rightLabel, ColorOf(DeckColour(right)), false, kButtonTextSize))
    LoadSelectedTrack(right);
  if (Button(kBrowserAnalyzeId, l.analyze, Analysing ? L"STOP" : L"ANALYZE", ColorOf(Pal.Purple), Analysing,
             kButtonTextSize))
    ToggleAnalysis();
  if (Button(kBrowserMatchId, l.match, MatchLabel(l.compact), ColorOf(Pal.Green), MatchDeck, kButtonTextSize))
    ToggleMatch();
  const bool working = AiSetJobRunning();
  const wchar_t* aiLabel = working ? (l.compact ? L"• • •" : L"AI  • • •") : (l.compact ? L"AI ▾" : L"AI · TOOLS ▾");
  if (Button(kBrowserAiId, l.ai, aiLabel, ColorOf(Pal.Purple), working, kButtonTextSize))
    QueueDeferredAction(AiToolsMenu);
  // In MIDI learn MACROS still opens the panel (its macros are what gets learned) and is no target.
  const bool learnPress = midiLearnOn && PressStarts(l.macros);
  const int32_t learning = midiLearnTarget;
  if (Button(kBrowserMacrosId, l.macros, L"MACROS", ColorOf(Pal.Yellow), MacrosPanelOpen, kButtonTextSize) ||
      learnPress) {
    MacrosPanelOpen = !MacrosPanelOpen;
    midiLearnTarget = learning;
  }
}

void DrawHeader(const BrowserLayout& l) {
  FillRoundedRect(l.header, kHeaderRadius,
                  Brush(LinearGradientBrush(ColorOf(kHeaderTop), ColorOf(kHeaderBottom), PointF{0, l.header.y},
                                            PointF{0, l.header.Bottom()}, false)));
  for (int c = 0; c < kBrowserColumns; ++c) {
    const Rc cell = l.headerCells[c];
    const bool sorted = SortColumn == kHeaderSortKeys[c];
    std::wstring label = Translate(kHeaderLabels[c]);
    if (sorted) label += SortAscending ? L"  ▲" : L"  ▼";
    const int align = c <= 1 ? kAlignLeft : kAlignRight;
    DrawTextAsIs(label, cell.Inset(kHeaderInsetDip, 0), kHeaderTextSize, ColorOf(sorted ? Pal.Text : Pal.Dim), align,
                 true, kFontBahnschrift);
    if (!midiLearnOn && ActiveControlId == kNoActiveControl && PressStarts(cell)) {
      ActiveControlId = kBrowserHeaderFirstId + c;
      const int column = kHeaderSortKeys[c];
      SortView(column, SortColumn == column ? !SortAscending : column != kSortEnergy && column != kSortRating);
    }
  }
  if (SortColumn == kSortSourceOrder)
    DrawTextAsIs(L"#", Rc{l.contentX + 4, l.header.y, kHashCellDip, kHashCellDip}, kHeaderTextSize, ColorOf(Pal.Text),
                 kAlignCenter, true, kFontBahnschrift);
  if (Input.rightPressed && ActiveControlId == kNoActiveControl && !midiLearnOn && MouseIn(l.header))
    QueueDeferredAction(SortMenu);
}

bool ShownListIsUserOrder() { return ViewKind == kViewList && ViewIndex != kHistoryList; }

}  // namespace

// ---- layout ------------------------------------------------------------------------------------

BrowserLayout LayOutBrowser(Rc r, float countWidth, bool karaokeOpen, bool prelisten) {
  BrowserLayout l;
  l.sidebar = Rc{r.x + kMarginDip, r.y + kMarginDip, kSidebarWidthDip, r.h - 2 * kMarginDip};
  if (karaokeOpen) {
    const float kw = ClampHi(r.w - kMarginDip - kSidebarWidthDip - 18 - kKaraokeTableDip - kKaraokeGapDip - kMarginDip,
                             kKaraokeMinDip, kKaraokeMaxDip);
    l.karaoke = Rc{r.x + r.w - kMarginDip - kw, r.y + kMarginDip, kw, r.h - 2 * kMarginDip};
  }
  const float cx = r.x + kContentXDip;
  const float right = karaokeOpen ? l.karaoke.x - kKaraokeGapDip : r.x + r.w - kMarginDip;
  const float cw = right - cx;
  l.contentX = cx, l.contentRight = right;
  const float wt = countWidth + kCountGapDip;
  l.compact = (cw - kMarginDip - kToolbarFixedDip - wt) < kCompactRoomDip;
  const ButtonWidths b = l.compact ? kCompactButtons : kNormalButtons;
  const float avail = cw - kMarginDip - (2 * b.load + b.analyze + b.match + b.ai + b.macros + kToolbarGapsDip);
  const float sw = std::max(0.0f, ClampHi(avail - wt, std::min(avail, kSearchMinDip), std::min(cw * kSearchShare, kSearchMaxDip)));
  const float top = r.y + kMarginDip;
  l.searchBox = Rc{cx, top, sw, kToolbarHeightDip};
  float x = l.searchBox.Right() + kMarginDip;
  auto next = [&](float w) {
    const Rc rect{x, top, w, kToolbarHeightDip};
    x += w + kButtonGapDip;
    return rect;
  };
  l.loadLeft = next(b.load);
  l.loadRight = next(b.load);
  l.analyze = next(b.analyze);
  l.match = next(b.match);
  l.ai = next(b.ai);
  l.macros = next(b.macros);
  float lastRight = l.macros.Right();
  if (prelisten) {
    l.stopPrelisten = Rc{l.macros.Right() + kStopGapDip, top, kToolbarHeightDip, kToolbarHeightDip};
    const float barX = l.stopPrelisten.Right() + kButtonGapDip;
    const float barW = ClampHi(right - l.stopPrelisten.Right() - kButtonGapDip - wt, kBarMinDip, kBarMaxDip);
    l.prelistenBar = Rc{barX, r.y + kBarTopDip, barW, kBarHeightDip};
    lastRight = l.prelistenBar.Right();
  }
  const float countX = lastRight + kStopGapDip;
  if (countWidth <= right - countX) l.countLine = Rc{countX, top, right - countX, kToolbarHeightDip};

  l.header = Rc{cx, r.y + kHeaderTopDip, cw, kHeaderHeightDip};
  l.tableWidth = cw - kScrollbarDip;
  const float flex = l.tableWidth - kFirstCellDip - kBpmDip - kKeyDip - kEnergyDip - kRatingDip - kTimeDip;
  l.firstCell = Rc{cx, l.header.y, kFirstCellDip, kHeaderHeightDip};
  const float widths[kBrowserColumns] = {kTitleShare * flex, (1 - kTitleShare) * flex, kBpmDip, kKeyDip,
                                         kEnergyDip,         kRatingDip,               kTimeDip};
  float cellX = cx + kFirstCellDip;
  for (int c = 0; c < kBrowserColumns; ++c) {
    l.headerCells[c] = Rc{cellX, l.header.y, widths[c], kHeaderHeightDip};
    cellX += widths[c];
  }
  l.list = Rc{cx, r.y + kListTopDip, cw, r.h - kListBottomDip};
  l.visibleRows = std::max(1, static_cast<int>(std::floor(l.list.h / kBrowserRowDip)));
  l.scrollTrack = Rc{right - kTrackRightDip, l.list.y, kTrackWidthDip, l.list.h};
  return l;
}

int HeaderSortKey(int column) {
  return column >= 0 && column < kBrowserColumns ? kHeaderSortKeys[column] : kSortSourceOrder;
}

Rc BrowserRowRect(const BrowserLayout& l, int i) {
  return Rc{l.contentX, l.list.y + kBrowserRowDip * static_cast<float>(i), l.tableWidth, kBrowserRowDip};
}

Rc BrowserStarsRect(const BrowserLayout& l, Rc row) {
  return Rc{l.headerCells[6].x - kStarsLeftOfTimeDip, row.y, kBrowserStarDip * kBrowserStars, row.h};
}

Rc BrowserPlayCell(const BrowserLayout& l, Rc row) { return Rc{l.contentX + 2, row.y + 2, 22, 20}; }

ScrollThumb ScrollbarThumb(const BrowserLayout& l, int rows, int scrollRow) {
  ScrollThumb t;
  const int hidden = rows - l.visibleRows;
  t.height = std::max(kThumbMinDip, static_cast<float>(l.visibleRows) * l.list.h / static_cast<float>(std::max(rows, 1)));
  t.height = std::min(t.height, l.list.h);
  const float travel = l.list.h - t.height;
  t.top = l.list.y + (hidden > 0 ? static_cast<float>(scrollRow) * travel / static_cast<float>(hidden) : 0.0f);
  return t;
}

// A thumb as tall as the list has no travel: the scroll row stays where it was.
int ScrollRowForDrag(const BrowserLayout& l, int rows, int startRow, float startY, float pointerY) {
  const int hidden = rows - l.visibleRows;
  const float travel = l.list.h - ScrollbarThumb(l, rows, 0).height;
  if (hidden <= 0) return 0;
  if (!(travel > 0)) return std::clamp(startRow, 0, hidden);
  const long row = std::lroundf(static_cast<float>(startRow) + (pointerY - startY) / travel * static_cast<float>(hidden));
  return static_cast<int>(std::clamp<long>(row, 0, hidden));
}

int ScrollRowForJump(const BrowserLayout& l, int rows, float pointerY) {
  const int hidden = rows - l.visibleRows;
  const float th = ScrollbarThumb(l, rows, 0).height;
  const float travel = l.list.h - th;
  if (hidden <= 0) return 0;
  if (!(travel > 0)) return std::clamp(ScrollRow, 0, hidden);
  const float row = std::trunc(((pointerY - l.list.y) - th / 2) / travel * static_cast<float>(hidden));
  return static_cast<int>(std::clamp(row, 0.0f, static_cast<float>(hidden)));
}

// ---- texts -------------------------------------------------------------------------------------

std::wstring BrowserCountLine() {
  const size_t n = ViewOrder.size();
  std::wstring text = std::to_wstring(n) + (n == 1 ? L" track" : L" tracks");
  if (Scanning) text += L"  •  scanning…";
  if (Analysing) text += L"  •  analyzing " + std::to_wstring(AnalysisDone) + L"/" + std::to_wstring(AnalysisTotal);
  if (SortColumn >= kSortGenre && SortColumn <= kSortColour)
    text += std::wstring(L"  •  by ") + kMenuSortNames[SortColumn - kSortGenre] + (SortAscending ? L" ▲" : L" ▼");
  return text;
}

std::wstring EmptyViewText() {
  if (Scanning) return L"Scanning…";
  if (ViewKind == kViewList) return L"This list is empty — drag tracks onto it in the sidebar, or right-click a track";
  if (ViewKind == kViewCrate) return L"Nothing in your folders matches this crate's search";
  if (MusicFolders.empty()) return L"Add a music folder to get started";
  if (!SearchText.empty()) return L"No tracks match your search";
  // MATCH hid every file: the folder is not empty.
  if (MatchDeck && OnAirDeck() >= 0 && !ViewItems.empty()) return L"No analysed track here mixes with the on-air deck";
  return L"No audio files found in this folder";
}

int EnergyLevel(float loudness) {
  if (!std::isfinite(loudness)) return 1;
  return static_cast<int>(std::clamp(std::lroundf((loudness + 22.0f) / 1.4f), 1L, 10L));
}

int HoveredStar(float starsX, float pointerX) {
  const float star = 1 + std::trunc((pointerX - starsX) / kBrowserStarDip);
  return static_cast<int>(std::clamp(star, 1.0f, static_cast<float>(kBrowserStars)));
}

int RatingAfterClick(int rating, int star) { return rating == star ? 0 : star; }

// ---- the AI tools menu -------------------------------------------------------------------------

void AiToolsMenu() {
  const bool working = AiSetJobRunning();
  std::vector<PopupMenuEntry> menu;
  menu.push_back(working ? MenuEntry(L"AI set builder (working…)", kAiBuilder, true)
                         : MenuEntry(L"AI set builder…", kAiBuilder));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(ShownListIsUserOrder() ? L"Put this list in mix order (keys, tempo, energy)"
                                                  : L"Mix order from these tracks (new list)",
                           kAiMixOrder));
  menu.push_back(MenuEntry(L"Find duplicates among these tracks", kAiDuplicates));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"Find moved files (relocate)…", kAiRelocate));
  menu.push_back(MenuEntry(L"Export collection for rekordbox…", kAiRekordbox));
  ShowPopupMenu(std::move(menu), LeftDeckColour(), [](uint32_t id) {
    switch (id) {
      case kAiBuilder: OpenAiSetDialog(); break;
      case kAiMixOrder: MixOrderView(); break;
      case kAiDuplicates: FindDuplicates(); break;
      case kAiRelocate: FindMovedFiles(); break;
      case kAiRekordbox: StartRekordboxExport(-1); break;
      default: break;
    }
  });
}

// ---- the frame ---------------------------------------------------------------------------------

void DrawBrowser(Rc r) {
  BrowserScreen.searchBox = Rc{};
  if (r.w <= 0 || r.h <= 0) return;
  DrawPanel(r, kPanelRadiusDip);
  FollowMatchDeck();
  const std::wstring count = BrowserCountLine();
  const float countWidth = TextWidth(Translate(count), kBrowserCountTextSize, false, kFontSegoeUi);
  const PrelistenShown prelisten = ReadPrelisten();
  const BrowserLayout l = LayOutBrowser(r, countWidth, KaraokePanelShown, prelisten.shown);

  DrawSidebar(l.sidebar);
  DrawLine(r.x + kDividerXDip, r.y + kDividerInsetDip, r.x + kDividerXDip, r.Bottom() - kDividerInsetDip,
           ColorOf(Pal.Border), 1);
  BrowserScreen.searchBox = l.searchBox;
  BrowserScreen.tableLeft = l.contentX;
  if (l.searchBox.w > 0) DrawSearchBox(l.searchBox);
  DrawToolbar(l);
  DrawPrelistenStrip(l, prelisten);
  if (l.countLine.w > 0)
    DrawText(count, l.countLine, kBrowserCountTextSize, ColorOf(Pal.Dim), kAlignRight, false, kFontSegoeUi);
  DrawHeader(l);
  DrawTrackTable(l);
  if (KaraokePanelShown) DrawKaraokePanel(l.karaoke);
}
