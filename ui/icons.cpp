#include "ui/icons.h"

#include <algorithm>

namespace {

constexpr char32_t kPrivateUseFirst = 0xE000;
constexpr char32_t kPrivateUseLast = 0xF8FF;

// Sorted by mdl2 (a test checks it).
constexpr IconGlyph kIcons[] = {
    {.mdl2 = 0xE70D, .material = 0xE313, .name = "chevron down"},
    {.mdl2 = 0xE70E, .material = 0xE316, .name = "chevron up"},
    {.mdl2 = 0xE70F, .material = 0xE3C9, .name = "edit"},
    {.mdl2 = 0xE710, .material = 0xE145, .name = "add"},
    {.mdl2 = 0xE711, .material = 0xE5CD, .name = "cancel"},
    {.mdl2 = 0xE712, .material = 0xE5D3, .name = "more"},
    {.mdl2 = 0xE713, .material = 0xE8B8, .name = "settings"},
    {.mdl2 = 0xE714, .material = 0xE04B, .name = "video"},
    {.mdl2 = 0xE71A, .material = 0xE047, .name = "stop"},
    {.mdl2 = 0xE720, .material = 0xE029, .name = "microphone"},
    {.mdl2 = 0xE721, .material = 0xE8B6, .name = "search"},
    {.mdl2 = 0xE72C, .material = 0xE5D5, .name = "refresh"},
    {.mdl2 = 0xE72E, .material = 0xE897, .name = "lock"},
    {.mdl2 = 0xE734, .material = 0xE838, .name = "favourite star"},
    {.mdl2 = 0xE73E, .material = 0xE5CA, .name = "check mark"},
    {.mdl2 = 0xE73F, .material = 0xE5D1, .name = "back to window"},
    {.mdl2 = 0xE740, .material = 0xE5D0, .name = "full screen"},
    {.mdl2 = 0xE74D, .material = 0xE872, .name = "delete"},
    {.mdl2 = 0xE74E, .material = 0xE161, .name = "save"},
    {.mdl2 = 0xE74F, .material = 0xE04F, .name = "mute"},
    {.mdl2 = 0xE767, .material = 0xE050, .name = "volume"},
    {.mdl2 = 0xE768, .material = 0xE037, .name = "play"},
    {.mdl2 = 0xE769, .material = 0xE034, .name = "pause"},
    {.mdl2 = 0xE76B, .material = 0xE5CB, .name = "chevron left"},
    {.mdl2 = 0xE76C, .material = 0xE5CC, .name = "chevron right"},
    {.mdl2 = 0xE771, .material = 0xE40A, .name = "personalise"},
    {.mdl2 = 0xE7A6, .material = 0xE15A, .name = "redo"},
    {.mdl2 = 0xE7A7, .material = 0xE166, .name = "undo"},
    {.mdl2 = 0xE7BA, .material = 0xE002, .name = "warning"},
    {.mdl2 = 0xE7F5, .material = 0xE32D, .name = "speakers"},
    {.mdl2 = 0xE7F6, .material = 0xE310, .name = "headphones"},
    {.mdl2 = 0xE7FC, .material = 0xEA28, .name = "game controller"},
    {.mdl2 = 0xE80F, .material = 0xE88A, .name = "home"},
    {.mdl2 = 0xE892, .material = 0xE045, .name = "previous"},
    {.mdl2 = 0xE893, .material = 0xE044, .name = "next"},
    {.mdl2 = 0xE895, .material = 0xE627, .name = "sync"},
    {.mdl2 = 0xE896, .material = 0xE2C4, .name = "download"},
    {.mdl2 = 0xE897, .material = 0xE887, .name = "help"},
    {.mdl2 = 0xE8B1, .material = 0xE043, .name = "shuffle"},
    {.mdl2 = 0xE8B7, .material = 0xE2C7, .name = "folder"},
    {.mdl2 = 0xE8D6, .material = 0xE405, .name = "audio"},
    {.mdl2 = 0xE8EE, .material = 0xE040, .name = "repeat all"},
    {.mdl2 = 0xE8F1, .material = 0xE030, .name = "library"},
    {.mdl2 = 0xE93E, .material = 0xF048, .name = "streaming"},
    {.mdl2 = 0xE946, .material = 0xE88E, .name = "info"},
    {.mdl2 = 0xE9E9, .material = 0xE429, .name = "equalizer"},
};

}  // namespace

std::span<const IconGlyph> IconTable() { return kIcons; }

char32_t MaterialIconFor(char32_t mdl2) {
  const IconGlyph* end = std::end(kIcons);
  const IconGlyph* it = std::lower_bound(std::begin(kIcons), end, mdl2,
                                         [](const IconGlyph& g, char32_t code) { return g.mdl2 < code; });
  return it != end && it->mdl2 == mdl2 ? it->material : 0;
}

std::wstring IconText(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t ch : text) {
    const char32_t code = static_cast<char32_t>(ch);
    if (code < kPrivateUseFirst || code > kPrivateUseLast) {
      out.push_back(ch);
    } else if (char32_t material = MaterialIconFor(code)) {
      out.push_back(static_cast<wchar_t>(material));
    }
  }
  return out;
}
