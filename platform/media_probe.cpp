#include "platform/media_probe.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/media_internal.h"
#include "platform/text.h"

bool MediaHasVideoStream(const std::wstring& path) {
  InstallMediaLogRoute();
  // "file:" keeps a name with a colon from being read as a protocol; the whitelist keeps nested
  // opens on local files.
  const std::string url = "file:" + WideToUtf8(path);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* format = nullptr;
  const int rc = avformat_open_input(&format, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (rc < 0) return false;
  bool video = false;
  for (unsigned i = 0; i < format->nb_streams && !video; ++i) {
    const AVStream* s = format->streams[i];
    video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && s->codecpar->codec_id != AV_CODEC_ID_NONE &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
  }
  avformat_close_input(&format);
  return video;
}
