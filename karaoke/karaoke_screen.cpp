#include "karaoke/karaoke_screen.h"

#include "base/settings.h"
#include "karaoke/karaoke_tick.h"
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
  if (IsKaraokeScreenOpen()) PushKaraokeScreenInfo(BuildKaraokeScreenInfo(), Settings.Karaoke);
}
