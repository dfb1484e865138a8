#pragma once
// The karaoke screen window: a second top-level window for the singers' monitor or projector. It
// opens on another monitor than the main window's in full screen when there is one (else windowed,
// 1024 x 576, centred on the main window's monitor), redraws every 16 ms from its own copy of the
// record and the [Karaoke] settings, and leaves the keyboard with the main window. UI thread.
#include "base/karaoke_settings.h"
#include "karaoke/karaoke_screen_info.h"

struct SecondWindow;

inline constexpr wchar_t kKaraokeWindowTitle[] = L"Veldmix \u2014 Karaoke";
inline constexpr int kKaraokeWindowWidth = 1024, kKaraokeWindowHeight = 576;
inline constexpr unsigned kKaraokeFrameMs = 16;

// Opens the window, or closes it when it is open (a toggle). The main window keeps the focus.
void OpenKaraokeWindow();
// Closes the window when it is open (the main window is going away, or the user closed it).
void CloseKaraokeWindow();
// True while the window exists.
bool IsKaraokeScreenOpen();
// The window while it exists, else null.
SecondWindow* KaraokeScreenWindow();
// True while the window covers its monitor.
bool KaraokeScreenFullScreen();
// Copies the record (sharing its Lyrics) and the settings into the screen's own state, which
// only the window's paint reads.
void PushKaraokeScreenInfo(const KaraokeScreenInfo& info, const KaraokeSettings& settings);
