#include "selftest/unavailable_tests.h"

#include "selftest/selftest_state.h"

namespace {

void Unavailable(const wchar_t* test) {
  SelfTestCheck(false, test, L"not available in this build");
  FinishSelfTest();
}

}  // namespace

void StemTestTick(double) { Unavailable(L"stem test"); }
void KaraokeTestTick(double) { Unavailable(L"karaoke test"); }
