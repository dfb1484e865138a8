#include "library/search_box.h"

bool SearchFocused = false;
