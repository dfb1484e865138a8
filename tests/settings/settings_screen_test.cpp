#include "settings/settings_screen.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "control/auto_map.h"
#include "control/controller_presets.h"
#include "control/mapping_table.h"
#include "control/midi_learn.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "platform/draw_surface.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/settings_rows.h"
#include "settings/skins.h"
#include "support/temp_home.h"
#include "ui/file_dialogs.h"
#include "ui/glow.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/widgets.h"

namespace {

constexpr int kWidth = 1500, kHeight = 980;

// The settings screen drawn frame by frame off-screen, clicked where its widgets were drawn.
class SettingsScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    TestMode = false;
    Settings = SettingsRecord{};
    LoadSkin();
    SettingsOpen = true;
    SettingsPage = 0;
    ForgetSectionHeights();
  }
  void TearDown() override {
    ReleaseDevice();
    Reset();
    SettingsOpen = false;
    SettingsPage = 0;
    SetUiLanguage(0);
    Settings = SettingsRecord{};
    LoadSkin();
  }
  static void Reset() {
    Input = UiInput{};
    ActiveControlId = kNoActiveControl;
    pressedIds.clear(), releasedIds.clear(), heldIds.clear();
    midiLearnOn = false;
    DeferredActions.clear();
    if (Modal.open) CloseModal(false);
  }
  // One frame of the screen in a window of w x h; returns the widgets it drew.
  std::vector<std::pair<int, Rc>> Draw(int w = kWidth, int h = kHeight) {
    if (!HasDevice() || TargetWidth() != w || TargetHeight() != h) {
      EXPECT_TRUE(CreateDevice(w, h, 1.0f));
    }
    std::vector<std::pair<int, Rc>> drawn;
    WidgetRectLog = &drawn;
    ResetGlowLayer();
    BeginDraw();
    Clear(ColorOf(Pal.Background));
    DrawSettings();
    EndFrame();
    EndFrameInput();
    WidgetRectLog = nullptr;
    return drawn;
  }
  static Rc Find(const std::vector<std::pair<int, Rc>>& drawn, int id) {
    for (const auto& [i, r] : drawn)
      if (i == id) return r;
    ADD_FAILURE() << "widget " << id << " was not drawn";
    return Rc{};
  }
  // Presses and releases the widget's centre over two frames, then runs the deferred actions.
  void Click(int id) {
    const Rc r = Find(Draw(), id);
    Input.x = r.CenterX(), Input.y = r.CenterY();
    Input.pressed = Input.held = true;
    Draw();
    Input.held = false, Input.released = true;
    Draw();
    RunDeferredActions();
  }
  static uint32_t Pixel(float x, float y) {
    const PixelView v = FrameImage();
    return v.pixels[static_cast<size_t>(y) * v.stride + static_cast<size_t>(x)] & 0xFFFFFF;
  }
  std::string SettingsFileText() const { return ReadRaw(WideToUtf8(SettingsPath())); }
  // The value of key in [section] of the written settings file; "" when absent.
  std::string Written(const std::string& section, const std::string& key) const {
    const std::string text = SettingsFileText();
    size_t at = text.find("[" + section + "]");
    if (at == std::string::npos) return "";
    const size_t end = text.find("\n[", at + 1);
    at = text.find("\n" + key + "=", at);
    if (at == std::string::npos || at > end) return "";
    at += key.size() + 2;
    return text.substr(at, text.find_first_of("\r\n", at) - at);
  }
  TempHome home_;
};

TEST_F(SettingsScreenTest, EachRowOfTheLookAndLibraryPagesWritesSettingsIniAtTheClick) {
  Click(3000 + kSettingsPageLook);
  ASSERT_EQ(SettingsPage, kSettingsPageLook);

  Click(3101);  // NEON
  EXPECT_EQ(Written("Look", "Theme"), "1");
  EXPECT_EQ(Pal.DeckA, 0x00E5FFu);
  EXPECT_EQ(Pal.DeckB, 0xFF2BD6u);
  EXPECT_EQ(Pal.DeckC, 0xB6FF3Du);
  EXPECT_EQ(Pal.DeckD, 0xFFC83Du);
  const Rc neon = Find(Draw(), 3101);
  const uint32_t disc = Pixel(neon.x + 10, neon.y + 11);  // deck A's disc on the NEON button, under the glow
  EXPECT_LT((disc >> 16) & 0xFF, 0x30u);
  EXPECT_GT((disc >> 8) & 0xFF, 0xD0u);
  EXPECT_GT(disc & 0xFF, 0xF0u);

  Click(3108);  // PERFORMANCE
  EXPECT_EQ(Written("Look", "Layout"), "2");
  Click(3111);  // VERTICAL
  EXPECT_EQ(Written("Look", "Vertical"), "1");
  Click(3588);  // HIDDEN cover art
  EXPECT_EQ(Written("Look", "DeckArt"), "0");
  Click(3583);  // EVERY 16 BARS
  EXPECT_EQ(Written("Visualiser", "Auto"), "1");
  Click(3584);  // track name HIDDEN
  EXPECT_EQ(Written("Visualiser", "Track"), "0");
  Click(3581);  // next visual
  EXPECT_EQ(Written("Visualiser", "Style"), "1");
  Click(3586);  // language back from English: French
  EXPECT_EQ(Written("Options", "Language"), "4");
  EXPECT_EQ(UiLanguage(), 4);
  Click(3481);  // the skin after Veldmix (the stepper's ▸ shares its id with EDIT COLOURS…)
  EXPECT_EQ(Written("Look", "Skin"), "Midnight");
  EXPECT_EQ(Pal.Background, 0x05070Fu);

  Click(3000 + kSettingsPageLibrary);
  Click(3034);  // album art HIDDEN
  EXPECT_EQ(Written("Look", "Art"), "0");
  EXPECT_FALSE(Settings.Art);
}

TEST_F(SettingsScreenTest, ImportRowsComeInTheirOrderTopToBottom) {
  SettingsPage = kSettingsPageLibrary;
  const auto drawn = Draw();
  std::vector<int> importIds;
  for (const auto& [id, r] : drawn)
    if (id >= 3030 && id <= 3038 && id != 3034 && id != 3035 && id != 3036) importIds.push_back(id);
  EXPECT_EQ(importIds, (std::vector<int>{3030, 3032, 3037, 3038, 3031}));
  float lastY = 0;
  for (int id : importIds) {
    EXPECT_GT(Find(drawn, id).y, lastY) << id;
    lastY = Find(drawn, id).y;
  }
}

TEST_F(SettingsScreenTest, ASectionCardIs48HighOnItsFirstFrameThenTakesItsMeasuredHeight) {
  SettingsPage = kSettingsPageLook;
  const int colours = (0 + kSettingsPageLook * 10) * 100 + 1;
  EXPECT_EQ(RememberedSectionHeight(colours), 48.0f);
  Draw();
  const float card = 10 + 26 + 54 + 6;  // title, theme row and the padding
  EXPECT_EQ(RememberedSectionHeight(colours), card);
  // The card's left overhang, between the 48th pixel and the measured bottom: empty on the first
  // frame, card-coloured from the second.
  ForgetSectionHeights();
  Draw();
  const float x = Cursor.content.x + kSettingsMarginDip - 10;
  const float y = Cursor.panel.y + kSettingsPageTopDip + 18 + 70;
  ForgetSectionHeights();
  Draw();
  const uint32_t first = Pixel(x, y);
  Draw();
  const uint32_t second = Pixel(x, y);
  EXPECT_NE(first, second);
}

// A page taller than the panel scrolls under the wheel with a thin bar at its right, and a
// control pressed by a key or controller comes into view; a page that fits has no bar and does
// not move.
TEST_F(SettingsScreenTest, AShortWindowScrollsThePageAndBringsAPressedControlIntoView) {
  SettingsPage = kSettingsPageLook;
  auto barShown = [&] {
    const Rc view = SettingsPageView(Cursor.panel);
    int faint = 0;
    auto near = [](uint32_t a, uint32_t b) {
      for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 12) return false;
      return true;
    };
    // The bar is drawn in Faint over the dark panel.
    for (float y = view.y; y < view.Bottom(); y += 1) faint += near(Pixel(view.Right() - 7, y), Pal.Faint);
    return faint >= 8;
  };
  Draw();
  const auto tall = Draw();
  EXPECT_FALSE(barShown());
  const int lastId = 3588;  // "Cover art on decks": its first choice, the right column's last row
  const Rc lastTall = Find(tall, lastId);
  Input.x = 900, Input.y = 400, Input.wheel = -3;
  EXPECT_EQ(Find(Draw(), lastId).y, lastTall.y) << "a page that fits does not scroll";

  Draw(kWidth, 420);
  const Rc view = SettingsPageView(Cursor.panel);
  const Rc low = Find(Draw(kWidth, 420), lastId);
  EXPECT_TRUE(barShown());
  EXPECT_GT(low.Bottom(), view.Bottom()) << "the last row is below the view";
  Input.x = view.CenterX(), Input.y = view.CenterY(), Input.wheel = -1;
  const Rc moved = Find(Draw(kWidth, 420), lastId);
  EXPECT_FLOAT_EQ(moved.y, low.y - 80) << "a notch scrolls two rows";
  Input.x = view.CenterX(), Input.y = view.CenterY(), Input.wheel = 5;
  EXPECT_FLOAT_EQ(Find(Draw(kWidth, 420), lastId).y, low.y) << "and back to the top, no further";

  pressedIds.insert(lastId);  // a key mapped to the last row's control
  Draw(kWidth, 420);
  pressedIds.clear();
  const Rc shown = Find(Draw(kWidth, 420), lastId);
  EXPECT_GE(shown.y, view.y);
  EXPECT_LE(shown.Bottom(), view.Bottom()) << "the pressed control came into view";
}

// The page keys move a page taller than its panel a row, a view less a row or to an end, never
// past either; a page that fits and the About page stay put.
TEST_F(SettingsScreenTest, PageKeysScrollAShortWindowsPageWithinItsEnds) {
  SettingsPage = kSettingsPageLook;
  const int lastId = 3588;  // the right column's last row
  ScrollSettingsPage(PageMove::Top);  // an earlier test may have left it scrolled
  Draw(kWidth, 420);
  const Rc view = SettingsPageView(Cursor.panel);
  const Rc top = Find(Draw(kWidth, 420), lastId);
  ASSERT_GT(top.Bottom(), view.Bottom());
  auto after = [&](PageMove move) {
    ScrollSettingsPage(move);
    return Find(Draw(kWidth, 420), lastId).y;
  };
  EXPECT_FLOAT_EQ(after(PageMove::RowUp), top.y) << "already at the top";
  EXPECT_FLOAT_EQ(after(PageMove::RowDown), top.y - kSettingsRowStepDip);
  EXPECT_FLOAT_EQ(after(PageMove::Top), top.y);
  const float bottom = after(PageMove::Bottom);
  EXPECT_LE(bottom + top.h, view.Bottom()) << "End shows the last row";
  EXPECT_GE(bottom, view.y);
  EXPECT_FLOAT_EQ(after(PageMove::RowDown), bottom) << "and goes no further";
  EXPECT_FLOAT_EQ(after(PageMove::Top), top.y);
  const float viewStep = view.h - kSettingsRowStepDip;
  EXPECT_FLOAT_EQ(after(PageMove::ViewDown), std::max(top.y - viewStep, bottom)) << "a view less a row";
  EXPECT_FLOAT_EQ(after(PageMove::ViewUp), top.y);

  Draw();
  const Rc tall = Find(Draw(), lastId);
  ScrollSettingsPage(PageMove::Bottom);
  EXPECT_FLOAT_EQ(Find(Draw(), lastId).y, tall.y) << "a page that fits does not scroll";
  SettingsPage = kSettingsPageAbout;
  ScrollSettingsPage(PageMove::Bottom);  // nothing to scroll, and no other page moves
  SettingsPage = kSettingsPageLook;
  EXPECT_FLOAT_EQ(Find(Draw(), lastId).y, tall.y);
}

TEST_F(SettingsScreenTest, TabsFollowThePressButNotInMidiLearn) {
  Click(3002);
  EXPECT_EQ(SettingsPage, 2);
  midiLearnOn = true;
  Click(3007);
  EXPECT_EQ(SettingsPage, 2);
  midiLearnOn = false;
  SettingsPage = 42;
  Draw();
  EXPECT_EQ(SettingsPage, 9) << "clamped into 0..9";
  Click(90);  // DONE
  EXPECT_FALSE(SettingsOpen);
}

TEST_F(SettingsScreenTest, ValueBoxesShowBulletsOrPlaceholdersAndEditFieldSavesOnlyOnSave) {
  EXPECT_EQ(ValueBoxText(std::wstring(20, L'x'), true), std::wstring(16, L'\u2022'));
  EXPECT_EQ(ValueBoxText(L"abc", true), std::wstring(3, L'\u2022'));
  EXPECT_EQ(ValueBoxText(L"", true), L"(not set)");
  EXPECT_EQ(ValueBoxText(L"", false), L"\u2014");
  EXPECT_EQ(ValueBoxText(L"host", false), L"host");

  std::wstring value = L"old";
  bool clicked = false;
  Draw();
  auto row = [&] {
    StartSettingsPage(Rc{0, 0, 1000, 600}, 3);
    clicked = TextRow(3300, L"Server", &value, false) || clicked;
  };
  auto frame = [&] {
    ResetGlowLayer();
    BeginDraw();
    row();
    EndFrame();
    EndFrameInput();
  };
  const Rc box{kSettingsMarginDip + kSettingsSidebarDip + kSettingsLabelColumnDip, kSettingsPageTopDip, 10, 30};
  Input.x = box.x + 5, Input.y = box.y + 15;
  Input.pressed = Input.held = true;
  frame();
  ASSERT_TRUE(clicked);
  RunDeferredActions();
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"Server");
  Modal.fields[0].value = L"new";
  ModalCharacter(27);  // Esc
  EXPECT_FALSE(Modal.open);
  EXPECT_EQ(value, L"old");

  EditField(L"Server", &Settings.Stream.Host, false, false);
  Modal.fields[0].value = L"radio.example";
  CloseModal(true);
  EXPECT_EQ(Settings.Stream.Host, L"radio.example");
  EXPECT_NE(SettingsFileText().find("radio.example"), std::string::npos);
}

TEST_F(SettingsScreenTest, ChannelPairsShowOnlyForDevicesWithMoreThanTwoChannels) {
  SettingsOutputDevices = {AudioDevice{L"stereo", L"Stereo", 2}, AudioDevice{L"eight", L"Eight", 8}};
  ASSERT_TRUE(CreateDevice(kWidth, kHeight, 1.0f));
  std::vector<std::pair<int, Rc>> drawn;
  int32_t pair = 7;
  bool stereoChanged = true, eightChanged = false;
  WidgetRectLog = &drawn;
  BeginDraw();
  StartSettingsPage(Rc{0, 0, 1000, 600}, 0);
  stereoChanged = ChannelPairRow(3400, L"Stereo", &pair);
  eightChanged = ChannelPairRow(3410, L"Eight", &pair);
  WidgetRectLog = nullptr;
  SettingsOutputDevices.clear();
  EXPECT_FALSE(stereoChanged);
  EXPECT_TRUE(eightChanged) << "a stored pair beyond the device is brought back";
  EXPECT_EQ(pair, 3);
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0].first, 3410);
  EXPECT_EQ(drawn[1].second.Right(), Cursor.controlX + Cursor.controlWidth);
}

TEST_F(SettingsScreenTest, TheDrawingLayerCountsTextsCutWithAnEllipsis) {
  ASSERT_TRUE(CreateDevice(400, 200, 1.0f));
  ResetTextLinesCut();
  BeginDraw();
  DrawText(L"fits", Rc{0, 0, 200, 20}, 12, ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  EXPECT_EQ(TextLinesCut(), 0u);
  DrawText(L"a label far too long for its little box", Rc{0, 30, 60, 20}, 12, ColorOf(Pal.Text), kAlignLeft, false,
           kFontSegoeUi);
  EXPECT_EQ(TextLinesCut(), 1u);
  ASSERT_EQ(CutTextSamples().size(), 1u);
  EXPECT_EQ(CutTextSamples()[0], "a label far too long for its little box");
}

// The Controllers page against its real files: settings.ini, midi.tsv and the Controllers folder.
TEST_F(SettingsScreenTest, EachRowOfTheControllersPageWritesItsKeyAndActs) {
  MappingTable = {{0x90000B, 5200}};
  Click(3000 + kSettingsPageControllers);
  ASSERT_EQ(SettingsPage, kSettingsPageControllers);
  Click(3182);  // KEEP MY MAPPING
  EXPECT_EQ(Written("Midi", "AutoLayouts"), "0");
  Click(3060);  // lights OFF
  EXPECT_EQ(Written("Midi", "Leds"), "0");
  Click(3184);  // BENDS ONLY
  EXPECT_EQ(Written("Midi", "Vinyl"), "0");
  for (const DeckView& view : LiveDeckViews) EXPECT_FALSE(view.vinylMode);
  Click(3188);  // HEAVY
  EXPECT_EQ(Written("Midi", "JogFeel"), "2");
  Click(3191);  // FLIPPED
  EXPECT_EQ(Written("Midi", "FlipPitch"), "1");

  // Back from "Your own" wraps to the last ready-made layout, which replaces the mapping.
  Click(3180);
  const ControllerPreset& last = ControllerPresets().back();
  EXPECT_EQ(Written("Midi", "Layout"), WideToUtf8(last.name));
  EXPECT_EQ(MappingTable.size(), last.rows.size());
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), MappingFileText(MappingTable));
  EXPECT_EQ(Status.text, L"Ready-made layout loaded: " + last.name);
  Click(3181);  // on from the last wraps to your own
  EXPECT_EQ(Written("Midi", "Layout"), "");
  EXPECT_EQ(Status.text, L"Your own mapping: change anything with MIDI learn");

  Click(80);  // CLEAR MAPPINGS
  EXPECT_TRUE(MappingTable.empty());
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), "");

  Click(3646);  // AUTO-MAP MY CONTROLLER: the wizard replaces the settings screen
  EXPECT_TRUE(AutoMapOpen);
  EXPECT_FALSE(SettingsOpen);
  CloseAutoMap();
  for (DeckView& view : LiveDeckViews) view.vinylMode = true;
}

TEST_F(SettingsScreenTest, MappingPresetsSaveImportLoadAndRefuseWhatIsNotAMapping) {
  const std::string answers = home_.path() + "/answers", folder = WideToUtf8(ControllersFolder());
  setenv(kDialogAnswersVariable, answers.c_str(), 1);
  MappingTable = {{0x90000B, 5200}};
  SettingsPage = kSettingsPageControllers;

  Click(3062);  // SAVE AS PRESET…: named after the first open input, else "My controller"
  ASSERT_TRUE(Modal.open);
  EXPECT_EQ(Modal.title, L"Save mapping preset");
  EXPECT_EQ(Modal.fields.at(0).value, L"My controller");
  Modal.fields[0].value = L"A/B";
  CloseModal(true);
  EXPECT_EQ(ReadRaw(folder + "/A_B.vxmap"), "9437195\t5200\n");

  const std::string mine = "9437221\t5400\n11534355\t5208\n";
  WriteRaw(home_.path() + "/my.tsv", mine);
  WriteRaw(answers, home_.path() + "/my.tsv\n");
  Click(3063);  // IMPORT…
  EXPECT_EQ(MappingTable, (MappingPairs{{9437221, 5400}, {11534355, 5208}}));
  EXPECT_EQ(ReadRaw(folder + "/my.vxmap"), mine);
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), mine);
  EXPECT_EQ(Status.text, L"Mapping imported: 2 controls");

  // Not a mapping: nothing changes, nothing is copied. The preset itself imports onto itself intact.
  WriteRaw(home_.path() + "/empty.tsv", "");
  WriteRaw(answers, home_.path() + "/empty.tsv\n" + folder + "/my.vxmap\n");
  Click(3063);
  EXPECT_EQ(Status.text, L"That file isn't a controller mapping");
  EXPECT_EQ(MappingTable.size(), 2u);
  EXPECT_EQ(ReadRaw(WideToUtf8(MidiMapPath())), mine);
  EXPECT_FALSE(std::filesystem::exists(folder + "/empty.vxmap"));
  Click(3063);
  EXPECT_EQ(ReadRaw(folder + "/my.vxmap"), mine);

  // The preset rows: LOAD and DELETE act on their own row's file.
  const std::vector<std::wstring> names = ListControllerMaps();
  const int ab = static_cast<int>(std::find(names.begin(), names.end(), L"A_B") - names.begin());
  ASSERT_LT(ab, static_cast<int>(names.size()));
  Click(3070 + ab);
  EXPECT_EQ(MappingTable, (MappingPairs{{0x90000B, 5200}}));
  EXPECT_EQ(Status.text, L"Loaded \u201cA_B\u201d");
  Click(3090 + ab);
  EXPECT_FALSE(std::filesystem::exists(folder + "/A_B.vxmap"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/my.vxmap"));

  WriteRaw(answers, home_.path() + "/out\n");
  Click(3064);  // EXPORT…: the extension is added
  EXPECT_EQ(ReadRaw(home_.path() + "/out.vxmap"), "9437195\t5200\n");
  unsetenv(kDialogAnswersVariable);
  MappingTable.clear();
}

}  // namespace
