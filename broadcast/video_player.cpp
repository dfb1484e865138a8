#include "broadcast/video_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/video_reader.h"

namespace {

// A wanted time at most this far after the last picture shows that picture: no decoding.
constexpr double kSameTimeSeconds = 0.004;

}  // namespace

VideoFilePlayer::~VideoFilePlayer() { Stop(); }

void VideoFilePlayer::Open(const std::wstring& newPath) {
  if (newPath == path && thread.joinable()) return;
  Stop();
  path = newPath;
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = false;
    seekRequested = false;
    busy = false;
    serial = 0;
  }
  failed = false;
  decoded = 0;
  thread = std::thread(VideoFilePlayerThread, this);
}

void VideoFilePlayer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  wake.notify_all();
  if (thread.joinable()) thread.join();
  path.clear();
  std::lock_guard<std::mutex> lock(mutex);
  pixels.clear();  // keeps its storage for the next file
  width = 0;
  height = 0;
}

void VideoFilePlayer::Seek(double seconds, bool wrap) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    seekTime = seconds;
    loop = wrap;
    seekRequested = true;
  }
  wake.notify_all();
}

bool VideoFilePlayer::TakeFrame(std::vector<uint32_t>* out, uint32_t* outWidth, uint32_t* outHeight,
                                uint64_t* outSerial) {
  std::lock_guard<std::mutex> lock(mutex);
  if (serial == *outSerial || pixels.empty()) return false;
  out->assign(pixels.begin(), pixels.end());
  *outWidth = width;
  *outHeight = height;
  *outSerial = serial;
  return true;
}

bool VideoFilePlayer::WaitUntilIdle(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex);
  return idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [this] { return failed.load() || quit || (!seekRequested && !busy); });
}

void VideoFilePlayerThread(VideoFilePlayer* player) {
  VideoDecodeLoop(player);
  {
    std::lock_guard<std::mutex> lock(player->mutex);
    player->busy = false;
  }
  player->idle.notify_all();
}

void VideoDecodeLoop(VideoFilePlayer* p) {
  VideoReaderInfo info;
  VideoReaderPtr reader = OpenVideoReader(p->path, &info);
  if (!reader) {
    p->failed = true;
    return;
  }
  double last = -1.0;  // time of the last decoded picture; -1 after a seek
  bool ended = false;
  double lastWanted = -1.0;
  std::vector<uint32_t> frame;
  for (;;) {
    double t = 0.0;
    bool wrap = false;
    {
      std::unique_lock<std::mutex> lock(p->mutex);
      p->busy = false;
      p->idle.notify_all();
      // Each request is consumed, so an idle player sleeps until the next one.
      p->wake.wait(lock, [p] { return p->quit || p->seekRequested; });
      if (p->quit) return;
      t = p->seekTime;
      wrap = p->loop;
      p->seekRequested = false;
      p->busy = true;
    }
    if (wrap && info.duration > kVideoMinLoopSeconds) t = std::fmod(std::max(t, 0.0), info.duration);
    if (!std::isfinite(t)) continue;
    t = std::max(t, 0.0);

    if (last < 0 || t < last - kVideoSeekBackSeconds || (t > last + kVideoSeekAheadSeconds && !ended)) {
      if (!SeekVideoReader(reader.get(), t)) {
        p->failed = true;
        return;
      }
      last = -1.0;
      ended = false;
    } else if (ended || t - kSameTimeSeconds <= last || t == lastWanted) {
      // Past the end (stays there until the time goes back), this picture is still current, or
      // this time was answered already.
      continue;
    }
    lastWanted = t;

    for (;;) {
      {
        std::lock_guard<std::mutex> lock(p->mutex);
        if (p->quit) return;
      }
      double ts = 0.0;
      const VideoReadResult result = ReadVideoPicture(reader.get(), &ts);
      if (result == VideoReadResult::kFailed) {
        p->failed = true;
        return;
      }
      if (result == VideoReadResult::kEnd) {
        ended = true;
        if (wrap) last = -1.0;  // the next wanted time seeks again
        break;
      }
      ++p->decoded;
      last = ts;
      if (ts < t - kVideoFrameEarlySeconds) continue;
      int w = 0, h = 0;
      if (ConvertVideoPicture(reader.get(), &frame, &w, &h)) {
        std::lock_guard<std::mutex> lock(p->mutex);
        p->pixels.swap(frame);
        p->width = static_cast<uint32_t>(w);
        p->height = static_cast<uint32_t>(h);
        ++p->serial;
      }
      break;
    }
  }
}
