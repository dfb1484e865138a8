#include "broadcast/video_player.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/video_reader.h"

namespace {

// A picture counts as due this much before its time: file times and the deck's position are
// rounded differently, and a picture kept back by a rounding error would show a UI frame late.
constexpr double kDueSlackSeconds = 0.002;

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
    haveNext = false;
    nextTaken = false;
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
  haveNext = false;
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
                                uint64_t* outSerial, double* outTime) {
  std::lock_guard<std::mutex> lock(mutex);
  if (haveNext && nextDueAt <= seekTime + kDueSlackSeconds) {
    pixels.swap(next);
    width = nextWidth;
    height = nextHeight;
    pixelsTime = nextDueAt;
    ++serial;
    haveNext = false;
    // The decoder reads the picture after it now, not at the next wanted time.
    nextTaken = true;
    seekRequested = true;
    wake.notify_all();
  }
  if (serial == *outSerial || pixels.empty()) return false;
  out->assign(pixels.begin(), pixels.end());
  *outWidth = width;
  *outHeight = height;
  *outSerial = serial;
  if (outTime) *outTime = pixelsTime;
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
  double last = -1.0;  // time of the last decoded picture, shown or held; -1 after a seek
  bool ended = false;
  std::vector<uint32_t> frame, ahead;
  for (;;) {
    double wanted = 0.0;
    bool wrap = false, holding = false, taken = false;
    {
      std::unique_lock<std::mutex> lock(p->mutex);
      p->busy = false;
      p->idle.notify_all();
      // Each request is consumed, so an idle player sleeps until the next one.
      p->wake.wait(lock, [p] { return p->quit || p->seekRequested; });
      if (p->quit) return;
      wanted = p->seekTime;
      wrap = p->loop;
      p->seekRequested = false;
      p->busy = true;
      holding = p->haveNext;
      taken = p->nextTaken;
      p->nextTaken = false;
    }
    if (!std::isfinite(wanted)) continue;
    double t = std::max(wanted, 0.0);
    if (wrap && info.duration > kVideoMinLoopSeconds) t = std::fmod(t, info.duration);
    // Seek's time of a picture at file time 0 (a looped file's pass).
    const double passStart = std::max(wanted, 0.0) - t;

    bool sought = false;
    if (last < 0 || t < last - kVideoSeekBackSeconds || (t > last + kVideoSeekAheadSeconds && !ended)) {
      if (!SeekVideoReader(reader.get(), t)) {
        p->failed = true;
        return;
      }
      last = -1.0;
      ended = false;
      holding = false;
      sought = true;
      std::lock_guard<std::mutex> lock(p->mutex);
      p->haveNext = false;  // a picture of the old place
    } else if (holding) {
      if (last > t + kDueSlackSeconds) continue;  // the held picture (the last read) is not due yet
    } else if (ended || (!taken && t <= last + kDueSlackSeconds)) {
      // Past the end (until the time goes back), or the last picture read is still current.
      continue;
    }

    bool due = false;  // `frame` holds a picture to show now
    double dueTime = 0.0;  // its time in Seek's seconds
    int w = 0, h = 0;
    int aheadWidth = 0, aheadHeight = 0;
    bool haveAhead = false;
    if (holding) {
      // Due: shown now unless TakeFrame has shown it since.
      std::lock_guard<std::mutex> lock(p->mutex);
      if (p->haveNext) {
        frame.swap(p->next);
        w = static_cast<int>(p->nextWidth);
        h = static_cast<int>(p->nextHeight);
        dueTime = p->nextDueAt;
        p->haveNext = false;
        due = true;
      }
    }
    while (!ended) {
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
      if (ts <= t + kDueSlackSeconds) {
        // Due: pictures long past are decoded through without converting them.
        if (ts >= t - kVideoFrameLateSeconds && ConvertVideoPicture(reader.get(), &frame, &w, &h)) {
          due = true;
          dueTime = passStart + ts;
        }
        continue;
      }
      // A picture that fails to convert is skipped: the next wanted time decodes on.
      haveAhead = ConvertVideoPicture(reader.get(), &ahead, &aheadWidth, &aheadHeight);
      break;
    }
    // Straight after a seek into a file whose pictures lie further apart than kVideoFrameLateSeconds,
    // the next picture is better than none.
    if (!due && sought && haveAhead) {
      frame.swap(ahead);
      w = aheadWidth;
      h = aheadHeight;
      dueTime = passStart + last;
      haveAhead = false;
      due = true;
    }
    if (!due && !haveAhead) continue;
    std::lock_guard<std::mutex> lock(p->mutex);
    if (due) {
      p->pixels.swap(frame);
      p->width = static_cast<uint32_t>(w);
      p->height = static_cast<uint32_t>(h);
      p->pixelsTime = dueTime;
      ++p->serial;
    }
    if (haveAhead) {
      p->next.swap(ahead);
      p->nextWidth = static_cast<uint32_t>(aheadWidth);
      p->nextHeight = static_cast<uint32_t>(aheadHeight);
      p->nextDueAt = passStart + last;
      p->haveNext = true;
    }
  }
}
