#pragma once
// Screenshots of our windows for the self-tests: the window paints itself again off-screen (the
// main window through the real frame routine, a second-screen window through its own drawing), so
// the PNG holds what the window shows, at its client size. UI thread.
#include <string>
#include <variant>

#include "ui/frame_driver.h"

struct SecondWindow;

// One of our windows: the main window as the frame driver sees it, or a second-screen window.
using AnyWindow = std::variant<FrameWindow, SecondWindow*>;

// The main window as it is now: its client size, minimised flag and UI scale.
FrameWindow MainFrameWindow();

// Draws one frame of the window's client area (its size in pixels, at its scale) off-screen and
// writes it to `path` as an RGBA PNG, whole (".tmp" then rename). The main window's own frame,
// glows and one-frame input are left as they were. False (with *error) and nothing written when
// the window is closed, a size is below 1, or the image cannot be made or written.
bool CaptureWindowPng(const AnyWindow& window, const std::wstring& path, std::wstring* error = nullptr);
