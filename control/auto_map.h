#pragma once
// The controller auto-map wizard, a full-screen overlay. Until it is built it never opens.
// UI thread.
#include <cstdint>

extern bool AutoMapOpen;
// Draws and handles the wizard while AutoMapOpen is set.
void DrawAutoMap();
// A MIDI message while the wizard is open (it takes every message); nothing until it is built.
void AutoMapMidiInput(uint32_t key, int type, int data1, int value);
