// Veldmix: the program's entry point.
#include <string>

#include "app/log.h"
#include "app/settings.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  SetProcessLocale();
  std::wstring arguments;
  for (int i = 1; i < argc; ++i) arguments += (i > 1 ? L" " : L"") + Utf8ToWide(argv[i]);
  StartLog(arguments);
  LoadSettings();
  SaveSettings();
  WriteLog(L"==== Veldmix closed");
  return 0;
}
