#pragma once
// Sorting the browser's view: its shown rows (track_view.h's ViewOrder) by a sort key, the text
// keys ranked once over all files so that each rebuild sorts by number. UI thread only.

// True for a SortKey; any other column keeps the scan order.
bool InSortRange(int column);
// The sort key is read from the files' records (BPM, key, rating, ...), not from the files.
bool SortReadsRecords(int column);
// Sorts ViewOrder stably by the column: equal files keep their order in ViewItems.
void SortShown(int column, bool ascending);
