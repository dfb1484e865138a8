#include "screens/karaoke_panel.h"

std::vector<SingerDropRow> SingerRows;
