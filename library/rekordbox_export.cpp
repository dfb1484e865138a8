#include "library/rekordbox_export.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>

#include "base/cue_colours.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/track_info.h"
#include "library/track_view.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/ui_post.h"

namespace {

std::wstring FileName(const std::wstring& path) {
  size_t slash = path.find_last_of(L"/\\");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void PostExportStatus(bool failed, UiText text) {
  auto message = std::make_unique<UiText>(std::move(text));
  if (PostToUi(kExportStatusPost, failed ? 1 : 0, message.get())) message.release();
}

}  // namespace

uint32_t ExportHotCueRgb(int32_t colourIndex, int slot) {
  if (colourIndex >= 0 && colourIndex < kHotCueColourCount) return HotCueColours[static_cast<size_t>(colourIndex)];
  return kDefaultHotCueRgb[static_cast<size_t>(std::clamp(slot, 0, kHotCues - 1))];
}

void BuildExportRecords(ExportContext& context, const std::wstring& path) {
  const std::wstring key = PathKey(path);
  if (!context.added.insert(key).second) return;
  ExportRecord record;
  auto form = context.pathForms.find(key);
  record.path = form != context.pathForms.end() ? form->second : key;
  if (const TrackInfo* info = FindTrackInfo(path)) record.info = *info;
  for (int slot = 0; slot < kHotCues; ++slot)
    record.hotCueRgb[static_cast<size_t>(slot)] = ExportHotCueRgb(record.info.hotCueColor[static_cast<size_t>(slot)], slot);
  context.records.push_back(std::move(record));
}

ExportJob* MakeExportJob(int list, const std::wstring& target) {
  if (list >= static_cast<int>(TrackLists.size())) return nullptr;
  ExportContext context;
  for (const TrackList& each : TrackLists)
    for (const std::wstring& path : each.paths) context.pathForms.emplace(PathKey(path), path);
  for (const LibraryFile& file : ViewItems) context.pathForms.emplace(PathKey(file.path), file.path);

  auto job = std::make_unique<ExportJob>();
  job->target = target;
  if (list < 0) {
    std::vector<const std::wstring*> keys;
    keys.reserve(TrackLibrary.size());
    for (const auto& [key, info] : TrackLibrary) keys.push_back(&key);
    std::sort(keys.begin(), keys.end(), [](const std::wstring* a, const std::wstring* b) { return *a < *b; });
    context.records.reserve(keys.size());
    for (const std::wstring* key : keys) BuildExportRecords(context, *key);
    for (size_t i = 0; i < TrackLists.size(); ++i)
      if (static_cast<int>(i) != kAutomixList && !TrackLists[i].paths.empty()) job->playlists.push_back(TrackLists[i]);
  } else {
    job->playlists.push_back(TrackLists[static_cast<size_t>(list)]);
  }
  for (const TrackList& playlist : job->playlists)
    for (const std::wstring& path : playlist.paths) BuildExportRecords(context, path);
  job->records = std::move(context.records);
  return job.release();
}

bool StartExportJob(int list, const std::wstring& target) {
  std::unique_ptr<ExportJob> job(MakeExportJob(list, target));
  if (!job) {
    WriteLog(L"rekordbox export: there is no list {}", list);
    return false;
  }
  const size_t count = job->records.size();
  ShowStatus(count == 1 ? UiText(L"Exporting 1 track for rekordbox\u2026")
                        : UiFormat(L"Exporting {} tracks for rekordbox\u2026", count));
  try {
    std::thread(ExportWorker, job.get()).detach();
    job.release();
  } catch (const std::system_error& e) {
    WriteLog(L"rekordbox export: no thread could be started: {}", Utf8ToWide(e.what()));
    ShowStatus(kExportWriteErrorText);
    return false;
  }
  return true;
}

void ExportWorker(ExportJob* jobPointer) {
  std::unique_ptr<ExportJob> job(jobPointer);
  std::wstring error;
  const int32_t written = WriteRekordboxXml(job->target, job->records, job->playlists, &error);
  if (written < 0) PostExportStatus(true, UiText(error));
  else if (written == 1) PostExportStatus(false, UiFormat(L"Exported 1 track to {}", FileName(job->target)));
  else PostExportStatus(false, UiFormat(L"Exported {} tracks to {}", written, FileName(job->target)));
}
