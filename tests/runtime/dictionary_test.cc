#include "runtime/dictionary.h"

#include "test_support.h"

namespace kvt {
namespace {

using testing::CaptureError;
using testing::Code;

TEST(DictionaryTest, KeysAreExactAndKeepInsertionOrder) {
  auto d = Dictionary::Create();
  d->Add("b", 1);
  d->Add("a", 2);
  d->Add("A", 3);
  EXPECT_EQ(d->Count(), 3);
  const auto keys = d->Keys();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(CStr(keys[0]), "b");
  EXPECT_EQ(CStr(keys[2]), "A");
  EXPECT_EQ(CLng(d->Item("A")), 3);
}

TEST(DictionaryTest, ALookupThatMissesAddsNothing) {
  auto d = Dictionary::Create();
  d->Add("x", 1);
  EXPECT_TRUE(d->Item("X").IsEmpty());
  EXPECT_FALSE(d->Exists("X"));
  EXPECT_EQ(d->Count(), 1);
  ObjectRef o = d;
  EXPECT_TRUE(GetProperty(o, "Item", "missing").IsEmpty());
  EXPECT_EQ(CLng(GetProperty(o, "Count")), 1);
}

TEST(DictionaryTest, DuplicatesAndMissingKeysRaise) {
  auto d = Dictionary::Create();
  d->Add("k", 1);
  EXPECT_EQ(CaptureError([&] { d->Add("k", 2); }).Number(), Code(ErrorCode::kDuplicateKey));
  EXPECT_EQ(CLng(d->Item("k")), 1);
  EXPECT_EQ(CaptureError([&] { d->Remove("nope"); }).Number(), Code(ErrorCode::kElementNotFound));
}

TEST(DictionaryTest, RemoveKeepsTheOrderOfTheRest) {
  auto d = Dictionary::Create();
  for (const char* k : {"a", "b", "c", "d"}) d->Add(k, k);
  d->Remove("b");
  d->Add("e", "e");
  std::string order;
  for (const auto& [k, v] : d->Entries()) order += k;
  EXPECT_EQ(order, "acde");
  EXPECT_EQ(CStr(d->Item("d")), "d");  // the index still finds entries moved by the removal
  d->RemoveAll();
  EXPECT_EQ(d->Count(), 0);
}

TEST(DictionaryTest, LateBoundFace) {
  ObjectRef o = Dictionary::Create();
  CallMethod(o, "Add", "Totale", 3);
  LetProperty(o, "Item", 4, "Totale");  // replaces
  LetProperty(o, "Item", 5, "Nuovo");   // adds
  std::array<Variant, 1> key{Variant("Totale")};
  EXPECT_EQ(CLng(Invoke(o, kDefaultMember, MemberKind::kGet, key)), 4);
  EXPECT_TRUE(CBool(CallMethod(o, "Exists", "Nuovo")));
  EXPECT_EQ(Enumerate(Variant(o)).size(), 2u);  // For Each walks the keys
  EXPECT_EQ(CallMethod(o, "Items").AsArray().size(), 2u);
}

}  // namespace
}  // namespace kvt
