#include "broadcast/video_window.h"

void ToggleVideoWindow() {}
