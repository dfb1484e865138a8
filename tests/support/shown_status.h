#pragma once
// The status message as the pill draws it in a given UI language. Tests only.
#include <string>

#include "ui/language.h"  // the kUi* language numbers

// Translates and fills Status.message in `language`, then restores the language that was set.
std::wstring ShownStatusIn(int language);
