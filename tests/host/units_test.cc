#include "host/common/units.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace kvthost
