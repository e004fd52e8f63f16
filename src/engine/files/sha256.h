// SHA-256 over bytes given in pieces (OpenSSL's code): what names a kept file and what every
// read of it is checked against.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kvtfiles {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  /// Adds the next bytes.
  void Update(std::string_view bytes);
  /// The digest of everything added, as 64 lower-case hex digits; starts over after.
  std::string HexDigest();
  /// The same as 32 bytes.
  std::string Digest();

 private:
  struct Context;
  std::unique_ptr<Context> ctx_;
};

/// The SHA-256 of `bytes` as 64 lower-case hex digits.
std::string Sha256Of(std::string_view bytes);
/// The SHA-256 of `bytes` as 32 bytes.
std::string Sha256Bytes(std::string_view bytes);
/// True when `text` is 64 lower-case hex digits.
bool IsSha256(std::string_view text);

}  // namespace kvtfiles
