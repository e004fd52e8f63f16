// The layout control's rules on forms of 1, 10 and 500 fields.
#include "addons/layout/resizer.h"
#include "e2e/fixture.h"
#include "kvtfields/collection/fields_collection.h"

#include <limits>

#include "test_support.h"

namespace kvtfields {
namespace {

using kvt::Variant;

struct Box {
  std::int32_t left, top, right, bottom;
};

Box BoxOf(const kvt::ObjectRef& c) {
  auto get = [&](const char* m) { return kvt::CLng(kvt::GetProperty(c, m)); };
  return {get("Left"), get("Top"), get("Left") + get("Width"), get("Top") + get("Height")};
}

class LayoutE2E : public testing::EndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(LayoutE2E, NothingOverlapsAndReadingOrderFollowsTheCollection) {
  const int n = GetParam();
  const std::string archive = "Scala" + std::to_string(n);
  kvtarchive::sample::CreateScaledArchive(*engine_, archive, n);
  auto fields = FieldsCollection::Create();
  fields->Init(engine_);
  fields->FillCollection(archive, kvtarchive::sample::kEntryForm, form_);
  kvtaddons::Resizer resizer;
  kvt::ObjectRef window = form_;
  resizer.AttachFields(Variant(), window, Variant(kvt::ObjectRef(fields)));
  resizer.ArrangeFields();

  std::vector<Box> boxes;  // label and control of field i at 2i and 2i + 1
  for (int i = 1; i <= n; ++i) {
    auto f = fields->Item(Variant(i));
    boxes.push_back(BoxOf(f->LinkedLabel()));
    boxes.push_back(BoxOf(f->LinkedControl()));
  }
  // Neighbours in the collection are neighbours on the form: right of, or on a lower row.
  for (int i = 1; i < n; ++i) {
    const Box& prev = boxes[2 * (i - 1) + 1];
    const Box& label = boxes[2 * i];
    const bool same_row = label.top == boxes[2 * (i - 1)].top;
    if (same_row) {
      EXPECT_GE(label.left, prev.right) << i;
    } else {
      EXPECT_GE(label.top, prev.bottom) << i;
      EXPECT_EQ(label.left, kvtaddons::kMargin) << i;
    }
  }
  // No two rectangles overlap, and the window holds them all.
  for (std::size_t a = 0; a < boxes.size(); ++a) {
    for (std::size_t b = a + 1; b < boxes.size(); ++b) {
      const Box &x = boxes[a], &y = boxes[b];
      EXPECT_FALSE(x.left < y.right && y.left < x.right && x.top < y.bottom && y.top < x.bottom)
          << a << " " << b;
    }
    EXPECT_LE(boxes[a].right, form_->ScaleWidth());
    EXPECT_LE(boxes[a].bottom, form_->ScaleHeight());
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, LayoutE2E, ::testing::Values(1, 10, 500));

// A layout no screen can show is refused when read; controls that report absurd sizes make a
// large window, never an overflow.
class HugeLayoutE2E : public testing::EndToEnd {};

TEST_F(HugeLayoutE2E, AreRefusedWhenReadAndHugeControlsStayInRange) {
  kvtengine::FieldLayout huge{kvtarchive::sample::kArchive, "Cliente",
                              kvtarchive::sample::kEntryForm};
  huge.width = std::numeric_limits<std::int32_t>::max();
  engine_->PutLayout(huge);
  auto fields = FieldsCollection::Create();
  fields->Init(engine_);
  const kvt::Error e = kvt::testing::CaptureError(
      [&] { fields->FillCollection(kvtarchive::sample::kArchive, "Inserimento", form_); });
  EXPECT_EQ(e.Number(), kvt::kObjectErrorBase + kvtengine::kBadDefinition);
  EXPECT_THAT(e.Description(), ::testing::HasSubstr("width of 2147483647 twips"));

  huge.width = 2000;
  engine_->PutLayout(huge);
  fields = FieldsCollection::Create();
  fields->Init(engine_);
  fields->FillCollection(kvtarchive::sample::kArchive, "Inserimento", form_);
  for (int i = 1; i <= fields->Count(); ++i) {
    const kvt::ObjectRef c = fields->Item(Variant(i))->LinkedControl();
    kvt::LetProperty(c, "Width", std::numeric_limits<std::int32_t>::max() - 10);
    kvt::LetProperty(c, "Height", std::numeric_limits<std::int32_t>::max() - 10);
  }
  kvtaddons::Resizer resizer;
  kvt::ObjectRef window = form_;
  resizer.AttachFields(Variant(), window, Variant(kvt::ObjectRef(fields)));
  resizer.ArrangeFields();
  for (int i = 1; i <= fields->Count(); ++i) {
    const Box b = BoxOf(fields->Item(Variant(i))->LinkedLabel());
    EXPECT_GE(b.left, 0) << i;
    EXPECT_GE(b.top, 0) << i;
  }
  EXPECT_GT(form_->ScaleWidth(), 0);
  EXPECT_GT(form_->ScaleHeight(), 0);
}

}  // namespace
}  // namespace kvtfields
