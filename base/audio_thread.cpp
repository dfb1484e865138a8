#include "base/audio_thread.h"

#include <cassert>

namespace {
thread_local bool tOnAudioThread = false;
}  // namespace

void MarkAudioThread(bool on) { tOnAudioThread = on; }

bool OnAudioThread() { return tOnAudioThread; }

void AssertNotAudioThread() {
  assert(!tOnAudioThread && "allocating or blocking call made on the audio thread: move it outside the render");
}
