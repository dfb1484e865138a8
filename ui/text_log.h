#pragma once
// A list of the text lines the drawing layer is asked for, for tests that look for labels cut,
// dropped or drawn over each other. UI thread.
#include <string>
#include <vector>

#include "ui/draw.h"

// While set, every text line asked for through DrawText, DrawTextAsIs or DrawTextRun is listed
// here, also one whose box has no width (which is not drawn): the shown text, its box, its size
// and the width it takes on one line.
struct DrawnText {
  std::wstring text;
  Rc box;
  float size = 0;
  float width = 0;
  int align = 0;
};
extern std::vector<DrawnText>* DrawnTextLog;
