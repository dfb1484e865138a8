#include "screens/sidebar.h"

#include <fmt/format.h>
#include <fmt/xchar.h>

#include <algorithm>
#include <cmath>

#include "base/palette.h"
#include "base/settings.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/side_slots.h"
#include "library/crates.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "screens/browser_screen.h"
#include "screens/library_menus.h"
#include "screens/list_menu.h"
#include "screens/main_screen.h"
#include "ui/frame_driver.h"
#include "ui/modal.h"
#include "ui/popup_menu.h"
#include "ui/scroll_view.h"
#include "ui/widgets.h"

namespace {

// Search box.
constexpr float kBoxRadius = 4.0f;
constexpr float kLensRadius = 5.0f, kLensStroke = 1.5f;
constexpr float kTextLeftDip = 28.0f, kTextInsetsDip = 56.0f, kTextSize = 12.5f;
constexpr uint64_t kCaretBlinkMs = 530;
constexpr float kCaretInsetDip = 7.0f;
constexpr float kClearRightDip = 26.0f, kClearWidthDip = 22.0f, kClearInsetDip = 4.0f, kClearTextSize = 15.0f;
constexpr wchar_t kPlaceholder[] = L"Search…   or  bpm:124  key:8A  rating:4+";

// Sidebar.
constexpr float kTitleHeightDip = 20.0f, kSectionStepDip = 24.0f, kPlusWidthDip = 24.0f;
constexpr float kTitleSize = 10.0f, kPlusTextSize = 13.0f;
constexpr float kRowHeightDip = 22.0f, kRowStepDip = 24.0f, kRowRadius = 4.0f;
constexpr float kSectionGapDip = 6.0f;
constexpr float kFolderShare = 0.36f, kCrateShare = 0.24f, kCrateMinDip = 48.0f;
constexpr float kLabelLeftDip = 12.0f, kLabelInsetDip = 50.0f, kLabelSize = 12.5f;
constexpr float kDetailRightDip = 44.0f, kDetailWidthDip = 38.0f, kDetailSize = 11.0f;
constexpr float kHintSize = 11.0f;
constexpr float kDropOutlineWidth = 1.5f;
constexpr float kWheelRowsPerNotch = 2.0f;
constexpr uint32_t kCrateEdit = 1, kCrateDelete = 2;

bool SidebarSection(Rc title, Rc plus, const wchar_t* label, int32_t plusId) {
  if (title.w <= 0) return false;  // scrolled out of view
  DrawText(label, title, kTitleSize, ColorOf(Pal.Dim), kAlignLeft, true, kFontBahnschrift);
  return Button(plusId, plus, L"+", ColorOf(Pal.Text), false, kPlusTextSize);
}

struct RowResult {
  bool clicked = false;
  bool rightPressed = false;
};

// One row: hover, the selected and dragged-over looks, the label and detail; a press counts as a
// click and captures the mouse with the row's id.
// User names (folders, crates, user lists) are drawn as typed; the built-in lists' names are ours
// and translated.
RowResult SidebarRow(Rc r, const std::wstring& label, const std::wstring& detail, int32_t id, bool selected,
                     bool translated = false) {
  RowResult result;
  const bool hovered = ActiveControlId == kNoActiveControl && MouseOver(r);
  if (selected) {
    FillRoundedRect(r, kRowRadius, ColorOf(Pal.Panel3));
    FillRect(Rc{r.x, r.y + 6, 3, 10}, ColorOf(Pal.DeckA));
  } else if (hovered) {
    FillRoundedRect(r, kRowRadius, ColorOf(Pal.Panel2));
  }
  const Rc labelRect{r.x + kLabelLeftDip, r.y, r.w - kLabelInsetDip, r.h};
  const Color labelColour = ColorOf(selected ? Pal.Text : Pal.Dim);
  if (translated) DrawText(label, labelRect, kLabelSize, labelColour, kAlignLeft, false, kFontSegoeUi);
  else DrawTextAsIs(label, labelRect, kLabelSize, labelColour, kAlignLeft, false, kFontSegoeUi);
  if (!detail.empty())
    DrawTextAsIs(detail, Rc{r.x + r.w - kDetailRightDip, r.y, kDetailWidthDip, r.h}, kDetailSize, ColorOf(Pal.Faint),
                 kAlignRight, false, kFontBahnschrift);
  if (RowDrag.dragging && MouseOver(r))
    StrokeRoundedRect(Rc{r.x + 0.75f, r.y + 0.75f, r.w - 1.5f, 20.5f}, kRowRadius, ColorOf(Pal.DeckA),
                      kDropOutlineWidth);
  if (hovered && !midiLearnOn && PressStarts(r)) {
    ActiveControlId = id;
    result.clicked = true;
  }
  result.rightPressed = hovered && !midiLearnOn && Input.rightPressed;
  return result;
}

void DrawFolders(const SidebarLayout& l) {
  if (SidebarSection(l.foldersTitle, l.foldersPlus, L"FOLDERS", kFoldersPlusId)) QueueDeferredAction(AddMusicDirDialog);
  for (size_t n = 0; n < l.folders.size() && l.firstFolder + n < MusicFolders.size(); ++n) {
    const size_t i = l.firstFolder + n;
    const int index = static_cast<int>(i);
    const bool shown = ViewKind == kViewFolder && ViewIndex == index;
    const RowResult row = SidebarRow(l.folders[n], FolderLabel(MusicFolders[i]), L"", kFirstFolderRowId + index, shown);
    if (row.clicked && !shown) {
      ViewIndex = index;
      ShowFolder();
      SaveSettings();
    } else if (row.rightPressed) {
      RemoveMusicFolder(i);
      return;  // the rows below moved up
    }
  }
}

void DrawCrates(const SidebarLayout& l) {
  if (SidebarSection(l.cratesTitle, l.cratesPlus, L"SMART CRATES", kCratesPlusId)) QueueDeferredAction(NewCrate);
  if (l.crateHint.w > 0)
    DrawText(L"Search, then + to save it", l.crateHint, kHintSize, ColorOf(Pal.Faint), kAlignLeft, false, kFontSegoeUi);
  for (size_t n = 0; n < l.crates.size() && l.firstCrate + n < SmartCrates.size(); ++n) {
    const size_t i = l.firstCrate + n;
    const int index = static_cast<int>(i);
    const bool shown = ViewKind == kViewCrate && ViewIndex == index;
    const RowResult row =
        SidebarRow(l.crates[n], L"◆ " + SmartCrates[i].name, L"", kFirstCrateRowId + index, shown);
    if (row.clicked) ShowCrate(index);
    else if (row.rightPressed) QueueDeferredAction([i] { CrateMenu(i); });
  }
}

void DrawLists(const SidebarLayout& l) {
  if (SidebarSection(l.listsTitle, l.listsPlus, L"LISTS", kListsPlusId)) QueueDeferredAction(NewPlaylistForm);
  for (size_t n = 0; n < l.lists.size() && l.firstList + n < TrackLists.size(); ++n) {
    const size_t i = l.firstList + n;
    const int index = static_cast<int>(i);
    const bool shown = ViewKind == kViewList && ViewIndex == index;
    const TrackList& list = TrackLists[i];
    SidebarListRows.push_back(ListDropRow{l.lists[n], index});
    const RowResult row = SidebarRow(l.lists[n], list.name, fmt::format(L"{}", ListSize(list)),
                                     kFirstListRowId + index, shown, list.builtIn);
    if (row.clicked) ShowList(index);
    else if (row.rightPressed) QueueDeferredAction([index] { ListMenu(index); });
  }
}

}  // namespace

// ---- layout ------------------------------------------------------------------------------------

namespace {

// The sections at their shares of the height: rows that do not fit are left out.
SidebarLayout SharedLayout(Rc r, size_t folders, size_t crates, size_t lists) {
  SidebarLayout l;
  float y = r.y;
  auto section = [&](Rc* title, Rc* plus) {
    *title = Rc{r.x + 4, y, r.w - 30, kTitleHeightDip};
    *plus = Rc{r.x + r.w - kPlusWidthDip, y, kPlusWidthDip, kTitleHeightDip};
    y += kSectionStepDip;
  };
  section(&l.foldersTitle, &l.foldersPlus);
  const float folderLimit = r.y + kFolderShare * r.h;
  for (size_t i = 0; i < folders && y + kRowStepDip < folderLimit; ++i, y += kRowStepDip)
    l.folders.push_back(Rc{r.x, y, r.w, kRowHeightDip});
  y += kSectionGapDip;
  const float cratesEnd = y + std::max(kCrateShare * r.h, kCrateMinDip);
  section(&l.cratesTitle, &l.cratesPlus);
  if (crates == 0 && y + kTitleHeightDip < cratesEnd) {
    l.crateHint = Rc{r.x + kLabelLeftDip, y, r.w - kLabelLeftDip, kTitleHeightDip};
    y += kRowStepDip;
  }
  for (size_t i = 0; i < crates && y + kRowHeightDip < cratesEnd; ++i, y += kRowStepDip)
    l.crates.push_back(Rc{r.x, y, r.w, kRowHeightDip});
  // The lists start after the crates' block, however few crates it holds.
  y = std::max(y, cratesEnd) + kSectionGapDip;
  section(&l.listsTitle, &l.listsPlus);
  for (size_t i = 0; i < lists && y + kRowStepDip < r.Bottom(); ++i, y += kRowStepDip)
    l.lists.push_back(Rc{r.x, y, r.w, kRowHeightDip});
  return l;
}

// Where the stacked sections put things, from the top of the content.
struct StackedTops {
  float folders, cratesTitle, crates, listsTitle, lists, end;
};
StackedTops Stack(size_t folders, size_t crates, size_t lists) {
  StackedTops t{};
  t.folders = kSectionStepDip;
  t.cratesTitle = t.folders + kRowStepDip * static_cast<float>(folders) + kSectionGapDip;
  t.crates = t.cratesTitle + kSectionStepDip + (crates == 0 ? kRowStepDip : 0.0f);
  t.listsTitle = t.crates + kRowStepDip * static_cast<float>(crates) + kSectionGapDip;
  t.lists = t.listsTitle + kSectionStepDip;
  t.end = t.lists + kRowStepDip * static_cast<float>(lists);
  return t;
}

// Every row of `count` at `top` (content coordinates) that lies wholly in view.
void RowsInView(Rc r, float shift, float top, size_t count, std::vector<Rc>* rows, size_t* first) {
  *first = 0;
  for (size_t i = 0; i < count; ++i) {
    const float y = r.y + top + kRowStepDip * static_cast<float>(i) - shift;
    if (y < r.y) {
      *first = i + 1;
      continue;
    }
    if (y + kRowHeightDip > r.Bottom()) break;
    rows->push_back(Rc{r.x, y, r.w, kRowHeightDip});
  }
}

}  // namespace

SidebarLayout LayOutSidebar(Rc r, size_t folders, size_t crates, size_t lists, float offset) {
  SidebarLayout l = SharedLayout(r, folders, crates, lists);
  if (l.folders.size() == folders && l.crates.size() == crates && l.lists.size() == lists) return l;
  // Too many rows for the shares: one column of every row, scrolled.
  const StackedTops t = Stack(folders, crates, lists);
  SidebarLayout s;
  s.maxOffset = std::max(0.0f, t.end - kRowStepDip + kRowHeightDip - r.h);
  s.offset = std::clamp(offset, 0.0f, s.maxOffset);
  auto title = [&](float top, Rc* titleRect, Rc* plus) {
    const float y = r.y + top - s.offset;
    if (y < r.y || y + kTitleHeightDip > r.Bottom()) return;
    *titleRect = Rc{r.x + 4, y, r.w - 30, kTitleHeightDip};
    *plus = Rc{r.x + r.w - kPlusWidthDip, y, kPlusWidthDip, kTitleHeightDip};
  };
  title(0, &s.foldersTitle, &s.foldersPlus);
  title(t.cratesTitle, &s.cratesTitle, &s.cratesPlus);
  title(t.listsTitle, &s.listsTitle, &s.listsPlus);
  if (crates == 0) {
    const float y = r.y + t.cratesTitle + kSectionStepDip - s.offset;
    if (y >= r.y && y + kTitleHeightDip <= r.Bottom())
      s.crateHint = Rc{r.x + kLabelLeftDip, y, r.w - kLabelLeftDip, kTitleHeightDip};
  }
  RowsInView(r, s.offset, t.folders, folders, &s.folders, &s.firstFolder);
  RowsInView(r, s.offset, t.crates, crates, &s.crates, &s.firstCrate);
  RowsInView(r, s.offset, t.lists, lists, &s.lists, &s.firstList);
  return s;
}

std::wstring FolderLabel(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return path;
  const std::wstring last = path.substr(slash + 1);
  return last.empty() ? path : last;
}

// ---- search box --------------------------------------------------------------------------------

void ClearSearch() {
  SearchText.clear();
  ScrollRow = 0;
  RebuildView();
}

void DrawSearchBox(Rc r) {
  if (ActiveControlId == kNoActiveControl && !midiLearnOn && PressStarts(r)) {
    ActiveControlId = kSearchBoxId;
    SearchFocused = true;
  }
  FillRoundedRect(r, kBoxRadius, ColorOf(Pal.Background));
  StrokeRoundedRect(r, kBoxRadius, ColorOf(SearchFocused ? Pal.DeckA : Pal.Border), 1);
  const float cy = r.CenterY();
  StrokeCircle(r.x + 14, cy - 1.5f, kLensRadius, ColorOf(Pal.Dim), kLensStroke);
  DrawLine(r.x + 17.5f, cy + 2, r.x + 21, cy + 5.5f, ColorOf(Pal.Dim), kLensStroke);
  const Rc text{r.x + kTextLeftDip, r.y, r.w - kTextInsetsDip, r.h};
  if (SearchText.empty() && !SearchFocused)
    DrawText(kPlaceholder, text, kTextSize, ColorOf(Pal.Faint), kAlignLeft, false, kFontSegoeUi);
  const FieldLook look{.box = text, .size = kTextSize, .color = ColorOf(Pal.Text), .top = r.y + kCaretInsetDip,
                       .bottom = r.Bottom() - kCaretInsetDip, .maxX = text.x + text.w + 1};
  DrawFieldText(SearchText, SearchText, look, SearchFocused && BlinkLit(FrameClockMs, kCaretBlinkMs));
  if (SearchText.empty()) return;
  const Rc clear{r.Right() - kClearRightDip, r.y + kClearInsetDip, kClearWidthDip, r.h - 2 * kClearInsetDip};
  const bool hovered = ActiveControlId == kNoActiveControl && MouseOver(clear);
  DrawTextAsIs(L"×", clear, kClearTextSize, ColorOf(hovered ? Pal.Text : Pal.Dim), kAlignCenter, false, kFontSegoeUi);
  // The box's own press (above) took the mouse first; a press on the cross is both.
  if ((ActiveControlId == kNoActiveControl || ActiveControlId == kSearchBoxId) && !midiLearnOn && Input.pressed &&
      MouseOver(clear)) {
    ActiveControlId = kSearchClearId;
    ClearSearch();
  }
}

// ---- sidebar -----------------------------------------------------------------------------------

float SidebarOffset = 0;

namespace {

struct ShownSource {
  int kind = -1, index = -1;
};
ShownSource LastShown;

}  // namespace

void DrawSidebar(Rc r) {
  SidebarListRows.clear();
  const size_t folders = MusicFolders.size(), crates = SmartCrates.size(), lists = TrackLists.size();
  const StackedTops t = Stack(folders, crates, lists);
  // LayOutSidebar limits the offset to what there is to scroll.
  float offset = WheelScroll(r, SidebarOffset, INFINITY, kWheelRowsPerNotch * kRowStepDip);
  // A source shown anew (a click, a folder dropped on the window, a list made) comes into view.
  if (ViewKind != LastShown.kind || ViewIndex != LastShown.index) {
    LastShown = ShownSource{ViewKind, ViewIndex};
    const float index = static_cast<float>(std::max(ViewIndex, 0));
    const float top = ViewKind == kViewFolder ? t.folders : ViewKind == kViewCrate ? t.crates : t.lists;
    offset = RevealScroll(offset, top + kRowStepDip * index, kRowHeightDip, r.h);
  }
  const SidebarLayout l = LayOutSidebar(r, folders, crates, lists, offset);
  SidebarOffset = l.offset;
  DrawFolders(l);
  DrawCrates(l);
  DrawLists(l);
  DrawScrollMark(r, l.offset, l.maxOffset);
}

void RemoveMusicFolder(size_t index) {
  if (index >= MusicFolders.size()) return;
  MusicFolders.erase(MusicFolders.begin() + static_cast<std::ptrdiff_t>(index));
  if (ViewKind == kViewFolder) {
    ViewIndex = std::clamp(ViewIndex, 0, std::max(0, static_cast<int>(MusicFolders.size()) - 1));
    ShowFolder();
  }
  SaveSettings();
}

void DeleteCrate(size_t index) {
  if (index >= SmartCrates.size()) return;
  SmartCrates.erase(SmartCrates.begin() + static_cast<std::ptrdiff_t>(index));
  SaveCrates();
  if (ViewKind == kViewCrate) {
    ViewIndex = 0;
    ShowFolder();
  }
}

void CrateMenu(size_t index) {
  std::vector<PopupMenuEntry> menu = {MenuEntry(L"Edit…", kCrateEdit), MenuEntry(L"Delete", kCrateDelete)};
  // The crate is named again when the choice arrives: another crate may sit at the index by then.
  const std::wstring name = index < SmartCrates.size() ? SmartCrates[index].name : L"";
  ShowPopupMenu(std::move(menu), DeckColour(SideSlots[kLeftSide]), [index, name](uint32_t id) {
    if (index >= SmartCrates.size() || SmartCrates[index].name != name) return;
    if (id == kCrateEdit) EditCrate(static_cast<int>(index));
    else if (id == kCrateDelete) DeleteCrate(index);
  });
}

void NewPlaylistForm() {
  OpenModal(L"New playlist", {ModalField{.label = L"Name", .value = L""}}, L"CREATE",
            [](const std::vector<ModalField>& fields) { CreateList(fields[0].value); });
}
