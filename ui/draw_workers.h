#pragma once
// A few threads that share the frame's heaviest pixel work with the UI thread. The work is cut
// into bands (of rows, usually) that write disjoint pixels; the UI thread and the workers take
// bands in turn until none is left, so a worker the system has not scheduled yet costs nothing:
// the UI thread takes its bands. Each band runs exactly as it would alone, so the result never
// depends on how the bands were shared. UI thread only.

// The most bands one call may be cut into.
inline constexpr int kMaxDrawBands = 16;

// How many bands a call should be cut into to keep every thread busy: a few per thread, 1 when
// there are no workers.
int DrawBands();

// Runs work(context, band) for every band in 0 .. bands - 1 (at most kMaxDrawBands), the calling
// thread taking part, and returns once all have finished. The threads start on the first call
// that has more than one band; nothing is allocated after that. work must not draw through cairo
// or touch anything but its band's pixels and scratch.
void RunDrawBands(int bands, void (*work)(void* context, int band), void* context);

// While on, every call runs all its bands on the calling thread: a small piece of the frame (a part
// redrawn alone) is done sooner than the workers wake, and the idle screen wakes no one.
void KeepDrawBandsOnThisThread(bool on);

// The same with a callable, which must outlive the call (it does: the call waits).
template <typename Fn>
void RunDrawBands(int bands, Fn& fn) {
  RunDrawBands(bands, [](void* context, int band) { (*static_cast<Fn*>(context))(band); }, &fn);
}
