// The conventions every window system shares with the component: key codes and shift bits,
// colours as 0x00BBGGRR, positions and sizes in twips, and the window system's error numbers.
#pragma once

#include <cstdint>

#include "kvtfields/contracts/host_contract.h"

namespace kvthost {

/// Key codes and shift bits (from the host contract).
inline constexpr std::int16_t kKeyBack = kvtfields::key::kBack;
inline constexpr std::int16_t kKeyTab = kvtfields::key::kTab;
inline constexpr std::int16_t kKeyReturn = kvtfields::key::kReturn;
inline constexpr std::int16_t kShiftMask = kvtfields::key::kShiftMask;
inline constexpr std::int16_t kCtrlMask = kvtfields::key::kCtrlMask;
inline constexpr std::int16_t kAltMask = kvtfields::key::kAltMask;

/// The shift state of a key event from its modifier keys.
constexpr std::int16_t ShiftState(bool shift, bool ctrl, bool alt) {
  return static_cast<std::int16_t>((shift ? kShiftMask : 0) | (ctrl ? kCtrlMask : 0) |
                                   (alt ? kAltMask : 0));
}

/// Colours as the platform encodes them (0x00BBGGRR).
inline constexpr std::int32_t kWhite = 0xFFFFFF;
inline constexpr std::int32_t kBlack = 0x000000;

/// 0x00BBGGRR to 0x00RRGGBB (what toolkits take) and back; the top byte is dropped.
constexpr std::uint32_t BgrToRgb(std::int32_t bgr) {
  const auto v = static_cast<std::uint32_t>(bgr);
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}
constexpr std::int32_t RgbToBgr(std::uint32_t rgb) {
  return static_cast<std::int32_t>(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

/// Twips per inch: positions and sizes are in twips, 1/1440 inch.
inline constexpr int kTwipsPerInch = 1440;

/// Twips to pixels at `dpi` logical dots per inch, rounded to the nearest pixel.
constexpr int TwipsToPixels(std::int32_t twips, int dpi) {
  const long long scaled = static_cast<long long>(twips) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + kTwipsPerInch / 2) / kTwipsPerInch
                                      : -((-scaled + kTwipsPerInch / 2) / kTwipsPerInch));
}
constexpr std::int32_t PixelsToTwips(int pixels, int dpi) {
  return dpi <= 0 ? 0
                  : static_cast<std::int32_t>(
                        (static_cast<long long>(pixels) * kTwipsPerInch + dpi / 2) / dpi);
}

/// Error numbers of the window system, as the platform numbers them.
enum : std::uint32_t {
  kInvalidPropertyValue = 380,
  kDuplicateControlName = 727,
  kControlNotFound = 730,
};

/// The source of the window system's errors.
inline constexpr const char* kHostSource = "kvtHost";

}  // namespace kvthost
