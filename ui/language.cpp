#include "ui/language.h"

#include <cstdlib>
#include <string_view>

namespace {

int CurrentLanguage = 0;

// The language code of a locale name: "de_AT.UTF-8@euro" -> "de"; "pt:en" (a $LANGUAGE list)
// -> "pt".
std::string_view LanguageCode(std::string_view locale) {
  return locale.substr(0, locale.find_first_of("_.@:"));
}

}  // namespace

int DefaultUiLanguage() {
  struct Code {
    std::string_view code;
    int language;
  };
  static constexpr Code kCodes[] = {{"es", 1}, {"de", 2}, {"pt", 3}, {"fr", 4}};
  // The first variable that is set decides, as it does for the messages of every program.
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string_view code = LanguageCode(value);
    for (const Code& c : kCodes)
      if (c.code == code) return c.language;
    return 0;
  }
  return 0;
}

void SetUiLanguage(int lang) { CurrentLanguage = (lang >= 1 && lang <= 4) ? lang : 0; }

int UiLanguage() { return CurrentLanguage; }
