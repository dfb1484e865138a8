#include "screens/browser_seams.h"

// Placeholders until the AI set builder is built.
void OpenAiSetDialog() {}
bool AiSetJobRunning() { return false; }
