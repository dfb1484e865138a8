#include "ui/visualiser_toggle.h"

#include "engine/deck_snapshot.h"
#include "engine/deck_view.h"
#include "library/now_playing.h"
#include "screens/main_screen.h"
#include "settings/palette.h"
#include "ui/language.h"
#include "ui/publish_controls.h"

namespace {

std::wstring ShowInUiLanguage(std::wstring_view text) { return Translate(text); }

}  // namespace

VisualiserFeed GatherVisualiserFeed() {
  VisualiserFeed feed;
  for (int b = 0; b < kVisualBands; ++b) feed.bands[static_cast<size_t>(b)] = Meters.spectrum[static_cast<size_t>(b)];
  for (int d = 0; d < kEngineDecks; ++d) {
    VisualiserDeck& deck = feed.decks[static_cast<size_t>(d)];
    deck.audible = IsDeckAudible(d);
    deck.level = LiveDeckViews[d].meterLevel;
    deck.pulse = BeatPulse[d];
    deck.colour = DeckColour(d);
    if (const TrackPtr& track = DeckSnapshots[d].track) {
      deck.hasTrack = true;
      deck.title = track->title;
      deck.artist = track->artist;
      deck.bpm = DeckBpm(d);
    }
  }
  feed.paletteDeckA = Pal.DeckA;
  feed.paletteDeckB = Pal.DeckB;
  feed.accent = Pal.Yellow;
  // The karaoke stage and cover art join here once those parts exist.
  feed.translate = ShowInUiLanguage;
  return feed;
}

void ToggleVisualiser() {}
