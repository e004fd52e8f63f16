// Where on the page clerks took each field's value from, learnt as they work: a document laid
// out as one before (the same words heading its first page: the same supplier) gets the words
// in the same place proposed for the field. Only what a clerk saved is learnt.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/archive_engine.h"
#include "engine/files/page_text.h"

namespace kvtapp {

/// The words heading a document's first page, as a layout is told by: words of three letters
/// or more (no digits, none that heads any document) in its top sixth, lower case, sorted,
/// once each.
std::string Letterhead(const kvtfiles::PageText& first);
/// How alike two letterheads are: the share of the shorter one's words the other has (0 to 1).
double Alike(std::string_view a, std::string_view b);
/// A value's shape: each digit 9, each letter a, the rest as it is ("12/05/26" → "99/99/99").
std::string ShapeOf(std::string_view text);
/// The words of `page` within the box (fractions of the page) give or take a little, in reading
/// order, a blank between them.
std::string WordsIn(const kvtfiles::PageText& page, double x, double y, double width,
                    double height);

/// A value proposed for a field: the words in the place of a kept box.
struct Proposal {
  kvtengine::FieldBox box;
  std::string text;
};
/// The proposal for `field` on a document whose pages read `reading`: from the box whose layout
/// matches best (a letterhead alike enough, words in its place, their shape as kept counting
/// too); nothing when none does.
std::optional<Proposal> Propose(const std::vector<kvtengine::FieldBox>& boxes,
                                const std::string& field, const kvtfiles::FileReading& reading);

/// Remembers that the value `text` of `box`'s field (archive, form, field, page, place) was
/// taken from that place on a document whose pages read `reading`: the field's box of the same
/// layout among `known` moves there and counts one use more, or a new one is kept. Returns it
/// as kept (in `known` too).
kvtengine::FieldBox Remember(kvtengine::ArchiveEngine& engine, kvtengine::FieldBox box,
                             const std::string& text, const kvtfiles::FileReading& reading,
                             std::vector<kvtengine::FieldBox>& known);

}  // namespace kvtapp
