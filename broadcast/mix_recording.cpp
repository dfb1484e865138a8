#include "broadcast/mix_recording.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "base/files.h"
#include "base/log.h"
#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "broadcast/video_record.h"
#include "engine/deck_snapshot.h"
#include "engine/encode.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "engine/wav_file.h"
#include "library/now_playing.h"
#include "library/tracklist_text.h"
#include "platform/clock.h"
#include "platform/ui_post.h"

std::wstring RecordingPath;
std::vector<TracklistEntry> RecordingTracklist;

namespace {

constexpr const wchar_t* kWavExtension = L".wav";
constexpr const wchar_t* kTracklistSuffix = L" tracklist.txt";
// A recording that stopped by itself says why this long before what comes after it is shown.
constexpr int kStopReasonMs = 5000;
constexpr int kVideoRefusedMs = 5000;
constexpr double kMp3BytesPerSecond = kMp3BitsPerSecond / 8.0;
constexpr double kFlacShareOfWav = 1.0;  // worst case: noise does not compress

// REC started the engine's recorder and the recording has not been finished yet (by a second
// press or, after it stopped by itself, by MixRecordingTick).
bool MixRecordingOpen = false;

// What follows the reason of a recording that stopped by itself, once the reason has been read:
// its copy (whose outcome is the next message) or, without one, where it was saved.
struct FollowUp {
  bool pending = false;
  uint64_t atMs = 0;
  std::unique_ptr<SaveRecordingJob> job;
  UiText message;
};
FollowUp StopFollowUp;

void StartCopy(std::unique_ptr<SaveRecordingJob> job) { std::thread(SaveRecordingThread, job.release()).detach(); }

void RunFollowUp() {
  if (!StopFollowUp.pending) return;
  StopFollowUp.pending = false;
  if (StopFollowUp.job)
    StartCopy(std::move(StopFollowUp.job));
  else
    ShowStatus(std::move(StopFollowUp.message));
}

std::wstring FolderOf(const std::wstring& path) { return std::filesystem::path(path).parent_path().wstring(); }

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension) {
  return std::filesystem::path(path).replace_extension(extension).wstring();
}

int32_t ChosenFormat() { return std::clamp(Settings.RecordFormat, kRecordFormatWav, kRecordFormatFlac); }

// The extension of the file a recording in `format` ends as: the WAV is only written on the way.
const wchar_t* SavedExtension(int32_t format) {
  if (format == kRecordFormatFlac) return L".flac";
  return format == kRecordFormatMp3 ? L".mp3" : kWavExtension;
}

// The share of the WAV's size the chosen copy needs, kept free on the disk while recording.
double CopyShare(int32_t format, int32_t rate) {
  if (format == kRecordFormatFlac) return kFlacShareOfWav;
  if (format == kRecordFormatMp3) return kMp3BytesPerSecond / (std::max(rate, 1) * double(kWavBytesPerFrame));
  return 0.0;
}

// The track announced as now playing when the recording starts goes in at 0:00; a deck merely
// playing along in a blend comes in only once it is announced.
void SeedTracklist() {
  const int deck = NowPlayingDeck();
  if (deck >= 0) RecordingTracklist.push_back({0.0, DeckSnapshots[deck].track->path});
}

// Every file a recording's stem names: its WAV, the copies, the video and the tracklist.
constexpr const wchar_t* kStemFiles[] = {kWavExtension, L".mp3", L".flac", L".mp4", kTracklistSuffix};

bool StemTaken(const std::filesystem::path& folder, const std::wstring& stem) {
  std::error_code ec;
  for (const wchar_t* ending : kStemFiles)
    if (std::filesystem::exists(folder / (stem + ending), ec) || ec) return true;
  return false;
}

std::wstring NewRecordingPath() { return UnusedRecordingPath(RecordingsDir(), NowLocal()); }

// Whether the folder has room for the first second and what the recorder keeps free beside it;
// a folder whose room can't be read is left to the recorder's own checks.
bool RoomToRecord(const std::wstring& folder, double copyShare) {
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(std::filesystem::path(folder), ec);
  const uint64_t second = static_cast<uint64_t>(std::max(RunningOutputRate(Engine), 1)) * kWavBytesPerFrame;
  return ec || space.available >= RecordingReserveBytes(second, copyShare);
}

// A recording the recorder ended before any sound reached it leaves nothing behind: its
// header-only WAV goes, and no tracklist or copy is made of it.
bool DropEmptyRecording() {
  if (Engine.recordFrames.load() != 0 || RecordingPath.empty()) return false;
  std::error_code ec;
  std::filesystem::remove(std::filesystem::path(RecordingPath), ec);
  if (ec) WriteLog(L"Recording: couldn't remove the empty recording {} ({})", RecordingPath, Utf8ToWide(ec.message()));
  RecordingTracklist.clear();
  return true;
}

void StartMixRecording() {
  const std::wstring folder = RecordingsDir();
  const RecordingLimits limits{.copyShare = CopyShare(ChosenFormat(), RunningOutputRate(Engine))};
  if (!RoomToRecord(folder, limits.copyShare)) {
    WriteLog(L"Recording: not started, too little room left in {}", folder);
    ShowStatus(UiFormat(L"Not enough disk space to record in {}", ShownFolder(folder)));
    return;
  }
  RecordingPath = NewRecordingPath();
  RecordingTracklist.clear();
  // Armed after the WAV, the MP4 lost the sound mixed while the WAV's thread started (a tenth of
  // a second on a busy machine).
  if (Settings.Record) ArmVideoRecordingBesideWav();
  if (!StartRecording(RecordingPath, limits)) {
    EnableVideoRecordTap(false);
    ShowStatus(L"Couldn't start recording \u2014 is an audio output available?");
    return;
  }
  MixRecordingOpen = true;
  ShowStatus(UiFormat(L"Recording to {}", FileNameOf(WithExtension(RecordingPath, SavedExtension(ChosenFormat())))));
  if (Settings.Record) {
    const std::wstring video = WithExtension(RecordingPath, L".mp4");
    UiText error;
    if (StartVideoRecording(video, Settings.VideoHeight, &error))
      ShowStatus(UiFormat(L"Recording the mix with video to {}", FileNameOf(video)));
    else
      ShowStatus(UiFormat(L"Recording the sound only \u2014 {}", error), kVideoRefusedMs);
  }
  SeedTracklist();
}

// Why the tracklist beside the recording couldn't be written; empty when it was (or had no lines).
UiText WriteTracklistFile() {
  UiText failure;
  if (!RecordingTracklist.empty() && !RecordingPath.empty()) {
    std::vector<std::wstring> paths;
    std::vector<double> seconds;
    for (const TracklistEntry& entry : RecordingTracklist) {
      paths.push_back(entry.path);
      seconds.push_back(entry.seconds);
    }
    std::wstring error;
    if (!WriteUtf8File(TracklistPathFor(RecordingPath), TracklistText(paths, &seconds), &error))
      failure = WriteFailedText(TracklistPathFor(RecordingPath), error);
  }
  RecordingTracklist.clear();
  return failure;
}

// Stops the recorder (when it still runs) and makes what a stop makes: the tracklist, then the
// copy on a worker. After a stop of its own the recorder's reason is shown first; the copy starts
// once it has been read.
void FinishMixRecording(uint64_t nowMs) {
  MixRecordingOpen = false;
  // The MP4's tap follows the WAV's switch, so both end on the same block; the MP4's stop then
  // returns at once, its encoder thread finishing the file.
  StopRecording();
  StopVideoRecording();
  const UiText reason = RecordingProblemMessage();
  if (!reason.empty() && DropEmptyRecording()) {
    RunFollowUp();
    ShowStatus(reason, kStopReasonMs);
    return;
  }
  const UiText tracklistFailure = WriteTracklistFile();
  const int32_t format = ChosenFormat();
  const bool copy = format != kRecordFormatWav && !RecordingPath.empty();
  const bool flac = format == kRecordFormatFlac;
  auto job = copy ? std::make_unique<SaveRecordingJob>(SaveRecordingJob{RecordingPath, flac, !reason.empty()}) : nullptr;
  const std::wstring folder = ShownFolder(FolderOf(RecordingPath));
  const UiText saved =
      tracklistFailure.empty()
          ? UiFormat(L"Recording saved to {}", folder)
          : UiFormat(L"Recording saved to {}, but not its tracklist \u2014 {}", folder, tracklistFailure);
  if (reason.empty()) {
    if (!copy) {
      ShowStatus(saved);
      return;
    }
    // The copy's outcome comes next; a lost tracklist is said before it.
    if (!tracklistFailure.empty()) ShowStatus(tracklistFailure);
    else ShowStatus(flac ? L"Saving your mix as FLAC\u2026" : L"Saving your mix as MP3\u2026");
    StartCopy(std::move(job));
    return;
  }
  RunFollowUp();  // an earlier one still waiting goes now
  ShowStatus(reason, kStopReasonMs);
  StopFollowUp = FollowUp{.pending = true, .atMs = nowMs + kStopReasonMs, .job = std::move(job), .message = saved};
}

constexpr int32_t kLowestRecordRate = 2;  // below it the recorder's rate is unknown: count frames as seconds

}  // namespace

void AddToRecordingTracklist(const std::wstring& path, uint64_t heardForMs) {
  const auto samePath = [&](const TracklistEntry& entry) { return entry.path == path; };
  if (std::any_of(RecordingTracklist.begin(), RecordingTracklist.end(), samePath)) return;
  const int32_t rate = Engine.recordRate.load();
  const double seconds = static_cast<double>(Engine.recordFrames.load()) / (rate < kLowestRecordRate ? 1 : rate);
  RecordingTracklist.push_back({std::max(0.0, seconds - static_cast<double>(heardForMs) / 1000.0), path});
}

std::wstring RecordingFileName(const LocalTime& t) {
  return fmt::format(L"Veldmix mix {:04}-{:02}-{:02} {:02}-{:02}-{:02}.wav", t.year, t.month, t.day, t.hour, t.minute,
                     t.second);
}

std::wstring UnusedRecordingPath(const std::wstring& folderPath, const LocalTime& time) {
  const std::filesystem::path folder(folderPath);
  const std::wstring stem = std::filesystem::path(RecordingFileName(time)).stem().wstring();
  std::wstring chosen = stem;
  for (int n = 2; StemTaken(folder, chosen); ++n) chosen = fmt::format(L"{} ({})", stem, n);
  return (folder / (chosen + kWavExtension)).wstring();
}

std::wstring TracklistPathFor(const std::wstring& wavPath) {
  std::wstring stem = wavPath;
  const size_t extension = std::wstring_view(kWavExtension).size();
  if (stem.size() >= extension && stem.compare(stem.size() - extension, extension, kWavExtension) == 0)
    stem.resize(stem.size() - extension);
  return stem + kTracklistSuffix;
}

void ToggleRecording() {
  if (MixRecordingOpen || Engine.recording.load()) {
    FinishMixRecording(MonotonicMs());
    return;
  }
  RunFollowUp();
  StartMixRecording();
}

void MixRecordingTickAt(uint64_t nowMs) {
  if (MixRecordingOpen && !Engine.recording.load()) FinishMixRecording(nowMs);
  if (StopFollowUp.pending && nowMs >= StopFollowUp.atMs) RunFollowUp();
}

void MixRecordingTick() { MixRecordingTickAt(MonotonicMs()); }

void CloseMixRecording() {
  if (!MixRecordingOpen && !Engine.recording.load()) return;
  MixRecordingOpen = false;
  StopRecording();
  StopVideoRecording();
  WriteTracklistFile();
}

std::wstring ShownFolder(const std::wstring& folder) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return folder;
  std::wstring base = Utf8ToWide(home);
  while (base.size() > 1 && base.back() == L'/') base.pop_back();
  if (folder == base) return L"~";
  if (folder.size() > base.size() && folder.compare(0, base.size(), base) == 0 && folder[base.size()] == L'/')
    return L"~" + folder.substr(base.size());
  return folder;
}

void SaveRecordingThread(SaveRecordingJob* job) {
  std::unique_ptr<SaveRecordingJob> owned(job);
  const wchar_t* name = owned->flac ? L"FLAC" : L"MP3";
  const std::wstring output =
      WithExtension(owned->wavPath, SavedExtension(owned->flac ? kRecordFormatFlac : kRecordFormatMp3));
  const std::wstring folder = ShownFolder(FolderOf(owned->wavPath));
  // A recording that ended on a failure keeps its WAV beside the copy.
  const bool keepWav = owned->stoppedItself;
  std::wstring error;
  auto message = std::make_unique<UiText>();
  if (EncodeWavFile(owned->wavPath, output, owned->flac ? AudioSubtype::Flac : AudioSubtype::Mp3, name, &error)) {
    std::error_code ignored;
    if (!keepWav) std::filesystem::remove(std::filesystem::path(owned->wavPath), ignored);
    *message = keepWav ? UiFormat(L"Mix saved as {} and WAV in {}", name, folder)
                       : UiFormat(L"Mix saved as {} in {}", name, folder);
  } else {
    WriteLog(L"Recording: the {} copy failed: {}", name, error);
    *message = UiText(error);
  }
  if (PostToUi(kRecordingStatusPost, 0, message.get())) message.release();
}
