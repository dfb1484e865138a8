#pragma once
// A minimal RTMP ingest server on 127.0.0.1 for the self-tests: it serves one publishing client
// with the real chunk code, answers the conversation and checks every audio and video tag,
// counting what it saw and what was wrong. Also a TLS-and-RTMP handshake check of a real address.
// Test mode only.
#include <cstdint>
#include <string>

// What the server saw, reset at each start.
struct TestRtmpServerStats {
  bool published = false;
  std::string app;         // "app" of connect
  std::string streamName;  // the name given to publish
  bool metadataSeen = false;
  int32_t width = 0;
  int32_t height = 0;
  bool avcHeaderSeen = false;  // the last AVC sequence header was well formed
  bool aacHeaderSeen = false;  // the last AAC sequence header was well formed
  int32_t videoFrames = 0;
  int32_t keyframes = 0;
  int32_t audioFrames = 0;
  int32_t errors = 0;          // malformed or out-of-order media
  uint32_t lastVideoTime = 0;
  uint32_t lastAudioTime = 0;
  bool videoTimesRise = true;  // until a frame's timestamp is below the previous one of its kind
  bool audioTimesRise = true;
  bool pongSeen = false;
};

// Resets the stats, listens on 127.0.0.1 (port 0: any free one; the default) with a backlog of 1
// and starts the server thread; *port gets the port. False (nothing left open) when listening
// failed or a server already runs. Test thread.
bool StartTestRtmpServer(int* port, int requestedPort = 0);
// Closes the listener, shuts the served connection down, joins the thread. Harmless when none
// runs. Test thread.
void StopTestRtmpServer();
// A copy of the stats taken under the server's mutex (after stopping, or while it runs).
TestRtmpServerStats TestRtmpServerStatsCopy();
// True once the served client's connection has ended (or the thread ended without one).
bool TestRtmpServerFinished();
// Why the served connection ended, for the log and tests: the reader's problem, or empty.
std::wstring TestRtmpServerEndReason();

// TLS (for rtmps) and the RTMP handshake against address, without publishing. 1 when both worked
// ("TLS and RTMP handshake with " + host), 0 when parsing, TLS or the RTMP handshake failed after
// the TCP connection, -1 when no TCP connection was made; *message says which.
int TestRtmpHandshake(const std::wstring& address, std::wstring* message);
