// The folder scan worker over 3,000 MP3 copies that mutagen tagged one by one: batches of at most
// 100 reach the UI thread in delivery order with each file's own tags; and the extension test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "library/folder_scan.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "support/temp_home.h"
#include "support/wav_probe.h"

namespace {

constexpr int kCopies = 3000;

// One base MP3 copied kCopies times as s0000.mp3..., each retagged by mutagen with its number.
constexpr const char* kTagger = R"PY(
import shutil, sys
from mutagen.easyid3 import EasyID3
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    path = "%s/s%04d.mp3" % (folder, i)
    shutil.copyfile(folder + "/base.mp3", path)
    tags = EasyID3()
    tags["title"] = "Sông %d" % i
    tags["artist"] = "Ártist %d" % (i % 7)
    tags["genre"] = "Génre"
    tags.save(path)
)PY";

TEST(FolderScan, ThousandsOfTaggedFilesArriveInOrderedBatchesOfAtMostAHundred) {
  TempHome home;
  const std::string folder = home.path() + "/music";
  int status = -1;
  RunCommand("mkdir -p " + ShellQuote(folder) + " && ffmpeg -v error -f lavfi -i sine=d=0.3 " +
                 ShellQuote(folder + "/base.mp3") + " 2>&1",
             &status);
  ASSERT_EQ(status, 0);
  WriteRaw(home.path() + "/tagger.py", kTagger);
  RunCommand("/usr/bin/python3 " + ShellQuote(home.path() + "/tagger.py") + " " + ShellQuote(folder) + " " +
                 std::to_string(kCopies) + " && rm " + ShellQuote(folder + "/base.mp3") + " 2>&1",
             &status);
  ASSERT_EQ(status, 0);

  OpenUiPosts(nullptr);
  const uint32_t generation = ++ScanGeneration;
  LaunchFolderScan({Utf8ToWide(folder)}, {}, generation);
  std::vector<size_t> batchSizes;
  std::vector<LibraryFile> files;
  bool finished = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message == kScanBatchPost) {
        std::unique_ptr<std::vector<LibraryFile>> batch(static_cast<std::vector<LibraryFile>*>(post.lparam));
        EXPECT_EQ(post.wparam, generation);
        batchSizes.push_back(batch->size());
        for (LibraryFile& f : *batch) files.push_back(std::move(f));
      } else if (post.message == kScanFinishedPost) {
        EXPECT_EQ(post.wparam, generation);
        finished = true;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(finished);
  ASSERT_EQ(files.size(), static_cast<size_t>(kCopies));
  for (size_t b = 0; b < batchSizes.size(); ++b) {
    EXPECT_LE(batchSizes[b], kScanBatchFiles);
    EXPECT_GT(batchSizes[b], 0u);
    if (b + 1 < batchSizes.size()) EXPECT_EQ(batchSizes[b], kScanBatchFiles) << "only the last batch is short";
  }
  for (int i = 0; i < kCopies; ++i) {
    const LibraryFile& f = files[static_cast<size_t>(i)];
    ASSERT_EQ(f.index, static_cast<uint32_t>(i));
    char name[16];
    std::snprintf(name, sizeof name, "/s%04d.mp3", i);
    ASSERT_EQ(WideToUtf8(f.path), folder + name);
    ASSERT_EQ(WideToUtf8(f.title), "Sông " + std::to_string(i));
    ASSERT_EQ(WideToUtf8(f.artist), "Ártist " + std::to_string(i % 7));
    ASSERT_EQ(f.genre, L"Génre");
    ASSERT_EQ(f.titleKey, L"sông " + std::to_wstring(i));
    ASSERT_NE(f.searchText.find(L"génre"), std::wstring::npos);
    ASSERT_NE(f.searchText.find(Utf8ToWide(name + 1)), std::wstring::npos) << "the file name is searchable";
    ASSERT_NEAR(f.duration, 0.3, 0.1);
  }
}

// Album and comment are not shown but searched: every extension made by ffmpeg carries them into
// the search text when ffprobe sees them, whichever reader (tag store or container) found them.
TEST(FolderScan, EveryExtensionSearchesItsAlbumAndComment) {
  SetProcessLocale();  // lower-casing beyond ASCII, as the program runs
  TempHome home;
  for (const std::string ext : {"mp3", "wav", "flac", "m4a", "aac", "wma", "mp4", "aif", "aiff", "m4v", "mov", "mkv"}) {
    const std::string path = home.path() + "/t." + ext;
    int status = -1;
    RunCommand("ffmpeg -v error -f lavfi -i sine=d=1 -metadata title=T -metadata album=Álbum -metadata comment=Cömment " +
                   ShellQuote(path) + " 2>&1",
               &status);
    ASSERT_EQ(status, 0) << ext;
    const std::string probed = RunCommand("ffprobe -v error -show_entries format_tags=album,comment -of compact " +
                                          ShellQuote(path) + " 2>/dev/null");
    const LibraryFile f = ReadFileTags(Utf8ToWide(path), 0);
    EXPECT_EQ(f.searchText.find(L"álbum") != std::wstring::npos, probed.find("Álbum") != std::string::npos) << ext;
    EXPECT_EQ(f.searchText.find(L"cömment") != std::wstring::npos, probed.find("Cömment") != std::string::npos)
        << ext << ": " << WideToUtf8(f.searchText);
  }
}

TEST(FolderScan, AudioExtensionsIgnoreCaseAndNeedADot) {
  for (const wchar_t* yes : {L"/a/b.mp3", L"/a/B.MP4", L"/a/c.Flac", L"x.aiff", L"/a.b/c.mkv", L"/a/.m4a.wav"})
    EXPECT_TRUE(IsAudioFile(yes)) << WideToUtf8(yes);
  for (const wchar_t* no : {L"/a/b.ogg", L"/a/mp3", L"/a.mp3/readme", L"/a/b.mp3.txt", L""})
    EXPECT_FALSE(IsAudioFile(no)) << WideToUtf8(no);
}

}  // namespace
