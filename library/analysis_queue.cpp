#include "library/analysis_queue.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "base/log.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "engine/audio_file.h"
#include "library/database.h"
#include "library/track_view.h"
#include "platform/thread_priority.h"
#include "platform/ui_post.h"

bool Analysing = false;
std::atomic<uint32_t> AnalysisGeneration{0};
int AnalysisDone = 0;
int AnalysisTotal = 0;

namespace {

struct AnalysisJob {
  std::vector<std::wstring> paths;
  std::atomic<uint64_t> next{0};
  std::atomic<int32_t> running{0};
};

void AnalysisWorker(std::shared_ptr<AnalysisJob> job, uint32_t generation) {
  LowerThreadPriority();
  while (AnalysisGeneration.load() == generation) {
    const uint64_t i = job->next.fetch_add(1);
    if (i >= job->paths.size()) break;
    auto result = std::make_unique<AnalysisResult>();
    result->path = job->paths[i];
    std::atomic<float> progress{0.0f};
    std::wstring error;
    result->track = DecodeFile(result->path, &progress, &error, true);
    if (result->track) {
      std::vector<float>().swap(result->track->samples);
      std::vector<WavePoint>().swap(result->track->waveform);
    } else {
      WriteLog(L"Analysis: {}: {}", result->path, error);
    }
    if (PostToUi(kAnalysedPost, generation, result.get())) result.release();
  }
  if (job->running.fetch_sub(1) == 1) PostToUi(kAnalysisFinishedPost, generation, nullptr);
}

}  // namespace

int AnalysisWorkerCount(size_t paths, unsigned hardwareThreads) {
  const size_t half = std::max(1u, hardwareThreads) / 2;
  const size_t count = std::min(paths, half);
  return static_cast<int>(std::clamp<size_t>(count, 1, kMaxAnalysisWorkers));
}

void AnalysePaths(const std::vector<std::wstring>& paths) {
  if (paths.empty()) {
    ShowStatus(L"Everything here is already analysed");
    return;
  }
  const uint32_t generation = ++AnalysisGeneration;
  Analysing = true;
  AnalysisDone = 0;
  AnalysisTotal = static_cast<int>(paths.size());
  auto job = std::make_shared<AnalysisJob>();
  job->paths = paths;
  const int workers = AnalysisWorkerCount(paths.size(), std::thread::hardware_concurrency());
  job->running = workers;
  for (int i = 0; i < workers; ++i) std::thread(AnalysisWorker, job, generation).detach();
}

std::vector<std::wstring> UnanalysedPaths(const std::vector<std::wstring>& paths) {
  std::vector<std::wstring> out;
  for (const std::wstring& path : paths) {
    const TrackInfo* record = FindTrackInfo(path);
    if (record == nullptr || !record->analyzed) out.push_back(path);
  }
  return out;
}

void ToggleAnalysis() {
  if (Analysing) {
    ++AnalysisGeneration;
    Analysing = false;
    ShowStatus(L"Analysis stopped");
    return;
  }
  std::vector<std::wstring> shown;
  shown.reserve(ViewOrder.size());
  for (const int i : ViewOrder) shown.push_back(ViewItems[static_cast<size_t>(i)].path);
  AnalysePaths(UnanalysedPaths(shown));
}

bool ApplyAnalysisResult(uint32_t generation, AnalysisResult* resultPointer) {
  const std::unique_ptr<AnalysisResult> result(resultPointer);
  if (generation != AnalysisGeneration.load() || !result) return false;
  ++AnalysisDone;
  if (!result->track) return false;
  const Track& track = *result->track;
  RecordAnalysis(track, TrackInfoFor(result->path));
  if (SortColumn == kSortBpm || SortColumn == kSortKey) RebuildView();
  return true;
}

void FinishAnalysis(uint32_t generation) {
  if (generation != AnalysisGeneration.load()) return;
  Analysing = false;
  SaveDatabase();
  ShowStatus(L"Analysis finished");
}
