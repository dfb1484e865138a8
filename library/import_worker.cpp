#include "library/import_worker.h"

#include <memory>
#include <system_error>
#include <thread>

#include "app/log.h"
#include "app/status_message.h"
#include "library/import_merge.h"
#include "platform/text.h"
#include "platform/ui_post.h"

bool StartImport(uint32_t source, const std::wstring& path) {
  ShowStatus(kImportingText);
  auto job = std::make_unique<ImportJob>();
  job->source = source;
  job->path = path;
  try {
    std::thread(ImportWorker, job.get()).detach();
    job.release();  // the thread owns it now
  } catch (const std::system_error& e) {
    WriteLog(L"Import: no thread could be started: {}", Utf8ToWide(e.what()));
    ShowStatus(kImportNotStartedText);
    return false;
  }
  return true;
}

void ImportWorker(ImportJob* jobPointer) {
  std::unique_ptr<ImportJob> job(jobPointer);
  auto result = std::make_unique<ImportResult>(RunImporter(job->source, job->path));
  if (PostToUi(kImportPost, job->source, result.get())) result.release();
  else WriteLog(L"Import: the window is gone; the result of {} is dropped", job->path);
}

void FreeImportResult(void* result) { delete static_cast<ImportResult*>(result); }
