#include "platform/media_decode.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

// The densest common compressed audio: MPEG-2 layer III at 8 kbit/s and 24 kHz holds 576 frames
// in 24 bytes. Denser files (silence in FLAC or Opus) only make the reservation grow later.
constexpr uint64_t kCompressedFramesPerByteBound = 24;
// More channels than any music file carries; a stream with more is refused.
constexpr int kMaxStreamChannels = 64;
// A decoder that keeps failing without being fed is broken; end the stream instead of spinning.
constexpr int kMaxErrorsWithoutInput = 16;
constexpr size_t kLogLineBytes = 1024;

std::atomic<void (*)(std::wstring_view)> logSink{nullptr};

void LogCallback(void* avcl, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  void (*sink)(std::wstring_view) = logSink.load();
  if (sink == nullptr) return;
  char line[kLogLineBytes];
  int printPrefix = 1;
  av_log_format_line2(avcl, level, format, args, line, sizeof line, &printPrefix);
  size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) --n;
  if (n == 0) return;
  // A damaged file repeats the same complaint for every packet: log it once with a count.
  thread_local std::string last;
  thread_local unsigned repeats = 0;
  const std::string_view text(line, n);
  if (text == last) {
    ++repeats;
    return;
  }
  if (repeats > 0) sink(L"FFmpeg: (the line before repeated " + std::to_wstring(repeats) + L" times)");
  repeats = 0;
  last.assign(text);
  sink(L"FFmpeg: " + Utf8ToWide(text));
}

// --- Sample formats: one row per FFmpeg format, with swresample's own float conversion ---

float FromU8(const uint8_t* p) { return static_cast<float>(*p - 0x80) * (1.0f / (1 << 7)); }
float FromS16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v) * (1.0f / (1 << 15));
}
float FromS32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v) * (1.0f / (1u << 31));
}
float FromS64(const uint8_t* p) {
  int64_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v) * (1.0f / static_cast<float>(UINT64_C(1) << 63));
}
float FromFlt(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
float FromDbl(const uint8_t* p) {
  double v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<float>(v);
}

}  // namespace

const MediaSampleFormat kMediaSampleFormats[] = {
    {.format = AV_SAMPLE_FMT_U8, .bytes = 1, .planar = false, .read = FromU8},
    {.format = AV_SAMPLE_FMT_S16, .bytes = 2, .planar = false, .read = FromS16},
    {.format = AV_SAMPLE_FMT_S32, .bytes = 4, .planar = false, .read = FromS32},
    {.format = AV_SAMPLE_FMT_FLT, .bytes = 4, .planar = false, .read = FromFlt},
    {.format = AV_SAMPLE_FMT_DBL, .bytes = 8, .planar = false, .read = FromDbl},
    {.format = AV_SAMPLE_FMT_S64, .bytes = 8, .planar = false, .read = FromS64},
    {.format = AV_SAMPLE_FMT_U8P, .bytes = 1, .planar = true, .read = FromU8},
    {.format = AV_SAMPLE_FMT_S16P, .bytes = 2, .planar = true, .read = FromS16},
    {.format = AV_SAMPLE_FMT_S32P, .bytes = 4, .planar = true, .read = FromS32},
    {.format = AV_SAMPLE_FMT_FLTP, .bytes = 4, .planar = true, .read = FromFlt},
    {.format = AV_SAMPLE_FMT_DBLP, .bytes = 8, .planar = true, .read = FromDbl},
    {.format = AV_SAMPLE_FMT_S64P, .bytes = 8, .planar = true, .read = FromS64},
};
const size_t kMediaSampleFormatCount = sizeof kMediaSampleFormats / sizeof kMediaSampleFormats[0];

const MediaSampleFormat* FindMediaSampleFormat(int format) {
  for (const MediaSampleFormat& row : kMediaSampleFormats)
    if (row.format == format) return &row;
  return nullptr;
}

std::wstring MediaErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return Utf8ToWide(text) + L" (" + std::to_wstring(code) + L")";
}

void InstallMediaLogRoute() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(LogCallback); });
}

void RouteMediaLibraryLog(void (*sink)(std::wstring_view line)) {
  logSink.store(sink);
  InstallMediaLogRoute();
}

struct MediaReader::State {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int streamIndex = -1;
  int32_t outRate = 0;
  bool rateSettled = false;    // the first decoded block has confirmed or corrected outRate
  bool inputEnded = false;     // the decoder has been told to drain
  bool finished = false;
  std::vector<float> stereo;   // this block, interleaved at the block's own rate
  std::vector<float> output;   // the block handed out after resampling
  SwrContext* resampler = nullptr;  // only while blocks arrive at another rate than outRate
  int resamplerInRate = 0;
  std::wstring readError;

  ~State() {
    swr_free(&resampler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

MediaReader::MediaReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
MediaReader::~MediaReader() = default;

MediaOpenStatus MediaReader::Open(const std::wstring& path, std::unique_ptr<MediaReader>* reader,
                                  MediaStreamInfo* info, std::wstring* detail) {
  InstallMediaLogRoute();
  reader->reset();
  *info = MediaStreamInfo{};
  auto fail = [&](MediaOpenStatus status, const std::wstring& why) {
    if (detail) *detail = why;
    return status;
  };
  auto state = std::make_unique<State>();
  // "file:" keeps a name with a colon from being read as a protocol; the whitelist keeps nested
  // opens (playlists, concat lists) on local files.
  const std::string url = "file:" + PathToBytes(path);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  int rc = avformat_open_input(&state->format, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (rc < 0) return fail(MediaOpenStatus::CannotOpen, L"open: " + MediaErrorText(rc));
  rc = avformat_find_stream_info(state->format, nullptr);
  if (rc < 0) return fail(MediaOpenStatus::CannotOpen, L"stream info: " + MediaErrorText(rc));

  AVStream* stream = nullptr;
  for (unsigned i = 0; i < state->format->nb_streams; ++i) {
    AVStream* s = state->format->streams[i];
    const bool audio = s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    if (audio && stream == nullptr) {
      stream = s;
      state->streamIndex = static_cast<int>(i);
    } else {
      s->discard = AVDISCARD_ALL;  // cover art, video and further audio are never read
    }
  }
  if (stream == nullptr) return fail(MediaOpenStatus::NoAudio, L"no audio stream");

  const AVCodecParameters* par = stream->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (codec == nullptr)
    return fail(MediaOpenStatus::Unsupported,
                L"no decoder for " + Utf8ToWide(avcodec_get_name(par->codec_id)));
  state->decoder = avcodec_alloc_context3(codec);
  if (state->decoder == nullptr) return fail(MediaOpenStatus::Unsupported, L"decoder: out of memory");
  rc = avcodec_parameters_to_context(state->decoder, par);
  if (rc >= 0) {
    state->decoder->pkt_timebase = stream->time_base;
    rc = avcodec_open2(state->decoder, codec, nullptr);
  }
  if (rc < 0) return fail(MediaOpenStatus::Unsupported, L"decoder: " + MediaErrorText(rc));
  const int channels = state->decoder->ch_layout.nb_channels;
  const int rate = state->decoder->sample_rate;
  if (channels < 1 || channels > kMaxStreamChannels)
    return fail(MediaOpenStatus::Unsupported, L"channel count " + std::to_wstring(channels));
  if (rate < kMediaMinSampleRate || rate > kMediaMaxSampleRate)
    return fail(MediaOpenStatus::Unsupported, L"sample rate " + std::to_wstring(rate));

  state->packet = av_packet_alloc();
  state->frame = av_frame_alloc();
  if (state->packet == nullptr || state->frame == nullptr)
    return fail(MediaOpenStatus::Unsupported, L"decoder: out of memory");
  state->outRate = rate;

  info->channels = channels;
  info->sampleRate = rate;
  double seconds = 0.0;
  if (state->format->duration != AV_NOPTS_VALUE && state->format->duration > 0)
    seconds = static_cast<double>(state->format->duration) / AV_TIME_BASE;
  else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
    seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
  info->durationSeconds = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;

  const int64_t fileBytes = state->format->pb ? avio_size(state->format->pb) : -1;
  if (fileBytes > 0) {
    const uint64_t bytes = static_cast<uint64_t>(fileBytes);
    const int bits = av_get_exact_bits_per_sample(par->codec_id);
    info->framesBoundBySize = bits > 0 ? bytes * 8 / (static_cast<uint64_t>(bits) * channels)
                                       : bytes * kCompressedFramesPerByteBound;
  }
  reader->reset(new MediaReader(std::move(state)));
  return MediaOpenStatus::Ok;
}

namespace {

// Writes the frame's first two channels (the first twice for mono) into out as interleaved float.
// False when the frame's sample format has no row in the table.
bool FrameToStereo(const AVFrame* frame, std::vector<float>* out) {
  const MediaSampleFormat* row = FindMediaSampleFormat(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  if (row == nullptr || channels < 1 || frame->nb_samples < 0) return false;
  const size_t frames = static_cast<size_t>(frame->nb_samples);
  out->resize(frames * 2);
  float* dst = out->data();
  const int right = channels > 1 ? 1 : 0;
  if (row->planar) {
    const uint8_t* l = frame->extended_data[0];
    const uint8_t* r = frame->extended_data[right];
    for (size_t i = 0; i < frames; ++i) {
      dst[2 * i] = row->read(l + i * row->bytes);
      dst[2 * i + 1] = row->read(r + i * row->bytes);
    }
  } else {
    const uint8_t* p = frame->extended_data[0];
    const size_t stride = row->bytes * static_cast<size_t>(channels);
    for (size_t i = 0; i < frames; ++i) {
      dst[2 * i] = row->read(p + i * stride);
      dst[2 * i + 1] = row->read(p + i * stride + right * row->bytes);
    }
  }
  return true;
}

// Pushes stereo frames (or, with in == nullptr, the resampler's tail) through the resampler into
// out. False when the resampler fails.
bool Resample(SwrContext* swr, const float* in, size_t inFrames, std::vector<float>* out) {
  const int capacity = swr_get_out_samples(swr, static_cast<int>(inFrames));
  if (capacity < 0) return false;
  out->resize(static_cast<size_t>(capacity) * 2 + 2);
  uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out->data())};
  const uint8_t* src[1] = {reinterpret_cast<const uint8_t*>(in)};
  const int made = swr_convert(swr, dst, capacity, in ? src : nullptr, static_cast<int>(inFrames));
  if (made < 0) return false;
  out->resize(static_cast<size_t>(made) * 2);
  return true;
}

}  // namespace

bool MediaReader::ReadBlock(const float** stereo, size_t* frames) {
  State& s = *state_;
  *stereo = nullptr;
  *frames = 0;
  int errorsWithoutInput = 0;
  while (!s.finished) {
    int rc = avcodec_receive_frame(s.decoder, s.frame);
    if (rc == 0) {
      errorsWithoutInput = 0;
      const bool converted = FrameToStereo(s.frame, &s.stereo);
      const int blockRate = s.frame->sample_rate;
      av_frame_unref(s.frame);
      if (!converted) continue;  // a sample format without a row: the block is skipped
      const bool rateValid = blockRate >= kMediaMinSampleRate && blockRate <= kMediaMaxSampleRate;
      if (!s.rateSettled) {
        // Some headers state the core rate of a codec that doubles it (HE-AAC): trust the decoder.
        if (rateValid) s.outRate = blockRate;
        s.rateSettled = true;
      }
      if (s.resampler == nullptr && blockRate == s.outRate) {
        *stereo = s.stereo.data();
        *frames = s.stereo.size() / 2;
        return true;
      }
      // The rare path: a block at another rate than the stream's.
      s.output.clear();
      if (s.resampler != nullptr && s.resamplerInRate != blockRate) {
        if (!Resample(s.resampler, nullptr, 0, &s.output)) s.output.clear();
        swr_free(&s.resampler);
      }
      if (blockRate == s.outRate) {
        s.output.insert(s.output.end(), s.stereo.begin(), s.stereo.end());
      } else if (rateValid) {
        if (s.resampler == nullptr) {
          AVChannelLayout layout = AV_CHANNEL_LAYOUT_STEREO;
          if (swr_alloc_set_opts2(&s.resampler, &layout, AV_SAMPLE_FMT_FLT, s.outRate, &layout,
                                  AV_SAMPLE_FMT_FLT, blockRate, 0, nullptr) < 0 ||
              swr_init(s.resampler) < 0) {
            swr_free(&s.resampler);  // the block cannot be brought to the stream's rate: skipped
          }
          s.resamplerInRate = blockRate;
        }
        std::vector<float> resampled;
        if (s.resampler != nullptr && Resample(s.resampler, s.stereo.data(), s.stereo.size() / 2, &resampled))
          s.output.insert(s.output.end(), resampled.begin(), resampled.end());
      }
      if (s.output.empty()) continue;
      *stereo = s.output.data();
      *frames = s.output.size() / 2;
      return true;
    }
    if (rc == AVERROR_EOF) {
      s.finished = true;
      if (s.resampler != nullptr) {
        const bool ok = Resample(s.resampler, nullptr, 0, &s.output);
        swr_free(&s.resampler);
        if (ok && !s.output.empty()) {
          *stereo = s.output.data();
          *frames = s.output.size() / 2;
          return true;
        }
      }
      return false;
    }
    if (rc != AVERROR(EAGAIN)) {
      if (++errorsWithoutInput > kMaxErrorsWithoutInput) {
        s.readError = L"decoder: " + MediaErrorText(rc);
        s.finished = true;
        return false;
      }
      continue;
    }
    if (s.inputEnded) {
      // A drained decoder that still asks for input has nothing more to give.
      s.finished = true;
      return false;
    }
    rc = av_read_frame(s.format, s.packet);
    if (rc < 0) {
      if (rc != AVERROR_EOF) s.readError = L"read: " + MediaErrorText(rc);
      s.inputEnded = true;
      avcodec_send_packet(s.decoder, nullptr);
      continue;
    }
    errorsWithoutInput = 0;
    if (s.packet->stream_index == s.streamIndex) {
      // A packet the decoder rejects is dropped by it; decoding goes on with the next one.
      avcodec_send_packet(s.decoder, s.packet);
    }
    av_packet_unref(s.packet);
  }
  return false;
}

int32_t MediaReader::SampleRate() const { return state_->outRate; }
const std::wstring& MediaReader::ReadError() const { return state_->readError; }
