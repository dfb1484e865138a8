#pragma once
// Screenshots of the main window for the self-tests: the frame is drawn again off-screen through
// the real frame routine, so the PNG holds what the window shows. UI thread.
#include <string>

#include "ui/frame_driver.h"

// Draws one frame of the window's client area (window.pixelWidth x pixelHeight pixels at
// window.scale) off-screen and writes it to `path` as an RGBA PNG, whole (".tmp" then rename).
// The window's own frame, glows and one-frame input are left as they were. False (with *error)
// and nothing written when a size is below 1 or the image cannot be made or written.
bool CaptureWindowPng(const FrameWindow& window, const std::wstring& path, std::wstring* error = nullptr);
