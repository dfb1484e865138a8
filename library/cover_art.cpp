#include "library/cover_art.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/cover_art.h"
#include "platform/paths.h"
#include "platform/ui_post.h"

std::unordered_map<std::wstring, ArtEntry, PathKeyHash> ArtCache;
std::vector<std::wstring>& ArtQueue = *new std::vector<std::wstring>;
std::mutex& ArtMutex = *new std::mutex;
std::condition_variable& ArtWake = *new std::condition_variable;
bool ArtStop = false;
bool ArtThreadStarted = false;
std::atomic<int> ArtLoadersRunning{0};

namespace {

constexpr uint8_t kClearAlpha = 16;

// Puts the key in the queue and starts the loader once. Returns the keys dropped for space,
// oldest first.
std::vector<std::wstring> QueueArtKey(const std::wstring& key) {
  std::vector<std::wstring> dropped;
  bool start = false;
  {
    std::lock_guard<std::mutex> lock(ArtMutex);
    ArtQueue.push_back(key);
    if (ArtQueue.size() > kArtQueueLimit) {
      const auto excess = static_cast<ptrdiff_t>(ArtQueue.size() - kArtQueueLimit);
      dropped.assign(std::make_move_iterator(ArtQueue.begin()), std::make_move_iterator(ArtQueue.begin() + excess));
      ArtQueue.erase(ArtQueue.begin(), ArtQueue.begin() + excess);
    }
    start = !ArtThreadStarted;
    ArtThreadStarted = true;
  }
  if (start) {
    // Stopped before the statics go: a loader still waiting on ArtWake would keep the condition
    // variable's destruction at exit waiting for ever.
    std::atexit(StopArtLoader);
    ++ArtLoadersRunning;
    std::thread([] {
      ArtLoaderThread();
      --ArtLoadersRunning;
    }).detach();
  }
  ArtWake.notify_one();
  return dropped;
}

// A cover whose pixels are mostly see-through (a cut-out, an empty frame) shows nothing useful.
bool MostlyTransparent(const std::vector<uint32_t>& pixels) {
  const size_t clear = static_cast<size_t>(std::count_if(
      pixels.begin(), pixels.end(), [](uint32_t p) { return (p >> 24) < kClearAlpha; }));
  return clear * 8 > pixels.size();
}

}  // namespace

ArtEntry* TouchArtEntry(const std::wstring& path) {
  if (path.empty()) return nullptr;
  const std::wstring key = PathKey(path);
  ArtEntry& entry = ArtCache[key];
  entry.lastUsed = MonotonicMs();
  if (entry.loaded || entry.state != kArtNeverRequested) return &entry;
  entry.state = kArtLoading;
  // A path pushed out of the queue is asked for again by its next request.
  for (const std::wstring& dropped : QueueArtKey(key)) {
    auto it = ArtCache.find(dropped);
    if (it != ArtCache.end() && !it->second.loaded) it->second.state = kArtNeverRequested;
  }
  return &entry;
}

ArtResult LoadArt(const std::wstring& path, CoverRead* outcome, std::wstring* reason) {
  ArtResult result;
  result.key = PathKey(path);
  std::wstring why;
  int w = 0, h = 0;
  CoverRead read = ReadEmbeddedCover(path, kArtSide, &result.pixels, &w, &h, &why);
  if (read == CoverRead::Picture && (w < 1 || h < 1 || w > kArtSide || h > kArtSide ||
                                     result.pixels.size() != static_cast<size_t>(w) * h)) {
    why = L"the picture came out at an unexpected size";
    read = CoverRead::None;
  } else if (read == CoverRead::Picture && MostlyTransparent(result.pixels)) {
    why = L"the picture is mostly transparent";
    read = CoverRead::None;
  }
  if (read != CoverRead::Picture) {
    result.pixels = {};
  } else {
    result.width = w;
    result.height = h;
  }
  if (outcome) *outcome = read;
  if (reason) *reason = std::move(why);
  return result;
}

void ArtLoaderThread() {
  std::unique_lock<std::mutex> lock(ArtMutex);
  for (;;) {
    ArtWake.wait(lock, [] { return ArtStop || !ArtQueue.empty(); });
    if (ArtStop) return;
    const std::wstring key = std::move(ArtQueue.back());
    ArtQueue.pop_back();
    lock.unlock();
    // The key is the path itself (PathKey keeps it on this system).
    auto* result = new ArtResult(LoadArt(key));
    if (!PostToUi(kArtLoadedPost, 0, result)) delete result;
    lock.lock();
  }
}

void OnArtLoaded(ArtResult* raw) {
  std::unique_ptr<ArtResult> result(raw);
  if (!result) return;
  ArtEntry& entry = ArtCache[result->key];
  entry.pixels = std::move(result->pixels);
  entry.width = entry.pixels.empty() ? 0 : result->width;
  entry.height = entry.pixels.empty() ? 0 : result->height;
  entry.loaded = true;
  entry.state = kArtNoBitmap;
  entry.bitmap.reset();
  if (ArtCache.size() <= kArtCacheLimit) return;
  const uint64_t now = MonotonicMs();
  std::erase_if(ArtCache, [now](const auto& item) { return now - item.second.lastUsed > kArtIdleMs; });
}

void StopArtLoader() {
  {
    std::lock_guard<std::mutex> lock(ArtMutex);
    ArtStop = true;
  }
  ArtWake.notify_all();
  // A cover being read finishes first (tens of ms), so no loader is mid-file when the process
  // goes; a file that hangs is not waited on past the bound.
  const uint64_t end = MonotonicMs() + 2000;
  while (ArtLoadersRunning > 0 && MonotonicMs() < end) SleepMs(2);
}
