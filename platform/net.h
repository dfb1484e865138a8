#pragma once
// TCP through the system's sockets (stands in for Winsock): connects with a time-out that another
// thread can cut short, whole sends, exact receives, a zero-wait readable test, a shutdown that
// wakes a thread blocked on the socket, and a loopback listener for test servers. Host names are
// UTF-8. Every call here may block; none runs on the audio thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using NetSocket = int;
inline constexpr NetSocket kNoSocket = -1;

// Slice in which a blocking connect or accept looks at its stop flag: the longest a stopper waits.
inline constexpr unsigned kNetStopSliceMs = 100;

// --- Connecting ---------------------------------------------------------------------------------
enum class NetConnectResult {
  kConnected,
  kNotResolved,   // the name gave no address
  kNotConnected,  // every address refused, failed or timed out
  kStopped,       // *stop was set while connecting
};

// Resolves host and port (any address family, TCP) and tries each address in the order returned;
// each gets connectTimeoutMs. The connected socket is blocking, with receive and send time-outs of
// ioTimeoutMs, and lands in *out. *stop (when given) is checked every kNetStopSliceMs, so a
// stopper waits at most that long; resolution itself cannot be cut short. On failure *why (when
// given) holds the system's reason for the last address tried ("Connection refused").
NetConnectResult NetConnect(const std::string& host, int port, unsigned connectTimeoutMs,
                            unsigned ioTimeoutMs, const std::atomic<bool>* stop, NetSocket* out,
                            std::string* why = nullptr);

// --- Sending and receiving ----------------------------------------------------------------------
// Sends all bytes in pieces of at most maxPieceBytes, adding each piece sent to *counter (when
// given). False when a send returns 0 or fails (time-out, reset, shut down).
bool NetSendAll(NetSocket socket, const uint8_t* data, size_t size, size_t maxPieceBytes,
                std::atomic<uint64_t>* counter);
// One receive of up to maxBytes: the count received, 0 when the peer closed, -1 on an error or
// a time-out.
long NetReceiveSome(NetSocket socket, uint8_t* buffer, size_t maxBytes);
// Fills exactly size bytes, receiving at most maxPieceBytes at a time; false when the connection
// ended, failed or timed out first.
bool NetReceiveExact(NetSocket socket, uint8_t* buffer, size_t size, size_t maxPieceBytes);
// True when a receive would not block (data, end of stream or an error is waiting) within
// timeoutMs; 0 asks without waiting. False on a failed wait.
bool NetReadable(NetSocket socket, unsigned timeoutMs);

// --- Ending -------------------------------------------------------------------------------------
// Shuts both directions down: a thread blocked in a connect, send, receive or accept on the
// socket returns at once. Any thread; harmless on kNoSocket or a socket already shut.
void NetShutdown(NetSocket socket);
// Reads and drops whatever the peer has already sent, without waiting. Closing a socket with
// unread bytes resets the connection, and a reset can make the peer drop what we sent last.
void NetDiscardPending(NetSocket socket);
// Closes the socket; harmless on kNoSocket.
void NetClose(NetSocket socket);

// --- Listening --------------------------------------------------------------------------------
// Listens on IPv4 at port (0: any free one) with SO_REUSEADDR and the backlog: on 127.0.0.1 when
// loopbackOnly, else on every address (0.0.0.0); *boundPort (when given) gets the port.
bool NetListen(bool loopbackOnly, int port, int backlog, NetSocket* out, int* boundPort);

enum class NetAcceptResult { kAccepted, kNone, kFailed };
// Waits up to timeoutMs for one connection: kAccepted with the blocking socket in *out and the
// peer's IPv4 address as text in *peerAddress (when given); kNone when none came (or a transient
// accept error such as running out of descriptors); kFailed when the listener is unusable.
NetAcceptResult NetAcceptWithin(NetSocket listener, unsigned timeoutMs, NetSocket* out, std::string* peerAddress);

// The IPv4 addresses of this machine's interfaces that are up, loopback left out, in the system's order.
std::vector<std::string> NetLocalAddresses();

// --- Listening (test servers) -------------------------------------------------------------------
// Listens on 127.0.0.1 at port (0: any free one) with the backlog; *boundPort gets the port.
bool NetListenLoopback(int port, int backlog, NetSocket* out, int* boundPort);
// Waits for one connection; false when *stop is set (checked every kNetStopSliceMs), the listener
// was shut down or accept failed. The accepted socket is blocking, with no time-outs.
bool NetAccept(NetSocket listener, const std::atomic<bool>* stop, NetSocket* out);
// Sets the receive and send time-outs of a blocking socket (0: wait forever).
bool NetSetTimeouts(NetSocket socket, unsigned timeoutMs);
// Sends each write at once instead of holding small ones back for the peer's acknowledgement (a
// conversation of small messages would otherwise wait on delayed acknowledgements).
bool NetSetNoDelay(NetSocket socket);
