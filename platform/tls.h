#pragma once
// A TLS client that never touches a socket (stands in for Schannel's security context): the
// caller moves the bytes. Received bytes go in, bytes to send come out, decrypted data comes out.
// The server's certificate is checked against the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR apply) and must name the host; the host goes out as SNI unless it is an address.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Largest plain piece one record carries.
inline constexpr size_t kTlsMaxRecordPlainBytes = 16384;

// Codes that certificate failures report, the same on every platform so that one log line means
// one thing wherever it was written.
inline constexpr uint32_t kTlsCodeWrongPrincipal = 0x80090322;  // the name doesn't match
inline constexpr uint32_t kTlsCodeUntrustedRoot = 0x80090325;   // no trusted issuer
inline constexpr uint32_t kTlsCodeCertUnknown = 0x80090327;     // any other certificate fault
inline constexpr uint32_t kTlsCodeCertExpired = 0x80090328;     // expired or not yet valid
inline constexpr uint32_t kTlsCodeNameMismatch = 0x800B010F;    // CN/SAN doesn't name the host

enum class TlsStatus {
  kDone,             // handshake finished, or data came out
  kNeedInput,        // receive more bytes and call again
  kCertificateBad,   // the certificate was refused; code says why (a kTlsCode value)
  kFailed,           // any other failure; code is the library's error code
  kClosed,           // the server ended the session (close notification)
};
struct TlsOutcome {
  TlsStatus status = TlsStatus::kFailed;
  uint32_t code = 0;
};

struct TlsClient;
struct TlsClientDeleter {
  void operator()(TlsClient* client) const;
};
using TlsClientPtr = std::unique_ptr<TlsClient, TlsClientDeleter>;

// --- Session ------------------------------------------------------------------------------------
// A client session for host (UTF-8): TLS 1.2 or newer, peer verification on. Null when the library
// cannot make one; *code then holds its error.
TlsClientPtr TlsClientNew(const std::string& host, uint32_t* code);

// --- Handshake ----------------------------------------------------------------------------------
// Feeds received bytes (none on the first call) and runs the handshake as far as it goes; bytes
// for the server are appended to *toSend (send them whatever the status). kNeedInput: receive
// more and call again; kDone: the session is established.
TlsOutcome TlsClientHandshake(TlsClient& client, const uint8_t* received, size_t size,
                              std::vector<uint8_t>* toSend);

// --- Data ---------------------------------------------------------------------------------------
// Encrypts at most kTlsMaxRecordPlainBytes as one record appended to *out, with anything else the
// session has queued for the server (a key update) before it. kDone or kFailed.
TlsOutcome TlsClientEncrypt(TlsClient& client, const uint8_t* plain, size_t size,
                            std::vector<uint8_t>* out);
// Feeds received bytes (may be none) and appends every whole record's application data to
// *plain. kDone: some data came out; kNeedInput: none yet (a partial record, or records without
// data such as session tickets); kClosed or kFailed end the session.
TlsOutcome TlsClientDecrypt(TlsClient& client, const uint8_t* received, size_t size,
                            std::vector<uint8_t>* plain);
// True when the session holds received bytes it has not yet turned into data.
bool TlsClientHasBufferedInput(const TlsClient& client);

// --- Certificate faults -------------------------------------------------------------------------
// One row per verification result of the TLS library that has a code of its own; every other
// refused certificate reports kTlsCodeCertUnknown.
struct TlsCertificateFault {
  long verifyResult;  // the library's verification result
  uint32_t code;      // a kTlsCode value
  const char* name;   // for the log
};
std::span<const TlsCertificateFault> TlsCertificateFaults();
// The kTlsCode value of a verification result other than success.
uint32_t TlsCertificateCode(long verifyResult);
// What the TLS library found wrong with the server's certificate after a kCertificateBad, in its
// own words ("self-signed certificate", "certificate has expired", "hostname mismatch", ...).
std::string TlsCertificateProblem(const TlsClient& client);
