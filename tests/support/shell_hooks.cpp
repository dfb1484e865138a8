// The tests run the program's code as the program does: with the shell's hooks set, as its entry
// sets them before anything else.
#include "app/shell_hooks.h"
#include "selftest/selftest_tick.h"

namespace {

const bool kHooksSet = [] {
  InstallShellHooks();
  InstallSelfTestHooks();
  return true;
}();

}  // namespace
