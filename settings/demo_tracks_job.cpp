#include <system_error>
#include <thread>
#include <vector>

#include "base/log.h"
#include "base/tags.h"
#include "engine/encode.h"
#include "engine/wav_file.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "settings/demo_tracks.h"

namespace {

std::thread g_worker;
std::atomic<bool> g_stop{false};

std::wstring TempName(int32_t song) { return L"~demo" + std::to_wstring(song) + L".wav"; }

std::wstring WithWavExtension(const std::wstring& path) {
  return path.substr(0, path.size() - 4) + L".wav";  // every name ends in ".mp3"
}

std::wstring WriteFailure(const std::wstring& folder) { return L"Couldn't write the demo tracks to " + folder; }

void DemoTracksThread() {
  std::wstring error;
  std::vector<std::wstring> made;
  const bool ok = MakeDemoTracks(DemoTracksFolder(), &made, &error);
  if (!ok && g_stop.load()) {
    DemoTrackState.store(kDemoIdle);
    return;
  }
  if (!ok) {
    DemoTrackError = error;
    WriteLog(L"Demo tracks: {}", error);
  }
  DemoTrackState.store(ok ? kDemoDone : kDemoFailed);
}

}  // namespace

std::wstring DemoTrackFileName(int32_t song) {
  return std::wstring(L"Veldmix - ") + DemoTrackSpecs[static_cast<size_t>(song)].title + L" (Demo).mp3";
}

bool MakeDemoTrack(int32_t song, const std::wstring& folder, std::wstring* outPath, std::wstring* error) {
  CreateFolderTree(folder);  // a failure shows as the write below failing
  const DemoAudio audio = RenderDemoTrack(DemoTrackSpecs[static_cast<size_t>(song)]);
  if (g_stop.load()) return false;
  const std::wstring temp = JoinPath(folder, TempName(song));
  if (!WriteWavFile(temp, audio.samples.data(), audio.frames, kDemoSampleRate)) {
    *error = WriteFailure(folder);
    return false;
  }
  std::wstring out = JoinPath(folder, DemoTrackFileName(song));
  std::wstring encodeError;
  if (!g_stop.load() && EncodeWavFile(temp, out, AudioSubtype::Mp3, L"MP3", &encodeError)) {
    DeleteFileAt(temp);
  } else if (g_stop.load()) {
    DeleteFileAt(temp);
    return false;
  } else {
    out = WithWavExtension(out);
    if (!MoveReplace(temp, out)) {
      DeleteFileAt(temp);
      *error = WriteFailure(folder);
      return false;
    }
  }
  TrackTags tags;
  tags.title = DemoTrackSpecs[static_cast<size_t>(song)].title;
  tags.artist = L"Veldmix Demo";
  tags.album = L"Veldmix Demo Tracks";
  tags.genre = L"House";
  tags.comment = L"Made by Veldmix to try it out with. Free to use however you like.";
  UiText tagError;
  WriteTags(out, tags, &tagError);  // untagged files are still usable
  *outPath = out;
  return true;
}

bool MakeDemoTracks(const std::wstring& folder, std::vector<std::wstring>* made, std::wstring* error) {
  for (int32_t song = 0; song < static_cast<int32_t>(DemoTrackSpecs.size()); ++song) {
    // What a run killed mid-way left: the temporary and the WAV writer's staging file.
    DeleteFileAt(JoinPath(folder, TempName(song)));
    DeleteFileAt(JoinPath(folder, TempName(song) + L".tmp"));
  }
  for (int32_t song = 0; song < static_cast<int32_t>(DemoTrackSpecs.size()); ++song) {
    std::wstring path;
    if (!MakeDemoTrack(song, folder, &path, error)) return false;
    made->push_back(path);
  }
  return true;
}

void StartDemoTracks() {
  if (DemoTrackState.load() == kDemoMaking) return;
  const std::wstring folder = DemoTracksFolder();
  bool present = true;
  for (int32_t song = 0; song < static_cast<int32_t>(DemoTrackSpecs.size()) && present; ++song)
    present = FileExists(JoinPath(folder, DemoTrackFileName(song)));
  if (present) {
    DemoTrackState.store(kDemoDone);
    return;
  }
  if (g_worker.joinable()) g_worker.join();  // the last one has set its state: it is ending
  DemoTrackState.store(kDemoMaking);
  g_stop.store(false);
  try {
    g_worker = std::thread(DemoTracksThread);
  } catch (const std::system_error& e) {
    DemoTrackError = L"the work could not start";
    WriteLog(L"Demo tracks: the worker could not start ({})", Utf8ToWide(e.what()));
    DemoTrackState.store(kDemoFailed);
  }
}

void StopDemoTracks() {
  g_stop.store(true);
  if (g_worker.joinable()) g_worker.join();
}
