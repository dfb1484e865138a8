#pragma once
// Looks inside a media file without decoding it (FFmpeg's libavformat).
#include <string>

// True when the file opens as a media container holding a real video stream: a moving picture,
// not a cover picture attached to audio. Reads only the container's headers; local files only.
bool MediaHasVideoStream(const std::wstring& path);
// True for a video container by its extension (.mp4, .m4v, .mov, .mkv, .avi, .wmv, any case)
// that holds a real video stream: a track's own video, where an audio file with a cover is not.
bool FileHasVideo(const std::wstring& path);

// The container's own tags and play time, as FFmpeg's command-line prober reports them.
struct MediaContainerTags {
  std::wstring title, artist, album, genre, comment;
  double duration = 0.0;  // seconds; 0 when the container gives none
};
// Reads the container's tags (the file's, else its first audio stream's: Ogg and FLAC keep them
// there) and duration. False when the file does not open as a media container. Regular files only
// (the caller checks): a FIFO would block the open.
bool ReadContainerTags(const std::wstring& path, MediaContainerTags* tags);
