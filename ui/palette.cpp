#include "ui/palette.h"

// Constant-initialised, so the defaults hold before any other global's constructor runs.
constinit Palette Pal = kDefaultPalette;
