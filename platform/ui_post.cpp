#include "platform/ui_post.h"

#include <deque>
#include <mutex>

namespace {
std::mutex g_mutex;
// Never destroyed: a detached worker that posts while the process exits must not find it gone.
std::deque<UiPost>& g_queue = *new std::deque<UiPost>;
bool g_open = false;
void (*g_wake)() = nullptr;

std::deque<UiPost> TakeAll() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::deque<UiPost> taken;
  taken.swap(g_queue);
  return taken;
}
}  // namespace

bool PostToUi(int message, uintptr_t wparam, void* lparam) {
  void (*wake)() = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_open) return false;
    g_queue.push_back(UiPost{message, wparam, lparam});
    wake = g_wake;
  }
  if (wake) wake();
  return true;
}

void DrainUiPosts(const std::function<void(const UiPost&)>& handler) {
  for (const UiPost& post : TakeAll()) handler(post);
}

void OpenUiPosts(void (*wake)()) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_open = true;
  g_wake = wake;
}

void CloseUiPosts(const std::function<void(const UiPost&)>& leftover) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_open = false;
    g_wake = nullptr;
  }
  for (const UiPost& post : TakeAll()) leftover(post);
}
