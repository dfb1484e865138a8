#pragma once
// The karaoke show's per-frame step. UI thread.

// Once per tick: notices song ends and moves the rotation on; nothing until the show exists.
void KaraokeTick();
