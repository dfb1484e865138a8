#include "platform/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <climits>

struct TlsClient {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // received bytes waiting for the session; owned by ssl
  BIO* out = nullptr;  // bytes the session wants sent; owned by ssl
};

void TlsClientDeleter::operator()(TlsClient* client) const {
  if (!client) return;
  SSL_free(client->ssl);
  SSL_CTX_free(client->ctx);
  delete client;
}

namespace {

constexpr TlsCertificateFault kFaults[] = {
    {.verifyResult = X509_V_ERR_HOSTNAME_MISMATCH, .code = kTlsCodeNameMismatch, .name = "host name mismatch"},
    {.verifyResult = X509_V_ERR_IP_ADDRESS_MISMATCH, .code = kTlsCodeNameMismatch, .name = "address mismatch"},
    {.verifyResult = X509_V_ERR_CERT_HAS_EXPIRED, .code = kTlsCodeCertExpired, .name = "expired"},
    {.verifyResult = X509_V_ERR_CERT_NOT_YET_VALID, .code = kTlsCodeCertExpired, .name = "not yet valid"},
    {.verifyResult = X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, .code = kTlsCodeUntrustedRoot, .name = "unknown issuer"},
    {.verifyResult = X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, .code = kTlsCodeUntrustedRoot, .name = "issuer missing"},
    {.verifyResult = X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, .code = kTlsCodeUntrustedRoot, .name = "unverifiable leaf"},
    {.verifyResult = X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, .code = kTlsCodeUntrustedRoot, .name = "self-signed"},
    {.verifyResult = X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, .code = kTlsCodeUntrustedRoot, .name = "self-signed in chain"},
    {.verifyResult = X509_V_ERR_CERT_UNTRUSTED, .code = kTlsCodeUntrustedRoot, .name = "untrusted"},
};

bool IsAddressLiteral(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Moves everything the session queued for the server into *out.
void DrainOutgoing(TlsClient& c, std::vector<uint8_t>* out) {
  char* data = nullptr;
  const long pending = BIO_get_mem_data(c.out, &data);
  if (pending > 0) out->insert(out->end(), data, data + pending);
  (void)BIO_reset(c.out);
}

bool Feed(TlsClient& c, const uint8_t* received, size_t size) {
  if (size == 0) return true;
  if (size > static_cast<size_t>(INT_MAX)) return false;
  return BIO_write(c.in, received, static_cast<int>(size)) == static_cast<int>(size);
}

TlsOutcome Failure(TlsStatus status) {
  return TlsOutcome{status, static_cast<uint32_t>(ERR_peek_last_error())};
}

}  // namespace

std::span<const TlsCertificateFault> TlsCertificateFaults() { return kFaults; }

uint32_t TlsCertificateCode(long verifyResult) {
  for (const TlsCertificateFault& f : kFaults)
    if (f.verifyResult == verifyResult) return f.code;
  return kTlsCodeCertUnknown;
}

std::string TlsCertificateProblem(const TlsClient& client) {
  return client.ssl ? X509_verify_cert_error_string(SSL_get_verify_result(client.ssl)) : "";
}

TlsClientPtr TlsClientNew(const std::string& host, uint32_t* code) {
  ERR_clear_error();
  TlsClientPtr c(new TlsClient);
  *code = 0;
  c->ctx = SSL_CTX_new(TLS_client_method());
  if (c->ctx) {
    SSL_CTX_set_min_proto_version(c->ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(c->ctx);  // honours SSL_CERT_FILE and SSL_CERT_DIR
    SSL_CTX_set_verify(c->ctx, SSL_VERIFY_PEER, nullptr);
    c->ssl = SSL_new(c->ctx);
  }
  if (c->ssl) {
    c->in = BIO_new(BIO_s_mem());
    c->out = BIO_new(BIO_s_mem());
  }
  if (!c->in || !c->out) {
    BIO_free(c->in);
    BIO_free(c->out);
    *code = static_cast<uint32_t>(ERR_peek_last_error());
    if (*code == 0) *code = 1;
    return nullptr;
  }
  BIO_set_mem_eof_return(c->in, -1);  // an empty input means "more to come", not the end
  SSL_set_bio(c->ssl, c->in, c->out);
  SSL_set_connect_state(c->ssl);
  bool named;
  if (IsAddressLiteral(host)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(c->ssl), host.c_str()) == 1;
  } else {
    SSL_set_hostflags(c->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = SSL_set_tlsext_host_name(c->ssl, host.c_str()) == 1 && SSL_set1_host(c->ssl, host.c_str()) == 1;
  }
  if (!named) {
    *code = static_cast<uint32_t>(ERR_peek_last_error());
    if (*code == 0) *code = 1;
    return nullptr;
  }
  return c;
}

TlsOutcome TlsClientHandshake(TlsClient& c, const uint8_t* received, size_t size,
                              std::vector<uint8_t>* toSend) {
  ERR_clear_error();
  if (!Feed(c, received, size)) return Failure(TlsStatus::kFailed);
  const int r = SSL_do_handshake(c.ssl);
  DrainOutgoing(c, toSend);
  if (r == 1) return TlsOutcome{TlsStatus::kDone, 0};
  const int e = SSL_get_error(c.ssl, r);
  if (e == SSL_ERROR_WANT_READ) return TlsOutcome{TlsStatus::kNeedInput, 0};
  const long verify = SSL_get_verify_result(c.ssl);
  if (verify != X509_V_OK) return TlsOutcome{TlsStatus::kCertificateBad, TlsCertificateCode(verify)};
  if (e == SSL_ERROR_ZERO_RETURN) return TlsOutcome{TlsStatus::kClosed, 0};
  TlsOutcome failed = Failure(TlsStatus::kFailed);
  if (failed.code == 0) failed.code = static_cast<uint32_t>(e);
  return failed;
}

TlsOutcome TlsClientEncrypt(TlsClient& c, const uint8_t* plain, size_t size,
                            std::vector<uint8_t>* out) {
  ERR_clear_error();
  if (size > kTlsMaxRecordPlainBytes) return TlsOutcome{TlsStatus::kFailed, 0};
  size_t written = 0;
  const int r = size ? SSL_write_ex(c.ssl, plain, size, &written) : 1;
  DrainOutgoing(c, out);
  if (r != 1 || written != size) return Failure(TlsStatus::kFailed);
  return TlsOutcome{TlsStatus::kDone, 0};
}

TlsOutcome TlsClientDecrypt(TlsClient& c, const uint8_t* received, size_t size,
                            std::vector<uint8_t>* plain) {
  ERR_clear_error();
  if (!Feed(c, received, size)) return Failure(TlsStatus::kFailed);
  const size_t before = plain->size();
  uint8_t piece[kTlsMaxRecordPlainBytes];
  for (;;) {
    size_t got = 0;
    const int r = SSL_read_ex(c.ssl, piece, sizeof piece, &got);
    if (r == 1) {
      plain->insert(plain->end(), piece, piece + got);
      continue;
    }
    const int e = SSL_get_error(c.ssl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) break;
    // Data decrypted before the end is handed out first; the end shows on the next call.
    if (plain->size() > before) break;
    return e == SSL_ERROR_ZERO_RETURN ? TlsOutcome{TlsStatus::kClosed, 0} : Failure(TlsStatus::kFailed);
  }
  return TlsOutcome{plain->size() > before ? TlsStatus::kDone : TlsStatus::kNeedInput, 0};
}

bool TlsClientHasBufferedInput(const TlsClient& c) {
  return SSL_pending(c.ssl) > 0 || BIO_ctrl_pending(c.in) > 0;
}
