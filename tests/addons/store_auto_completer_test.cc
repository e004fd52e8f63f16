#include "addons/autocomplete/store_auto_completer.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "host/headless/desktop.h"
#include "test_support.h"

namespace kvtaddons {
namespace {

using kvt::Variant;
using kvt::testing::CaptureError;

// An engine's store in memory: uses per (table, key, value), the order the contract names.
class MemoryStore final : public kvt::Object, public kvtfields::IAutoCompleteStore {
  KVT_OBJECT()

 public:
  void Learn(const std::string& table, const std::string& key, const std::string& value) override {
    auto& [uses, last] = values_[{table, key, value}];
    ++uses;
    last = ++clock_;
  }
  std::vector<std::string> LookUp(const std::string& table, const std::string& key,
                                  const std::function<bool(std::string_view)>& wanted,
                                  std::size_t limit) override {
    std::vector<std::tuple<int, int, std::string>> found;
    for (const auto& [k, v] : values_) {
      if (std::get<0>(k) == table && std::get<1>(k) == key) {
        found.emplace_back(-v.first, -v.second, std::get<2>(k));
      }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    for (const auto& f : found) {
      if (out.size() < limit && wanted(std::get<2>(f))) out.push_back(std::get<2>(f));
    }
    return out;
  }
  void Forget(const std::string& table, const std::string& key, const std::string& value) override {
    values_.erase({table, key, value});
  }

 private:
  std::map<std::tuple<std::string, std::string, std::string>, std::pair<int, int>> values_;
  int clock_ = 0;
};

const kvt::ClassInfo& MemoryStore::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<MemoryStore>("MemoryStore").Build();
  return info;
}

class AutoCompleterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = kvthost::Desktop::Install();
    box_ = std::dynamic_pointer_cast<kvthost::MultiLineTextBox>(
        kvt::CObj(kvt::CallMethod(form_->Controls(), "Add", kvtfields::kTextBoxClass, "Cliente")));
    kvt::CallMethod(form_->Controls(), "Add", kvtfields::kTextBoxClass, "Altro");
    kvt::ObjectRef control = box_;
    connection_ = Variant(kvt::ObjectRef(store_));
    completer_->Attach(connection_, "SYS_AUTOCOMPLETE", "Fatture-Cliente", control);
  }
  void TearDown() override { desktop_->Uninstall(); }

  // Learns `value` `times` times, as after that many saved documents.
  void Learn(const std::string& value, int times) {
    for (int i = 0; i < times; ++i) completer_->NotifySaved(value);
  }

  std::shared_ptr<MemoryStore> store_ = std::make_shared<MemoryStore>();
  std::shared_ptr<kvthost::Desktop> desktop_;
  std::shared_ptr<kvthost::Form> form_ = kvthost::Form::Create("frm");
  kvthost::User user_{form_};
  std::shared_ptr<kvthost::MultiLineTextBox> box_;
  Variant connection_;
  std::shared_ptr<AutoCompleter> completer_ = std::make_shared<AutoCompleter>();
};

TEST_F(AutoCompleterTest, OffersKnownValuesThatStartWithTheTypedTextMostUsedFirst) {
  Learn("ACME S.p.A.", 1);
  Learn("Acciaierie Riunite", 3);
  Learn("Beta Srl", 5);
  user_.Focus("Cliente");
  user_.Type("ac");
  EXPECT_EQ(box_->Suggestions(), (std::vector<std::string>{"Acciaierie Riunite", "ACME S.p.A."}));
  user_.Type("m");
  EXPECT_EQ(box_->Suggestions(), (std::vector<std::string>{"ACME S.p.A."}));
  user_.AcceptSuggestion(0);
  EXPECT_EQ(box_->Text(), "ACME S.p.A.");
  EXPECT_TRUE(box_->Suggestions().empty());
  // Leaving the box takes its list away.
  user_.Clear();
  user_.Type("ac");
  ASSERT_FALSE(box_->Suggestions().empty());
  user_.Focus("Altro");
  EXPECT_TRUE(box_->Suggestions().empty());
}

TEST_F(AutoCompleterTest, MatchCaseNarrowsTheOffer) {
  Learn("ACME", 1);
  completer_->LetMatchCase(true);
  EXPECT_TRUE(completer_->Suggestions("ac").empty());
  EXPECT_EQ(completer_->Suggestions("AC").size(), 1u);
}

TEST_F(AutoCompleterTest, NotifySavedWithNothingLearnsTheBoxText) {
  box_->LetText("Gamma & Figli");
  completer_->NotifySaved("");
  box_->LetText("");
  completer_->NotifySaved("");  // an empty box teaches nothing
  EXPECT_EQ(completer_->Suggestions(""), std::vector<std::string>{"Gamma & Figli"});
  completer_->LetLearnNewValues(false);
  completer_->NotifySaved("Delta");
  EXPECT_EQ(completer_->Suggestions("D").size(), 0u);
}

TEST_F(AutoCompleterTest, ProgramWritesAndOtherKeysOfferNothing) {
  Learn("ACME", 1);
  box_->LetText("A");  // not typed by the person: no list appears
  EXPECT_TRUE(box_->Suggestions().empty());
  kvt::Variant other_conn = connection_;
  kvt::ObjectRef other_box = form_->FindControl("Altro");
  AutoCompleter other;
  other.Attach(other_conn, "SYS_AUTOCOMPLETE", "Fatture-Altro", other_box);
  EXPECT_TRUE(other.Suggestions("A").empty());  // values are kept per key
}

// A store that answers later, when told to: as one looking up in the background.
class LaterStore final : public kvt::Object, public kvtfields::IAutoCompleteStore {
  KVT_OBJECT()

 public:
  explicit LaterStore(std::shared_ptr<MemoryStore> values) : values_(std::move(values)) {}
  void Learn(const std::string& t, const std::string& k, const std::string& v) override {
    values_->Learn(t, k, v);
  }
  std::vector<std::string> LookUp(const std::string& t, const std::string& k,
                                  const std::function<bool(std::string_view)>& wanted,
                                  std::size_t limit) override {
    return values_->LookUp(t, k, wanted, limit);
  }
  void Forget(const std::string& t, const std::string& k, const std::string& v) override {
    values_->Forget(t, k, v);
  }
  void StartingWithLater(const std::string& t, const std::string& k, const std::string& prefix,
                         bool match_case, std::size_t limit,
                         std::function<void(std::vector<std::string>)> done) override {
    pending.emplace_back(StartingWith(t, k, prefix, match_case, limit), std::move(done));
  }
  // Answers question `i` (in the order asked).
  void Answer(std::size_t i) { pending[i].second(pending[i].first); }
  std::vector<std::pair<std::vector<std::string>, std::function<void(std::vector<std::string>)>>>
      pending;

 private:
  std::shared_ptr<MemoryStore> values_;
};

const kvt::ClassInfo& LaterStore::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<LaterStore>("LaterStore").Build();
  return info;
}

TEST_F(AutoCompleterTest, ALateAnswerIsShownOnlyForTheTextStillInTheBox) {
  Learn("ACME", 2);
  Learn("Acciaierie", 1);
  Learn("Alfa", 1);
  auto later = std::make_shared<LaterStore>(store_);
  auto completer = std::make_shared<AutoCompleter>();
  kvt::ObjectRef control = box_;
  completer_->Detach();
  completer->Attach(Variant(kvt::ObjectRef(later)), "SYS_AUTOCOMPLETE", "Fatture-Cliente", control);
  user_.Focus("Cliente");
  user_.Type("a");
  user_.Type("c");
  ASSERT_EQ(later->pending.size(), 2u);
  EXPECT_TRUE(box_->Suggestions().empty());  // the keystrokes did not wait
  later->Answer(1);
  EXPECT_EQ(box_->Suggestions(), (std::vector<std::string>{"ACME", "Acciaierie"}));
  later->Answer(0);  // the answer for "a", overtaken: dropped
  EXPECT_EQ(box_->Suggestions(), (std::vector<std::string>{"ACME", "Acciaierie"}));
  user_.Type("m");
  box_->LetText("acme");  // changed before the answer came
  later->Answer(2);
  EXPECT_EQ(box_->Suggestions(), (std::vector<std::string>{"ACME", "Acciaierie"}));
  user_.Type("x");
  user_.Focus("Altro");
  later->Answer(later->pending.size() - 1);  // the person has left: nothing offered there
  EXPECT_TRUE(box_->Suggestions().empty());
  user_.Focus("Cliente");
  user_.Type("y");
  completer->Detach();
  later->pending.back().second({"stale"});  // answered after the box was let go
  EXPECT_NE(box_->Suggestions(), std::vector<std::string>{"stale"});
}

TEST_F(AutoCompleterTest, AttachRefusesWhatItCannotUse) {
  AutoCompleter fresh;
  kvt::ObjectRef control = box_;
  Variant not_a_connection("database");
  EXPECT_EQ(CaptureError([&] {
              fresh.Attach(not_a_connection, "SYS_AUTOCOMPLETE", "k", control);
            }).Number(),
            13u);
  EXPECT_EQ(CaptureError([&] {
              fresh.Attach(connection_, "x; DROP TABLE scripts", "k", control);
            }).Number(),
            5u);
  kvt::ObjectRef label = kvt::CObj(kvt::CallMethod(form_->Controls(), "Add", "VB.Label", "L"));
  EXPECT_EQ(
      CaptureError([&] { fresh.Attach(connection_, "SYS_AUTOCOMPLETE", "k", label); }).Number(),
      13u);
  EXPECT_EQ(CaptureError([&] { fresh.Suggestions("a"); }).Number(), 91u);
}

}  // namespace
}  // namespace kvtaddons
