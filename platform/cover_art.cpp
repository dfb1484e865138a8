#include "platform/cover_art.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

bool SideFits(int64_t w, int64_t h) { return w >= 1 && h >= 1 && w <= kMaxCoverSide && h <= kMaxCoverSide; }

struct RefusedSize {
  int width = 0, height = 0;
};

// Frame buffers are taken only for a picture within the bounds, whatever its header claimed.
int BoundedBuffer(AVCodecContext* codec, AVFrame* frame, int flags) {
  if (!SideFits(frame->width, frame->height)) {
    *static_cast<RefusedSize*>(codec->opaque) = {frame->width, frame->height};
    return AVERROR(EINVAL);
  }
  return avcodec_default_get_buffer2(codec, frame, flags);
}

std::wstring TooLargeText(int w, int h) {
  return fmt::format(L"the embedded picture has {} x {} pixels, more than {} a side", w, h, kMaxCoverSide);
}

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

CoverRead NoCover(std::wstring* reason, std::wstring text) {
  *reason = std::move(text);
  return CoverRead::None;
}

CoverRead DecodeCover(const AVStream* stream, int maxSide, std::vector<uint32_t>* pixels, int* width, int* height,
                      std::wstring* reason) {
  const AVPacket& data = stream->attached_pic;
  const AVCodecParameters* params = stream->codecpar;
  if (data.size <= 0) return NoCover(reason, L"the embedded picture is empty");
  if (static_cast<size_t>(data.size) > kMaxCoverBytes)
    return NoCover(reason, fmt::format(L"the embedded picture is larger than {} MiB", kMaxCoverBytes >> 20));
  if ((params->width > 0 || params->height > 0) && !SideFits(params->width, params->height))
    return NoCover(reason, TooLargeText(params->width, params->height));
  const AVCodec* decoder = avcodec_find_decoder(params->codec_id);
  if (!decoder) return NoCover(reason, L"no decoder for the embedded picture's format");
  std::unique_ptr<AVCodecContext, CodecCloser> codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), params) < 0) return NoCover(reason, L"out of memory");
  codec->max_pixels = int64_t{kMaxCoverSide} * kMaxCoverSide;
  RefusedSize refused;
  codec->opaque = &refused;
  codec->get_buffer2 = BoundedBuffer;
  codec->thread_count = 1;
  int rc = avcodec_open2(codec.get(), decoder, nullptr);
  if (rc < 0) return NoCover(reason, L"the picture's decoder can't start (" + MediaErrorText(rc) + L")");
  std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
  if (!frame) return NoCover(reason, L"out of memory");
  rc = avcodec_send_packet(codec.get(), &data);
  if (rc >= 0) {
    avcodec_send_packet(codec.get(), nullptr);  // flush: the single picture comes out now
    rc = avcodec_receive_frame(codec.get(), frame.get());
  }
  if (rc < 0 && refused.width > 0) return NoCover(reason, TooLargeText(refused.width, refused.height));
  if (rc < 0) return NoCover(reason, L"the embedded picture can't be decoded (" + MediaErrorText(rc) + L")");
  if (!SideFits(frame->width, frame->height)) return NoCover(reason, TooLargeText(frame->width, frame->height));
  std::wstring error;
  if (!ScalePictureToArgb(frame->data, frame->linesize, frame->format, frame->width, frame->height, maxSide, pixels,
                          width, height, &error))
    return NoCover(reason, std::move(error));
  return CoverRead::Picture;
}

}  // namespace

CoverRead ReadEmbeddedCover(const std::wstring& path, int maxSide, std::vector<uint32_t>* pixels, int* width,
                            int* height, std::wstring* reason) {
  std::wstring scratch;
  if (!reason) reason = &scratch;
  InstallMediaLogRoute();
  const std::string file = PathToBytes(path);
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    *reason = L"the file can't be opened (" + Utf8ToWide(std::strerror(errno)) + L")";
    return CoverRead::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    *reason = L"not a regular file";
    return CoverRead::Failed;
  }
  if (maxSide < 1) return NoCover(reason, L"no size to scale to");
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* raw = nullptr;
  const int rc = avformat_open_input(&raw, file.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (rc < 0) {
    *reason = L"not a media file this program reads (" + MediaErrorText(rc) + L")";
    return CoverRead::Failed;
  }
  std::unique_ptr<AVFormatContext, FormatCloser> demuxer(raw);
  for (unsigned i = 0; i < demuxer->nb_streams; ++i) {
    const AVStream* stream = demuxer->streams[i];
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
      return DecodeCover(stream, maxSide, pixels, width, height, reason);
  }
  return NoCover(reason, L"the file has no embedded picture");
}
