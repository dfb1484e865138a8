#pragma once
// MP3 for the audio stream: LAME through libavcodec, MPEG-1 layer III stereo at constant
// bitrate, the formats an MPEG-1 encoder offers. Encoding goes through the transform calls of
// platform/video_encode.h (push PCM, pull frames).
#include <span>

#include "platform/video_encode.h"

// The sample rates MPEG-1 layer III is defined for, in Hz.
inline constexpr int kMp3SampleRates[] = {32000, 44100, 48000};
// The MPEG-1 layer III bitrates in kbit/s, ascending (free format and 0 excluded).
inline constexpr int kMp3BitratesKbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};

enum class Mp3OpenFailure {
  kNone,
  kNoEncoder,      // FFmpeg was built without LAME
  kCannotStart,    // LAME would not open
  kFormatRefused,  // the sample rate is not one of kMp3SampleRates
};

// True when rate is one of kMp3SampleRates.
bool Mp3RateOffered(int rate);
// The offered bitrate nearest to kbps; on a tie the lower one.
int NearestMp3Bitrate(int kbps);
// Opens a stereo MP3 encoder at sampleRate with the offered bitrate nearest to kbps. Null with
// *failure set when it cannot.
EncoderTransformPtr OpenMp3Transform(int sampleRate, int kbps, Mp3OpenFailure* failure);
