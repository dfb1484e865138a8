#include "ui/popup_menu.h"

uint32_t ShowPopupMenu(const std::vector<PopupMenuEntry>&, uint32_t) { return 0; }
