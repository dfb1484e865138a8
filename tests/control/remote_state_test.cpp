// The remote's state document as phones read it, and commands as the dispatcher receives them.
#include "control/remote_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/deck_snapshot.h"
#include "engine/mixer_controls.h"
#include "engine/side_slots.h"
#include "library/track_view.h"

namespace {

std::vector<RemoteControlStep> Steps(const std::string& name, bool press = true, bool hasValue = false,
                                     float value = 0.0f, int32_t delta = 0) {
  return RemoteControlSteps(RemoteCommand{.name = name, .press = press, .hasValue = hasValue, .value = value, .delta = delta});
}

// The titles of the rows the state sends, in order, the selected one in brackets.
std::string Rows(const std::string& json) {
  std::string out;
  for (size_t at = json.find("{\"title\":", json.find("\"lib\":[")); at != std::string::npos;
       at = json.find("{\"title\":", at + 1)) {
    const size_t start = at + 10, end = json.find('"', start);
    const bool selected = json.compare(json.find(",\"sel\":", end) + 7, 4, "true") == 0;
    out += (selected ? "[" : "") + json.substr(start, end - start) + (selected ? "] " : " ");
  }
  return out;
}

void ShowTracks(int count, int selectedPosition) {
  ViewItems.clear();
  ViewOrder.clear();
  for (int i = 0; i < count; ++i) {
    ViewItems.push_back(LibraryFile{.path = L"/m/" + std::to_wstring(i), .title = std::to_wstring(i)});
    ViewOrder.push_back(count - 1 - i);  // display order differs from scan order
  }
  Selection = selectedPosition < 0 ? -1 : ViewOrder[static_cast<size_t>(selectedPosition)];
}

}  // namespace

TEST(RemoteCommands, NamesTurnIntoTheControlIdsAndEdgesOfTheTables) {
  auto pressThenRelease = [](const std::vector<RemoteControlStep>& steps, int target) {
    return steps.size() == 2 && steps[0].target == target && steps[0].event.press && !steps[0].event.release &&
           steps[1].target == target && steps[1].event.release && !steps[1].event.press;
  };
  EXPECT_TRUE(pressThenRelease(Steps("deck.1.hotcue3"), 5472));
  EXPECT_TRUE(pressThenRelease(Steps("deck.0.hotcue12"), 5277));
  EXPECT_TRUE(pressThenRelease(Steps("deck.0.hotcue"), 5270));
  EXPECT_TRUE(pressThenRelease(Steps("deck.2.play"), 5200)) << "only 1 picks the right side";
  EXPECT_TRUE(pressThenRelease(Steps("deck.1.jumpfwd"), 5506));
  EXPECT_TRUE(pressThenRelease(Steps("mixer.rec"), 5010));
  const auto down = Steps("deck.0.cue.down"), up = Steps("deck.0.cue.up", false);
  ASSERT_EQ(down.size(), 1u);
  EXPECT_TRUE(down[0].target == 5201 && down[0].event.press && !down[0].event.release);
  ASSERT_EQ(up.size(), 1u);
  EXPECT_TRUE(up[0].target == 5201 && up[0].event.release && !up[0].event.press);
  const auto xf = Steps("mixer.xfader", false, true, 1.7f);
  ASSERT_EQ(xf.size(), 1u);
  EXPECT_TRUE(xf[0].target == 5000 && xf[0].event.hasValue && xf[0].event.value == 1.0f);
  const auto vol = Steps("deck.1.vol", false, true, 0.25f);
  ASSERT_EQ(vol.size(), 1u);
  EXPECT_TRUE(vol[0].target == 5408 && vol[0].event.value == 0.25f);
  const auto browse = Steps("lib.browse", false, false, 0.0f, -1);
  ASSERT_EQ(browse.size(), 1u);
  EXPECT_TRUE(browse[0].target == 5005 && browse[0].event.delta == -1 && !browse[0].event.press);
  for (const char* unknown : {"mixer.fader", "deck.0.warp", "deck.0", "deck.", ""}) EXPECT_TRUE(Steps(unknown).empty()) << unknown;
  EXPECT_TRUE(Steps("mixer.xfader", false, true, std::numeric_limits<float>::quiet_NaN()).empty());
  DispatchRemoteCommand(new RemoteCommand{.name = "mixer.fader"});  // freed though unknown (leak checkers)
}

// Commands act through the dispatcher, as a controller's would.
TEST(RemoteCommands, ACommandMovesTheMixerThroughTheDispatcher) {
  CrossfaderPosition = 0.5f;
  DispatchRemoteCommand(new RemoteCommand{.name = "mixer.xfader", .hasValue = true, .value = 0.25f});
  EXPECT_FLOAT_EQ(CrossfaderPosition, 0.25f);
  DispatchRemoteCommand(new RemoteCommand{.name = "mixer.xfader", .hasValue = true, .value = 7.0f});
  EXPECT_FLOAT_EQ(CrossfaderPosition, 1.0f);
  DispatchRemoteCommand(new RemoteCommand{.name = "mixer.xfader", .press = true});
  EXPECT_FLOAT_EQ(CrossfaderPosition, 1.0f) << "a press without a value moves no fader";
  CrossfaderPosition = 0.5f;
}

TEST(RemoteState, AnEmptyDeckAndTextThatNeedsEscaping) {
  SideSlots[0] = 0;
  SideSlots[1] = 1;
  DeckSnapshots[1] = DeckSnapshot{};
  ShowTracks(0, -1);
  const std::string json = RemoteStateJson();
  EXPECT_TRUE(json.starts_with("{\"decks\":[{\"letter\":\"A\","));
  EXPECT_NE(json.find(R"({"letter":"B","title":"","artist":"",)"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("time":"0:00","remain":"","bpm":"","playing":false,)"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("hot":[0,0,0,0,0,0,0,0]})"), std::string::npos);
  EXPECT_NE(json.find("\"lib\":[]}"), std::string::npos);
  EXPECT_EQ(JsonEscape(L"Say \"hi\"\\\tnow\nB\u00e9la \u2014 \U0001F3B5"),
            "\"Say \\\"hi\\\"\\\\ now B\xC3\xA9la \xE2\x80\x94 \xF0\x9F\x8E\xB5\"");
  EXPECT_EQ(JsonEscape(std::wstring(1, static_cast<wchar_t>(0xD800))), "\"\xEF\xBF\xBD\"") << "always valid UTF-8";
}

TEST(RemoteState, TheLibraryRowsAroundTheSelection) {
  ShowTracks(20, 9);
  EXPECT_EQ(Rows(RemoteStateJson()), "13 12 11 [10] 9 8 7 6 ");
  ShowTracks(20, 1);
  EXPECT_EQ(Rows(RemoteStateJson()), "19 [18] 17 16 15 14 13 12 ");
  ShowTracks(5, 2);
  EXPECT_EQ(Rows(RemoteStateJson()), "4 3 [2] 1 0 ");
  ShowTracks(5, 4);
  EXPECT_EQ(Rows(RemoteStateJson()), "3 2 1 [0] ") << "three before the selection, never past the end";
  ShowTracks(5, -1);
  EXPECT_EQ(Rows(RemoteStateJson()), "4 3 2 1 0 ");
  ViewItems[4].artist = L"Ann";
  EXPECT_NE(RemoteStateJson().find("{\"title\":\"4 \xE2\x80\x94 Ann\",\"sel\":false}"), std::string::npos);
  ShowTracks(0, -1);
}
