#include "engine/recorder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/log.h"
#include "engine/engine.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kTapSeconds = 4;
constexpr int32_t kTapMinRate = 8000;          // Hz: a tap is sized even before the rate is known
constexpr uint64_t kRecorderRingSeconds = 4;
constexpr uint64_t kRecorderRingMinFrames = 16;
constexpr uint64_t kRecorderReadFrames = 4096;  // frames per ring read and file write
constexpr uint64_t kHeaderRewriteMs = 5001;     // a crash leaves at most this much audio uncounted
constexpr unsigned kRecorderIdleSleepMs = 20;
constexpr uint64_t kSpaceCheckMs = 500;
// Free room always kept beside a recording: its tracklist, the copy's headers and the writes made
// between two checks.
constexpr uint64_t kDiskMarginBytes = uint64_t(1) << 20;

// Serialises StartRecording and StopRecording; never held by the recorder thread.
std::mutex recorderControl;
// Set before the recorder thread starts, read only by it.
RecordingLimits recordLimits;
std::filesystem::path recordFolder;
std::mutex problemLock;
UiText problemText;

void SetProblem(UiText text) {
  std::lock_guard<std::mutex> guard(problemLock);
  problemText = std::move(text);
}

// Gives an idle ring a fresh buffer: allocated here, swapped in under the engine lock (the render
// never waits on an allocation), the old one freed after unlocking. Then sets the switch, unless
// it was already set, in which case the ring is left alone.
void SizeRingAndSwitchOn(SpscRing& ring, uint64_t frames, std::atomic<bool>& on) {
  std::vector<float> fresh(frames * 2, 0.0f);
  std::lock_guard<RealtimeMutex> lock(Engine.lock);
  if (on.load()) return;
  ring.buffer.swap(fresh);
  ring.capacity = frames;
  ring.written.store(0);
  ring.read.store(0);
  on.store(true);
}

void EnableTap(SpscRing& ring, std::atomic<bool>& on, bool wanted) {
  AssertNotAudioThread();
  if (!wanted) {
    on.store(false);
    return;
  }
  if (on.load()) return;
  const uint64_t rate = static_cast<uint64_t>(std::max(RunningOutputRate(Engine), kTapMinRate));
  SizeRingAndSwitchOn(ring, rate * kTapSeconds, on);
}

// The recording grows in place (a crash leaves what was recorded), so it is not renamed: it is
// written into the file the path's links end at, and never into a device or pipe.
std::FILE* OpenForWriting(const std::wstring& path) {
  WritePlan plan;
  std::wstring why;
  if (!PlanWrite(path, SpecialTarget::Refuse, &plan, &why)) {
    WriteLog(L"Audio: {}", why);
    errno = EINVAL;
    return nullptr;
  }
  return std::fopen(PathToBytes(plan.final).c_str(), "wb");
}

// The C library's English text; the common ones have translation rows, so a reason shown on screen
// goes in as a text of its own.
std::wstring ErrnoText(int err) { return Utf8ToWide(std::strerror(err)); }

// Rewrites the header to the frames on disk and closes the file; false when either fails.
// Called by whoever owns the file: the recorder thread, or the control thread after the join.
bool FinishRecordingFile(std::FILE* file, uint32_t rate, uint64_t frames, std::wstring* reason) {
  bool ok = WriteWavHeader(file, rate, frames);
  if (!ok) *reason = ErrnoText(errno);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    *reason = ErrnoText(errno);
  }
  return ok;
}

void FinishOrReport(std::FILE* file, uint32_t rate, uint64_t frames) {
  std::wstring reason;
  if (FinishRecordingFile(file, rate, frames, &reason)) return;
  WriteLog(L"Audio: the recording's WAV header couldn't be finished ({})", reason);
  SetProblem(UiFormat(L"Recording may be unreadable \u2014 couldn't finish the WAV file ({})", UiText(reason)));
}

// Ends a recording from inside the recorder thread: the render stops feeding the ring, the file
// is finished with the frames that reached it, and the reason is logged and published.
void StopFromRecorder(const std::wstring& logText, UiText problem) {
  Engine.recording.store(false);
  WriteLogText(logText);
  SetProblem(std::move(problem));
  std::FILE* file = Engine.recordFile;
  Engine.recordFile = nullptr;
  FinishOrReport(file, static_cast<uint32_t>(Engine.recordRate.load()), Engine.recordFrames.load());
}

}  // namespace

void EnableStreamTap(bool on) { EnableTap(Engine.streamRing, Engine.tapStream, on); }
void EnableVideoRecordTap(bool on) {
  // The tap is not running, so the render does not read the flag yet.
  if (on && !Engine.tapVideoRecord.load()) Engine.videoRecordBesideWav.store(false);
  EnableTap(Engine.videoRecordRing, Engine.tapVideoRecord, on);
}
void EnableVideoRecordTapBesideWav() {
  if (!Engine.tapVideoRecord.load()) Engine.videoRecordBesideWav.store(true);
  EnableTap(Engine.videoRecordRing, Engine.tapVideoRecord, true);
}
void EnableLiveVideoTap(bool on) { EnableTap(Engine.liveVideoRing, Engine.tapLiveVideo, on); }

bool WriteWavHeader(std::FILE* file, uint32_t rate, uint64_t frames) {
  uint8_t header[kWavHeaderBytes];
  BuildWavHeader(header, rate, frames);
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  const bool wrote = std::fwrite(header, 1, sizeof header, file) == sizeof header;
  const bool back = std::fseek(file, 0, SEEK_END) == 0;
  return wrote && back && std::fflush(file) == 0;
}

std::wstring RecordingProblem() { return EnglishText(RecordingProblemMessage()); }

UiText RecordingProblemMessage() {
  std::lock_guard<std::mutex> guard(problemLock);
  return problemText;
}

uint64_t RecordingReserveBytes(uint64_t wavBytes, double copyShare) {
  const double share = std::isfinite(copyShare) ? std::clamp(copyShare, 0.0, 1.0) : 1.0;
  return kDiskMarginBytes + static_cast<uint64_t>(static_cast<double>(wavBytes) * share);
}

bool StartRecording(const std::wstring& path, const RecordingLimits& limits) {
  AssertNotAudioThread();
  std::lock_guard<std::mutex> control(recorderControl);
  if (Engine.recording.load()) return false;
  // Asked of the output, not remembered: a rate kept from a stopped output records nothing.
  const int32_t rate = RunningOutputRate(Engine);
  if (rate < 1 || static_cast<uint32_t>(rate) > kWavMaxSampleRate) {
    WriteLog(L"Audio: no recording of {}: no audio output is running", path);
    return false;
  }
  // A recorder that stopped by itself has finished its file; only its thread is left to join.
  if (Engine.recorderThread.joinable()) Engine.recorderThread.join();
  if (Engine.recordFile != nullptr) {
    FinishOrReport(Engine.recordFile, static_cast<uint32_t>(Engine.recordRate.load()), Engine.recordFrames.load());
    Engine.recordFile = nullptr;
  }

  std::FILE* file = OpenForWriting(path);
  if (file == nullptr) {
    WriteLog(L"Audio: couldn't create the recording {} ({})", path, ErrnoText(errno));
    return false;
  }
  // Unbuffered: a write's result is what reached the file, so the frame count never runs ahead
  // of the disk and an error shows at the write that caused it.
  std::setvbuf(file, nullptr, _IONBF, 0);
  if (!WriteWavHeader(file, static_cast<uint32_t>(rate), 0)) {
    WriteLog(L"Audio: couldn't write the recording {} ({})", path, ErrnoText(errno));
    std::fclose(file);
    return false;
  }

  SetProblem(UiText());
  Engine.recordFile = file;
  Engine.recordRate.store(rate);
  Engine.recordFrames.store(0);
  recordLimits = limits;
  recordLimits.frames = std::clamp<uint64_t>(limits.frames, 1, kWavMaxFrames);
  recordFolder = std::filesystem::path(PathToBytes(path)).parent_path();
  const uint64_t ringFrames =
      std::max(static_cast<uint64_t>(rate) * kRecorderRingSeconds, kRecorderRingMinFrames);
  SizeRingAndSwitchOn(Engine.recordRing, ringFrames, Engine.recording);
  try {
    Engine.recorderThread = std::thread(RecorderThread);
  } catch (const std::system_error& e) {
    Engine.recording.store(false);
    WriteLog(L"Audio: couldn't start the recorder thread ({})", Utf8ToWide(e.what()));
    std::fclose(file);
    Engine.recordFile = nullptr;
    return false;
  }
  return true;
}

void StopRecording() {
  AssertNotAudioThread();
  std::lock_guard<std::mutex> control(recorderControl);
  {
    // Under the lock, so every block rendered while recording is already in the ring when the
    // recorder sees the switch off.
    std::lock_guard<RealtimeMutex> lock(Engine.lock);
    Engine.recording.store(false);
  }
  if (Engine.recorderThread.joinable()) Engine.recorderThread.join();
  if (Engine.recordFile == nullptr) return;
  FinishOrReport(Engine.recordFile, static_cast<uint32_t>(Engine.recordRate.load()), Engine.recordFrames.load());
  Engine.recordFile = nullptr;
}

void RecorderThread() {
  std::vector<float> samples(kRecorderReadFrames * kWavChannels);
  std::vector<uint8_t> bytes(kRecorderReadFrames * kWavBytesPerFrame);
  std::FILE* file = Engine.recordFile;
  const uint32_t rate = static_cast<uint32_t>(Engine.recordRate.load());
  const uint64_t limit = recordLimits.frames;
  uint64_t frames = 0;
  uint64_t lastHeaderMs = MonotonicMs();
  uint64_t lastSpaceCheckMs = 0;
  for (;;) {
    const uint64_t nowMs = MonotonicMs();
    if (nowMs - lastSpaceCheckMs >= kSpaceCheckMs) {
      lastSpaceCheckMs = nowMs;
      // Stopped while there is still room for the tracklist and the copy; a disk that fills
      // faster than this looks still ends in a failed write below.
      std::error_code ec;
      const std::filesystem::space_info space = std::filesystem::space(recordFolder, ec);
      const uint64_t reserve = RecordingReserveBytes(frames * kWavBytesPerFrame, recordLimits.copyShare);
      if (!ec && space.available < reserve) {
        StopFromRecorder(fmt::format(L"Audio: recording stopped, {} bytes free on the disk, {} kept free; {} frames kept",
                                     space.available, reserve, frames),
                         UiText(L"Recording stopped \u2014 not enough disk space left"));
        return;
      }
    }
    // Read the switch before the ring: frames written before it went off are then still drained.
    const bool stillOn = Engine.recording.load();
    const uint64_t got = RingRead(Engine.recordRing, samples.data(), std::min(kRecorderReadFrames, limit - frames));
    if (got == 0) {
      if (!stillOn) return;
      SleepMs(kRecorderIdleSleepMs);
      continue;
    }
    ConvertToWavBytes(samples.data(), got * kWavChannels, bytes.data());
    const size_t put = std::fwrite(bytes.data(), kWavBytesPerFrame, got, file);
    const int writeError = errno;
    frames += put;
    Engine.recordFrames.store(frames);
    if (put < got) {
      const std::wstring reason = ErrnoText(writeError);
      StopFromRecorder(fmt::format(L"Audio: recording stopped, writing the WAV file failed ({}); {} frames kept",
                                   reason, frames),
                       UiFormat(L"Recording stopped \u2014 couldn't write the file ({})", UiText(reason)));
      return;
    }
    if (frames >= limit) {
      StopFromRecorder(fmt::format(L"Audio: recording stopped at the WAV size limit ({} frames)", frames),
                       UiText(L"Recording stopped \u2014 the WAV file reached its size limit (4 GB)"));
      return;
    }
    const uint64_t now = MonotonicMs();
    if (now - lastHeaderMs >= kHeaderRewriteMs) {
      lastHeaderMs = now;
      if (!WriteWavHeader(file, rate, frames)) {
        const std::wstring reason = ErrnoText(errno);
        StopFromRecorder(fmt::format(L"Audio: recording stopped, updating the WAV header failed ({})", reason),
                         UiFormat(L"Recording stopped \u2014 couldn't write the file ({})", UiText(reason)));
        return;
      }
    }
  }
}
