#pragma once
// Sorting the browser's view: its shown rows (track_view.h's ViewOrder) by a sort key, the text
// keys ranked once over all files so that each rebuild sorts by number. UI thread only, but for
// the worker a slow sort may run on, which reads only what was copied for it.
#include <cstddef>
#include <functional>

// True for a SortKey; any other column keeps the scan order.
bool InSortRange(int column);
// The sort key is read from the files' records (BPM, key, rating, ...), not from the files.
bool SortReadsRecords(int column);
// Sorts ViewOrder stably by the column: equal files keep their order in ViewItems.
void SortShown(int column, bool ascending);

// --- Sorting on a worker ---

// Rows a tick sorts at once, or gathers for a worker: a sort of more shown rows that cannot come
// from kept ranks runs on a worker, from a copy of what it reads taken this many rows a tick.
extern size_t SortRowsPerTick;
// Runs a sort's work on another thread: StartSortThread (a detached std::thread) unless a test
// sets it to run the work when it chooses.
using SortWorkerStarter = void (*)(std::function<void()> work);
void StartSortThread(std::function<void()> work);
extern SortWorkerStarter StartSortWorkerHook;
// The sort of the shown rows by the column would hold the window: many rows, no kept ranks.
bool SortWantsWorker(int column);
// Starts sorting the shown rows by the column on a worker, dropping one pending: gathers the
// first slice of its copy (texts of every file, or the rows' values); ViewOrder stays meanwhile.
void StartWorkerSort(int column, bool ascending);
bool WorkerSortPending();
// Drops the pending sort: whatever it finds no longer counts.
void DropWorkerSort();
// Each tick: gathers the pending sort's next slice, or takes its finished order into ViewOrder
// (and its ranks into the files). True when taken; false while pending, or when the sort or the
// files moved on since it started (then it is dropped).
bool TakeWorkerSort();
