#include "platform/picture_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}
#include <fcntl.h>
#include <libheif/heif.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

constexpr size_t kIoBufferBytes = 64 * 1024;

std::wstring SizeText(int64_t w, int64_t h) { return fmt::format(L"{} x {}", w, h); }

bool DeclaredSizeFits(int64_t w, int64_t h) {
  return w >= 1 && h >= 1 && w <= kMaxPictureSide && h <= kMaxPictureSide && w * h <= kMaxPicturePixels;
}

std::wstring TooLargeText(int64_t w, int64_t h) {
  return L"the picture declares " + SizeText(w, h) + fmt::format(L" pixels, more than {} a side or {} megapixels",
                                                               kMaxPictureSide, kMaxPicturePixels / 1000000);
}

// The whole file, read only when it is a regular file within the size limit. O_NONBLOCK keeps a
// FIFO put in the file's place from blocking the open.
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>* bytes, std::wstring* error) {
  const int fd = open(PathToBytes(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = L"the file can't be opened (" + Utf8ToWide(std::strerror(errno)) + L")";
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok) *error = L"the file can't be read";
  else if (!S_ISREG(st.st_mode)) *error = L"not a regular file", ok = false;
  else if (static_cast<uint64_t>(st.st_size) > kMaxPictureFileBytes)
    *error = fmt::format(L"the file is larger than {} MiB", kMaxPictureFileBytes >> 20), ok = false;
  else if (st.st_size == 0) *error = L"the file is empty", ok = false;
  if (ok) {
    bytes->resize(static_cast<size_t>(st.st_size) + AV_INPUT_BUFFER_PADDING_SIZE);
    size_t done = 0;
    const size_t want = static_cast<size_t>(st.st_size);
    while (done < want) {
      const ssize_t n = read(fd, bytes->data() + done, want - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done != want) *error = L"the file could not be read whole", ok = false;
    std::fill(bytes->begin() + static_cast<ptrdiff_t>(want), bytes->end(), 0);
    bytes->resize(want);
  }
  close(fd);
  return ok;
}

bool LooksLikeHeif(const std::vector<uint8_t>& b) {
  if (b.size() < 12 || std::memcmp(b.data() + 4, "ftyp", 4) != 0) return false;
  static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif"};
  for (const char* brand : kBrands)
    if (std::memcmp(b.data() + 8, brand, 4) == 0) return true;
  return false;
}

bool DecodeHeif(const std::vector<uint8_t>& bytes, int maxSide, std::vector<uint32_t>* pixels, int* w, int* h,
                std::wstring* error) {
  std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(), heif_context_free);
  if (!context) return *error = L"no HEIF decoder", false;
  heif_error e = heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr);
  if (e.code != heif_error_Ok) return *error = L"not a HEIF picture (" + Utf8ToWide(e.message) + L")", false;
  heif_image_handle* rawHandle = nullptr;
  e = heif_context_get_primary_image_handle(context.get(), &rawHandle);
  if (e.code != heif_error_Ok) return *error = L"the HEIF file holds no picture", false;
  std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> handle(rawHandle, heif_image_handle_release);
  const int64_t iw = heif_image_handle_get_width(handle.get()), ih = heif_image_handle_get_height(handle.get());
  if (!DeclaredSizeFits(iw, ih)) return *error = TooLargeText(iw, ih), false;
  heif_image* rawImage = nullptr;
  e = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr);
  if (e.code != heif_error_Ok) return *error = L"the HEIF picture can't be decoded (" + Utf8ToWide(e.message) + L")", false;
  std::unique_ptr<heif_image, void (*)(const heif_image*)> image(rawImage, heif_image_release);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int pw = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int ph = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (!plane || pw < 1 || ph < 1) return *error = L"the HEIF picture has no pixels", false;
  const uint8_t* planes[4] = {plane, nullptr, nullptr, nullptr};
  const int strides[4] = {stride, 0, 0, 0};
  return ScalePictureToArgb(planes, strides, AV_PIX_FMT_RGBA, pw, ph, maxSide, pixels, w, h, error);
}

struct MemoryReader {
  const std::vector<uint8_t>* bytes;
  size_t at = 0;
};

int ReadMemory(void* opaque, uint8_t* buf, int size) {
  auto* r = static_cast<MemoryReader*>(opaque);
  const size_t left = r->bytes->size() - r->at;
  if (left == 0) return AVERROR_EOF;
  const size_t n = std::min(left, static_cast<size_t>(size));
  std::memcpy(buf, r->bytes->data() + r->at, n);
  r->at += n;
  return static_cast<int>(n);
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
  auto* r = static_cast<MemoryReader*>(opaque);
  const int64_t size = static_cast<int64_t>(r->bytes->size());
  if (whence == AVSEEK_SIZE) return size;
  int64_t target = offset;
  if ((whence & ~AVSEEK_FORCE) == SEEK_CUR) target += static_cast<int64_t>(r->at);
  else if ((whence & ~AVSEEK_FORCE) == SEEK_END) target += size;
  if (target < 0 || target > size) return AVERROR(EINVAL);
  r->at = static_cast<size_t>(target);
  return target;
}

// Frame buffers are taken only for a picture within the limits, whatever the decoder was told.
int LimitedBuffer(AVCodecContext* codec, AVFrame* frame, int flags) {
  if (!DeclaredSizeFits(frame->width, frame->height)) return AVERROR(EINVAL);
  return avcodec_default_get_buffer2(codec, frame, flags);
}

struct FormatCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct IoCloser {
  void operator()(AVIOContext* io) const {
    if (!io) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

bool DecodeWithFfmpeg(const std::vector<uint8_t>& bytes, int maxSide, std::vector<uint32_t>* pixels, int* w, int* h,
                      std::wstring* error) {
  InstallMediaLogRoute();
  std::vector<uint8_t> probeBytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(std::min<size_t>(bytes.size(), 1 << 20)));
  probeBytes.resize(probeBytes.size() + AVPROBE_PADDING_SIZE, 0);
  AVProbeData probe{};
  probe.filename = "";
  probe.buf = probeBytes.data();
  probe.buf_size = static_cast<int>(probeBytes.size() - AVPROBE_PADDING_SIZE);
  const AVInputFormat* format = av_probe_input_format(&probe, 1);
  if (!format) return *error = L"not a picture format this program reads", false;

  MemoryReader reader{&bytes};
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
  if (!buffer) return *error = L"out of memory", false;
  std::unique_ptr<AVIOContext, IoCloser> io(
      avio_alloc_context(buffer, static_cast<int>(kIoBufferBytes), 0, &reader, ReadMemory, nullptr, SeekMemory));
  if (!io) {
    av_free(buffer);
    return *error = L"out of memory", false;
  }
  AVFormatContext* rawFormat = avformat_alloc_context();
  if (!rawFormat) return *error = L"out of memory", false;
  rawFormat->pb = io.get();
  rawFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
  int rc = avformat_open_input(&rawFormat, nullptr, format, nullptr);
  if (rc < 0) return *error = L"the picture can't be read (" + MediaErrorText(rc) + L")", false;
  std::unique_ptr<AVFormatContext, FormatCloser> demuxer(rawFormat);
  int stream = -1;
  for (unsigned i = 0; i < demuxer->nb_streams; ++i)
    if (demuxer->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) stream = static_cast<int>(i), i = demuxer->nb_streams;
  if (stream < 0) return *error = L"the file holds no picture", false;
  const AVCodecParameters* params = demuxer->streams[stream]->codecpar;
  // A size the container states is checked before anything is decoded.
  if ((params->width > 0 || params->height > 0) && !DeclaredSizeFits(params->width, params->height))
    return *error = TooLargeText(params->width, params->height), false;
  const AVCodec* decoder = avcodec_find_decoder(params->codec_id);
  if (!decoder) return *error = L"no decoder for this picture format", false;
  std::unique_ptr<AVCodecContext, CodecCloser> codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), params) < 0) return *error = L"out of memory", false;
  codec->max_pixels = kMaxPicturePixels;
  codec->get_buffer2 = LimitedBuffer;
  codec->thread_count = 1;
  rc = avcodec_open2(codec.get(), decoder, nullptr);
  if (rc < 0) return *error = L"the picture's decoder can't start (" + MediaErrorText(rc) + L")", false;

  std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
  if (!packet || !frame) return *error = L"out of memory", false;
  bool sent = false;
  while (!sent) {
    rc = av_read_frame(demuxer.get(), packet.get());
    if (rc < 0) break;
    if (packet->stream_index == stream) {
      rc = avcodec_send_packet(codec.get(), packet.get());
      sent = rc >= 0;
      if (rc < 0) {
        av_packet_unref(packet.get());
        return *error = L"the picture can't be decoded (" + MediaErrorText(rc) + L")", false;
      }
    }
    av_packet_unref(packet.get());
  }
  if (!sent) return *error = L"the file holds no picture data", false;
  avcodec_send_packet(codec.get(), nullptr);  // flush: a single picture comes out now
  rc = avcodec_receive_frame(codec.get(), frame.get());
  if (rc < 0) return *error = L"the picture can't be decoded (" + MediaErrorText(rc) + L")", false;
  if (!DeclaredSizeFits(frame->width, frame->height)) return *error = TooLargeText(frame->width, frame->height), false;
  return ScalePictureToArgb(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format), frame->width,
                     frame->height, maxSide, pixels, w, h, error);
}

}  // namespace

bool ScalePictureToArgb(const uint8_t* const planes[4], const int strides[4], int format, int w, int h, int maxSide,
                 std::vector<uint32_t>* pixels, int* outW, int* outH, std::wstring* error) {
  const double scale = std::min(1.0, static_cast<double>(maxSide) / std::max(w, h));
  const int dw = std::max(1, static_cast<int>(std::lround(w * scale)));
  const int dh = std::max(1, static_cast<int>(std::lround(h * scale)));
  SwsContext* sws = sws_getContext(w, h, static_cast<AVPixelFormat>(format), dw, dh, AV_PIX_FMT_BGRA, SWS_AREA, nullptr, nullptr, nullptr);
  if (!sws) {
    *error = L"the picture's pixel format can't be converted";
    return false;
  }
  std::vector<uint32_t> out(static_cast<size_t>(dw) * dh);
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out.data()), nullptr, nullptr, nullptr};
  const int dstStride[4] = {dw * 4, 0, 0, 0};
  const int rows = sws_scale(sws, planes, strides, 0, h, dst, dstStride);
  sws_freeContext(sws);
  if (rows != dh) {
    *error = L"the picture could not be scaled";
    return false;
  }
  // BGRA bytes are 0xAARRGGBB words on this (little-endian) machine; premultiply them.
  for (uint32_t& p : out) {
    const uint32_t a = p >> 24;
    if (a == 255) continue;
    const auto mul = [a](uint32_t c) { return (c * a + 127) / 255; };
    p = (a << 24) | (mul((p >> 16) & 0xFF) << 16) | (mul((p >> 8) & 0xFF) << 8) | mul(p & 0xFF);
  }
  *pixels = std::move(out);
  *outW = dw;
  *outH = dh;
  return true;
}

bool DecodePictureFile(const std::wstring& path, int maxSide, std::vector<uint32_t>* pixels, int* width, int* height,
                       std::wstring* error) {
  std::wstring scratch;
  std::wstring* err = error ? error : &scratch;
  if (maxSide < 1) return *err = L"no size to scale to", false;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, err)) return false;
  std::vector<uint32_t> out;
  int w = 0, h = 0;
  const bool ok = LooksLikeHeif(bytes) ? DecodeHeif(bytes, maxSide, &out, &w, &h, err)
                                       : DecodeWithFfmpeg(bytes, maxSide, &out, &w, &h, err);
  if (!ok) return false;
  *pixels = std::move(out);
  *width = w;
  *height = h;
  return true;
}
