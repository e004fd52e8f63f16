// Clerks in one process, each with a session of their own: a desktop (the platform the
// component reaches while it works for them), a workspace and a person. Their messages
// interleave one by one, or run on threads of their own; nothing of one is seen in another,
// and nothing reaches the process's platform.
#include <gmock/gmock.h>

#include <thread>

#include "archives/sample_archive.h"
#include "common/document_entry.h"
#include "common/document_session.h"
#include "common/entry_session.h"
#include "common/open_engine.h"
#include "common/workspace.h"
#include "host/headless/desktop.h"
#include "runtime/platform.h"
#include "temp_dir.h"

namespace kvtapp {
namespace {

namespace sample = kvtarchive::sample;

struct Clerk {
  explicit Clerk(const std::string& file) {
    std::weak_ptr<kvt::Platform> session = desktop;
    w = std::make_unique<Workspace>(
        [session](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
          return std::make_unique<kvthost::User>(std::move(f), session);
        },
        desktop);
    w->Open(file, true);
    w->Build(sample::kArchive, sample::kEntryForm);
    w->Host().Settings().SaveSetting("Settings", "keyreturn", kvt::Variant(1));  // Enter tabs
  }
  kvthost::IPerson& Person() { return w->Person(); }
  std::string Text(const std::string& control) {
    return w->Window().FindControl(control)->Describe();
  }
  std::vector<std::string> Suggestions(const std::string& control) {
    auto box = std::dynamic_pointer_cast<kvthost::TextBoxBase>(w->Window().FindControl(control));
    return box ? box->Suggestions() : std::vector<std::string>{};
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (const auto& m : desktop->Messages()) out.push_back(m.prompt);
    desktop->ClearMessages();
    return out;
  }

  std::shared_ptr<kvthost::Desktop> desktop = kvthost::Desktop::Create();
  std::unique_ptr<Workspace> w;
};

class TwoSessions : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(process_->Messages().empty()) << process_->Messages().front().prompt;
    EXPECT_EQ(process_->TabsSent(), 0);
  }
  kvt::testing::TempDir dir_;
  std::shared_ptr<kvt::RecordingPlatform> process_ = std::make_shared<kvt::RecordingPlatform>();
  kvt::ScopedPlatform installed_{process_};
};

// A recompute that cannot give a whole number: the component shows a message box.
constexpr const char* kBrokenTotal =
    "function aggiorna() return { 'Totale' } end\nfunction calcola() return 0/0 end";

TEST_F(TwoSessions, KeysFocusTabsAndMessagesStayInTheirOwnSession) {
  const std::string file = dir_.File("office.kvtdb");
  {
    Clerk first(file);  // makes the archive
    first.w->Engine().PutScript(sample::kArchive, kBrokenTotal);
  }
  Clerk a(file), b(file);
  ASSERT_TRUE(a.Person().Focus("Cliente"));
  ASSERT_TRUE(b.Person().Focus("NumeroDocumento"));
  a.Person().Type("ro");
  b.Person().Type("12");
  a.Person().Type("ssi");
  b.Person().Type("34");
  // Enter moves on by a Tab the component sends to the active window: B's, not A's.
  b.Person().PressKey(kvthost::kKeyReturn, 0);
  EXPECT_EQ(a.Person().Focused(), "Cliente");
  EXPECT_EQ(b.Person().Focused(), "DataDocumento");
  EXPECT_EQ(a.Text("Cliente"), "rossi");
  EXPECT_EQ(b.Text("Cliente"), "");
  EXPECT_EQ(b.Text("NumeroDocumento"), "1234");
  EXPECT_EQ(a.Text("NumeroDocumento"), "");
  // The component's message box for a broken total (any change recomputes it) lands in the
  // session whose change it was.
  a.Messages();
  b.Messages();
  auto quantity_in = [](Clerk& typing, Clerk& other, const char* quantity) {
    ASSERT_TRUE(typing.Person().Focus("Quantita"));
    typing.Person().Type(quantity);
    typing.Person().Tab();
    const auto shown = typing.Messages();
    EXPECT_FALSE(shown.empty());
    EXPECT_THAT(shown, ::testing::Each(::testing::HasSubstr("Unable to find Totale")));
    EXPECT_THAT(other.Messages(), ::testing::IsEmpty());
  };
  quantity_in(a, b, "2");
  quantity_in(b, a, "3");
  EXPECT_EQ(a.Text("Quantita"), "2");
  EXPECT_EQ(b.Text("Quantita"), "3");
}

TEST_F(TwoSessions, AnImportInOneLeavesTheOtherSuggestionsOn) {
  const std::string file = dir_.File("office.kvtdb");
  Clerk a(file), b(file);
  const auto stored = EnterDocument(
      *a.w,
      {{"NumeroDocumento", "1001"},
       {"DataDocumento", "06/12/2026"},
       {"TipoDocumento", "FAT"},
       {"Cliente", "ACME S.p.A."}},
      [&] { return a.Messages(); }, true, false);
  ASSERT_NE(stored.stored, 0);
  ASSERT_TRUE(b.Person().Focus("Cliente"));
  const std::vector<std::string> header{"NumeroDocumento", "DataDocumento", "TipoDocumento",
                                        "Cliente"};
  int rows = 0;
  std::vector<std::string> offered;
  bool a_attended = true, b_attended = false;
  ImportResult result;
  ImportRows(
      *a.w, header,
      [&](std::vector<std::string>& row) {
        if (rows == 3) return false;
        // B types a letter between two of A's rows.
        b.Person().Type(std::string(1, "acm"[rows]));
        offered.push_back(b.Suggestions("Cliente").size() == 1 ? b.Suggestions("Cliente")[0] : "");
        a_attended = a.desktop->Attended();
        b_attended = b.desktop->Attended();
        row = {std::to_string(2000 + rows++), "06/12/2026", "FAT", "ACME S.p.A."};
        return true;
      },
      [&] { return a.Messages(); }, ImportOptions{}, nullptr, nullptr, result);
  EXPECT_EQ(result.committed, 3u);
  EXPECT_FALSE(a_attended);
  EXPECT_TRUE(b_attended);
  EXPECT_EQ(offered, std::vector<std::string>(3, "ACME S.P.A."));
  EXPECT_TRUE(a.desktop->Attended());  // back when the import ends
  EXPECT_TRUE(b.Messages().empty());
}

// A hundred clerks on one engine, each in an entry session of its own, typing an invoice a
// key at a time in turn and saving: each stores its own document, sees its own unsaved mark
// and its own questions, and nothing of another's.
TEST_F(TwoSessions, AHundredEntrySessionsSideBySideKeepTheirOwnWork) {
  constexpr int kClerks = 100;
  const std::string file = dir_.File("office.kvtdb");
  { Clerk maker(file); }  // makes the archive
  const auto engine = OpenEngine(file, false);
  std::vector<std::shared_ptr<kvthost::Desktop>> desktops;
  std::vector<std::unique_ptr<EntrySession>> clerks;
  for (int c = 0; c < kClerks; ++c) {
    desktops.push_back(kvthost::Desktop::Create());
    std::weak_ptr<kvt::Platform> session = desktops.back();
    clerks.push_back(std::make_unique<EntrySession>(
        [session](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
          return std::make_unique<kvthost::User>(std::move(f), session);
        },
        desktops.back()));
    clerks.back()->Open(engine, sample::kArchive, sample::kEntryForm);
    clerks.back()->Start();
  }
  auto person = [&](int c) -> kvthost::IPerson& { return clerks[c]->Work()->Person(); };
  const std::string number = "3000";
  for (std::size_t k = 0; k < number.size(); ++k) {
    for (int c = 0; c < kClerks; ++c) {
      person(c).Type(k + 1 < number.size() ? number.substr(k, 1) : std::to_string(c % 10));
    }
  }
  for (int c = 0; c < kClerks; c += 2) {  // half of them go on and save
    ASSERT_TRUE(person(c).Focus("DataDocumento"));
    person(c).PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 7)));
    ASSERT_TRUE(person(c).Focus("TipoDocumento"));
    person(c).Choose("FAT");
    ASSERT_TRUE(person(c).Focus("Cliente"));
    person(c).Type("cliente " + std::to_string(c));
  }
  for (int c = 0; c < kClerks; ++c) {
    EXPECT_TRUE(clerks[c]->ModifiedMark()) << c;
    const Reply r = clerks[c]->Save();
    if (c % 2 == 0) {
      // Every tenth typed the same number: a probable duplicate, asked of that clerk alone.
      if (r.question) {
        EXPECT_EQ(r.question->id, "doppione") << c;
        EXPECT_TRUE(clerks[c]->Answer(kvt::kMsgBoxAnswerOk).done) << c;
      } else {
        EXPECT_TRUE(r.done) << c;
      }
      EXPECT_FALSE(clerks[c]->ModifiedMark()) << c;
      EXPECT_EQ(
          kvt::JoinText(kvt::GetProperty(engine->LoadDocument(clerks[c]->Id()), "Item", "Cliente")),
          "CLIENTE " + std::to_string(c));
    } else {
      EXPECT_FALSE(r.done) << c;
      ASSERT_TRUE(r.notice) << c;
      EXPECT_THAT(r.notice->text, ::testing::HasSubstr("Data documento")) << c;
      EXPECT_TRUE(clerks[c]->ModifiedMark()) << c;
    }
    EXPECT_FALSE(clerks[c]->Asking()) << c;
    EXPECT_TRUE(desktops[c]->Messages().empty()) << c;
  }
  EXPECT_EQ(engine->DocumentCount(sample::kArchive), kClerks / 2);
}

// Sessions on threads of their own, each storing documents into its own file at once: each
// finds its own documents stored and its own messages, none of another's.
TEST_F(TwoSessions, SessionsOnThreadsOfTheirOwnEachKeepTheirWork) {
  constexpr int kClerks = 4, kEach = 15;
  std::vector<std::string> errors(kClerks);
  std::vector<std::thread> threads;
  for (int c = 0; c < kClerks; ++c) {
    threads.emplace_back([&, c] {
      try {
        Clerk clerk(dir_.File("clerk" + std::to_string(c) + ".kvtdb"));
        for (int i = 0; i < kEach; ++i) {
          const auto out = EnterDocument(
              *clerk.w,
              {{"NumeroDocumento", std::to_string(10000 + c * 1000 + i)},
               {"DataDocumento", "06/12/2026"},
               {"TipoDocumento", "FAT"},
               {"Cliente", "Cliente " + std::to_string(c)}},
              [&] { return clerk.Messages(); }, true, false);
          if (out.stored == 0) throw std::runtime_error("document " + std::to_string(i));
          clerk.w->Rebuild();
        }
        if (clerk.w->Engine().DocumentCount(sample::kArchive) != kEach) {
          throw std::runtime_error("a document is missing");
        }
        // The component's message box is this clerk's alone.
        clerk.w->Engine().PutScript(sample::kArchive, kBrokenTotal);
        clerk.w->Build(sample::kArchive, sample::kEntryForm);
        clerk.Person().Focus("Quantita");
        clerk.Person().Type("2");
        clerk.Person().Tab();
        if (clerk.Messages().empty()) throw std::runtime_error("no message of its own");
      } catch (const std::exception& e) {
        errors[c] = e.what();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(errors, std::vector<std::string>(kClerks));
}

}  // namespace
}  // namespace kvtapp
