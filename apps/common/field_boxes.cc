#include "common/field_boxes.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "engine/common/document_search.h"

namespace kvtapp {

namespace {

// A layout is the same supplier's when at least this share of the heading words agree: a
// letterhead's words stay, the document's number and date beside them change.
constexpr double kSameLayout = 0.6;
// A page's heading: its top part, above the body.
constexpr double kHeading = 0.15;

std::set<std::string_view> WordSet(std::string_view text) {
  std::set<std::string_view> out;
  while (!text.empty()) {
    const auto blank = text.find(' ');
    const auto word = text.substr(0, blank);
    if (!word.empty()) out.insert(word);
    if (blank == std::string_view::npos) break;
    text.remove_prefix(blank + 1);
  }
  return out;
}

}  // namespace

std::string Letterhead(const kvtfiles::PageText& first) {
  // Words that head any Italian document: they tell no layout from another.
  static const std::set<std::string_view> kCommon = {
      "del",   "della", "dei",  "delle", "degli", "dal", "dalla", "per", "con", "nel",
      "nella", "sul",   "alla", "alle",  "una",   "uno", "che",   "the", "and"};
  std::set<std::string> words;
  for (const auto& w : first.words) {
    if (first.height <= 0 || (w.y + w.height / 2.0) > first.height * kHeading) continue;
    for (auto& part : kvtengine::SearchWords(kvtfiles::FoldAccents(w.text))) {
      std::transform(part.begin(), part.end(), part.begin(),
                     [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
      const bool letters =
          std::any_of(part.begin(), part.end(), [](char c) { return c >= 'a' && c <= 'z'; });
      const bool digits =
          std::any_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (part.size() < 3 || !letters || digits || kCommon.count(part)) continue;
      words.insert(std::move(part));
    }
  }
  std::string out;
  for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

double Alike(std::string_view a, std::string_view b) {
  const auto x = WordSet(a), y = WordSet(b);
  if (x.empty() && y.empty()) return 1.0;  // neither page is headed: told apart by nothing
  if (x.empty() || y.empty()) return 0.0;
  // The share of the shorter heading found in the other: a customer's name or a date beside
  // the same letterhead changes little.
  std::size_t both = 0;
  for (const auto& w : x) both += y.count(w);
  return static_cast<double>(both) / static_cast<double>(std::min(x.size(), y.size()));
}

std::string ShapeOf(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= '0' && c <= '9') {
      out += '9';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += 'a';
    } else if (c >= 0x80) {
      // A letter beyond ASCII, whole: its continuation bytes are skipped.
      out += 'a';
      while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {

// A word of a page near a box: where it is (fractions of the page), and whether it lies across
// the box.
struct Near {
  const kvtfiles::Word* word;
  double left, right, cx, cy;
  bool across = false;
};

// The words of the box's lines near it, in reading order. A scan lies a little higher or
// further left each time, so a word whose middle is near the box counts; of the lines, those
// whose middle is within the box, else the one nearest its middle (not the line under it). A
// word lies across the box when its middle does, or when it begins within it and runs past it
// (a longer value: "26 novembre 2026" where "17 luglio 2026" was taken).
std::vector<Near> LineWords(const kvtfiles::PageText& page, double x, double y, double width,
                            double height) {
  std::vector<Near> near;
  if (page.width <= 0 || page.height <= 0) return near;
  const double dx = 0.01, dy = std::max(0.006, height * 0.3);
  const auto within = [&](double at) { return at >= x && at <= x + width; };
  for (const auto& w : page.words) {
    Near n{&w, static_cast<double>(w.x) / page.width,
           static_cast<double>(w.x + w.width) / page.width, (w.x + w.width / 2.0) / page.width,
           (w.y + w.height / 2.0) / page.height};
    n.across = within(n.cx) || within(n.left);
    if ((!within(n.left) && (n.cx < x - dx || n.cx > x + width + dx)) || n.cy < y - dy ||
        n.cy > y + height + dy) {
      continue;
    }
    near.push_back(n);
  }
  if (near.empty()) return near;
  std::vector<Near> lines;
  for (const auto& n : near) {
    if (n.cy >= y && n.cy <= y + height) lines.push_back(n);
  }
  if (lines.empty()) {
    const double middle = y + height / 2;
    const auto nearest =
        *std::min_element(near.begin(), near.end(), [&](const Near& a, const Near& b) {
          return std::abs(a.cy - middle) < std::abs(b.cy - middle);
        });
    const double half = nearest.word->height / 2.0 / page.height;
    for (const auto& n : near) {
      if (std::abs(n.cy - nearest.cy) <= half) lines.push_back(n);
    }
  }
  return lines;
}

std::string Joined(std::vector<Near>::const_iterator from, std::vector<Near>::const_iterator to) {
  std::string out;
  for (auto n = from; n != to; ++n) out += (out.empty() ? "" : " ") + n->word->text;
  return out;
}

// What a value's words are, as a label is told from a value: "9" a word with a digit, "a" any
// other ("N. 2044" is "a 9", "5 dicembre 2026" "9 a 9", "1.234,50" "9").
std::string WordKinds(std::string_view text) {
  std::string out;
  bool in_word = false, digit = false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const bool space = i == text.size() || text[i] == ' ';
    if (space) {
      if (in_word) out += std::string(out.empty() ? "" : " ") + (digit ? "9" : "a");
      in_word = digit = false;
      continue;
    }
    in_word = true;
    digit = digit || (text[i] >= '0' && text[i] <= '9');
  }
  return out;
}

}  // namespace

std::string WordsIn(const kvtfiles::PageText& page, double x, double y, double width,
                    double height) {
  // Where some words lie across the box, only those: the label before a number ("N.") is not
  // the number.
  auto lines = LineWords(page, x, y, width, height);
  if (std::any_of(lines.begin(), lines.end(), [](const Near& n) { return n.across; })) {
    std::erase_if(lines, [](const Near& n) { return !n.across; });
  }
  return Joined(lines.begin(), lines.end());
}

std::optional<Proposal> Propose(const std::vector<kvtengine::FieldBox>& boxes,
                                const std::string& field, const kvtfiles::FileReading& reading) {
  if (reading.pages.empty()) return std::nullopt;
  const std::string head = Letterhead(reading.pages.front());
  std::optional<Proposal> best;
  double best_score = 0;
  for (const auto& b : boxes) {
    if (b.field != field || b.page < 1 || static_cast<std::size_t>(b.page) > reading.pages.size())
      continue;
    const double alike = Alike(b.letterhead, head);
    if (alike < kSameLayout) continue;
    const auto& page = reading.pages[static_cast<std::size_t>(b.page - 1)];
    // Of the words in the place, the run made like the value taken there, most within the box:
    // a page lying a little further right brings the label before the number into the box.
    const auto lines = LineWords(page, b.x, b.y, b.width, b.height);
    const std::string kinds = WordKinds(b.shape);
    std::string text;
    double most = 0;
    for (auto from = lines.begin(); from != lines.end(); ++from) {
      double overlap = 0;
      for (auto to = from; to != lines.end(); ++to) {
        overlap += std::max(0.0, std::min(to->right, b.x + b.width) - std::max(to->left, b.x));
        std::string run = Joined(from, to + 1);
        if (overlap > most && WordKinds(run) == kinds) {
          most = overlap;
          text = std::move(run);
        }
      }
    }
    if (text.empty()) text = WordsIn(page, b.x, b.y, b.width, b.height);
    if (text.empty()) continue;
    // The same layout first; among boxes as alike, the one whose words look like its value,
    // then the one used most.
    const double score =
        alike + (ShapeOf(text) == b.shape ? 0.3 : 0.0) + std::min(b.used, 10) * 0.001;
    if (best && score <= best_score) continue;
    best_score = score;
    best = Proposal{b, std::move(text)};
  }
  return best;
}

kvtengine::FieldBox Remember(kvtengine::ArchiveEngine& engine, kvtengine::FieldBox box,
                             const std::string& text, const kvtfiles::FileReading& reading,
                             std::vector<kvtengine::FieldBox>& known) {
  box.letterhead = reading.pages.empty() ? std::string() : Letterhead(reading.pages.front());
  box.shape = ShapeOf(text);
  box.used_at = kvtengine::SavedAtNow();
  box.id = 0;
  box.used = 1;
  kvtengine::FieldBox* same = nullptr;
  double best = kSameLayout;
  for (auto& k : known) {
    if (k.field != box.field || k.archive != box.archive || k.form != box.form) continue;
    const double alike = Alike(k.letterhead, box.letterhead);
    if (alike < best) continue;
    best = alike;
    same = &k;
  }
  if (same) {
    box.id = same->id;
    box.used = same->used + 1;
  }
  box.id = engine.KeepFieldBox(box);
  if (same) {
    *same = box;
  } else {
    known.push_back(box);
  }
  return box;
}

}  // namespace kvtapp
