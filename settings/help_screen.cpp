#include "settings/help_screen.h"

bool HelpOpen = false;

void DrawHelp() {}
