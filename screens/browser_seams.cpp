#include "screens/browser_seams.h"

// Placeholders until the AI set builder and the rekordbox export are built.
void OpenAiSetDialog() {}
bool AiSetJobRunning() { return false; }
void StartRekordboxExport(int) {}
