#pragma once
// A fresh HOME with its own XDG folders for one test; restores nothing but removes the tree.
#include <string>
#include <vector>

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;
  const std::string& path() const { return path_; }
  std::wstring wpath() const;

 private:
  std::string path_;
};

// Writes bytes to a file, creating nothing else; for tests only.
void WriteRaw(const std::string& path, const std::string& bytes);
std::string ReadRaw(const std::string& path);

// The program's write temporaries standing in folder (any left after a write is a fault).
std::vector<std::string> WriteTemps(const std::string& folder);

// While alive, any write that would grow a file past `bytes` fails (EFBIG), also as root: a
// write failure after the temporary was made, for tests that the old file stays.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  unsigned long long oldSoft_, oldHard_;
  void (*oldHandler_)(int);
};
