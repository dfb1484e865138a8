#pragma once
// SHA-256 over a stream of pieces (OpenSSL's digest; stands in for CNG's hash objects). One
// thread uses one object.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False when the digest could not be started; Update and Finish then do nothing.
  bool Ready() const { return context_ != nullptr; }
  void Update(const uint8_t* data, size_t size);
  // The digest as 64 lower-case hex digits; empty when not Ready. Ends the object's use.
  std::string FinishHex();

 private:
  void* context_ = nullptr;
};
