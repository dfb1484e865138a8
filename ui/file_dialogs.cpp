#include "ui/file_dialogs.h"

#include <cstdlib>
#include <cwctype>
#include <string_view>

#include "base/log.h"
#include "platform/child_process.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr char kZenity[] = "zenity";
constexpr size_t kMaxAnswersFileBytes = size_t(1) << 20;
constexpr wchar_t kAllFilesLabel[] = L"All files";
constexpr wchar_t kAllFilesPattern[] = L"*.*";

// The two Open dialogs whose files are fixed.
struct FixedOpenDialog {
  const wchar_t* title;
  const wchar_t* typeLabel;
  const wchar_t* pattern;
};
constexpr FixedOpenDialog kSampleDialog = {
    .title = L"Choose a sample (up to 60 seconds)",
    .typeLabel = L"Audio files",
    .pattern = L"*.mp3;*.wav;*.flac;*.m4a;*.aac;*.wma;*.mp4;*.m4v;*.mov;*.mkv",
};
constexpr FixedOpenDialog kPlaylistDialog = {
    .title = L"Import a playlist",
    .typeLabel = L"Playlists",
    .pattern = L"*.m3u;*.m3u8",
};

bool DialogOpen = false;  // one dialog at a time: the window behind it takes no input

DialogRequest OpenRequest(const std::wstring& title, const std::wstring& typeLabel, const std::wstring& pattern) {
  DialogRequest request;
  request.kind = DialogKind::Open;
  request.title = title;
  request.types = {{typeLabel, pattern}, {kAllFilesLabel, kAllFilesPattern}};
  return request;
}

// One ";"-separated Windows pattern list as zenity's space-separated one. GTK matches patterns
// with case, Windows without: each letter becomes a class of both cases. Windows' "*.*" matches
// names without a dot too.
std::wstring ZenityPatterns(const std::wstring& patterns) {
  std::wstring out;
  size_t start = 0;
  while (start <= patterns.size()) {
    size_t end = patterns.find(L';', start);
    if (end == std::wstring::npos) end = patterns.size();
    std::wstring_view one(patterns.data() + start, end - start);
    while (!one.empty() && one.front() == L' ') one.remove_prefix(1);
    while (!one.empty() && one.back() == L' ') one.remove_suffix(1);
    if (!one.empty()) {
      if (!out.empty()) out += L' ';
      if (one == kAllFilesPattern) {
        out += L'*';
      } else {
        for (wchar_t c : one) {
          if (c == L' ') {
            out += L'?';  // zenity splits patterns at spaces
          } else if (c < 0x80 && std::iswalpha(c)) {
            out += {L'[', static_cast<wchar_t>(std::towlower(c)), static_cast<wchar_t>(std::towupper(c)), L']'};
          } else {
            out += c;
          }
        }
      }
    }
    start = end + 1;
  }
  return out;
}

std::string FilterArgument(const FileType& type) {
  std::wstring label = type.label;
  for (wchar_t& c : label)
    if (c == L'|') c = L'/';  // zenity splits the name from the patterns at "|"
  return "--file-filter=" + WideToUtf8(label) + " | " + WideToUtf8(ZenityPatterns(type.pattern));
}

// The answers file of a test run: false when the variable is not set. Otherwise *answer is the
// file's first line (empty when the file is missing or used up) and the file keeps the rest.
bool TakeTestAnswer(const DialogRequest& request, std::string* answer) {
  const char* variable = std::getenv(kDialogAnswersVariable);
  if (!variable || !*variable) return false;
  answer->clear();
  const std::wstring path = PathFromBytes(variable);
  std::string bytes;
  if (ReadBytes(path, &bytes, kMaxAnswersFileBytes) != ReadStatus::Ok || bytes.empty()) {
    WriteLog(L"The file dialog \"{}\" found no answer left in {}; it counts as cancelled", request.title, path);
    return true;
  }
  const size_t lineEnd = bytes.find('\n');
  *answer = bytes.substr(0, lineEnd);
  if (!answer->empty() && answer->back() == '\r') answer->pop_back();
  const std::string rest = lineEnd == std::string::npos ? std::string() : bytes.substr(lineEnd + 1);
  std::wstring error;
  if (!WriteBytesAtomic(path, rest, &error)) WriteLog(L"The dialog answers file could not be rewritten: {}", error);
  WriteLog(L"The file dialog \"{}\" was answered from {}: \"{}\"", request.title, path, Utf8ToWide(*answer));
  return true;
}

// One window event while a dialog is open. Frames, timers, completions and size changes go on;
// input is dropped as by a window disabled behind a modal dialog, but releases pass so that no
// button or key stays held; the close button waits for the dialog.
void ServeDuringDialog(const WindowEvent& e, ChildProcess& child) {
  switch (e.kind) {
    case WindowEventKind::None:
    case WindowEventKind::Paint:
    case WindowEventKind::Timer:
    case WindowEventKind::Resized:
    case WindowEventKind::DpiChanged:
    case WindowEventKind::Notice:
    case WindowEventKind::LeftUp:
    case WindowEventKind::CaptureLost:
    case WindowEventKind::KeyUp:
      if (DialogWindowEventHook) DialogWindowEventHook(e);
      break;
    case WindowEventKind::SessionEnd:
      child.Kill();
      if (DialogWindowEventHook) DialogWindowEventHook(e);
      break;
    case WindowEventKind::Close:
    case WindowEventKind::MouseMove:
    case WindowEventKind::LeftDown:
    case WindowEventKind::RightDown:
    case WindowEventKind::Wheel:
    case WindowEventKind::KeyDown:
    case WindowEventKind::Character:
    case WindowEventKind::DropFile:
      break;
  }
}

}  // namespace

void (*DialogWindowEventHook)(const WindowEvent& event) = nullptr;

// ---- the dialogs ----------------------------------------------------------------------------

std::wstring ChooseSampleFile() {
  return RunFileDialog(OpenRequest(kSampleDialog.title, kSampleDialog.typeLabel, kSampleDialog.pattern));
}

std::wstring ChoosePlaylistFile() {
  return RunFileDialog(OpenRequest(kPlaylistDialog.title, kPlaylistDialog.typeLabel, kPlaylistDialog.pattern));
}

std::wstring OpenFileDialog(const std::wstring& title, const std::wstring& typeLabel, const std::wstring& pattern) {
  return RunFileDialog(OpenRequest(title, typeLabel, pattern));
}

std::wstring SaveFileDialog(const std::wstring& title, const std::wstring& defaultName, const std::wstring& typeLabel,
                            const std::wstring& extension) {
  DialogRequest request;
  request.kind = DialogKind::Save;
  request.title = title;
  request.types = {{typeLabel, L"*." + extension}};
  request.defaultName = defaultName;
  request.extension = extension;
  return RunFileDialog(request);
}

std::wstring PickFolderDialog(const std::wstring& title, const std::wstring& startFolder) {
  DialogRequest request;
  request.kind = DialogKind::Folder;
  request.title = title;
  request.startFolder = startFolder;
  return RunFileDialog(request);
}

// ---- how a dialog is run --------------------------------------------------------------------

std::wstring RunFileDialog(const DialogRequest& request) {
  if (DialogOpen) return std::wstring();
  std::string answer;
  if (TakeTestAnswer(request, &answer)) return DialogResult(request, answer);
  DialogOpen = true;
  const bool chosen = RunDialogCommand(ZenityArguments(request), &answer);
  DialogOpen = false;
  return chosen ? DialogResult(request, answer) : std::wstring();
}

std::vector<std::string> ZenityArguments(const DialogRequest& request) {
  std::vector<std::string> args = {kZenity, "--file-selection", "--title=" + WideToUtf8(request.title)};
  switch (request.kind) {
    case DialogKind::Open:
      break;
    case DialogKind::Save:
      args.push_back("--save");
      args.push_back("--confirm-overwrite");
      if (!request.defaultName.empty()) args.push_back("--filename=" + PathToBytes(request.defaultName));
      break;
    case DialogKind::Folder:
      args.push_back("--directory");
      // A trailing separator makes zenity open inside the folder rather than select it.
      if (!request.startFolder.empty() && FolderExists(request.startFolder))
        args.push_back("--filename=" + PathToBytes(request.startFolder) + "/");
      break;
  }
  if (request.kind != DialogKind::Folder)
    for (const FileType& type : request.types) args.push_back(FilterArgument(type));
  return args;
}

std::wstring DialogResult(const DialogRequest& request, const std::string& answer) {
  std::string_view text(answer);
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::wstring path = PathFromBytes(text);
  // Anything that is not one absolute path (a location without a file-system path, several
  // lines) is no answer.
  if (path.empty() || path.front() != L'/' || path.find_first_of(L"\r\n") != std::wstring::npos) return std::wstring();
  if (request.kind == DialogKind::Save) {
    const size_t nameStart = path.rfind(L'/') + 1;
    if (nameStart == path.size()) return std::wstring();  // a folder, not a file name
    if (!request.extension.empty() && path.find(L'.', nameStart) == std::wstring::npos)
      path += L"." + request.extension;
  }
  return path;
}

bool RunDialogCommand(const std::vector<std::string>& arguments, std::string* output) {
  ChildProcess child;
  std::wstring error;
  if (!child.Start(arguments, &error)) {
    WriteLog(L"The file dialog could not be shown: {}", error);
    return false;
  }
  const bool served = MainWindowOpen();
  while (child.Running(served ? 0 : kDialogPollMs)) {
    if (!served) continue;
    WindowEvent e;
    if (!MainWindowOpen() || !NextWindowEvent(&e, kDialogPollMs)) {
      child.Kill();  // the window went away behind the dialog
      break;
    }
    ServeDuringDialog(e, child);
  }
  if (output) *output = child.Output();
  return child.ExitCode() == 0;
}
