#pragma once
// Track loading: LoadTrack refuses or starts a worker, DeckLoadThread decodes and analyses the
// file off the UI thread, and FinishDeckLoad (completion 1 on the UI thread) installs the Track,
// merges it with the library record and resets the deck for it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/track.h"
#include "base/ui_text.h"

// The completion number of a deck load.
inline constexpr int kDeckLoadPost = 1;

// Handed to the worker; owned and freed by it.
struct DeckLoadJob {
  int32_t deck = 0;
  uint32_t serial = 0;
  std::wstring path;
  std::shared_ptr<std::atomic<float>> progress;  // the deck's new progress value
};
void FreeDeckLoadJob(DeckLoadJob* job);

// What the worker posts back (completion 1, lparam).
struct DeckLoadResult {
  int32_t deck = 0;
  uint32_t serial = 0;
  TrackPtr track;       // empty when the load failed
  std::wstring error;   // why it failed
  UiText message;       // the error with the file's name and the cause, as shown
};
// Releases the track and the text and frees the record; null is ignored.
void FreeDeckLoadResult(DeckLoadResult* result);

// Told of every finished deck load (false for a failed one), after the deck is reset: karaoke
// and the browser follow it. The shell sets it; null tells no one.
using DeckLoadedFn = void (*)(int deck, bool loaded);
extern DeckLoadedFn DeckLoadedHook;

// Starts loading the file at `path` onto deck 0..3. UI thread. Refuses, with a status message,
// while the sandbox is on or the deck plays. Otherwise raises the deck's load serial, marks it
// loading and starts a detached DeckLoadThread; returns true.
bool LoadTrack(int deck, const std::wstring& path);
// Worker body: decodes and analyses the job's file and posts kDeckLoadPost with the result;
// frees the result itself when the post is refused. Frees the job.
void DeckLoadThread(DeckLoadJob* job);
// The completion on the UI thread (wparam unused). Drops a result whose serial is stale;
// otherwise applies it to the deck (engine lock only around the DeckState swap). Always frees it.
void FinishDeckLoad(uintptr_t wparam, DeckLoadResult* result);

// Where the deck's next completed load starts playing, in seconds; -1 for its cue point
// (the deck view's pending seek, set by the session restore). UI thread.
void SetPendingSeek(int deck, double seconds);
double PendingSeek(int deck);
