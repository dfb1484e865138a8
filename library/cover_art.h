#pragma once
// Cover pictures of tracks: a UI-thread cache of scaled pixels, filled by one background loader
// that takes the newest request first. Drawing code asks through RequestArt (screens/cover_art.h),
// which turns the pixels into bitmaps; this file holds everything but the drawing.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/track_info.h"
#include "platform/cover_art.h"

struct Bitmap;  // made and drawn by the drawing layer; only held here

inline constexpr int kArtSide = 128;            // pictures are scaled to fit this square
inline constexpr size_t kArtQueueLimit = 64;    // waiting paths; older ones are dropped
inline constexpr size_t kArtCacheLimit = 600;   // entries before idle ones are evicted
inline constexpr uint64_t kArtIdleMs = 20000;   // what idle means for that eviction

inline constexpr int kArtLoadedPost = 10;  // the loader's completion number

inline constexpr int64_t kArtNeverRequested = -1;
inline constexpr int64_t kArtLoading = -2;
inline constexpr int64_t kArtNoBitmap = -3;

struct ArtEntry {
  std::vector<uint32_t> pixels;  // premultiplied ARGB, top row first; empty: no cover
  int32_t width = 0, height = 0;
  int64_t state = kArtNeverRequested;  // one of the three above, or the device generation of bitmap
  std::shared_ptr<Bitmap> bitmap;
  bool loaded = false;
  uint64_t lastUsed = 0;
};

// What the loader posts (completion 10); the UI thread frees it.
struct ArtResult {
  std::wstring key;
  std::vector<uint32_t> pixels;
  int32_t width = 0, height = 0;
};

// The cache, keyed by PathKey. UI thread only.
extern std::unordered_map<std::wstring, ArtEntry, PathKeyHash> ArtCache;
// Shared with the loader, under ArtMutex. Never destroyed: a loader still waiting when the
// process exits must not meet a destroyed queue or condition variable.
extern std::vector<std::wstring>& ArtQueue;  // oldest first
extern std::mutex& ArtMutex;
extern std::condition_variable& ArtWake;
extern bool ArtStop;
extern bool ArtThreadStarted;
// Loader threads between their start and their end (a stopped one ends after its file in hand).
extern std::atomic<int> ArtLoadersRunning;

// The entry of the path (created blank), its use time set to now; null for an empty path.
// Queues the path for loading when it was never requested. UI thread.
ArtEntry* TouchArtEntry(const std::wstring& path);
// The loader's work for one path: the file's cover scaled to fit kArtSide, or no pixels when it
// has none, or one mostly transparent (more than an eighth of the pixels below alpha 16).
// *outcome tells a cover from none and from a failed read (missing or non-media file); *reason
// says why there are no pixels. Any thread.
ArtResult LoadArt(const std::wstring& path, CoverRead* outcome = nullptr, std::wstring* reason = nullptr);
// The loader thread body: newest queued path first, each result posted as completion 10.
void ArtLoaderThread();
// Completion 10: moves the pixels into the entry and evicts idle entries beyond kArtCacheLimit.
// Takes ownership of result.
void OnArtLoaded(ArtResult* result);
// Asks the loader to end after the file in hand. At exit.
void StopArtLoader();
