#include "screens/sampler_menu.h"

#include <array>
#include <cmath>
#include <mutex>
#include <string>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/palette.h"
#include "base/settings.h"
#include "engine/deck_view.h"
#include "engine/engine.h"
#include "engine/sampler.h"
#include "engine/sampler_bank.h"
#include "engine/side_slots.h"
#include "ui/file_dialogs.h"

namespace {

constexpr int kVolumeSteps = 4;        // the Volume submenu: 25, 50, 75 and 100 %
constexpr long kVolumeStepPercent = 25;
constexpr float kPercent = 100.0f;
constexpr int kRecordChoices = 6;
// The "Record into this pad" lines: source and length in beats (0 = until stopped).
struct RecordChoice {
  const wchar_t* text;
  int source;
  int beats;
};
constexpr RecordChoice kRecordMenu[kRecordChoices] = {
    {.text = L"The mix: 1 bar (from the next bar)", .source = 0, .beats = 4},
    {.text = L"The mix: 2 bars", .source = 0, .beats = 8},
    {.text = L"The mix: 4 bars", .source = 0, .beats = 16},
    {.text = L"The mix: until I stop it", .source = 0, .beats = 0},
    {.text = L"The microphone: until I stop it", .source = kPadRecordMic, .beats = 0},
    {.text = L"The microphone: 1 bar", .source = kPadRecordMic, .beats = 4},
};
constexpr int kFirstMicChoice = 4;  // the lines from here on are greyed while the microphone is off

}  // namespace

std::vector<PopupMenuEntry> SamplerPadMenuEntries(int pad) {
  std::vector<PopupMenuEntry> menu;
  if (!ValidPad(pad)) return menu;
  const int slot = CurrentSlot(pad);
  const int decks = DecksInUse();
  bool hasTrack[kEngineDecks] = {}, hasLoop[kEngineDecks] = {};
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < decks; ++d) {
      hasTrack[d] = static_cast<bool>(DeckStateOf(d).track);
      hasLoop[d] = DeckStateOf(d).loopOut > DeckStateOf(d).loopIn;
    }
  }
  menu.push_back(MenuEntry(L"Load a sound\u2026", kPadLoadSound));
  PopupMenuEntry capture = MenuEntry(L"Capture loop", 0);
  for (int d = 0; d < decks; ++d) {
    capture.submenu.push_back(MenuEntry(L"From deck " + DeckLetter(d) + (hasLoop[d] ? L" (its loop)" : L" (4 beats)"),
                                   kPadCaptureDeck + static_cast<uint32_t>(d), !hasTrack[d]));
  }
  menu.push_back(std::move(capture));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(L"One-shot (plays once)", kPadOneShot, false, !Settings.Loop[slot]));
  menu.push_back(MenuEntry(L"Loop (press again to stop)", kPadLoop, false, Settings.Loop[slot]));
  PopupMenuEntry volume = MenuEntry(L"Volume", 0);
  const long percent = std::lround(Settings.Vol[slot] * kPercent);
  for (int k = 0; k < kVolumeSteps; ++k) {
    const long value = kVolumeStepPercent * (k + 1);
    volume.submenu.push_back(MenuEntry(fmt::format(L"{}%", value), kPadVolume + static_cast<uint32_t>(k), false, percent == value));
  }
  menu.push_back(std::move(volume));
  PopupMenuEntry record = MenuEntry(L"Record into this pad", 0);
  const bool micOn = InputEnabled(Engine);
  for (int k = 0; k < kRecordChoices; ++k) {
    if (k == kFirstMicChoice) record.submenu.push_back(MenuSeparator());
    record.submenu.push_back(
        MenuEntry(kRecordMenu[k].text, kPadRecord + static_cast<uint32_t>(k), k >= kFirstMicChoice && !micOn));
  }
  menu.push_back(std::move(record));
  menu.push_back(MenuSeparator());
  menu.push_back(MenuEntry(SamplerBank == 0 ? L"Restore the built-in sound" : L"Empty this pad", kPadRestore));
  return menu;
}

void RunSamplerPadCommand(int pad, uint32_t command) {
  if (!ValidPad(pad)) return;
  if (command == kPadLoadSound) {
    LoadPadSound(pad, ChooseSampleFile());
  } else if (command == kPadOneShot || command == kPadLoop) {
    SetPadLoop(pad, command == kPadLoop);
  } else if (command >= kPadCaptureDeck && command < kPadCaptureDeck + kEngineDecks) {
    CaptureLoopToPad(pad, static_cast<int>(command - kPadCaptureDeck));
  } else if (command >= kPadVolume && command < kPadVolume + kVolumeSteps) {
    SetPadVolume(pad, static_cast<float>(kVolumeStepPercent * (command - kPadVolume + 1)) / kPercent);
  } else if (command >= kPadRecord && command < kPadRecord + kRecordChoices) {
    const RecordChoice& choice = kRecordMenu[command - kPadRecord];
    StartPadRecording(pad, choice.source, choice.beats);
  } else if (command == kPadRestore) {
    ClearPad(pad);
  }
}

void SamplerPadMenu(int pad) {
  if (!ValidPad(pad)) return;
  // The menu stays open across frames: a choice made after the bank changed, or after the deck a
  // capture would take from loaded another track, does nothing.
  const int bank = SamplerBank;
  std::array<uint32_t, kEngineDecks> serials{};
  for (int d = 0; d < kEngineDecks; ++d) serials[d] = LiveDeckViews[d].loadSerial;
  auto stillCurrent = [bank, serials](uint32_t id) {
    if (SamplerBank != bank) return false;
    if (id < kPadCaptureDeck || id >= kPadCaptureDeck + kEngineDecks) return true;
    return LiveDeckViews[id - kPadCaptureDeck].loadSerial == serials[id - kPadCaptureDeck];
  };
  ShowPopupMenu(SamplerPadMenuEntries(pad), DeckColour(SideSlots[kLeftSide]),
                [pad](uint32_t chosen) { RunSamplerPadCommand(pad, chosen); }, stillCurrent);
}
