#include "platform/media_probe.h"

#include <algorithm>
#include <initializer_list>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

// "file:" keeps a name with a colon from being read as a protocol; the whitelist keeps nested
// opens on local files.
AVFormatContext* OpenContainer(const std::wstring& path) {
  InstallMediaLogRoute();
  const std::string url = "file:" + PathToBytes(path);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* format = nullptr;
  const int rc = avformat_open_input(&format, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  return rc < 0 ? nullptr : format;
}

// Extensions (lower case) of the containers that may carry a video of their own.
constexpr const wchar_t* kVideoExtensions[] = {L".mp4", L".m4v", L".mov", L".mkv", L".avi", L".wmv"};

bool HasVideoExtension(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  const size_t slash = path.find_last_of(L"\\/");
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return false;
  std::wstring ext = path.substr(dot);
  for (wchar_t& c : ext)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return std::any_of(std::begin(kVideoExtensions), std::end(kVideoExtensions),
                     [&](const wchar_t* e) { return ext == e; });
}

// The first of the keys present in the dictionary, as text; empty when none is.
std::wstring Entry(const AVDictionary* dict, std::initializer_list<const char*> keys) {
  for (const char* key : keys)
    if (const AVDictionaryEntry* e = av_dict_get(dict, key, nullptr, 0); e && e->value && *e->value)
      return Utf8ToWide(e->value);
  return {};
}

}  // namespace

bool MediaHasVideoStream(const std::wstring& path) {
  AVFormatContext* format = OpenContainer(path);
  if (format == nullptr) return false;
  bool video = false;
  for (unsigned i = 0; i < format->nb_streams && !video; ++i) {
    const AVStream* s = format->streams[i];
    video = s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && s->codecpar->codec_id != AV_CODEC_ID_NONE &&
            !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
  }
  avformat_close_input(&format);
  return video;
}

bool FileHasVideo(const std::wstring& path) { return HasVideoExtension(path) && MediaHasVideoStream(path); }

bool ReadContainerTags(const std::wstring& path, MediaContainerTags* tags) {
  AVFormatContext* format = OpenContainer(path);
  if (format == nullptr) return false;
  // Raw streams (ADTS AAC) state no length: the prober estimates it from the bit rate.
  if (format->duration == AV_NOPTS_VALUE || format->duration <= 0) avformat_find_stream_info(format, nullptr);
  const AVDictionary* audio = nullptr;
  for (unsigned i = 0; i < format->nb_streams && audio == nullptr; ++i)
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audio = format->streams[i]->metadata;
  const auto field = [&](std::initializer_list<const char*> keys) {
    std::wstring text = Entry(format->metadata, keys);
    return text.empty() && audio != nullptr ? Entry(audio, keys) : text;
  };
  tags->title = field({"title"});
  tags->artist = field({"artist"});
  tags->album = field({"album"});
  tags->genre = field({"genre"});
  tags->comment = field({"comment", "description"});
  tags->duration = format->duration > 0 ? static_cast<double>(format->duration) / AV_TIME_BASE : 0.0;
  avformat_close_input(&format);
  return true;
}
