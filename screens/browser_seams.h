#pragma once
// Calls the browser's menus make into tools that live elsewhere: the AI set builder's dialog and
// job; screens/ai_set_dialog.cpp defines them.
// UI thread.
#include "ui/exchange_dialogs.h"  // StartRekordboxExport

// Opens the AI set builder's form.
void OpenAiSetDialog();
// An AI set job runs (the AI button shows it and the builder entry is greyed).
bool AiSetJobRunning();
