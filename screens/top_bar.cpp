#include "screens/top_bar.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cassert>
#include <cmath>

#include "base/settings.h"
#include "broadcast/audio_stream.h"
#include "broadcast/live_video.h"
#include "broadcast/mix_recording.h"
#include "broadcast/speed_test.h"
#include "control/controller_devices.h"
#include "control/midi_learn.h"
#include "engine/audio_input.h"
#include "engine/automix.h"
#include "engine/control_input.h"
#include "engine/deck_view.h"
#include "engine/effects.h"
#include "engine/engine.h"
#include "engine/mix_meters.h"
#include "engine/mixer_controls.h"
#include "engine/output_loss.h"
#include "engine/sandbox.h"
#include "engine/transport.h"
#include "karaoke/karaoke_panel.h"
#include "library/track_lists.h"
#include "platform/audio_devices.h"
#include "platform/clock.h"
#include "screens/main_screen.h"
#include "screens/screen_signature.h"
#include "settings/help_screen.h"
#include "settings/settings_screen.h"
#include "ui/frame_driver.h"
#include "ui/glow.h"
#include "ui/knobs.h"
#include "ui/language.h"
#include "ui/modal.h"
#include "ui/status_line.h"
#include "ui/widgets.h"

LocalTime (*TopBarClockHook)() = NowLocal;

namespace {

// ---- the bar's frame --------------------------------------------------------------------------
constexpr Color kBarTop = ColorOf(0x14171F);     // rgb(20, 23, 31)
constexpr Color kBarBottom = ColorOf(0x0B0D12);  // rgb(11, 13, 18)
constexpr Color kBaseLine = ColorOf(0x232834);   // rgb(35, 40, 52)
constexpr float kBaseLineAlpha = 0.35f;
constexpr float kPulseLineInset = 40.0f;
constexpr float kPulseLineWidth = 2.0f;
constexpr float kPulseLineGain = 0.35f, kPulseLineFloor = 0.25f;
constexpr float kButtonInset = 7.0f;  // every button: y + 7, h - 14 tall

// ---- logo and clock ------------------------------------------------------------------------------
constexpr float kLogoAx = 22.0f, kLogoBx = 32.0f, kLogoRadius = 8.0f, kLogoGlowRadius = 9.0f;
constexpr float kLogoAlphaA = 0.95f, kLogoAlphaB = 0.85f;
constexpr float kLogoGlowGain = 0.2f, kLogoGlowFloor = 0.8f;
constexpr float kNameX = 48.0f, kNameWidth = 200.0f, kNameSize = 16.0f;
constexpr Color kNameGlow = ColorOf(0x8FD3FF, 0.55f);  // rgb(143, 211, 255)
constexpr float kClockX = 170.0f, kClockWidth = 60.0f, kClockSize = 14.0f;

// ---- master effect ---------------------------------------------------------------------------------
constexpr float kFxLabelX = 236.0f, kFxLabelWidth = 70.0f, kFxLabelSize = 8.5f, kFxLabelGap = 10.0f;
constexpr float kFxPrevX = 0, kFxNameX = 20, kFxNextX = 92, kFxBeatsX = 112, kFxOnX = 148;  // from g
constexpr float kFxKnobX = 202.0f, kFxKnobRadius = 7.0f, kFxAmountDefault = 0.5f;
constexpr float kLeftGroupEnd = 216.0f;  // from g
constexpr const wchar_t* kNoBeatLabel = L"\u2014";

// ---- right group -------------------------------------------------------------------------------------
constexpr float kRightMargin = 8.0f, kButtonGap = 6.0f;
constexpr uint64_t kBlinkMs = 600;         // SANDBOX and REC
constexpr uint64_t kLiveBlinkMs = 700;     // GO LIVE on air
constexpr uint64_t kDropoutBlinkMs = 200;  // the load meter: lit 2 periods of 4
constexpr uint64_t kRecentDropoutMs = 9999;
constexpr float kMicLineX = 4.0f, kMicLineLength = 48.0f, kMicLineRadius = 1.0f, kMicGlowAlpha = 0.8f;
constexpr float kMicFloorDb = 48.0f, kMicMeterRangeDb = 48.0f;
constexpr float kSilenceFloor = 0.00001f;

// One button of the right group: what the table gives.
struct BarButton {
  int32_t id;
  float width;
  float textSize;
};
constexpr BarButton kHelpButton{kHelpButtonId, 30, 13};
constexpr BarButton kSettingsButton{kSettingsButtonId, 34, 15};
constexpr BarButton kMicButton{kMicButtonId, 56, 11};
constexpr BarButton kMidiButton{kMidiButtonId, 56, 11};
constexpr BarButton kShiftButton{kShiftControlId, 50, 10};
constexpr BarButton kSandboxButton{kSandboxButtonId, 74, 10};
constexpr BarButton kGoLiveButton{kGoLiveButtonId, 84, 10.5f};
constexpr BarButton kRecButton{kRecButtonId, 84, 11};
constexpr BarButton kSkipButton{kSkipButtonId, 56, 10};
constexpr BarButton kAutomixButton{kAutomixButtonId, 92, 11};
constexpr BarButton kKaraokeButton{kKaraokeButtonId, 80, 10.5f};
constexpr BarButton kLoadMeter{kLoadMeterId, 92, 9};
constexpr BarButton kFxPrev{kMasterFxPrevId, 18, 10};
constexpr BarButton kFxName{kMasterFxNameId, 70, 9.5f};
constexpr BarButton kFxNext{kMasterFxNextId, 18, 10};
constexpr BarButton kFxBeats{kMasterFxBeatsId, 34, 9.5f};
constexpr BarButton kFxOn{kMasterFxOnId, 32, 9.5f};

// ---- error bubble ------------------------------------------------------------------------------------
constexpr float kBubbleTextSize = 11.0f, kBubblePad = 10.0f, kBubbleGap = 6.0f, kBubbleHeight = 22.0f;
constexpr float kBubbleRadius = 4.0f, kBubbleEdge = 8.0f;

// ---- audio-load meter --------------------------------------------------------------------------------
constexpr float kCpuX = 8.0f, kCpuWidth = 26.0f, kCpuSize = 8.5f;
constexpr float kTrackX = 33.0f, kTrackWidth = 26.0f, kTrackHeight = 6.0f, kTrackRadius = 3.0f;
constexpr Color kTrackColour{0, 0, 0, 0.5f};
constexpr float kLoadVisible = 0.01f, kLoadMinFill = 6.0f, kLoadYellowFrom = 0.5f, kLoadRedFrom = 0.75f;
constexpr float kDotX = 69.0f, kDotRadius = 3.5f;
constexpr float kCountX = 75.0f, kCountWidth = 13.0f, kCountSize = 9.5f;
constexpr float kCountSpareDip = 2.0f;  // between the count's place and the button's right edge
constexpr uint32_t kCountShownMax = 999;
constexpr float kBusyHighestLoad = 0.75f;  // above it the tooltip suggests a bigger buffer

// ---- spectrum and output status ----------------------------------------------------------------------
constexpr float kSpectrumGap = 12.0f, kSpectrumRightGap = 20.0f;
constexpr float kSpectrumMaxWidth = 300.0f, kSpectrumShare = 0.2f, kSpectrumMinWidth = 40.0f;
constexpr float kBarInset = 1.5f, kBarNarrowing = 3.0f, kBarRadius = 1.5f, kBarMargin = 6.0f, kBarMinHalf = 1.0f;
constexpr float kSpectrumFloorDb = 48.0f, kSpectrumRangeDb = 46.0f;
constexpr float kBarTopLighten = 0.35f, kBarGlowGain = 0.4f, kBarGlowFloor = 0.35f;
constexpr Color kSpectrumBaseline{1, 1, 1, 0.08f};
constexpr float kStatusWidth = 152.0f, kStatusOffset = 160.0f, kStatusSize = 11.0f;
constexpr float kStatusDotGap = 10.0f, kStatusClearance = 16.0f, kStatusDotOnlyX = 18.0f;
constexpr float kStatusFitMargin = 2.0f;  // what a text box keeps beyond its text
constexpr const wchar_t* kStatusSeparator = L"  \u2022  ";
constexpr double kMsPerSecond = 1000.0;


Rc ButtonRect(float x, Rc bar, float width) { return Rc{x, bar.y + kButtonInset, width, bar.h - 2 * kButtonInset}; }

// Level 0..1 of a linear peak on a decibel scale from -floorDb.
float DbLevel(float linear, float floorDb, float rangeDb) {
  return std::clamp((20.0f * std::log10(std::max(linear, kSilenceFloor)) + floorDb) / rangeDb, 0.0f, 1.0f);
}

Color Mix(Color a, Color b, float t) {
  return Color{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, 1.0f};
}

// Spectrum bar i of 16: deck A's colour through Purple to deck B's.
Color SpectrumColour(int band) {
  const float t = static_cast<float>(band) / (kSpectrumBands - 1);
  return t < 0.5f ? Mix(ColorOf(Pal.DeckA), ColorOf(Pal.Purple), 2 * t)
                  : Mix(ColorOf(Pal.Purple), ColorOf(Pal.DeckB), 2 * (t - 0.5f));
}


// The right group's widths left of the audio-load meter, gaps included.
float RightGroupWidth() {
  float width = 0;
  for (const BarButton& b : {kHelpButton, kSettingsButton, kMicButton, kMidiButton, kShiftButton, kSandboxButton,
                             kGoLiveButton, kRecButton, kSkipButton, kAutomixButton, kKaraokeButton})
    width += b.width + kButtonGap;
  return width;
}

// The right group lays buttons out from the right edge leftwards. On a bar too narrow for it
// beside the left group, its buttons and gaps narrow alike (the load meter, whose parts sit at
// fixed places, keeps its width), so that nothing of the left group lies under it.
struct RightCursor {
  float x;
  float squeeze = 1.0f;
  RightCursor(Rc bar, float leftGroupEnd) : x(bar.Right() - kRightMargin) {
    // Left of the meter, the output status's dot has its place even when nothing else fits.
    const float room = x - kLoadMeter.width - kStatusDotOnlyX - kDotRadius - leftGroupEnd;
    squeeze = std::clamp(room / RightGroupWidth(), 0.0f, 1.0f);
  }
  Rc Next(Rc bar, float width) {
    x -= width * squeeze;
    const Rc r = ButtonRect(x, bar, width * squeeze);
    x -= kButtonGap * squeeze;
    return r;
  }
  Rc NextMeter(Rc bar) {
    x -= kLoadMeter.width;
    return ButtonRect(x, bar, kLoadMeter.width);
  }
};

// ---- the left group --------------------------------------------------------------------------------

void DrawBarFrame(Rc r, float cy, bool backdropKept) {
  if (!backdropKept) DrawTopBarBackdrop(r);
  const float lineY = r.Bottom() - 0.5f, centre = r.CenterX();
  GlowLine(r.x + kPulseLineInset, lineY, centre - kPulseLineInset, lineY,
           ColorOf(Pal.DeckA, BeatPulse[0] * kPulseLineGain + kPulseLineFloor), kPulseLineWidth);
  GlowLine(centre + kPulseLineInset, lineY, r.Right() - kPulseLineInset, lineY,
           ColorOf(Pal.DeckB, BeatPulse[1] * kPulseLineGain + kPulseLineFloor), kPulseLineWidth);

  FillCircle(r.x + kLogoAx, cy, kLogoRadius, ColorOf(Pal.DeckA, kLogoAlphaA));
  FillCircle(r.x + kLogoBx, cy, kLogoRadius, ColorOf(Pal.DeckB, kLogoAlphaB));
  GlowCircle(r.x + kLogoAx, cy, kLogoGlowRadius, ColorOf(Pal.DeckA, BeatPulse[0] * kLogoGlowGain + kLogoGlowFloor));
  GlowCircle(r.x + kLogoBx, cy, kLogoGlowRadius, ColorOf(Pal.DeckB, BeatPulse[1] * kLogoGlowGain + kLogoGlowFloor));
  const Rc name{r.x + kNameX, r.y, kNameWidth, r.h};
  DrawText(L"VELDMIX", name, kNameSize, ColorOf(Pal.Text), kAlignLeft, true, kFontBahnschrift);
  GlowText(L"VELDMIX", name, kNameSize, kNameGlow, kAlignLeft, true);

  const LocalTime now = TopBarClockHook();
  DrawText(fmt::format(L"{:02}:{:02}", now.hour, now.minute), Rc{r.x + kClockX, r.y, kClockWidth, r.h}, kClockSize,
           ColorOf(Pal.Dim), kAlignLeft, false, kFontBahnschrift);
}

// Where the master-effect controls start: after the "MASTER FX" label in the UI language.
float MasterFxStart(Rc r) {
  return r.x + kFxLabelX + TextWidth(Translate(L"MASTER FX"), kFxLabelSize, true, kFontBahnschrift) + kFxLabelGap;
}

// The master-effect controls; returns g, where they start.
float DrawMasterFx(Rc r, float cy) {
  DrawText(L"MASTER FX", Rc{r.x + kFxLabelX, r.y, kFxLabelWidth, r.h}, kFxLabelSize, ColorOf(Pal.Faint), kAlignLeft,
           true, kFontBahnschrift);
  const float g = MasterFxStart(r);

  const int32_t shown = std::clamp<int32_t>(MasterFx.effect, 0, kEffectCount - 1);
  const Color dim = ColorOf(Pal.Dim), purple = ColorOf(Pal.Purple);
  if (Button(kFxPrev.id, ButtonRect(g + kFxPrevX, r, kFxPrev.width), L"\u25C2", dim, false, kFxPrev.textSize))
    StepMasterFx(-1);
  if (Button(kFxName.id, ButtonRect(g + kFxNameX, r, kFxName.width), kEffects[shown].name, purple, false,
             kFxName.textSize))
    StepMasterFx(+1);
  if (Button(kFxNext.id, ButtonRect(g + kFxNextX, r, kFxNext.width), L"\u25B8", dim, false, kFxNext.textSize))
    StepMasterFx(+1);
  if (Button(kFxBeats.id, ButtonRect(g + kFxBeatsX, r, kFxBeats.width),
             MasterFxBeatLabel(MasterFx.effect, MasterFx.beats), dim, false, kFxBeats.textSize))
    StepMasterFxBeats(AnyShiftHeld());
  if (Button(kFxOn.id, ButtonRect(g + kFxOnX, r, kFxOn.width), L"ON", purple, MasterFx.on, kFxOn.textSize))
    ToggleMasterFx();
  Knob(kMasterFxAmountId, g + kFxKnobX, cy, kFxKnobRadius, &MasterFx.amount, 0.0f, 1.0f, kFxAmountDefault, purple, L"",
       false);
  return g;
}

// ---- the right group -------------------------------------------------------------------------------

void ToggleSettingsScreen() {
  SettingsOpen = !SettingsOpen;
  if (!SettingsOpen) return;
  SettingsOutputDevices = ListAudioDevices(kRenderFlow);
  SettingsInputDevices = ListAudioDevices(kCaptureFlow);
}

void ToggleMic() {
  const bool on = !Engine.inputOn.load();
  EnableInput(Engine, on, Settings.MicDevice);
  ShowStatus(!on ? L"Mic off" : Settings.MicDuck ? L"Mic on \u2014 music ducks while you talk" : L"Mic on");
}

void ToggleMidiLearn() {
  midiLearnOn = !midiLearnOn;
  midiLearnTarget = 0;
  if (!midiLearnOn) return;
  if (MidiInputDevices.empty() && HidDeviceNames().empty())
    ShowStatus(L"MIDI learn: no controller detected \u2014 plug one in (it's picked up straight away)");
  else
    ShowStatus(L"MIDI learn: click a control, then move a knob or press a button on your controller");
}

void StartOrStopGoingLive(int32_t streamState, int32_t videoState) {
  if (streamState != kStreamOff || videoState != kStreamOff) {
    QueueDeferredAction([] {
      StopLiveStream();
      StopLiveVideo();
      ShowStatus(L"Stream stopped");
    });
    return;
  }
  const bool streamReady = !Settings.Stream.Host.empty() && !Settings.Stream.Password.empty();
  const int32_t service = std::clamp<int32_t>(Settings.Service, 0, kLiveVideoServices - 1);
  const bool videoReady = !Settings.Key[service].empty();
  if (!streamReady && !videoReady) {
    ShowStatus(L"Set up your stream first (Settings \u25B8 BROADCAST)");
    SettingsOpen = true;
    SettingsPage = kSettingsPageBroadcast;
    return;
  }
  SpeedTest::Cancel();
  if (streamReady) {
    StartLiveStream(Engine, Settings.Stream);
    // Without an output the stream fails at once and its bubble says why; "Connecting" would lie.
    if (RunningOutputRate(Engine) > 0) ShowStatus(L"Connecting to " + Settings.Stream.Host + L"\u2026");
  }
  if (videoReady && !GoLiveVideo()) {
    SettingsOpen = true;
    SettingsPage = kSettingsPageBroadcast;
  }
}

// The failed stream's message under GO LIVE, above everything drawn after the bar.
void QueueErrorBubble(Rc button, float barRight, int32_t streamState, int32_t videoState) {
  if (streamState != kStreamFailed && videoState != kStreamFailed) return;
  if (!MouseIn(button)) return;
  UiText error = LiveStreamError();
  if (error.empty()) error = LiveVideoStatusText();
  if (error.empty()) return;
  std::wstring text = TranslateFilled(error);
  const float width = TextWidth(text, kBubbleTextSize, false, kFontSegoeUi) + 2 * kBubblePad;
  const Rc box{std::min(button.x, barRight - width - kBubbleEdge), button.Bottom() + kBubbleGap, width, kBubbleHeight};
  QueueOverlay([box, text = std::move(text)] {
    FillRoundedRect(box, kBubbleRadius, ColorOf(Pal.Panel3));
    DrawTextAsIs(text, Rc{box.x + kBubblePad, box.y, box.w - 2 * kBubblePad, kBubbleHeight}, kBubbleTextSize,
                 ColorOf(Pal.Text), kAlignLeft, false, kFontSegoeUi);
  });
}

void DrawGoLive(Rc button, float barRight) {
  const int32_t s = LiveStreamState(), v = LiveVideoState();
  const GoLiveLook look = GoLiveAppearance(s, v, LiveStreamSeconds(), LiveVideoSeconds());
  const bool lit = look.blinks ? BlinkLit(FrameClockMs, kLiveBlinkMs) : look.lit;
  if (Button(kGoLiveButton.id, button, look.label, ColorOf(look.colour), lit, kGoLiveButton.textSize))
    StartOrStopGoingLive(s, v);
  QueueErrorBubble(button, barRight, s, v);
}

void DrawMicButton(Rc button) {
  const bool on = Engine.inputOn.load();
  if (Button(kMicButton.id, button, L"MIC", ColorOf(Pal.Pink), on, kMicButton.textSize)) ToggleMic();
  if (!Engine.inputOn.load()) return;
  const float level = DbLevel(Meters.microphone, kMicFloorDb, kMicMeterRangeDb);
  const Rc line{button.x + kMicLineX, button.Bottom() - 4, kMicLineLength * level, 2};
  FillRoundedRect(line, kMicLineRadius, ColorOf(Pal.Green));
  GlowRoundedRect(line, kMicLineRadius, ColorOf(Pal.Green, kMicGlowAlpha));
}

void DrawMidiButton(Rc button) {
  // In learn mode a mouse press makes a button the learn target instead of firing it; MIDI must
  // still take the user out of learn mode.
  const bool leaveLearn = midiLearnOn && PressStarts(button);
  const bool clicked = Button(kMidiButton.id, button, L"MIDI", ColorOf(Pal.Yellow), midiLearnOn, kMidiButton.textSize);
  if (clicked || leaveLearn) ToggleMidiLearn();
}

// Where DrawTopBar puts the MIDI button in the bar r: the fourth from the right.
Rc MidiButtonRect(Rc r) {
  RightCursor right(r, MasterFxStart(r) + kLeftGroupEnd);
  for (const BarButton& before : {kHelpButton, kSettingsButton, kMicButton}) right.Next(r, before.width);
  return right.Next(r, kMidiButton.width);
}

void ResetDropouts() {
  Engine.dropouts.store(0);
  Engine.renderLockMisses.store(0);
  Engine.serverUnderruns.store(0);
  Meters.dropouts = 0;
  Meters.dropoutsLogged = 0;
  Meters.loadHighest = Meters.load;
  ShowStatus(L"Dropout count and highest load reset");
}

// The audio-load meter, drawn inside its button.
void DrawLoadMeter(Rc button, float cy, uint64_t nowMs) {
  const bool recent = DropoutRecent(nowMs);
  const bool lit = recent && (nowMs / kDropoutBlinkMs) % 4 < 2;
  // The meter changes alone (its load, count and blink): only its button is redrawn, unless its
  // tooltip, which says the same, is open.
  const bool alone = !MouseIn(button);
  if (alone) NotePartDrawn(kLoadMeterPart, button);
  if (recent) {
    const uint64_t nextSwitch = (nowMs / (2 * kDropoutBlinkMs) + 1) * 2 * kDropoutBlinkMs;
    const uint64_t calm = Meters.dropoutRiseMs + kRecentDropoutMs + 1;
    if (alone) {
      RedrawPartAt(nextSwitch, button, UINT64_MAX);
      RedrawPartAt(calm, button, UINT64_MAX);
    } else {
      RedrawAt(nextSwitch);
      RedrawAt(calm);
    }
  }
  if (Button(kLoadMeter.id, button, L"", ColorOf(recent ? Pal.Red : Pal.Text), lit, kLoadMeter.textSize))
    ResetDropouts();

  const float bx = button.x;
  DrawText(L"CPU", Rc{bx + kCpuX, button.y, kCpuWidth, button.h}, kCpuSize, ColorOf(Pal.Dim), kAlignLeft, true,
           kFontBahnschrift);
  // A count wider than its place (three digits) takes room from the load track, dot and all, so
  // that every digit shows.
  const std::wstring count = fmt::format(L"{}", std::min(Meters.dropouts, kCountShownMax));
  const float countWidth = std::max(kCountWidth, TextWidth(count, kCountSize, true, kFontBahnschrift));
  const float shift = std::min(kCountWidth - countWidth + kCountSpareDip, 0.0f);
  const Rc track{bx + kTrackX, cy - kTrackHeight / 2, kTrackWidth + shift, kTrackHeight};
  FillRoundedRect(track, kTrackRadius, kTrackColour);
  const float load = ShownLoad(Meters.load);
  if (load > 0.0f)
    FillRoundedRect(Rc{track.x, track.y, load * track.w, kTrackHeight}, kTrackRadius,
                    ColorOf(LoadColour(Meters.load)));
  uint32_t dot = Pal.Faint;
  if (Engine.outputRunning.load()) dot = recent ? Pal.Red : Meters.dropouts == 0 ? Pal.Green : Pal.Yellow;
  const float dotX = bx + kDotX + shift;
  FillCircle(dotX, cy, kDotRadius, ColorOf(dot));
  if (Engine.outputRunning.load() && recent) GlowCircle(dotX, cy, kDotRadius, ColorOf(Pal.Red));
  DrawText(count, Rc{bx + kCountX + shift, button.y, countWidth, button.h}, kCountSize,
           ColorOf(Meters.dropouts == 0 ? Pal.Dim : Pal.Text), kAlignLeft, true, kFontBahnschrift);

  if (!MouseIn(button)) return;
  LoadMeterFacts facts;
  facts.shownLoad = Meters.load;
  facts.highestLoad = Meters.loadHighest;
  facts.dropouts = Meters.dropouts;
  facts.lateWakeups = Engine.dropouts.load();
  facts.repeatedBlocks = Engine.renderLockMisses.load();
  facts.serverUnderruns = Engine.serverUnderruns.load();
  facts.secondsSinceLastDropout = nowMs >= Meters.dropoutRiseMs ? (nowMs - Meters.dropoutRiseMs) / kMsPerSecond : 0;
  facts.bufferFrames = static_cast<uint32_t>(std::max(Engine.bufferFrames.load(), 0));
  facts.sampleRate = static_cast<uint32_t>(std::max(Engine.sampleRate.load(), 0));
  Tooltip.text = LoadMeterTooltip(facts);
  Tooltip.anchor = button;
}

// ---- the middle -----------------------------------------------------------------------------------

// The mix spectrum between the left group and `limit`, where the output status leaves off.
void DrawSpectrum(Rc r, float cy, float leftGroupEnd, float limit) {
  const float left = leftGroupEnd + kSpectrumGap;
  const float width = std::min({kSpectrumMaxWidth, kSpectrumShare * r.w, limit - left});
  if (width < kSpectrumMinWidth) return;
  const float x0 = std::min(std::max(left, r.CenterX() - width / 2), limit - width);
  const float step = width / kSpectrumBands;
  for (int i = 0; i < kSpectrumBands; ++i) {
    const float level = DbLevel(Meters.spectrum[i], kSpectrumFloorDb, kSpectrumRangeDb);
    const float half = std::max(level * (r.h / 2 - kBarMargin), kBarMinHalf);
    const Rc bar{x0 + i * step + kBarInset, cy - half, step - kBarNarrowing, 2 * half};
    const Color c = SpectrumColour(i);
    FillGradientRoundedRect(bar, kBarRadius, Lighten(c, kBarTopLighten), c);
    GlowRoundedRect(bar, kBarRadius, WithAlpha(c, level * kBarGlowGain + kBarGlowFloor));
  }
  DrawLine(x0, cy, x0 + width, cy, kSpectrumBaseline, 1);
}

// The output status, right-aligned before the load meter with the room the left group leaves it:
// the spectrum gives way to it, and where even that is too little its last parts ("  •  CUE OK",
// "  •  REOPENING") are left off; only the dot stays when not even the first part fits. Returns
// where the spectrum must end.
float DrawOutputStatus(Rc r, float cy, float leftGroupEnd, float loadMeterX) {
  OutputStatusFacts facts;
  facts.running = Engine.outputRunning.load();
  facts.sampleRate = static_cast<uint32_t>(std::max(Engine.sampleRate.load(), 0));
  facts.bufferFrames = static_cast<uint32_t>(std::max(Engine.bufferFrames.load(), 0));
  facts.externalMixer = Engine.externalMixer;
  facts.headphoneMode = Engine.phonesMode;
  facts.headphoneRunning = Engine.phonesOnMaster ? facts.running : Engine.phones.running.load();
  facts.masterLost = OutputLost(OutputKind::kMaster);
  facts.headphoneLost = OutputLost(OutputKind::kPhones);
  facts.micLost = Engine.inputOn.load() && OutputLost(OutputKind::kMicrophone);
  std::wstring shown = Translate(OutputStatusText(facts));

  const float right = loadMeterX - kButtonGap - kStatusOffset + kStatusWidth;
  const float room = right - kStatusClearance - leftGroupEnd;
  float width = TextWidth(shown, kStatusSize, true, kFontBahnschrift);
  while (width > room) {
    const size_t cut = shown.rfind(kStatusSeparator);
    if (cut == std::wstring::npos) {
      FillCircle(loadMeterX - kStatusDotOnlyX, cy, kDotRadius, ColorOf(facts.running ? Pal.Green : Pal.Red));
      return loadMeterX - kButtonGap - kSpectrumRightGap;
    }
    shown.resize(cut);
    width = TextWidth(shown, kStatusSize, true, kFontBahnschrift);
  }
  const float textStart = right - width;
  DrawTextAsIs(shown, Rc{textStart, r.y, width + kStatusFitMargin, r.h}, kStatusSize,
               ColorOf(facts.running ? Pal.Dim : Pal.Red), kAlignLeft, true, kFontBahnschrift);
  FillCircle(textStart - kStatusDotGap, cy, kDotRadius, ColorOf(facts.running ? Pal.Green : Pal.Red));
  return textStart - kStatusClearance - kSpectrumRightGap;
}

}  // namespace

bool DropoutRecent(uint64_t nowMs) {
  return Meters.dropouts >= 1 && nowMs >= Meters.dropoutRiseMs && nowMs - Meters.dropoutRiseMs <= kRecentDropoutMs;
}

// ---- master-effect label ------------------------------------------------------------------------------

std::wstring MasterFxBeatLabel(int32_t effect, float beats) {
  if (MasterFxDefaultBeats(effect) <= 0) return kNoBeatLabel;
  return kBeatLengthLabels[NearestBeatLength(beats)];
}

// ---- texts -----------------------------------------------------------------------------------------------

std::wstring RecButtonLabel(bool recording, uint64_t frames, uint32_t rate) {
  if (!recording) return L"\u25CF  REC";
  return L"\u25CF  " + FormatTime(static_cast<double>(frames) / std::max<uint32_t>(rate, 1), false);
}

GoLiveLook GoLiveAppearance(int32_t streamState, int32_t videoState, double streamSeconds, double videoSeconds) {
  if (streamState == kStreamOnAir || videoState == kStreamOnAir) {
    const double seconds = videoState == kStreamOnAir ? videoSeconds : streamSeconds;
    return GoLiveLook{.label = L"LIVE " + FormatTime(seconds, false), .colour = Pal.Red, .blinks = true, .lit = false};
  }
  if (streamState == kStreamOff && videoState == kStreamOff)
    return GoLiveLook{.label = L"GO LIVE", .colour = Pal.Text, .blinks = false, .lit = false};
  return GoLiveLook{.label = L"LIVE\u2026", .colour = Pal.Yellow, .blinks = false, .lit = true};
}

std::wstring OutputStatusText(const OutputStatusFacts& facts) {
  // The box holds about three parts: the microphone's loss takes the place of what matters less.
  if (facts.masterLost) return facts.micLost ? L"MASTER LOST  \u2022  MIC LOST" : L"MASTER LOST  \u2022  REOPENING";
  if (!facts.running) return L"NO AUDIO OUTPUT";
  const double rate = std::max<uint32_t>(facts.sampleRate, 1);
  const wchar_t* suffix = L"";
  if (facts.externalMixer)
    suffix = L"  \u2022  EXT MIXER";
  else if (facts.headphoneMode == kPhonesSplit)
    suffix = L"  \u2022  CUE OK";
  else if (facts.headphoneMode == kPhonesOwnOutput)
    suffix = facts.headphoneRunning ? L"  \u2022  CUE OK" : facts.headphoneLost ? L"  \u2022  CUE LOST" : L"  \u2022  NO CUE";
  if (facts.micLost && !(facts.headphoneMode == kPhonesOwnOutput && facts.headphoneLost)) suffix = L"  \u2022  MIC LOST";
  return fmt::format(L"{:.1f} kHz  \u2022  {:.0f} ms{}", facts.sampleRate / kMsPerSecond,
                     facts.bufferFrames * kMsPerSecond / rate, suffix);
}

namespace {

// What the dropouts were, the kinds that happened: " (2 late wake-ups, 1 server underrun)".
std::wstring DropoutKinds(const LoadMeterFacts& facts) {
  const uint32_t w = facts.lateWakeups, b = facts.repeatedBlocks, u = facts.serverUnderruns;
  const std::pair<uint32_t, std::wstring> kinds[] = {
      {w, w == 1 ? TranslateFormat(L"{} late wake-up", w) : TranslateFormat(L"{} late wake-ups", w)},
      {b, b == 1 ? TranslateFormat(L"{} repeated block", b) : TranslateFormat(L"{} repeated blocks", b)},
      {u, u == 1 ? TranslateFormat(L"{} server underrun", u) : TranslateFormat(L"{} server underruns", u)}};
  std::wstring list;
  for (const auto& [count, words] : kinds) {
    if (count == 0) continue;
    if (!list.empty()) list += L", ";
    list += words;
  }
  return list.empty() ? list : L" (" + list + L")";
}

}  // namespace

std::wstring LoadMeterTooltip(const LoadMeterFacts& facts) {
  std::wstring text =
      TranslateFormat(L"Audio load {:.0f}%  (highest {:.0f}%)", facts.shownLoad * 100.0, facts.highestLoad * 100.0);
  text += L'\n';
  if (facts.dropouts == 0) {
    text += Translate(L"No dropouts since Veldmix started");
  } else {
    const std::wstring ago = FormatTime(facts.secondsSinceLastDropout, false);
    text += facts.dropouts == 1 ? TranslateFormat(L"{} dropout, the last {} ago", facts.dropouts, ago)
                                : TranslateFormat(L"{} dropouts, the last {} ago", facts.dropouts, ago);
    text += DropoutKinds(facts);
  }
  text += L'\n';
  text += TranslateFormat(L"{}-frame buffer ({:.1f} ms)  \u2022  click to reset", facts.bufferFrames,
                          facts.bufferFrames * kMsPerSecond / std::max<uint32_t>(facts.sampleRate, 1));
  if (facts.dropouts != 0 || facts.highestLoad > kBusyHighestLoad) {
    text += L'\n';
    text += Translate(L"Dropouts? Try a bigger buffer: Settings \u25B8 AUDIO \u25B8 Latency");
  }
  return text;
}

uint32_t LoadColour(float load) {
  return load < kLoadYellowFrom ? Pal.Green : load < kLoadRedFrom ? Pal.Yellow : Pal.Red;
}

float ShownLoad(float load) {
  if (!(load > kLoadVisible)) return 0.0f;  // NaN too
  return std::max(std::round(std::min(load, 1.0f) * kTrackWidth), kLoadMinFill) / kTrackWidth;
}

// ---- the panel ---------------------------------------------------------------------------------------

void DrawTopBarBackdrop(Rc r) {
  FillGradientRoundedRect(r, 0, kBarTop, kBarBottom);
  const float lineY = r.Bottom() - 0.5f, centre = r.CenterX();
  DrawLine(r.x, lineY, r.Right(), lineY, kBaseLine, 1);
  DrawLine(r.x, lineY, centre, lineY, ColorOf(Pal.DeckA, kBaseLineAlpha), 1);
  DrawLine(centre, lineY, r.Right(), lineY, ColorOf(Pal.DeckB, kBaseLineAlpha), 1);
}

void DrawTopBarMidiButton(Rc r) {
  if (!OffScreen(r)) DrawMidiButton(MidiButtonRect(r));
}

void DrawTopBar(Rc r, bool backdropKept) {
  if (OffScreen(r)) return;
  const float cy = r.CenterY();
  const uint64_t nowMs = FrameClockMs;

  DrawBarFrame(r, cy, backdropKept);
  // The bar's pulse lines and logo follow decks A and B, its spectrum the mix.
  NotePartDrawn(kSpectrumPart, r);
  NotePartDrawn(kSidePanelPart + 0, r);
  NotePartDrawn(kSidePanelPart + 1, r);
  const float g = DrawMasterFx(r, cy);

  const float leftGroupEnd = g + kLeftGroupEnd;
  RightCursor right(r, leftGroupEnd);
  if (Button(kHelpButton.id, right.Next(r, kHelpButton.width), L"?", ColorOf(Pal.Text), HelpOpen, kHelpButton.textSize))
    HelpOpen = !HelpOpen;
  if (Button(kSettingsButton.id, right.Next(r, kSettingsButton.width), L"\u2699", ColorOf(Pal.Text), SettingsOpen,
             kSettingsButton.textSize))
    ToggleSettingsScreen();
  DrawMicButton(right.Next(r, kMicButton.width));
  const Rc midi = right.Next(r, kMidiButton.width);
  assert(midi.x == MidiButtonRect(r).x && "the MIDI button moved: MidiButtonRect must follow");
  DrawMidiButton(midi);
  Button(kShiftButton.id, right.Next(r, kShiftButton.width), L"SHIFT", ColorOf(Pal.Yellow), IsUiControlHeld(),
         kShiftButton.textSize);
  if (Button(kSandboxButton.id, right.Next(r, kSandboxButton.width), Sandbox.on ? L"SANDBOX \u25CF" : L"SANDBOX",
             ColorOf(Pal.Pink), Sandbox.on && BlinkLit(nowMs, kBlinkMs), kSandboxButton.textSize))
    ToggleSandbox();
  DrawGoLive(right.Next(r, kGoLiveButton.width), r.Right());
  const bool recording = Engine.recording.load();
  const std::wstring recLabel = RecButtonLabel(recording, Engine.recordFrames.load(),
                                               static_cast<uint32_t>(std::max(Engine.recordRate.load(), 0)));
  if (Button(kRecButton.id, right.Next(r, kRecButton.width), recLabel, ColorOf(Pal.Red),
             recording && BlinkLit(nowMs, kBlinkMs), kRecButton.textSize))
    ToggleRecording();
  // SKIP keeps its place while Automix is off, so that no button moves when it appears.
  const Rc skip = right.Next(r, kSkipButton.width);
  if (Automix.on && Button(kSkipButton.id, skip, L"SKIP \u25B6", ColorOf(Pal.Green), false, kSkipButton.textSize))
    Automix.skipRequest = true;
  const size_t queued = TrackLists.size() > kAutomixList ? TrackLists[kAutomixList].paths.size() : 0;
  const std::wstring automixLabel = queued > 0 ? fmt::format(L"AUTOMIX {}", queued) : std::wstring(L"AUTOMIX");
  if (Button(kAutomixButton.id, right.Next(r, kAutomixButton.width), automixLabel, ColorOf(Pal.Green), Automix.on,
             kAutomixButton.textSize))
    ToggleAutomix();
  if (Button(kKaraokeButton.id, right.Next(r, kKaraokeButton.width), L"KARAOKE", ColorOf(Pal.Pink), KaraokePanelShown,
             kKaraokeButton.textSize))
    ToggleKaraokePanel();
  const Rc meter = right.NextMeter(r);
  DrawLoadMeter(meter, cy, nowMs);

  const float spectrumLimit = DrawOutputStatus(r, cy, leftGroupEnd, meter.x);
  DrawSpectrum(r, cy, leftGroupEnd, spectrumLimit);
}
