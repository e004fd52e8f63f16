#include "host/common/units.h"

#include <gtest/gtest.h>

#include "host/common/text_positions.h"

namespace kvthost {
namespace {

TEST(UnitsTest, TwipsAndPixelsConvertAtTheScreensDensityRoundingToTheNearest) {
  EXPECT_EQ(TwipsToPixels(1440, 96), 96);
  EXPECT_EQ(TwipsToPixels(315, 96), 21);        // the default control height
  EXPECT_EQ(TwipsToPixels(-20000, 96), -1333);  // off-screen stays off-screen
  EXPECT_EQ(TwipsToPixels(7, 96), 0);
  EXPECT_EQ(TwipsToPixels(8, 96), 1);
  EXPECT_EQ(PixelsToTwips(21, 96), 315);
  EXPECT_EQ(PixelsToTwips(96, 144), 960);
  EXPECT_EQ(PixelsToTwips(5, 0), 0);
}

TEST(UnitsTest, ColoursSwapBlueAndRedAndKeysCombineTheirShiftBits) {
  EXPECT_EQ(BgrToRgb(0x0000FF), 0xFF0000u);  // red
  EXPECT_EQ(BgrToRgb(0x00FFFF), 0xFFFF00u);  // yellow, the focus colour
  EXPECT_EQ(RgbToBgr(0x123456), 0x563412);
  EXPECT_EQ(RgbToBgr(BgrToRgb(0xFF0000)), 0xFF0000);
  EXPECT_EQ(ShiftState(false, true, true), 6);
  EXPECT_EQ(ShiftState(true, false, false), kShiftMask);
}

// The controls count code points with "\r\n" as two; a widget or a browser counts UTF-16 units
// with one "\n". Every control position maps to a shown one and back; a shown position inside
// a surrogate pair comes back as the pair's end.
TEST(TextPositionsTest, ControlAndShownPositionsRoundTripAcrossLineEndsAndEmoji) {
  const std::string text =
      "a\xF0\x9F\x98\x80"
      "b\r\n\xC3\xA8";                        // a😀b CR LF è
  const int shown[] = {0, 1, 3, 4, 4, 5, 6};  // after 0..6 code points
  for (std::int32_t chars = 0; chars <= 6; ++chars) {
    EXPECT_EQ(ShownPosition(text, chars), shown[chars]) << chars;
    if (chars != 4) {  // between "\r" and "\n": no shown position of its own
      EXPECT_EQ(ControlPosition(text, shown[chars]), chars) << chars;
    }
  }
  EXPECT_EQ(ControlPosition(text, 2), 2);  // inside the emoji's pair: after it
  EXPECT_EQ(ShownPosition(text, 99), 6);   // past the end: the end
  EXPECT_EQ(ControlPosition(text, 99), 6);
  EXPECT_EQ(ShownPosition("", 3), 0);
}

}  // namespace
}  // namespace kvthost
