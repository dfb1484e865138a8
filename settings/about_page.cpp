#include "settings/about_page.h"

void DrawAbout(Rc) {}
