#include "library/import_worker.h"

#include <deque>
#include <memory>
#include <system_error>
#include <thread>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "library/import_merge.h"
#include "platform/text.h"

namespace {

// UI thread: whether an import runs (from its start to its report), and the ones asked for meanwhile.
bool g_running = false;
std::deque<ImportJob> g_waiting;

// Starts a detached thread running body on the heap object; false, with the object still the
// caller's, when no thread could be started.
template <typename Job>
bool StartDetached(void (*body)(Job*), std::unique_ptr<Job>& job, const wchar_t* what) {
  try {
    std::thread(body, job.get()).detach();
    job.release();  // the thread owns it now
    return true;
  } catch (const std::system_error& e) {
    WriteLog(L"Import: no thread could be started for the {}: {}", what, Utf8ToWide(e.what()));
    return false;
  }
}

bool Begin(ImportJob job) {
  ShowStatus(kImportingText);
  auto owned = std::make_unique<ImportJob>(std::move(job));
  g_running = StartDetached(ImportWorker, owned, L"import");
  if (!g_running) ShowStatus(kImportNotStartedText);
  return g_running;
}

// The import has reported: the next one waiting starts.
void Finish() {
  g_running = false;
  while (!g_waiting.empty() && !g_running) {
    ImportJob next = std::move(g_waiting.front());
    g_waiting.pop_front();
    Begin(std::move(next));
  }
}

void SaveWorker(ImportSave* savePointer) {
  std::unique_ptr<ImportSave> save(savePointer);
  WriteImportFiles(*save);
  ReleaseLibraryFiles();
  if (PostToUi(kImportPost, kImportSaved | save->source, save.get())) save.release();
  else WriteLog(L"Import: the window is gone; the lists and the library were saved all the same");
}

}  // namespace

bool StartImport(uint32_t source, const std::wstring& path) {
  ImportJob job{.source = source, .path = path};
  if (g_running) {
    g_waiting.push_back(std::move(job));
    ShowStatus(kImportQueuedText);
    return true;
  }
  return Begin(std::move(job));
}

bool ImportRunning() { return g_running; }

void ImportWorker(ImportJob* jobPointer) {
  std::unique_ptr<ImportJob> job(jobPointer);
  auto result = std::make_unique<ImportResult>(RunImporter(job->source, job->path));
  MakeListFiles(*result);
  if (PostToUi(kImportPost, job->source, result.get())) result.release();
  else WriteLog(L"Import: the window is gone; the result of {} is dropped", job->path);
}

void FreeImportResult(void* result) { delete static_cast<ImportResult*>(result); }

void HandleImportPost(const UiPost& post) {
  if (post.wparam & kImportSaved) {
    std::unique_ptr<ImportSave> save(static_cast<ImportSave*>(post.lparam));
    if (save) ReportImport(*save);
    Finish();
    return;
  }
  std::unique_ptr<ImportSave> save = FoldImport(static_cast<int>(post.wparam), static_cast<ImportResult*>(post.lparam));
  if (!save) {
    Finish();
    return;
  }
  if (!save->files.empty() || save->database) {
    // Held from the copy on, so no save of the UI thread's can land before this older one.
    HoldLibraryFiles();
    if (StartDetached(SaveWorker, save, L"save")) return;
    ReleaseLibraryFiles();
    WriteImportFiles(*save);
  }
  ReportImport(*save);
  Finish();
}

void DiscardImportPost(const UiPost& post) {
  if (post.wparam & kImportSaved) delete static_cast<ImportSave*>(post.lparam);
  else FreeImportResult(post.lparam);
}
