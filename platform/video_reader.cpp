#include "platform/video_reader.h"

#include <algorithm>
#include <cmath>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

// A decoder fed this many damaged packets in a row without a picture is not going to recover.
constexpr int kMaxBadPacketsInRow = 64;
// Decoder threads: enough for 2160p in real time, few enough to leave the UI its cores.
constexpr unsigned kMaxDecoderThreads = 4;

}  // namespace

struct VideoReader {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  SwsContext* scaler = nullptr;
  int stream = -1;
  AVRational timeBase{1, 1};
  int64_t startPts = 0;       // the stream's first time, in timeBase
  double frameSeconds = 0.0;  // for pictures without a time
  double lastSeconds = -1.0;
  bool draining = false;      // the file ended: the decoder gives what it still holds
  bool havePicture = false;
  bool sourceAlpha = false;

  ~VideoReader() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
};

void VideoReaderDeleter::operator()(VideoReader* reader) const { delete reader; }

namespace {

bool IsMovingPicture(const AVStream* s) {
  return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && s->codecpar->codec_id != AV_CODEC_ID_NONE &&
         !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// The library's best video stream, unless that is a cover picture: then the first moving one.
int ChooseVideoStream(AVFormatContext* format) {
  const int best = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (best >= 0 && IsMovingPicture(format->streams[best])) return best;
  for (unsigned i = 0; i < format->nb_streams; ++i)
    if (IsMovingPicture(format->streams[i])) return static_cast<int>(i);
  return -1;
}

}  // namespace

VideoReaderPtr OpenVideoReader(const std::wstring& path, VideoReaderInfo* info) {
  InstallMediaLogRoute();
  VideoReaderPtr r(new VideoReader());
  // "file:" keeps a name with a colon from being read as a protocol; the whitelist keeps nested
  // opens on local files.
  const std::string url = "file:" + PathToBytes(path);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  const int rc = avformat_open_input(&r->format, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (rc < 0) return nullptr;
  if (avformat_find_stream_info(r->format, nullptr) < 0) return nullptr;
  r->stream = ChooseVideoStream(r->format);
  if (r->stream < 0) return nullptr;
  for (unsigned i = 0; i < r->format->nb_streams; ++i)
    if (static_cast<int>(i) != r->stream) r->format->streams[i]->discard = AVDISCARD_ALL;

  const AVStream* s = r->format->streams[r->stream];
  const AVCodecParameters* par = s->codecpar;
  if (par->width < 1 || par->height < 1 || par->width > kVideoReaderMaxSide || par->height > kVideoReaderMaxSide)
    return nullptr;
  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  if (!decoder) return nullptr;
  r->codec = avcodec_alloc_context3(decoder);
  if (!r->codec || avcodec_parameters_to_context(r->codec, par) < 0) return nullptr;
  r->codec->thread_count = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, kMaxDecoderThreads));
  r->codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_open2(r->codec, decoder, nullptr) < 0) return nullptr;
  r->packet = av_packet_alloc();
  r->frame = av_frame_alloc();
  if (!r->packet || !r->frame) return nullptr;

  r->timeBase = s->time_base.num > 0 && s->time_base.den > 0 ? s->time_base : AVRational{1, AV_TIME_BASE};
  r->startPts = s->start_time != AV_NOPTS_VALUE ? s->start_time : 0;
  const AVRational rate = s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0 ? s->avg_frame_rate : s->r_frame_rate;
  r->frameSeconds = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 1.0 / 30.0;

  double duration = 0.0;
  if (r->format->duration > 0) duration = static_cast<double>(r->format->duration) / AV_TIME_BASE;
  else if (s->duration > 0) duration = static_cast<double>(s->duration) * av_q2d(r->timeBase);
  *info = VideoReaderInfo{par->width, par->height, std::isfinite(duration) ? duration : 0.0};
  return r;
}

bool SeekVideoReader(VideoReader* r, double seconds) {
  const double ticks = std::max(0.0, seconds) / av_q2d(r->timeBase);
  const int64_t target = r->startPts + static_cast<int64_t>(std::min(ticks, 9.0e18));
  int rc = av_seek_frame(r->format, r->stream, target, AVSEEK_FLAG_BACKWARD);
  // Some files cannot seek backwards to a key frame this way; the start always works.
  if (rc < 0) rc = avformat_seek_file(r->format, r->stream, INT64_MIN, r->startPts, r->startPts, 0);
  avcodec_flush_buffers(r->codec);
  r->draining = false;
  r->havePicture = false;
  r->lastSeconds = -1.0;
  return rc >= 0;
}

VideoReadResult ReadVideoPicture(VideoReader* r, double* seconds) {
  int bad = 0;
  for (;;) {
    int rc = avcodec_receive_frame(r->codec, r->frame);
    if (rc == 0) {
      const int64_t pts = r->frame->best_effort_timestamp;
      double t = pts != AV_NOPTS_VALUE ? static_cast<double>(pts - r->startPts) * av_q2d(r->timeBase)
                                        : r->lastSeconds + r->frameSeconds;
      if (!std::isfinite(t)) t = r->lastSeconds + r->frameSeconds;
      r->lastSeconds = t;
      r->havePicture = true;
      r->sourceAlpha = false;
      if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(r->frame->format)))
        r->sourceAlpha = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
      *seconds = t;
      return VideoReadResult::kPicture;
    }
    if (rc == AVERROR_EOF) return VideoReadResult::kEnd;
    if (rc != AVERROR(EAGAIN)) {
      if (++bad > kMaxBadPacketsInRow) return VideoReadResult::kFailed;
      continue;
    }
    if (r->draining) return VideoReadResult::kEnd;
    rc = av_read_frame(r->format, r->packet);
    if (rc == AVERROR_EOF) {
      r->draining = true;
      avcodec_send_packet(r->codec, nullptr);
      continue;
    }
    if (rc < 0) return VideoReadResult::kFailed;
    if (r->packet->stream_index == r->stream) {
      rc = avcodec_send_packet(r->codec, r->packet);
      if (rc < 0 && rc != AVERROR(EAGAIN) && ++bad > kMaxBadPacketsInRow) {
        av_packet_unref(r->packet);
        return VideoReadResult::kFailed;
      }
    }
    av_packet_unref(r->packet);
  }
}

bool ConvertVideoPicture(VideoReader* r, std::vector<uint32_t>* pixels, int* width, int* height) {
  const AVFrame* f = r->frame;
  if (!r->havePicture || f->width < 1 || f->height < 1 || f->width > kVideoReaderMaxSide ||
      f->height > kVideoReaderMaxSide)
    return false;
  const int step = f->width > kVideoReaderHalveAbove ? 2 : 1;
  const int w = std::max(1, f->width / step), h = std::max(1, f->height / step);
  // Halving picks every second pixel and row (the cheapest way to keep a 2160p file in real
  // time); same-size conversions interpolate the chroma.
  r->scaler = sws_getCachedContext(r->scaler, f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h,
                                   AV_PIX_FMT_BGRA, step > 1 ? SWS_POINT : SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!r->scaler) return false;
  pixels->resize(static_cast<size_t>(w) * h);
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(pixels->data()), nullptr, nullptr, nullptr};
  const int dstStride[4] = {w * 4, 0, 0, 0};
  // A negative line size (bottom-up rows) is followed by the scaler, so the rows come out upright.
  if (sws_scale(r->scaler, f->data, f->linesize, 0, f->height, dst, dstStride) != h) return false;
  if (r->sourceAlpha)
    for (uint32_t& p : *pixels) p |= 0xFF000000u;
  *width = w;
  *height = h;
  return true;
}
