#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "platform/text.h"

int OpenAppendFile(const std::wstring& path) {
  return ::open(PathToBytes(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

bool AppendToFile(int handle, std::string_view bytes) {
  if (handle < 0) return false;
  for (;;) {
    ssize_t n = ::write(handle, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    // A second write for a short remainder could land after another thread's line, so a short
    // write is reported rather than completed.
    return n == static_cast<ssize_t>(bytes.size());
  }
}
