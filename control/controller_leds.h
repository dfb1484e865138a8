#pragma once
// Controller button lights. UI thread.

// At the end of every drawn frame: sends the lights from what the widgets recorded this frame
// (controlKinds, controlLights). Nothing until controller output exists.
void SendControllerLeds();
