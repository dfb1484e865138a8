#include "library/browser_view.h"

BrowserState Browser;

// The browser and its visible order arrive with the library screens; until then there is no
// view to rebuild.
void RebuildView() {}
