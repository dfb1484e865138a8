#pragma once
// The orderly end of a run: every device, worker and server is stopped in a fixed order and the
// user's state saved, once per process, whichever way the run ends (window closed, stop signal,
// session end).

// The user asked to close (the close button, Alt+F4, the window menu, an update's install). With
// library changes unsaved it saves once more first and, when that fails too, asks: TRY AGAIN
// (the same again) or CLOSE WITHOUT SAVING; Esc leaves the program running, the changes still
// marked. Otherwise, and in test mode, the window goes at once (DestroyMainWindow). UI thread.
void CloseWhenSaved();
// Stops everything and saves the session, the library and the settings (nothing is saved in
// test mode); ends with the log line "Veldmix closed". Runs once: later calls return at once.
// UI thread.
void StopAndSaveAll();
// The display went away under the program: nothing may touch a window any more, so only what
// keeps the user's work runs: recordings closed, the session, the library and the settings saved.
// Once, like StopAndSaveAll (whichever runs first). UI thread.
void SaveWhenDisplayLost();
// After the message loop: drops late worker results, repeats the stops (each harmless when
// already done) and lets go of the display. UI thread, once, last.
void TeardownAfterLoop();
