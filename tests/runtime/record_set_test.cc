#include "runtime/record_set.h"

#include "test_support.h"

namespace kvt {
namespace {

using testing::CaptureError;
using testing::Code;

std::shared_ptr<RecordSet> Codes() {
  return MemoryRecordSet::Create(
      {"COD", "VALUE"}, {{Variant("A1"), Variant("Primo")}, {Variant("B2"), Variant::Null()}});
}

TEST(RecordSetTest, AnEmptyRecordSetIsAtBothEnds) {
  auto rs = MemoryRecordSet::Create({"COD"}, {});
  EXPECT_TRUE(rs->Eof());
  EXPECT_TRUE(rs->Bof());
  EXPECT_EQ(CaptureError([&] { rs->Value("COD"); }).Number(), Code(ErrorCode::kNoCurrentRecord));
}

TEST(RecordSetTest, ReadsTheCurrentRowByNameAndPosition) {
  auto rs = Codes();
  EXPECT_FALSE(rs->Eof());
  EXPECT_FALSE(rs->Bof());
  EXPECT_EQ(CStr(rs->Value("cod")), "A1");  // column names ignore letter case
  EXPECT_EQ(CStr(rs->Value(1)), "Primo");
  rs->MoveNext();
  EXPECT_TRUE(rs->Value("VALUE").IsNull());
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(CaptureError([&] { rs->Value(0); }).Number(), Code(ErrorCode::kNoCurrentRecord));
  EXPECT_EQ(CaptureError([&] { rs->Value("DESCR"); }).Number(), Code(ErrorCode::kFieldNotFound));
}

TEST(RecordSetTest, LateBoundFieldsByNamePositionAndEnumeration) {
  ObjectRef rs = Codes();
  ObjectRef fields = CObj(GetProperty(rs, "Fields"));
  EXPECT_EQ(CLng(GetProperty(fields, "Count")), 2);
  EXPECT_EQ(CStr(GetProperty(CObj(GetProperty(fields, "Item", "VALUE")), "Value")), "Primo");
  EXPECT_EQ(CStr(Variant(CObj(GetProperty(fields, "Item", 0)))), "A1");  // Value is the default
  std::string names;
  for (const Variant& f : Enumerate(Variant(fields))) names += CStr(GetProperty(CObj(f), "Name"));
  EXPECT_EQ(names, "CODVALUE");
  EXPECT_FALSE(CBool(GetProperty(rs, "EOF")));
}

TEST(RecordSetTest, AClosedRecordSetRefusesEverything) {
  auto rs = Codes();
  ObjectRef fields = rs->Fields();
  rs->Close();
  const auto closed = Code(ErrorCode::kRecordSetClosed);
  EXPECT_EQ(CaptureError([&] { rs->Eof(); }).Number(), closed);
  EXPECT_EQ(CaptureError([&] { rs->Value("COD"); }).Number(), closed);
  EXPECT_EQ(CaptureError([&] { rs->Close(); }).Number(), closed);
  EXPECT_EQ(CaptureError([&] { GetProperty(fields, "Count"); }).Number(), closed);
}

}  // namespace
}  // namespace kvt
