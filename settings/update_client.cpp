#include "settings/update_client.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>

#include <fmt/format.h>
#include <fmt/xchar.h>

#include "base/json.h"
#include "base/log.h"
#include "base/text_parse.h"
#include "platform/desktop_open.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/http_client.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "platform/ui_post.h"

// The link step of each program defines this (see CMakeLists.txt); a program linked without it
// reads 0.
extern "C" __attribute__((weak)) const unsigned int veldmix_build_stamp = 0;

namespace {

constexpr const wchar_t* kMakerSite = L"https://www.veldmix.com";
constexpr const char* kSiteOverride = "VELDMIX_UPDATE_SITE";
constexpr const wchar_t* kCheckPath = L"/api/veldmix/latest";
constexpr std::wstring_view kDownloadPrefix = L"/downloads/veldmix/";

constexpr unsigned kResolveTimeoutMs = 8000;
constexpr unsigned kConnectTimeoutMs = 8000;
constexpr unsigned kSendTimeoutMs = 15000;
constexpr unsigned kReceiveTimeoutMs = 30000;   // also how long a download may stall
constexpr unsigned kCheckTotalMs = 45000;       // a check never takes longer, however it trickles
constexpr unsigned kStallBytesPerSecond = 1024; // slower than this for the receive time-out: stalled
constexpr int kMaxRedirects = 5;
constexpr size_t kCheckPieceBytes = 8192;
constexpr size_t kMaxAnswerBytes = 65536;
constexpr size_t kDownloadPieceBytes = 262144;
constexpr size_t kMaxNameChars = 120;
constexpr int64_t kMaxPackageBytes = 2147483648LL;
constexpr size_t kSha256HexChars = 64;
constexpr long kHttpOk = 200;
constexpr long kHttpNotFound = 404;
constexpr unsigned char kMsiSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr int kTmYearBase = 1900;  // std::tm counts years from here
constexpr const wchar_t* kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                      L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

std::wstring LowerAscii(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

// The text from the last dot of the name's last part, in lower case.
std::wstring LowerExtension(const std::wstring& name) {
  const size_t slash = name.find_last_of(L'/');
  const size_t dot = name.find_last_of(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
  return LowerAscii(name.substr(dot));
}

// A JSON number as a whole number, truncated toward zero; 0 outside the 64-bit range.
int64_t WholeNumber(const JsonValue* value) {
  if (!value || value->kind != 2) return 0;
  const double d = std::trunc(value->number);
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (!std::isfinite(d) || d >= kTwoTo63 || d < -kTwoTo63) return 0;
  return static_cast<int64_t>(d);
}

std::wstring StringMember(const JsonValue& object, const wchar_t* name) {
  const JsonValue* value = JsonFind(object, name);
  return value && value->kind == 3 ? value->string : std::wstring();
}

bool IsHexDigits(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return HexDigitValue(c) >= 0; });
}

bool IsUsableAnswer(const UpdateInfo& info) {
  const std::wstring& url = info.url;
  if (url.compare(0, kDownloadPrefix.size(), kDownloadPrefix) != 0) return false;
  if (url.find_first_of(L"?#\\") != std::wstring::npos) return false;
  if (url.find(L'/', kDownloadPrefix.size()) != std::wstring::npos) return false;
  if (url.find(L"..") != std::wstring::npos) return false;
  return IsUsableInstallerName(info.file) && info.stamp >= 1 && info.size >= 1 && info.size <= kMaxPackageBytes &&
         info.sha256.size() == kSha256HexChars && IsHexDigits(info.sha256);
}

HttpSessionOptions UpdateSessionOptions(unsigned totalMs) {
  HttpSessionOptions options;
  options.userAgent = UpdateUserAgent();
  options.resolveTimeoutMs = kResolveTimeoutMs;
  options.connectTimeoutMs = kConnectTimeoutMs;
  options.sendTimeoutMs = kSendTimeoutMs;
  options.receiveTimeoutMs = kReceiveTimeoutMs;
  options.totalTimeoutMs = totalMs;
  options.lowSpeedBytesPerSecond = kStallBytesPerSecond;
  options.maxRedirects = kMaxRedirects;
  options.httpsOnly = true;
  return options;
}

// The path with each part between slashes percent-encoded (package names hold blanks).
std::string EscapedPath(const std::wstring& path) {
  std::string escaped;
  size_t start = 0;
  while (start <= path.size()) {
    const size_t slash = std::min(path.find(L'/', start), path.size());
    escaped += UrlEncode(std::wstring_view(path).substr(start, slash - start));
    if (slash < path.size()) escaped += '/';
    start = slash + 1;
  }
  return escaped;
}

// The site's host, or empty when the address is not an https one.
std::wstring HttpsHost(const std::wstring& siteUrl) {
  std::string scheme, host;
  int port = 0;
  if (!SplitHttpUrl(WideToUtf8(siteUrl), &scheme, &host, &port) || scheme != "https") return {};
  return Utf8ToWide(host);
}

// One GET of the site's path. False, with *error, when the address is unusable or no response
// arrived; true when one did, whatever its status (the body may have been cut off).
bool SendUpdateRequest(const std::wstring& siteUrl, const std::wstring& path, unsigned totalMs, HttpRequest request,
                       HttpResponse* response, UiText* error) {
  const std::wstring host = HttpsHost(siteUrl);
  if (host.empty()) {
    *error = L"The update address is wrong";
    return false;
  }
  HttpSessionPtr session = HttpOpenSession(UpdateSessionOptions(totalMs));
  if (!session) {
    WriteLog(L"Updates: couldn't reach {}{} (the HTTP library did not start)", siteUrl, path);
    *error = UiFormat(L"Couldn't reach {} \u2014 is this computer online?", host);
    return false;
  }
  request.url = WideToUtf8(siteUrl) + EscapedPath(path);
  request.bypassCache = true;
  *response = HttpSend(*session, request);
  if (response->status != 0) return true;
  WriteLog(L"Updates: couldn't reach {}{} ({})", siteUrl, path, Utf8ToWide(response->detail));
  *error = response->error == HttpError::kTimedOut ? UiFormat(L"{} took too long to answer", host)
                                                   : UiFormat(L"Couldn't reach {} \u2014 is this computer online?", host);
  return false;
}

// The partial download: written piece by piece and hashed as it goes.
struct PartialFile {
  std::FILE* file = nullptr;
  std::wstring path;
  bool writeFailed = false;
  ~PartialFile() { Discard(); }
  bool Close() {
    if (!file) return !writeFailed;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return closed && !writeFailed;
  }
  void Discard() {
    Close();
    if (!path.empty()) DeleteFileAt(path);
    path.clear();
  }
};

bool StartsLikePackage(const std::wstring& path, const std::wstring& file) {
  unsigned char head[sizeof(kMsiSignature)] = {};
  std::FILE* in = std::fopen(PathToBytes(path).c_str(), "rb");
  if (!in) return false;
  const size_t got = std::fread(head, 1, sizeof(head), in);
  std::fclose(in);
  if (LowerExtension(file) == L".msi")
    return got == sizeof(head) && std::equal(std::begin(head), std::end(head), std::begin(kMsiSignature));
  return got >= 2 && head[0] == 'M' && head[1] == 'Z';
}

}  // namespace

std::wstring UpdateSiteUrl() {
  const char* override = std::getenv(kSiteOverride);
  std::wstring site = override && *override ? Utf8ToWide(override) : std::wstring(kMakerSite);
  while (site.size() > 1 && site.back() == L'/') site.pop_back();
  return site;
}

std::wstring UpdateSiteHost() {
  std::string scheme, host;
  int port = 0;
  return SplitHttpUrl(WideToUtf8(UpdateSiteUrl()), &scheme, &host, &port) ? Utf8ToWide(host) : UpdateSiteUrl();
}

std::string UpdateUserAgent() { return "Veldmix/" VELDMIX_VERSION " (" + WideToUtf8(UpdateSiteUrl()) + ")"; }

bool IsUsableInstallerName(const std::wstring& name) {
  if (name.empty() || name.size() > kMaxNameChars || name[0] == L'.' || name.find(L"..") != std::wstring::npos)
    return false;
  for (wchar_t c : name) {
    const bool alnum = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
    if (!alnum && std::wstring_view(L" ._-()+").find(c) == std::wstring_view::npos) return false;
  }
  const std::wstring extension = LowerExtension(name);
  return extension == L".msi" || extension == L".exe";
}

UpdateInfo FetchLatestUpdate(const std::wstring& siteUrl, const std::atomic<bool>* stop) {
  UpdateInfo info;
  std::string body;
  bool oversized = false;  // cut off: however it parses, the answer is incomplete
  HttpRequest request;
  request.pieceBytes = kCheckPieceBytes;
  request.stop = stop;
  request.onBody = [&body, &oversized](long, const uint8_t* data, size_t size) {
    body.append(reinterpret_cast<const char*>(data), size);
    oversized = body.size() > kMaxAnswerBytes;
    return !oversized;
  };
  HttpResponse response;
  if (!SendUpdateRequest(siteUrl, kCheckPath, kCheckTotalMs, std::move(request), &response, &info.error)) return info;
  if (response.status == kHttpNotFound) {
    info.error = L"No updates have been published yet";
    return info;
  }
  if (response.status != kHttpOk) {
    WriteLog(L"Updates: the site answered {}", response.status);
    info.error = UiFormat(L"The update server isn't answering properly ({})", response.status);
    return info;
  }
  JsonValue answer;
  if (oversized || !JsonParse(Utf8ToWide(body), &answer) || answer.kind != 5) {
    info.error = L"The update server's answer didn't make sense";
    return info;
  }
  info.file = StringMember(answer, L"file");
  info.url = StringMember(answer, L"url");
  info.sha256 = LowerAscii(StringMember(answer, L"sha256"));
  info.stamp = WholeNumber(JsonFind(answer, L"stamp"));
  info.size = WholeNumber(JsonFind(answer, L"size"));
  if (!IsUsableAnswer(info)) {
    WriteLog(L"Updates: the site described an unusable file ({})", info.file);
    info = UpdateInfo{};
    info.error = L"The update on the server isn't usable";
  }
  return info;
}

std::wstring UpdateDownloadFolder() { return JoinPath(JoinPath(CacheBase(), L"Veldmix"), L"Update"); }

std::wstring DownloadUpdate(const UpdateInfo& info, std::atomic<float>& progress, const std::atomic<bool>& cancel,
                            UiText* error, const std::wstring& siteUrl, const std::atomic<bool>* stop) {
  progress.store(0.0f);
  *error = UiText{};
  const std::wstring folder = UpdateDownloadFolder();
  const std::wstring target = JoinPath(folder, info.file);
  std::wstring refused;
  if (!IsUsableInstallerName(info.file) || !ResetPrivateFolder(folder, &refused)) {
    WriteLog(L"Updates: not downloading into {} ({})", folder, refused);
    *error = L"Couldn't save the download in the temporary folder";
    return {};
  }
  PartialFile part;
  part.path = target + L".part";
  // "x": never through something that already stands at the name.
  part.file = std::fopen(PathToBytes(part.path).c_str(), "wbx");
  if (!part.file) {
    part.path.clear();
    *error = L"Couldn't save the download in the temporary folder";
    return {};
  }

  Sha256 hash;
  int64_t total = 0;
  long refusedStatus = 0;
  bool overflow = false, cancelled = false;
  auto stopping = [&] { return cancel.load() || (stop && stop->load()); };
  HttpRequest request;
  request.pieceBytes = kDownloadPieceBytes;
  request.stop = &cancel;
  request.onBody = [&](long status, const uint8_t* data, size_t size) {
    if (status != kHttpOk) {
      refusedStatus = status;
      return false;
    }
    if (stopping()) {
      cancelled = true;
      return false;
    }
    total += static_cast<int64_t>(size);
    if (total > info.size) {
      overflow = true;
      return false;
    }
    if (std::fwrite(data, 1, size, part.file) != size) {
      part.writeFailed = true;
      return false;
    }
    hash.Update(data, size);
    progress.store(static_cast<float>(static_cast<double>(total) / static_cast<double>(info.size)));
    return true;
  };
  HttpResponse response;
  if (!SendUpdateRequest(siteUrl, info.url, 0, std::move(request), &response, error)) {
    if (stopping()) *error = L"Download cancelled";
    return {};
  }
  const long status = refusedStatus != 0 ? refusedStatus : response.status;
  if (status != kHttpOk) {
    WriteLog(L"Updates: downloading {}: the site answered {}", info.url, status);
    *error = UiFormat(L"The download failed (the server answered {})", status);
    return {};
  }
  if (cancelled || (response.error == HttpError::kAborted && stopping())) {
    *error = L"Download cancelled";
    return {};
  }
  if (response.error != HttpError::kNone && !overflow && !part.writeFailed) {
    WriteLog(L"Updates: the download broke off after {} bytes ({})", total, Utf8ToWide(response.detail));
    *error = L"The download broke off \u2014 check the connection and try again";
    return {};
  }
  if (!part.Close()) {
    *error = L"Couldn't save the download \u2014 is the disk full?";
    return {};
  }
  const std::wstring digest = Utf8ToWide(hash.FinishHex());
  if (total != info.size || digest != info.sha256) {
    WriteLog(L"Updates: {} didn't check out ({} of {} bytes, SHA-256 {})", info.file, total, info.size, digest);
    *error = L"The download was damaged on the way \u2014 try again";
    return {};
  }
  if (!StartsLikePackage(part.path, info.file)) {
    *error = L"The file on the server isn't an installer";
    return {};
  }
  if (!MoveReplace(part.path, target)) {
    part.path.clear();  // a failed rename leaves the checked file for a look
    *error = L"Couldn't save the download";
    return {};
  }
  part.path.clear();
  progress.store(1.0f);
  WriteLog(L"Updates: downloaded {} ({} bytes, SHA-256 checked)", info.file, total);
  return target;
}

uint32_t BuildStamp() {
  // Read through a volatile so the compiler never folds the weak default into the code.
  return *static_cast<const volatile unsigned int*>(&veldmix_build_stamp);
}

UiText StampText(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (!localtime_r(&t, &local) || local.tm_mon < 0 || local.tm_mon >= static_cast<int>(std::size(kMonths))) return {};
  return UiFormat(L"{} {} {}, {:02}:{:02}", local.tm_mday, UiText(kMonths[local.tm_mon]),
                  static_cast<int64_t>(local.tm_year) + kTmYearBase, local.tm_hour, local.tm_min);
}

std::wstring FormatStamp(int64_t seconds) { return EnglishText(StampText(seconds)); }

void UpdateCheckThread(const std::atomic<bool>* stop) {
  auto* result = new UpdateResult;
  result->isDownload = false;
  result->info = FetchLatestUpdate(UpdateSiteUrl(), stop);
  if (!PostToUi(kUpdatePost, 0, result)) delete result;
}

void UpdateDownloadThread(std::unique_ptr<UpdateDownloadJob> job, const std::atomic<bool>* stop) {
  auto* result = new UpdateResult;
  result->isDownload = true;
  result->info = job->info;
  result->installerPath =
      DownloadUpdate(job->info, *job->progress, *job->cancel, &result->downloadError, UpdateSiteUrl(), stop);
  if (!PostToUi(kUpdatePost, 0, result)) delete result;
}

bool RunUpdateInstaller(const std::wstring& installer, const std::wstring& program) {
  (void)program;  // the desktop's package installer starts nothing again afterwards
  std::wstring error;
  const std::wstring folder = FolderOf(installer);
  if (!OpenWithDesktop(folder, &error)) {
    WriteLog(L"Updates: couldn't show the update's folder {} ({})", folder, error);
    return false;
  }
  WriteLog(L"Updates: showing {} to install it from", installer);
  return true;
}
