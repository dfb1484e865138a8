#include "support/shown_status.h"

#include "base/status_message.h"

std::wstring ShownStatusIn(int language) {
  const int saved = UiLanguage();
  SetUiLanguage(language);
  std::wstring shown = TranslateFilled(Status.message);
  SetUiLanguage(saved);
  return shown;
}
