#pragma once
// The settings file into the running program: the record read (base/settings.h), then pushed
// into the parts that follow it. UI thread.

// Reads the whole file once at start (ReadSettings), then applies the UI language, the deck
// views' jog and colour-effect modes and the skin.
void LoadSettings();
