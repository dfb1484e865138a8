#pragma once
// Requests to stop that arrive as signals. SIGTERM and SIGINT ask for the same orderly close as
// the window's close button; SIGHUP (the terminal or the desktop session going away) counts as
// the session ending. The handlers only record the request: the main loop polls and does the
// work, since nothing that saves files may run inside a handler.

enum class StopRequest {
  None,
  Close,       // SIGTERM, SIGINT
  SessionEnd,  // SIGHUP
};

// Installs the three handlers. Once, on the UI thread, before the main window is made.
void InstallStopSignals();
// The request recorded since the last call, and clears it; a session end outranks a close.
// Any thread.
StopRequest TakeStopRequest();
