#include "platform/mp4_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include "platform/files.h"
#include "platform/media_internal.h"
#include "platform/text.h"

namespace {

constexpr AVRational kTicks = {1, 10000000};  // the encoders' 100-ns units

bool CopyExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return true;
  par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!par->extradata) return false;
  std::memcpy(par->extradata, bytes.data(), bytes.size());
  par->extradata_size = static_cast<int>(bytes.size());
  return true;
}

}  // namespace

struct Mp4File {
  std::string path;
  std::string tmp;
  WritePlan plan;
  AVFormatContext* muxer = nullptr;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  AVPacket* packet = nullptr;
  int audioRate = 48000;
  int audioPriming = 0;
  bool headerWritten = false;
  bool finished = false;

  ~Mp4File() {
    av_packet_free(&packet);
    if (muxer) {
      if (muxer->pb) avio_closep(&muxer->pb);
      avformat_free_context(muxer);
    }
    if (!finished && !tmp.empty()) ::unlink(tmp.c_str());
  }
};

void Mp4FileDeleter::operator()(Mp4File* file) const { delete file; }

Mp4FilePtr OpenMp4File(const std::wstring& path, const Mp4FileFormat& format, int* code,
                       std::wstring* detail) {
  InstallMediaLogRoute();
  Mp4FilePtr f(new Mp4File);
  f->path = PathToBytes(path);
  f->audioRate = format.audioRate;
  f->audioPriming = format.audioPriming;
  auto fail = [&](int rc) {
    if (code) *code = rc;
    if (detail) *detail = MediaErrorText(rc);
    return nullptr;
  };
  if (format.width <= 0 || format.height <= 0 || format.fps <= 0 || format.audioRate <= 0)
    return fail(AVERROR(EINVAL));
  std::wstring refused;
  if (!PlanWrite(path, SpecialTarget::Refuse, &f->plan, &refused)) {
    if (code) *code = AVERROR(EINVAL);
    if (detail) *detail = refused;
    return nullptr;
  }
  f->tmp = PathToBytes(f->plan.temp);
  int rc = avformat_alloc_output_context2(&f->muxer, nullptr, "mp4", f->tmp.c_str());
  if (rc < 0) return fail(rc);
  f->packet = av_packet_alloc();
  f->video = avformat_new_stream(f->muxer, nullptr);
  f->audio = avformat_new_stream(f->muxer, nullptr);
  if (!f->packet || !f->video || !f->audio) return fail(AVERROR(ENOMEM));

  AVCodecParameters* v = f->video->codecpar;
  v->codec_type = AVMEDIA_TYPE_VIDEO;
  v->codec_id = AV_CODEC_ID_H264;
  v->width = format.width;
  v->height = format.height;
  v->format = AV_PIX_FMT_YUV420P;
  v->bit_rate = static_cast<int64_t>(format.videoKbps) * 1000;
  v->sample_aspect_ratio = AVRational{1, 1};
  v->field_order = AV_FIELD_PROGRESSIVE;
  v->color_range = AVCOL_RANGE_MPEG;
  v->color_space = AVCOL_SPC_BT709;
  v->color_primaries = AVCOL_PRI_BT709;
  v->color_trc = AVCOL_TRC_BT709;
  f->video->time_base = AVRational{1, format.fps};
  f->video->avg_frame_rate = AVRational{format.fps, 1};
  f->video->r_frame_rate = AVRational{format.fps, 1};

  AVCodecParameters* a = f->audio->codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = AV_CODEC_ID_AAC;
  a->profile = FF_PROFILE_AAC_LOW;
  a->sample_rate = format.audioRate;
  a->bit_rate = static_cast<int64_t>(format.audioKbps) * 1000;
  a->frame_size = 1024;
  a->initial_padding = format.audioPriming;
  const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  av_channel_layout_copy(&a->ch_layout, &stereo);
  f->audio->time_base = AVRational{1, format.audioRate};
  if (!CopyExtradata(v, format.videoConfig) || !CopyExtradata(a, format.audioConfig))
    return fail(AVERROR(ENOMEM));

  rc = avio_open(&f->muxer->pb, f->tmp.c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) {
    f->tmp.clear();  // nothing of ours to remove
    return fail(rc);
  }
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  rc = avformat_write_header(f->muxer, &options);
  av_dict_free(&options);
  if (rc < 0) return fail(rc);
  f->headerWritten = true;
  if (code) *code = 0;
  return f;
}

namespace {

bool WritePacket(Mp4File& f, AVStream* stream, const EncodedSample& s, int64_t pts, int64_t dts,
                 int64_t duration) {
  if (s.data.empty()) return true;
  if (av_new_packet(f.packet, static_cast<int>(s.data.size())) < 0) return false;
  std::memcpy(f.packet->data, s.data.data(), s.data.size());
  f.packet->stream_index = stream->index;
  f.packet->pts = pts;
  f.packet->dts = dts;
  f.packet->duration = duration;
  if (s.keyFrame) f.packet->flags |= AV_PKT_FLAG_KEY;
  const int rc = av_interleaved_write_frame(f.muxer, f.packet);
  av_packet_unref(f.packet);
  return rc >= 0;
}

}  // namespace

bool Mp4WriteVideo(Mp4File& f, const EncodedSample& s) {
  const AVRational tb = f.video->time_base;
  return WritePacket(f, f.video, s, av_rescale_q(s.time, kTicks, tb), av_rescale_q(s.decodeTime, kTicks, tb),
                     av_rescale_q(s.duration, kTicks, tb));
}

bool Mp4WriteAudio(Mp4File& f, const EncodedSample& s) {
  // The encoder's times leave its priming out; the track keeps it in front and trims it in its
  // edit list, so the sound starts exactly at the first input.
  const AVRational rate = {1, f.audioRate};
  const int64_t at = av_rescale_q(s.time, kTicks, rate) - f.audioPriming;
  const int64_t pts = av_rescale_q(at, rate, f.audio->time_base);
  return WritePacket(f, f.audio, s, pts, pts, av_rescale_q(s.duration, kTicks, f.audio->time_base));
}

bool FinishMp4File(Mp4File& f, std::wstring* detail) {
  auto fail = [&](const std::wstring& why) {
    if (detail) *detail = why;
    return false;
  };
  if (!f.headerWritten) return fail(L"no header");
  int rc = av_interleaved_write_frame(f.muxer, nullptr);  // flush the interleaving queue
  if (rc >= 0) rc = av_write_trailer(f.muxer);
  if (rc < 0) return fail(L"index: " + MediaErrorText(rc));
  if (f.muxer->pb->error < 0) return fail(L"write: " + MediaErrorText(f.muxer->pb->error));
  rc = avio_closep(&f.muxer->pb);
  if (rc < 0) return fail(L"close: " + MediaErrorText(rc));
  const int fd = ::open(f.tmp.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced) return fail(L"flush: " + Utf8ToWide(std::strerror(errno)));
  std::wstring why;
  if (!CommitWrite(f.plan, &why)) return fail(why);
  f.finished = true;
  return true;
}
