#pragma once
// One running copy per user. A second start hands its command line to the running copy and
// ends; the running copy opens what it received on the UI thread. Test runs skip all of this.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class InstanceLock;

// dwData of the hand-off record: "VXOP", first character in the most significant byte.
inline constexpr uint32_t kHandOffCode = uint32_t('V') << 24 | uint32_t('X') << 16 | uint32_t('O') << 8 | 'P';
// A second start looks for the running window this many times, waiting on the lock between.
inline constexpr int kHandOffRounds = 50;
inline constexpr unsigned kHandOffRoundWaitMs = 100;
// How long a second start waits for the running copy to take its record.
inline constexpr unsigned kHandOffAnswerMs = 5000;

// --- Command-line text ---

// One text holding the arguments, quoted so that SplitArguments gives them back exactly (the
// rules of CommandLineToArgvW: quotes around blanks, backslashes doubled before a quote).
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);
// Splits a command-line text by the same rules. An empty or blank text gives no arguments.
std::vector<std::wstring> SplitArguments(std::wstring_view text);

// --- The hand-off record ---

// lpData for a text: UTF-16LE code units with the terminating NUL, so cbData is
// (units + 1) x 2.
std::string EncodeHandOffText(const std::wstring& text);
// The text of lpData: cbData / 2 units (a last odd byte is ignored), cut at the first NUL;
// a lone surrogate becomes U+FFFD.
std::wstring DecodeHandOffText(std::string_view data);
// The receiving window's WM_COPYDATA: 0 for a foreign code; 1 for ours, and then `open` gets
// the text unless the record holds less than one character.
int HandleCopyData(uint32_t code, std::string_view data, const std::function<void(const std::wstring&)>& open);

// --- The rule ---

enum class InstanceClaim {
  First,          // this process holds the lock: it is the running copy from now on
  HandedOff,      // the running copy got the command line (or at least the call to come forward)
  NotResponding,  // a copy holds the lock but never showed its window
};

// The rule with its parts given: takes `lock` or hands argumentText (nothing when empty) to the
// copy listening at socketPath, trying kHandOffRounds times. A lock file that cannot be opened
// counts as First. Logs the hand-off.
InstanceClaim ClaimInstance(InstanceLock& lock, const std::wstring& socketPath, const std::wstring& argumentText);
// The rule for this process, before the window exists: true to go on as the running copy
// (the lock is then held until exit); false to end now with *exitCode, after the message box
// when the running copy does not respond.
bool EnforceSingleInstance(const std::wstring& argumentText, int* exitCode);

// The mark a second start looks for (the window property): opens the hand-off channel, whose
// messages wake the loop as WindowNotice::HandOff. UI thread; false and a log line on failure.
bool SetInstanceMark();
// Closes the channel; harmless when it is not open.
void RemoveInstanceMark();
// Runs every waiting hand-off through `copyData` (its result is the sender's answer), then
// brings the window forward. UI thread.
void ServeHandOffs(const std::function<int(uint32_t code, const std::string& data)>& copyData);
