#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/cover_art.h"
#include "platform/clock.h"
#include "support/art_loader.h"

namespace {

std::wstring MissingTrack(int i) { return L"/nonexistent/cover-art/track-" + std::to_wstring(i) + L".mp3"; }

int64_t StateOf(const std::wstring& path) {
  auto it = ArtCache.find(path);
  return it == ArtCache.end() ? 0 : it->second.state;
}

}  // namespace

// One frame asks for 100 new paths: the 64 newest wait and load newest first; the 36 pushed out
// go back to "never requested", so asking again queues them (they would otherwise never load).
TEST(CoverArtQueue, HundredRequestsKeepTheNewestSixtyFourAndDroppedOnesComeBack) {
  ArtLoaderFixture fixture;
  for (int i = 0; i < 100; ++i) ASSERT_NE(TouchArtEntry(MissingTrack(i)), nullptr);
  {
    std::lock_guard<std::mutex> lock(ArtMutex);
    ASSERT_EQ(ArtQueue.size(), kArtQueueLimit);
    for (size_t k = 0; k < ArtQueue.size(); ++k) EXPECT_EQ(ArtQueue[k], MissingTrack(36 + static_cast<int>(k)));
  }
  for (int i = 0; i < 36; ++i) EXPECT_EQ(StateOf(MissingTrack(i)), kArtNeverRequested) << i;
  for (int i = 36; i < 100; ++i) EXPECT_EQ(StateOf(MissingTrack(i)), kArtLoading) << i;

  // Asking again while waiting queues nothing more.
  TouchArtEntry(MissingTrack(99));
  {
    std::lock_guard<std::mutex> lock(ArtMutex);
    EXPECT_EQ(ArtQueue.size(), kArtQueueLimit);
  }

  fixture.StartLoader();
  const std::vector<std::wstring> loaded = fixture.TakeLoaded(64);
  ASSERT_EQ(loaded.size(), 64u);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(loaded[k], MissingTrack(99 - k)) << k;
  for (int i = 36; i < 100; ++i) {
    const ArtEntry& entry = ArtCache[MissingTrack(i)];
    EXPECT_TRUE(entry.loaded);
    EXPECT_TRUE(entry.pixels.empty());  // a missing file has no cover, and is asked for once
  }
  EXPECT_TRUE(fixture.TakeLoaded(1, 0.2).empty());

  TouchArtEntry(MissingTrack(99));  // loaded: never queued again
  TouchArtEntry(MissingTrack(5));   // dropped earlier: queued now
  EXPECT_EQ(StateOf(MissingTrack(5)), kArtLoading);
  const std::vector<std::wstring> again = fixture.TakeLoaded(2, 2);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0], MissingTrack(5));
  EXPECT_TRUE(ArtCache[MissingTrack(5)].loaded);
  EXPECT_EQ(TouchArtEntry(L""), nullptr);
}

// Beyond 600 entries a completion evicts the idle ones (20 s unused) and keeps the rest.
TEST(CoverArtQueue, CompletionBeyondTheLimitEvictsIdleEntries) {
  ArtLoaderFixture fixture;
  const uint64_t idle = MonotonicMs() - kArtIdleMs - 1;
  for (int i = 0; i < 600; ++i) {
    ArtEntry& entry = ArtCache[MissingTrack(i)];
    entry.loaded = true;
    entry.lastUsed = i < 550 ? idle : MonotonicMs();
  }
  TouchArtEntry(MissingTrack(1000));
  OnArtLoaded(new ArtResult{MissingTrack(1000), std::vector<uint32_t>(4, 0xFF102030u), 2, 2});
  EXPECT_EQ(ArtCache.size(), 51u);
  EXPECT_EQ(ArtCache.count(MissingTrack(549)), 0u);
  EXPECT_EQ(ArtCache.count(MissingTrack(550)), 1u);
  ASSERT_EQ(ArtCache.count(MissingTrack(1000)), 1u);
  EXPECT_EQ(ArtCache[MissingTrack(1000)].pixels.size(), 4u);
  EXPECT_EQ(ArtCache[MissingTrack(1000)].state, kArtNoBitmap);
}
