#include "platform/file_url.h"

#include <cstring>
#include <string_view>

#include "platform/text.h"

namespace {

constexpr std::wstring_view kLocalhostPrefix = L"file://localhost/";
constexpr std::wstring_view kEmptyHostPrefix = L"file:///";
constexpr std::wstring_view kHostPrefix = L"file://";
constexpr std::string_view kUrlStart = "file://localhost";
constexpr char kKeptPunctuation[] = "-_.~/:!$&'()*+,;=@";

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// "/C:/..." or "/C|/...": a Windows drive, which names nothing here.
bool IsDrivePath(std::wstring_view path) {
  return path.size() >= 3 && path[0] == L'/' && IsAsciiLetter(path[1]) && (path[2] == L':' || path[2] == L'|') &&
         (path.size() == 3 || path[3] == L'/' || path[3] == L'\\');
}

}  // namespace

std::wstring FileUrlToPath(const std::wstring& url) {
  std::wstring_view rest(url);
  bool hadPrefix = true;
  if (StartsWithIgnoringCase(rest, kLocalhostPrefix)) rest.remove_prefix(kLocalhostPrefix.size() - 1);
  else if (StartsWithIgnoringCase(rest, kEmptyHostPrefix)) rest.remove_prefix(kEmptyHostPrefix.size() - 1);
  else if (StartsWithIgnoringCase(rest, kHostPrefix)) return {};  // another computer
  else hadPrefix = false;

  const std::string bytes = PercentDecodeBytes(PathToBytes(rest));
  if (bytes.empty() || bytes.find('\0') != std::string::npos) return {};
  std::wstring path = PathFromBytes(bytes);
  if (hadPrefix && (IsDrivePath(path) || path.compare(0, 2, L"//") == 0)) return {};
  return path;
}

std::wstring PathToFileUrl(const std::wstring& path) { return Utf8ToWide(PathToFileUrlUtf8(path)); }

std::string PathToFileUrlUtf8(const std::wstring& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url(kUrlStart.begin(), kUrlStart.end());
  const std::string bytes = PathToBytes(path);
  url.reserve(url.size() + bytes.size() + bytes.size() / 4 + 1);
  if (bytes.empty() || bytes[0] != '/') url += '/';
  for (unsigned char c : bytes) {
    bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                (c != 0 && std::strchr(kKeptPunctuation, c) != nullptr);
    if (kept) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}
