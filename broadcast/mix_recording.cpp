#include "broadcast/mix_recording.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "app/log.h"
#include "app/settings.h"
#include "app/status_message.h"
#include "engine/deck_snapshot.h"
#include "engine/encode.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "engine/wav_file.h"
#include "library/files.h"
#include "library/now_playing.h"
#include "library/tracklist_text.h"
#include "platform/ui_post.h"

std::wstring RecordingPath;
std::vector<TracklistEntry> RecordingTracklist;

namespace {

constexpr const wchar_t* kWavExtension = L".wav";
constexpr const wchar_t* kTracklistSuffix = L" tracklist.txt";
constexpr int kStopReasonMs = 5000;  // a recording that stopped by itself says why this long
constexpr double kMp3BytesPerSecond = kMp3BitsPerSecond / 8.0;
constexpr double kFlacShareOfWav = 1.0;  // worst case: noise does not compress

// REC started the engine's recorder and the recording has not been finished yet (by a second
// press or, after it stopped by itself, by MixRecordingTick).
bool MixRecordingOpen = false;

std::wstring FileNameOf(const std::wstring& path) { return std::filesystem::path(path).filename().wstring(); }
std::wstring FolderOf(const std::wstring& path) { return std::filesystem::path(path).parent_path().wstring(); }

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension) {
  return std::filesystem::path(path).replace_extension(extension).wstring();
}

int32_t ChosenFormat() { return std::clamp(Settings.RecordFormat, kRecordFormatWav, kRecordFormatFlac); }

// The share of the WAV's size the chosen copy needs, kept free on the disk while recording.
double CopyShare(int32_t format, int32_t rate) {
  if (format == kRecordFormatFlac) return kFlacShareOfWav;
  if (format == kRecordFormatMp3) return kMp3BytesPerSecond / (std::max(rate, 1) * double(kWavBytesPerFrame));
  return 0.0;
}

// Decks already heard when the recording starts go in at 0:00, in deck order.
void SeedTracklist() {
  for (int deck = 0; deck < kSnapshotDecks; ++deck) {
    const DeckSnapshot& shot = DeckSnapshots[deck];
    if (shot.track && shot.playing && IsDeckAudible(deck)) RecordingTracklist.push_back({0.0, shot.track->path});
  }
}

// The dated name in the recordings folder; a second recording within the same second gets " 2",
// " 3"... so it never overwrites the first.
std::wstring NewRecordingPath() {
  const std::filesystem::path folder(RecordingsDir());
  const std::wstring name = RecordingFileName(NowLocal());
  std::filesystem::path path = folder / name;
  const std::wstring stem = std::filesystem::path(name).stem().wstring();
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(path, ec); ++n) path = folder / fmt::format(L"{} {}{}", stem, n, kWavExtension);
  return path.wstring();
}

void StartMixRecording() {
  RecordingPath = NewRecordingPath();
  RecordingTracklist.clear();
  const RecordingLimits limits{.copyShare = CopyShare(ChosenFormat(), RunningOutputRate(Engine))};
  if (!StartRecording(RecordingPath, limits)) {
    ShowStatus(L"Couldn't start recording \u2014 is an audio output available?");
    return;
  }
  MixRecordingOpen = true;
  ShowStatus(L"Recording to " + FileNameOf(RecordingPath));
  SeedTracklist();
}

void WriteTracklistFile() {
  if (!RecordingTracklist.empty() && !RecordingPath.empty()) {
    std::vector<std::wstring> paths;
    std::vector<double> seconds;
    for (const TracklistEntry& entry : RecordingTracklist) {
      paths.push_back(entry.path);
      seconds.push_back(entry.seconds);
    }
    WriteUtf8File(TracklistPathFor(RecordingPath), TracklistText(paths, &seconds));
  }
  RecordingTracklist.clear();
}

// Stops the recorder (when it still runs) and makes what a stop makes: the tracklist, then the
// copy on a worker. After a stop of its own the recorder's reason leads every message.
void FinishMixRecording() {
  MixRecordingOpen = false;
  StopRecording();
  const std::wstring reason = RecordingProblem();
  WriteTracklistFile();
  const int32_t format = ChosenFormat();
  if (format == kRecordFormatWav || RecordingPath.empty()) {
    const std::wstring saved = L"Recording saved to " + ShownFolder(FolderOf(RecordingPath));
    if (reason.empty())
      ShowStatus(saved);
    else
      ShowStatus(reason + L". " + saved, kStopReasonMs);
    return;
  }
  const bool flac = format == kRecordFormatFlac;
  if (reason.empty())
    ShowStatus(flac ? L"Saving your mix as FLAC\u2026" : L"Saving your mix as MP3\u2026");
  else
    ShowStatus(reason, kStopReasonMs);
  std::thread(SaveRecordingThread, new SaveRecordingJob{RecordingPath, flac, reason}).detach();
}

}  // namespace

std::wstring RecordingFileName(const LocalTime& t) {
  return fmt::format(L"Veldmix mix {:04}-{:02}-{:02} {:02}-{:02}-{:02}.wav", t.year, t.month, t.day, t.hour, t.minute,
                     t.second);
}

std::wstring TracklistPathFor(const std::wstring& wavPath) {
  std::wstring stem = wavPath;
  const size_t extension = std::wstring_view(kWavExtension).size();
  if (stem.size() >= extension && stem.compare(stem.size() - extension, extension, kWavExtension) == 0)
    stem.resize(stem.size() - extension);
  return stem + kTracklistSuffix;
}

void ToggleRecording() {
  if (MixRecordingOpen || Engine.recording.load())
    FinishMixRecording();
  else
    StartMixRecording();
}

void MixRecordingTick() {
  if (MixRecordingOpen && !Engine.recording.load()) FinishMixRecording();
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
  const std::wstring output = WithExtension(owned->wavPath, owned->flac ? L".flac" : L".mp3");
  const std::wstring folder = ShownFolder(FolderOf(owned->wavPath));
  // A recording that ended on a failure keeps its WAV beside the copy.
  const bool keepWav = !owned->stopReason.empty();
  std::wstring error;
  auto message = std::make_unique<std::wstring>();
  if (EncodeWavFile(owned->wavPath, output, owned->flac ? AudioSubtype::Flac : AudioSubtype::Mp3, name, &error)) {
    std::error_code ignored;
    if (!keepWav) std::filesystem::remove(std::filesystem::path(owned->wavPath), ignored);
    *message = keepWav ? fmt::format(L"Mix saved as {} and WAV in {}", name, folder)
                       : fmt::format(L"Mix saved as {} in {}", name, folder);
  } else {
    WriteLog(L"Recording: the {} copy failed: {}", name, error);
    *message = error;
  }
  if (keepWav) *message = owned->stopReason + L". " + *message;
  if (PostToUi(kRecordingStatusPost, 0, message.get())) message.release();
}
