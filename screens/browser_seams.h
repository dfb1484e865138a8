#pragma once
// Calls the browser's menus make into tools that live elsewhere: the AI set builder's dialog and
// job. Each does nothing until its owner defines it (the definitions here are the placeholders).
// UI thread.
#include "ui/exchange_dialogs.h"  // StartRekordboxExport

// Opens the AI set builder's form.
void OpenAiSetDialog();
// An AI set job runs (the AI button shows it and the builder entry is greyed).
bool AiSetJobRunning();
