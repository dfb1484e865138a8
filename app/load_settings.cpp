#include "app/load_settings.h"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/settings.h"
#include "engine/deck_view.h"
#include "settings/skins.h"
#include "ui/language.h"

void LoadSettings() {
  ReadSettings();
  SetUiLanguage(Settings.Language);
  for (DeckView& view : LiveDeckViews) {
    view.vinylMode = Settings.Vinyl;
    view.colorFx = Settings.ColorFx;
  }
  LoadSkin();
}
