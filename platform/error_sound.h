#pragma once
// The system's error sound: a short falling two-tone beep on the sound server's default output
// (or a named one). Blocks until it has played (about a quarter of a second), so a caller that
// closes the program right after is still heard. Any thread.
#include <string>

// False with the reason in *error (when given) when no sound server or device would play it.
bool PlayErrorSound(const std::wstring& device = std::wstring(), std::wstring* error = nullptr);
