#include "ui/file_dialogs.h"

std::wstring ChooseSampleFile() { return std::wstring(); }
