#include "base/files.h"

#include <cerrno>
#include <condition_variable>
#include <mutex>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/log.h"
#include "base/text_file.h"
#include "base/text_parse.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace {
std::mutex g_holdsLock;
std::condition_variable g_holdsGone;
int g_holds = 0;

std::wstring MadeFolder(const std::wstring& path) {
  CreateFolderTree(path);
  return path;
}

std::mutex g_failedLock;
size_t g_failedCount = 0;
FailedWrite g_lastFailed;

bool WriteLogged(const std::wstring& target, const std::string& bytes, std::wstring* errorOut) {
  std::wstring error;
  if (WriteBytesAtomic(target, bytes, &error)) return true;
  WriteLog(L"Couldn't write {} ({})", target, error);
  NoteFailedWrite(target, error);
  if (errorOut) *errorOut = error;
  return false;
}
}  // namespace

std::wstring AppDataDir() { return MadeFolder(JoinPath(RoamingDataBase(), L"Veldmix")); }

std::wstring RecordingsDir() { return MadeFolder(JoinPath(MusicFolder(), L"Veldmix Recordings")); }

std::wstring ListsDir() { return MadeFolder(JoinPath(AppDataDir(), L"Lists")); }

std::wstring ListFileLeaf(const std::wstring& listName) {
  std::wstring name = listName;
  for (wchar_t& c : name) {
    if (c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'\\' ||
        c == L'|' || c == L'?' || c == L'*')
      c = L'_';
  }
  return name + L".m3u8";
}

std::wstring ListFileName(const std::wstring& listName) { return JoinPath(ListsDir(), ListFileLeaf(listName)); }

bool WriteFileAtomic(const std::wstring& target, const std::wstring& text, std::wstring* error) {
  return WriteLogged(target, PathToBytes(text), error);
}

UiText WriteFailureCause(int systemError, const std::wstring& detail) {
  return systemError != 0 ? UiText(WriteCauseText(systemError)) : FailureCause(detail);
}

bool WriteUtf8File(const std::wstring& path, const std::wstring& text, std::wstring* error) {
  return WriteLogged(path, "\xEF\xBB\xBF" + PathToBytes(text), error);
}

void NoteFailedWrite(const std::wstring& file, const std::wstring& error) {
  std::lock_guard<std::mutex> guard(g_failedLock);
  ++g_failedCount;
  g_lastFailed = FailedWrite{file, error};
}

size_t FailedWriteCount() {
  std::lock_guard<std::mutex> guard(g_failedLock);
  return g_failedCount;
}

FailedWrite LastFailedWrite() {
  std::lock_guard<std::mutex> guard(g_failedLock);
  return g_lastFailed;
}

UiText FailureCause(const std::wstring& error) {
  // A file name may hold ": " itself; the causes do not.
  const size_t colon = error.rfind(L": ");
  return UiText(colon == std::wstring::npos ? error : error.substr(colon + 2));
}

UiText WriteFailedText(const std::wstring& file, const std::wstring& error) {
  return UiFormat(L"Couldn't save {}: {}", FileNameOf(file), FailureCause(error));
}

bool KeepDamagedCopy(const std::wstring& path, std::string_view bytes, const LocalTime& today) {
  const std::wstring copy =
      path + fmt::format(L".damaged-{:04}-{:02}-{:02}", today.year, today.month, today.day);
  const FileProblem there = ProblemReading(copy);
  if (there == FileProblem::None || there == FileProblem::Empty) return true;  // kept already today
  std::wstring error = L"something that is no file holds its name";
  if (there == FileProblem::Missing && WriteBytesAtomic(copy, bytes, &error)) {
    WriteLog(L"The file as it was is kept as {}", copy);
    return true;
  }
  WriteLog(L"Couldn't keep a copy of the damaged file as {} ({})", copy, error);
  return false;
}

bool MostLinesBad(size_t badLines, size_t goodLines) { return badLines > goodLines; }

void HoldLibraryFiles() {
  std::lock_guard<std::mutex> lock(g_holdsLock);
  ++g_holds;
}

void ReleaseLibraryFiles() {
  {
    std::lock_guard<std::mutex> lock(g_holdsLock);
    if (g_holds > 0) --g_holds;
  }
  g_holdsGone.notify_all();
}

bool LibraryFilesHeld() {
  std::lock_guard<std::mutex> lock(g_holdsLock);
  return g_holds > 0;
}

void WaitForLibraryFiles() {
  std::unique_lock<std::mutex> lock(g_holdsLock);
  g_holdsGone.wait(lock, [] { return g_holds == 0; });
}

std::wstring LoadTextFile(const std::wstring& path) { return ReadTextFile(path, nullptr); }

std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> pieces;
  size_t pos = 0;
  for (;;) {
    size_t found = text.find(separator, pos);
    if (found == std::wstring::npos) {
      pieces.push_back(text.substr(pos));
      return pieces;
    }
    pieces.push_back(text.substr(pos, found - pos));
    pos = found + 1;
  }
}
