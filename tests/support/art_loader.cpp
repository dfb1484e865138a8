#include "support/art_loader.h"

#include "library/cover_art.h"
#include "platform/clock.h"
#include "platform/ui_post.h"

namespace {

void Reset() {
  std::lock_guard<std::mutex> lock(ArtMutex);
  ArtQueue.clear();
  ArtStop = false;
  ArtThreadStarted = true;  // requests queue; the fixture starts the one loader itself
}
}  // namespace

ArtLoaderFixture::ArtLoaderFixture() {
  // A loader that drawing code of an earlier test started ends first: one loader, a known order.
  StopArtLoader();
  const double end = MonotonicSeconds() + 10;
  while (ArtLoadersRunning > 0 && MonotonicSeconds() < end) SleepMs(2);
  Reset();
  ArtCache.clear();
  OpenUiPosts(nullptr);
}

ArtLoaderFixture::~ArtLoaderFixture() {
  StopArtLoader();
  if (loader_.joinable()) loader_.join();
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kArtLoadedPost) delete static_cast<ArtResult*>(post.lparam);
  });
  Reset();
  ArtCache.clear();
  std::lock_guard<std::mutex> lock(ArtMutex);
  ArtThreadStarted = false;
}

void ArtLoaderFixture::StartLoader() {
  if (!loader_.joinable()) loader_ = std::thread(ArtLoaderThread);
}

std::vector<std::wstring> ArtLoaderFixture::TakeLoaded(size_t count, double seconds) {
  std::vector<std::wstring> keys;
  const double end = MonotonicSeconds() + seconds;
  while (keys.size() < count && MonotonicSeconds() < end) {
    DrainUiPosts([&](const UiPost& post) {
      if (post.message != kArtLoadedPost) return;
      auto* result = static_cast<ArtResult*>(post.lparam);
      keys.push_back(result->key);
      OnArtLoaded(result);
    });
    if (keys.size() < count) SleepMs(5);
  }
  return keys;
}
