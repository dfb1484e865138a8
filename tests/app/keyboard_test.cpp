// Keyboard shortcuts on real decks (click tracks loaded through LoadTrack), the order in which
// overlays take keys, key learning and mapped keys, and text entry into forms and the search box.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "app/keyboard.h"
#include "base/settings.h"
#include "broadcast/visualiser.h"
#include "control/auto_map.h"
#include "control/macros_panel.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "engine/undo.h"
#include "karaoke/tap_sync.h"
#include "library/track_view.h"
#include "platform/clock.h"
#include "platform/keymap.h"
#include "platform/text.h"
#include "screens/grid_editor.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "settings/skin_editor.h"
#include "settings/tour.h"
#include "support/click_tracks.h"
#include "support/shown_status.h"
#include "support/temp_home.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int32_t kTopBarButton = 3;  // any button-like control
constexpr int32_t kLeftJog = 1002;
constexpr wchar_t kEsc = 27, kEnter = 13, kBackspace = 8, kPaste = 22;

void Key(int vk, bool shift = false) {
  OnKeyDown(vk, false, false, shift);
  OnKeyUp(vk);
}
void Repeat(int vk) { OnKeyDown(vk, true, false, false); }
void CtrlKey(int vk, bool shift = false, bool repeat = false) { OnKeyDown(vk, repeat, true, shift); }
// The browser showing these files (path, title) in this order.
void ShowRows(const std::vector<std::pair<std::wstring, std::wstring>>& rows) {
  ViewItems.clear();
  for (const auto& [path, title] : rows)
    ViewItems.push_back({.path = path, .title = title, .searchText = title, .index = uint32_t(ViewItems.size())});
  RebuildView();
}

void Type(std::wstring_view text) {
  for (wchar_t c : text) OnCharacter(c);
}

bool Playing(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return Engine.decks[deck].playing;
}
double Seconds(int deck) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  return Engine.decks[deck].position / kRate;
}
void Place(int deck, double seconds) {
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  Engine.decks[deck].position = seconds * kRate;
}

std::wstring Clipboard;

// Every global the keys read or write, back to how a fresh program has it.
void ResetKeyState() {
  Prompt = ConfirmPrompt{};
  Modal = ModalForm{};
  Status = StatusLine{};
  SideSlots[kLeftSide] = 0, SideSlots[kRightSide] = 1;
  SearchFocused = false, SearchText.clear(), CrateSearch.clear(), ScrollRow = 0, Selection = -1;
  ViewItems.clear(), ViewOrder.clear(), SortColumn = kSortSourceOrder, SortAscending = true, MatchDeck = false;
  MappingTable.clear(), KeyHeldIds.clear(), mappedControlIds.clear(), controlKinds.clear();
  pressedIds.clear(), releasedIds.clear(), heldIds.clear();
  midiLearnOn = false, midiLearnTarget = 0;
  HelpOpen = SettingsOpen = SkinEditorOpen = MacrosPanelOpen = AutoMapOpen = TourOpen = false;
  TourStep = 0, GridEditorDeck = -1, TapSyncIndex = kTapSyncOff;
  VisualiserWindowOpen = false;
  CrossfaderPosition = 0.5f, XfGlide = CrossfaderGlide{};
  Automix = AutomixState{};
  ClipboardReadHook = nullptr;
}

class KeyRouting : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecksForTest();
    ResetKeyState();
  }
  void TearDown() override {
    ResetKeyState();
    ResetDecksForTest();
  }
  TempHome home;
};

// Decks A and B hold 12 s click tracks at 120 BPM.
class KeyDecks : public KeyRouting {
 protected:
  void SetUp() override {
    KeyRouting::SetUp();
    static ClickTrackFolder folder;
    ClickTrack spec;
    spec.seconds = 12.0;
    path_ = folder.Make(spec);
    ASSERT_FALSE(path_.empty());
    ASSERT_TRUE(LoadAndWait(0, path_));
    ASSERT_TRUE(LoadAndWait(1, path_));
  }
  std::wstring WidePath() const { return Utf8ToWide(path_); }
  // Hands deck-load completions over until the deck has its track.
  static void DrainUntilLoaded(int deck) {
    for (int i = 0; i < kLoadPolls && LiveDeckViews[deck].loading; ++i) {
      SleepMs(kLoadPollMs);
      DrainDeckLoads();
    }
    ASSERT_FALSE(LiveDeckViews[deck].loading);
  }
  static constexpr int kLoadPolls = 2000;
  static constexpr unsigned kLoadPollMs = 10;
  std::string path_;
};

TEST_F(KeyDecks, DeckKeysPlayCueAndLoopTheDeckShownOnTheirSide) {
  Key('X');
  EXPECT_TRUE(Playing(0)) << "X plays the left deck";
  EXPECT_FALSE(Playing(1));
  Repeat('X');
  EXPECT_TRUE(Playing(0)) << "auto-repeat does not pause it again";
  Key(KeyCode::OemPeriod);
  EXPECT_TRUE(Playing(1)) << "\".\" plays the right deck";
  Key('V');
  EXPECT_TRUE(Engine.decks[0].loopOn) << "V loops the left deck";
  Key('M');
  EXPECT_TRUE(Engine.decks[1].loopOn);
  Key('X'), Key(KeyCode::OemPeriod);
  EXPECT_FALSE(Playing(0));
  EXPECT_FALSE(Playing(1));

  // CUE: on a paused deck away from the cue point Z sets the cue there; on it, Z previews while
  // held and its release stops and returns.
  Key('V');
  Place(0, 3.0);
  Key('Z');
  EXPECT_NEAR(Engine.decks[0].cuePoint / kRate, 3.0, 1e-9);
  OnKeyDown('Z', false, false, false);
  EXPECT_TRUE(Playing(0));
  Place(0, 3.5);
  OnKeyUp('Z');
  EXPECT_FALSE(Playing(0));
  EXPECT_NEAR(Seconds(0), 3.0, 1e-9);
}

TEST_F(KeyDecks, FourDecksSwapTheSidesAndTheKeysFollow) {
  Key(KeyCode::OemOpenBracket);
  EXPECT_EQ(SideSlots[kLeftSide], 0) << "[ does nothing with two decks";
  Settings.FourDecks = true;
  ASSERT_TRUE(LoadAndWait(2, path_));
  Key(KeyCode::OemOpenBracket);
  Key(KeyCode::OemCloseBracket);
  EXPECT_EQ(SideSlots[kLeftSide], 2);
  EXPECT_EQ(SideSlots[kRightSide], 3);
  Key('X');
  EXPECT_TRUE(Playing(2)) << "the left hand now plays deck C";
  EXPECT_FALSE(Playing(0));
  Key(KeyCode::OemOpenBracket);
  EXPECT_EQ(SideSlots[kLeftSide], 0);
}

TEST_F(KeyDecks, PadKeysFollowThePadMode) {
  Place(0, 2.0);
  Key('1');
  EXPECT_NEAR(Engine.decks[0].hotCueStart[0] / kRate, 2.0, 1e-9) << "CUES: pad 1 stores hot cue 1";

  LiveDeckViews[1].padMode = 2;  // JUMP
  Place(1, 6.0);
  Key('7');
  EXPECT_NEAR(Seconds(1), 2.0, 1e-6) << "JUMP: the first pad jumps back 8 beats (4 s at 120 BPM)";
  Key('0');
  EXPECT_NEAR(Seconds(1), 1.5, 1e-6) << "the fourth pad jumps back one beat";

  LiveDeckViews[0].padMode = 6;  // KEYS
  Key('3');
  EXPECT_EQ(LiveDeckViews[0].keyShift, 3);
  Key('3');
  EXPECT_EQ(LiveDeckViews[0].keyShift, 0) << "the pad of the current shift sets it back";
  PressPad(0, 5);
  EXPECT_EQ(LiveDeckViews[0].keyShift, -2);

  // ROLL: the pad holds a roll on a playing deck until its key goes up.
  LiveDeckViews[0].padMode = 1;
  Key('X');
  OnKeyDown('2', false, false, false);
  EXPECT_TRUE(Engine.decks[0].loopOn);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, 1);
  OnKeyUp('2');
  EXPECT_FALSE(Engine.decks[0].loopOn);
  EXPECT_EQ(LiveDeckViews[0].rollIndex, -1);
}

TEST_F(KeyDecks, MemoryCuesAreAddedJumpedToDeletedAndUndone) {
  Place(0, 2.0), Key('D');
  Place(0, 6.0), Key('D');
  ASSERT_EQ(LiveDeckViews[0].memoryCues.size(), 2u);
  Place(0, 4.0);
  Key('S');
  EXPECT_NEAR(Seconds(0), 6.0, 1e-6) << "S: next memory cue";
  Key('A');
  EXPECT_NEAR(Seconds(0), 2.0, 1e-6) << "A: previous memory cue";
  Place(0, 5.5);
  Key('D', true);
  EXPECT_EQ(LiveDeckViews[0].memoryCues, std::vector<double>{2.0}) << "Shift+D deletes the nearest";
  CtrlKey('Z');
  EXPECT_EQ(LiveDeckViews[0].memoryCues.size(), 2u) << "Ctrl+Z undoes the delete";
}

TEST_F(KeyDecks, TheCrossfaderStepsGlidesAndTheSelectionLoads) {
  CrossfaderPosition = 1.0f;
  OnKeyDown(KeyCode::Left, false, false, false);
  for (int i = 1; i < 20; ++i) Repeat(KeyCode::Left);
  EXPECT_EQ(CrossfaderPosition, 0.0f) << "twenty steps of Left from 1 reach 0";
  Repeat(KeyCode::Left);
  EXPECT_EQ(CrossfaderPosition, 0.0f);
  Key(KeyCode::Right);
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.05f);

  CtrlKey(KeyCode::Right);
  EXPECT_TRUE(XfGlide.active);
  EXPECT_EQ(XfGlide.target, 1.0f);
  EXPECT_FLOAT_EQ(XfGlide.start, 0.05f);
  Key(KeyCode::Left);
  EXPECT_FALSE(XfGlide.active) << "a key on the fader ends the glide";

  // Enter loads the selection onto the first stopped, empty deck, else the first stopped one;
  // Shift+Left / Shift+Right onto that side's deck, once per press.
  ShowRows({{WidePath(), L"one"}, {WidePath(), L"two"}});
  Key(KeyCode::Down);
  Key(KeyCode::Down);
  Key(KeyCode::Down);
  EXPECT_EQ(Selection, 1) << "Down moves the selection, clamped";
  Key(KeyCode::Up);
  EXPECT_EQ(Selection, 0);
  Key('X');
  Key(KeyCode::Return);
  EXPECT_TRUE(LiveDeckViews[1].loading) << "no deck is empty and A plays: B takes it";
  DrainUntilLoaded(1);
  OnKeyDown(KeyCode::Right, false, false, true);
  EXPECT_TRUE(LiveDeckViews[1].loading);
  DrainUntilLoaded(1);
  OnKeyDown(KeyCode::Right, true, false, true);
  EXPECT_FALSE(LiveDeckViews[1].loading) << "a held Shift+Right loads once";
  OnKeyDown(KeyCode::Left, false, false, true);
  EXPECT_FALSE(LiveDeckViews[0].loading) << "the left deck plays: its load is refused";
  EXPECT_EQ(CrossfaderPosition, 0.0f) << "with Shift the arrows leave the fader";
}

TEST_F(KeyRouting, OverlaysTakeTheKeysInTheirOrder) {
  // A question takes every key: Ctrl+L does nothing, Enter answers yes.
  bool yes = false;
  ShowConfirmPrompt(L"Q", L"", L"YES", L"NO", [&] { yes = true; }, nullptr);
  CtrlKey('L');
  EXPECT_EQ(Settings.Layout, 0);
  Key(KeyCode::Return);
  EXPECT_TRUE(yes);

  // A form: Tab moves the focus, keys do nothing, characters type.
  std::vector<ModalField> accepted;
  OpenModal(L"Form", {{L"One", L"", false}, {L"Two", L"", false}}, L"OK",
            [&](const std::vector<ModalField>& fields) { accepted = fields; });
  Key(KeyCode::Tab);
  EXPECT_EQ(Modal.focused, 1);
  OnKeyDown(KeyCode::Tab, false, false, true);
  EXPECT_EQ(Modal.focused, 0);
  Key(KeyCode::Space), Key(KeyCode::F1);
  EXPECT_FALSE(HelpOpen);
  Type(L"a b");
  OnCharacter(kEnter);
  ASSERT_EQ(accepted.size(), 2u);
  EXPECT_EQ(accepted[0].value, L"a b") << "Space types a space into the focused field";

  // The tour steps forward and back, never below the first step, and ends on the last.
  TourOpen = true;
  Key(KeyCode::Left);
  EXPECT_EQ(TourStep, 0);
  for (int i = 0; i < kTourSteps - 1; ++i) Key(i % 2 ? KeyCode::Right : KeyCode::Return);
  EXPECT_EQ(TourStep, kTourSteps - 1);
  CtrlKey('L');
  EXPECT_EQ(Settings.Layout, 0) << "the tour takes every key";
  Key(KeyCode::Right);
  EXPECT_FALSE(TourOpen);
  EXPECT_TRUE(Settings.TourDone);

  AutoMapOpen = true;
  CtrlKey('L');
  Key(KeyCode::Escape);
  EXPECT_FALSE(AutoMapOpen);
  EXPECT_EQ(Settings.Layout, 0);

  // Esc closes one overlay at a time, in order; help and settings end MIDI learn with them.
  SkinEditorOpen = MacrosPanelOpen = HelpOpen = SettingsOpen = midiLearnOn = true;
  GridEditorDeck = 0, Engine.clickDeck = 0;
  Key(KeyCode::Escape);
  EXPECT_FALSE(SkinEditorOpen);
  EXPECT_TRUE(MacrosPanelOpen);
  Key(KeyCode::Escape);
  EXPECT_FALSE(MacrosPanelOpen);
  Key(KeyCode::Escape);
  EXPECT_EQ(GridEditorDeck, -1);
  EXPECT_EQ(Engine.clickDeck, -1) << "the grid editor's metronome stops";
  Key(KeyCode::Escape);
  EXPECT_FALSE(HelpOpen || SettingsOpen || midiLearnOn);
}

TEST_F(KeyDecks, DeckKeysStillActBehindScreensButNotBehindTheTour) {
  SettingsOpen = HelpOpen = SkinEditorOpen = MacrosPanelOpen = true;
  Key('X');
  EXPECT_TRUE(Playing(0));
  Key('X');
  TourOpen = true;
  Key('X');
  EXPECT_FALSE(Playing(0));
}

TEST_F(KeyDecks, TheCtrlTableAndTheWindowKeys) {
  CtrlKey('L');
  EXPECT_EQ(Settings.Layout, 1);
  EXPECT_EQ(Status.text, L"Library layout");
  CtrlKey('L', false, true);
  EXPECT_EQ(Settings.Layout, 1) << "Ctrl keys ignore auto-repeat";
  CtrlKey('L'), CtrlKey('L');
  EXPECT_EQ(Settings.Layout, 0);
  CtrlKey('X');
  EXPECT_FALSE(Playing(0)) << "with Ctrl only the Ctrl table applies";

  CtrlKey('G', true);
  EXPECT_EQ(GridEditorDeck, 1) << "Ctrl+Shift+G: the right deck";
  CtrlKey('G');
  EXPECT_EQ(GridEditorDeck, -1) << "an open editor closes";
  LiveDeckViews[0] = DeckView{};
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.decks[0].track.reset();
  }
  CtrlKey('G');
  EXPECT_EQ(GridEditorDeck, -1) << "not for an empty deck";

  CtrlKey('M');
  EXPECT_TRUE(Automix.on);
  CtrlKey('M');
  EXPECT_FALSE(Automix.on);

  Key(KeyCode::F1);
  EXPECT_TRUE(HelpOpen);
  OnKeyDown(KeyCode::F1, true, false, false);
  EXPECT_TRUE(HelpOpen) << "a held F1 does not flicker the help";
  Key(KeyCode::F1);
  VisualiserWindowOpen = true;
  SetVisualIndex(9);
  Key(KeyCode::F10, true);
  EXPECT_EQ(Settings.VisualiserStyle, 0) << "Shift+F10 steps the open visualiser's style, wrapping";

  TapSyncIndex = 4;
  Key(KeyCode::Escape);
  EXPECT_EQ(TapSyncIndex, kTapSyncOff);
  EXPECT_EQ(Status.text, L"Tap sync stopped");
}

TEST_F(KeyDecks, ALearnedKeyPressesItsControlInsteadOfItsShortcut) {
  midiLearnOn = true;
  midiLearnTarget = kLeftJog;
  Key('X');
  EXPECT_EQ(Status.text, L"Keys can drive buttons \u2014 map knobs, faders and jogs to a MIDI controller");
  controlKinds[kTopBarButton + 1] = kControlKindAbsolute;
  midiLearnTarget = kTopBarButton + 1;
  Key('X');
  EXPECT_TRUE(MappingTable.empty()) << "knobs, faders and jogs are not learned";
  EXPECT_FALSE(Playing(0)) << "the key did nothing else";

  midiLearnTarget = kTopBarButton;
  Key(KeyCode::Shift);
  EXPECT_EQ(midiLearnTarget, kTopBarButton) << "modifiers are not learned";
  Key('X');
  EXPECT_EQ(MappingTable[MappingKey('X')], kTopBarButton);
  EXPECT_EQ(MappingKey('X'), 0xF00058u);
  EXPECT_EQ(Status.text, L"Key X mapped \u2014 it now overrides any built-in shortcut");
  EXPECT_EQ(ShownStatusIn(kUiGerman), L"Taste X zugewiesen \u2014 sie ersetzt jetzt jedes eingebaute Tastenkürzel");
  EXPECT_EQ(midiLearnTarget, 0);
  midiLearnTarget = kTopBarButton + 2;
  Key(0xB3);
  EXPECT_EQ(Status.text, L"Key #179 mapped \u2014 it now overrides any built-in shortcut") << "a key without a name";

  midiLearnOn = false;
  OnKeyDown('X', false, false, false);
  EXPECT_FALSE(Playing(0)) << "the mapping overrides PLAY/PAUSE";
  EXPECT_TRUE(pressedIds.count(kTopBarButton));
  EXPECT_TRUE(heldIds.count(kTopBarButton));
  pressedIds.clear();
  Repeat('X');
  EXPECT_TRUE(pressedIds.empty()) << "a held key presses once";
  OnKeyUp('X');
  EXPECT_TRUE(releasedIds.count(kTopBarButton));
  EXPECT_FALSE(heldIds.count(kTopBarButton));

  // A control a controller already holds is not pressed again, nor released by the key.
  releasedIds.clear();
  heldIds.insert(kTopBarButton);
  Key('X');
  EXPECT_TRUE(pressedIds.empty());
  EXPECT_TRUE(releasedIds.empty());
  EXPECT_TRUE(heldIds.count(kTopBarButton));
}

TEST_F(KeyRouting, TheSearchBoxTakesTypingAndEscClearsThenLeaves) {
  ShowRows({{L"/a.wav", L"deep a"}, {L"/b.wav", L"deep b"}, {L"/c.wav", L"deep c"}});
  Type(L"ignored");
  EXPECT_TRUE(SearchText.empty()) << "without a focus characters are dropped";
  CtrlKey('F');
  ASSERT_TRUE(SearchFocused);
  ScrollRow = 12;
  Type(L"de\x02" L"ep");
  OnCharacter(kBackspace);
  EXPECT_EQ(SearchText, L"dee") << "control characters are dropped, Backspace removes one";
  EXPECT_EQ(ScrollRow, 0) << "typing scrolls back to the top";
  Key('X');
  Key(KeyCode::Down), Key(KeyCode::Down);
  EXPECT_EQ(Selection, 1) << "Up and Down still move the selection";
  EXPECT_EQ(SearchText, L"dee") << "keys do not type";

  Clipboard = L"house\r\nsecond line";
  ClipboardReadHook = [](std::wstring* text) { return *text = Clipboard, true; };
  OnCharacter(kPaste);
  EXPECT_EQ(SearchText, L"deehouse") << "a paste stops at its first line break";

  OnCharacter(kEsc);
  EXPECT_TRUE(SearchText.empty());
  EXPECT_TRUE(SearchFocused) << "the first Esc keeps the focus";
  OnCharacter(kEsc);
  EXPECT_FALSE(SearchFocused);
  CtrlKey('F');
  Type(L"kept");
  OnCharacter(kEnter);
  EXPECT_FALSE(SearchFocused);
  EXPECT_EQ(SearchText, L"kept") << "Enter leaves the box and keeps the text";
}

}  // namespace

namespace {

// The search box edits through the real key routing: select all and type replaces the search;
// Home, Shift+Right and Delete act in the text.
TEST_F(KeyRouting, TheSearchBoxEditsLikeAnEditControl) {
  ShowRows({{L"/a.wav", L"deep a"}, {L"/b.wav", L"house b"}});
  CtrlKey('F');
  Type(L"deep");
  OnCharacter(1);  // Ctrl+A
  Type(L"house");
  EXPECT_EQ(SearchText, L"house");
  EXPECT_EQ(ViewOrder.size(), 1u) << "the view follows the replaced text";
  Key(KeyCode::Home);
  Key(KeyCode::Right, true);
  Key(KeyCode::Delete);
  EXPECT_EQ(SearchText, L"ouse");
  Key(KeyCode::End);
  OnCharacter(kBackspace);
  EXPECT_EQ(SearchText, L"ous");
}

}  // namespace
