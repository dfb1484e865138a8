#include "broadcast/video_feed.h"

void UpdateVideoFeed() {}
