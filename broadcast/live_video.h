#pragma once
// Live video to an RTMP service: the state the rest of the program reads. UI thread.
#include <cstdint>

// 0 off, 1 connecting, 2 on air, 3 failed (the audio stream's kStream* values); off until live
// video exists.
int32_t LiveVideoState();
