#include "engine/files/file_facts.h"

#include <magic.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

namespace kvtfiles {

namespace {

struct MagicCloser {
  void operator()(magic_t m) const { magic_close(m); }
};

// One cookie per thread: libmagic's are not shared between threads, and loading its database
// costs milliseconds, not something to do per file.
magic_t Cookie() {
  thread_local std::unique_ptr<std::remove_pointer_t<magic_t>, MagicCloser> cookie = [] {
    std::unique_ptr<std::remove_pointer_t<magic_t>, MagicCloser> m(
        magic_open(MAGIC_MIME_TYPE | MAGIC_NO_CHECK_COMPRESS | MAGIC_NO_CHECK_ELF));
    if (m && magic_load(m.get(), nullptr) != 0) m.reset();
    return m;
  }();
  return cookie.get();
}

bool IsSpace(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}

// A PDF name ends at a space or a delimiter.
bool EndsName(char c) {
  return IsSpace(c) || std::strchr("/<>[]()%{}", c) != nullptr;
}

// How far around a /Count its node's /Type /Pages may be: a node is a short dictionary.
constexpr std::size_t kNodeReach = 400;
constexpr std::size_t kTail = kNodeReach + 64;
// A count above this is no page count of a real file: it is ignored, not believed.
constexpr std::int64_t kMaxPdfPages = 10'000'000;

bool HasPagesType(std::string_view near) {
  for (std::size_t at = near.find("/Pages"); at != std::string_view::npos;
       at = near.find("/Pages", at + 1)) {
    if (at + 6 == near.size() || EndsName(near[at + 6])) return true;
  }
  return false;
}

}  // namespace

std::string MediaTypeOf(std::string_view head) {
  if (head.empty()) return "application/x-empty";
  magic_t m = Cookie();
  const char* type = m ? magic_buffer(m, head.data(), head.size()) : nullptr;
  return type ? type : "application/octet-stream";
}

void PdfPageCounter::Feed(std::string_view piece) {
  if (piece.empty()) return;
  std::string window = tail_;
  window.append(piece);
  Scan(window);
  const std::size_t keep = std::min(window.size(), kTail);
  tail_.assign(window.data() + window.size() - keep, keep);
}

void PdfPageCounter::Scan(std::string_view w) {
  for (std::size_t at = w.find("/Count"); at != std::string_view::npos;
       at = w.find("/Count", at + 1)) {
    std::size_t p = at + 6;
    while (p < w.size() && IsSpace(w[p])) ++p;
    std::int64_t n = 0;
    std::size_t digits = 0;
    while (p < w.size() && w[p] >= '0' && w[p] <= '9' && digits < 9) {
      n = n * 10 + (w[p] - '0');
      ++p, ++digits;
    }
    if (digits == 0 || n > kMaxPdfPages || n <= pages_) continue;
    // The object holding this /Count: from its "obj" to its "endobj", each within reach. An
    // outline's /Count beside a page node is another object's.
    const std::size_t from = at > kNodeReach ? at - kNodeReach : 0;
    const std::string_view before = w.substr(from, at - from);
    const std::size_t obj = before.rfind("obj");
    if (obj == std::string_view::npos || (obj >= 3 && before.substr(obj - 3, 3) == "end")) continue;
    const std::string_view after = w.substr(at, std::min(w.size() - at, kNodeReach));
    const std::size_t end = after.find("endobj");
    if (HasPagesType(before.substr(obj)) ||
        HasPagesType(after.substr(0, end == std::string_view::npos ? after.size() : end))) {
      pages_ = static_cast<std::int32_t>(n);
    }
  }
}

ReadAt ReadAtBytes(std::string_view bytes) {
  return [bytes](std::uint64_t offset, char* out, std::size_t n) -> std::size_t {
    if (offset >= bytes.size()) return 0;
    const std::size_t got = std::min<std::size_t>(n, bytes.size() - offset);
    std::memcpy(out, bytes.data() + offset, got);
    return got;
  };
}

std::int32_t TiffPages(const ReadAt& read_at, std::uint64_t size) {
  unsigned char h[8];
  if (size < 8 || read_at(0, reinterpret_cast<char*>(h), 8) != 8) return 0;
  const bool little = h[0] == 'I' && h[1] == 'I';
  if (!(little || (h[0] == 'M' && h[1] == 'M'))) return 0;
  auto u16 = [&](const unsigned char* b) {
    return little ? static_cast<unsigned>(b[0] | (b[1] << 8))
                  : static_cast<unsigned>((b[0] << 8) | b[1]);
  };
  auto u32 = [&](const unsigned char* b) {
    return little ? (std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
                     std::uint32_t{b[3]} << 24)
                  : (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                     std::uint32_t{b[2]} << 8 | std::uint32_t{b[3]});
  };
  if (u16(h + 2) != 42) return 0;  // 43 is BigTIFF: pages not counted
  std::uint64_t next = u32(h + 4);
  std::unordered_set<std::uint64_t> seen;
  std::int32_t pages = 0;
  while (next != 0 && pages < kMaxTiffPages) {
    unsigned char b[4];
    if (next + 2 > size || !seen.insert(next).second) break;
    if (read_at(next, reinterpret_cast<char*>(b), 2) != 2) break;
    const std::uint64_t after = next + 2 + 12ull * u16(b);
    ++pages;
    if (after + 4 > size || read_at(after, reinterpret_cast<char*>(b), 4) != 4) break;
    next = u32(b);
  }
  return pages;
}

std::int32_t PagesOf(const std::string& media_type, const PdfPageCounter& pdf,
                     const ReadAt& read_at, std::uint64_t size) {
  if (media_type == "application/pdf") return pdf.Pages();
  if (media_type == "image/tiff") return TiffPages(read_at, size);
  if (media_type.rfind("image/", 0) == 0) return 1;
  return 0;
}

}  // namespace kvtfiles
