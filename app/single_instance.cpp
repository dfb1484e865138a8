#include "app/single_instance.h"

#include <memory>

#include "base/log.h"
#include "platform/instance_lock.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;
constexpr size_t kProblemExcerptChars = 120;


// Held from the moment this process becomes the running copy until it exits.
std::unique_ptr<InstanceLock> g_lock;
HandOffListener g_listener;

void PutUnit(std::string* out, uint16_t unit) {
  out->push_back(static_cast<char>(unit & 0xFF));
  out->push_back(static_cast<char>(unit >> 8));
}

}  // namespace

// --- Command-line text ---

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
  std::wstring text;
  for (const std::wstring& argument : arguments) {
    if (!text.empty()) text += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      text += argument;
      continue;
    }
    text += L'"';
    size_t backslashes = 0;
    for (wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      // Backslashes count only before a quote: there they are doubled, and the quote escaped.
      text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      text += c;
    }
    text.append(backslashes * 2, L'\\');  // before the closing quote
    text += L'"';
  }
  return text;
}

std::vector<std::wstring> SplitArguments(std::wstring_view text) {
  std::vector<std::wstring> arguments;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;
    std::wstring argument;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(text[i]))) {
      const wchar_t c = text[i];
      if (c == L'\\') {
        size_t backslashes = 0;
        while (i < n && text[i] == L'\\') ++backslashes, ++i;
        if (i < n && text[i] == L'"') {
          argument.append(backslashes / 2, L'\\');
          if (backslashes % 2 == 1) {
            argument += L'"';
            ++i;
          }
        } else {
          argument.append(backslashes, L'\\');
        }
        continue;
      }
      if (c == L'"') {
        // Inside quotes a doubled quote is one literal quote.
        if (quoted && i + 1 < n && text[i + 1] == L'"') {
          argument += L'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      argument += c;
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

// --- The hand-off record ---

std::string EncodeHandOffText(const std::wstring& text) {
  std::string data;
  data.reserve((text.size() + 1) * 2);
  for (wchar_t c : text) {
    auto code = static_cast<uint32_t>(c);
    // A file name's escaped byte (a lone U+DC80..U+DCFF) travels as itself, so the path arrives whole.
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF && !IsRawByteChar(c))) code = kReplacement;
    if (code >= 0x10000) {
      code -= 0x10000;
      PutUnit(&data, static_cast<uint16_t>(0xD800 + (code >> 10)));
      PutUnit(&data, static_cast<uint16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      PutUnit(&data, static_cast<uint16_t>(code));
    }
  }
  PutUnit(&data, 0);
  return data;
}

std::wstring DecodeHandOffText(std::string_view data) {
  const size_t units = data.size() / 2;
  auto unitAt = [&](size_t k) {
    return static_cast<uint16_t>(static_cast<unsigned char>(data[2 * k]) |
                                 static_cast<unsigned char>(data[2 * k + 1]) << 8);
  };
  std::wstring text;
  for (size_t k = 0; k < units; ++k) {
    const uint16_t unit = unitAt(k);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < units) {
      const uint16_t low = unitAt(k + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        text += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++k;
        continue;
      }
    }
    const auto kept = static_cast<wchar_t>(unit);
    text += (unit >= 0xD800 && unit <= 0xDFFF && !IsRawByteChar(kept)) ? kReplacement : kept;
  }
  return text;
}

int HandleCopyData(uint32_t code, std::string_view data, const std::function<void(const std::wstring&)>& open) {
  if (code != kHandOffCode) return 0;
  if (data.size() < 2) return 1;
  open(DecodeHandOffText(data));
  return 1;
}

// --- The rule ---

InstanceClaim ClaimInstance(InstanceLock& lock, const std::wstring& socketPath, const std::wstring& argumentText) {
  std::wstring error;
  if (lock.TryTake(&error)) return InstanceClaim::First;
  if (!error.empty()) {
    // Without a lock nobody can be found either: run rather than refuse to start.
    WriteLog(L"Couldn't open the single-instance lock ({}); starting anyway", error);
    return InstanceClaim::First;
  }
  HandOff record;
  record.hasRecord = true;
  record.code = kHandOffCode;
  record.data = EncodeHandOffText(argumentText);
  for (int round = 0; round < kHandOffRounds; ++round) {
    unsigned long receiver = 0;
    int answer = -1;
    const HandOffSent sent =
        SendHandOff(socketPath, argumentText.empty() ? nullptr : &record, kHandOffAnswerMs, &receiver, &answer);
    if (sent != HandOffSent::NoReceiver) {
      if (sent == HandOffSent::NoAnswer) WriteLog(L"The copy already running did not answer the hand-off");
      WriteLog(L"Handed off to the copy already running (process {})", receiver);
      return InstanceClaim::HandedOff;
    }
    if (lock.WaitTake(kHandOffRoundWaitMs)) return InstanceClaim::First;
  }
  return InstanceClaim::NotResponding;
}

bool EnforceSingleInstance(const std::wstring& argumentText, int* exitCode) {
  *exitCode = 0;
  g_lock = std::make_unique<InstanceLock>(InstanceLockPath());
  switch (ClaimInstance(*g_lock, InstanceSocketPath(), argumentText)) {
    case InstanceClaim::First:
      return true;
    case InstanceClaim::HandedOff:
      g_lock.reset();
      return false;
    case InstanceClaim::NotResponding:
      g_lock.reset();
      WriteLog(L"Another copy is running but not responding");
      ShowMessageBox(L"Veldmix",
                     L"Veldmix is already running but isn't responding.\n\nClose it (in a system monitor if need be), "
                     L"then start Veldmix again.",
                     MessageBoxIcon::Warning);
      return false;
  }
  return false;
}

bool SetInstanceMark() {
  std::wstring error;
  if (g_listener.Open(InstanceSocketPath(), [] { PostWindowNotice(WindowNotice::HandOff); }, &error)) return true;
  WriteLog(L"Couldn't open the hand-off channel for later starts ({})", error);
  return false;
}

void RemoveInstanceMark() { g_listener.Close(); }

void ServeHandOffs(const std::function<int(uint32_t code, const std::string& data)>& copyData) {
  HandOff handOff;
  while (g_listener.Take(&handOff)) {
    int result = 0;
    if (!handOff.problem.empty()) {
      WriteLog(L"Ignored a hand-off from process {}: {}", handOff.senderPid,
               handOff.problem.substr(0, kProblemExcerptChars));
    } else if (handOff.hasRecord) {
      result = copyData(handOff.code, handOff.data);
    }
    g_listener.Answer(result);
    RestoreAndRaiseWindow();
  }
}
