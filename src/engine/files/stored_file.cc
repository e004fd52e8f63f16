#include "engine/files/stored_file.h"

#include "engine/files/sha256.h"

namespace kvtfiles {

namespace {
constexpr std::string_view kPrefix = "sha256:";
}

std::string FileRefText(const FileRef& ref) {
  return std::string(kPrefix) + ref.sha256 + "/" + ref.name;
}

std::optional<FileRef> ParseFileRef(std::string_view text) {
  if (text.size() < kPrefix.size() + 65 || text.substr(0, kPrefix.size()) != kPrefix) return {};
  const std::string_view hash = text.substr(kPrefix.size(), 64);
  if (!IsSha256(hash) || text[kPrefix.size() + 64] != '/') return {};
  return FileRef{std::string(hash), std::string(text.substr(kPrefix.size() + 65))};
}

std::string BaseName(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace kvtfiles
