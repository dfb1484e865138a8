#pragma once
// What the library commands share: finding a list by name, running the view's scan to its end on
// this thread, and printing the status line's text last.
#include <string>

struct TrackList;

// The list of that name (exact, else ignoring case), or -1.
int ListNamed(const std::wstring& name);
// Applies the running scan's completions as the main window does until it ends; ViewItems then
// holds the files in delivery order. The post queue must be open.
void DrainScan();
// The status line's text, last, when a command set one.
void PrintStatus();
// The library as the program has it at start: settings (music folders), records, lists, crates.
void LoadLibrary(const wchar_t* command);
// Opens the post queue for the scan of the view about to be shown.
void OpenScanPosts();
// Ends the scans and closes the post queue: no worker outlives the command.
void CloseScanPosts();
// A folder view of DIR that leaves the settings' music folders alone.
void ShowFolderOnly(const std::wstring& folder);
// Shows the folder with the search and runs its scan to the end.
void ScanFolderView(const std::wstring& folder, const std::wstring& search);
void PrintList(const TrackList& list);
// The list the view shows after a command wrote one, or nothing.
void PrintShownList();
