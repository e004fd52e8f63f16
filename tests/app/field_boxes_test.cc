// The places values were taken from, proposed on the next document laid out the same way: the
// best layout of several, never one of another supplier, the words in the place as they read.
#include "common/field_boxes.h"

#include <gtest/gtest.h>

namespace kvtapp {
namespace {

// A page of 1000 × 1000 units with its heading words at the top and `words` where they are.
kvtfiles::PageText Page(const std::string& heading,
                        std::vector<std::tuple<int, int, std::string>> words) {
  kvtfiles::PageText page;
  page.width = page.height = 1000;
  int x = 50;
  for (const auto& w : kvtengine::SearchWords(heading)) {
    page.words.push_back({x, 40, 80, 20, 95, w});
    x += 100;
  }
  for (auto& [wx, wy, text] : words) {
    page.words.push_back({wx, wy, 60, 20, 90, text});
  }
  return page;
}

kvtfiles::FileReading Reading(kvtfiles::PageText page) {
  kvtfiles::FileReading r;
  r.pages.push_back(std::move(page));
  return r;
}

kvtengine::FieldBox Box(const std::string& field, double x, double y, const std::string& head,
                        const std::string& shape, int used = 1) {
  kvtengine::FieldBox b;
  b.field = field;
  b.x = x;
  b.y = y;
  b.width = 0.06;
  b.height = 0.02;
  b.letterhead = Letterhead(Page(head, {}));
  b.shape = shape;
  b.used = used;
  return b;
}

TEST(FieldBoxes, TheLayoutOfTheSameSupplierIsProposedAndAnotherSuppliersNever) {
  // Rossi prints the number top right, Bianchi lower left.
  const std::vector<kvtengine::FieldBox> boxes = {
      Box("Numero", 0.80, 0.20, "Cartiera Rossi Milano", "9999", 7),
      Box("Numero", 0.10, 0.60, "Bianchi Forniture Torino", "9999"),
      Box("Data", 0.80, 0.25, "Cartiera Rossi Milano", "99.99.99")};
  // A Rossi invoice scanned a little off: its number and date proposed from Rossi's places.
  const auto rossi = Reading(Page("Cartiera Rossi Milano fattura",
                                  {{805, 205, "2044"}, {100, 600, "999"}, {810, 250, "06.12.26"}}));
  auto p = Propose(boxes, "Numero", rossi);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->text, "2044");
  EXPECT_EQ(Propose(boxes, "Data", rossi)->text, "06.12.26");
  // Bianchi's, though Rossi's box is used more.
  const auto bianchi =
      Reading(Page("Bianchi Forniture Torino", {{100, 600, "17"}, {800, 200, "x"}}));
  p = Propose(boxes, "Numero", bianchi);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->text, "17");
  // A supplier never seen, a place holding nothing, a field never taken: nothing proposed.
  EXPECT_FALSE(Propose(boxes, "Numero", Reading(Page("Verdi Carta Napoli", {{805, 205, "1"}}))));
  EXPECT_FALSE(Propose(boxes, "Numero", Reading(Page("Cartiera Rossi Milano", {}))));
  EXPECT_FALSE(Propose(boxes, "Totale", rossi));
  EXPECT_FALSE(Propose(boxes, "Numero", kvtfiles::FileReading{}));

  // A page lying further right brings the label's middle into the number's box: the words
  // made like the value taken there are proposed, the label left.
  auto shifted = Page("Cartiera Rossi Milano", {{640, 205, "N."}, {660, 205, "2044"}});
  for (auto& w : shifted.words) {
    if (w.text == "N.") w.width = 16;
  }
  EXPECT_EQ(WordsIn(shifted, 0.645, 0.20, 0.06, 0.02), "N. 2044");
  const std::vector<kvtengine::FieldBox> number = {
      Box("Numero", 0.645, 0.20, "Cartiera Rossi Milano", "9999")};
  ASSERT_TRUE(Propose(number, "Numero", Reading(shifted)));
  EXPECT_EQ(Propose(number, "Numero", Reading(shifted))->text, "2044");
}

TEST(FieldBoxes, ShapesAndHeadingsAreToldAsAPersonWould) {
  EXPECT_EQ(ShapeOf("05.12.26"), "99.99.99");
  EXPECT_EQ(ShapeOf("Però 12"), "aaaa 99");  // a letter beyond ASCII is one letter
  // The heading's words: letters only, three or more, once each, whatever their case or accent.
  const auto page = Page("Cartiera Rossì CARTIERA 2026 di della €", {{100, 900, "Piè"}});
  EXPECT_EQ(Letterhead(page), "cartiera rossi");
  EXPECT_DOUBLE_EQ(Alike("cartiera rossi", "cartiera rossi"), 1.0);
  EXPECT_DOUBLE_EQ(Alike("cartiera rossi", "cartiera verdi"), 0.5);
  EXPECT_DOUBLE_EQ(Alike("cartiera rossi milano", "cartiera rossi"), 1.0);
  EXPECT_DOUBLE_EQ(Alike("", "cartiera"), 0.0);
  // The words within a box, in reading order; none outside it.
  const auto words =
      Page("", {{100, 500, "5"}, {170, 500, "dicembre"}, {240, 500, "2026"}, {400, 500, "totale"}});
  EXPECT_EQ(WordsIn(words, 0.09, 0.49, 0.22, 0.03), "5 dicembre 2026");
  // The label just before a number, its middle within the slack, is not taken with it.
  auto number = Page("", {{628, 300, "N."}, {648, 300, "131"}});
  number.words[0].width = 16;  // ends before the box, its middle within the slack
  EXPECT_EQ(WordsIn(number, 0.645, 0.30, 0.06, 0.02), "131");
  EXPECT_EQ(WordsIn(number, 0.62, 0.30, 0.09, 0.02), "N. 131");
  EXPECT_EQ(WordsIn(words, 0.9, 0.9, 0.05, 0.05), "");
  // A scan lying off: of the two lines near the box, the nearer, not both; a word with its
  // middle beside the box is left when another's is in it.
  const auto lines = Page("", {{600, 287, "2044"}, {600, 305, "06.12.26"}, {540, 287, "n."}});
  EXPECT_EQ(WordsIn(lines, 0.60, 0.30, 0.06, 0.01), "2044");
  EXPECT_EQ(WordsIn(lines, 0.59, 0.29, 0.08, 0.04), "2044 06.12.26");
  // A longer value than the one the box was drawn around: its last word begun in the box.
  const auto date = Page("", {{100, 500, "26"}, {130, 500, "novembre"}, {210, 500, "2026"}});
  EXPECT_EQ(WordsIn(date, 0.095, 0.495, 0.13, 0.03), "26 novembre 2026");
}

}  // namespace
}  // namespace kvtapp
