#include "base/musical_keys.h"

#include <array>

namespace {

constexpr int32_t kPitchClasses = 12;
constexpr int32_t kMinorOffset = 12;        // minor keys follow the twelve major ones
constexpr int32_t kRelativeMajorStep = 3;   // semitones from a minor tonic to its relative major
constexpr int32_t kFifthStep = 7;           // semitones per step round the Camelot wheel
constexpr int32_t kWheelOffset = 7;         // puts C major at position 7, Camelot 8B
constexpr int32_t kWheelNeighbourDistance = 1;
constexpr int32_t kWheelStepPenalty = 2;

constexpr std::array<const wchar_t*, kPitchClasses> kNoteNames = {
    L"C", L"Db", L"D", L"Eb", L"E", L"F", L"F#", L"G", L"Ab", L"A", L"Bb", L"B"};

// Pitch class of the note letters A to G.
constexpr std::array<int32_t, 7> kLetterPitchClass = {9, 11, 0, 2, 4, 5, 7};

constexpr wchar_t kSharpSign = L'\u266F';
constexpr wchar_t kFlatSign = L'\u266D';

bool IsKnownKey(int32_t key) { return key >= 0 && key < kKeyCount; }
bool IsMinor(int32_t key) { return key >= kMinorOffset; }
int32_t Wrap12(int32_t value) { return ((value % kPitchClasses) + kPitchClasses) % kPitchClasses; }

// Position 0..11 on the Camelot wheel; a minor key shares its relative major's position.
int32_t WheelPosition(int32_t key) {
  int32_t pitch = key % kPitchClasses;
  if (IsMinor(key)) pitch = (pitch + kRelativeMajorStep) % kPitchClasses;
  return ((pitch * kFifthStep) % kPitchClasses + kWheelOffset) % kPitchClasses;
}

// ASCII-only case folding: key texts are ASCII, and other letters must not fold into them.
wchar_t FoldCase(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsFolded(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

}  // namespace

std::wstring KeyName(int32_t key, bool camelot) {
  if (!IsKnownKey(key)) return {};
  if (camelot) return std::to_wstring(WheelPosition(key) + 1) + (IsMinor(key) ? L"A" : L"B");
  return std::wstring(kNoteNames[key % kPitchClasses]) + (IsMinor(key) ? L"m" : L"");
}

int32_t ParseKey(std::wstring_view text) {
  std::wstring compact;
  compact.reserve(text.size());
  for (wchar_t c : text)
    if (c != L' ') compact.push_back(c);
  if (compact.empty()) return kKeyUnknown;

  if (compact[0] >= L'0' && compact[0] <= L'9') {
    for (int32_t key = 0; key < kKeyCount; ++key)
      if (EqualsFolded(compact, KeyName(key, true))) return key;
    return kKeyUnknown;
  }

  const wchar_t letter = compact[0] >= L'a' && compact[0] <= L'z' ? static_cast<wchar_t>(compact[0] - L'a' + L'A')
                                                                   : compact[0];
  if (letter < L'A' || letter > L'G') return kKeyUnknown;
  int32_t pitch = kLetterPitchClass[letter - L'A'];
  size_t rest_at = 1;
  if (compact.size() > 1) {
    const wchar_t accidental = compact[1];
    if (accidental == L'#' || accidental == kSharpSign) ++pitch, rest_at = 2;
    else if (accidental == L'b' || accidental == kFlatSign) --pitch, rest_at = 2;
  }
  const std::wstring_view rest = std::wstring_view(compact).substr(rest_at);
  bool minor;
  if (EqualsFolded(rest, L"m") || EqualsFolded(rest, L"min") || EqualsFolded(rest, L"minor")) minor = true;
  else if (rest.empty() || EqualsFolded(rest, L"maj") || EqualsFolded(rest, L"major")) minor = false;
  else return kKeyUnknown;
  return Wrap12(pitch) + (minor ? kMinorOffset : 0);
}

int32_t TransposeKey(int32_t key, int32_t semitones) {
  if (!IsKnownKey(key)) return key;
  // Reducing the shift first keeps any 32-bit shift free of overflow.
  return Wrap12(key % kPitchClasses + semitones % kPitchClasses) + (IsMinor(key) ? kMinorOffset : 0);
}

int32_t KeyDistance(int32_t a, int32_t b) {
  if (!IsKnownKey(a) || !IsKnownKey(b)) return kKeyDistanceUnknown;
  const bool same_mode = IsMinor(a) == IsMinor(b);
  const int32_t around = Wrap12(WheelPosition(a) - WheelPosition(b));
  const int32_t steps = around <= kPitchClasses / 2 ? around : kPitchClasses - around;
  if (steps == 0) return same_mode ? 0 : 1;
  if (same_mode && steps == kWheelNeighbourDistance) return 1;
  return steps + kWheelStepPenalty;
}
