// The Audio and Mixing pages drawn through DrawSettings off-screen and clicked where their widgets
// were drawn, over the real sound server's devices and the real output and timecode threads.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "base/test_mode.h"
#include "control/timecode.h"
#include "engine/audio_output.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "platform/draw_surface.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/settings_screen.h"
#include "settings/skins.h"
#include "support/audio_server.h"
#include "support/temp_home.h"
#include "ui/glow.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kOutputWaitMs = 5000;

class DevicePages : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(EnsureAudioServer(&why)) << why;
    TestMode = false;
    Settings = SettingsRecord{};
    LoadSkin();
    SettingsOpen = true;
    SettingsPage = 0;
    ForgetSectionHeights();
    ASSERT_TRUE(CreateDevice(kWidth, kHeight, 1.0f));
  }
  void TearDown() override {
    StopTimecodeInput();
    StopOutputs(Engine);
    ReleaseDevice();
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
    DeferredActions.clear();
    SettingsOpen = false;
    SettingsPage = 0;
    SettingsOutputDevices.clear();
    SettingsInputDevices.clear();
    Settings = SettingsRecord{};
  }
  std::vector<std::pair<int, Rc>> Draw() {
    std::vector<std::pair<int, Rc>> drawn;
    WidgetRectLog = &drawn;
    ResetGlowLayer();
    BeginDraw();
    DrawSettings();
    EndFrame();
    EndFrameInput();
    WidgetRectLog = nullptr;
    return drawn;
  }
  // The nth widget drawn with the id (ids overlap: a stepper's ▸ is the next row's first id).
  static const Rc* Find(const std::vector<std::pair<int, Rc>>& drawn, int id, int nth = 1) {
    for (const auto& [i, r] : drawn)
      if (i == id && --nth == 0) return &r;
    return nullptr;
  }
  void Click(int id, int nth = 1) {
    const auto drawn = Draw();
    const Rc* r = Find(drawn, id, nth);
    ASSERT_NE(r, nullptr) << "widget " << id << " (" << nth << ") was not drawn";
    Input.x = r->CenterX(), Input.y = r->CenterY();
    Input.pressed = Input.held = true;
    Draw();
    Input.held = false, Input.released = true;
    Draw();
    RunDeferredActions();
  }
  std::string Written(const std::string& section, const std::string& key) const {
    const std::string text = ReadRaw(WideToUtf8(SettingsPath()));
    size_t at = text.find("[" + section + "]");
    if (at == std::string::npos) return "<none>";
    const size_t end = text.find("\n[", at + 1);
    at = text.find("\n" + key + "=", at);
    if (at == std::string::npos || at > end) return "<none>";
    at += key.size() + 2;
    return text.substr(at, text.find_first_of("\r\n", at) - at);
  }
  TempHome home_;
};

TEST_F(DevicePages, OutputSteppersFollowTheServerAndHeadphonesNeverShareTheMasterPair) {
  TestSink quad("pages_quad", 4);
  ASSERT_TRUE(quad.ok());
  SettingsOutputDevices = ListAudioDevices(kRenderFlow);
  SettingsInputDevices = ListAudioDevices(kCaptureFlow);
  const std::vector<AudioDevice>& sinks = SettingsOutputDevices;
  ASSERT_GE(sinks.size(), 2u);

  // ▸ walks the server's sinks in its order, then back to the default device.
  std::vector<std::wstring> seen, expected;
  for (const AudioDevice& d : sinks) expected.push_back(d.id);
  expected.push_back(L"");
  for (size_t i = 0; i <= sinks.size(); ++i) {
    Click(61);
    seen.push_back(Settings.Master);
  }
  EXPECT_EQ(seen, expected);
  Click(901);  // the microphone's ▸: the first capture device
  EXPECT_EQ(Settings.MicDevice, SettingsInputDevices.at(0).id);
  EXPECT_EQ(Written("Mic", "Device"), WideToUtf8(SettingsInputDevices[0].id));

  for (size_t i = 0; i <= sinks.size() && Settings.Master != quad.wname(); ++i) Click(61);
  ASSERT_EQ(Settings.Master, quad.wname());
  Click(3400);  // the pair stepper's ◂ wraps from CH 1-2 to CH 3-4
  EXPECT_EQ(Settings.MasterPair, 1);
  EXPECT_EQ(Written("Audio", "MasterPair"), "1");
  for (size_t i = 0; i <= sinks.size() + 1 && Settings.Phones != quad.wname(); ++i) Click(63);
  ASSERT_EQ(Settings.Phones, quad.wname());
  EXPECT_EQ(Settings.PhonesMode, 2);
  EXPECT_EQ(Settings.PhonesPair, 0) << "the pair the master leaves free";
  Click(3400);  // the master back to CH 1-2: the headphones move to the pair it left
  EXPECT_EQ(Settings.MasterPair, 0);
  EXPECT_EQ(Settings.PhonesPair, 1);
  Click(3401, 2);  // the headphones' ◂ would land on the master's pair: nowhere else to go
  EXPECT_EQ(Settings.PhonesPair, 1);
  EXPECT_EQ(Written("Audio", "PhonesPair"), "1");

  // The status line tells what the card opened with.
  ASSERT_TRUE(WaitFor([] { return Engine.outputRunning.load() && Engine.outputChannels.load() == 4; }, kOutputWaitMs));
  EXPECT_EQ(SoundCardStatus().rfind(L"Now: 48.0 kHz, 4 channels, ", 0), 0u) << WideToUtf8(SoundCardStatus());
  EXPECT_NE(SoundCardStatus().find(L"(normal)"), std::wstring::npos);
  EXPECT_FALSE(SoundCardRefusedMode());
}

// On a card with four or more channels the device stepper gives up 102 px to a 96-px pair stepper,
// so both the card's name and its last pair show whole.
TEST_F(DevicePages, AManyChannelCardShowsItsNameAndPairWhole) {
  TestSink card("pages_carte", 6, 48000, "float32le", "Carte-\xC3\x89lectrique");
  ASSERT_TRUE(card.ok());
  SettingsOutputDevices = ListAudioDevices(kRenderFlow);
  Settings.Master = card.wname();
  Settings.MasterPair = 2;  // CH 5-6
  Draw();
  ResetTextLinesCut();
  const auto drawn = Draw();
  for (const std::string& cut : CutTextSamples())  // the long test path of the recordings folder is cut
    EXPECT_TRUE(cut.find("Carte") == std::string::npos && cut.find("CH ") == std::string::npos) << cut;
  const Rc *back = Find(drawn, 60), *forward = Find(drawn, 61), *pairBack = Find(drawn, 3400),
           *pairForward = Find(drawn, 3401);
  ASSERT_TRUE(back && forward && pairBack && pairForward) << [&] {
    std::string ids;
    for (const auto& [id, r] : drawn) ids += std::to_string(id) + " ";
    return ids;
  }();
  const float device = forward->Right() - back->x, pair = pairForward->Right() - pairBack->x;
  EXPECT_FLOAT_EQ(pair, 96.0f);
  EXPECT_FLOAT_EQ(pairForward->Right() - back->x - device, 102.0f) << "the device stepper is 102 px narrower";
}

// Stepping the master through the server's sinks onto a 4-channel card and off it again: its
// pair stepper comes and goes, and the device's ▸ stays under the pointer.
TEST_F(DevicePages, TheDeviceForwardButtonKeepsItsPlaceWhenAPairStepperAppears) {
  TestSink quad("pages_quad_place", 4);
  ASSERT_TRUE(quad.ok());
  SettingsOutputDevices = ListAudioDevices(kRenderFlow);
  bool pairsShown = false, pairsHidden = false;
  std::vector<float> places;
  for (size_t i = 0; i <= SettingsOutputDevices.size(); ++i) {
    const auto drawn = Draw();
    const Rc* forward = Find(drawn, 61);
    ASSERT_NE(forward, nullptr);
    places.push_back(forward->x);
    (Find(drawn, 3400) ? pairsShown : pairsHidden) = true;
    Click(61);
  }
  EXPECT_TRUE(pairsShown && pairsHidden) << "the walk passes a card with pairs and one without";
  for (float x : places) EXPECT_FLOAT_EQ(x, places.front());
}

TEST_F(DevicePages, MixingRowsReachEveryDeckTheSidesAndTheTimecodeInput) {
  SettingsPage = 1;
  Settings.FourDecks = true;
  Settings.MixLen = 10;
  SideSlots[kLeftSide] = 2, SideSlots[kRightSide] = 3;

  Click(3423);  // NOISE
  EXPECT_EQ(Written("Options", "ColorFx"), "3");
  for (const DeckView& view : LiveDeckViews) EXPECT_EQ(view.colorFx, 3);
  Click(3022);  // 2 DECKS
  EXPECT_FALSE(Settings.FourDecks);
  EXPECT_EQ(SideSlots[kLeftSide], 0);
  EXPECT_EQ(SideSlots[kRightSide], 1);
  Draw();
  EXPECT_TRUE(controlLights[75]) << "a hand-edited 10 s shows 8 s";
  EXPECT_FALSE(controlLights[76]);

  // Off: the section ends after its toggle. On: the input starts and the rows show.
  EXPECT_EQ(Find(Draw(), 3544), nullptr);
  Click(3541);
  EXPECT_TRUE(TimecodeInputRunning());
  EXPECT_NE(Find(Draw(), 3544), nullptr);
  EXPECT_EQ(EnglishText(RecordSpeedText(0)), L"no timecode");
  Click(3547);  // B's pair ▸: wraps over the two pairs an input offers at least
  EXPECT_EQ(Settings.PairB, 0);
  Click(3550);
  EXPECT_TRUE(Settings.FlipA);
  EXPECT_EQ(Written("Dvs", "FlipA"), "1");
  EXPECT_TRUE(TimecodeInputRunning()) << "restarted, not stopped";
  Click(3540);
  EXPECT_FALSE(TimecodeInputRunning());
}

TEST_F(DevicePages, TheTurntableInputStepperRestartsTheInputOnTheChosenDevice) {
  TestSink deck("pages_tc", 2);
  ASSERT_TRUE(deck.ok());
  TonePlayer carrier(deck.name(), 1000.0, 0.5);
  SettingsPage = 1;
  SettingsInputDevices = ListAudioDevices(kCaptureFlow);
  Click(3541);
  const std::wstring monitor = Utf8ToWide(deck.monitor());
  for (size_t i = 0; i <= SettingsInputDevices.size() && Settings.DvsDevice != monitor; ++i) Click(3543);
  ASSERT_EQ(Settings.DvsDevice, monitor);
  EXPECT_TRUE(WaitFor([] { return TimecodeHasSignal(0); }, kOutputWaitMs));
}

TEST(AudioPageChoices, LevelsBuffersAndLengthsShowTheirNearestEntry) {
  EXPECT_EQ(MicLevelIndex(0.70f), 1);
  EXPECT_EQ(MicLevelIndex(0.72f), 1);
  EXPECT_EQ(MicLevelIndex(0.73f), 2);
  EXPECT_EQ(MicLevelIndex(0.55f), 0) << "a tie goes to the lower level";
  EXPECT_EQ(MicLevelIndex(1.0f), 3);
  EXPECT_EQ(BufferIndex(7), 2);
  EXPECT_EQ(BufferIndex(20), 3);
  const std::vector<AudioDevice> devices = {{L"a", L"A", 2}, {L"b", L"B", 4}, {L"a", L"A again", 2}};
  EXPECT_EQ(DeviceChoiceIndex(devices, L"a", 1), 3) << "the last match wins";
  EXPECT_EQ(DeviceChoiceIndex(devices, L"gone", 2), 0);
  EXPECT_EQ(DeviceChoiceIndex(devices, L"", 1), 0);
}

}  // namespace
