#pragma once
// Hand-off of worker results to the UI thread. A worker calls PostToUi(message, ...) with one
// heap result; the main loop drains the queue and the UI thread applies and frees each result.
#include <cstdint>
#include <functional>

struct UiPost {
  int message = 0;        // completion number, 1..18
  uintptr_t wparam = 0;   // small value: a serial, a generation, a packed MIDI message
  void* lparam = nullptr; // the heap result, owned by whoever handles the post
};

// Queues a post and wakes the main loop. Any thread. False once the queue is closed (the main
// window is gone): the caller then still owns lparam and frees it itself.
bool PostToUi(int message, uintptr_t wparam, void* lparam);
// Hands every queued post, in order, to the handler. UI thread only.
void DrainUiPosts(const std::function<void(const UiPost&)>& handler);
// Opens the queue (the main window exists) and sets what wakes the loop after a post.
void OpenUiPosts(void (*wake)());
// Closes the queue; later posts return false. The posts still queued go to leftover, which
// frees them.
void CloseUiPosts(const std::function<void(const UiPost&)>& leftover);
