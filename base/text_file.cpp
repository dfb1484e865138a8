#include "base/text_file.h"

#include "platform/files.h"
#include "platform/text.h"

namespace {
std::wstring ReadDecoded(const std::wstring& path, bool* unreadable, size_t maxBytes,
                         std::wstring (*decode)(std::string_view)) {
  std::string bytes;
  ReadStatus status = ReadBytes(path, &bytes, maxBytes);
  if (unreadable) *unreadable = status == ReadStatus::Unreadable;
  if (status != ReadStatus::Ok) return {};
  std::string_view view(bytes);
  if (view.size() >= 3 && view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);
  return decode(view);
}
}  // namespace

std::wstring ReadTextFile(const std::wstring& path, bool* unreadable, size_t maxBytes) {
  return ReadDecoded(path, unreadable, maxBytes, Utf8ToWide);
}

std::wstring ReadPathsFile(const std::wstring& path, bool* unreadable, size_t maxBytes) {
  return ReadDecoded(path, unreadable, maxBytes, PathFromBytes);
}
