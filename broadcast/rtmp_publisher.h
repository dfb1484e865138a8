#pragma once
// The client side of an RTMP publishing conversation: parse the address, connect (TLS for
// rtmps://), shake hands, connect to the application, create a stream and publish into it; while
// streaming, answer pings and notice error statuses without blocking; unpublish at the end. Also
// the FLV payloads the stream loop sends: metadata, sequence headers, video and audio tags.
// Everything here runs on the one thread that owns the Publisher.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "broadcast/amf0.h"
#include "broadcast/rtmp_chunks.h"
#include "broadcast/transport.h"
#include "platform/video_encode.h"

inline constexpr int kRtmpDefaultPort = 1935;
inline constexpr int kRtmpsDefaultPort = 443;
inline constexpr uint32_t kPublishChunkSize = 4096;     // announced right after the handshake
inline constexpr int kMaxMessagesWithoutAnswer = 400;   // WaitForResult gives up after these
inline constexpr int kMaxMessagesPerPoll = 64;          // PollServerMessages handles at most these

// Chunk streams of the conversation.
inline constexpr uint32_t kChunkStreamControl = 2;
inline constexpr uint32_t kChunkStreamCommand = 3;
inline constexpr uint32_t kChunkStreamPublish = 4;  // publish, metadata and audio
inline constexpr uint32_t kChunkStreamStatus = 5;   // the test server's onStatus
inline constexpr uint32_t kChunkStreamVideo = 6;

// A parsed server address.
struct RtmpUrl {
  bool tls = false;
  std::wstring host;
  int port = kRtmpDefaultPort;
  std::string app;    // UTF-8, may contain slashes
  std::string tcUrl;  // lower-case scheme "://" host part as written "/" app
};

// --- Conversation -------------------------------------------------------------------------------
// Parses "rtmp[s]://host[:port]/app[/more]" (blanks around it allowed, trailing slashes dropped,
// an IPv6 host in brackets). False with the user's message in *error.
bool ParseRtmpUrl(const std::wstring& address, RtmpUrl* url, std::wstring* error);
// The whole opening conversation up to "NetStream.Publish.Start"; on true the stream is ready
// for media on publisher.streamId. False with the user's message; publisher.refused tells an
// error status from the server (retrying cannot help) from every other failure.
bool RtmpPublish(Publisher& publisher, const RtmpUrl& url, const std::string& streamKey,
                 std::wstring* error);
// Handles what the server has sent so far (at most kMaxMessagesPerPoll messages) without waiting
// for more: answers pings and Set Peer Bandwidth, ends on an error status. False with the message
// when the connection ended or the server reported an error.
bool PollServerMessages(Publisher& publisher, std::wstring* error);
// Sends FCUnpublish and deleteStream without waiting for answers (failures ignored), then closes.
void RtmpUnpublish(Publisher& publisher);

// Reads messages until the answer to transactionId arrives (0: the first onStatus that is not an
// error), answering pings on the way; *arguments gets the answer's arguments. False after a read
// failure, an error answer or status, or kMaxMessagesWithoutAnswer messages without the answer.
bool WaitForResult(Publisher& publisher, double transactionId, std::vector<AmfValue>* arguments,
                   std::wstring* error);
// Turns an error status's info object into the user's message: a refused stream key (code with
// "BadName", "BadAuth" or "Rejected", or description with "auth" or "key"), else the server's
// own words. Sets publisher.refused: the server has answered, and a retry is not made.
void HandleStatusError(Publisher& publisher, const AmfValue& info, std::wstring* error);

// --- Media payloads -------------------------------------------------------------------------------
// The parameter sets of the H.264 stream and the tag body being built.
struct VideoTagState {
  std::vector<uint8_t> sps;
  std::vector<uint8_t> pps;
  std::vector<uint8_t> lastHeader;  // SPS + PPS of the last AVC sequence header sent; empty first
  std::vector<uint8_t> body;
};

// The AudioSpecificConfig of AAC LC stereo at the two output rates.
struct AacRateConfig {
  int sampleRate;
  uint8_t config[2];
};
std::span<const AacRateConfig> AacRateConfigs();

// "@setDataFrame" "onMetaData" with the stream's twelve properties, as a data message at time 0.
bool SendStreamMetadata(Publisher& publisher, int width, int height, int videoKbps, int audioRate);
// The AAC sequence header at time 0; false also for a rate without a row in AacRateConfigs.
bool SendAacSequenceHeader(Publisher& publisher, int audioRate);
// One H.264 access unit (Annex B): keeps SPS and PPS, sends a new AVC sequence header when they
// changed, then the frame as an AVC NALU tag timed by its decode time. Samples before the first
// sequence header, or without picture data, are dropped (true). False when a send failed.
bool SendFlvSample(Publisher& publisher, VideoTagState& state, const EncodedSample& sample);
// One raw AAC frame as an AAC raw tag timed by the sample's time; an empty frame is skipped.
bool SendAacSample(Publisher& publisher, std::vector<uint8_t>& body, const EncodedSample& sample);
// The NAL units of Annex B data, each without its start code and the zero bytes before the next.
std::vector<std::span<const uint8_t>> SplitAnnexB(std::span<const uint8_t> data);
