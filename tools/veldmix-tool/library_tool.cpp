#include "tools/veldmix-tool/library_tool.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/status_message.h"
#include "app/text_parse.h"
#include "library/library_file.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace {
constexpr auto kDrainPoll = std::chrono::milliseconds(2);
}  // namespace

int ListNamed(const std::wstring& name) {
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (TrackLists[i].name == name) return static_cast<int>(i);
  for (size_t i = 0; i < TrackLists.size(); ++i)
    if (LowerText(TrackLists[i].name) == LowerText(name)) return static_cast<int>(i);
  return -1;
}

void DrainScan() {
  while (Scanning) {
    DrainUiPosts([](const UiPost& post) {
      if (post.message == kScanBatchPost)
        ApplyScanBatch(static_cast<uint32_t>(post.wparam), static_cast<std::vector<LibraryFile>*>(post.lparam));
      else if (post.message == kScanFinishedPost)
        FinishFolderScan(static_cast<uint32_t>(post.wparam));
    });
    if (Scanning) std::this_thread::sleep_for(kDrainPoll);
  }
}

void PrintStatus() {
  if (!Status.text.empty()) std::printf("%s\n", WideToUtf8(Status.text).c_str());
}
