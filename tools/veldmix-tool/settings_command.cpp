// veldmix-tool settings DATAFOLDER: loads the settings file of a data folder the way the program
// does at start, then saves it the way it does at exit.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/load_settings.h"
#include "base/settings.h"
#include "platform/text.h"

namespace {
constexpr const char* kDataFolderName = "Veldmix";
}  // namespace

int RunSettingsCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: veldmix-tool settings DATAFOLDER\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(args[0], ec).lexically_normal();
  if (!ec && !folder.has_filename()) folder = folder.parent_path();  // a trailing "/"
  // The data folder is always "<data base>/Veldmix"; the tool points the data base at its parent.
  if (ec || folder.filename() != kDataFolderName) {
    std::fprintf(stderr, "veldmix-tool settings: the data folder must be named \"%s\": %s\n", kDataFolderName,
                 args[0].c_str());
    return 2;
  }
  setenv("XDG_DATA_HOME", folder.parent_path().c_str(), 1);
  LoadSettings();
  if (!SaveSettings()) {
    std::fprintf(stderr, "veldmix-tool settings: couldn't write %s\n", WideToUtf8(SettingsPath()).c_str());
    return 1;
  }
  std::printf("%s\n", WideToUtf8(SettingsPath()).c_str());
  return 0;
}
