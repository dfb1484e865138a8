#include "platform/secret.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "platform/folders.h"
#include "platform/text.h"

namespace {

constexpr size_t kKeyBytes = 32;    // AES-256
constexpr size_t kNonceBytes = 12;  // the GCM standard nonce
constexpr size_t kTagBytes = 16;
static_assert(kSealOverheadBytes == kNonceBytes + kTagBytes);
constexpr mode_t kKeyFolderMode = 0700;

// The key in memory, wiped when it goes.
struct Key {
  unsigned char bytes[kKeyBytes];
  ~Key() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::wstring SysError(const wchar_t* what, int err) {
  return std::wstring(what) + L": " + Utf8ToWide(std::strerror(err));
}

// Reads the key file; false when it is missing or is not exactly one key.
bool ReadKey(const std::string& path, Key* key) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == static_cast<off_t>(kKeyBytes);
  size_t done = 0;
  while (ok && done < kKeyBytes) {
    ssize_t n = ::read(fd, key->bytes + done, kKeyBytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

// Makes a new key file readable by this user only. The file appears whole or not at all, and
// when another process made one first, that one is used.
bool CreateKey(const std::string& path, Key* key, std::wstring* error) {
  std::string folder = path.substr(0, path.rfind('/'));
  if (!CreateFolderTree(PathFromBytes(folder.substr(0, folder.rfind('/'))))) {
    *error = L"cannot create the configuration folder";
    return false;
  }
  if (::mkdir(folder.c_str(), kKeyFolderMode) != 0 && errno != EEXIST) {
    *error = SysError(L"create key folder", errno);
    return false;
  }
  if (RAND_bytes(key->bytes, kKeyBytes) != 1) {
    *error = L"the random source failed";
    return false;
  }
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());  // mode 0600
  if (fd < 0) {
    *error = SysError(L"create key file", errno);
    return false;
  }
  bool written = ::write(fd, key->bytes, kKeyBytes) == static_cast<ssize_t>(kKeyBytes) && ::fsync(fd) == 0;
  int err = errno;
  written = ::close(fd) == 0 && written;
  if (!written) {
    ::unlink(tmp.c_str());
    *error = SysError(L"write key file", err);
    return false;
  }
  // link() fails when the name exists, so a key that another process made first is never replaced.
  int linked = ::link(tmp.c_str(), path.c_str());
  err = errno;
  ::unlink(tmp.c_str());
  if (linked == 0) return true;
  if (err == EEXIST && ReadKey(path, key)) return true;
  *error = err == EEXIST ? std::wstring(L"the key file is damaged") : SysError(L"place key file", err);
  return false;
}

}  // namespace

std::wstring SecretKeyPath() {
  std::wstring base = ConfigBase();
  return base.empty() ? std::wstring() : JoinPath(JoinPath(base, L"Veldmix"), L"secret.key");
}

bool SealForUser(std::string_view plain, std::string* blob, std::wstring* error) {
  blob->clear();
  std::wstring reason;
  const std::wstring keyPath = SecretKeyPath();
  Key key;
  bool haveKey = false;
  if (keyPath.empty()) {
    reason = L"no home folder";
  } else {
    const std::string path = PathToBytes(keyPath);
    struct stat st;
    // A damaged key is left alone: replacing it would make every stored secret unreadable.
    if (::lstat(path.c_str(), &st) == 0) {
      haveKey = ReadKey(path, &key);
      if (!haveKey) reason = L"the key file is damaged";
    } else {
      haveKey = CreateKey(path, &key, &reason);
    }
  }
  unsigned char nonce[kNonceBytes];
  if (haveKey && RAND_bytes(nonce, kNonceBytes) != 1) {
    haveKey = false;
    reason = L"the random source failed";
  }
  if (!haveKey) {
    if (error) *error = reason;
    return false;
  }
  CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  std::string out(kNonceBytes + plain.size() + kTagBytes, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  std::memcpy(bytes, nonce, kNonceBytes);
  int produced = 0;
  int finalBytes = 0;
  bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.bytes, nonce) == 1 &&
            EVP_EncryptUpdate(ctx.get(), bytes + kNonceBytes, &produced,
                              reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size())) == 1 &&
            EVP_EncryptFinal_ex(ctx.get(), bytes + kNonceBytes + produced, &finalBytes) == 1 &&
            static_cast<size_t>(produced + finalBytes) == plain.size() &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, bytes + kNonceBytes + plain.size()) == 1;
  if (!ok) {
    if (error) *error = L"encryption failed";
    return false;
  }
  *blob = std::move(out);
  return true;
}

bool OpenForUser(std::string_view blob, std::string* plain) {
  plain->clear();
  if (blob.size() < kSealOverheadBytes) return false;
  const std::wstring keyPath = SecretKeyPath();
  Key key;
  if (keyPath.empty() || !ReadKey(PathToBytes(keyPath), &key)) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(blob.data());
  const size_t cipherBytes = blob.size() - kSealOverheadBytes;
  unsigned char tag[kTagBytes];
  std::memcpy(tag, bytes + kNonceBytes + cipherBytes, kTagBytes);
  // Decrypted straight into the caller's string, so no other copy of the plain text is left.
  plain->resize(cipherBytes);
  auto* out = reinterpret_cast<unsigned char*>(plain->data());
  CipherContext ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int produced = 0;
  int finalBytes = 0;
  bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.bytes, bytes) == 1 &&
            EVP_DecryptUpdate(ctx.get(), out, &produced, bytes + kNonceBytes, static_cast<int>(cipherBytes)) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, tag) == 1 &&
            EVP_DecryptFinal_ex(ctx.get(), out + produced, &finalBytes) == 1;
  if (!ok) WipeBytes(plain);
  return ok;
}

void WipeBytes(std::string* bytes) {
  if (!bytes->empty()) OPENSSL_cleanse(bytes->data(), bytes->size());
  bytes->clear();
}

bool SystemRandomBytes(void* out, size_t size) {
  return RAND_bytes(static_cast<unsigned char*>(out), static_cast<int>(size)) == 1;
}
