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

std::string WordsIn(const kvtfiles::PageText& page, double x, double y, double width,
                    double height) {
  if (page.width <= 0 || page.height <= 0) return {};
  // A scan lies a little higher or further left each time, so a word whose middle is near the
  // box counts; but where some words lie within the box, only those: the label before a number
  // ("N.") and the line under it are not the number. A word begun within the box and running
  // past it is in it: a longer value ("26 novembre 2026" where "17 luglio 2026" was taken).
  const double dx = 0.01, dy = std::max(0.006, height * 0.3);
  struct Near {
    const kvtfiles::Word* word;
    double left, cx, cy;
  };
  std::vector<Near> near;
  for (const auto& w : page.words) {
    const double left = static_cast<double>(w.x) / page.width;
    const double cx = (w.x + w.width / 2.0) / page.width;
    const double cy = (w.y + w.height / 2.0) / page.height;
    const bool begun_in = left >= x && left <= x + width;
    if ((!begun_in && (cx < x - dx || cx > x + width + dx)) || cy < y - dy ||
        cy > y + height + dy) {
      continue;
    }
    near.push_back({&w, left, cx, cy});
  }
  if (near.empty()) return {};
  const auto down = [&](const Near& n) { return n.cy >= y && n.cy <= y + height; };
  const auto within = [&](double at) { return at >= x && at <= x + width; };
  const auto across = [&](const Near& n) { return within(n.cx) || within(n.left); };
  // The lines: those whose middle is within the box, else the one nearest its middle.
  std::vector<Near> lines;
  for (const auto& n : near) {
    if (down(n)) lines.push_back(n);
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
  const bool any_across = std::any_of(lines.begin(), lines.end(), across);
  std::string out;
  for (const auto& n : lines) {
    if (any_across && !across(n)) continue;
    out += (out.empty() ? "" : " ") + n.word->text;
  }
  return out;
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
    std::string text =
        WordsIn(reading.pages[static_cast<std::size_t>(b.page - 1)], b.x, b.y, b.width, b.height);
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
