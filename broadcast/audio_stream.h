#pragma once
// The audio stream: the master mix, read from the engine's streaming tap, encoded as MP3 and
// sent to an Icecast 2 server (an HTTP SOURCE request with Basic authentication) or a Shoutcast
// version 1 server (a password line on the port above the configured one). One service thread
// connects, streams and retries every 5 seconds until stopped; title updates go out on short
// connections of their own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/stream_config.h"
#include "base/ui_text.h"
#include "engine/engine.h"
#include "platform/net.h"
#include "platform/video_encode.h"

// --- Protocol constants ---------------------------------------------------------------------
inline constexpr unsigned kStreamIoTimeoutMs = 8000;      // send and receive time-out
inline constexpr unsigned kStreamConnectTimeoutMs = 8000;  // per address
inline constexpr size_t kStreamSendPieceBytes = 65536;
inline constexpr size_t kReplyChunkBytes = 512;
inline constexpr size_t kReplyMaxBytes = 4096;
inline constexpr size_t kTitleReplyBytes = 256;
inline constexpr int kStreamReadFrames = 4608;            // frames read from the tap at a time
inline constexpr unsigned kStreamIdleSleepMs = 10;        // the tap was empty
inline constexpr unsigned kStreamRetryWaitMs = 5000;
inline constexpr unsigned kStreamRetryStepMs = 100;

// States of the stream.
inline constexpr int32_t kStreamOff = 0;
inline constexpr int32_t kStreamConnecting = 1;
inline constexpr int32_t kStreamOnAir = 2;
inline constexpr int32_t kStreamFailed = 3;  // waiting to retry

// --- Control and status (UI thread) ---------------------------------------------------------
// Stops any running stream, then streams engine's mix with a copy of config. engine must be the
// process's `Engine`: the streaming tap belongs to it.
void StartLiveStream(AudioEngine& engine, const StreamConfig& config);
// Sets the stop flag, shuts the stream's socket down (a blocked send or receive returns at once),
// joins the thread and sets the state to off. Idempotent; never from the streamer thread.
void StopLiveStream();
int32_t LiveStreamState();
// The last failure message (translated, then filled, when shown); empty while all is well.
UiText LiveStreamError();
// Seconds since the latest connection while on air, else 0.
double LiveStreamSeconds();
// Every byte written to the stream socket since StartLiveStream, request and headers included.
uint64_t LiveStreamBytes();
// While on air, sends title as the server's current song on a detached thread; otherwise
// nothing. One update is in flight at a time; titles given meanwhile replace each other and the
// newest goes next. Returns at once; the outcome is never reported.
void UpdateLiveStreamTitle(const std::wstring& title);

// --- Connection -----------------------------------------------------------------------------
// Connects to host:port (tried address by address, kStreamConnectTimeoutMs each, I/O time-outs
// kStreamIoTimeoutMs). stop, when given, cuts the attempt short. kNoSocket with error set to
// "Can't find the server “host”" or "Couldn't connect to host:port", and *why (when given) to
// the system's reason for the log.
NetSocket ConnectTcp(const std::wstring& host, int port, UiText& error,
                     const std::atomic<bool>* stop = nullptr, std::wstring* why = nullptr);
// Sends all bytes in pieces of kStreamSendPieceBytes, counting them in LiveStreamBytes. False when
// a send fails.
bool SendAll(NetSocket socket, const uint8_t* bytes, size_t length);
// Receives a server's greeting: up to the end of its headers, kReplyMaxBytes, the end of the
// connection or time-out, or an "OK2" line, whichever comes first.
std::string ReadServerReply(NetSocket socket);
// Connects and logs in as config's server type; kNoSocket with the message in error. Stopping
// the stream shuts the socket down while this waits on the server. *why as ConnectTcp's.
NetSocket ConnectStreamServer(const StreamConfig& config, UiText& error, std::wstring* why = nullptr);

// --- Requests and replies (pure) ------------------------------------------------------------
// The configured mount in UTF-8, "/live" when empty, with a leading "/".
std::string StreamMount(const StreamConfig& config);
std::string IcecastSourceRequest(const StreamConfig& config);
std::string ShoutcastIcyHeaders(const StreamConfig& config);
// The title update request for config's server type.
std::string StreamTitleRequest(const StreamConfig& config, const std::wstring& title);
// The status code of a reply's first line ("HTTP/1.0 200 OK", "ICY 200 OK"); -1 when the line
// holds none.
int ReplyStatusCode(std::string_view reply);
// Empty when an Icecast reply puts the stream on air, else the message for the status text.
std::wstring IcecastReplyError(std::string_view reply);
// Empty when a Shoutcast reply accepts the password ("OK2..."), else the message.
std::wstring ShoutcastReplyError(std::string_view reply);
// RFC 4648 base64 with "=" padding.
std::string Base64Encode(std::string_view bytes);

// --- Encoding -------------------------------------------------------------------------------
struct Mp3StreamEncoder {
  EncoderTransformPtr transform;
  int sampleRate = 0;
  int64_t time = 0;  // running sample time, 100-ns units, from 0 for each opened encoder
};
// Opens (or reopens) the encoder at sampleRate with the offered bitrate nearest to kbps. False
// with "The MP3 encoder isn't available", "Couldn't start the MP3 encoder" or "MP3 streaming
// needs a 32, 44.1 or 48 kHz master output".
bool OpenMp3Encoder(Mp3StreamEncoder& encoder, int sampleRate, int kbps, UiText& error);
// Encodes frames of interleaved 16-bit stereo and sends every finished MP3 byte with SendAll. An
// encoder failure drops the block (true); false only when sending failed.
bool EncodeMp3AndSend(Mp3StreamEncoder& encoder, const int16_t* pcm16, size_t frames,
                      NetSocket socket);

// --- Threads --------------------------------------------------------------------------------
// The streamer: connect, stream, retry every 5 s until the stop flag is set. Each failure is
// logged when its reason differs from the previous failure's, so a retry loop leaves one line.
void LiveStreamThread();
// One title update on a connection of its own; every outcome is ignored.
void SendStreamTitle(const StreamConfig& config, const std::wstring& title);
