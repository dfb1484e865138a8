#pragma once
// Running the user's macros by number (Ctrl+1 .. Ctrl+8). UI thread.

// Starts macro n (0..7); nothing until the macro language exists.
void RunPadMacro(int n);
