#include "platform/media_encode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include "platform/files.h"
#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

constexpr int kIoBufferBytes = 1 << 16;
// Frames per encoder call when the encoder takes any size (FLAC's default block).
constexpr int kVariableFrameSize = 4608;
constexpr int kChannels = 2;

// One target format: which encoder, in which sample layout, at which bit rate (0 = lossless).
struct EncoderRow {
  AudioSubtype subtype;
  const char* encoder;
  AVSampleFormat sampleFormat;
  int64_t bitRate;
};
constexpr EncoderRow kEncoders[] = {
    {.subtype = AudioSubtype::Mp3, .encoder = "libmp3lame", .sampleFormat = AV_SAMPLE_FMT_S16P,
     .bitRate = kMp3BitsPerSecond},
    {.subtype = AudioSubtype::Flac, .encoder = "flac", .sampleFormat = AV_SAMPLE_FMT_S16, .bitRate = 0},
};
static_assert(kFlacBitsPerSample == 16, "the FLAC row feeds 16-bit samples");

const EncoderRow* FindEncoder(AudioSubtype subtype) {
  for (const EncoderRow& row : kEncoders)
    if (row.subtype == subtype) return &row;
  return nullptr;
}

int WritePacket(void* opaque, uint8_t* buf, int size) {
  const int fd = *static_cast<int*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, buf + done, static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return AVERROR(n < 0 ? errno : EIO);
    done += static_cast<int>(n);
  }
  return size;
}

int64_t SeekFile(void* opaque, int64_t offset, int whence) {
  const int fd = *static_cast<int*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
  }
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

}  // namespace

struct MediaWriter::State {
  std::string path;
  std::string tmp;
  WritePlan plan;
  int fd = -1;
  AVIOContext* io = nullptr;
  AVFormatContext* muxer = nullptr;
  AVCodecContext* encoder = nullptr;
  AVStream* stream = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  const EncoderRow* row = nullptr;
  int frameSize = 0;
  std::vector<int16_t> pending;  // interleaved frames not yet a whole encoder frame
  int64_t nextPts = 0;
  bool failed = false;
  bool finished = false;

  ~State() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&encoder);
    avformat_free_context(muxer);
    if (io != nullptr) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    if (fd >= 0) ::close(fd);
    if (!finished && !tmp.empty()) ::unlink(tmp.c_str());
  }

  // Moves every packet the encoder has ready into the container.
  bool Drain(std::wstring* why) {
    for (;;) {
      int rc = avcodec_receive_packet(encoder, packet);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) {
        *why = L"encode: " + MediaErrorText(rc);
        return false;
      }
      av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
      packet->stream_index = stream->index;
      rc = av_write_frame(muxer, packet);
      av_packet_unref(packet);
      if (rc < 0) {
        *why = L"write: " + MediaErrorText(rc);
        return false;
      }
    }
  }

  // Encodes `frames` interleaved frames from the front of pending as one encoder frame.
  bool EncodeFront(int frames, std::wstring* why) {
    frame->nb_samples = frames;
    frame->format = row->sampleFormat;
    frame->sample_rate = encoder->sample_rate;
    av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
    int rc = av_frame_get_buffer(frame, 0);
    if (rc >= 0) rc = av_frame_make_writable(frame);
    if (rc < 0) {
      *why = L"frame: " + MediaErrorText(rc);
      return false;
    }
    const int16_t* src = pending.data();
    if (av_sample_fmt_is_planar(row->sampleFormat)) {
      int16_t* left = reinterpret_cast<int16_t*>(frame->extended_data[0]);
      int16_t* right = reinterpret_cast<int16_t*>(frame->extended_data[1]);
      for (int i = 0; i < frames; ++i) {
        left[i] = src[2 * i];
        right[i] = src[2 * i + 1];
      }
    } else {
      std::memcpy(frame->extended_data[0], src, static_cast<size_t>(frames) * kChannels * sizeof(int16_t));
    }
    frame->pts = nextPts;
    nextPts += frames;
    rc = avcodec_send_frame(encoder, frame);
    av_frame_unref(frame);
    if (rc < 0) {
      *why = L"encode: " + MediaErrorText(rc);
      return false;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(frames) * kChannels);
    return Drain(why);
  }
};

MediaWriter::MediaWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
MediaWriter::~MediaWriter() = default;

std::unique_ptr<MediaWriter> MediaWriter::Open(const std::wstring& path, AudioSubtype subtype,
                                               uint32_t sampleRate, std::wstring* detail) {
  InstallMediaLogRoute();
  std::wstring ignored;
  std::wstring& why = detail ? *detail : ignored;
  auto s = std::make_unique<State>();
  s->path = PathToBytes(path);
  s->row = FindEncoder(subtype);
  const AVOutputFormat* container = av_guess_format(nullptr, s->path.c_str(), nullptr);
  const AVCodec* codec = s->row ? avcodec_find_encoder_by_name(s->row->encoder) : nullptr;
  if (container == nullptr) {
    why = L"no container for this file name";
    return nullptr;
  }
  if (codec == nullptr) {
    why = L"encoder missing";
    return nullptr;
  }
  // 0 is a definite no; "don't know" (below 0) is settled by the container when it writes its header.
  if (avformat_query_codec(container, codec->id, FF_COMPLIANCE_NORMAL) == 0) {
    why = Utf8ToWide(container->name) + L" cannot hold " + Utf8ToWide(codec->name);
    return nullptr;
  }
  if (sampleRate == 0 || sampleRate > static_cast<uint32_t>(INT32_MAX)) {
    why = L"sample rate " + std::to_wstring(sampleRate);
    return nullptr;
  }

  if (!PlanWrite(path, SpecialTarget::Refuse, &s->plan, &why)) return nullptr;
  s->tmp = PathToBytes(s->plan.temp);
  s->fd = OpenWriteTemp(s->plan);
  if (s->fd < 0) {
    why = SysText("create", errno);
    s->tmp.clear();  // nothing of ours to remove
    return nullptr;
  }
  uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
  if (buffer == nullptr) {
    why = L"out of memory";
    return nullptr;
  }
  s->io = avio_alloc_context(buffer, kIoBufferBytes, 1, &s->fd, nullptr, WritePacket, SeekFile);
  if (s->io == nullptr) {
    av_free(buffer);
    why = L"out of memory";
    return nullptr;
  }
  int rc = avformat_alloc_output_context2(&s->muxer, container, nullptr, nullptr);
  if (rc < 0) {
    why = L"container: " + MediaErrorText(rc);
    return nullptr;
  }
  s->muxer->pb = s->io;
  s->muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
  s->stream = avformat_new_stream(s->muxer, nullptr);
  s->encoder = avcodec_alloc_context3(codec);
  s->frame = av_frame_alloc();
  s->packet = av_packet_alloc();
  if (s->stream == nullptr || s->encoder == nullptr || s->frame == nullptr || s->packet == nullptr) {
    why = L"out of memory";
    return nullptr;
  }
  AVCodecContext* enc = s->encoder;
  enc->sample_rate = static_cast<int>(sampleRate);
  enc->sample_fmt = s->row->sampleFormat;
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  av_channel_layout_copy(&enc->ch_layout, &stereo);
  enc->time_base = AVRational{1, static_cast<int>(sampleRate)};
  if (s->row->bitRate > 0) enc->bit_rate = s->row->bitRate;
  if (container->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  rc = avcodec_open2(enc, codec, nullptr);
  if (rc < 0) {
    why = L"encoder: " + MediaErrorText(rc);
    return nullptr;
  }
  rc = avcodec_parameters_from_context(s->stream->codecpar, enc);
  s->stream->time_base = enc->time_base;
  if (rc >= 0) rc = avformat_write_header(s->muxer, nullptr);
  if (rc < 0) {
    why = L"header: " + MediaErrorText(rc);
    return nullptr;
  }
  const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
  s->frameSize = enc->frame_size > 0 && !anySize ? enc->frame_size : kVariableFrameSize;
  return std::unique_ptr<MediaWriter>(new MediaWriter(std::move(s)));
}

bool MediaWriter::Write(const int16_t* samples, size_t frames, std::wstring* detail) {
  std::wstring ignored;
  std::wstring& why = detail ? *detail : ignored;
  State& s = *state_;
  if (s.failed || s.finished) {
    why = L"writer already stopped";
    return false;
  }
  s.pending.insert(s.pending.end(), samples, samples + frames * kChannels);
  while (s.pending.size() >= static_cast<size_t>(s.frameSize) * kChannels) {
    if (!s.EncodeFront(s.frameSize, &why)) {
      s.failed = true;
      return false;
    }
  }
  return true;
}

bool MediaWriter::Finish(std::wstring* detail,
                         const std::function<bool(const std::wstring& written, std::wstring* why)>& check) {
  std::wstring ignored;
  std::wstring& why = detail ? *detail : ignored;
  State& s = *state_;
  if (s.failed || s.finished) {
    why = L"writer already stopped";
    return false;
  }
  s.failed = true;  // until every step below has succeeded
  // Both encoders take a short last frame.
  const int left = static_cast<int>(s.pending.size() / kChannels);
  if (left > 0 && !s.EncodeFront(left, &why)) return false;
  int rc = avcodec_send_frame(s.encoder, nullptr);
  if (rc < 0) {
    why = L"flush: " + MediaErrorText(rc);
    return false;
  }
  if (!s.Drain(&why)) return false;
  rc = av_write_trailer(s.muxer);
  if (rc < 0) {
    why = L"trailer: " + MediaErrorText(rc);
    return false;
  }
  avio_flush(s.io);
  if (s.io->error < 0) {
    why = L"write: " + MediaErrorText(s.io->error);
    return false;
  }
  if (::fsync(s.fd) != 0) {
    why = SysText("flush", errno);
    return false;
  }
  const int fd = s.fd;
  s.fd = -1;
  if (::close(fd) != 0) {
    why = SysText("close", errno);
    return false;
  }
  if (check && !check(s.plan.temp, &why)) return false;
  if (!CommitWrite(s.plan, &why)) return false;
  s.failed = false;
  s.finished = true;
  return true;
}
