#pragma once
// The audio-thread marker: the render's threads mark themselves, and code that allocates or
// blocks asserts it is not on one. Every layer that reads files or takes locks checks it.

// Marks the calling thread as a real-time thread (true) or not.
void MarkAudioThread(bool on);
bool OnAudioThread();
// Fails an assertion on a marked thread.
void AssertNotAudioThread();
