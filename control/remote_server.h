#pragma once
// The phone remote's HTTP/1.1 server: one service thread that serves the built-in page at "/"
// and "/index.html", the state document at "/api/state" and takes commands at "/api/do" (both
// need the PIN). It never touches program state: the UI thread hands it the state text
// (SetRemoteState) and it posts each command to the UI thread as a RemoteCommand.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kRemoteCommandPost = 17;  // lparam: a heap RemoteCommand, the handler's to free
inline constexpr int kRemoteSelfTestPort = 18750;

// One command from a phone; made by the server thread, owned and freed by the UI thread.
struct RemoteCommand {
  std::string name;
  bool press = false;
  bool hasValue = false;
  float value = 0.0f;
  int32_t delta = 0;
  std::string client;  // the sender's address, for holds it leaves pressed
};

// --- Life ---------------------------------------------------------------------------------------
// UI thread: stops the server, then starts it after [Remote] On, Port and Pin unless the program
// runs a self-test; a failure shows "Phone remote: ..." and is logged.
void StartPhoneRemote();
// Stops a running server, then listens on port (0.0.0.0, or 127.0.0.1 when loopbackOnly) and
// starts the service thread. False with *error set when the port can't be opened.
bool StartRemoteServer(int port, const std::string& pin, std::wstring* error, bool loopbackOnly);
// Idempotent; returns once the service thread has ended (at most about 200 ms).
void StopRemoteServer();
bool IsRemoteServerRunning();
// The port the running server listens on (0 when stopped).
int RemoteServerPort();

// --- What the settings page shows ---------------------------------------------------------------
// "http://<address>:<port>" for every IPv4 address of an interface that is up, loopback and
// link-local (169.254.*) left out.
std::vector<std::wstring> RemoteUrls();
// The addresses that passed the PIN check in the last 5000 ms.
int CountRemotePhones();
// MonotonicMs of the latest request from the address that passed the PIN check; 0 for none since
// the server started. Any thread.
uint64_t RemotePhoneSeenMs(const std::string& address);

// --- Shared with the UI thread ------------------------------------------------------------------
// Replaces the state document that "/api/state" answers with. Any thread.
void SetRemoteState(std::string json);

// --- Requests -----------------------------------------------------------------------------------
using RemoteQuery = std::map<std::string, std::string>;
// "a=1&b=x+y": names and values URL-decoded; a later name replaces an earlier one; a piece
// without "=" is a name with an empty value.
RemoteQuery ParseQuery(std::string_view query);
// Sends "GET path HTTP/1.1" to 127.0.0.1:port and returns the whole reply (empty when nothing
// answered within 3 s). For the self-test and the tests.
std::string RemoteTestRequest(const std::string& path, int port = kRemoteSelfTestPort);
