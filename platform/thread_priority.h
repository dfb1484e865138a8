#pragma once
// Thread priorities and names. A long computation (stem separation and the threads
// it starts) yields the processor to the UI and audio threads.

// How far background threads are lowered: the nice value added to the calling thread's.
inline constexpr int kBackgroundNiceStep = 10;

// Lowers the calling thread (only it) below the normal priority; threads it starts afterwards
// inherit the lower priority. True when the system took it.
bool LowerThreadPriority();
// The calling thread's nice value (0 normal, higher is lower priority).
int ThreadNiceValue();
// Tries to run the calling thread under the real-time FIFO scheduler (a timing thread such as the
// MIDI clock); false when the system refuses, and the thread keeps its priority.
bool RaiseThreadToRealtime();
// Names the calling thread as tools (top, /proc) show it: at most 15 bytes are kept.
void NameThisThread(const char* name);
