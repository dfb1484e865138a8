#pragma once
// The action table: one row per controller action (a mixer or global id, or a deck offset, or a
// numbered run of them) with everything that defines it: its name and kind, the phone remote's and
// the macros' words for it, what it does and when it is lit. Controllers, HID, keyboard bindings,
// the phone remote, macros, the on-screen SYNC button and the self-tests all run a row through
// RunAction. UI thread.
#include <cstdint>
#include <span>
#include <string_view>

#include "control/control_event.h"
#include "control/control_ids.h"

// Which events reach a row's handler.
enum class ActionTrigger : uint8_t {
  kPress,         // press edges
  kPressRelease,  // press and release edges
  kValue,         // absolute values, clamped to 0..1
  kDelta,         // non-zero step counts
};

// How a phone's word for a row makes its edges.
enum class RemoteEdge : uint8_t {
  kFromCommand,  // a pressed button gets a press and a release; values and steps pass through
  kPress,        // the word is the press alone ("cue.down")
  kRelease,      // the word is the release alone ("cue.up")
};

inline constexpr int32_t kNumberFollowsWord = 0;  // RemoteWord::n: "hotcue3" names n = 3

// A word the phone remote sends for a row: "deck.<side>.<word>" for a deck row, the whole word
// for a mixer row.
struct RemoteWord {
  std::string_view word;
  int32_t n = 1;  // which of a numbered run (from 1), or kNumberFollowsWord
  RemoteEdge edge = RemoteEdge::kFromCommand;
};

// deck: the deck a deck row acts on (0..3), -1 for mixer rows; n: 0-based within a numbered run.
using ActionHandler = void (*)(int deck, int32_t n, const ControlEvent& event);
using ActionLight = bool (*)(int deck, int32_t n);

struct ActionRow {
  bool deck = false;       // a deck row (first is an offset) or a mixer row (first is a control id)
  int32_t first = 0;
  int32_t count = 1;       // the length of a numbered run; its name is followed by n
  const wchar_t* name = L"";
  ControlKind kind = kButtonControl;
  ActionTrigger trigger = ActionTrigger::kPress;
  ActionHandler handler = nullptr;
  ActionLight light = nullptr;  // none: never lit
  RemoteWord remote[2] = {};
  std::wstring_view macro;      // the macro keyword that runs this row's press (and release)
  int32_t shifted = -1;         // deck rows: the offset SHIFT turns this button into, -1 none
};

std::span<const ActionRow> ActionRows();

// The row of a control id (a mixer id or a deck id of either side), and n within it; null for an
// id no row holds.
const ActionRow* FindAction(int32_t id, int32_t* n = nullptr);
// The deck row holding offset, and n within it; null for an unassigned offset.
const ActionRow* FindDeckAction(int32_t offset, int32_t* n = nullptr);

// The one door: runs the row's handler for an event its trigger takes; deck is ignored by mixer
// rows. Values that are not finite are dropped.
void RunAction(const ActionRow& row, int deck, int32_t n, const ControlEvent& event);
// A deck offset on a given deck (not a side): on-screen buttons, macros and the self-tests.
void ApplyDeckAction(int deck, int32_t offset, const ControlEvent& event);
// A click of a deck button: the press and, for a row that takes releases, the release.
void ClickDeckAction(int deck, int32_t offset);
// The deck offset a button stands for with SHIFT held or not: the one SHIFT rule for the mouse,
// and the target of controllers' own shifted buttons in the built-in presets.
int32_t ShiftedDeckOffset(int32_t offset, bool shift);
// Whether the action of a control id is lit (false for ids no row lights).
bool ActionLit(int32_t id);
