// The action table holds every action once, and what users' stored mappings and phones rely on
// (names, kinds, widget ids, the remote's words, the built-in layouts) reads as it always did.
#include "control/action_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
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

std::string SourceText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text without its // comments (a quoted "//" stays).
std::string WithoutComments(const std::string& text) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"' && (i == 0 || text[i - 1] != '\\')) quoted = !quoted;
    if (c == '\n') quoted = false;
    if (!quoted && c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') ++i;
      if (i < text.size()) out += '\n';
      continue;
    }
    out += c;
  }
  return out;
}

// The unqualified names the text calls (not members, not std::fabs).
std::set<std::string> CalledNames(const std::string& text) {
  static const std::regex kCall(R"(([A-Za-z_]\w*)\s*\()");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kCall); it != std::sregex_iterator(); ++it) {
    const size_t at = static_cast<size_t>(it->position(0));
    const char before = at > 0 ? text[at - 1] : ' ';
    if (before == '.' || before == '>' || before == ':' || std::isalnum(static_cast<unsigned char>(before)) ||
        before == '_')
      continue;
    names.insert((*it)[1]);
  }
  return names;
}

// The functions a file defines at the start of a line, each with its body (up to the line "}").
std::map<std::string, std::string> DefinedFunctions(const std::string& text) {
  std::map<std::string, std::string> bodies;
  std::istringstream lines(text);
  std::string line, name, body;
  static const std::regex kDefinition(R"(^[A-Za-z][\w:<>&*, ]*?\b([A-Za-z_]\w*)\(.*\{\s*$)");
  while (std::getline(lines, line)) {
    std::smatch m;
    if (name.empty() && std::regex_match(line, m, kDefinition)) {
      name = m[1], body.clear();
    } else if (!name.empty() && line == "}") {
      bodies[name] = body;
      name.clear();
    } else if (!name.empty()) {
      body += line + '\n';
    }
  }
  return bodies;
}

// The void functions the headers of the layers above base/ declare: the program's actions.
std::set<std::string> DeclaredVoidFunctions(const std::filesystem::path& root) {
  static const std::regex kVoid(R"(^void ([A-Za-z_]\w*)\()");
  std::set<std::string> names;
  for (const char* folder : {"engine", "library", "broadcast", "karaoke", "control", "ui", "screens", "settings", "app"}) {
    for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
      if (entry.path().extension() != ".h") continue;
      std::istringstream lines(SourceText(entry.path()));
      std::string line;
      std::smatch m;
      while (std::getline(lines, line))
        if (std::regex_search(line, m, kVoid)) names.insert(m[1]);
    }
  }
  return names;
}

// What the rows' handlers and lights run, through the table's own helpers: the entry points a
// control reaches only through the table.
std::set<std::string> TableEntryPoints(const std::filesystem::path& root) {
  const std::string source = WithoutComments(SourceText(root / "control/action_table.cpp"));
  const size_t rowsAt = source.find("const ActionRow kRows[]");
  if (rowsAt == std::string::npos) return {};
  const std::string rows = source.substr(rowsAt, source.find("\n};", rowsAt) - rowsAt);
  const std::map<std::string, std::string> helpers = DefinedFunctions(source.substr(0, rowsAt));
  std::set<std::string> called, seen;
  std::vector<std::string> todo = {rows};
  while (!todo.empty()) {
    const std::string text = todo.back();
    todo.pop_back();
    for (const std::string& name : CalledNames(text)) {
      called.insert(name);
      const auto helper = helpers.find(name);
      if (helper != helpers.end() && seen.insert(name).second) todo.push_back(helper->second);
    }
  }
  const std::set<std::string> actions = DeclaredVoidFunctions(root);
  std::set<std::string> entryPoints;
  for (const std::string& name : called)
    if (actions.count(name) && !helpers.count(name)) entryPoints.insert(name);
  // Placing the playhead at a given time is a check's set-up; no control does that.
  entryPoints.erase("SeekDeck");
  return entryPoints;
}

}  // namespace

// The self-tests act as a controller or the on-screen buttons do: through the table's rows, never
// by calling what a row runs. The entry points come from the table itself, so a new row's action
// is covered as soon as it is added.
TEST(ActionTable, SelfTestsActOnlyThroughTheTable) {
  const std::filesystem::path root = VELDMIX_SOURCE_DIR;
  const std::set<std::string> entryPoints = TableEntryPoints(root);
  for (const char* name : {"PlayPause", "ToggleReverse", "LoopRoll", "TriggerSamplerPad", "BrakeOrSpin", "SyncDeck",
                           "ToggleSandbox", "RunPadMacro", "DeleteHotCue"})
    EXPECT_TRUE(entryPoints.count(name)) << name << " is not found among what the rows run";
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root / "selftest")) {
    if (entry.path().extension() != ".cpp" && entry.path().extension() != ".h") continue;
    ++files;
    for (const std::string& name : CalledNames(WithoutComments(SourceText(entry.path()))))
      EXPECT_FALSE(entryPoints.count(name)) << entry.path().filename().string() << " calls " << name
                                            << " itself instead of running its row";
  }
  EXPECT_GT(files, 10u);
}

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
