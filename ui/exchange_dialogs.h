#pragma once
// The dialogs that start a collection exchange with another DJ program: the import chooser of
// each source and the rekordbox export's Save dialog. UI thread.
#include <string>

// The chooser's title of a source (0-4; any other number is Serato's).
std::wstring ImportChooserTitle(int source);
// Asks for the source's file (or, for Serato, the _Serato_ folder, opening in the Music folder's
// "_Serato_") and starts the import. False when cancelled or nothing was started.
bool ImportLibraryDialog(int source);
// Asks where to save ("rekordbox.xml" for the whole library, else the list's name) and starts
// the export of list `list`, or of the whole library when negative. False when cancelled or
// nothing was started.
bool StartRekordboxExport(int list);
