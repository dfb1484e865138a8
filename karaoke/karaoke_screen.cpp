#include "karaoke/karaoke_screen.h"

#include "app/settings.h"
#include "karaoke/karaoke_window.h"

std::shared_ptr<const Lyrics> SharedEmptyLyrics() {
  static const std::shared_ptr<const Lyrics> empty = std::make_shared<const Lyrics>();
  return empty;
}

KaraokeScreenInfo DefaultKaraokeScreenInfo() {
  KaraokeScreenInfo info;
  info.lyrics = SharedEmptyLyrics();
  return info;
}

void ToggleKaraokeScreen() {
  OpenKaraokeWindow();
  // The show's record builder hands over a live record every tick; until it runs, the first frame
  // shows the defaults.
  if (IsKaraokeScreenOpen()) PushKaraokeScreenInfo(DefaultKaraokeScreenInfo(), Settings.Karaoke);
}
