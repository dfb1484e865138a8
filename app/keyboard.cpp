#include "app/keyboard.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string>

#include "base/settings.h"
#include "broadcast/mix_recording.h"
#include "broadcast/video_window.h"
#include "control/auto_map.h"
#include "control/dispatcher.h"
#include "control/macros_panel.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "control/pad_macros.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/jog_loops.h"
#include "engine/mixer_controls.h"
#include "engine/sandbox.h"
#include "engine/side_slots.h"
#include "engine/stem_controls.h"
#include "engine/sync.h"
#include "engine/transport.h"
#include "engine/undo.h"
#include "karaoke/karaoke_panel.h"
#include "karaoke/karaoke_screen.h"
#include "karaoke/tap_sync.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/keymap.h"
#include "screens/grid_editor.h"
#include "screens/main_screen.h"
#include "screens/visualiser_toggle.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "settings/skin_editor.h"
#include "settings/tour.h"
#include "ui/full_screen.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

std::set<int32_t> KeyHeldIds;

namespace {

constexpr wchar_t kEscapeCharacter = 27;
constexpr wchar_t kReturnCharacter = 13;

// The deck panel's jog wheel, 1000 + 100 x side + 2: continuous, so a key cannot drive it.
constexpr int32_t kDeckPanelIdBase = 1000;
constexpr int32_t kSideIdStep = 100;
constexpr int32_t kJogCode = 2;

// ---- the key tables -------------------------------------------------------------------------

// What a table row's action is told about the key press.
struct KeyPress {
  int deck;  // the deck shown on the row's side; -1 for rows without one
  int arg;   // the row's number (pad, macro)
  bool shift;
  bool repeat;
};

constexpr int kNoSide = -1;

struct ShortcutRow {
  int key;      // virtual-key code
  int side;     // kLeftSide, kRightSide or kNoSide
  int arg;
  bool repeats; // acts on auto-repeat too
  void (*action)(const KeyPress& press);
};

// Left / Right: the cross-fader, held down it keeps moving; with Shift the selected track goes
// onto that side's deck once per press.
void SideKey(const KeyPress& p, int side, float step) {
  if (!p.shift) NudgeCrossfader(step);
  else if (!p.repeat) LoadSelectedTrack(SideSlots[side]);
}


void SelectedRowPrelisten(const KeyPress&) {
  if (const LibraryFile* file = SelectedFile()) TogglePrelisten(file->path);
}

// clang-format off
constexpr ShortcutRow kMainKeys[] = {
    {.key = KeyCode::Return, .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { LoadSelectedTrack(-1); }},
    {.key = KeyCode::Space, .side = kNoSide, .arg = 0, .repeats = false, .action = SelectedRowPrelisten},
    {.key = KeyCode::Left, .side = kNoSide, .arg = 0, .repeats = true, .action = [](const KeyPress& p) { SideKey(p, kLeftSide, -kCrossfaderKeyStep); }},
    {.key = KeyCode::Right, .side = kNoSide, .arg = 0, .repeats = true, .action = [](const KeyPress& p) { SideKey(p, kRightSide, kCrossfaderKeyStep); }},
    {.key = '1', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '2', .side = kLeftSide, .arg = 1, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '3', .side = kLeftSide, .arg = 2, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '4', .side = kLeftSide, .arg = 3, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '7', .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '8', .side = kRightSide, .arg = 1, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '9', .side = kRightSide, .arg = 2, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = '0', .side = kRightSide, .arg = 3, .repeats = false, .action = [](const KeyPress& p) { PressPad(p.deck, p.arg); }},
    {.key = 'Z', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { CuePress(p.deck); }},
    {.key = KeyCode::OemComma, .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { CuePress(p.deck); }},
    {.key = 'X', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { PlayPause(p.deck); }},
    {.key = KeyCode::OemPeriod, .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { PlayPause(p.deck); }},
    {.key = 'C', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { SyncDeck(p.deck); }},
    {.key = KeyCode::OemSlash, .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { SyncDeck(p.deck); }},
    {.key = 'V', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { ToggleAutoLoop(p.deck); }},
    {.key = 'M', .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { ToggleAutoLoop(p.deck); }},
    {.key = 'Q', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { CensorPress(p.deck); }},
    {.key = 'P', .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { CensorPress(p.deck); }},
    {.key = 'A', .side = kLeftSide, .arg = -1, .repeats = false, .action = [](const KeyPress& p) { JumpMemoryCue(p.deck, p.arg); }},
    {.key = 'K', .side = kRightSide, .arg = -1, .repeats = false, .action = [](const KeyPress& p) { JumpMemoryCue(p.deck, p.arg); }},
    {.key = 'S', .side = kLeftSide, .arg = 1, .repeats = false, .action = [](const KeyPress& p) { JumpMemoryCue(p.deck, p.arg); }},
    {.key = 'L', .side = kRightSide, .arg = 1, .repeats = false, .action = [](const KeyPress& p) { JumpMemoryCue(p.deck, p.arg); }},
    {.key = 'D', .side = kLeftSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { p.shift ? DeleteMemoryCue(p.deck) : AddMemoryCue(p.deck); }},
    {.key = 'J', .side = kRightSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { p.shift ? DeleteMemoryCue(p.deck) : AddMemoryCue(p.deck); }},
    {.key = KeyCode::OemOpenBracket, .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { SwapSideDeck(kLeftSide); }},
    {.key = KeyCode::OemCloseBracket, .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { SwapSideDeck(kRightSide); }},
};
// clang-format on

// Ctrl+G: the grid editor for the left deck (the right with Shift) when it holds a track; an
// open editor closes.
void ToggleGridEditor(const KeyPress& p) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  if (GridEditorDeck >= 0) {
    GridEditorDeck = -1;
    Engine.clickDeck = -1;
    return;
  }
  const int deck = SideSlots[p.shift ? kRightSide : kLeftSide];
  if (Engine.decks[deck].track) GridEditorDeck = deck;
}

// clang-format off
constexpr ShortcutRow kCtrlKeys[] = {
    {.key = 'F', .side = kNoSide, .arg = 0, .repeats = true, .action = [](const KeyPress&) { SearchFocused = true; }},
    {.key = 'R', .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { ToggleRecording(); }},
    {.key = 'M', .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { ToggleAutomix(); }},
    {.key = KeyCode::Left, .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { StartCrossfaderGlide(0.0f, MonotonicSeconds()); }},
    {.key = KeyCode::Right, .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { StartCrossfaderGlide(1.0f, MonotonicSeconds()); }},
    {.key = 'Z', .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { Undo(); }},
    {.key = 'K', .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { ToggleKaraokePanel(); }},
    {.key = '1', .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '2', .side = kNoSide, .arg = 1, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '3', .side = kNoSide, .arg = 2, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '4', .side = kNoSide, .arg = 3, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '5', .side = kNoSide, .arg = 4, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '6', .side = kNoSide, .arg = 5, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '7', .side = kNoSide, .arg = 6, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = '8', .side = kNoSide, .arg = 7, .repeats = false, .action = [](const KeyPress& p) { RunPadMacro(p.arg); }},
    {.key = 'L', .side = kNoSide, .arg = 0, .repeats = false, .action = [](const KeyPress&) { CycleLayout(); }},
    {.key = 'G', .side = kNoSide, .arg = 0, .repeats = false, .action = ToggleGridEditor},
};
// clang-format on

// A key with two rows would never reach its second.
template <typename Row, size_t N>
constexpr bool EachKeyOnce(const Row (&table)[N]) {
  for (size_t i = 0; i < N; ++i)
    for (size_t j = i + 1; j < N; ++j)
      if (table[i].key == table[j].key) return false;
  return true;
}
static_assert(EachKeyOnce(kMainKeys), "kMainKeys has a key twice");
static_assert(EachKeyOnce(kCtrlKeys), "kCtrlKeys has a key twice");

// Runs the row of `key` in the table; false when the table has none.
template <size_t N>
bool RunKeyRow(const ShortcutRow (&table)[N], int key, bool repeat, bool shift) {
  const auto row = std::find_if(std::begin(table), std::end(table), [&](const ShortcutRow& r) { return r.key == key; });
  if (row == std::end(table)) return false;
  if (repeat && !row->repeats) return true;
  const int deck = row->side == kNoSide ? -1 : SideSlots[row->side];
  row->action(KeyPress{.deck = deck, .arg = row->arg, .shift = shift, .repeat = repeat});
  return true;
}

// What an unmapped key does when it goes up, on the deck shown on its side.
enum class KeyRelease { Cue, Censor, Roll };
struct KeyReleaseRow {
  int key;
  int side;
  KeyRelease action;
};
// clang-format off
constexpr KeyReleaseRow kKeyReleases[] = {
    {.key = 'Z', .side = kLeftSide, .action = KeyRelease::Cue},
    {.key = KeyCode::OemComma, .side = kRightSide, .action = KeyRelease::Cue},
    {.key = 'Q', .side = kLeftSide, .action = KeyRelease::Censor},
    {.key = 'P', .side = kRightSide, .action = KeyRelease::Censor},
    {.key = '1', .side = kLeftSide, .action = KeyRelease::Roll},
    {.key = '2', .side = kLeftSide, .action = KeyRelease::Roll},
    {.key = '3', .side = kLeftSide, .action = KeyRelease::Roll},
    {.key = '4', .side = kLeftSide, .action = KeyRelease::Roll},
    {.key = '7', .side = kRightSide, .action = KeyRelease::Roll},
    {.key = '8', .side = kRightSide, .action = KeyRelease::Roll},
    {.key = '9', .side = kRightSide, .action = KeyRelease::Roll},
    {.key = '0', .side = kRightSide, .action = KeyRelease::Roll},
};
// clang-format on
static_assert(EachKeyOnce(kKeyReleases), "kKeyReleases has a key twice");

// The keys that scroll the settings page while its screen is shown. Left and Right keep the
// cross-fader.
struct PageKeyRow {
  int key;
  PageMove move;
};
// clang-format off
constexpr PageKeyRow kSettingsPageKeys[] = {
    {.key = KeyCode::Up, .move = PageMove::RowUp},
    {.key = KeyCode::Down, .move = PageMove::RowDown},
    {.key = KeyCode::PageUp, .move = PageMove::ViewUp},
    {.key = KeyCode::PageDown, .move = PageMove::ViewDown},
    {.key = KeyCode::Home, .move = PageMove::Top},
    {.key = KeyCode::End, .move = PageMove::Bottom},
};
// clang-format on
static_assert(EachKeyOnce(kSettingsPageKeys), "kSettingsPageKeys has a key twice");

// ---- the steps of OnKeyDown -----------------------------------------------------------------

// F10 (Shift+F10 steps the open visualiser's style), F8, F9, F1 and F11. Window switches ignore
// auto-repeat, which would flicker them open and shut. True when the key is one of them.
bool WindowKey(int key, bool repeat, bool shift) {
  if (key != KeyCode::F10 && key != KeyCode::F8 && key != KeyCode::F9 && key != KeyCode::F1 && key != KeyCode::F11)
    return false;
  if (repeat) return true;
  if (key == KeyCode::F10 && shift && VisualiserWindowOpen) {
    SetVisualIndex(VisualIndex() + 1);
  } else if (key == KeyCode::F10) {
    ToggleVisualiser();
  } else if (key == KeyCode::F8) {
    ToggleVideoWindow();
  } else if (key == KeyCode::F9) {
    ToggleKaraokeScreen();
  } else if (key == KeyCode::F1) {
    HelpOpen = !HelpOpen;
  } else {
    ToggleFullScreen();
  }
  return true;
}

void EndTour() { CloseTour(); }

// The auto-map wizard and the tour take every key while open. True when one of them is open.
bool WizardOrTourKey(int key) {
  if (AutoMapOpen) {
    if (key == KeyCode::Escape) CloseAutoMap();
    return true;
  }
  if (!TourOpen) return false;
  const bool forward = key == KeyCode::Right || key == KeyCode::Return;
  if (key == KeyCode::Escape || (forward && TourStep >= kTourSteps - 1)) EndTour();
  else if (forward) ++TourStep;
  else if (key == KeyCode::Left) TourStep = std::max(TourStep - 1, 0);
  return true;
}

bool LearnableKey(int key) {
  return key != KeyCode::Shift && key != KeyCode::Control && key != KeyCode::Menu && key != KeyCode::LeftWindows &&
         key != KeyCode::RightWindows && !(key >= KeyCode::F1 && key <= KeyCode::F24);
}

// Knobs, faders and jogs have positions a key cannot give.
bool ContinuousControl(int32_t id) {
  const auto kind = controlKinds.find(id);
  if (kind != controlKinds.end() && kind->second == kControlKindAbsolute) return true;
  return id == kDeckPanelIdBase + kJogCode || id == kDeckPanelIdBase + kSideIdStep + kJogCode;
}

// MIDI learn with a control chosen: the key is mapped to it. True when the key was taken.
bool LearnKey(int key, bool repeat) {
  if (!midiLearnOn || midiLearnTarget == 0 || repeat || !LearnableKey(key)) return false;
  if (ContinuousControl(midiLearnTarget)) {
    ShowStatus(L"Keys can drive buttons \u2014 map knobs, faders and jogs to a MIDI controller");
    return true;
  }
  MappingTable[MappingKey(key)] = static_cast<uint32_t>(midiLearnTarget);
  mappedControlIds.insert(midiLearnTarget);
  SaveMidiMap();
  std::wstring name = KeyName(key);
  if (name.empty()) name = L"#" + std::to_wstring(key);
  ShowStatus(UiFormat(L"Key {} mapped \u2014 it now overrides any built-in shortcut", name));
  midiLearnTarget = 0;
  return true;
}

void EndMidiLearn() {
  midiLearnOn = false;
  midiLearnTarget = 0;
}

// Esc closes the first open of these, in order.
struct EscapeCloser {
  bool (*open)();
  void (*close)();
};
// clang-format off
constexpr EscapeCloser kEscapeClosers[] = {
    {.open = [] { return SkinEditorOpen; }, .close = [] { SkinEditorOpen = false; }},
    {.open = [] { return MacrosPanelOpen; }, .close = [] { MacrosPanelOpen = false; }},
    {.open = [] { return GridEditorDeck >= 0; },
     .close = [] {
       GridEditorDeck = -1;
       std::lock_guard<RealtimeMutex> lock(Engine.lock);
       Engine.clickDeck = -1;  // the editor's metronome stops with it
     }},
    {.open = [] { return HelpOpen || SettingsOpen; },
     .close = [] {
       HelpOpen = false;
       SettingsOpen = false;
       EndMidiLearn();
     }},
    {.open = [] { return midiLearnOn; }, .close = EndMidiLearn},
};
// clang-format on

void CloseFirstOverlay() {
  for (const EscapeCloser& closer : kEscapeClosers) {
    if (closer.open()) {
      closer.close();
      return;
    }
  }
}

// A key the user mapped to a control presses it like a controller button. True when mapped.
bool MappedKey(int key, bool repeat) {
  if (SearchFocused || midiLearnOn) return false;
  const auto mapped = MappingTable.find(MappingKey(key));
  if (mapped == MappingTable.end()) return false;
  const int32_t id = MappingTarget(mapped->second);
  if (repeat || KeyHeldIds.count(id) != 0 || heldIds.count(id) != 0) return true;
  KeyHeldIds.insert(id);
  ApplyMappedControl(static_cast<uint16_t>(id), PressEvent());
  return true;
}

// A page key while the settings screen is shown scrolls its page rather than the library beneath.
bool SettingsPageKey(int key) {
  if (!SettingsScreenShown()) return false;
  const auto row = std::find_if(std::begin(kSettingsPageKeys), std::end(kSettingsPageKeys),
                                [&](const PageKeyRow& r) { return r.key == key; });
  if (row == std::end(kSettingsPageKeys)) return false;
  ScrollSettingsPage(row->move);
  return true;
}

}  // namespace

// ---- keys -----------------------------------------------------------------------------------

void OnKeyDown(int key, bool repeat, bool ctrl, bool shift) {
  if (PromptKeyDown(key, repeat)) return;
  if (ModalKeyDown(key, shift)) return;
  if (WindowKey(key, repeat, shift)) return;
  if (key == KeyCode::Escape && TapSyncIndex != kTapSyncOff) {
    StopTapSync();
    ShowStatus(L"Tap sync stopped");
    return;
  }
  if (key == 'T' && TapSyncIndex != kTapSyncOff && !SearchFocused && !ctrl) {
    if (!repeat) TapSyncLine();
    return;
  }
  if (WizardOrTourKey(key)) return;
  if (LearnKey(key, repeat)) return;
  if (key == KeyCode::Escape) {
    CloseFirstOverlay();
    return;
  }
  if (SearchFocused && !ctrl && FieldKeyDown(&SearchText, key, shift)) {
    if (key == KeyCode::Delete) {  // the text changed: search again from the top
      ScrollRow = 0;
      RebuildView();
    }
    return;
  }
  if (ctrl) {
    RunKeyRow(kCtrlKeys, key, repeat, shift);
    return;
  }
  if (MappedKey(key, repeat)) return;
  if (SettingsPageKey(key)) return;
  if (key == KeyCode::Up || key == KeyCode::Down) {
    MoveSelection(key == KeyCode::Up ? -1 : 1);
    return;
  }
  if (SearchFocused) return;
  RunKeyRow(kMainKeys, key, repeat, shift);
}

void OnKeyUp(int key) {
  const auto mapped = MappingTable.find(MappingKey(key));
  if (mapped != MappingTable.end()) {
    const int32_t id = MappingTarget(mapped->second);
    if (KeyHeldIds.erase(id) != 0) ApplyMappedControl(static_cast<uint16_t>(id), ReleaseEvent());
    return;
  }
  const auto row = std::find_if(std::begin(kKeyReleases), std::end(kKeyReleases),
                                [&](const KeyReleaseRow& r) { return r.key == key; });
  if (row == std::end(kKeyReleases)) return;
  const int deck = SideSlots[row->side];
  switch (row->action) {
    case KeyRelease::Cue: CueRelease(deck); break;
    case KeyRelease::Censor: CensorRelease(deck); break;
    case KeyRelease::Roll: {
      const uint32_t mode = LiveDeckViews[deck].padMode;
      if (mode == kPadRoll || mode == kPadSlicer) EndLoopRoll(deck);
      break;
    }
  }
}

void OnCharacter(wchar_t character) {
  if (ModalCharacter(character)) return;
  if (!SearchFocused) return;
  if (character == kReturnCharacter) {
    SearchFocused = false;
    return;
  }
  if (character == kEscapeCharacter) {
    if (SearchText.empty()) SearchFocused = false;
    else SearchText.clear();
  } else {
    TypeIntoField(&SearchText, character);
  }
  ScrollRow = 0;
  RebuildView();
}
