#pragma once
// What runs once per frame, and in what order: the per-frame tick (every piece of per-frame
// housekeeping, in one fixed order, whether or not the frame is drawn), then the main screen's
// drawing when the window asked for it or what the screen shows changed, then the actions queued
// for after the frame. UI thread.
#include <cstdint>

#include "platform/window.h"
#include "ui/frame_driver.h"
#include "ui/knobs.h"

inline constexpr uint64_t kFirstUpdateCheckDelayMs = 20000;  // after the first tick
inline constexpr int kUpdatedNoticeMs = 6000;

// What the tick keeps from one tick to the next.
struct TickMemory {
  bool keepAwake = false;         // the last answer handed to KeepAwake
  bool updateNoticeDone = false;  // the once-per-process update notice has run
};
extern TickMemory AppTickMemory;

// The tick, in this order: side slots back to A/B without four decks; sync-lock follow;
// cross-fader glide; DemoTick; SnapshotDecks; MIDI clock tempo; beat pulses; phrase cache;
// Automix, now playing (with the library autosave), the browser's sort from its worker, mix
// recording, karaoke, pad recording, remote state, macros, timecode speed; the video feed; the
// controller lights (as the last drawn frame left them); keep-awake; outside test mode the update
// notice (first tick) and the automatic update check; the self-test step.
void AppTick();
// The same at `nowMs` on the MonotonicMs clock.
void AppTickAt(uint64_t nowMs);

// Why a frame runs: the window asked to be painted (shown, uncovered, clicked), or the frame
// timer came round, when the screen is drawn only if what it shows changed.
enum class FrameAsk : uint8_t { Paint, Timer };

// One frame: the tick; the main screen drawn (DrawMainScreen) when the window can be drawn and
// the frame is a Paint, the window's size or scale changed, a window event or worker result came
// since the last drawn frame (and for two frames after one, which show what its clicks changed),
// the screen's signature (screens/screen_signature.h) differs from the last drawn frame's, or a
// redraw asked for by an animation is due, or FullRedraw is on; when only animations that asked
// for their parts of the screen (RedrawPartAt) are due, only those parts are drawn and presented;
// then the deferred actions.
// Returns whether the frame was drawn.
bool DriveFrame(const FrameWindow& window, FrameAsk ask = FrameAsk::Paint);
// Every frame drawn, changed or not (for comparing and measuring); on when VELDMIX_FULL_REDRAW is
// set to anything but 0 in the environment at start.
extern bool FullRedraw;
// Something the screen may show changed outside the tick: a window event, a worker's result.
void NoteScreenEvent();
// A window event as the message loop takes it, before it is handled: anything but the frame
// timer is a screen event, except the pointer moving with no button down or control held. What
// that changes (a hover) the screen's signature follows, and a frame drawn for it alone is not
// followed by frames that settle it.
void NoteWindowEvent(WindowEventKind kind);
// Frames while nothing is due come at most this far apart: what the tick reads without waking
// the loop (the audio load, an update check's time) shows that late at worst.
inline constexpr uint64_t kIdleFrameMs = 500;
// When the frame after the one just run is due (MonotonicMs): at once while a deck plays or loads,
// the pointer holds a control, the mix is recorded or streamed, Automix, the browser's sort on a
// worker (the tick takes it), a macro, timecode, the self-test or a second window runs, the last
// frame showed a change (meters and pulses falling fall on) or the last change still settles;
// else when an animation asked to be redrawn or the status message ends; at the latest
// kIdleFrameMs after nowMs. Window events and worker results wake the loop on their own
// (app/main_window.h WakeFrames).
uint64_t NextFrameDueMs(uint64_t nowMs);
// Frames drawn since start (for measurements), and of them the parts of frames: what an
// animation asked for, drawn and presented alone while nothing else changed.
uint64_t DrawnFrameCount();
uint64_t PartFrameCount();
// Of the whole frames, those that kept the browser's area as the last frame drew it: it showed
// the same, and only the rest was drawn and presented.
uint64_t BrowserKeptCount();
