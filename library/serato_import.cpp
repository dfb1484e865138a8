#include "library/serato_import.h"

#include <algorithm>
#include <filesystem>
#include <unordered_set>

#include "library/id3_frames.h"
#include "library/serato_tags.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/folders.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunkHeaderBytes = 8;
constexpr wchar_t kCrateExtension[] = L".crate";
constexpr wchar_t kSubcrateSeparator[] = L"%%";
constexpr wchar_t kListSeparator[] = L" / ";

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The whole file when it is a regular file within the cap (a FIFO would block the reader).
std::string ReadSeratoFile(const std::wstring& path) {
  std::string bytes;
  if (IsRegularFile(path) && ReadBytes(path, &bytes, kMaxSeratoFileBytes) != ReadStatus::Ok) bytes.clear();
  return bytes;
}

// The ".crate" files of the folder by name (not recursive); none when it cannot be listed.
std::vector<std::wstring> CrateFiles(const std::wstring& folder) {
  std::vector<std::wstring> crates;
  std::error_code ec;
  fs::directory_iterator it(fs::path(PathToBytes(folder)), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::wstring name = PathFromBytes(it->path().filename().string());
    if (name.size() > std::size(kCrateExtension) - 1 && name.ends_with(kCrateExtension))
      crates.push_back(name);
  }
  std::sort(crates.begin(), crates.end());
  return crates;
}

std::wstring CrateListName(std::wstring stem) {
  for (size_t at = stem.find(kSubcrateSeparator); at != std::wstring::npos;
       at = stem.find(kSubcrateSeparator, at + std::size(kListSeparator) - 1))
    stem.replace(at, std::size(kSubcrateSeparator) - 1, kListSeparator);
  return stem;
}

struct SeratoReader {
  std::wstring volumeRoot;
  ImportResult result;
  std::unordered_set<std::wstring> added;

  // The local paths of a stream's tracks that name regular files.
  std::vector<std::wstring> LocalPaths(const std::string& stream) const {
    std::vector<std::wstring> paths;
    for (const std::wstring& stored :
         SeratoStreamPaths(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(stream.data()), stream.size()))) {
      std::wstring path = SeratoLocalPath(stored, volumeRoot);
      if (!path.empty() && ImportableFile(path)) paths.push_back(std::move(path));
    }
    return paths;
  }

  void AddTrack(const std::wstring& path) {
    if (added.contains(path) || !ImportedTrackFits(result)) return;
    added.insert(path);
    ImportedTrack track;
    track.path = path;
    ReadSeratoTags(path, &track);
    result.tracks.push_back(std::move(track));
  }
};

}  // namespace

void ForEachSeratoChunk(std::span<const uint8_t> bytes,
                        const std::function<void(std::string_view tag, std::span<const uint8_t> payload)>& handler) {
  size_t pos = 0;
  while (bytes.size() - pos >= kChunkHeaderBytes) {
    const std::string_view tag(reinterpret_cast<const char*>(&bytes[pos]), 4);
    const uint64_t length = BigEndian32(&bytes[pos + 4]);
    pos += kChunkHeaderBytes;
    if (length > bytes.size() - pos) return;
    handler(tag, bytes.subspan(pos, static_cast<size_t>(length)));
    pos += static_cast<size_t>(length);
  }
}

std::vector<std::wstring> SeratoStreamPaths(std::span<const uint8_t> bytes) {
  std::vector<std::wstring> paths;
  ForEachSeratoChunk(bytes, [&](std::string_view tag, std::span<const uint8_t> track) {
    if (tag != "otrk") return;
    ForEachSeratoChunk(track, [&](std::string_view inner, std::span<const uint8_t> payload) {
      if (inner == "ptrk" || inner == "pfil") paths.push_back(Utf16BytesToWide(payload, true));
    });
  });
  return paths;
}

std::wstring SeratoLocalPath(const std::wstring& stored, const std::wstring& volumeRoot) {
  if (stored.empty() || stored.find(L'\0') != std::wstring::npos) return {};
  if (stored.front() == L'/') return stored;
  if (volumeRoot.empty()) return {};
  return volumeRoot + stored;
}

ImportResult ImportSerato(const std::wstring& folder) {
  SeratoReader reader;
  const std::wstring crateFolder = JoinPath(folder, L"Subcrates");
  const std::wstring database = JoinPath(folder, L"database V2");
  if (!FolderExists(crateFolder) && ProbePath(database) != PathState::Exists) {
    reader.result.error = L"That isn't a Serato library — choose the _Serato_ folder (usually in your Music folder)";
    return std::move(reader.result);
  }
  reader.volumeRoot = VolumeRootOf(folder);
  for (const std::wstring& name : CrateFiles(crateFolder)) {
    std::vector<std::wstring> paths;
    for (std::wstring& path : reader.LocalPaths(ReadSeratoFile(JoinPath(crateFolder, name))))
      if (!AddPlaylistPath(reader.result, paths, std::move(path))) break;
    for (const std::wstring& path : paths) reader.AddTrack(path);
    AddImportedPlaylist(reader.result, CrateListName(name.substr(0, name.size() - (std::size(kCrateExtension) - 1))),
                        std::move(paths));
  }
  for (const std::wstring& path : reader.LocalPaths(ReadSeratoFile(database))) reader.AddTrack(path);
  if (reader.result.tracks.empty() && reader.result.error.empty())
    reader.result.error = L"No tracks from that Serato library were found on this computer";
  return std::move(reader.result);
}
