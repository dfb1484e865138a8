#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/text.h"
#include "settings/update_client.h"
#include "tools/veldmix-tool/commands.h"

namespace {

void PrintInfo(const UpdateInfo& info) {
  std::printf("file: %s\nurl: %s\nstamp: %lld\nsize: %lld\nsha256: %s\n", WideToUtf8(info.file).c_str(),
              WideToUtf8(info.url).c_str(), static_cast<long long>(info.stamp), static_cast<long long>(info.size),
              WideToUtf8(info.sha256).c_str());
}

int Fail(const UiText& error) {
  std::fprintf(stderr, "error: %s\n", WideToUtf8(EnglishText(error)).c_str());
  return 1;
}

// update check|download [--site URL]: the service's answer; download also fetches and checks the
// package into the download folder and prints its path. Exit 1 with the user's message on failure.
int RunUpdate(const std::vector<std::string>& args) {
  const bool usage = args.empty() || (args[0] != "check" && args[0] != "download") ||
                     !(args.size() == 1 || (args.size() == 3 && args[1] == "--site"));
  if (usage) {
    std::fprintf(stderr, "usage: veldmix-tool update check|download [--site URL]\n");
    return 2;
  }
  // The same override the program reads, so the user agent names the site asked.
  if (args.size() == 3) setenv("VELDMIX_UPDATE_SITE", args[2].c_str(), 1);
  const UpdateInfo info = FetchLatestUpdate(UpdateSiteUrl());
  if (!info.error.empty()) return Fail(info.error);
  PrintInfo(info);
  if (args[0] == "check") return 0;
  std::atomic<float> progress{0.0f};
  std::atomic<bool> cancel{false};
  UiText error;
  const std::wstring path = DownloadUpdate(info, progress, cancel, &error, UpdateSiteUrl());
  if (path.empty()) return Fail(error);
  std::printf("downloaded: %s\n", WideToUtf8(path).c_str());
  return 0;
}

}  // namespace

const ToolCommand kUpdateCommands[] = {
    {"update", "check|download [--site URL]",
     "asks the update site for the newest build; download also fetches and verifies it", RunUpdate},
};
const int kUpdateCommandCount = static_cast<int>(sizeof kUpdateCommands / sizeof kUpdateCommands[0]);
