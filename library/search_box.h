#pragma once
// The browser's quick-search box as the rest of the UI sees it. UI thread.

// True while the search box takes typed characters.
extern bool SearchFocused;
