// The publisher's own CPU for one second on air: 30 H.264 access units at the 720-line bitrate
// (a key frame with its parameter sets every 60) and 47 AAC frames turned into FLV tags and
// chunks and sent over a loopback socket, with a server poll after each frame as the stream loop
// does. A reader thread drains the other end; its CPU is not counted. The encoders' cost is in
// video_encode_bench.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "broadcast/rtmp_publisher.h"
#include "platform/net.h"

namespace {

constexpr int kFramesPerSecond = 30;
constexpr int kAacFramesPerSecond = 47;  // 48000 / 1024, rounded up
constexpr int kVideoKbps = 3500;
constexpr int kAudioKbps = 160;
constexpr int kGopFrames = 60;
constexpr int64_t kTicksPerFrame = 333333;

// One access unit of `bytes` slice data after a 4-byte start code (and SPS and PPS for a key frame).
std::vector<uint8_t> AccessUnit(size_t bytes, bool key) {
  std::vector<uint8_t> au;
  if (key) au.insert(au.end(), {0, 0, 0, 1, 0x67, 0x4D, 0x40, 0x1F, 0xAA, 0, 0, 0, 1, 0x68, 0xEE, 0x3C, 0x80});
  au.insert(au.end(), {0, 0, 0, 1, static_cast<uint8_t>(key ? 0x65 : 0x41)});
  for (size_t i = 0; i < bytes; ++i) au.push_back(static_cast<uint8_t>(0x11 + i % 200));  // no start codes
  return au;
}

void BM_PublisherSecondOnAir(benchmark::State& state) {
  NetSocket listener = kNoSocket, client = kNoSocket, server = kNoSocket;
  int port = 0;
  if (!NetListenLoopback(0, 1, &listener, &port) ||
      NetConnect("127.0.0.1", port, 2000, 2000, nullptr, &client) != NetConnectResult::kConnected ||
      !NetAccept(listener, nullptr, &server)) {
    state.SkipWithError("no loopback connection");
    return;
  }
  NetClose(listener);
  std::atomic<bool> stop{false};
  std::thread drain([&] {
    std::vector<uint8_t> sink(1 << 16);
    while (!stop)
      if (NetReadable(server, 50) && NetReceiveSome(server, sink.data(), sink.size()) <= 0) break;
  });

  std::atomic<uint64_t> bytesSent{0};
  Publisher p;
  p.bytesSent = &bytesSent;
  AdoptConnection(p, client);
  p.outChunkSize = kPublishChunkSize;
  const size_t frameBytes = kVideoKbps * 1000 / 8 / kFramesPerSecond;
  const std::vector<uint8_t> key = AccessUnit(frameBytes * 4, true), inter = AccessUnit(frameBytes, false);
  const std::vector<uint8_t> aac(kAudioKbps * 1000 / 8 / kAacFramesPerSecond, 0x21);
  VideoTagState video;
  std::vector<uint8_t> audioBody;
  std::wstring error;
  int64_t frame = 0;
  for (auto _ : state) {
    for (int i = 0; i < kFramesPerSecond; ++i, ++frame) {
      EncodedSample s;
      s.data = frame % kGopFrames == 0 ? key : inter;
      s.time = s.decodeTime = frame * kTicksPerFrame;
      if (!SendFlvSample(p, video, s)) state.SkipWithError("send failed");
      // The second's AAC frames spread over its video frames.
      EncodedSample a;
      a.data = aac;
      a.time = s.time;
      for (int k = i * kAacFramesPerSecond / kFramesPerSecond; k < (i + 1) * kAacFramesPerSecond / kFramesPerSecond; ++k)
        if (!SendAacSample(p, audioBody, a)) state.SkipWithError("send failed");
      if (!PollServerMessages(p, &error)) state.SkipWithError("poll failed");
    }
  }
  state.counters["bytes_per_air_s"] = benchmark::Counter(static_cast<double>(bytesSent.load()) / state.iterations());
  CloseConnection(p);
  stop = true;
  drain.join();
  NetClose(server);
}
BENCHMARK(BM_PublisherSecondOnAir)->Unit(benchmark::kMillisecond);

}  // namespace
