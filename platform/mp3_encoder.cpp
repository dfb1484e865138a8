#include "platform/mp3_encoder.h"

#include <algorithm>
#include <cstdlib>

bool Mp3RateOffered(int rate) {
  return std::find(std::begin(kMp3SampleRates), std::end(kMp3SampleRates), rate) !=
         std::end(kMp3SampleRates);
}

int NearestMp3Bitrate(int kbps) {
  int best = kMp3BitratesKbps[0];
  for (int offered : kMp3BitratesKbps)
    if (std::abs(offered - kbps) < std::abs(best - kbps)) best = offered;
  return best;
}

EncoderTransformPtr OpenMp3Transform(int sampleRate, int kbps, Mp3OpenFailure* failure) {
  if (!Mp3RateOffered(sampleRate)) {
    *failure = Mp3OpenFailure::kFormatRefused;
    return nullptr;
  }
  TransformOpenFailure why = TransformOpenFailure::kNone;
  int code = 0;
  EncoderTransformPtr t = OpenAudioTransform(AudioTransformCodec::kMp3, sampleRate,
                                             NearestMp3Bitrate(kbps), &why, &code);
  if (t)
    *failure = Mp3OpenFailure::kNone;
  else
    *failure = why == TransformOpenFailure::kNoEncoder ? Mp3OpenFailure::kNoEncoder
                                                       : Mp3OpenFailure::kCannotStart;
  return t;
}
