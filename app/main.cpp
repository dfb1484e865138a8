// Veldmix: the program's entry point.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/shell_hooks.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "platform/window.h"
#include "selftest/selftest_tick.h"

namespace {

constexpr int kUsageExitCode = 2;  // as command-line programs answer a wrong switch

// A second start hands its paths to a copy that runs in another folder: they must not depend
// on this process's working folder.
std::wstring AbsolutePath(const std::wstring& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(PathToBytes(path)), ec);
  return ec ? path : PathFromBytes(absolute.lexically_normal().string());
}

}  // namespace

int main(int argc, char** argv) {
  SetProcessLocale();
  InstallShellHooks();
  InstallSelfTestHooks();
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(PathFromBytes(argv[i]));
  const bool testRun = IsTestRun(arguments);
  // A switch is never a track to load, nor something to hand to a running copy.
  if (const std::wstring bad = testRun ? std::wstring() : FirstBadSwitch(arguments); !bad.empty()) {
    const bool asked = bad == L"--help" || bad == L"-h";
    std::fputs(WideToUtf8(BadSwitchText(bad)).c_str(), asked ? stdout : stderr);
    return kUsageExitCode;
  }
  if (!testRun)
    for (std::wstring& path : arguments) path = AbsolutePath(path);
  const std::wstring argumentText = JoinArguments(arguments);

  StartLog(argumentText);
  TestMode = testRun;
  if (!testRun) {
    int exitCode = 0;
    if (!EnforceSingleInstance(argumentText, &exitCode)) return exitCode;
  }

  std::wstring error;
  if (!StartWindowing(&error)) {
    // No display means no message box either: the terminal is where this can be read.
    WriteLog(L"No display is available ({}); Veldmix needs one for its window", error);
    std::fputs(WideToUtf8(L"Veldmix needs a display for its window, and none is available (" + error + L").\n").c_str(),
               stderr);
    return 1;
  }
  InstallStopSignals();
  if (!CreateMainWindow()) {
    TeardownAfterLoop();
    return 0;
  }
  LoadCommandLine(arguments, testRun);
  // Only once the library and session are loaded: a save before that would write them empty.
  OnDisplayLost(SaveWhenDisplayLost);
  if (PreviousRunCrashed() && !TestMode) {
    ShowStatus(L"Veldmix closed unexpectedly last time. A crash report was saved \u2014 Settings \u203a About "
               L"\u203a SUPPORT FILES",
               kCrashNoticeMs);
  }
  const int exitCode = RunMessageLoop();
  TeardownAfterLoop();
  return exitCode;
}
