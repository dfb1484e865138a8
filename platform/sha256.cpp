#include "platform/sha256.h"

#include <openssl/evp.h>

Sha256::Sha256() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    ctx = nullptr;
  }
  context_ = ctx;
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_)); }

void Sha256::Update(const uint8_t* data, size_t size) {
  if (context_ && size > 0) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, size);
}

std::string Sha256::FinishHex() {
  if (!context_) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest, &length) == 1;
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
  context_ = nullptr;
  if (!ok) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}
