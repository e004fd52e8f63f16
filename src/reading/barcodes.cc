#include "reading/barcodes.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <exception>

#include "engine/files/page_text.h"

namespace kvtread {

namespace {

// `*` and `?` against the text, iteratively: no pattern takes more than text × pattern steps.
bool Matches(std::string_view text, std::string_view pattern) {
  std::size_t t = 0, p = 0, star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::vector<std::string> Barcodes(const unsigned char* grey, int width, int height, int stride) {
  std::vector<std::string> out;
  if (!grey || width <= 0 || height <= 0 || stride < width) return out;
  ZXing::DecodeHints hints;
  // What separator sheets carry: a linear code, QR or Data Matrix. Aztec's detector in
  // zxing-cpp 1.4 throws on some pictures (found by fuzzing); it is not looked for.
  hints.setFormats(ZXing::BarcodeFormat::LinearCodes | ZXing::BarcodeFormat::QRCode |
                   ZXing::BarcodeFormat::DataMatrix);
  // One symbol a page: zxing-cpp 1.4 asserts (and so aborts) when it compares several linear
  // ones it found on a page; a separator sheet needs but one.
  hints.setMaxNumberOfSymbols(1);
  const ZXing::ImageView image(grey, width, height, ZXing::ImageFormat::Lum, stride);
  ZXing::Result found;
  try {
    found = ZXing::ReadBarcode(image, hints);
  } catch (const std::exception&) {
    return out;  // a picture the reader cannot take: no code on it
  }
  for (const auto& result : {found}) {
    if (!result.isValid()) continue;
    std::string text = kvtfiles::CleanWord(result.text());
    if (text.size() > kMostBarcodeBytes) {
      // Cut at a character's start: the kept text stays valid UTF-8.
      std::size_t cut = kMostBarcodeBytes;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      text.resize(cut);
    }
    if (!text.empty()) out.push_back(std::move(text));
  }
  return out;
}

bool AnyMatches(const std::vector<std::string>& codes, std::string_view pattern) {
  for (const auto& c : codes) {
    if (Matches(c, pattern)) return true;
  }
  return false;
}

}  // namespace kvtread
