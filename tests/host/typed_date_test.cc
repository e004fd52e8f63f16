#include "host/common/typed_date.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <chrono>

namespace kvthost {
namespace {

std::string Read(std::string_view text) {
  const TypedDate d = ReadTypedDate(text);
  return d.date ? kvt::FormatDate(*d.date) : "refused: " + d.refusal;
}

TEST(TypedDateTest, DayMonthAndYearAreReadWithOrWithoutSeparators) {
  EXPECT_EQ(Read("02/03/2025"), "02/03/2025");
  EXPECT_EQ(Read("2/3/2025"), "02/03/2025");
  EXPECT_EQ(Read(" 2 /3 /2025 "), "02/03/2025");  // as a masked editor leaves it
  EXPECT_EQ(Read("29.2.2024"), "29/02/2024");
  EXPECT_EQ(Read("06122026"), "06/12/2026");
  const std::string century = Read("01/01/00").substr(6, 2);
  EXPECT_EQ(Read("6/12/26"), "06/12/" + century + "26");
  EXPECT_EQ(Read("061226"), "06/12/" + century + "26");
  // The year left out is this year's, whether the mask leaves the last separator or not.
  using namespace std::chrono;
  const std::string year =
      std::to_string(static_cast<int>(year_month_day{floor<days>(system_clock::now())}.year()));
  EXPECT_EQ(Read("5/12"), "05/12/" + year);
  EXPECT_EQ(Read(" 5 /12/    "), "05/12/" + year);
  EXPECT_THAT(Read("31/2"), ::testing::HasSubstr("non esiste"));
}

TEST(TypedDateTest, APartMissingOrADayTheMonthHasNotIsRefusedWithItsReason) {
  using ::testing::HasSubstr;
  EXPECT_THAT(Read("31/02/2025"), HasSubstr("31/02/2025 non esiste: febbraio 2025 ha 28 giorni"));
  EXPECT_THAT(Read("29/02/2023"), HasSubstr("febbraio 2023 ha 28 giorni"));
  EXPECT_THAT(Read("31/04/2025"), HasSubstr("aprile 2025 ha 30 giorni"));
  EXPECT_THAT(Read("0/04/2025"), HasSubstr("non esiste"));
  EXPECT_THAT(Read("12/13/2025"), HasSubstr("il mese va da 1 a 12"));
  EXPECT_THAT(Read("01/01/0000"), HasSubstr("l'anno va da 100 a 9999"));
  for (const char* partial : {"2/3/202", "2//2025", "/3/2025", "12", "1/2/3/4", "123/4/2025"}) {
    EXPECT_THAT(Read(partial), HasSubstr("Data incompleta")) << partial;
  }
  EXPECT_THAT(Read("2/marzo/2025"), HasSubstr("non è una data"));
}

}  // namespace
}  // namespace kvthost
