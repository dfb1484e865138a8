#include "support/temp_home.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/text.h"

TempHome::TempHome() {
  char tmpl[] = "/tmp/veldmix-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  setenv("HOME", path_.c_str(), 1);
  setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
  setenv("XDG_STATE_HOME", (path_ + "/state").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
}

TempHome::~TempHome() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::wstring TempHome::wpath() const { return Utf8ToWide(path_); }

void WriteRaw(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
