#pragma once
// Running the user's macros by slot: the panel's run buttons, Ctrl+1 .. Ctrl+8, controllers
// (control ids 5013-5020) and the self-tests. UI thread.

// Starts slot n (clamped to 0..7) from its first step on the left side's deck; another copy of a
// running slot runs beside it. An empty script shows how to write one and starts nothing.
void RunPadMacro(int n);
