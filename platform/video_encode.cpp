#include "platform/video_encode.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // 100-ns units at this boundary
constexpr int kStereoChannels = 2;
constexpr int kBytesPerStereoFrame = 4;         // two 16-bit samples
constexpr float kPcmScale = 1.0f / 32768.0f;
constexpr int kMaxPendingCodecFrames = 16;      // PCM held back while the encoder is full
const char* const kX264Preset = "veryfast";     // real time at 1080p30 on a few cores

}  // namespace

struct EncoderTransform {
  AVCodecContext* context = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  bool audio = false;
  int width = 0, height = 0;
  int64_t frameTicks = 0;  // video: one frame's duration
  // Audio: interleaved PCM not yet handed to the encoder, and the pts (in samples) of its first.
  std::vector<int16_t> pending;
  size_t pendingCapacity = 0;  // samples
  int64_t nextPts = 0;
  bool started = false;
  bool ended = false;
  ~EncoderTransform() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
  }
};

void EncoderTransformDeleter::operator()(EncoderTransform* transform) const { delete transform; }

namespace {

// x264 reports its settings and statistics at the info level on every open and close: keep the
// default stderr log to errors unless someone chose a level already.
void QuietLibavInfo() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);
  });
}

EncoderTransformPtr Fail(TransformOpenFailure kind, int error, TransformOpenFailure* failure,
                         int* code) {
  if (failure) *failure = kind;
  if (code) *code = error;
  return nullptr;
}

int64_t TicksToSamples(int64_t ticks, int rate) {
  return av_rescale(ticks, rate, kTicksPerSecond);
}

int64_t SamplesToTicks(int64_t samples, int rate) {
  return av_rescale(samples, kTicksPerSecond, rate);
}

// Hands every whole AAC frame of pending PCM to the encoder. True when at least one was taken;
// *error gets a hard failure (0 when none).
bool SendPendingAudio(EncoderTransform& t, int* error) {
  *error = 0;
  const int frameSamples = t.context->frame_size;
  const size_t frameValues = static_cast<size_t>(frameSamples) * kStereoChannels;
  size_t offset = 0;
  while (t.pending.size() - offset >= frameValues) {
    int rc = av_frame_make_writable(t.frame);
    if (rc < 0) {
      *error = rc;
      break;
    }
    float* left = reinterpret_cast<float*>(t.frame->data[0]);
    float* right = reinterpret_cast<float*>(t.frame->data[1]);
    const int16_t* in = t.pending.data() + offset;
    for (int i = 0; i < frameSamples; ++i) {
      left[i] = in[2 * i] * kPcmScale;
      right[i] = in[2 * i + 1] * kPcmScale;
    }
    t.frame->nb_samples = frameSamples;
    t.frame->pts = t.nextPts;
    rc = avcodec_send_frame(t.context, t.frame);
    if (rc == AVERROR(EAGAIN)) break;
    if (rc < 0) {
      *error = rc;
      break;
    }
    offset += frameValues;
    t.nextPts += frameSamples;
  }
  t.pending.erase(t.pending.begin(), t.pending.begin() + static_cast<ptrdiff_t>(offset));
  return offset > 0;
}

}  // namespace

EncoderTransformPtr OpenH264Transform(const H264TransformSettings& s,
                                      TransformOpenFailure* failure, int* code) {
  QuietLibavInfo();
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) return Fail(TransformOpenFailure::kNoEncoder, AVERROR_ENCODER_NOT_FOUND, failure, code);
  if (s.width <= 0 || s.height <= 0 || (s.width & 1) || (s.height & 1) || s.kbps <= 0 ||
      s.fps <= 0 || s.gopFrames <= 0)
    return Fail(TransformOpenFailure::kRefused, AVERROR(EINVAL), failure, code);

  EncoderTransformPtr t(new EncoderTransform);
  t->width = s.width;
  t->height = s.height;
  t->frameTicks = kTicksPerSecond / s.fps;
  t->context = avcodec_alloc_context3(codec);
  t->frame = av_frame_alloc();
  t->packet = av_packet_alloc();
  if (!t->context || !t->frame || !t->packet)
    return Fail(TransformOpenFailure::kRefused, AVERROR(ENOMEM), failure, code);

  AVCodecContext* c = t->context;
  c->width = s.width;
  c->height = s.height;
  c->pix_fmt = AV_PIX_FMT_NV12;
  c->time_base = AVRational{1, static_cast<int>(kTicksPerSecond)};
  c->framerate = AVRational{s.fps, 1};
  c->sample_aspect_ratio = AVRational{1, 1};
  c->field_order = AV_FIELD_PROGRESSIVE;
  c->color_range = AVCOL_RANGE_MPEG;
  c->colorspace = AVCOL_SPC_BT709;
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_BT709;
  c->profile = FF_PROFILE_H264_MAIN;
  c->bit_rate = static_cast<int64_t>(s.kbps) * 1000;
  c->rc_max_rate = c->bit_rate;
  c->rc_buffer_size = static_cast<int>(c->bit_rate);  // one second of VBV
  c->gop_size = s.gopFrames;
  c->keyint_min = s.gopFrames;
  c->max_b_frames = 0;
  c->thread_count = s.threads;
  if (s.globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(c->priv_data, "preset", kX264Preset, 0);
  if (s.lowLatency) av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  av_opt_set(c->priv_data, "profile", "main", 0);
  // No scene-cut key frames: IDR pictures come exactly every gopFrames.
  av_opt_set(c->priv_data, "x264-params", "scenecut=0:open-gop=0", 0);

  int rc = avcodec_open2(c, codec, nullptr);
  if (rc < 0) return Fail(TransformOpenFailure::kRefused, rc, failure, code);
  t->frame->format = AV_PIX_FMT_NV12;
  t->frame->width = s.width;
  t->frame->height = s.height;
  rc = av_frame_get_buffer(t->frame, 0);
  if (rc < 0) return Fail(TransformOpenFailure::kRefused, rc, failure, code);
  if (failure) *failure = TransformOpenFailure::kNone;
  if (code) *code = 0;
  return t;
}

EncoderTransformPtr OpenAudioTransform(AudioTransformCodec kind, int sampleRate, int kbps,
                                       TransformOpenFailure* failure, int* code) {
  QuietLibavInfo();
  const AVCodec* codec = kind == AudioTransformCodec::kAac ? avcodec_find_encoder(AV_CODEC_ID_AAC)
                                                           : avcodec_find_encoder_by_name("libmp3lame");
  if (!codec) return Fail(TransformOpenFailure::kNoEncoder, AVERROR_ENCODER_NOT_FOUND, failure, code);
  if (sampleRate <= 0 || kbps <= 0)
    return Fail(TransformOpenFailure::kRefused, AVERROR(EINVAL), failure, code);

  EncoderTransformPtr t(new EncoderTransform);
  t->audio = true;
  t->context = avcodec_alloc_context3(codec);
  t->frame = av_frame_alloc();
  t->packet = av_packet_alloc();
  if (!t->context || !t->frame || !t->packet)
    return Fail(TransformOpenFailure::kRefused, AVERROR(ENOMEM), failure, code);

  AVCodecContext* c = t->context;
  c->sample_rate = sampleRate;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&c->ch_layout, kStereoChannels);
  c->bit_rate = static_cast<int64_t>(kbps) * 1000;
  if (kind == AudioTransformCodec::kAac) c->profile = FF_PROFILE_AAC_LOW;
  c->time_base = AVRational{1, sampleRate};
  int rc = avcodec_open2(c, codec, nullptr);
  if (rc < 0) return Fail(TransformOpenFailure::kRefused, rc, failure, code);

  t->frame->format = AV_SAMPLE_FMT_FLTP;
  t->frame->nb_samples = c->frame_size;
  t->frame->sample_rate = sampleRate;
  rc = av_channel_layout_copy(&t->frame->ch_layout, &c->ch_layout);
  if (rc >= 0) rc = av_frame_get_buffer(t->frame, 0);
  if (rc < 0) return Fail(TransformOpenFailure::kRefused, rc, failure, code);
  t->pendingCapacity = static_cast<size_t>(c->frame_size) * kStereoChannels * kMaxPendingCodecFrames;
  t->pending.reserve(t->pendingCapacity);
  if (failure) *failure = TransformOpenFailure::kNone;
  if (code) *code = 0;
  return t;
}

TransformInput TransformProcessInput(EncoderTransform& t, const uint8_t* data, size_t size,
                                     int64_t time, int64_t /*duration*/) {
  if (t.audio) {
    if (size % kBytesPerStereoFrame != 0 || (size > 0 && !data)) return TransformInput::kFailed;
    const size_t values = size / sizeof(int16_t);
    int error = 0;
    // Held-back PCM is bounded; one input of any size is still taken when nothing waits.
    if (!t.pending.empty() && t.pending.size() + values > t.pendingCapacity) {
      SendPendingAudio(t, &error);
      if (error < 0) return TransformInput::kFailed;
      if (!t.pending.empty() && t.pending.size() + values > t.pendingCapacity)
        return TransformInput::kNotAccepting;
    }
    if (!t.started) {
      t.nextPts = TicksToSamples(time, t.context->sample_rate);
      t.started = true;
    }
    const size_t old = t.pending.size();
    t.pending.resize(old + values);
    std::memcpy(t.pending.data() + old, data, size);
    SendPendingAudio(t, &error);
    return error < 0 ? TransformInput::kFailed : TransformInput::kAccepted;
  }

  const size_t ySize = static_cast<size_t>(t.width) * t.height;
  if (!data || size != ySize * 3 / 2) return TransformInput::kFailed;
  if (av_frame_make_writable(t.frame) < 0) return TransformInput::kFailed;
  for (int row = 0; row < t.height; ++row)
    std::memcpy(t.frame->data[0] + static_cast<ptrdiff_t>(row) * t.frame->linesize[0],
                data + static_cast<size_t>(row) * t.width, t.width);
  const uint8_t* uv = data + ySize;
  for (int row = 0; row < t.height / 2; ++row)
    std::memcpy(t.frame->data[1] + static_cast<ptrdiff_t>(row) * t.frame->linesize[1],
                uv + static_cast<size_t>(row) * t.width, t.width);
  t.frame->pts = time;
  t.frame->pict_type = AV_PICTURE_TYPE_NONE;
  int rc = avcodec_send_frame(t.context, t.frame);
  if (rc == AVERROR(EAGAIN)) return TransformInput::kNotAccepting;
  return rc < 0 ? TransformInput::kFailed : TransformInput::kAccepted;
}

TransformOutput TransformProcessOutput(EncoderTransform& t, EncodedSample* sample) {
  for (;;) {
    int rc = avcodec_receive_packet(t.context, t.packet);
    if (rc == AVERROR_EOF && t.ended) return TransformOutput::kNeedMoreInput;
    if (rc == AVERROR(EAGAIN)) {
      // The encoder may have refused PCM earlier because its output was full.
      int error = 0;
      if (t.audio && SendPendingAudio(t, &error)) continue;
      return error < 0 ? TransformOutput::kFailed : TransformOutput::kNeedMoreInput;
    }
    if (rc < 0) return TransformOutput::kFailed;
    break;
  }
  const AVPacket* p = t.packet;
  sample->data = std::span<const uint8_t>(p->data, static_cast<size_t>(p->size));
  sample->keyFrame = (p->flags & AV_PKT_FLAG_KEY) != 0;
  if (t.audio) {
    // FFmpeg stamps AAC packets early by the encoder's priming delay; the priming frame itself
    // carries the first input's time, so times start where the input did.
    const int rate = t.context->sample_rate;
    const int64_t pts = (p->pts == AV_NOPTS_VALUE ? 0 : p->pts) + t.context->initial_padding;
    sample->time = SamplesToTicks(pts, rate);
    sample->duration = SamplesToTicks(p->duration > 0 ? p->duration : t.context->frame_size, rate);
    sample->decodeTime = sample->time;
    sample->keyFrame = true;
  } else {
    sample->time = p->pts == AV_NOPTS_VALUE ? 0 : p->pts;
    sample->duration = p->duration > 0 ? p->duration : t.frameTicks;
    sample->decodeTime = p->dts == AV_NOPTS_VALUE ? sample->time : p->dts;
  }
  return TransformOutput::kSample;
}

std::vector<uint8_t> TransformCodecConfig(const EncoderTransform& t) {
  if (!t.context->extradata || t.context->extradata_size <= 0) return {};
  return std::vector<uint8_t>(t.context->extradata,
                              t.context->extradata + t.context->extradata_size);
}

int TransformPrimingSamples(const EncoderTransform& t) { return t.audio ? t.context->initial_padding : 0; }

bool TransformEndStream(EncoderTransform& t) {
  if (t.ended) return true;
  if (t.audio && !t.pending.empty()) {
    // Whole frames first; the rest goes as one short frame, which the audio codecs take last.
    int error = 0;
    SendPendingAudio(t, &error);
    if (error < 0) return false;
    const int frames = static_cast<int>(t.pending.size() / kStereoChannels);
    if (frames > 0 && frames < t.context->frame_size) {
      AVFrame* last = av_frame_alloc();
      if (!last) return false;
      last->format = t.context->sample_fmt;
      last->nb_samples = frames;
      last->sample_rate = t.context->sample_rate;
      int rc = av_channel_layout_copy(&last->ch_layout, &t.context->ch_layout);
      if (rc >= 0) rc = av_frame_get_buffer(last, 0);
      if (rc >= 0) {
        float* left = reinterpret_cast<float*>(last->data[0]);
        float* right = reinterpret_cast<float*>(last->data[1]);
        for (int i = 0; i < frames; ++i) {
          left[i] = t.pending[2 * i] * kPcmScale;
          right[i] = t.pending[2 * i + 1] * kPcmScale;
        }
        last->pts = t.nextPts;
        rc = avcodec_send_frame(t.context, last);
      }
      av_frame_free(&last);
      if (rc < 0) return false;
      t.nextPts += frames;
      t.pending.clear();
    }
  }
  const int rc = avcodec_send_frame(t.context, nullptr);
  t.ended = true;
  return rc >= 0 || rc == AVERROR_EOF;
}
