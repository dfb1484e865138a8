#pragma once
// The ID3v2 tag at the start of an audio file (versions 2.3 and 2.4): its frames with their bodies
// as stored, and the text fields inside them. Shared by the lyrics sources and the Serato import.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A tag (header, body and footer) larger than this is refused whole.
inline constexpr size_t kMaxId3TagBytes = size_t(64) << 20;
inline constexpr size_t kId3HeaderBytes = 10;
inline constexpr size_t kId3FrameHeaderBytes = 10;

// One frame: the four-character id ("SYLT", "USLT", "GEOB") and its data after the frame header,
// with unsynchronisation removed and any group byte or data length indicator dropped.
struct Id3Frame {
  std::string id;
  std::vector<uint8_t> data;
};

enum class Id3Status {
  Ok,
  NoTag,        // the bytes do not start with "ID3"
  Unsupported,  // a version other than 2.3 and 2.4
  Malformed,    // the tag's header or extended header does not hold together, or the file ends
                // inside the tag; nothing is returned
  Unreadable,   // the file cannot be opened
  Partial,      // a frame that does not hold together ended the walk; the frames before it are kept
};

struct Id3Tag {
  int version = 0;       // 3 or 4
  uint64_t bytes = 0;    // header + body (+ footer): where the audio starts in the file
  std::vector<Id3Frame> frames;  // in file order
};

// --- Reading whole tags ---
// Parses a tag from the first bytes of a file (header included; bytes after the tag are ignored).
// A bad frame (an id that is not one, a size that is not syncsafe in 2.4 or runs past the tag, flags
// its data is too short for) ends the walk: Partial, with the frames before it. On any status but
// Ok and Partial, *tag is left empty. *error (when given) says what was wrong.
Id3Status ParseId3Tag(std::span<const uint8_t> bytes, Id3Tag* tag, std::wstring* error = nullptr);
// Reads and parses the tag at the start of the file; reads no more than the tag itself.
Id3Status ReadId3Tag(const std::wstring& path, Id3Tag* tag, std::wstring* error = nullptr);
// The frames of the file's tag in file order, up to a bad frame; empty when it has none, or a
// malformed one. A bad frame or tag is logged with the reason.
std::vector<Id3Frame> ReadId3Frames(const std::wstring& path);

// --- Pieces ---
// A 28-bit syncsafe integer (four bytes of seven bits, most significant first); false when a byte
// has its top bit set.
bool ReadSyncsafe(const uint8_t* four, uint32_t* value);
// Drops every 00 byte that directly follows an FF byte.
std::vector<uint8_t> RemoveUnsync(std::span<const uint8_t> bytes);
// The whole file, or at most its first `limit` bytes; empty when it cannot be opened. The buffer
// is never larger than the file.
std::vector<uint8_t> ReadFileBytes(const std::wstring& path, size_t limit);

// --- Text fields ---
// UTF-16 bytes to wide text in the given byte order: surrogate pairs joined, a lone surrogate
// becomes U+FFFD, an odd last byte is ignored.
std::wstring Utf16BytesToWide(std::span<const uint8_t> bytes, bool bigEndian);
// One text field at *position in the given ID3 text encoding (0 Latin-1, 1 UTF-16 with an
// optional byte-order mark, little-endian without one, 2 UTF-16 big-endian unless a mark says
// otherwise, 3 UTF-8; any other byte reads as Latin-1). Reads to the encoding's terminator (00 or
// 00 00), or with toEnd to the end of the bytes; *position moves past what was read and its
// terminator. Surrogate pairs are joined; a lone surrogate becomes U+FFFD; trailing NULs are removed.
std::wstring ReadId3Text(std::span<const uint8_t> bytes, size_t* position, uint8_t encoding, bool toEnd);
