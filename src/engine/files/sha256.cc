#include "engine/files/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace kvtfiles {

struct Sha256::Context {
  EVP_MD_CTX* md = nullptr;
};

Sha256::Sha256() : ctx_(std::make_unique<Context>()) {
  ctx_->md = EVP_MD_CTX_new();
  if (!ctx_->md || EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_->md);
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(ctx_->md);
}

void Sha256::Update(std::string_view bytes) {
  if (!bytes.empty()) EVP_DigestUpdate(ctx_->md, bytes.data(), bytes.size());
}

std::string Sha256::Digest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_DigestFinal_ex(ctx_->md, digest, &n);
  EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<const char*>(digest), n);
}

std::string Sha256::HexDigest() {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string digest = Digest();
  std::string out(2 * digest.size(), '0');
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const auto b = static_cast<unsigned char>(digest[i]);
    out[2 * i] = kHex[b >> 4];
    out[2 * i + 1] = kHex[b & 15];
  }
  return out;
}

std::string Sha256Of(std::string_view bytes) {
  Sha256 h;
  h.Update(bytes);
  return h.HexDigest();
}

std::string Sha256Bytes(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &n, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 is not available");
  }
  return std::string(reinterpret_cast<const char*>(digest), n);
}

bool IsSha256(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace kvtfiles
