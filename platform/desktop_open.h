#pragma once
// Handing things to the desktop: a folder or web address to its default handler, a file to the
// file manager with the file selected. Each runs programs as children without a shell and returns
// at once; what the children do is logged, not waited for. Any thread.
#include <string>

// Opens the folder, file or web address with xdg-open. False with *error when xdg-open could not
// be started.
bool OpenWithDesktop(const std::wstring& target, std::wstring* error = nullptr);
// Shows the file in the file manager: org.freedesktop.FileManager1.ShowItems with the file's
// file:// URI on the session bus; when nothing answers that call, xdg-open on the file's folder.
void ShowInFolder(const std::wstring& path);
// The file:// URI of an absolute path: every byte of its UTF-8 outside the unreserved set and "/"
// is percent-encoded (so a comma or a line break cannot split it).
std::string FileUri(const std::wstring& path);
// The folder that holds the path ("/" for a file at the root, "." without a slash).
std::wstring FolderOf(const std::wstring& path);
