#include "engine/deck_snapshot.h"

#include <algorithm>
#include <iterator>
#include <mutex>

#include "engine/sampler.h"

DeckSnapshot DeckSnapshots[kEngineDecks];
SamplerSnapshot SamplerShot;

namespace {

void CopyDeck(const DeckState& deck, DeckSnapshot& shot) {
  static_cast<DeckPlace&>(shot) = static_cast<const DeckPlace&>(deck);
  shot.stopEffect = deck.stopMode != kStopNone;
}

// The name a recording into `slot` gives its pad.
std::wstring RecordingPadName(int32_t slot) { return L"REC " + std::to_wstring(slot % kEnginePads + 1); }

}  // namespace

void SnapshotDecks() {
  TrackPtr previous[kEngineDecks];
  for (int d = 0; d < kEngineDecks; ++d) previous[d] = DeckSnapshots[d].track;
  int32_t recordStep = kPadRecordIdle;
  {
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    for (int d = 0; d < kEngineDecks; ++d) CopyDeck(Engine.decks[d], DeckSnapshots[d]);
    for (int p = 0; p < kEnginePads; ++p) {
      const SamplerPad& pad = Engine.pads[p];
      if (SamplerShot.padName[p] != pad.name) SamplerShot.padName[p] = pad.name;
      SamplerShot.padPlaying[p] = pad.playing;
    }
    recordStep = Engine.padRecordState.load();
    const size_t capacityFrames = std::max<size_t>(Engine.padRecordBuffer.size() / 2, 1);
    SamplerShot.recordProgress =
        static_cast<float>(static_cast<double>(Engine.padRecordFrames) / static_cast<double>(capacityFrames));
  }
  SamplerShot.recording = recordStep == kPadRecordArmed || recordStep == kPadRecordRunning;
  // The name stays from arming until FinishPadRecording has collected the sound.
  if (recordStep != kPadRecordIdle && PadRecordTarget >= 0) {
    std::wstring name = RecordingPadName(PadRecordTarget);
    if (SamplerShot.recordingName != name) SamplerShot.recordingName = std::move(name);
  } else {
    SamplerShot.recordingName.clear();
  }
}
