#pragma once
// The file dialogs the rest of the program asks for files and folders with: each call shows a
// dialog (zenity, run as a child process) and returns the chosen path, or an empty text when the
// user cancelled or anything failed, which callers treat as "cancelled". While a dialog is open
// the main window keeps drawing its frames but takes no input, as a window behind a modal dialog.
// A test run answers dialogs from a file instead (kDialogAnswersVariable). UI thread.
#include <string>
#include <vector>

// ---- the dialogs ----------------------------------------------------------------------------

// "Choose a sample (up to 60 seconds)": an audio or video file for a sampler pad.
std::wstring ChooseSampleFile();
// "Import a playlist": an .m3u or .m3u8 file.
std::wstring ChoosePlaylistFile();
// An Open dialog offering (typeLabel, pattern) and "All files"; the pattern is ";"-separated,
// e.g. "*.xml" or "*.m3u;*.m3u8".
std::wstring OpenFileDialog(const std::wstring& title, const std::wstring& typeLabel, const std::wstring& pattern);
// A Save dialog offering one type, "*." + extension, starting with defaultName; a name chosen
// without an extension gets "." + extension.
std::wstring SaveFileDialog(const std::wstring& title, const std::wstring& defaultName, const std::wstring& typeLabel,
                            const std::wstring& extension);
// A folder picker; it opens in startFolder when that names an existing folder.
std::wstring PickFolderDialog(const std::wstring& title, const std::wstring& startFolder);

// ---- how a dialog is run --------------------------------------------------------------------

// The main window's event handler: while a dialog is open it is handed the events that keep the
// frames drawn and the window alive. The shell sets it.
struct WindowEvent;
extern void (*DialogWindowEventHook)(const WindowEvent& event);

// Set to a file's path, dialogs never open: each takes the first line of the file as its answer
// and the file keeps the rest (an empty line answers "cancelled", as does a used-up file).
inline constexpr char kDialogAnswersVariable[] = "VELDMIX_DIALOG_ANSWERS";
// How often a dialog that runs looks at the child and the window.
inline constexpr unsigned kDialogPollMs = 10;

enum class DialogKind { Open, Save, Folder };

struct FileType {
  std::wstring label;
  std::wstring pattern;  // ";"-separated, as "*.mp3;*.wav"
};

struct DialogRequest {
  DialogKind kind = DialogKind::Open;
  std::wstring title;
  std::vector<FileType> types;  // in order; the first is selected
  std::wstring defaultName;     // Save: the name it starts with
  std::wstring extension;       // Save: added to a name chosen without one
  std::wstring startFolder;     // Folder: where it opens, when it exists
};

// Shows the dialog (or takes its answer from the answers file) and returns the path; empty when
// cancelled, failed, not an absolute path, or while another dialog is open.
std::wstring RunFileDialog(const DialogRequest& request);
// The zenity command line for the request: file types become filters whose patterns match
// without regard to case; "*.*" matches every file.
std::vector<std::string> ZenityArguments(const DialogRequest& request);
// A dialog's raw answer made into the result: an absolute path (one trailing line break
// dropped), with the Save dialog's extension added when the name has none; empty otherwise.
std::wstring DialogResult(const DialogRequest& request, const std::string& answer);

// Runs the command as a child while the main window is served: its frames, timers and worker
// completions go on, its input is dropped (releases still arrive, so nothing stays held). Without
// a window it only waits. The child is stopped when the window goes away. True with the child's
// standard output when it ended with status 0.
bool RunDialogCommand(const std::vector<std::string>& arguments, std::string* output);
