#pragma once
// The library browser's visible rows and selection, as the deck commands, the keyboard and the
// browser screen read them. Until the browser is built its rows stay empty. UI thread.
#include <string>
#include <vector>

struct BrowserRow {
  std::wstring path;
  std::wstring title;
};

struct BrowserState {
  std::vector<BrowserRow> rows;  // the visible order
  int selectedRow = -1;          // index into rows; -1 none
};
extern BrowserState Browser;

// Rebuilds the browser's visible order from its folder, list or crate (search filter, then sort).
void RebuildView();
