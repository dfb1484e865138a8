// ai-set: the AI set builder over the program's data folder, as the browser's form runs it: the
// view shown through the browser's own code, StartAiJob with the form's three fields, the job's
// completion applied on this thread.
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "base/status_message.h"
#include "base/text_parse.h"
#include "library/ai_set.h"
#include "library/track_lists.h"
#include "library/track_view.h"
#include "platform/text.h"
#include "platform/ui_post.h"
#include "screens/ai_set_dialog.h"
#include "tools/veldmix-tool/commands.h"
#include "tools/veldmix-tool/library_tool.h"
#include "ui/modal.h"

namespace {

constexpr const char* kAiSetUsage =
    "usage: veldmix-tool ai-set (--folder DIR [--search TEXT] | --list NAME) --desc TEXT [--minutes N]\n"
    "         [--model NAME] [--url URL] [--receive-timeout MS] [--answer-yes]\n";

int Usage() {
  std::fputs(kAiSetUsage, stderr);
  return 2;
}

// Applies completions until the job's arrives; true when it made a list.
bool WaitForJob() {
  bool made = false;
  while (AiJobRunning) {
    DrainUiPosts([&made](const UiPost& post) {
      if (post.message == kAiSetPost) made = ApplyAiSet(static_cast<AiJob*>(post.lparam));
    });
    if (AiJobRunning) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return made;
}

// Exit 0 when a list was made (printed, then the status), else 1 with the status or the question.
int RunAiSet(const std::vector<std::string>& args) {
  std::optional<std::string> folder, search, list, desc, minutes, model, url, timeout;
  bool answerYes = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::optional<std::string>* slot = a == "--folder"            ? &folder
                                       : a == "--search"          ? &search
                                       : a == "--list"            ? &list
                                       : a == "--desc"            ? &desc
                                       : a == "--minutes"         ? &minutes
                                       : a == "--model"           ? &model
                                       : a == "--url"             ? &url
                                       : a == "--receive-timeout" ? &timeout
                                                                  : nullptr;
    if (a == "--answer-yes" && !answerYes)
      answerYes = true;
    else if (!slot || slot->has_value() || i + 1 >= args.size())
      return Usage();
    else
      *slot = args[++i];
  }
  if (folder.has_value() == list.has_value() || (list && search) || !desc) return Usage();
  double allowance = 0;
  if (timeout) {
    if (!ParseNumber(*timeout, &allowance, 1.0) || allowance > kAiChatTimeoutMs) return Usage();
    AiChatAllowanceMs = static_cast<unsigned>(allowance);
  }
  LoadLibrary(L"ai-set");
  if (url) Settings.AiUrl = Utf8ToWide(*url);
  if (list) {
    const int index = ListNamed(Utf8ToWide(*list));
    if (index < 0) {
      std::fprintf(stderr, "veldmix-tool ai-set: no list named \"%s\"\n", list->c_str());
      return Usage();
    }
    OpenScanPosts();
    ShowList(index);
    DrainScan();
    CloseScanPosts();
  } else {
    ScanFolderView(Utf8ToWide(*folder), search ? Utf8ToWide(*search) : std::wstring());
  }
  RebuildView();

  OpenUiPosts(nullptr);
  StartAiJob({{L"Describe the set", Utf8ToWide(*desc), false},
              {L"Length (minutes)", minutes ? Utf8ToWide(*minutes) : L"60", false},
              {L"Ollama model (free, runs on this computer)", model ? Utf8ToWide(*model) : Settings.AiModel, false}});
  const bool made = WaitForJob();
  CloseUiPosts([](const UiPost& post) {
    if (post.message == kAiSetPost) delete static_cast<AiJob*>(post.lparam);
  });
  if (made) PrintShownList();
  if (Prompt.pending) {
    std::printf("%s\n%s\n", WideToUtf8(Prompt.title).c_str(), WideToUtf8(Prompt.body).c_str());
    if (answerYes) AnswerConfirmPrompt(true);
  } else {
    PrintStatus();
  }
  return made ? 0 : 1;
}

}  // namespace

const ToolCommand kAiCommands[] = {
    {"ai-set",
     "(--folder DIR [--search T] | --list NAME) --desc TEXT [--minutes N] [--model M] [--url U] [--receive-timeout MS]",
     "builds an AI set from the view through the LLM server", RunAiSet},
};
const int kAiCommandCount = static_cast<int>(sizeof kAiCommands / sizeof kAiCommands[0]);
