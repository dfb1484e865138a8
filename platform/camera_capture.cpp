// Capturing a camera through libavdevice's v4l2 input (or a stand-in's FFmpeg input over a FIFO)
// and converting its frames to 32-bit pixels: MJPEG with libjpeg-turbo (libavcodec for what it
// refuses), raw frames with libswscale.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <jpeglib.h>

#include "platform/camera_source.h"
#include "platform/clock.h"
#include "platform/media_internal.h"

namespace {

constexpr int kStopPollMs = 20;           // how often a wait looks at the stop flag
constexpr unsigned kRetryReadMs = 5;      // a non-blocking device with no frame yet
constexpr int kFifoBufferBytes = 1 << 16;
constexpr int kMaxSide = 16384;
constexpr uint32_t kOpaque = 0xFF000000u;

AVPixelFormat RawFormatOf(CameraSubtype subtype) {
  switch (subtype) {
    case CameraSubtype::Yuy2: return AV_PIX_FMT_YUYV422;
    case CameraSubtype::Nv12: return AV_PIX_FMT_NV12;
    default: return AV_PIX_FMT_NONE;
  }
}

const char* V4l2InputFormat(CameraSubtype subtype) {
  switch (subtype) {
    case CameraSubtype::Mjpeg: return "mjpeg";
    case CameraSubtype::Yuy2: return "yuyv422";
    case CameraSubtype::Nv12: return "nv12";
    default: return nullptr;
  }
}

// libjpeg's errors come back here instead of ending the process; its warnings (corrupt data) are
// counted, not printed.
struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
[[noreturn]] void JpegFailed(j_common_ptr jpeg) { std::longjmp(reinterpret_cast<JpegErrors*>(jpeg->err)->jump, 1); }
void JpegMessage(j_common_ptr jpeg, int level) {
  if (level < 0) ++jpeg->err->num_warnings;
}

// Decodes a whole JPEG into BGRA pixels (resized to fit) when it is w x h (any size up to
// kMaxSide when both are 0) and decodes without a warning; false otherwise (*out may be part
// written). Chroma is repeated, not interpolated, as FFmpeg's own planar-to-RGB path does, which
// also keeps it fast.
bool DecodeJpeg(jpeg_decompress_struct* jpeg, JpegErrors* errors, const uint8_t* data, size_t size, int* w, int* h,
                std::vector<uint32_t>* out) {
  if (setjmp(errors->jump)) {
    jpeg_abort_decompress(jpeg);
    return false;
  }
  errors->manager.num_warnings = 0;
  jpeg_mem_src(jpeg, data, static_cast<unsigned long>(size));
  const bool read = jpeg_read_header(jpeg, TRUE) == JPEG_HEADER_OK;
  const int iw = static_cast<int>(jpeg->image_width), ih = static_cast<int>(jpeg->image_height);
  const bool sized = *w > 0 ? iw == *w && ih == *h : iw > 0 && ih > 0 && iw <= kMaxSide && ih <= kMaxSide;
  if (!read || !sized || (jpeg->jpeg_color_space != JCS_YCbCr && jpeg->jpeg_color_space != JCS_GRAYSCALE)) {
    jpeg_abort_decompress(jpeg);
    return false;
  }
  jpeg->out_color_space = JCS_EXT_BGRA;
  jpeg->do_fancy_upsampling = FALSE;
  jpeg->dct_method = JDCT_ISLOW;
  out->resize(static_cast<size_t>(iw) * static_cast<size_t>(ih));
  jpeg_start_decompress(jpeg);
  while (jpeg->output_scanline < jpeg->output_height) {
    JSAMPROW rows[16];
    const int n = std::min<int>(16, static_cast<int>(jpeg->output_height - jpeg->output_scanline));
    for (int i = 0; i < n; ++i)
      rows[i] = reinterpret_cast<JSAMPROW>(out->data() + static_cast<size_t>(jpeg->output_scanline + i) * iw);
    jpeg_read_scanlines(jpeg, rows, static_cast<JDIMENSION>(n));
  }
  jpeg_finish_decompress(jpeg);
  *w = iw;
  *h = ih;
  return errors->manager.num_warnings == 0;
}

CameraFault FaultOfError(int error) {
  if (error == AVERROR(EACCES) || error == AVERROR(EPERM)) return CameraFault::NoAccess;
  if (error == AVERROR_EXIT) return CameraFault::Stopped;
  return CameraFault::Ended;
}

}  // namespace

// ---- conversion ---------------------------------------------------------------------------------

struct CameraConverter::State {
  CameraSubtype subtype = CameraSubtype::Other;
  AVPixelFormat raw = AV_PIX_FMT_NONE;  // raw frames: their layout
  int width = 0, height = 0;            // promised; 0 = take the frame's (MJPEG only)
  AVCodecContext* decoder = nullptr;    // MJPEG
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* sws = nullptr;
  // MJPEG through libjpeg-turbo first: several times cheaper than the FFmpeg decoder and the
  // conversion after it.
  jpeg_decompress_struct jpeg{};
  JpegErrors jpegErrors{};
  bool jpegMade = false;
  std::vector<uint32_t> decoded;  // a frame decodes here, then trades places with the caller's
  ~State() {
    if (jpegMade) jpeg_destroy_decompress(&jpeg);
    sws_freeContext(sws);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&decoder);
  }
  // Converts planes of `format` at w x h into pixels; false when no converter can be made.
  bool Scale(const uint8_t* const planes[4], const int lines[4], AVPixelFormat format, int w, int h,
             std::vector<uint32_t>* pixels) {
    // Packed YUYV: bilinear chroma with exact rounding, the same pixels as FFmpeg's own conversion
    // to bgra within a step or two. Planar (decoded MJPEG): the flags FFmpeg's own command line
    // converts with, which take its direct planar-to-RGB path, several times faster.
    const int flags = format == AV_PIX_FMT_YUYV422 ? SWS_BILINEAR | SWS_ACCURATE_RND : SWS_BICUBIC;
    sws = sws_getCachedContext(sws, w, h, format, w, h, AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
    if (!sws) return false;
    pixels->resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(pixels->data()), nullptr, nullptr, nullptr};
    const int dstLines[4] = {w * 4, 0, 0, 0};
    if (sws_scale(sws, planes, lines, 0, h, dst, dstLines) != h) return false;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA))
      for (uint32_t& p : *pixels) p |= kOpaque;
    return true;
  }
};

std::unique_ptr<CameraConverter> CameraConverter::Make(CameraSubtype subtype, int width, int height) {
  if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  std::unique_ptr<CameraConverter> converter(new CameraConverter());
  auto* s = converter->state_ = new State();
  s->subtype = subtype;
  s->width = width;
  s->height = height;
  if (subtype == CameraSubtype::Mjpeg) {
    InstallMediaLogRoute();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (!codec || !(s->decoder = avcodec_alloc_context3(codec))) return nullptr;
    s->decoder->thread_count = 1;
    if (avcodec_open2(s->decoder, codec, nullptr) < 0) return nullptr;
    if (!(s->frame = av_frame_alloc()) || !(s->packet = av_packet_alloc())) return nullptr;
    s->jpeg.err = jpeg_std_error(&s->jpegErrors.manager);
    s->jpegErrors.manager.error_exit = JpegFailed;
    s->jpegErrors.manager.emit_message = JpegMessage;
    if (setjmp(s->jpegErrors.jump) == 0) {
      jpeg_create_decompress(&s->jpeg);
      s->jpegMade = true;
    }
    return converter;
  }
  s->raw = RawFormatOf(subtype);
  if (s->raw == AV_PIX_FMT_NONE || width < 1 || height < 1) return nullptr;
  return converter;
}

CameraConverter::~CameraConverter() { delete state_; }

bool CameraConverter::Convert(const uint8_t* data, size_t size, std::vector<uint32_t>* pixels, int* width,
                              int* height) {
  State& s = *state_;
  if (!data || size == 0) return false;
  if (s.raw != AV_PIX_FMT_NONE) {
    // A raw frame shorter than its format would be read past its end: skip it.
    const int need = av_image_get_buffer_size(s.raw, s.width, s.height, 1);
    if (need <= 0 || size < static_cast<size_t>(need)) return false;
    uint8_t* planes[4] = {};
    int lines[4] = {};
    if (av_image_fill_arrays(planes, lines, data, s.raw, s.width, s.height, 1) < 0) return false;
    if (!s.Scale(planes, lines, s.raw, s.width, s.height, pixels)) return false;
    *width = s.width;
    *height = s.height;
    return true;
  }
  if (size > static_cast<size_t>(INT32_MAX)) return false;
  int w = s.width, h = s.height;
  if (s.jpegMade && DecodeJpeg(&s.jpeg, &s.jpegErrors, data, size, &w, &h, &s.decoded)) {
    pixels->swap(s.decoded);
    *width = w;
    *height = h;
    return true;
  }
  // Not reference-counted: the decoder copies it into a padded buffer of its own.
  s.packet->data = const_cast<uint8_t*>(data);
  s.packet->size = static_cast<int>(size);
  const int sent = avcodec_send_packet(s.decoder, s.packet);
  s.packet->data = nullptr;
  s.packet->size = 0;
  if (sent < 0) return false;
  if (avcodec_receive_frame(s.decoder, s.frame) < 0) return false;
  const AVFrame& f = *s.frame;
  // The decoded picture must be the size the format promised (or any sane size when it promised
  // none), and its planes must be there.
  const bool sizeOk = s.width ? (f.width == s.width && f.height == s.height)
                              : (f.width > 0 && f.height > 0 && f.width <= kMaxSide && f.height <= kMaxSide);
  const bool ok = sizeOk && f.data[0] &&
                  s.Scale(f.data, f.linesize, static_cast<AVPixelFormat>(f.format), f.width, f.height, pixels);
  if (ok) {
    *width = f.width;
    *height = f.height;
  }
  av_frame_unref(s.frame);
  return ok;
}

// ---- capture ------------------------------------------------------------------------------------

struct CameraCapture::State {
  const std::atomic<bool>* stop = nullptr;
  int fd = -1;              // a stand-in's FIFO (custom I/O)
  bool regularFile = false;
  AVIOContext* io = nullptr;
  AVFormatContext* input = nullptr;
  AVPacket* packet = nullptr;
  int stream = -1;
  std::unique_ptr<CameraConverter> converter;
  ~State() {
    av_packet_free(&packet);
    avformat_close_input(&input);
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    if (fd >= 0) close(fd);
  }
  bool Stopping() const { return stop && stop->load(); }
};

namespace {

int StopRequested(void* opaque) {
  const auto* stop = static_cast<const std::atomic<bool>*>(opaque);
  return stop && stop->load() ? 1 : 0;
}

// Waits until the FIFO is readable (a producer wrote or left) or stop is raised.
// Returns the poll events, 0 when stopping.
short WaitReadable(CameraCapture::State* s) {
  while (!s->Stopping()) {
    pollfd p{s->fd, POLLIN, 0};
    const int r = poll(&p, 1, kStopPollMs);
    if (r > 0) return p.revents ? p.revents : POLLIN;
    if (r < 0 && errno != EINTR) return POLLERR;
  }
  return 0;
}

int ReadFifo(void* opaque, uint8_t* buffer, int size) {
  auto* s = static_cast<CameraCapture::State*>(opaque);
  while (true) {
    const short events = WaitReadable(s);
    if (!events) return AVERROR_EXIT;
    const ssize_t n = read(s->fd, buffer, static_cast<size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      // No writer left (or a plain file at its end): the producer is gone.
      if ((events & POLLHUP) || s->regularFile) return AVERROR_EOF;
      continue;
    }
    if (errno == EAGAIN || errno == EINTR) continue;
    return AVERROR(errno);
  }
}

}  // namespace

std::unique_ptr<CameraCapture> CameraCapture::Open(const CameraSource& source, int format,
                                                   const std::atomic<bool>* stop, CameraFault* fault) {
  InstallMediaLogRoute();
  static const bool registered = (avdevice_register_all(), true);
  (void)registered;
  *fault = CameraFault::None;
  std::unique_ptr<CameraCapture> capture(new CameraCapture());
  auto* s = capture->state_ = new State();
  s->stop = stop;
  const bool device = source.demuxer == "v4l2";
  const CameraFormat* chosen =
      format >= 0 && format < static_cast<int>(source.formats.size()) ? &source.formats[format] : nullptr;
  AVDictionary* options = nullptr;
  if (device) {
    if (chosen) {
      if (const char* input = V4l2InputFormat(chosen->subtype)) av_dict_set(&options, "input_format", input, 0);
      av_dict_set(&options, "video_size", (std::to_string(chosen->width) + "x" + std::to_string(chosen->height)).c_str(), 0);
      if (chosen->fps > 0) av_dict_set(&options, "framerate", std::to_string(chosen->fps).c_str(), 0);
    }
  } else {
    av_dict_parse_string(&options, source.options.c_str(), "=", " ", 0);
    s->fd = open(source.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (s->fd < 0) {
      *fault = errno == EACCES || errno == EPERM ? CameraFault::NoAccess : CameraFault::WontStart;
      av_dict_free(&options);
      return nullptr;
    }
    struct stat st {};
    s->regularFile = fstat(s->fd, &st) == 0 && S_ISREG(st.st_mode);
    // A stand-in with no producer is a camera not plugged in: wait for one to write.
    if (!WaitReadable(s)) {
      *fault = CameraFault::Stopped;
      av_dict_free(&options);
      return nullptr;
    }
  }
  const AVInputFormat* demuxer = av_find_input_format(source.demuxer.c_str());
  s->input = avformat_alloc_context();
  if (!demuxer || !s->input) {
    *fault = CameraFault::WontStart;
    av_dict_free(&options);
    return nullptr;
  }
  s->input->interrupt_callback.callback = StopRequested;
  s->input->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(stop);
  if (device) {
    // Reads return EAGAIN instead of blocking in the driver, so a stop is never held up.
    s->input->flags |= AVFMT_FLAG_NONBLOCK;
  } else {
    auto* buffer = static_cast<uint8_t*>(av_malloc(kFifoBufferBytes));
    s->io = buffer ? avio_alloc_context(buffer, kFifoBufferBytes, 0, s, ReadFifo, nullptr, nullptr) : nullptr;
    if (!s->io) {
      av_free(buffer);
      *fault = CameraFault::WontStart;
      av_dict_free(&options);
      return nullptr;
    }
    s->input->pb = s->io;
    s->input->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  const int opened = avformat_open_input(&s->input, source.path.c_str(), demuxer, &options);
  av_dict_free(&options);
  if (opened < 0) {
    // avformat_open_input frees the context on failure.
    s->input = nullptr;
    *fault = s->Stopping() ? CameraFault::Stopped
             : (opened == AVERROR(EACCES) || opened == AVERROR(EPERM)) ? CameraFault::NoAccess
                                                                      : CameraFault::WontStart;
    return nullptr;
  }
  for (unsigned i = 0; i < s->input->nb_streams; ++i)
    if (s->input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      s->stream = static_cast<int>(i);
      break;
    }
  if (s->stream < 0) {
    *fault = CameraFault::Unsupported;
    return nullptr;
  }
  const AVCodecParameters& par = *s->input->streams[s->stream]->codecpar;
  CameraSubtype subtype = CameraSubtype::Other;
  if (par.codec_id == AV_CODEC_ID_MJPEG) subtype = CameraSubtype::Mjpeg;
  else if (par.codec_id == AV_CODEC_ID_RAWVIDEO && par.format == AV_PIX_FMT_YUYV422) subtype = CameraSubtype::Yuy2;
  else if (par.codec_id == AV_CODEC_ID_RAWVIDEO && par.format == AV_PIX_FMT_NV12) subtype = CameraSubtype::Nv12;
  // The size the frames must have: the stream's, else the format's (a bare MJPEG stream says none).
  const int width = par.width > 0 ? par.width : chosen ? chosen->width : 0;
  const int height = par.height > 0 ? par.height : chosen ? chosen->height : 0;
  s->converter = subtype == CameraSubtype::Other ? nullptr : CameraConverter::Make(subtype, width, height);
  if (!s->converter || !(s->packet = av_packet_alloc())) {
    *fault = CameraFault::Unsupported;
    return nullptr;
  }
  return capture;
}

CameraCapture::~CameraCapture() { delete state_; }

CameraFault CameraCapture::Next(std::vector<uint32_t>* pixels, int* width, int* height, bool* skipped) {
  State& s = *state_;
  *skipped = false;
  while (true) {
    if (s.Stopping()) return CameraFault::Stopped;
    const int r = av_read_frame(s.input, s.packet);
    if (r == AVERROR(EAGAIN)) {
      SleepMs(kRetryReadMs);
      continue;
    }
    if (r < 0) return s.Stopping() ? CameraFault::Stopped : FaultOfError(r);
    const bool ours = s.packet->stream_index == s.stream;
    const bool converted = ours && s.converter->Convert(s.packet->data, static_cast<size_t>(s.packet->size), pixels,
                                                        width, height);
    av_packet_unref(s.packet);
    if (!ours) continue;
    *skipped = !converted;
    return CameraFault::None;
  }
}
