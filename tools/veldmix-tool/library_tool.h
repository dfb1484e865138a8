#pragma once
// What the library commands share: finding a list by name, running the view's scan to its end on
// this thread, and printing the status line's text last.
#include <string>

// The list of that name (exact, else ignoring case), or -1.
int ListNamed(const std::wstring& name);
// Applies the running scan's completions as the main window does until it ends; ViewItems then
// holds the files in delivery order. The post queue must be open.
void DrainScan();
// The status line's text, last, when a command set one.
void PrintStatus();
