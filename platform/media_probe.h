#pragma once
// Looks inside a media file without decoding it (FFmpeg's libavformat).
#include <string>

// True when the file opens as a media container holding a real video stream: a moving picture,
// not a cover picture attached to audio. Reads only the container's headers; local files only.
bool MediaHasVideoStream(const std::wstring& path);
