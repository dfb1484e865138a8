#include "broadcast/live_video.h"

#include "broadcast/audio_stream.h"

int32_t LiveVideoState() { return kStreamOff; }
