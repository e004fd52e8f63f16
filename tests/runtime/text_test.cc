#include "runtime/text.h"

#include "test_support.h"

namespace kvt {
namespace {

// Restores the default locale whatever a test did.
class TextTest : public ::testing::Test {
 protected:
  void TearDown() override { SetLocale("it_IT"); }
};

TEST_F(TextTest, CaseFollowsUnicodeNotJustAsciiLetters) {
  EXPECT_EQ(ToUpper("àbc"), "ÀBC");
  EXPECT_EQ(ToLower("ÉLAN Ü"), "élan ü");
  EXPECT_EQ(ToUpper("straße"), "STRASSE");
}

TEST_F(TextTest, LengthCountsCharactersNotBytes) {
  EXPECT_EQ(CharLength("àèì"), 3u);
  EXPECT_EQ(CharLength(""), 0u);
  EXPECT_EQ(CharLength("a\xff"
                       "b"),
            3u);  // a malformed byte still counts once
}

TEST_F(TextTest, LocaleDecidesSeparators) {
  EXPECT_EQ(ParseLocaleNumber("1.234,5"), 1234.5);
  SetLocale("en_US");
  EXPECT_EQ(CurrentLocale(), "en_US");
  EXPECT_EQ(ParseLocaleNumber("1,234.5"), 1234.5);
  EXPECT_FALSE(ParseLocaleNumber("1.234,5").has_value());
  EXPECT_EQ(FormatLocaleNumber(0.5), "0.5");
}

TEST_F(TextTest, GroupingSeparatorsStandOnlyBetweenDigits) {
  EXPECT_FALSE(ParseLocaleNumber(".5").has_value());  // '.' groups digits under it_IT
  EXPECT_FALSE(ParseLocaleNumber("5.").has_value());
  EXPECT_FALSE(ParseLocaleNumber("1..2").has_value());
  EXPECT_FALSE(ParseLocaleNumber("-").has_value());
  EXPECT_FALSE(ParseLocaleNumber("1e").has_value());
  EXPECT_EQ(ParseLocaleNumber("+,5"), 0.5);
}

// A clerk who types "12.50" means twelve and a half: a mark that does not group by three is no
// thousands separator, and one alone is read as the other notation's decimal point.
TEST_F(TextTest, AMarkThatDoesNotGroupByThreeIsNoThousandsSeparator) {
  EXPECT_EQ(ParseLocaleNumber("1.234.567"), 1234567.0);
  EXPECT_EQ(ParseLocaleNumber("1.250"), 1250.0);  // three digits: thousands, as written here
  EXPECT_EQ(ParseLocaleNumber("12.50"), 12.5);
  EXPECT_EQ(ParseLocaleNumber("-3.5"), -3.5);
  EXPECT_EQ(ParseLocaleNumber("1234.567"), 1234.567);
  EXPECT_FALSE(ParseLocaleNumber("1.2.3").has_value());
  EXPECT_FALSE(ParseLocaleNumber("12.50,5").has_value());
  EXPECT_FALSE(ParseLocaleNumber("1.23.456").has_value());
}

TEST_F(TextTest, AnUnknownLocaleIsRefusedAndTheOldOneKept) {
  EXPECT_EQ(testing::CaptureError([] { SetLocale(""); }).Number(),
            testing::Code(ErrorCode::kInvalidProcedureCall));
  EXPECT_EQ(CurrentLocale(), "it_IT");
}

}  // namespace
}  // namespace kvt
