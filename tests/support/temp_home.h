#pragma once
// A fresh HOME with its own XDG folders for one test; restores nothing but removes the tree.
#include <string>

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
