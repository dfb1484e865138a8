#include "engine/audio_file.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include "base/log.h"
#include "base/tags.h"
#include "engine/analysis.h"
#include "engine/engine.h"  // AssertNotAudioThread
#include "platform/files.h"
#include "platform/media_decode.h"
#include "platform/ui_post.h"

namespace {

constexpr float kDecodeShareWhenAnalysing = 0.8f;  // the last fifth of the progress is analysis
constexpr double kReserveHeadroomSeconds = 1.0;    // a duration a little short never reallocates

constexpr const wchar_t* kCantOpenText = L"Can't open this file";
constexpr const wchar_t* kNoAudioText = L"No audio in this file";
constexpr const wchar_t* kUnsupportedText = L"Unsupported audio format";
constexpr const wchar_t* kNothingDecodedText = L"No audio could be decoded";
constexpr const wchar_t* kTooLargeText = L"File is too large to load";

void RouteLibraryLogOnce() {
  static std::once_flag once;
  std::call_once(once, [] { RouteMediaLibraryLog(&WriteLogText); });
}

const wchar_t* OpenFailureText(MediaOpenStatus status) {
  switch (status) {
    case MediaOpenStatus::CannotOpen: return kCantOpenText;
    case MediaOpenStatus::NoAudio: return kNoAudioText;
    case MediaOpenStatus::Unsupported: return kUnsupportedText;
    case MediaOpenStatus::Ok: break;
  }
  return kCantOpenText;
}

// Why a file that would not open is no track, read from the disk; empty when the file opens and
// holds bytes but the error already says what is wrong with them.
const wchar_t* OpenFailureCause(const std::wstring& path, const std::wstring& error) {
  switch (ProblemReading(path)) {
    case FileProblem::Missing: return L"the file is no longer there";
    case FileProblem::Empty: return L"the file is empty";
    case FileProblem::Unreadable: return L"the file can't be read";
    case FileProblem::None: break;
  }
  return error == kCantOpenText ? L"it isn't an audio file" : nullptr;
}

}  // namespace

UiText LoadFailureText(const std::wstring& path, const std::wstring& error) {
  const size_t slash = path.find_last_of(L'/');
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const wchar_t* cause = OpenFailureCause(path, error);
  if (cause == nullptr) return UiFormat(L"{} \u2014 {}", UiText(error), name);
  return UiFormat(L"{} \u2014 {} ({})", UiText(error), name, UiText(cause));
}

std::wstring FileStem(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'/');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

size_t DecodeReserveFloats(int32_t sampleRate, double durationSeconds, uint64_t framesBoundBySize) {
  if (sampleRate <= 0 || !std::isfinite(durationSeconds) || durationSeconds <= 0.0 || framesBoundBySize == 0)
    return 0;
  const double declared = (durationSeconds + kReserveHeadroomSeconds) * sampleRate;
  const double cap = static_cast<double>(std::min(framesBoundBySize, kMaxTrackFrames));
  return 2 * static_cast<size_t>(std::min(declared, cap));
}

TrackPtr DecodeFile(const std::wstring& path, std::atomic<float>* progress, std::wstring* error, bool analyse) {
  AssertNotAudioThread();
  RouteLibraryLogOnce();
  std::wstring unused;
  std::wstring& message = error ? *error : unused;
  std::unique_ptr<MediaReader> reader;
  MediaStreamInfo info;
  std::wstring detail;
  const MediaOpenStatus opened = MediaReader::Open(path, &reader, &info, &detail);
  if (opened != MediaOpenStatus::Ok) {
    WriteLog(L"Decode: {}: {}", path, detail);
    message = OpenFailureText(opened);
    return nullptr;
  }

  auto track = std::make_shared<Track>();  // one allocation with its control block
  track->path = path;
  track->sampleRate = info.sampleRate;
  const float scale = analyse ? kDecodeShareWhenAnalysing : 1.0f;
  if (const size_t reserve = DecodeReserveFloats(info.sampleRate, info.durationSeconds, info.framesBoundBySize)) {
    try {
      track->samples.reserve(reserve);
    } catch (const std::bad_alloc&) {
      // Only a hint: the vector grows as the audio arrives.
      WriteLog(L"Decode: {}: cannot reserve {} samples, decoding without", path, reserve);
    }
  }

  uint64_t frames = 0;
  const float* block = nullptr;
  size_t blockFrames = 0;
  try {
    while (reader->ReadBlock(&block, &blockFrames)) {
      if (blockFrames > kMaxTrackFrames - frames) {
        WriteLog(L"Decode: {}: more than {} frames", path, kMaxTrackFrames);
        message = kTooLargeText;
        return nullptr;
      }
      track->samples.insert(track->samples.end(), block, block + 2 * blockFrames);
      frames += blockFrames;
      if (progress != nullptr && info.durationSeconds > 0.0) {
        const double done = static_cast<double>(frames) / reader->SampleRate() / info.durationSeconds;
        progress->store(std::min(scale, static_cast<float>(done) * scale));
      }
    }
  } catch (const std::bad_alloc&) {
    WriteLog(L"Decode: {}: out of memory after {} frames", path, frames);
    message = kTooLargeText;
    return nullptr;
  } catch (const std::length_error&) {
    message = kTooLargeText;
    return nullptr;
  }
  if (!reader->ReadError().empty()) WriteLog(L"Decode: {}: stopped early: {}", path, reader->ReadError());
  track->sampleRate = reader->SampleRate();
  track->frames = track->samples.size() / 2;
  reader.reset();
  if (track->frames < static_cast<uint64_t>(track->sampleRate / kMinTrackFraction)) {
    message = kNothingDecodedText;
    return nullptr;
  }

  TrackTags tags;
  ReadTags(path, &tags);
  track->title = tags.title.empty() ? FileStem(path) : tags.title;
  track->artist = tags.artist;
  if (analyse) AnalyzeTrack(*track);
  if (progress != nullptr) progress->store(1.0f);
  return track;
}

void PrelistenLoadThread(PrelistenJob* job) {
  const std::unique_ptr<PrelistenJob> owned(job);
  auto holder = std::make_unique<TrackPtr>();
  std::atomic<float> progress{0.0f};
  std::wstring error;  // a failed prelisten arrives as an empty pointer; the text is not shown
  *holder = DecodeFile(owned->path, &progress, &error, false);
  if (PostToUi(kPrelistenReadyPost, static_cast<uintptr_t>(owned->serial), holder.get())) holder.release();
}
