#pragma once
// One running copy per user, and the channel over which a second start hands its command line
// to it. A lock file held with flock stands in for the named mutex (the kernel drops the lock
// when its holder dies, as Windows abandons a mutex); a listening Unix socket beside it stands in
// for the main window's mark, and one message on that socket for WM_COPYDATA. Both files live
// in a folder only this user can enter.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// A hand-off larger than this is refused unread (a command line of paths is far smaller).
inline constexpr size_t kHandOffMaxBytes = size_t(1) << 20;
// How long the receiver waits for a connected sender to finish its message.
inline constexpr unsigned kHandOffReadMs = 5000;

// --- Where the files are ---

// "$XDG_RUNTIME_DIR/Veldmix", else the support folder; created with mode 0700 when missing.
// Empty when neither can be resolved.
std::wstring InstanceFolder();
// The lock file and the socket in InstanceFolder(), named after the mutex "Orrelby.Veldmix".
std::wstring InstanceLockPath();
std::wstring InstanceSocketPath();

// --- The lock ---

// One claim on the lock file. Two objects conflict even inside one process (flock locks belong
// to the open file), which lets tests play both copies.
class InstanceLock {
 public:
  explicit InstanceLock(std::wstring path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when this object holds the lock now. False with *error empty: another holder has it.
  // False with *error set: the lock file cannot be opened (the caller decides what that means).
  bool TryTake(std::wstring* error);
  // Tries for up to timeoutMs; true once taken. False at once when the file cannot be opened.
  bool WaitTake(unsigned timeoutMs);
  void Release();
  bool held() const { return held_; }

 private:
  std::wstring path_;
  int fd_ = -1;
  bool held_ = false;
};

// --- The hand-off ---

// One message of the hand-off protocol: the fields of a COPYDATASTRUCT.
// On the socket: dwData and cbData as little-endian 32-bit numbers, then cbData bytes of lpData.
// A connection closed without a message only asks the running window to come forward.
struct HandOff {
  bool hasRecord = false;        // false: the sender sent nothing but its connection
  uint32_t code = 0;             // dwData
  std::string data;              // lpData, cbData bytes
  unsigned long senderPid = 0;   // from the socket's peer credentials
  std::wstring problem;          // set when the message was cut short or refused; then unusable
};

// The running copy's side. Its thread accepts one connection at a time, reads the message within
// kHandOffReadMs, hands it over and waits for the answer before taking the next connection.
class HandOffListener {
 public:
  HandOffListener();
  ~HandOffListener();
  HandOffListener(const HandOffListener&) = delete;
  HandOffListener& operator=(const HandOffListener&) = delete;

  // Replaces a stale socket file at the path (the caller holds the instance lock), listens and
  // starts the thread; wake() is called from that thread after each message. False with *error
  // set when the socket cannot be made.
  bool Open(const std::wstring& socketPath, std::function<void()> wake, std::wstring* error);
  // Stops the thread, closes the socket and removes its file; a waiting sender gets no answer.
  // Harmless when not open.
  void Close();
  bool open() const;
  // The message waiting for an answer, if any. UI thread.
  bool Take(HandOff* handOff);
  // Answers the taken message with one byte (the WM_COPYDATA result) and lets the thread go on.
  void Answer(int result);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

enum class HandOffSent {
  NoReceiver,  // nothing listens at the path: no running window carries the mark yet
  Delivered,   // the message (or the bare connection) reached the running copy
  NoAnswer,    // a receiver exists but did not answer within the time
};

// The second start's side. Connects; with a record sends it and waits up to timeoutMs for the
// answer byte (*result, else -1). *receiverPid is the running copy's process id (0 unknown).
HandOffSent SendHandOff(const std::wstring& socketPath, const HandOff* record, unsigned timeoutMs,
                        unsigned long* receiverPid, int* result);
