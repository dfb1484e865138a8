#pragma once
// The top bar: the strip across the top of the main window with the logo, the clock, the master
// effect, the mix spectrum, the audio-output status and, from the right edge leftwards, the
// audio-load meter and the KARAOKE, AUTOMIX, SKIP, REC, GO LIVE, SANDBOX, SHIFT, MIDI, MIC,
// settings and help buttons. It draws the master-effect selection (engine/mixer_controls.h); all
// it shows belongs to other modules and is only read or toggled here. UI thread only.
#include <cstdint>
#include <string>

#include "base/phones_mode.h"
#include "platform/clock.h"
#include "ui/draw.h"

inline constexpr float kTopBarHeight = 40.0f;

// ---- the panel -------------------------------------------------------------------------------

// Draws the bar in r (the frame passes (0, 0, window width, 40)) and handles its buttons; the
// stream stops it asks for run as deferred actions after the frame. Sets the frame's Tooltip
// (screens/main_screen.h) while the mouse rests on the audio-load meter. With backdropKept the
// frame's backdrop already holds the bar's backdrop (DrawTopBarBackdrop), which is left out.
void DrawTopBar(Rc r, bool backdropKept = false);
// What of the bar never changes but with the skin: its opaque gradient and its base lines in the
// deck colours. Frame after frame the same pixels, so a screen may keep them in its backdrop.
void DrawTopBarBackdrop(Rc r);
// The wall clock whose hours and minutes the bar shows: NowLocal, unless a test that compares
// frames drawn at different moments pins it.
extern LocalTime (*TopBarClockHook)();
// The audio load as the load meter's bar shows it: 0 (no bar) up to 1% (and for NaN), else the
// share of the bar's track it fills, in whole DIPs of the track and at least its shortest fill.
float ShownLoad(float load);
// The load meter's fill colour (0xRRGGBB) for the load itself, not the rounded fill: Green below
// 0.5, Yellow below 0.75, Red from there.
uint32_t LoadColour(float load);
// True from a counted dropout for about ten seconds (nowMs on MonotonicMs): the load meter blinks.
bool DropoutRecent(uint64_t nowMs);
// Draws and handles only the bar's MIDI button, where DrawTopBar puts it in r, for an overlay that
// keeps it usable while the rest of the bar sees no mouse (MIDI learn of the macros panel).
void DrawTopBarMidiButton(Rc r);

// ---- ControlIds of the bar (shared with keys, controllers and macros) ------------------------

inline constexpr int32_t kHelpButtonId = 1;
inline constexpr int32_t kSettingsButtonId = 2;
inline constexpr int32_t kRecButtonId = 3;
inline constexpr int32_t kAutomixButtonId = 4;
inline constexpr int32_t kSkipButtonId = 5;
inline constexpr int32_t kMidiButtonId = 6;
inline constexpr int32_t kMicButtonId = 26;
inline constexpr int32_t kSandboxButtonId = 34;
inline constexpr int32_t kLoadMeterId = 35;
inline constexpr int32_t kGoLiveButtonId = 47;
inline constexpr int32_t kMasterFxPrevId = 50;
inline constexpr int32_t kMasterFxNameId = 51;
inline constexpr int32_t kMasterFxNextId = 52;
inline constexpr int32_t kMasterFxBeatsId = 53;
inline constexpr int32_t kMasterFxOnId = 54;
inline constexpr int32_t kMasterFxAmountId = 55;
inline constexpr int32_t kKaraokeButtonId = 4000;

// ---- master-effect label (pure) ----------------------------------------------------------------

// The beat button's label: "1/8" ... "16", or "—" for an effect without a beat length.
std::wstring MasterFxBeatLabel(int32_t effect, float beats);

// ---- texts the bar shows (pure) ---------------------------------------------------------------

// The REC label: "●  REC", or "●  m:ss" of frames / max(rate, 1) while recording.
std::wstring RecButtonLabel(bool recording, uint64_t frames, uint32_t rate);
// GO LIVE's look for the audio stream state S and live video state V (0 off, 1 connecting, 2 on
// air, 3 failed) and their seconds on air.
struct GoLiveLook {
  std::wstring label;
  uint32_t colour = 0;  // 0xRRGGBB
  bool blinks = false;  // lit on even 700 ms periods
  bool lit = false;     // when it does not blink
};
GoLiveLook GoLiveAppearance(int32_t streamState, int32_t videoState, double streamSeconds, double videoSeconds);
// The output-status text: "MASTER LOST  •  REOPENING" while its device is gone, "NO AUDIO OUTPUT",
// or rate, buffer and the headphone suffix ("CUE LOST" while the headphone device is gone). While
// the microphone's device is gone, "MIC LOST" takes the place of "REOPENING" or of the headphone
// suffix (unless that says CUE LOST).
struct OutputStatusFacts {
  bool running = false;
  uint32_t sampleRate = 0;
  uint32_t bufferFrames = 0;
  bool externalMixer = false;
  PhonesMode headphoneMode = kPhonesNone;
  bool headphoneRunning = false;
  bool masterLost = false;     // its device went away while playing; being reopened
  bool headphoneLost = false;
  bool micLost = false;        // the microphone is on and its device went away; being reopened
};
std::wstring OutputStatusText(const OutputStatusFacts& facts);
// The audio-load meter's tooltip (lines split by '\n').
struct LoadMeterFacts {
  float shownLoad = 0;
  float highestLoad = 0;
  uint32_t dropouts = 0;          // the three kinds below, summed
  uint32_t lateWakeups = 0;       // the device woke the output late
  uint32_t repeatedBlocks = 0;    // blocks lost to a hold of the engine
  uint32_t serverUnderruns = 0;   // the sound server ran dry
  double secondsSinceLastDropout = 0;
  uint32_t bufferFrames = 0;
  uint32_t sampleRate = 0;
};
std::wstring LoadMeterTooltip(const LoadMeterFacts& facts);
