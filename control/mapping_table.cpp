#include "control/mapping_table.h"

#include <algorithm>
#include <filesystem>

#include "base/files.h"
#include "base/log.h"
#include "base/status_message.h"
#include "base/test_mode.h"
#include "control/controller_leds.h"
#include "control/dispatcher.h"
#include "control/midi_learn.h"
#include "engine/deck_view.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/text.h"

MappingPairs MappingTable;

namespace {

constexpr size_t kMaxMappingFileBytes = 16u << 20;  // far beyond any real mapping

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Reads the file's pairs; false when it cannot be read.
bool ReadMappingFile(const std::wstring& path, std::vector<std::pair<uint32_t, uint32_t>>* pairs) {
  std::string bytes;
  if (ReadBytes(path, &bytes, kMaxMappingFileBytes) != ReadStatus::Ok) return false;
  *pairs = ParseMappingPairs(bytes);
  return true;
}

void ReplaceTable(const std::vector<std::pair<uint32_t, uint32_t>>& pairs) {
  MappingTable.clear();
  for (const auto& [key, value] : pairs) MappingTable[key] = value;
  RebuildMappedTargets();
  ClearControllerLedCache();
}

}  // namespace

std::optional<uint32_t> FindMapping(uint32_t key) {
  if (IsShiftHeld()) {
    if (auto shifted = MappingTable.find(key | kShiftLayerFlag); shifted != MappingTable.end()) return shifted->second;
  }
  if (auto plain = MappingTable.find(key); plain != MappingTable.end()) return plain->second;
  return std::nullopt;
}

void RebuildMappedTargets() {
  mappedControlIds.clear();
  for (const auto& [key, value] : MappingTable) mappedControlIds.insert(MappingTarget(value));
}

std::vector<std::pair<uint32_t, uint32_t>> ParseMappingPairs(std::string_view text) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  size_t at = 0;
  auto next = [&](uint32_t* number) {
    while (at < text.size() && Space(text[at])) ++at;
    uint64_t value = 0;
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + static_cast<uint64_t>(text[at] - '0');
      if (value > UINT32_MAX) return false;
      ++at;
    }
    if (at == start) return false;
    *number = static_cast<uint32_t>(value);
    return true;
  };
  // An odd line ends only itself: the next line is read again, so one damaged line never takes
  // the mappings after it (which the next save would then drop for good).
  while (at < text.size()) {
    const size_t lineEnd = std::min(text.find('\n', at), text.size());
    const std::string_view whole = text;
    text = whole.substr(0, lineEnd);
    uint32_t key = 0, value = 0;
    while (next(&key) && next(&value)) pairs.emplace_back(key, value);
    text = whole;
    at = lineEnd + 1;
  }
  return pairs;
}

std::string MappingFileText(const MappingPairs& table) {
  std::string text;
  text.reserve(table.size() * 20);
  for (const auto& [key, value] : table) {
    text += std::to_string(key);
    text += '\t';
    text += std::to_string(value);
    text += '\n';
  }
  return text;
}

void LoadMidiMap(const std::wstring& path) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  ReadMappingFile(path, &pairs);
  ReplaceTable(pairs);
}

bool ImportMidiMap(const std::wstring& path) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  if (!ReadMappingFile(path, &pairs) || pairs.empty()) {
    ShowStatus(L"That file isn't a controller mapping");
    return false;
  }
  ReplaceTable(pairs);
  SaveMidiMap();
  return true;
}

bool WriteMidiMapFile(const std::wstring& path) {
  std::wstring error;
  if (WriteBytesAtomic(path, MappingFileText(MappingTable), &error)) return true;
  WriteLog(L"Mapping file not written: {}: {}", path, error);
  return false;
}

std::wstring MidiMapPath() { return JoinPath(AppDataDir(), L"midi.tsv"); }

bool SaveMidiMap() {
  if (TestMode) return true;
  if (WriteMidiMapFile(MidiMapPath())) return true;
  ShowStatus(L"Couldn't save the controller mapping (midi.tsv)", 4000);
  return false;
}

std::wstring ControllersFolder() {
  const std::wstring folder = JoinPath(AppDataDir(), L"Controllers");
  CreateFolderTree(folder);
  return folder;
}

std::vector<std::wstring> ListControllerMaps() {
  std::vector<std::wstring> names;
  std::error_code error;
  std::filesystem::directory_iterator it(PathToBytes(ControllersFolder()), error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    constexpr std::string_view kExtension = ".vxmap";
    if (name.size() <= kExtension.size() || name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0)
      continue;
    names.push_back(PathFromBytes(name.substr(0, name.size() - kExtension.size())));
  }
  return names;
}
