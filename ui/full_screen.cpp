#include "ui/full_screen.h"

namespace {

WindowPlacement MainSaved;
bool MainFull = false;

}  // namespace

void ToggleFullScreen() {
  TopWindow* window = MainTopWindow();
  if (!window) return;
  MainFull = !MainFull;
  SetFullScreen(window, MainFull, &MainSaved);
}

bool MainWindowFullScreen() { return MainFull; }
