#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/ui/widget_frames.h"
#include "ui/knobs.h"
#include "ui/modal.h"
#include "ui/offscreen.h"

namespace {

constexpr int kPlay = 1004;
constexpr Rc kButton{100, 100, 120, 40};
const Color kBlue = ColorOf(0x1FA8FF);

class ButtonTest : public WidgetFrames {
 protected:
  static bool DrawPlay() {
    bool clicked = false;
    Frame([&] { clicked = Button(kPlay, kButton, L"PLAY", kBlue, false, 12); });
    return clicked;
  }
};

TEST_F(ButtonTest, FiresOnThePressInsideAndHoldsTheDragUntilRelease) {
  for (PointF outside : {PointF{kButton.Right(), 120}, PointF{150, kButton.Bottom()}}) {
    Press(outside.x, outside.y);
    EXPECT_FALSE(DrawPlay()) << "right and bottom edges are outside";
    Release();
    DrawPlay();
  }
  Press(kButton.x, kButton.y);
  EXPECT_TRUE(DrawPlay());
  EXPECT_EQ(ActiveControlId, kPlay);
  EXPECT_FALSE(DrawPlay()) << "held: no second click";
  Release();
  MoveTo(600, 380);
  EXPECT_TRUE(IsReleased(kPlay)) << "released away from the button";
  EXPECT_FALSE(DrawPlay()) << "the release does not fire";
  EXPECT_EQ(ActiveControlId, kNoActiveControl);
  EXPECT_FALSE(IsReleased(kPlay)) << "and only in that frame";
}

TEST_F(ButtonTest, NothingReactsWhileAnotherControlIsDragged) {
  float value = 0.5f;
  Press(320, 150);
  Frame([&] { Fader(1118, Rc{300, 50, 40, 202}, &value, 0.5f, kBlue, false); });
  Press(150, 120);  // dragged over the button, which sees a fresh press there
  EXPECT_FALSE(MouseIn(kButton));
  EXPECT_FALSE(DrawPlay());
  EXPECT_EQ(ActiveControlId, 1118);
}

TEST_F(ButtonTest, KeyPressFiresOnceAndShowsThePressedLookWhileHeld) {
  DrawPlay();
  const int rest = Brightness(Pixel(108, 112));
  pressedIds.insert(kPlay), heldIds.insert(kPlay);
  EXPECT_TRUE(DrawPlay());
  EXPECT_FALSE(DrawPlay()) << "pressedIds lasts one frame";
  EXPECT_TRUE(controlLights[kPlay]);
  EXPECT_LT(Brightness(Pixel(108, 112)), rest) << "the held face is darker";
  heldIds.clear(), releasedIds.insert(kPlay);
  EXPECT_TRUE(IsReleased(kPlay));
  DrawPlay();
  EXPECT_FALSE(controlLights[kPlay]);
  EXPECT_EQ(controlKinds[kPlay], kControlKindButton);
}

TEST_F(ButtonTest, LearnModeTargetsInsteadOfFiringAndMarksControls) {
  midiLearnOn = true;
  mappedControlIds.insert(kPlay);
  Press(150, 120);
  EXPECT_FALSE(DrawPlay());
  EXPECT_EQ(midiLearnTarget, kPlay);
  EXPECT_EQ(ActiveControlId, kPlay);
  const uint32_t ring = Pixel(99, 125), dot = Pixel(217, 103);
  EXPECT_GT(Channel(ring, 16), 200) << "the target is ringed in yellow";
  EXPECT_LT(Channel(ring, 0), Channel(ring, 8));
  EXPECT_GT(Channel(dot, 8), Channel(dot, 16) + 60) << "a green dot marks a mapped control";
  midiLearnTarget = 0;
  DrawPlay();
  EXPECT_LT(Brightness(Pixel(99, 125)), Brightness(ring) / 2) << "other controls are marked faintly";
  pressedIds.insert(kPlay);
  EXPECT_TRUE(DrawPlay()) << "a mapped controller press still fires";
}

TEST_F(ButtonTest, OffScreenAKeyStillPressesAndLightsIt) {
  // The transform moves the first button onto the screen and the second off it.
  const auto draw = [](bool* in, bool* out, bool lit) {
    Frame([&] {
      SetTransform(Affine{1, 0, 0, 1, 600, 0});
      *in = Button(kPlay, Rc{-550, 10, 100, 30}, L"IN", kBlue, false, 12);
      *out = Button(kPlay + 1, Rc{100, 10, 100, 30}, L"OUT", kBlue, lit, 12);
      SetTransform(Affine{});
    });
  };
  bool shiftedIn = false, shiftedOut = false;
  pressedIds = {kPlay, kPlay + 1};
  draw(&shiftedIn, &shiftedOut, true);
  EXPECT_TRUE(shiftedIn);
  EXPECT_TRUE(shiftedOut) << "a mapped key or controller presses a button the window does not show";
  EXPECT_TRUE(controlLights[kPlay + 1]) << "and its light follows it";
  EXPECT_EQ(controlKinds[kPlay + 1], kControlKindButton);
  draw(&shiftedIn, &shiftedOut, false);
  EXPECT_FALSE(shiftedOut) << "pressedIds lasts one frame";
  EXPECT_FALSE(controlLights[kPlay + 1]);
}

TEST_F(ButtonTest, ChoiceRowsAndSteppersChangeTheirIndex) {
  const std::vector<std::wstring> labels{L"WAV", L"MP3", L"FLAC"};
  int selected = 0, index = 0;
  bool rowChanged = false, boxChanged = false;
  auto draw = [&](int count) {
    Frame([&] {
      rowChanged = DrawTextRows(2000, Rc{100, 200, 308, 30}, labels, &selected);  // at 100, 204, 308
      boxChanged = DrawLabelledBox(2100, Rc{100, 300, 260, 28}, L"Neon", &index, count);
    });
  };
  Press(202, 215);
  draw(5);
  EXPECT_FALSE(rowChanged) << "the gap between choices is no button";
  Release(), draw(5), Press(320, 215);
  draw(5);
  EXPECT_TRUE(rowChanged);
  EXPECT_EQ(selected, 2);
  pressedIds.insert(2002), pressedIds.insert(2100);
  draw(5);
  EXPECT_FALSE(rowChanged) << "choosing the selected one changes nothing";
  EXPECT_TRUE(boxChanged);
  EXPECT_EQ(index, 4) << "back from 0 wraps to the last";
  pressedIds.insert(2101);
  draw(5);
  EXPECT_EQ(index, 0);
  pressedIds.insert(2101);
  draw(0);
  EXPECT_FALSE(boxChanged) << "no choices: nothing to step through";
}

// ---- samples written as PNGs to look at -----------------------------------------------------

// A mixer corner: channel strips, transport buttons in every look, a choice row and a stepper.
void DrawMixerSample() {
  const Color deckA = ColorOf(Pal.DeckA), deckB = ColorOf(Pal.DeckB);
  DrawPanel(Rc{12, 12, 616, 376}, 10);
  static float eq[2][5] = {{0.62f, 0.5f, 0.35f, 0.5f, 0.0f}, {0.5f, 0.7f, 0.5f, 0.2f, 0.45f}};
  static float fader[2] = {0.82f, 0.55f};
  const wchar_t* names[] = {L"GAIN", L"HIGH", L"MID", L"LOW"};
  for (int side = 0; side < 2; ++side) {
    const float x = 40.0f + side * 150;
    const Color c = side == 0 ? deckA : deckB;
    const int base = 1000 + side * 100;
    for (int k = 0; k < 4; ++k) Knob(base + 13 + k, x + 26, 44 + 60 * k, 16, &eq[side][k], 0, 1, 0.5f, c, names[k], k);
    Knob(base + 17, x + 86, 44, 16, &eq[side][4], -1, 1, 0, c, L"FILTER", true);
    Fader(base + 18, Rc{x + 66, 90, 40, 164}, &fader[side], 0.8f, c, false);
    DrawLevelMeter(Rc{x + 112, 90, 8, 164}, side == 0 ? 0.9f : 0.2f);
    Button(base + 19, Rc{x + 6, 268, 114, 26}, L"CUE", c, side == 0, 11);
  }
  XFader(Rc{40, 320, 270, 40}, 0.5f);
  Button(1004, Rc{350, 40, 120, 40}, L"PLAY", ColorOf(Pal.Green), true, 13);
  Button(1005, Rc{480, 40, 120, 40}, L"CUE", ColorOf(Pal.Yellow), false, 13);
  Button(1006, Rc{350, 90, 120, 40}, L"SYNC", deckA, false, 13);      // hovered
  Button(1007, Rc{480, 90, 120, 40}, L"KEY LOCK", deckB, false, 11);  // held by a key
  static int format = 1, skin = 2;
  DrawTextRows(2000, Rc{350, 160, 250, 30}, {L"WAV", L"MP3", L"FLAC"}, &format);
  DrawLabelledBox(2100, Rc{350, 210, 250, 30}, L"Veldmix", &skin, 4);
  DrawLevelMeter(Rc{350, 260, 10, 110}, 1.0f);
  DrawLevelMeter(Rc{366, 260, 10, 110}, 0.05f);
}

// $VELDMIX_SAMPLE_DIR, else the test's temporary folder.
std::wstring SamplePath(const char* name) {
  const char* dir = std::getenv("VELDMIX_SAMPLE_DIR");
  const std::string path = (dir && *dir ? std::string(dir) + "/" : ::testing::TempDir()) + name;
  return std::wstring(path.begin(), path.end());
}

using WidgetSample = WidgetFrames;

TEST_F(WidgetSample, MixerFormAndQuestionLookLikeADarkDjProgram) {
  MoveTo(400, 110);
  heldIds.insert(1007);
  ASSERT_TRUE(RenderFrameToPng(kWidth, kHeight, DrawMixerSample, SamplePath("widgets_mixer.png")));
  Frame(DrawMixerSample);
  int lit = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) lit += Brightness(Pixel(x, y)) > 40;
  EXPECT_GT(lit, kWidth * kHeight / 20) << "lit controls, glows and labels";
  EXPECT_LT(lit, kWidth * kHeight / 3) << "on a dark ground";
  EXPECT_GT(Channel(Pixel(440, 40), 8), 150) << "the lit PLAY button's green edge";

  MoveTo(10, 10);
  OpenModal(L"Icecast server", {{L"Server", L"radio.example.org", false}, {L"Password", L"hunter2", true}},
            L"CONNECT", nullptr);
  ASSERT_TRUE(RenderFrameToPng(kWidth, kHeight, [] { DrawMixerSample(), DrawModalAt(0); },
                               SamplePath("widgets_modal.png")));
  CloseModal(false);
  ShowConfirmPrompt(L"Save the recording?",
                    L"Your mix was recorded to a WAV file.\n\nSave an MP3 copy beside it, with the tracklist?",
                    L"SAVE MP3", L"NOT NOW", [] {}, [] {}, L"\u2193", 0);
  ASSERT_TRUE(RenderFrameToPng(kWidth, kHeight, [] { DrawMixerSample(), DrawAskAt(0); },
                               SamplePath("widgets_ask.png")));
  Frame([] { DrawMixerSample(), DrawAskAt(0); });
  EXPECT_LT(Brightness(Pixel(440, 40)), 60) << "the mixer behind the question is dimmed";
  AnswerConfirmPrompt(false);
}

}  // namespace
