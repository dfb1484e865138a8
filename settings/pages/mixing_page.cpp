// The Mixing page: cross-fader, quantize, colour effect and key notation; two or four decks and
// what loading and starting do; automatic stems; Automix; and the timecode-vinyl turntables with
// a live readout of each record's speed.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/ui_text.h"
#include "control/timecode.h"
#include "engine/audio_routing.h"
#include "engine/deck_view.h"
#include "engine/side_slots.h"
#include "engine/stems.h"
#include "settings/pages/settings_pages.h"
#include "settings/settings_rows.h"
#include "settings/settings_screen.h"
#include "ui/language.h"
#include "ui/widgets.h"

namespace {

constexpr int32_t kXfCurveId = 64, kXfReverseId = 910, kQuantizeId = 68, kColorFxId = 3420, kKeyNotationId = 72;
constexpr int32_t kDecksId = 3022, kAutoGainId = 70, kAutoCueId = 912, kStartupId = 914, kStemsId = 3024;
constexpr int32_t kStyleId = 916, kOrderId = 920, kMixLenId = 74;
constexpr int32_t kTurntablesId = 3540, kTimecodeInputId = 3542, kPairAId = 3544, kPairBId = 3546;
constexpr int32_t kTimecodeKindId = 3548, kFlipAId = 3550, kFlipBId = 3551;

constexpr float kPairGapDip = 6.0f;
constexpr float kFlipWidthDip = 120.0f, kFlipHeightDip = 26.0f, kFlipTextSize = 10.0f;
constexpr float kFlipSecondDx = 128.0f, kFlipRowStepDip = 34.0f;
constexpr int kMinTimecodePairs = 2;    // offered even while the input is stopped
constexpr int kStemCheckFrames = 60;    // the model files are looked for about once a second
constexpr int kMixLenDefaultIndex = 1;  // 8 s, also for a value edited by hand

const std::vector<std::wstring> kXfCurveLabels = {L"SMOOTH", L"SCRATCH", L"POWER"};
const std::vector<std::wstring> kColorFxLabels = {L"FILTER", L"SPACE", L"DUB", L"NOISE", L"CRUSH", L"ECHO"};
const std::vector<std::wstring> kKeyNotationLabels = {L"CAMELOT (8A)", L"MUSICAL (Am)"};
const std::vector<std::wstring> kDecksLabels = {L"2 DECKS", L"4 DECKS (A/C, B/D)"};
const std::vector<std::wstring> kStyleLabels = {L"FADE", L"BASS SWAP", L"FILTER", L"ECHO OUT"};
const std::vector<std::wstring> kMixLenLabels = {L"4 s", L"8 s", L"12 s", L"16 s", L"24 s"};
constexpr int32_t kMixLenSeconds[] = {4, 8, 12, 16, 24};
const std::vector<std::wstring> kTimecodeLabels = {L"SERATO (1 kHz)", L"TRAKTOR (2 kHz)"};

// StemModelsPresent reads the disk: its answer is kept for a while rather than asked each frame.
struct StemCheck {
  bool present = false;
  std::wstring error;
  int framesLeft = 0;
};
StemCheck Stems;

const StemCheck& CheckedStems() {
  if (--Stems.framesLeft <= 0) {
    Stems.error.clear();
    Stems.present = StemModelsPresent(&Stems.error);
    Stems.framesLeft = kStemCheckFrames;
  }
  return Stems;
}

void SaveAndRestartTimecode() {
  SaveSettings();
  StartTimecodeInput();
}

void MixingRows() {
  SectionHeader(L"MIXING");
  RowLabel(L"Cross-fader curve");
  ChoiceRow(kXfCurveId, kXfCurveLabels, &Settings.XfCurve);
  RowLabel(L"Cross-fader");
  ToggleRow(kXfReverseId, L"NORMAL", L"REVERSE (HAMSTER)", &Settings.XfReverse);
  RowLabel(L"Quantize cues");
  ToggleRow(kQuantizeId, L"OFF", L"SNAP TO BEAT", &Settings.Quantize);
  RowLabel(L"Colour FX");
  int colorFx = std::clamp<int>(Settings.ColorFx, 0, static_cast<int>(kColorFxLabels.size()) - 1);
  if (IndexChoiceRow(kColorFxId, kColorFxLabels, &colorFx)) {
    Settings.ColorFx = colorFx;
    for (DeckView& view : LiveDeckViews) view.colorFx = colorFx;
    SaveSettings();
  }
  RowLabel(L"Key notation");
  int notation = Settings.Camelot ? 0 : 1;
  if (IndexChoiceRow(kKeyNotationId, kKeyNotationLabels, &notation)) {
    Settings.Camelot = notation == 0;
    SaveSettings();
  }
}

void DeckRows() {
  SectionHeader(L"DECKS");
  RowLabel(L"Decks");
  int decks = Settings.FourDecks ? 1 : 0;
  if (IndexChoiceRow(kDecksId, kDecksLabels, &decks)) {
    Settings.FourDecks = decks == 1;
    if (!Settings.FourDecks) ShowDecksAB();
    // The external mixer's channel layout follows the deck count.
    if (Settings.ExternalMixer) ResetAudioRouting();
    else SaveSettings();
  }
  RowLabel(L"Auto-gain on load");
  ToggleRow(kAutoGainId, L"OFF", L"ON", &Settings.AutoGain);
  RowLabel(L"Auto-cue");
  ToggleRow(kAutoCueId, L"OFF", L"SKIP SILENCE", &Settings.AutoCue);
  RowLabel(L"On startup");
  ToggleRow(kStartupId, L"EMPTY DECKS", L"RESTORE SESSION", &Settings.RestoreSession);
}

// The missing-files message ends in a folder and file names, too long for one line of a narrow
// column: it breaks before the folder, so the words keep their translation.
void StemMessageLines(std::wstring_view text) {
  const size_t cut = text.rfind(L" in ");
  if (cut == std::wstring_view::npos) {
    HelpLine(text);
    return;
  }
  HelpLine(text.substr(0, cut + 4));
  HelpLine(text.substr(cut + 4));
}

void StemRows() {
  SectionHeader(L"AI STEMS");
  RowLabel(L"Separate stems");
  ToggleRow(kStemsId, L"WHEN I ASK", L"WHEN A TRACK LOADS", &Settings.StemsAuto);
  const StemCheck& stems = CheckedStems();
  if (stems.present) HelpLine(L"Vocals, drums, bass and melody \u2014 STEMS pads, or VOX / INST.");
  else StemMessageLines(stems.error);
}

void AutomixRows() {
  SectionHeader(L"AUTOMIX & TRANSITIONS");
  RowLabel(L"Transition style");
  ChoiceRow(kStyleId, kStyleLabels, &Settings.AutomixStyle);
  RowLabel(L"Track order");
  ToggleRow(kOrderId, L"IN ORDER", L"SHUFFLE", &Settings.AutomixShuffle);
  RowLabel(L"Transition length");
  int length = MixLenIndex(Settings.MixLen);
  if (IndexChoiceRow(kMixLenId, kMixLenLabels, &length)) {
    Settings.MixLen = kMixLenSeconds[length];
    SaveSettings();
  }
  HelpLine(L"Automix starts each mix at the outgoing track's outro, or on the");
  HelpLine(L"last 8-bar phrase that leaves time for the transition.");
  HelpLine(L"The transition length is also used by the A / B glide buttons.");
}

void TurntableRows() {
  SectionHeader(L"TURNTABLES (TIMECODE VINYL)");
  RowLabel(L"Turntables");
  if (ToggleRow(kTurntablesId, L"OFF", L"DRIVE DECKS A AND B", &Settings.DvsOn)) StartTimecodeInput();
  if (!Settings.DvsOn) return;

  const std::vector<AudioDevice>& devices = SettingsInputDevices;
  int index = DeviceChoiceIndex(devices, Settings.DvsDevice, 1);
  RowLabel(L"Input");
  if (StepperRow(kTimecodeInputId, index > 0 ? std::wstring_view(devices[index - 1].name) : L"System default",
                 &index, static_cast<int>(devices.size()) + 1)) {
    Settings.DvsDevice = index > 0 ? devices[index - 1].id : L"";
    SaveAndRestartTimecode();
  }

  RowLabel(L"Channels A / B");
  const int pairs = std::max(kMinTimecodePairs, std::max(1, TimecodeInputState() / 2));
  const float width = (Cursor.controlWidth - kPairGapDip) / 2;
  int32_t* stored[2] = {&Settings.PairA, &Settings.PairB};
  const int32_t ids[2] = {kPairAId, kPairBId};
  for (int deck = 0; deck < 2; ++deck) {
    int pair = std::clamp<int>(*stored[deck], 0, pairs - 1);
    wchar_t text[24];
    swprintf(text, 24, deck == 0 ? L"A: %d-%d" : L"B: %d-%d", 2 * pair + 1, 2 * pair + 2);
    const Rc box{Cursor.controlX + (width + kPairGapDip) * deck, Cursor.y, width, kSettingsRowHeightDip};
    if (DrawLabelledBox(ids[deck], box, text, &pair, pairs)) {
      *stored[deck] = pair;
      SaveAndRestartTimecode();
    }
  }
  Cursor.y += kSettingsRowStepDip;

  RowLabel(L"Timecode");
  int kind = Settings.Traktor ? 1 : 0;
  if (IndexChoiceRow(kTimecodeKindId, kTimecodeLabels, &kind)) {
    Settings.Traktor = kind == 1;
    SaveAndRestartTimecode();
  }
  HelpLine(TranslateFilled(UiFormat(L"Deck A: {}   \u00B7   Deck B: {}", RecordSpeedText(0), RecordSpeedText(1))));
  HelpLine(L"Record playing forwards but deck going backwards? Flip it here:");
  const Color text = ColorOf(Pal.Text);
  if (Button(kFlipAId, Rc{Cursor.columnX, Cursor.y, kFlipWidthDip, kFlipHeightDip},
             Settings.FlipA ? L"A FLIPPED" : L"FLIP A", text, Settings.FlipA, kFlipTextSize)) {
    Settings.FlipA = !Settings.FlipA;
    SaveAndRestartTimecode();
  }
  if (Button(kFlipBId, Rc{Cursor.columnX + kFlipSecondDx, Cursor.y, kFlipWidthDip, kFlipHeightDip},
             Settings.FlipB ? L"B FLIPPED" : L"FLIP B", text, Settings.FlipB, kFlipTextSize)) {
    Settings.FlipB = !Settings.FlipB;
    SaveAndRestartTimecode();
  }
  Cursor.y += kFlipRowStepDip;
}

}  // namespace

int MixLenIndex(int32_t seconds) {
  for (int i = 0; i < static_cast<int>(std::size(kMixLenSeconds)); ++i)
    if (kMixLenSeconds[i] == seconds) return i;
  return kMixLenDefaultIndex;
}

UiText RecordSpeedText(int deck) {
  if (!TimecodeHasSignal(deck)) return UiText(L"no timecode");
  const double speed = TimecodeSpeed(deck);
  const long long percent = std::isfinite(speed) ? std::llround(speed * 100.0) : 0;
  return UiText(std::to_wstring(percent) + L"%");
}

void DrawMixingPage() {
  BeginColumn(0);
  MixingRows();
  DeckRows();
  StemRows();

  BeginColumn(1);
  AutomixRows();
  TurntableRows();
}
