// The words kept of a page: whatever a PDF or the OCR gives, a word is kept clean (no control,
// blank or reordering mark), read back exactly, and a damaged record is refused, not guessed.
#include <gtest/gtest.h>

#include "engine/files/page_text.h"

namespace kvtfiles {
namespace {

TEST(PageText, WordsAreKeptCleanAndReadBackExactly) {
  // Controls, blanks, soft hyphens, zero-width and bidi marks go; letters of any script stay.
  EXPECT_EQ(CleanWord("fat\ttura\n"), "fattura");
  EXPECT_EQ(CleanWord("\xE2\x80\xAE"
                      "arutaf"
                      "\xE2\x80\xAC"),
            "arutaf");  // RLO ... PDF
  EXPECT_EQ(CleanWord("a\xE2\x81\xA6"
                      "b\xE2\x80\x8B"
                      "c"),
            "abc");                                            // isolate, ZWSP
  EXPECT_EQ(CleanWord("q.t\xC3\xA0\xC2\xAD"), "q.t\xC3\xA0");  // soft hyphen
  EXPECT_EQ(CleanWord("\xEF\xBB\xBF\xCE\xB1\xE2\x82\xAC"), "\xCE\xB1\xE2\x82\xAC");
  EXPECT_EQ(CleanWord("\xFF\xC3"), "");  // not UTF-8
  EXPECT_EQ(CleanWord("a\xE2\xFF\x80"
                      "b"),
            "ab");  // a sequence cut short
  EXPECT_EQ(FoldAccents("Perch\xC3\xA9 Citt\xC3\xA0 \xC3\x88 \xC3\x9F"), "Perche Citta E \xC3\x9F");

  const std::vector<Word> words = {{10, 20, 30, 40, 95, "Fattura"},
                                   {-3, 0, 0, 0, 0, "n.\xE2\x80\xAE"},
                                   {1, 2, 3, 4, 100, " \n "}};
  const std::string kept = EncodeWords(words);
  std::vector<Word> back;
  ASSERT_TRUE(DecodeWords(kept, back));
  ASSERT_EQ(back.size(), 2u);  // the blank word is no word
  EXPECT_EQ(back[0].text, "Fattura");
  EXPECT_EQ(back[0].height, 40);
  EXPECT_EQ(back[1].text, "n.");
  EXPECT_EQ(back[1].x, -3);
  for (const char* damaged : {"1 2 3 4 95 a", "1 2 3 4 a\n", "1 2 3 -4 5 a\n", "1 2 3 4 101 a\n",
                              "1 2 3 4 99999999999 a\n"}) {
    std::vector<Word> none;
    EXPECT_FALSE(DecodeWords(damaged, none)) << damaged;
  }
  FileReading r{"x", "t", "", {{100, 100, {words[0]}}, {100, 100, {}}}};
  EXPECT_EQ(SearchedText(r), "Fattura\n\n");
}

}  // namespace
}  // namespace kvtfiles
