#include "platform/media_tags.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <apetag.h>
#include <audioproperties.h>
#include <fileref.h>
#include <mpegfile.h>
#include <tfile.h>
#include <tiostream.h>
#include <tpropertymap.h>
#include <tstringlist.h>

#include "platform/files.h"
#include "platform/text.h"

namespace {

constexpr size_t kCopyChunkBytes = 1 << 20;
constexpr long kShiftChunkBytes = 1 << 20;  // bytes moved at a time when a tag grows or shrinks
constexpr double kMillisecondsPerSecond = 1000.0;

struct PropertyName {
  TagProperty property;
  const char* name;   // TagLib's format-independent property name
  const char* alias;  // another name some writers use (FFmpeg keeps FLAC comments as DESCRIPTION)
};
constexpr PropertyName kPropertyNames[] = {
    {.property = TagProperty::Title, .name = "TITLE", .alias = nullptr},
    {.property = TagProperty::Artist, .name = "ARTIST", .alias = nullptr},
    {.property = TagProperty::Album, .name = "ALBUM", .alias = nullptr},
    {.property = TagProperty::Genre, .name = "GENRE", .alias = nullptr},
    {.property = TagProperty::Comment, .name = "COMMENT", .alias = "DESCRIPTION"},
    {.property = TagProperty::Lyrics, .name = "LYRICS", .alias = nullptr},
};

const PropertyName& RowOf(TagProperty property) {
  for (const PropertyName& row : kPropertyNames)
    if (row.property == property) return row;
  return kPropertyNames[0];  // unreachable: every enumerator has a row
}

// The key the file keeps this property under: the alias only when the file has it and not the name.
TagLib::String KeyIn(const TagLib::PropertyMap& map, TagProperty property) {
  const PropertyName& row = RowOf(property);
  if (row.alias != nullptr && !map.contains(row.name) && map.contains(row.alias)) return row.alias;
  return row.name;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool ReadAt(int fd, char* buf, size_t size, off_t at, size_t* got) {
  *got = 0;
  while (*got < size) {
    const ssize_t n = ::pread(fd, buf + *got, size - *got, at + static_cast<off_t>(*got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAt(int fd, const char* buf, size_t size, off_t at) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, buf + done, size - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The tag library's file access over our own descriptor. Its own stream ignores failed writes
// (a full disk leaves a cut file that it reports as saved); this one remembers every failure.
// It answers to the original file's name, so formats are recognised by that name's extension
// while the bytes go to the working copy. Reads never go past the end, whatever a header asks.
class CheckedStream : public TagLib::IOStream {
 public:
  CheckedStream(std::string name, int fd, bool writable) : name_(std::move(name)), fd_(fd), writable_(writable) {}
  ~CheckedStream() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool failed() const { return failed_; }
  int error() const { return error_; }  // the errno of the first failed write, or 0
  int fd() const { return fd_; }

  TagLib::FileName name() const override { return name_.c_str(); }
  TagLib::ByteVector readBlock(unsigned long length) override {
    const long size = Size();
    if (pos_ >= size) return TagLib::ByteVector();
    const size_t want = static_cast<size_t>(std::min<long long>(length, size - pos_));
    TagLib::ByteVector out(static_cast<unsigned int>(want), '\0');
    size_t got = 0;
    if (!ReadAt(fd_, out.data(), want, pos_, &got)) got = 0;
    out.resize(static_cast<unsigned int>(got));
    pos_ += static_cast<long>(got);
    return out;
  }
  void writeBlock(const TagLib::ByteVector& data) override {
    if (!Writable()) return;
    if (!WriteAt(fd_, data.data(), data.size(), pos_)) Fail();
    pos_ += static_cast<long>(data.size());
  }
  void insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace) override {
    if (!Writable()) return;
    const long size = Size();
    const long from = std::min<long>(static_cast<long>(start + replace), size);
    Shift(from, static_cast<long>(data.size()) - (from - static_cast<long>(start)), size);
    if (!WriteAt(fd_, data.data(), data.size(), static_cast<off_t>(start))) Fail();
    pos_ = static_cast<long>(start + data.size());
  }
  void removeBlock(unsigned long start, unsigned long length) override {
    if (!Writable()) return;
    const long size = Size();
    const long from = std::min<long>(static_cast<long>(start + length), size);
    Shift(from, static_cast<long>(start) - from, size);
  }
  bool readOnly() const override { return !writable_; }
  bool isOpen() const override { return fd_ >= 0; }
  void seek(long offset, Position p) override {
    const long base = p == Beginning ? 0 : p == Current ? pos_ : Size();
    if (base + offset >= 0) pos_ = base + offset;
  }
  long tell() const override { return pos_; }
  long length() override { return Size(); }
  void truncate(long length) override {
    if (Writable() && ::ftruncate(fd_, length) != 0) Fail();
  }

 private:
  bool Writable() {
    if (!writable_) failed_ = true;
    return writable_;
  }
  // Marks the stream failed, keeping the first failing call's errno for the message.
  void Fail() {
    if (!failed_) error_ = errno != 0 ? errno : EIO;
    failed_ = true;
  }
  long Size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<long>(st.st_size) : 0;
  }
  // Moves the bytes [from, size) by `by` (either way) in chunks, then fixes the file's length.
  void Shift(long from, long by, long size) {
    if (by == 0) return;
    std::string chunk(static_cast<size_t>(kShiftChunkBytes), '\0');
    auto move = [&](long at, long n) {
      size_t got = 0;
      if (!ReadAt(fd_, chunk.data(), static_cast<size_t>(n), at, &got) || got != static_cast<size_t>(n) ||
          !WriteAt(fd_, chunk.data(), static_cast<size_t>(n), at + by))
        Fail();
    };
    if (by > 0) {
      for (long end = size; end > from && !failed_;) {
        const long n = std::min(kShiftChunkBytes, end - from);
        move(end - n, n);
        end -= n;
      }
    } else {
      for (long at = from; at < size && !failed_;) {
        const long n = std::min(kShiftChunkBytes, size - at);
        move(at, n);
        at += n;
      }
      if (::ftruncate(fd_, size + by) != 0) Fail();
    }
  }

  std::string name_;
  int fd_;
  bool writable_;
  bool failed_ = false;
  int error_ = 0;
  long pos_ = 0;
};

// Copies the file's bytes, mode and (when allowed) owner over `to`; false with *detail on failure.
bool CopyFileBytes(const std::string& from, const std::string& to, std::wstring* detail) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *detail = SysText("open", errno);
    return false;
  }
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    *detail = SysText("stat", errno);
    ::close(in);
    return false;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    *detail = SysText("create copy", errno);
    ::close(in);
    return false;
  }
  std::string buffer(kCopyChunkBytes, '\0');
  bool ok = true;
  for (off_t at = 0; ok;) {
    size_t got = 0;
    if (!ReadAt(in, buffer.data(), buffer.size(), at, &got)) {
      *detail = SysText("read", errno);
      ok = false;
    } else if (got > 0 && !WriteAt(out, buffer.data(), got, at)) {
      *detail = SysText("write copy", errno ? errno : EIO);
      ok = false;
    }
    if (got < buffer.size()) break;
    at += static_cast<off_t>(got);
  }
  // Keep the owner when we may (running as root); otherwise the copy is ours, which is fine.
  if (ok && ::fchown(out, st.st_uid, st.st_gid) != 0) errno = 0;
  if (ok && ::fchmod(out, st.st_mode & 07777) != 0) {
    *detail = SysText("mode of copy", errno);
    ok = false;
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    *detail = SysText("close copy", errno);
    ok = false;
  }
  return ok;
}

// How many non-empty values a list holds: what a read-back must show of each property set. (Values
// themselves may come back normalised, e.g. an ID3 genre number as its name.)
size_t FilledCount(const TagLib::StringList& values) {
  size_t n = 0;
  for (const TagLib::String& v : values) n += v.isEmpty() ? 0 : 1;
  return n;
}

// An MP3 may also carry an APE tag, which the library reads when there is no ID3v2 tag but leaves
// out of its edits: the property changes there too, so no reader meets the older value. The
// tag's other items stay.
void SetInApeTag(TagLib::File& file, const TagLib::String& key, const TagLib::StringList& list) {
  auto* mp3 = dynamic_cast<TagLib::MPEG::File*>(&file);
  if (mp3 == nullptr || !mp3->hasAPETag()) return;
  TagLib::PropertyMap ape = mp3->APETag()->properties();
  if (list.isEmpty()) ape.erase(key);
  else ape.replace(key, list);
  mp3->APETag()->setProperties(ape);
}

}  // namespace

struct TagStore::State {
  TagAccess access = TagAccess::Read;
  std::string target;    // the real file (symbolic links resolved for writing)
  std::string workCopy;  // ReadWrite: the plan's temporary, renamed over the target on commit
  WritePlan plan;
  std::unique_ptr<CheckedStream> stream;  // declared before `file`, which uses it, so it outlives it
  TagLib::FileRef file;
  int originalLengthMs = -1;
  TagLib::PropertyMap written;  // what SetValues stored, checked after saving
  bool committed = false;

  void Discard() {
    file = TagLib::FileRef();
    stream.reset();
    if (!workCopy.empty()) ::unlink(workCopy.c_str());
    workCopy.clear();
  }
  ~State() {
    if (!committed) Discard();
  }
};

TagStore::TagStore(std::unique_ptr<State> state) : state_(std::move(state)) {}
TagStore::~TagStore() = default;

std::unique_ptr<TagStore> TagStore::Open(const std::wstring& path, TagAccess access, std::wstring* detail) {
  std::wstring ignored;
  std::wstring& why = detail ? *detail : ignored;
  auto state = std::make_unique<State>();
  state->access = access;
  state->target = PathToBytes(path);
  struct stat st {};
  if (::stat(state->target.c_str(), &st) != 0) {
    const int err = errno;
    struct stat link {};
    const bool isLink = ::lstat(state->target.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    why = err == ELOOP                   ? L"its symbolic links go round in a loop"
          : isLink && err == ENOENT      ? L"its symbolic link points at nothing"
          : err == ENOENT || err == ENOTDIR ? L"there is no file there"
                                         : SysText("stat", err);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? L"a folder stands there, not a file" : L"it is a device, pipe or socket, not a regular file";
    return nullptr;
  }
  if (access == TagAccess::Read) {
    state->file = TagLib::FileRef(state->target.c_str(), true, TagLib::AudioProperties::Average);
    if (state->file.isNull() || !state->file.file()->isValid()) {
      why = L"no tag format for this file";
      return nullptr;
    }
    return std::unique_ptr<TagStore>(new TagStore(std::move(state)));
  }

  if (!PlanWrite(path, SpecialTarget::Refuse, &state->plan, &why)) return nullptr;
  state->target = PathToBytes(state->plan.final);
  {
    TagLib::FileRef original(state->target.c_str(), true, TagLib::AudioProperties::Average);
    if (original.isNull() || !original.file()->isValid()) {
      why = L"no tag format for this file";
      return nullptr;
    }
    if (original.file()->readOnly() || ::access(state->target.c_str(), W_OK) != 0) {
      why = L"the file is read-only";
      return nullptr;
    }
    if (original.audioProperties()) state->originalLengthMs = original.audioProperties()->lengthInMilliseconds();
  }
  if (::access(FolderOf(state->target).c_str(), W_OK | X_OK) != 0) {
    why = L"the folder is read-only";
    return nullptr;
  }
  state->workCopy = PathToBytes(state->plan.temp);
  if (!CopyFileBytes(state->target, state->workCopy, &why)) return nullptr;  // State removes the copy
  const int fd = ::open(state->workCopy.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    why = SysText("open copy", errno);
    return nullptr;
  }
  state->stream = std::make_unique<CheckedStream>(state->target, fd, true);
  state->file = TagLib::FileRef(state->stream.get(), false);
  if (state->file.isNull() || !state->file.file()->isValid()) {
    why = L"the working copy cannot be opened";
    return nullptr;
  }
  return std::unique_ptr<TagStore>(new TagStore(std::move(state)));
}

std::vector<std::wstring> TagStore::Values(TagProperty property) const {
  std::vector<std::wstring> out;
  if (state_->file.isNull()) return out;
  const TagLib::PropertyMap map = state_->file.file()->properties();
  const auto it = map.find(KeyIn(map, property));
  if (it == map.end()) return out;
  for (const TagLib::String& v : it->second) out.push_back(Utf8ToWide(v.to8Bit(true)));
  return out;
}

bool TagStore::SetValues(TagProperty property, const std::vector<std::wstring>& values) {
  State& s = *state_;
  if (s.access != TagAccess::ReadWrite || s.file.isNull()) return false;
  TagLib::StringList list;
  for (const std::wstring& v : values) list.append(TagLib::String(WideToUtf8(v), TagLib::String::UTF8));
  // setProperties replaces the whole map: start from what the file holds now.
  TagLib::PropertyMap map = s.file.file()->properties();
  const TagLib::String key = KeyIn(map, property);
  // The old value goes first, whatever holds it: the library keeps a frame whose value did not
  // change, and an ID3v2 comment in a TXXX frame (as FFmpeg writes it) would then gain a COMM
  // frame beside it when the file is saved, reading back as two comments.
  if (map.contains(key)) {
    map.erase(key);
    s.file.file()->setProperties(map);
  }
  if (!list.isEmpty()) map.replace(key, list);
  const TagLib::PropertyMap refused = s.file.file()->setProperties(map);
  SetInApeTag(*s.file.file(), key, list);
  if (refused.contains(key)) return false;
  s.written.replace(key, list);
  return true;
}

bool TagStore::Commit(std::wstring* detail) {
  std::wstring ignored;
  std::wstring& why = detail ? *detail : ignored;
  State& s = *state_;
  if (s.access != TagAccess::ReadWrite || s.file.isNull() || s.committed) {
    why = L"not open for writing";
    return false;
  }
  auto fail = [&](const std::wstring& text) {
    why = text;
    s.Discard();
    return false;
  };
  if (!s.file.save()) return fail(L"the tag library could not save");
  if (s.stream->failed())
    return s.stream->error() != 0 ? fail(SysText("write copy", s.stream->error())) : fail(L"writing the working copy failed");
  if (::fsync(s.stream->fd()) != 0) return fail(SysText("flush", errno));
  s.file = TagLib::FileRef();
  s.stream.reset();

  // Read the copy back before trusting it: every property set is there, the play time is the same.
  {
    const int fd = ::open(s.workCopy.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(SysText("reopen copy", errno));
    CheckedStream stream(s.target, fd, false);
    TagLib::FileRef check(&stream, true, TagLib::AudioProperties::Average);
    if (check.isNull() || !check.file()->isValid()) return fail(L"the saved copy does not read back");
    const TagLib::PropertyMap now = check.file()->properties();
    for (const auto& [key, values] : s.written) {
      const auto it = now.find(key);
      if ((it == now.end() ? 0 : FilledCount(it->second)) != FilledCount(values))
        return fail(L"the saved copy reads back a different " + Utf8ToWide(key.to8Bit(true)));
    }
    const int lengthMs = check.audioProperties() ? check.audioProperties()->lengthInMilliseconds() : -1;
    if (lengthMs != s.originalLengthMs) return fail(L"the saved copy's play time changed");
  }
  std::wstring commitError;
  if (!CommitWrite(s.plan, &commitError)) return fail(commitError);
  s.workCopy.clear();
  s.committed = true;
  return true;
}

bool TagStore::Duration(double* seconds) const {
  const TagLib::FileRef& f = state_->file;
  if (f.isNull() || f.audioProperties() == nullptr) return false;
  *seconds = f.audioProperties()->lengthInMilliseconds() / kMillisecondsPerSecond;
  return true;
}
