#include "screens/ai_set_dialog.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "library/mix_order.h"
#include "library/track_view.h"
#include "platform/desktop_open.h"
#include "platform/text.h"
#include "screens/browser_seams.h"
#include "ui/language.h"

bool AiJobRunning = false;
std::wstring LastAiDescription;
unsigned AiChatAllowanceMs = kAiChatTimeoutMs;

namespace {

constexpr int32_t kMinMinutes = 5, kMaxMinutes = 600;
constexpr size_t kNameFromDescription = 40;
constexpr wchar_t kListPrefix[] = L"AI · ";

// The set's name as a list name: characters a file name can't hold become "-".
std::wstring ListNameOf(const AiJob& job) {
  std::wstring name = job.result.name.empty() ? job.description.substr(0, kNameFromDescription) : job.result.name;
  for (wchar_t& c : name)
    if (c < 32 || std::wcschr(L"<>:\"/\\|?*", c)) c = L'-';
  return kListPrefix + name;
}

}  // namespace

int32_t AiSetMinutes(const std::wstring& text) {
  return static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger(WideToUtf8(text)), kMinMinutes, kMaxMinutes));
}

void AiSetDialog() {
  if (AiJobRunning) return ShowStatus(L"The AI is still working on your last set…");
  if (Scanning) return ShowStatus(L"Wait a moment for the tracks to finish loading");
  OpenModal(TranslateFormat(L"AI set builder — picks from the {} tracks in view", ViewOrder.size()),
            {{L"Describe the set", LastAiDescription, false},
             {L"Length (minutes)", L"60", false},
             {L"Ollama model (free, runs on this computer)", Settings.AiModel, false}},
            L"BUILD", StartAiJob);
}

void StartAiJob(const std::vector<ModalField>& fields) {
  auto field = [&fields](size_t i) { return i < fields.size() ? fields[i].value : std::wstring(); };
  LastAiDescription = field(0);
  const int32_t minutes = AiSetMinutes(field(1));
  const std::wstring model = field(2);
  if (!model.empty() && model != Settings.AiModel) {
    Settings.AiModel = model;
    SaveSettings();
  }
  auto job = std::make_unique<AiJob>();
  job->description = LastAiDescription;
  job->tracks = CollectViewTracks();
  if (job->tracks.tracks().empty()) return ShowStatus(L"There are no tracks in view — open a folder or list first");
  AiJobRunning = true;
  ShowStatus(L"The AI is building your set… (this can take a minute)");
  StartAiWorker(new AiWorkerArgs{job.release(), Settings.AiUrl, Settings.AiModel, minutes, AiChatAllowanceMs});
}

bool ApplyAiSet(AiJob* raw) {
  std::unique_ptr<AiJob> job(raw);
  AiJobRunning = false;
  if (!job) return false;
  const AiSetResult& r = job->result;
  if (r.error.empty()) {
    std::vector<std::wstring> paths;
    double seconds = 0;
    for (int32_t pick : r.picks) {
      if (pick < 0 || static_cast<size_t>(pick) >= job->tracks.tracks().size()) continue;
      const MixTrack& t = job->tracks.tracks()[static_cast<size_t>(pick)];
      paths.emplace_back(t.path);
      if (t.duration > 0 && std::isfinite(t.duration)) seconds += t.duration;
    }
    if (!ReplaceOrCreateList(ListNameOf(*job), paths)) return true;
    const auto minutes = static_cast<uint64_t>(std::max(0L, std::lround(seconds / 60)));
    ShowStatus(UiFormat(L"AI set: {}, {}. Right-click the list for Mix order to tighten the keys.",
                        CountText(paths.size(), L"1 track", L"{} tracks"),
                        CountText(minutes, L"1 minute", L"{} minutes")));
    return true;
  }
  if (r.needsOllama) {
    ShowConfirmPrompt(L"Veldmix AI", TranslateFilled(r.error) + L"\n\n" + Translate(L"Open the Ollama web site now?"),
                      Translate(L"OPEN ") + L"OLLAMA.COM", L"NOT NOW",
                      [] { OpenWithDesktop(kOllamaDownloadPage); }, {}, L"?");
  } else {
    ShowStatus(r.error);
  }
  return false;
}

// The browser's menu entry and button.
void OpenAiSetDialog() { AiSetDialog(); }
bool AiSetJobRunning() { return AiJobRunning; }
