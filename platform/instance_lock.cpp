#include "platform/instance_lock.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/thread_priority.h"

namespace {

constexpr unsigned kLockRetryMs = 10;
constexpr size_t kHeaderBytes = 8;   // dwData, cbData
constexpr int kListenBacklog = 8;
constexpr mode_t kPrivateFolderMode = 0700;

std::wstring SystemError(const char* step, int error) {
  return Utf8ToWide(step) + L": " + Utf8ToWide(std::strerror(error));
}

bool MakeSocketAddress(const std::wstring& path, sockaddr_un* address, std::wstring* error) {
  const std::string bytes = PathToBytes(path);
  *address = {};
  address->sun_family = AF_UNIX;
  if (bytes.empty() || bytes.size() >= sizeof(address->sun_path)) {
    if (error) *error = L"socket path too long for a Unix socket: " + path;
    return false;
  }
  std::memcpy(address->sun_path, bytes.data(), bytes.size());
  return true;
}

// The clock counts whole milliseconds, so "now" may already be most of one gone: one more keeps
// every wait at least as long as asked.
uint64_t DeadlineAfter(unsigned ms) { return MonotonicMs() + ms + 1; }

int RemainingMs(uint64_t deadline) {
  const uint64_t now = MonotonicMs();
  return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// Reads exactly size bytes before the deadline. Returns the bytes read: size on success, fewer
// when the peer closed, the time ran out or the stop descriptor became readable.
size_t ReadUntil(int fd, char* out, size_t size, uint64_t deadline, int stopFd) {
  size_t done = 0;
  while (done < size) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int ready = poll(fds, stopFd >= 0 ? 2 : 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (stopFd >= 0 && fds[1].revents)) break;
    const ssize_t n = recv(fd, out + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool WriteAll(int fd, const char* bytes, size_t size, uint64_t deadline) {
  size_t done = 0;
  while (done < size) {
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = send(fd, bytes + done, size - done, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

uint32_t ReadLe32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void PutLe32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

bool PeerCredentials(int fd, ucred* credentials) {
  socklen_t size = sizeof(*credentials);
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, credentials, &size) == 0;
}

}  // namespace

// --- Where the files are ---

std::wstring InstanceFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::wstring base;
  if (runtime && runtime[0] == '/') base = PathFromBytes(runtime);
  else if (!LocalDataBase().empty()) base = LocalDataBase();
  if (base.empty()) return {};
  const std::wstring folder = JoinPath(base, L"Veldmix");
  if (!FolderExists(folder)) {
    CreateFolderTree(base);
    mkdir(PathToBytes(folder).c_str(), kPrivateFolderMode);
  }
  return folder;
}

std::wstring InstanceLockPath() { return JoinPath(InstanceFolder(), L"Orrelby.Veldmix.lock"); }
std::wstring InstanceSocketPath() { return JoinPath(InstanceFolder(), L"Orrelby.Veldmix.sock"); }

// --- The lock ---

InstanceLock::InstanceLock(std::wstring path) : path_(std::move(path)) {}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::TryTake(std::wstring* error) {
  if (held_) return true;
  if (fd_ < 0) {
    fd_ = open(PathToBytes(path_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      if (error) *error = SystemError("open", errno) + L" (" + path_ + L")";
      return false;
    }
  }
  if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    held_ = true;
    return true;
  }
  if (errno != EWOULDBLOCK && error) *error = SystemError("flock", errno);
  return false;
}

bool InstanceLock::WaitTake(unsigned timeoutMs) {
  const uint64_t deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    std::wstring error;
    if (TryTake(&error)) return true;
    if (!error.empty() || MonotonicMs() >= deadline) return false;
    SleepMs(kLockRetryMs);
  }
}

void InstanceLock::Release() {
  if (fd_ >= 0) close(fd_);  // closing drops the flock
  fd_ = -1;
  held_ = false;
}

// --- The receiving side ---

struct HandOffListener::State {
  std::wstring path;
  int listenFd = -1;
  int stopPipe[2] = {-1, -1};
  std::function<void()> wake;
  std::thread thread;

  std::mutex mutex;
  std::condition_variable answered;
  bool pending = false;   // a message waits to be taken or answered
  bool taken = false;
  bool hasAnswer = false;
  int answer = 0;
  bool stopping = false;
  HandOff message;

  void Run();
  void Serve(int connection);
};

void HandOffListener::State::Run() {
  for (;;) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int connection = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    Serve(connection);
    close(connection);
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return;
  }
}

void HandOffListener::State::Serve(int connection) {
  HandOff received;
  ucred credentials{};
  if (!PeerCredentials(connection, &credentials) || credentials.uid != getuid()) {
    return;  // another user's process: not a copy of ours
  }
  received.senderPid = static_cast<unsigned long>(credentials.pid);
  const uint64_t deadline = DeadlineAfter(kHandOffReadMs);
  char header[kHeaderBytes];
  const size_t got = ReadUntil(connection, header, kHeaderBytes, deadline, stopPipe[0]);
  if (got == kHeaderBytes) {
    received.hasRecord = true;
    received.code = ReadLe32(header);
    const uint32_t size = ReadLe32(header + 4);
    if (size > kHandOffMaxBytes) {
      received.problem = L"a hand-off of " + std::to_wstring(size) + L" bytes is larger than allowed";
    } else {
      received.data.resize(size);
      const size_t body = ReadUntil(connection, received.data.data(), size, deadline, stopPipe[0]);
      if (body != size) {
        received.problem = L"the hand-off ended after " + std::to_wstring(body) + L" of " + std::to_wstring(size) +
                           L" bytes";
      }
    }
  } else if (got != 0) {
    received.problem = L"the hand-off ended inside its header";
  }

  {
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping) return;
    message = std::move(received);
    pending = true;
    taken = false;
    hasAnswer = false;
  }
  if (wake) wake();
  int result = 0;
  {
    std::unique_lock<std::mutex> lock(mutex);
    answered.wait(lock, [this] { return hasAnswer || stopping; });
    if (!hasAnswer) return;
    result = answer;
    pending = false;
  }
  const char byte = static_cast<char>(result);
  WriteAll(connection, &byte, 1, DeadlineAfter(kHandOffReadMs));  // the sender may have gone
}

HandOffListener::HandOffListener() = default;

HandOffListener::~HandOffListener() { Close(); }

bool HandOffListener::open() const { return state_ != nullptr; }

bool HandOffListener::Open(const std::wstring& socketPath, std::function<void()> wake, std::wstring* error) {
  Close();
  sockaddr_un address;
  if (!MakeSocketAddress(socketPath, &address, error)) return false;
  auto state = std::make_unique<State>();
  state->path = socketPath;
  state->wake = std::move(wake);
  if (pipe2(state->stopPipe, O_CLOEXEC) != 0) {
    if (error) *error = SystemError("pipe", errno);
    return false;
  }
  state->listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto fail = [&](const char* step) {
    if (error) *error = SystemError(step, errno) + L" (" + socketPath + L")";
    if (state->listenFd >= 0) close(state->listenFd);
    close(state->stopPipe[0]);
    close(state->stopPipe[1]);
    return false;
  };
  if (state->listenFd < 0) return fail("socket");
  unlink(address.sun_path);  // a socket left by a copy that died; we hold the lock, so it is ours
  if (bind(state->listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return fail("bind");
  chmod(address.sun_path, 0600);
  if (listen(state->listenFd, kListenBacklog) != 0) {
    unlink(address.sun_path);
    return fail("listen");
  }
  State* raw = state.get();
  state->thread = std::thread([raw] {
    NameThisThread("vm-handoff");
    raw->Run();
  });
  state_ = std::move(state);
  return true;
}

void HandOffListener::Close() {
  if (!state_) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->answered.notify_all();
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(state_->stopPipe[1], &byte, 1);
  if (state_->thread.joinable()) state_->thread.join();
  close(state_->listenFd);
  close(state_->stopPipe[0]);
  close(state_->stopPipe[1]);
  unlink(PathToBytes(state_->path).c_str());
  state_.reset();
}

bool HandOffListener::Take(HandOff* handOff) {
  if (!state_) return false;
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (!state_->pending || state_->taken) return false;
  state_->taken = true;
  *handOff = state_->message;
  return true;
}

void HandOffListener::Answer(int result) {
  if (!state_) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->pending || !state_->taken) return;
    state_->answer = result;
    state_->hasAnswer = true;
  }
  state_->answered.notify_all();
}

// --- The sending side ---

HandOffSent SendHandOff(const std::wstring& socketPath, const HandOff* record, unsigned timeoutMs,
                        unsigned long* receiverPid, int* result) {
  if (receiverPid) *receiverPid = 0;
  if (result) *result = -1;
  sockaddr_un address;
  if (!MakeSocketAddress(socketPath, &address, nullptr)) return HandOffSent::NoReceiver;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return HandOffSent::NoReceiver;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    close(fd);
    // A full backlog means a receiver that has stopped accepting: it exists but hangs.
    return error == EAGAIN ? HandOffSent::NoAnswer : HandOffSent::NoReceiver;
  }
  ucred credentials{};
  if (receiverPid && PeerCredentials(fd, &credentials)) *receiverPid = static_cast<unsigned long>(credentials.pid);
  HandOffSent outcome = HandOffSent::Delivered;
  if (record) {
    const uint64_t deadline = DeadlineAfter(timeoutMs);
    std::string bytes;
    PutLe32(&bytes, record->code);
    PutLe32(&bytes, static_cast<uint32_t>(record->data.size()));
    bytes += record->data;
    char answer = 0;
    if (!WriteAll(fd, bytes.data(), bytes.size(), deadline) ||
        ReadUntil(fd, &answer, 1, deadline, -1) != 1) {
      outcome = HandOffSent::NoAnswer;
    } else if (result) {
      *result = static_cast<unsigned char>(answer);
    }
  }
  close(fd);
  return outcome;
}
