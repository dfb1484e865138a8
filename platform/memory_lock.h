#pragma once
// Keeps the program's pages in memory. A machine short of memory drops file pages first, and the
// program's own code is file pages: when the audio thread next runs a dropped page it waits for
// the disk (tens of milliseconds under load), and the output runs dry.
#include <string>

enum class MemoryLock {
  kAll,      // every page of the process stays in memory once touched, now and later
  kCode,     // the account's limit refused that: the code of the program and of the libraries
             // the audio output runs in stays in memory once touched
  kRefused,  // nothing could be locked
};

// Locks what it can, once, at the start (before the audio output starts). `reason` says why the
// whole process could not be locked. Pages are locked as they are touched, so nothing is read in
// only to be locked, except the code and tables of the program and the audio path's libraries,
// read in at once when the whole process may be locked.
MemoryLock LockProgramMemory(std::string* reason);
