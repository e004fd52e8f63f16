#include "runtime/object.h"

#include <optional>

#include "runtime/class_builder.h"
#include "runtime/weak_ref.h"
#include "test_support.h"

namespace kvt {
namespace {

using testing::CaptureError;
using testing::Code;
using testing::ErrorIs;

// A small automation class with one member of each shape the builder supports.
class Gadget : public Object {
  KVT_OBJECT()

 public:
  std::int32_t Level() const { return level_; }
  void LetLevel(std::int32_t v) { level_ = v; }
  ObjectRef Child() const { return child_; }
  void SetChild(ObjectRef c) { child_ = std::move(c); }
  std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b; }
  void Double(std::string& text) { text += text; }
  void Swap(Variant& a, Variant& b) { std::swap(a, b); }
  std::string Greet(std::optional<std::string> name) { return "ciao " + name.value_or("tutti"); }
  // An indexed property whose index may be left out: the value always comes last.
  std::int32_t Slot(std::optional<std::int32_t> index) const { return slots_[index.value_or(0)]; }
  void LetSlot(std::optional<std::int32_t> index, std::int32_t v) { slots_[index.value_or(0)] = v; }
  std::int32_t Size() const noexcept { return 3; }

 private:
  std::int32_t level_ = 0;
  ObjectRef child_;
  std::array<std::int32_t, 3> slots_{};
};

const ClassInfo& Gadget::StaticClass() {
  static const ClassInfo info = ClassBuilder<Gadget>("Gadget")
                                    .Get<&Gadget::Level>("Level")
                                    .Default()
                                    .Let<&Gadget::LetLevel>("Level")
                                    .Get<&Gadget::Child>("Child")
                                    .Set<&Gadget::SetChild>("Child")
                                    .Method<&Gadget::Add>("Add")
                                    .Params({"A", "B"})
                                    .Method<&Gadget::Double>("Double")
                                    .Params({"Text"})
                                    .Method<&Gadget::Swap>("Swap")
                                    .Method<&Gadget::Greet>("Greet")
                                    .Params({"Name"})
                                    .Property<&Gadget::Slot, &Gadget::LetSlot>("Slot")
                                    .Params({"Index"})
                                    .Get<&Gadget::Size>("size")
                                    .Build();
  return info;
}

class ObjectTest : public ::testing::Test {
 protected:
  std::shared_ptr<Gadget> gadget_ = std::make_shared<Gadget>();
  ObjectRef obj_ = gadget_;
};

TEST_F(ObjectTest, NamesAreMatchedWithoutLetterCase) {
  EXPECT_EQ(CLng(CallMethod(obj_, "aDD", 2, 3)), 5);
  LetProperty(obj_, "LEVEL", 7);
  EXPECT_EQ(gadget_->Level(), 7);
}

TEST_F(ObjectTest, MemberIdReachesTheSameMemberAsTheName) {
  const DispId id = Gadget::StaticClass().IdOf("add");
  ASSERT_NE(id, kNoMember);
  std::array<Variant, 2> args{Variant(4), Variant(5)};
  EXPECT_EQ(CLng(Invoke(obj_, id, MemberKind::kMethod, args)), 9);
  LetProperty(obj_, kDefaultMember, Variant(3));
  EXPECT_EQ(CLng(GetDefaultValue(obj_)), 3);
  EXPECT_EQ(CStr(Variant(obj_)), "3");  // an object's text is its default member's
}

TEST_F(ObjectTest, ReferenceArgumentsAreWrittenBack) {
  std::array<Variant, 1> text{Variant("ab")};
  Invoke(obj_, "Double", MemberKind::kMethod, text);
  EXPECT_EQ(CStr(text[0]), "abab");
  std::array<Variant, 2> pair{Variant(1), Variant("x")};
  Invoke(obj_, "Swap", MemberKind::kMethod, pair);
  EXPECT_EQ(CStr(pair[0]), "x");
  EXPECT_EQ(CLng(pair[1]), 1);
}

TEST_F(ObjectTest, OptionalArgumentsMayBeLeftOut) {
  EXPECT_EQ(CStr(CallMethod(obj_, "Greet")), "ciao tutti");
  EXPECT_EQ(CStr(CallMethod(obj_, "Greet", "Ada")), "ciao Ada");
  EXPECT_EQ(CaptureError([&] { CallMethod(obj_, "Add", 1); }).Number(),
            Code(ErrorCode::kArgumentNotOptional));
  EXPECT_EQ(CaptureError([&] { CallMethod(obj_, "Add", 1, 2, 3); }).Number(),
            Code(ErrorCode::kWrongArgumentCount));
}

TEST_F(ObjectTest, ALetTakesItsValueLastWhateverIndexesCome) {
  LetProperty(obj_, "Slot", 7);     // no index: slot 0
  LetProperty(obj_, "Slot", 9, 2);  // index 2, value 9
  EXPECT_EQ(gadget_->Slot(0), 7);
  EXPECT_EQ(gadget_->Slot(2), 9);
  EXPECT_EQ(CLng(GetProperty(obj_, "Slot", 2)), 9);
  EXPECT_EQ(CaptureError([&] { Invoke(obj_, "Slot", MemberKind::kLet, {}); }).Number(),
            Code(ErrorCode::kArgumentNotOptional));
}

TEST_F(ObjectTest, MisuseRaisesTheClassicErrors) {
  EXPECT_THAT(CaptureError([&] { CallMethod(obj_, "Frobnicate"); }),
              ErrorIs(ErrorCode::kNotSupported, "Gadget.'Frobnicate'"));
  EXPECT_EQ(CaptureError([] { CallMethod(ObjectRef(), "Add", 1, 2); }).Number(),
            Code(ErrorCode::kObjectNotSet));
  EXPECT_EQ(CaptureError([] { TargetOf(Variant(1)); }).Number(), Code(ErrorCode::kObjectRequired));
  EXPECT_EQ(CaptureError([&] { CallMethod(obj_, "Add", "uno", 2); }).Number(),
            Code(ErrorCode::kTypeMismatch));
  // A read-only member has no let.
  EXPECT_EQ(CaptureError([&] { LetProperty(obj_, "Add", 1); }).Number(),
            Code(ErrorCode::kNotSupported));
}

TEST_F(ObjectTest, AnObjectValueFallsBackFromLetToSet) {
  auto child = std::make_shared<Gadget>();
  LetProperty(obj_, "Child", Variant(ObjectRef(child)));
  EXPECT_EQ(gadget_->Child(), child);
  SetProperty(obj_, "child", ObjectRef());
  EXPECT_EQ(gadget_->Child(), nullptr);
}

TEST(ClassInfo, KeepsSlotOrderAndDescribesParameters) {
  const auto& members = Gadget::StaticClass().Members();
  ASSERT_EQ(members.size(), 11u);
  EXPECT_EQ(members[0].name, "Level");
  EXPECT_EQ(members[0].id, kDefaultMember);
  EXPECT_EQ(members[1].kind, MemberKind::kLet);
  EXPECT_EQ(members[1].id, kDefaultMember);  // get and let share the id
  const MemberInfo& dbl = members[5];
  EXPECT_EQ(dbl.name, "Double");
  EXPECT_TRUE(dbl.params[0].by_ref);
  EXPECT_EQ(dbl.params[0].type, "String");
  const MemberInfo& greet = members[7];
  EXPECT_TRUE(greet.params[0].optional);
  EXPECT_EQ(greet.min_args, 0u);
  EXPECT_EQ(greet.result_type, "String");
  // A property declared once: get and let, one id, the index named on both, the value "vdata".
  const MemberInfo &slot_get = members[8], &slot_let = members[9];
  EXPECT_EQ(slot_get.kind, MemberKind::kGet);
  EXPECT_EQ(slot_let.kind, MemberKind::kLet);
  EXPECT_EQ(slot_get.id, slot_let.id);
  EXPECT_EQ(slot_get.params[0].name, "Index");
  ASSERT_EQ(slot_let.params.size(), 2u);
  EXPECT_EQ(slot_let.params[0].name, "Index");
  EXPECT_EQ(slot_let.params[1].name, "vdata");
  // A noexcept member is a member like any other, found by any letter case.
  ObjectRef g = std::make_shared<Gadget>();
  EXPECT_EQ(CLng(GetProperty(g, "SIZE")), 3);
}

TEST(WeakRefTest, ResolvesUntilTheObjectIsGone) {
  WeakRef<Gadget> never;
  EXPECT_FALSE(never.IsSet());
  auto g = std::make_shared<Gadget>();
  WeakRef<Gadget> ref(g);
  EXPECT_EQ(ref.Resolve(), g);
  g.reset();
  EXPECT_TRUE(ref.IsSet());  // an address was stored, though its object is gone
  EXPECT_EQ(ref.Resolve(), nullptr);
  EXPECT_EQ(CaptureError([&] { ref.Get(); }).Number(), Code(ErrorCode::kObjectNotSet));
}

}  // namespace
}  // namespace kvt
