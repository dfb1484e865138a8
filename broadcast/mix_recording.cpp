#include "broadcast/mix_recording.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "app/log.h"
#include "app/settings.h"
#include "engine/deck_snapshot.h"
#include "engine/encode.h"
#include "engine/engine.h"
#include "engine/recorder.h"
#include "library/files.h"
#include "library/now_playing.h"
#include "library/tracklist_text.h"
#include "platform/ui_post.h"
#include "ui/status_line.h"

std::wstring RecordingPath;
std::vector<TracklistEntry> RecordingTracklist;

namespace {

constexpr const wchar_t* kWavExtension = L".wav";
constexpr const wchar_t* kTracklistSuffix = L" tracklist.txt";

std::wstring FileNameOf(const std::wstring& path) { return std::filesystem::path(path).filename().wstring(); }

std::wstring WithExtension(const std::wstring& path, const wchar_t* extension) {
  return std::filesystem::path(path).replace_extension(extension).wstring();
}

// Decks already heard when the recording starts go in at 0:00, in deck order.
void SeedTracklist() {
  for (int deck = 0; deck < kEngineDecks; ++deck) {
    const DeckSnapshot& shot = DeckSnapshots[deck];
    if (shot.track && shot.playing && IsDeckAudible(deck)) RecordingTracklist.push_back({0.0, shot.track->path});
  }
}

void StartMixRecording() {
  RecordingPath = (std::filesystem::path(RecordingsDir()) / RecordingFileName(NowLocal())).wstring();
  RecordingTracklist.clear();
  if (!StartRecording(RecordingPath)) {
    ShowStatus(L"Couldn't start recording \u2014 is an audio output available?");
    return;
  }
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

void StopMixRecording() {
  StopRecording();
  WriteTracklistFile();
  const int32_t format = std::clamp(Settings.RecordFormat, kRecordFormatWav, kRecordFormatFlac);
  if (format == kRecordFormatWav || RecordingPath.empty()) {
    ShowStatus(L"Recording saved to Music\\Veldmix Recordings");
    return;
  }
  const bool flac = format == kRecordFormatFlac;
  ShowStatus(flac ? L"Saving your mix as FLAC\u2026" : L"Saving your mix as MP3\u2026");
  std::thread(SaveRecordingThread, new SaveRecordingJob{RecordingPath, flac}).detach();
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
  if (Engine.recording.load())
    StopMixRecording();
  else
    StartMixRecording();
}

void SaveRecordingThread(SaveRecordingJob* job) {
  std::unique_ptr<SaveRecordingJob> owned(job);
  const wchar_t* name = owned->flac ? L"FLAC" : L"MP3";
  const std::wstring output = WithExtension(owned->wavPath, owned->flac ? L".flac" : L".mp3");
  std::wstring error;
  auto message = std::make_unique<std::wstring>();
  if (EncodeWavFile(owned->wavPath, output, owned->flac ? AudioSubtype::Flac : AudioSubtype::Mp3, name, &error)) {
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(owned->wavPath), ignored);
    *message = fmt::format(L"Mix saved as {} in Music\\Veldmix Recordings", name);
  } else {
    WriteLog(L"Recording: the {} copy failed: {}", name, error);
    *message = error;
  }
  if (PostToUi(kRecordingStatusPost, 0, message.get())) message.release();
}
