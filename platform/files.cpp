#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/log_sink.h"
#include "platform/text.h"

namespace {

std::wstring SysError(const wchar_t* step, int err) { return SysText(WideToUtf8(step).c_str(), err); }

thread_local int t_lastWriteError = 0;

// Writes all bytes to fd; 0 or the errno.
int WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// A device or FIFO the user named: opened without waiting for a reader, written, closed.
bool WriteInPlace(const WritePlan& plan, std::string_view bytes, std::wstring* error) {
  const int fd = ::open(PathToBytes(plan.final).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (error) *error = plan.final + (err == ENXIO ? L": a pipe that nothing reads from" : L": " + SysError(L"open", err));
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  int err = WriteAll(fd, bytes);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0 && error) *error = plan.final + L": " + SysError(L"write", err);
  return err == 0;
}

// Writes the bytes to plan.temp without flushing; 0 or the errno, *step the failing step.
int WriteUnflushed(const WritePlan& plan, std::string_view bytes, const wchar_t** step) {
  *step = L"create";
  const int fd = OpenWriteTemp(plan);
  if (fd < 0) return errno;
  *step = L"write";
  int err = WriteAll(fd, bytes);
  if (::close(fd) != 0 && err == 0) { err = errno; *step = L"close"; }
  return err;
}

bool FlushFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::string FolderOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

bool WriteBytesAtomic(const std::wstring& target, std::string_view bytes, std::wstring* error, SpecialTarget special) {
  t_lastWriteError = 0;
  WritePlan plan;
  if (!PlanWrite(target, special, &plan, error)) return false;
  if (plan.inPlace) return WriteInPlace(plan, bytes, error);
  const int fd = OpenWriteTemp(plan);
  if (fd < 0) {
    t_lastWriteError = errno;
    if (error) *error = SysError(L"create", t_lastWriteError);
    return false;
  }
  const wchar_t* step = L"write";
  int err = WriteAll(fd, bytes);
  if (err == 0 && ::fsync(fd) != 0) { err = errno; step = L"flush"; }
  if (::close(fd) != 0 && err == 0) { err = errno; step = L"close"; }
  if (err != 0) {
    AbandonWrite(plan);
    t_lastWriteError = err;
    if (error) *error = SysError(step, err);
    return false;
  }
  if (CommitWrite(plan, error)) return true;
  t_lastWriteError = errno;
  return false;
}

int LastWriteError() { return t_lastWriteError; }

bool CopyFileWhole(const std::wstring& from, const std::wstring& to, std::wstring* error) {
  t_lastWriteError = 0;
  const std::string source = WideToUtf8(from), copy = WideToUtf8(to);
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = in < 0 ? errno : EINVAL;
    if (in >= 0) ::close(in);
    *error = from + L": " + (err == EINVAL ? std::wstring(L"not a regular file") : SysError(L"open", err));
    return false;
  }
  const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    t_lastWriteError = errno;
    ::close(in);
    *error = to + L": " + SysError(L"create", t_lastWriteError);
    return false;
  }
  const wchar_t* step = L"read";
  int err = 0;
  long long copied = 0;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { err = errno; break; }
    if (n == 0) break;
    if ((err = WriteAll(out, std::string_view(buf, static_cast<size_t>(n)))) != 0) { step = L"write"; break; }
    copied += n;
  }
  if (err == 0 && ::fsync(out) != 0) { err = errno; step = L"flush"; }
  struct stat written;
  if (err == 0 && ::fstat(out, &written) != 0) { err = errno; step = L"check"; }
  if (::close(out) != 0 && err == 0) { err = errno; step = L"close"; }
  ::close(in);
  if (err == 0 && (copied != st.st_size || written.st_size != st.st_size)) {
    // The source changed while it was copied, or the copy came out short: not a copy of the file.
    *error = to + L": " + std::to_wstring(written.st_size) + L" of " + std::to_wstring(st.st_size) + L" bytes copied";
    return false;
  }
  if (err == 0) return true;
  if (std::wstring_view(step) != L"read") t_lastWriteError = err;
  *error = (std::wstring_view(step) == L"read" ? from : to) + L": " + SysError(step, err);
  return false;
}

bool SyncFolder(const std::wstring& path) {
  const int fd = ::open(WideToUtf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  if (!ok) t_lastWriteError = errno;
  ::close(fd);
  return ok;
}

void WriteFilesAtomic(std::vector<FileWrite>& files) {
  std::vector<WritePlan> plans(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    FileWrite& file = files[i];
    file.ok = PlanWrite(file.target, SpecialTarget::Refuse, &plans[i], &file.error, /*removeStale=*/false);
  }
  RemoveStaleWriteTempsOf(plans);
  for (size_t i = 0; i < files.size(); ++i) {
    FileWrite& file = files[i];
    if (!file.ok) continue;
    const wchar_t* step = L"write";
    const int err = WriteUnflushed(plans[i], file.bytes, &step);
    file.ok = err == 0;
    if (!file.ok) {
      AbandonWrite(plans[i]);
      file.error = SysError(step, err);
    }
  }
  std::vector<std::string> folders;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string folder = FolderOf(PathToBytes(plans[i].temp));
    if (files[i].ok && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(std::move(folder));
  }
  // One sync of each file system holding the files; where that cannot be had, each file its own.
  bool synced = true;
  for (const std::string& folder : folders) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    synced = synced && fd >= 0 && ::syncfs(fd) == 0;
    if (fd >= 0) ::close(fd);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    FileWrite& file = files[i];
    if (!file.ok) continue;
    const std::string temp = PathToBytes(plans[i].temp);
    if (!synced && !FlushFile(temp)) {
      file.error = SysError(L"flush", errno ? errno : EIO);
      AbandonWrite(plans[i]);
      file.ok = false;
      continue;
    }
    file.ok = CommitWrite(plans[i], &file.error, /*syncFolder=*/false);
  }
  for (const std::string& folder : folders) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) { ::fsync(fd); ::close(fd); }
  }
}

ReadStatus ReadBytes(const std::wstring& path, std::string* out, size_t maxBytes) {
  out->clear();
  const std::string p = PathToBytes(path);
  // Opened without blocking: opening a FIFO for reading would wait for a writer forever.
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0 ? ReadStatus::Unreadable : ReadStatus::Missing;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) { ::close(fd); return ReadStatus::Unreadable; }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    PlatformLog(L"Refused to read {}: it is not a regular file", path);
    return ReadStatus::Unreadable;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) > maxBytes) {
    ::close(fd);
    return ReadStatus::Unreadable;
  }
  if (st.st_size > 0) out->reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { ::close(fd); out->clear(); return ReadStatus::Unreadable; }
    if (n == 0) break;
    if (out->size() + static_cast<size_t>(n) > maxBytes) { ::close(fd); out->clear(); return ReadStatus::Unreadable; }
    out->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ReadStatus::Ok;
}

std::wstring SysText(const char* step, int err) {
  return Utf8ToWide(step) + L": " + WriteCauseText(err);
}

std::wstring WriteCauseText(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT: return L"the disk is full";
    case EFBIG: return L"the file would be larger than this disk or account allows";
    case EROFS: return L"the disk is read-only";
    case EACCES:
    case EPERM: return L"no permission to write there";
    default: return Utf8ToWide(std::strerror(err));
  }
}

bool DeleteFileAt(const std::wstring& path) { return ::unlink(PathToBytes(path).c_str()) == 0; }

bool MoveReplace(const std::wstring& from, const std::wstring& to) {
  WritePlan plan;
  std::wstring why;
  if (!PlanWrite(to, SpecialTarget::Refuse, &plan, &why)) {
    PlatformLog(L"Not moved over {}", why);
    return false;
  }
  return ::rename(PathToBytes(from).c_str(), PathToBytes(plan.final).c_str()) == 0;
}

long long FileSize(const std::wstring& path) {
  struct stat st;
  if (::stat(PathToBytes(path).c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

FileProblem ProblemReading(const std::wstring& path) {
  const int fd = ::open(PathToBytes(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileProblem::Missing : FileProblem::Unreadable;
  struct stat st;
  FileProblem problem = FileProblem::None;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) problem = FileProblem::Unreadable;
  else if (st.st_size == 0) problem = FileProblem::Empty;
  ::close(fd);
  return problem;
}

bool ResetPrivateFolder(const std::wstring& path, std::wstring* error) {
  namespace fs = std::filesystem;
  const std::string p = PathToBytes(path);
  const fs::path folder(p);
  std::error_code ec;
  if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
  struct stat st;
  if (::lstat(p.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      if (error) *error = L"a symbolic link stands where the folder belongs";
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      if (error) *error = L"something other than a folder stands where the folder belongs";
      return false;
    }
    fs::remove_all(folder, ec);
  }
  if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = SysError(L"create", errno);
    return false;
  }
  // Whatever stands there now must be our own real folder, closed to others.
  if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      ::chmod(p.c_str(), 0700) != 0) {
    if (error) *error = L"the folder is not this user's own";
    return false;
  }
  return true;
}
