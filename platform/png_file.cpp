#include "platform/png_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string_view>

#include "platform/files.h"
#include "platform/media_internal.h"

namespace {

constexpr uint32_t kChannelMax = 255;

struct ContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Straight from premultiplied, rounded to nearest as cairo's own PNG writer does.
uint8_t Unpremultiply(uint32_t channel, uint32_t alpha) {
  return alpha == 0 ? 0 : static_cast<uint8_t>((channel * kChannelMax + alpha / 2) / alpha);
}

void CopyRows(const uint32_t* pixels, int width, int height, int stride, AVFrame& frame) {
  for (int y = 0; y < height; ++y) {
    const uint32_t* in = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
    uint8_t* out = frame.data[0] + static_cast<size_t>(y) * static_cast<size_t>(frame.linesize[0]);
    for (int x = 0; x < width; ++x, out += 4) {
      const uint32_t p = in[x];
      const uint32_t a = p >> 24;
      out[0] = Unpremultiply((p >> 16) & kChannelMax, a);
      out[1] = Unpremultiply((p >> 8) & kChannelMax, a);
      out[2] = Unpremultiply(p & kChannelMax, a);
      out[3] = static_cast<uint8_t>(a);
    }
  }
}

bool Fail(std::wstring* error, std::wstring_view what, int code) {
  if (error) *error = std::wstring(L"The image could not be encoded as PNG: ") + std::wstring(what) + L" (" +
                      MediaErrorText(code) + L").";
  return false;
}

}  // namespace

bool WritePngFile(const uint32_t* pixels, int width, int height, int stride, const std::wstring& path,
                  std::wstring* error) {
  if (!pixels || width < 1 || height < 1 || width > kPngMaxSide || height > kPngMaxSide || stride < width) {
    if (error) *error = L"The image has no pixels to write.";
    return false;
  }
  InstallMediaLogRoute();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) return Fail(error, L"no PNG encoder", AVERROR_ENCODER_NOT_FOUND);
  std::unique_ptr<AVCodecContext, ContextFree> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!context || !frame || !packet) return Fail(error, L"out of memory", AVERROR(ENOMEM));
  context->width = width;
  context->height = height;
  context->pix_fmt = AV_PIX_FMT_RGBA;
  context->time_base = AVRational{1, 1};
  int rc = avcodec_open2(context.get(), codec, nullptr);
  if (rc < 0) return Fail(error, L"the encoder did not open", rc);

  frame->format = AV_PIX_FMT_RGBA;
  frame->width = width;
  frame->height = height;
  rc = av_frame_get_buffer(frame.get(), 0);
  if (rc < 0) return Fail(error, L"no frame buffer", rc);
  CopyRows(pixels, width, height, stride, *frame);

  rc = avcodec_send_frame(context.get(), frame.get());
  if (rc >= 0) rc = avcodec_send_frame(context.get(), nullptr);
  if (rc >= 0) rc = avcodec_receive_packet(context.get(), packet.get());
  if (rc < 0) return Fail(error, L"the encoder refused the image", rc);
  const std::string_view bytes(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
  return WriteBytesAtomic(path, bytes, error);
}
