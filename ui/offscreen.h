#pragma once
// One frame drawn off-screen and saved as a PNG, for tests and the self-tests' screenshots.
#include <functional>
#include <string>

// Makes a frame image of width x height pixels at the UI scale, clears it to the skin's
// Background, runs draw(), finishes it like a window frame (glow pass, overlays) and writes it as a
// PNG, whole. The window's device, glows and overlays are set aside meanwhile and restored after.
// False (with *error) when the image cannot be made or written. UI thread only.
bool RenderFrameToPng(int width, int height, const std::function<void()>& draw, const std::wstring& path,
                      float scale = 1.0f, std::wstring* error = nullptr);
