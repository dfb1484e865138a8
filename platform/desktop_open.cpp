#include "platform/desktop_open.h"

#include <memory>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr unsigned kShowItemsWaitMs = 6000;  // the bus call's own reply timeout is 5 s
constexpr unsigned kPollMs = 50;
// xdg-open may wait for the handler it starts; it is never stopped, only reaped when it ends.
constexpr unsigned kNoLimit = 0;

// Runs the child to its end (at most maxMs, kNoLimit: however long); true when it exited with 0.
bool RunToEnd(const std::vector<std::string>& arguments, unsigned maxMs) {
  ChildProcess child;
  std::wstring error;
  if (!child.Start(arguments, &error)) return false;
  const uint64_t end = MonotonicMs() + maxMs;
  while (child.Running(kPollMs))
    if (maxMs != kNoLimit && MonotonicMs() >= end) {
      child.Kill();
      return false;
    }
  return child.ExitCode() == 0;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/';
}

}  // namespace

std::string FileUri(const std::wstring& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const unsigned char c : PathToBytes(path)) {
    if (IsUnreserved(c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  if (slash == std::wstring::npos) return L".";
  return slash == 0 ? L"/" : path.substr(0, slash);
}

bool OpenWithDesktop(const std::wstring& target, std::wstring* error) {
  const std::string argument = PathToBytes(target);
  std::wstring failure;
  // Started here so a failure to start is reported to the caller; waited for on a thread.
  auto child = std::make_shared<ChildProcess>();
  if (!child->Start({"xdg-open", argument}, &failure)) {
    if (error) *error = failure;
    return false;
  }
  std::thread([child] {
    while (child->Running(kPollMs)) {
    }
  }).detach();
  return true;
}

void ShowInFolder(const std::wstring& path) {
  std::thread([path] {
    const std::vector<std::string> call = {"dbus-send",
                                           "--session",
                                           "--print-reply",
                                           "--reply-timeout=5000",
                                           "--dest=org.freedesktop.FileManager1",
                                           "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1.ShowItems",
                                           "array:string:" + FileUri(path),
                                           "string:"};
    if (RunToEnd(call, kShowItemsWaitMs)) return;
    // No file manager on the session bus (or no bus): the folder's default handler.
    RunToEnd({"xdg-open", PathToBytes(FolderOf(path))}, kNoLimit);
  }).detach();
}
