#include "karaoke/karaoke_screen.h"

void ToggleKaraokeScreen() {}
