#pragma once
// The byte pipe under RTMP: one TCP connection, optionally TLS, with blocking "send everything"
// and "receive exactly n" that look the same either way, and the running count of bytes sent.
// `Publisher` is the one connection object; its fields come in three layers: the connection
// (here), the chunk stream (rtmp_chunks.h) and the publishing client (rtmp_publisher.h).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/tls.h"

inline constexpr unsigned kSocketTimeoutMs = 10000;   // receive, send and connect time-outs
inline constexpr size_t kMaxPlainPieceBytes = 65536;  // one send or receive on a plain socket
inline constexpr size_t kTlsReceiveBytes = 16384;     // one receive of encrypted bytes

// The state of one incoming chunk stream (the reader's resumable parse state).
struct ChunkStreamState {
  uint32_t timestamp = 0;
  uint32_t timestampDelta = 0;
  uint32_t messageLength = 0;
  uint32_t messageStreamId = 0;
  uint8_t messageType = 0;
  bool extendedTimestamp = false;  // the last header of this chunk stream carried 0xFFFFFF
  bool started = false;            // a type-0 header has been seen: later headers may refer to it
  std::vector<uint8_t> partial;    // payload received so far of the message in progress
};

struct Publisher {
  Publisher() = default;
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;
  ~Publisher();

  // --- Connection ---
  bool connected = false;
  NetSocket socket = kNoSocket;  // written only by the owning thread, under socketLock
  std::atomic<uint64_t>* bytesSent = nullptr;  // the caller's counter of bytes handed to the socket
  bool tls = false;
  TlsClientPtr session;           // the TLS session once the handshake has started
  std::vector<uint8_t> rawIn;     // scratch for one receive of encrypted bytes
  std::vector<uint8_t> plainIn;   // decrypted bytes, plainPos of them consumed
  size_t plainPos = 0;
  std::vector<uint8_t> tlsOut;    // scratch for outgoing records
  std::wstring host;              // as the caller gave it; also the TLS target name
  std::mutex socketLock;          // lets StopConnection shut the socket down from another thread
  std::atomic<bool> stopRequested{false};

  // --- Chunk stream (rtmp_chunks.h) ---
  uint32_t inChunkSize = 128;
  uint32_t outChunkSize = 128;
  std::map<uint32_t, ChunkStreamState> chunkStreams;
  size_t partialBytes = 0;        // sum of every chunk stream's partial payload
  std::vector<uint8_t> sendBuffer;
  uint64_t bytesReceived = 0;
  uint64_t bytesAtLastAck = 0;
  uint32_t windowAckSize = 0;
  std::wstring readProblem;       // why the last RtmpReadMessage failed, for the log

  // --- Publishing (rtmp_publisher.h) ---
  uint32_t streamId = 1;
  bool refused = false;
  std::string streamKey;
};

// --- Connection ---------------------------------------------------------------------------------
// Closes whatever the object held, then resolves host, connects (each address in turn, with
// kSocketTimeoutMs to connect and as the socket's receive and send time-outs) and, with tls, runs
// the TLS handshake. On failure *error holds the user's message and the object is closed. A
// StopConnection from another thread ends it within about kNetStopSliceMs. Owning thread.
bool OpenConnection(Publisher& publisher, const std::wstring& host, int port, bool tls,
                    std::wstring* error);
// Runs the TLS handshake over the open plain connection (OpenConnection's last step, on its own
// for callers that must tell a failed TCP connection from a failed TLS one). On failure *error
// holds the user's message and the object is closed.
bool SecureConnection(Publisher& publisher, std::wstring* error);
// Takes over an accepted plain socket (the loopback test server's side of a connection).
void AdoptConnection(Publisher& publisher, NetSocket socket);
// Sends all bytes (as TLS records when tls is on), counting every byte handed to the socket in
// *bytesSent; false when the connection failed.
bool SendBytes(Publisher& publisher, const uint8_t* data, size_t length);
// Fills exactly length bytes; false when the connection ended or failed first.
bool ReceiveBytes(Publisher& publisher, uint8_t* buffer, size_t length);
// True when ReceiveBytes has something to work on without waiting: decrypted bytes not yet
// consumed, or (with TLS) data the session decrypts from what is buffered or readable now.
// Never blocks. False also when the connection failed (the next read reports that).
bool InputPending(Publisher& publisher);
// Frees the TLS session, closes the socket, empties the buffers and resets the chunk state; the
// object can be opened again. Owning thread (the destructor calls it).
void CloseConnection(Publisher& publisher);
// Any thread: marks the connection stopped and shuts its socket down, so that the owner's
// blocking connect, handshake, send or receive returns (failing) within about a second.
void StopConnection(Publisher& publisher);

// --- Encoding -----------------------------------------------------------------------------------
// Appends value as four bytes, most significant first: the one big-endian writer of the RTMP code.
void AppendU32BE(std::vector<uint8_t>& buffer, uint32_t value);
