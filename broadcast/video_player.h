#pragma once
// A video file decoded on a thread of its own into 32-bit frames, following the time its owner
// asks for: small steps forward decode forward, jumps seek. It keeps no clock; the owner calls
// Seek as often as it likes (once per UI frame) and takes the newest frame: the newest picture
// whose time has come. The next one is decoded ahead and held back, and TakeFrame hands it over
// once the wanted time reaches it, so no picture comes before its sound. Owner calls from one
// thread (the UI thread); Stop must not be called from the decoder thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Wanted times this far behind the last decoded picture are not sought (seconds).
inline constexpr double kVideoSeekBackSeconds = 0.25;
// Wanted times this far ahead of it are sought instead of decoded through.
inline constexpr double kVideoSeekAheadSeconds = 1.5;
// Pictures more than this before the wanted time are decoded through without being converted.
inline constexpr double kVideoFrameLateSeconds = 0.05;
// Files this short or shorter do not loop.
inline constexpr double kVideoMinLoopSeconds = 0.5;

class VideoFilePlayer {
 public:
  VideoFilePlayer() = default;
  ~VideoFilePlayer();
  VideoFilePlayer(const VideoFilePlayer&) = delete;
  VideoFilePlayer& operator=(const VideoFilePlayer&) = delete;

  // Starts playing a file; nothing when this path is already playing (also after it failed).
  void Open(const std::wstring& path);
  // Stops and joins the decoder; clears the path and the frame.
  void Stop();
  // The time to show (seconds in the file) and whether to wrap it into the file's duration.
  void Seek(double seconds, bool loop);
  // When a frame newer than *serial is held (the picture decoded ahead counts once the last
  // wanted time reaches it): copies it out (B, G, R, A bytes, alpha 0xFF, top row first, rows
  // packed), sets *serial and, when given, *time (its own time in Seek's seconds) and returns
  // true; else false.
  bool TakeFrame(std::vector<uint32_t>* pixels, uint32_t* width, uint32_t* height, uint64_t* serial,
                 double* time = nullptr);

  const std::wstring& Path() const { return path; }
  // The file could not be opened or read; the decoder has ended.
  bool Failed() const { return failed.load(); }
  // Pictures decoded since Open (dropped ones too): how much work the wanted times caused.
  uint64_t DecodedPictures() const { return decoded.load(); }
  // Waits until the decoder has acted on every Seek so far and sleeps (or has ended); false when
  // timeoutMs passed first. For tests and the tool.
  bool WaitUntilIdle(int timeoutMs);

 private:
  friend void VideoFilePlayerThread(VideoFilePlayer* player);
  friend void VideoDecodeLoop(VideoFilePlayer* player);

  std::wstring path;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable wake;
  // Guarded by mutex.
  bool quit = false;
  bool seekRequested = false;  // a request waits; the decoder consumes it
  bool loop = false;
  double seekTime = 0.0;
  std::vector<uint32_t> pixels;
  uint32_t width = 0;
  uint32_t height = 0;
  uint64_t serial = 0;
  double pixelsTime = 0.0;  // Seek's time of the picture in `pixels`
  // The picture after the one shown, decoded ahead; due at nextDueAt in Seek's time.
  std::vector<uint32_t> next;
  uint32_t nextWidth = 0;
  uint32_t nextHeight = 0;
  double nextDueAt = 0.0;
  bool haveNext = false;
  bool nextTaken = false;  // TakeFrame showed it: the decoder reads the one after
  bool busy = false;       // the decoder is acting on a request
  std::condition_variable idle;
  std::atomic<bool> failed{false};
  std::atomic<uint64_t> decoded{0};
};

// The decoder thread's entry and its loop.
void VideoFilePlayerThread(VideoFilePlayer* player);
void VideoDecodeLoop(VideoFilePlayer* player);
