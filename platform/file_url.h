#pragma once
// File URLs as other DJ programs and playlists store locations, to and from local paths.
#include <string>

// The local path a file URL names: "file://localhost/m/a%20b.mp3" and "file:///m/a%20b.mp3" give
// "/m/a b.mp3" (prefixes matched without regard to case; escapes are UTF-8 bytes; a "%" without
// two hex digits stays). Empty for what names no local file: another host, a Windows drive letter
// or network path, a decoding that holds a NUL byte. Text without a file prefix is decoded whole.
std::wstring FileUrlToPath(const std::wstring& url);
// "file://localhost" + the path's UTF-8 bytes, each byte outside letters, digits and
// -_.~/:!$&'()*+,;=@ written as %XX (upper-case hex).
std::wstring PathToFileUrl(const std::wstring& path);
// The same URL as UTF-8 (it is plain ASCII).
std::string PathToFileUrlUtf8(const std::wstring& path);
