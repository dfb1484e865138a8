// The auto-map wizard's screen drawn off-screen and clicked where its buttons were drawn: no input
// no way on, a prompt follows what the controller sends, and the result is used or kept as a preset.
// With VELDMIX_SHOTS set, every screen is also written there as a PNG to look at.
#include "screens/auto_map_screen.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "base/status_message.h"
#include "control/auto_map.h"
#include "control/controller_devices.h"
#include "control/mapping_table.h"
#include "platform/draw_surface.h"
#include "platform/text.h"
#include "settings/skins.h"
#include "support/temp_home.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/offscreen.h"
#include "ui/widgets.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr double kNow = 100.0;

class AutoMapScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings = SettingsRecord{};
    LoadSkin();
    Input = UiInput{};
    DeferredActions.clear();
    MappingTable.clear();
    MidiInputDevices.clear();
    StartAutoMap();
  }
  void TearDown() override {
    ReleaseDevice();
    CloseAutoMap();
    MidiInputDevices.clear();
    MappingTable.clear();
    if (Modal.open) CloseModal(false);
  }
  // One frame; the ids of the widgets it drew.
  std::vector<std::pair<int, Rc>> Draw() {
    if (!HasDevice()) EXPECT_TRUE(CreateDevice(kWidth, kHeight, 1.0f));
    std::vector<std::pair<int, Rc>> drawn;
    WidgetRectLog = &drawn;
    ResetGlowLayer();
    BeginDraw();
    DrawAutoMapAt(kNow);
    EndFrame();
    EndFrameInput();
    WidgetRectLog = nullptr;
    return drawn;
  }
  static bool Drawn(const std::vector<std::pair<int, Rc>>& drawn, int id) {
    for (const auto& [i, r] : drawn)
      if (i == id) return true;
    return false;
  }
  void Click(int id) {
    for (const auto& [i, r] : Draw())
      if (i == id) Input.x = r.CenterX(), Input.y = r.CenterY();
    Input.pressed = Input.held = true;
    Draw();
    Input = UiInput{};
    Draw();
    RunDeferredActions();
  }
  void Shot(const char* name) {
    const char* folder = std::getenv("VELDMIX_SHOTS");
    if (!folder) return;
    std::wstring error;
    EXPECT_TRUE(RenderFrameToPng(kWidth, kHeight, [] { DrawAutoMapAt(kNow); },
                                 Utf8ToWide(std::string(folder) + "/" + name + ".png"), 1.0f, &error))
        << WideToUtf8(error);
  }
  static void Press(uint32_t key) {
    AutoMapState.stepStart = -1e9;  // long after the step began
    AutoMapMidiInput(key, 0x90, static_cast<int>(key & 0x7F), 127);
  }
  TempHome home_;
};

TEST_F(AutoMapScreenTest, WithoutAControllerThereIsNoWayOnButCancel) {
  Shot("automap-no-input");
  const auto drawn = Draw();
  EXPECT_FALSE(Drawn(drawn, kAutoMapStartId));
  EXPECT_TRUE(Drawn(drawn, kAutoMapCancelId));
  Click(kAutoMapCancelId);
  EXPECT_FALSE(AutoMapOpen);
  EXPECT_TRUE(MappingTable.empty());
}

TEST_F(AutoMapScreenTest, PromptsFollowTheControllerAndTheResultIsUsedOrSaved) {
  MidiInputDevices = {L"DDJ-FLX4:DDJ-FLX4"};
  MappingTable[MappingKey('X')] = 5200;
  Shot("automap-intro");
  Click(kAutoMapStartId);
  ASSERT_EQ(AutoMapState.step, 0);
  Shot("automap-listening");
  Press(0x90000B);  // PLAY
  EXPECT_EQ(AutoMapState.step, 1);
  Press(0x90000B);  // the same control again for CUE: refused with the warning
  EXPECT_EQ(AutoMapState.step, 1);
  Shot("automap-warning");
  Click(kAutoMapBackId);
  EXPECT_EQ(AutoMapState.step, 0);
  EXPECT_TRUE(AutoMapState.captures.empty()) << "back forgets PLAY to learn it again";
  Press(0x90000B);
  Click(kAutoMapSkipId);
  Click(kAutoMapSkipId);
  Click(kAutoMapSkipId);
  ASSERT_EQ(AutoMapState.step, 4);
  AutoMapState.stepStart = -1e9;
  for (int i = 0; i < 4; ++i) AutoMapMidiInput(0xB00006, 0xB0, 6, 1);  // the jog turns: NEXT goes on
  EXPECT_EQ(AutoMapState.step, 4);
  Shot("automap-jog");
  while (AutoMapState.step < kAutoMapSteps) Click(kAutoMapSkipId);
  Shot("automap-done");
  Click(kAutoMapUseId);
  EXPECT_FALSE(AutoMapOpen);
  EXPECT_EQ(MappingTable, (MappingPairs{{0x90000B, 5200}, {0xB00006, 5214}, {MappingKey('X'), 5200}}));
  EXPECT_EQ(Status.text, L"Controller mapped \u2014 have a play");

  // Again, kept as a preset named after the controller.
  StartAutoMap();
  AutoMapGoToStep(0);
  Press(0x90010B);
  AutoMapGoToStep(kAutoMapSteps);
  Click(kAutoMapSaveId);
  EXPECT_FALSE(AutoMapOpen);
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.fields.at(0).value, L"DDJ-FLX4:DDJ-FLX4");
  CloseModal(true);
  EXPECT_EQ(ReadRaw(WideToUtf8(ControllersFolder()) + "/DDJ-FLX4_DDJ-FLX4.vxmap"),
            "9437451\t5200\n15728728\t5200\n");
}

}  // namespace
