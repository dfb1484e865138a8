// The action table holds every action once, and what users' stored mappings and phones rely on
// (names, kinds, widget ids, the remote's words, the built-in layouts) reads as it always did.
#include "control/action_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "control/controller_presets.h"
#include "control/remote_state.h"

namespace {

// FNV-1a over everything the numbering shows the outside.
struct Digest {
  uint64_t h = 1469598103934665603ull;
  void Add(uint64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  }
  void Add(const std::wstring& s) {
    for (wchar_t c : s) Add(static_cast<uint64_t>(c));
    Add(0xFFFF);
  }
};

}  // namespace

TEST(ActionTable, OneRowPerActionWithUniqueWordsAndEveryButtonInIt) {
  std::set<int32_t> ids;
  std::set<std::string> remoteWords;
  std::set<std::wstring> names, macroWords;
  for (const ActionRow& row : ActionRows()) {
    ASSERT_NE(row.handler, nullptr) << row.name;
    EXPECT_TRUE(names.insert((row.deck ? L"deck " : L"") + std::wstring(row.name)).second) << row.name;
    for (int32_t n = 0; n < row.count; ++n) {
      const int32_t id = row.deck ? DeckControl(1, row.first + n) : row.first + n;
      EXPECT_TRUE(ids.insert(id).second) << "two rows hold " << id;
      int32_t found = -1;
      EXPECT_EQ(FindAction(id, &found), &row) << "row unreachable at " << id;
      EXPECT_EQ(found, n);
    }
    EXPECT_TRUE(row.deck ? row.first >= 0 && row.first + row.count <= kDeckControlsPerSide
                         : IsMixerControl(row.first) && IsMixerControl(row.first + row.count - 1))
        << row.name;
    // The trigger and the kind agree, or a fader's values would never reach its handler.
    const bool button = row.trigger == ActionTrigger::kPress || row.trigger == ActionTrigger::kPressRelease;
    EXPECT_EQ(row.kind == kAbsoluteControl, row.trigger == ActionTrigger::kValue) << row.name;
    EXPECT_EQ(row.kind == kRelativeControl, row.trigger == ActionTrigger::kDelta) << row.name;
    EXPECT_EQ(row.kind == kButtonControl, button) << row.name;
    for (const RemoteWord& w : row.remote) {
      if (w.word.empty()) continue;
      EXPECT_TRUE(remoteWords.insert(std::string(row.deck ? "deck." : "") + std::string(w.word)).second) << w.word;
      // The phone's word lands on this row.
      const std::string command = (row.deck ? "deck.1." : "") + std::string(w.word);
      const auto steps = RemoteControlSteps(RemoteCommand{.name = command, .press = true});
      ASSERT_FALSE(steps.empty()) << command;
      EXPECT_EQ(FindAction(steps[0].target), &row) << command;
    }
    if (!row.macro.empty()) EXPECT_TRUE(macroWords.insert(std::wstring(row.macro)).second) << row.first;
    if (row.shifted >= 0) EXPECT_NE(FindDeckAction(row.shifted), nullptr) << row.name;
  }
  for (int32_t widget = 0; widget < 4000; ++widget)
    if (const int32_t id = ControlIdFromUi(widget)) EXPECT_NE(FindAction(id), nullptr) << "widget " << widget;
  EXPECT_EQ(ShiftedDeckOffset(kSyncOffset, true), kSyncLockOffset);
  EXPECT_EQ(ShiftedDeckOffset(kSyncOffset, false), kSyncOffset);
  EXPECT_EQ(ShiftedDeckOffset(kPlayOffset, true), kPlayOffset);
}

// Names, kinds, widget translation, the phone's words and the built-in layouts' rows, taken
// together, are those users' midi.tsv files, presets and phones were made against.
TEST(ActionTable, WhatStoredMappingsAndPhonesSeeIsUnchanged) {
  Digest d;
  for (int32_t id = 4990; id < 5610; ++id) d.Add(ActionName(id)), d.Add(GetControlKind(id));
  for (int32_t widget = 0; widget < 4000; ++widget) d.Add(static_cast<uint64_t>(ControlIdFromUi(widget)));
  for (const ControllerPreset& preset : ControllerPresets())
    for (const auto& [key, value] : preset.rows) d.Add(key), d.Add(value);
  for (const char* word : {"deck.0.play", "deck.1.cue.down", "deck.0.cue.up", "deck.1.sync", "deck.0.pfl",
                           "deck.1.load", "deck.0.vol", "deck.1.loop", "deck.0.jumpback", "deck.1.jumpfwd",
                           "deck.0.hotcue5", "mixer.xfader", "lib.browse", "mixer.automix", "mixer.glide",
                           "mixer.rec", "mixer.quantize", "mixer.sandbox"}) {
    for (const RemoteControlStep& step : RemoteControlSteps(RemoteCommand{.name = word, .press = true}))
      d.Add(step.target), d.Add(step.event.press), d.Add(step.event.release);
  }
  EXPECT_EQ(d.h, 8324854833126168034ull);
}
