#include "engine/deck_view.h"

DeckView LiveDeckViews[kDeckViews];
