#pragma once
// The platform's tag store for audio files (TagLib): the common text properties of any format the
// library knows (MP3, FLAC, OGG, Opus, M4A, WAV, AIFF, WMA, APE, WavPack...) and the play time.
// A store opened for writing edits a copy of the file beside it; only a commit that saved and read
// back correctly replaces the file, so a failed or interrupted edit never damages it.
#include <memory>
#include <string>
#include <vector>

enum class TagProperty { Title, Artist, Album, Genre, Comment, Lyrics };
enum class TagAccess { Read, ReadWrite };

class TagStore {
 public:
  ~TagStore();  // an uncommitted working copy is removed
  TagStore(const TagStore&) = delete;
  TagStore& operator=(const TagStore&) = delete;

  // Opens the file's tags. Read: nullptr when the file is missing or no format here reads it.
  // ReadWrite: also nullptr when the file or its folder is not writable or the working copy cannot
  // be made. *detail (when given) says why, for the log.
  static std::unique_ptr<TagStore> Open(const std::wstring& path, TagAccess access,
                                        std::wstring* detail = nullptr);

  // The property's values in the file's order; empty when absent.
  std::vector<std::wstring> Values(TagProperty property) const;
  // Replaces the property's values; an empty list removes it. False when the store was opened for
  // reading or the format cannot hold the property.
  bool SetValues(TagProperty property, const std::vector<std::wstring>& values);
  // Saves the working copy, reads it back (every value set, the play time unchanged) and renames
  // it over the file. False, with the file untouched, when any step fails. ReadWrite stores only.
  bool Commit(std::wstring* detail = nullptr);
  // The play time the format reports, in seconds; false when it reports none.
  bool Duration(double* seconds) const;

  struct State;

 private:
  explicit TagStore(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
