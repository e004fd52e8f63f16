// The kvtfields program: a data-entry session on the sample archive, a form's text picture,
// and entering one document from the command line, all on the headless window system.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <QGuiApplication>

#include "archives/archive_file.h"
#include "archives/sample_archive.h"
#include "common/archive_bag.h"
#include "common/copy_database.h"
#include "common/csv.h"
#include "common/demo_session.h"
#include "common/document_entry.h"
#include "common/document_export.h"
#include "common/document_files.h"
#include "common/document_session.h"
#include "common/entry_session.h"
#include "common/open_engine.h"
#include "common/output_file.h"
#include "common/problem.h"
#include "common/workspace.h"
#include "engine/common/engine_error.h"
#include "engine/postgresql/pg_engine.h"
#include "host/headless/desktop.h"
#include "kvtfields/kvtfields.h"
#include "print/document_print.h"
#include "reading/intake.h"
#include "reading/page_reading.h"
#include "runtime/dictionary.h"
#include "runtime/error.h"
#include "runtime/record_set.h"
#include "runtime/text.h"

namespace {

const std::string kVersion = std::string("kvtfields ") + kvtfields::FileVersion();
constexpr const char* kDefaultDemoDb = "kvtfields-demo.kvtdb";

// A command line error: one line, exit 2.
struct UsageError {
  std::string message;
};

// A whole number from `min` to `max`, said plainly when it is not one (CLI11's own message
// quotes a range of doubles, and a negative number reaches an unsigned option wrapped).
CLI::Validator Whole(long long min, long long max = 2147483647) {
  return CLI::Validator(
      [min, max](std::string& text) -> std::string {
        long long n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && end == text.data() + text.size() && n >= min && n <= max)
          return {};
        return "'" + text + "' is not a whole number from " + std::to_string(min) + " to " +
               std::to_string(max);
      },
      "");
}

// What the command line said; each command reads the options it declares.
struct Options {
  std::string db, archive, form, file, out, report;
  std::vector<std::pair<std::string, std::string>> sets;
  std::string format = "csv";
  std::string separator = ";";
  bool replace = false;
  bool dry_run = false;
  bool raw = false;                      // CSV cells as they are, without the spreadsheet mark
  bool atomic = false;                   // an import in one transaction
  bool allow_duplicates = false;         // store documents whose index fields equal a stored one's
  std::int32_t id = 0;                   // a stored document
  std::int32_t version = 0;              // a version of it (0: whichever is stored)
  std::vector<std::string> where;        // search criteria as written
  std::string text;                      // words on the pages of the documents' files
  int workers = 0;                       // files read at once (0: one per core)
  bool words_only = false;               // reindex: the searched words only, from what was read
  std::int32_t limit = 50;               // a page of found documents
  std::int32_t after = 0;                // the last id of the page before
  std::size_t skip = 0;                  // data rows of an import already stored by an earlier run
  std::size_t batch = 2000;              // data rows of an import to a transaction
  std::string field;                     // a file-link field
  std::string files_from;                // an import's folder of files named by file-link cells
  std::string from;                      // what intake takes in: a file or a folder of them
  std::string split = "pagine-bianche";  // how intake makes documents of a stack
  std::string separator_code;     // the barcode a separator sheet holds ("": the archive's setting)
  std::string setting_separator;  // archive settings --separatore
  bool ledger = false;            // intake: print the ledger instead
  bool watch = false;             // intake: take in what comes into the folder
  std::int64_t leave = 0;         // intake: the taken item to put back in the queue
};

// The headless window system for the life of a command.
class Headless {
 public:
  Headless() : desktop_(kvthost::Desktop::Install()) {}
  /// The message boxes shown since it was last asked; asking forgets them.
  std::function<std::vector<std::string>()> TakeMessages() const {
    return [desktop = desktop_] {
      std::vector<std::string> out;
      for (const auto& m : desktop->Messages()) out.push_back(m.prompt);
      desktop->ClearMessages();
      return out;
    };
  }
  ~Headless() { desktop_->Uninstall(); }
  Headless(const Headless&) = delete;
  Headless& operator=(const Headless&) = delete;
  kvtapp::Workspace::PersonOn PersonOn() const {
    return [](std::shared_ptr<kvthost::Form> form) -> std::unique_ptr<kvthost::IPerson> {
      return std::make_unique<kvthost::User>(std::move(form));
    };
  }

 private:
  std::shared_ptr<kvthost::Desktop> desktop_;
};

void Step(kvtapp::Workspace& w, const std::string& title) {
  std::printf("\n== %s\n%s", title.c_str(), w.Picture().c_str());
  std::fflush(stdout);
}

// A form the archive does not have is refused, not built with made-up layouts.
void CheckNamedForm(kvtengine::ArchiveEngine& engine, const Options& o) {
  if (engine.HasArchive(o.archive)) {
    const auto forms = engine.ListForms(o.archive);
    if (std::find(forms.begin(), forms.end(), o.form) == forms.end()) {
      std::string known;
      for (const auto& f : forms) known += (known.empty() ? "" : ", ") + f;
      throw kvt::Error(2, "kvtfields",
                       "the archive '" + o.archive + "' has no form '" + o.form + "' (" +
                           (known.empty() ? "it has no forms" : "its forms: " + known) + ")");
    }
  }
}

// Builds the form a command names.
void BuildNamedForm(kvtapp::Workspace& w, const Options& o) {
  CheckNamedForm(w.Engine(), o);
  w.Build(o.archive, o.form);
}

// A clerk's session on the form a command names, as the desk has one: `enter`, `correct` and
// `documents import` work through it.
std::unique_ptr<kvtapp::EntrySession> OpenNamedForm(const Headless& host, const Options& o) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  CheckNamedForm(*engine, o);
  auto e = std::make_unique<kvtapp::EntrySession>(host.PersonOn());
  e->Open(std::move(engine), o.archive, o.form);
  return e;
}

int Demo(const Options& o) {
  const std::string db = o.db.empty() ? kDefaultDemoDb : o.db;
  Headless host;
  kvtapp::EntrySession e(host.PersonOn());
  std::printf("%s: demo on %s, archive %s, form %s\n", kVersion.c_str(), kvtapp::Shown(db).c_str(),
              kvtarchive::sample::kArchive, kvtarchive::sample::kEntryForm);
  e.Open(db, kvtarchive::sample::kArchive, kvtarchive::sample::kEntryForm, /*create=*/true);
  e.Start();
  return kvtapp::PlayDemo(e, [&](const std::string& title) { Step(*e.Work(), title); });
}

int Show(const Options& o) {
  Headless host;
  kvtapp::Workspace w(host.PersonOn());
  w.Open(o.db, /*create=*/false);
  BuildNamedForm(w, o);
  std::printf("%s", kvt::Printable(w.Picture()).c_str());
  return 0;
}

// Only a document of the archive named: a number mistyped must not reach another archive.
// The archive's first document from that number on, one indexed query.
void CheckDocumentOf(kvtengine::ArchiveEngine& engine, const Options& o) {
  const auto ids = engine.SearchDocuments(o.archive, {}, o.id - 1, 1);
  if (o.id <= 0 || ids.empty() || ids.front() != o.id) {
    throw kvt::Error(2, "kvtfields",
                     "archive '" + o.archive + "' has no document " + std::to_string(o.id));
  }
}

// The same for a document stored or deleted: its history must be of the archive named.
void CheckHistoryOf(kvtengine::ArchiveEngine& engine, const Options& o) {
  const auto deleted = engine.DeletedDocuments(o.archive);
  if (std::any_of(deleted.begin(), deleted.end(), [&](const auto& d) { return d.first == o.id; }))
    return;
  CheckDocumentOf(engine, o);
}

std::shared_ptr<kvtengine::ArchiveEngine> OpenArchiveEngine(const Options& o) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  if (!engine->HasArchive(o.archive)) {
    kvtengine::ThrowNoArchive(o.archive, "kvtfields");
  }
  return engine;
}

bool IsConflict(const kvt::Error& e) {
  return e.Number() == kvt::kObjectErrorBase + kvtengine::kConflict;
}

// A version as one line: its number, how it came to be, by whom and when (UTC). What is stored
// reaches the terminal with its control characters and line ends written out: a stored text
// must neither command the terminal nor pass for a line of its own.
std::string VersionLine(const kvtengine::VersionInfo& v) {
  return "versione " + std::to_string(v.version) + ", " + kvtapp::ChangeWord(v.change) + " da " +
         kvtapp::Author(v.saved_by) + " il " + kvt::OneLine(v.saved_at);
}

std::string Value(const kvt::Variant& v) {
  return v.IsNull() || v.IsEmpty() ? std::string() : kvt::OneLine(kvt::JoinText(v));
}

int DeleteDocument(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  CheckDocumentOf(*engine, o);
  try {
    const std::int32_t v = engine->DeleteDocument(o.id, o.version);
    std::printf("Documento %d eliminato da %s (versione %d; documents restore lo ripristina)\n",
                o.id, kvtapp::Shown(o.db).c_str(), v);
  } catch (const kvt::Error& e) {
    if (!IsConflict(e)) throw;
    std::fprintf(stderr, "Documento %d non eliminato: %s\n", o.id,
                 kvt::Printable(e.Description()).c_str());
    return 3;
  }
  return 0;
}

int ShowDocument(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  CheckDocumentOf(*engine, o);
  kvtengine::VersionInfo version;
  const auto values = engine->LoadDocumentAt(o.id, version);
  std::printf("documento %d, %s\n", o.id, VersionLine(version).c_str());
  for (const auto& [field, v] : std::dynamic_pointer_cast<kvt::Dictionary>(values)->Entries()) {
    std::printf("%s=%s\n", kvt::OneLine(field).c_str(), Value(v).c_str());
  }
  return 0;
}

int DocumentHistory(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  CheckHistoryOf(*engine, o);
  // One version at a time: a long history of a large document is listed in little memory.
  engine->WalkHistory(o.id, [](const kvtengine::VersionInfo& version,
                               const kvtengine::ArchiveEngine::VersionStep& step) {
    std::printf("%s\n", VersionLine(version).c_str());
    if (step.first_or_back) {  // the first, or back from a deletion: all of it
      for (const auto& [field, v] : step.whole)
        std::printf("  %s=%s\n", kvt::OneLine(field).c_str(), Value(v).c_str());
    }
    for (const auto& c : step.changed) {
      std::printf("  %s: %s -> %s\n", kvt::OneLine(c.field).c_str(), Value(c.before).c_str(),
                  Value(c.after).c_str());
    }
  });
  return 0;
}

int DeletedDocuments(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  for (const auto& [id, v] : engine->DeletedDocuments(o.archive))
    std::printf("documento %d, %s\n", id, VersionLine(v).c_str());
  return 0;
}

int RestoreDocument(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  CheckHistoryOf(*engine, o);
  const std::int32_t v = engine->RestoreDocument(o.id, o.version);
  std::printf("Documento %d: la versione %d è ora la versione %d\n", o.id, o.version, v);
  return 0;
}

// A correction that was not stored, said as such: a value that cannot be entered raises (exit
// 2); a refusal by the rules is exit 1, another clerk's change since the version read exit 3.
std::optional<int> NotStored(const kvtapp::EntryOutcome& outcome) {
  if (outcome.bad_value) {
    const auto& [field, why] = outcome.reasons.front();
    throw kvt::Error(2, "kvtfields", "field '" + field + "': " + why);
  }
  if (outcome.accepted) return std::nullopt;
  std::fprintf(stderr, "Documento %s:\n", outcome.conflict ? "non salvato" : "rifiutato");
  for (const auto& [field, why] : outcome.reasons)
    std::fprintf(stderr, "  %s\n", kvt::Printable(why).c_str());
  return outcome.conflict ? 3 : 1;
}

int CorrectDocument(const Options& o) {
  if (o.sets.empty()) throw UsageError{"nothing to correct: give --set NAME=VALUE"};
  Headless host;
  const auto e = OpenNamedForm(host, o);
  kvtapp::Workspace& w = *e->Work();
  CheckDocumentOf(w.Engine(), o);
  if (const auto problems = kvtapp::CheckValues(w, o.sets); !problems.empty()) {
    throw UsageError{problems.front()};
  }
  const kvtapp::EntryOutcome outcome = kvtapp::CorrectStoredDocument(
      w, o.id, o.version, o.sets, host.TakeMessages(), o.allow_duplicates);
  if (const auto code = NotStored(outcome)) return *code;
  if (outcome.unchanged) {
    std::printf("Documento %d: nessuna modifica, resta alla versione %d\n", o.id, outcome.version);
    return 0;
  }
  std::printf("Documento %d corretto in %s: versione %d\n%s", o.id, kvtapp::Shown(o.db).c_str(),
              outcome.version, kvt::Printable(kvtapp::DescribeValues(w.Fields())).c_str());
  return 0;
}

// The file-link field `name` of the built form; any other field is refused.
void CheckFileField(kvtapp::Workspace& w, const std::string& name) {
  for (std::int32_t i = 1; i <= w.Fields().Count(); ++i) {
    auto f = w.Fields().Item(kvt::Variant(i));
    if (f->Name() != name) continue;
    if (f->ControlType(std::nullopt) == kvtfields::kFileLinker) return;
    throw kvt::Error(2, "kvtfields", "field '" + name + "' is no file-link field");
  }
  throw kvt::Error(2, "kvtfields", "the form has no field '" + kvt::Printable(name) + "'");
}

std::string Size(std::int64_t bytes) {
  char text[32];
  if (bytes < 1024) return std::to_string(bytes) + " byte";
  if (bytes < (1 << 20)) {
    std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
  }
  std::string out = text;
  std::replace(out.begin(), out.end(), '.', ',');
  return out;
}

std::string Describe(const kvtfiles::StoredFile& f) {
  std::string out = "\"" + kvt::OneLine(f.name) + "\" (" + Size(f.size) + ", " + f.media_type;
  if (f.pages > 0) out += ", " + std::to_string(f.pages) + (f.pages == 1 ? " pagina" : " pagine");
  return out + ", sha256 " + f.sha256 + ")";
}

int AttachFile(Options o) {
  Headless host;
  if (o.form.empty()) {  // the archive's first form: the field is the same on all of them
    const auto forms = OpenArchiveEngine(o)->ListForms(o.archive);
    if (forms.empty()) throw kvt::Error(2, "kvtfields", "archive '" + o.archive + "' has no form");
    o.form = forms.front();
  }
  const auto e = OpenNamedForm(host, o);
  kvtapp::Workspace& w = *e->Work();
  CheckDocumentOf(w.Engine(), o);
  CheckFileField(w, o.field);
  if (o.file.empty()) {  // the path the field held before the archive kept files
    const auto values = std::dynamic_pointer_cast<kvt::Dictionary>(w.Engine().LoadDocument(o.id));
    const kvt::Variant held = values->Exists(o.field) ? values->Item(o.field) : kvt::Variant();
    o.file = held.IsNull() || held.IsEmpty() ? std::string() : kvt::JoinText(held);
    if (o.file.empty()) throw UsageError{"the field holds no path: give --file PATH"};
    if (kvtfiles::ParseFileRef(o.file)) {
      std::printf("Documento %d: il campo %s nomina già un file archiviato\n", o.id,
                  kvt::OneLine(o.field).c_str());
      return 0;
    }
  }
  kvtfiles::StoredFile facts;
  const std::string ref = kvtapp::ChooseFile(w, o.file, &facts);
  const kvtapp::EntryOutcome outcome = kvtapp::CorrectStoredDocument(
      w, o.id, o.version, {{o.field, ref}}, host.TakeMessages(), o.allow_duplicates);
  if (const auto code = NotStored(outcome)) return *code;
  if (outcome.unchanged) {
    std::printf("Documento %d: il campo %s ha già il file %s\n", o.id,
                kvt::OneLine(o.field).c_str(), Describe(facts).c_str());
    return 0;
  }
  std::printf("Documento %d: file %s archiviato nel campo %s, versione %d\n", o.id,
              Describe(facts).c_str(), kvt::OneLine(o.field).c_str(), outcome.version);
  return 0;
}

int WriteFileOut(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  CheckDocumentOf(*engine, o);
  kvtengine::VersionInfo at;
  const auto values = std::dynamic_pointer_cast<kvt::Dictionary>(engine->LoadDocumentAt(o.id, at));
  const kvt::Variant held = values->Exists(o.field) ? values->Item(o.field) : kvt::Variant();
  const std::string text = held.IsNull() || held.IsEmpty() ? "" : kvt::JoinText(held);
  const auto ref = kvtfiles::ParseFileRef(text);
  if (!ref) {
    throw kvt::Error(2, "kvtfields",
                     "document " + std::to_string(o.id) + ", field '" + kvt::Printable(o.field) +
                         "' names no kept file" +
                         (text.empty() ? "" : " (it holds '" + kvt::Printable(text) + "')"));
  }
  const std::string whose = "documento " + std::to_string(o.id) + ", campo " + o.field;
  const kvtfiles::StoredFile f = kvtapp::WriteKeptFile(*engine, ref->sha256, whose, o.out, {o.db});
  if (!o.out.empty()) {
    std::printf("Scritto %s: file %s del documento %d, controllato\n", o.out.c_str(),
                Describe(f).c_str(), o.id);
  }
  return 0;
}

// Shows the archive's settings, setting the separator pattern first when given.
int ArchiveSettings(const Options& o, bool set) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  if (!engine->HasArchive(o.archive)) kvtengine::ThrowNoArchive(o.archive, "kvtfields");
  if (set) {
    // The pattern is matched by the program itself, never compiled: only what could not be
    // printed back, or is longer than any code read, is refused.
    const std::string& p = o.setting_separator;
    if (p.size() > 200 || kvt::OneLine(p) != p) {
      throw kvt::Error(2, "kvtfields",
                       "Il separatore deve essere testo stampabile di 200 byte al più");
    }
    engine->PutArchiveSetting(o.archive, kvtengine::kSeparatorSetting, p);
  }
  const std::string separator = engine->ArchiveSetting(o.archive, kvtengine::kSeparatorSetting);
  std::printf("separatore: %s\n",
              separator.empty() ? "(nessuno: qualsiasi codice a barre)" : separator.c_str());
  return 0;
}

// The searched words of every document made anew from the words already read: each
// thousand in a transaction, so that searches go on meanwhile and memory stays bounded.
int IndexAllWords(const Options& o) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  const bool terminal = isatty(fileno(stderr)) != 0;
  std::int32_t shown = o.after;
  for (std::int32_t last = engine->IndexWords(o.after, 1000); last != 0;
       last = engine->IndexWords(last, 1000)) {
    // Where to go on from (--after) if it is stopped.
    if (terminal) std::fprintf(stderr, "\rfino al documento %d", last);
    shown = last;
  }
  if (terminal && shown != o.after) std::fputc('\n', stderr);
  std::printf("Parole cercate rifatte dai file letti, fino al documento %d\n", shown);
  return 0;
}

// Reads the pages of every kept file not read by this reader yet (all of them after a new
// model), keeping each as it is done: stopped, it goes on where it stopped when run again.
int ReindexFiles(const Options& o) {
  if (o.words_only) return IndexAllWords(o);
  const int workers = o.workers > 0
                          ? o.workers
                          : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  kvtapp::OpenEngine(o.db, /*create=*/false);  // a database that cannot be opened says so first
  kvtread::PageReading reading([&] { return kvtapp::OpenEngine(o.db, /*create=*/false); }, workers);
  kvtread::ReadProgress last;
  reading.Start([&](const kvtread::ReadProgress& p) {
    last = p;
    std::fprintf(stderr, "%lld. %s\n", static_cast<long long>(p.files),
                 kvt::OneLine(p.last).c_str());
  });
  reading.Wait();
  std::printf("%lld file letti (%lld pagine), %lld non leggibili\n",
              static_cast<long long>(last.files), static_cast<long long>(last.pages),
              static_cast<long long>(last.failed));
  return 0;
}

int CheckFiles(const Options& o) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  if (!o.archive.empty() && !engine->HasArchive(o.archive)) {
    kvtengine::ThrowNoArchive(o.archive, "kvtfields");
  }
  if (const std::int64_t orphans = engine->CollectOrphanFiles(); orphans > 0) {
    std::printf(
        "%lld file mai archiviati (lasciati da un arresto o da un salvataggio fallito) "
        "rimossi\n",
        static_cast<long long>(orphans));
  }
  const bool terminal = isatty(fileno(stderr)) != 0;
  int shown = -1;
  const kvtapp::FileCheck check =
      kvtapp::CheckKeptFiles(*engine, o.archive, [&](std::int64_t done, std::int64_t total) {
        const int bar = total > 0 ? static_cast<int>(30 * done / total) : 30;
        if (!terminal || bar == shown) return;
        shown = bar;
        std::fprintf(stderr, "\r[%s%s] %s", std::string(bar, '#').c_str(),
                     std::string(30 - bar, '.').c_str(), Size(done).c_str());
      });
  if (terminal && shown >= 0) std::fputc('\n', stderr);
  for (const auto& p : check.problems) {
    std::string where = p.document == 0
                            ? "nessun documento attuale"
                            : "archivio " + kvt::OneLine(p.archive) + ", documento " +
                                  std::to_string(p.document) + ", campo " + kvt::OneLine(p.field);
    std::printf("%s: file \"%s\" (sha256 %s) %s\n", where.c_str(), kvt::OneLine(p.name).c_str(),
                p.sha256.c_str(), p.why.c_str());
  }
  std::printf("%lld file controllati (%s), %zu problemi\n", static_cast<long long>(check.files),
              Size(check.bytes).c_str(), check.problems.size());
  return check.problems.empty() ? 0 : 1;
}

int ExportBag(const Options& o) {
  auto engine = OpenArchiveEngine(o);
  const kvtapp::BagReport r = kvtapp::ExportBag(*engine, o.archive, o.out);
  std::printf(
      "Archivio %s scritto in %s: %zu documenti, %zu eliminati, %zu file (%lld file, "
      "%s nel bag)\n",
      kvt::OneLine(o.archive).c_str(), o.out.c_str(), r.documents, r.deleted, r.files,
      static_cast<long long>(r.payload_files), Size(r.payload_bytes).c_str());
  return 0;
}

int ImportBag(const Options& o) {
  const kvtapp::BagReport r = kvtapp::ImportBag(o.file, o.db);
  std::printf("Bag %s importato in %s: %zu documenti, %zu eliminati, %zu file\n", o.file.c_str(),
              kvtapp::Shown(o.db).c_str(), r.documents, r.deleted, r.files);
  return 0;
}

int CheckBag(const Options& o) {
  const auto problems = kvtapp::CheckBag(o.file);
  for (const auto& p : problems) std::printf("%s: %s\n", o.file.c_str(), kvt::OneLine(p).c_str());
  if (problems.empty()) std::printf("%s: un bag valido\n", o.file.c_str());
  return problems.empty() ? 0 : 1;
}

int Enter(const Options& o) {
  if (o.sets.empty()) throw UsageError{"nothing to enter: give --set NAME=VALUE"};
  Headless host;
  const auto e = OpenNamedForm(host, o);
  kvtapp::Workspace& w = *e->Work();
  // What cannot be stored as given is refused before anything is typed.
  if (const auto problems = kvtapp::CheckValues(w, o.sets); !problems.empty()) {
    throw UsageError{problems.front()};
  }
  const kvtapp::EntryOutcome outcome =
      kvtapp::EnterDocument(w, o.sets, host.TakeMessages(), /*store=*/true, o.allow_duplicates);
  if (outcome.bad_value) {
    const auto& [field, why] = outcome.reasons.front();
    throw kvt::Error(2, "kvtfields", "field '" + field + "': " + why);
  }
  if (!outcome.accepted) {
    std::fprintf(stderr, "Documento rifiutato:\n");
    for (const auto& [field, why] : outcome.reasons)
      std::fprintf(stderr, "  %s\n", kvt::Printable(why).c_str());
    return 1;
  }
  std::printf("Documento %d salvato in %s:\n%s", outcome.stored, kvtapp::Shown(o.db).c_str(),
              kvt::Printable(kvtapp::DescribeValues(w.Fields())).c_str());
  return 0;
}

// documents import | export
// Writes a command's whole output to --out, or to standard output without one.
void WriteOut(const std::string& out, const std::vector<std::string>& inputs,
              const std::string& text) {
  kvtapp::OutputFile output(out, inputs);
  output.Write(text);
  output.Commit();
}

// A stored document as the form shows it, in a PDF: no window, Qt paints it offscreen.
int DocumentPdf(const Options& o) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Qt's notes about the session it runs in (no runtime folder) are no concern of a command.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
      std::fprintf(stderr, "kvtfields: %s\n", text.toLocal8Bit().constData());
    }
  });
  int argc = 1;
  char name[] = "kvtfields";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);
  Headless host;
  kvtapp::Workspace w(host.PersonOn());
  w.Open(o.db, /*create=*/false);
  BuildNamedForm(w, o);
  CheckDocumentOf(w.Engine(), o);
  std::vector<kvtprint::PrintedDocument> docs;
  const kvtprint::FormPrint print(w);
  w.Engine().ReadDocumentsById({o.id},
                               [&](kvtengine::StoredDocument&& d) { docs.push_back(print.Of(d)); });
  const QByteArray pdf = kvtprint::Pdf(o.archive, docs);
  if (pdf.isEmpty()) throw kvt::Error(2, "kvtfields", "the PDF could not be made");
  WriteOut(o.out, {o.db}, pdf.toStdString());
  if (!o.out.empty()) std::printf("Documento %d in %s\n", o.id, o.out.c_str());
  return 0;
}

// The archive's documents as CSV: the form's fields as columns, then any name stored values
// carry that the archive no longer has (a field renamed or removed), so that nothing stored is
// left out.
int ExportDocuments(const Options& o) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  const auto names = engine->GetFormFields(o.archive);
  if (names.empty()) kvtengine::ThrowNoArchive(o.archive, "kvtfields");
  kvtapp::OutputFile output(o.out, {o.db});
  if (o.format == "csv") {
    kvtapp::ExportCsv(*engine, o.archive, names, {o.separator[0], o.raw}, output);
  } else {
    kvtapp::ExportJson(*engine, o.archive, output);
  }
  output.Commit();
  return 0;
}

// "1 pagina", "3 pagine".
std::string Counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Takes scans into the archive's intake queue: a file, or every PDF, TIFF, JPEG and PNG of a
// folder in name order, each kept, read and split in its own transaction (stopped halfway and
// run again, nothing is doubled); or, with --ledger, prints where every page went.
int Intake(const Options& o) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  if (!engine->HasArchive(o.archive)) kvtengine::ThrowNoArchive(o.archive, "kvtfields");
  if (o.leave > 0) {
    // An item a clerk's program held when it stopped goes back for the next clerk.
    engine->LeaveIntake(o.leave);
    std::printf("Elemento %lld di nuovo in coda\n", static_cast<long long>(o.leave));
    return 0;
  }
  if (o.ledger) {
    std::string out = "id;file;prima pagina;pagine;stato;chi;quando;documento;motivo\n";
    for (const auto& i : engine->IntakeLedger(o.archive)) {
      out += kvtapp::CsvRow({std::to_string(i.id), kvtapp::SpreadsheetSafe(i.name),
                             std::to_string(i.first_page), std::to_string(i.pages),
                             kvtengine::IntakeStateName(i.state), kvtapp::SpreadsheetSafe(i.by),
                             i.at, i.document ? std::to_string(i.document) : std::string(),
                             kvtapp::SpreadsheetSafe(i.reason)},
                            ';');
    }
    WriteOut(o.out, {o.db}, out);
    return 0;
  }
  if (o.from.empty()) throw UsageError{"--from names the scans to take in (or --ledger)"};
  if (o.split != "pagine-bianche" && o.split != "intero" && o.split != "codice") {
    throw UsageError{"--split is pagine-bianche, codice or intero"};
  }
  const auto how = o.split == "intero"   ? kvtread::Split::kWhole
                   : o.split == "codice" ? kvtread::Split::kBarcode
                                         : kvtread::Split::kBlankPages;
  const bool folder = std::filesystem::is_directory(o.from);
  if (o.watch && !folder) throw UsageError{"--watch watches a folder: --from names one"};
  // The scans of the folder in name order, or the one file named.
  auto scans = [&] {
    std::vector<std::filesystem::path> paths;
    std::error_code ec;
    if (!folder) return std::vector<std::filesystem::path>{o.from};
    for (const auto& e : std::filesystem::directory_iterator(o.from, ec)) {
      std::string ext = e.path().extension().string();
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (e.is_regular_file(ec) && (ext == ".pdf" || ext == ".tif" || ext == ".tiff" ||
                                    ext == ".jpg" || ext == ".jpeg" || ext == ".png")) {
        paths.push_back(e.path());
      }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  // A stack's pages are read a core each at once.
  const int workers = o.workers > 0
                          ? o.workers
                          : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  std::vector<std::unique_ptr<kvtread::Ocr>> ocrs;
  std::vector<kvtread::Ocr*> readers;
  for (int i = 0; i < workers; ++i)
    readers.push_back(ocrs.emplace_back(std::make_unique<kvtread::Ocr>()).get());
  int added = 0, documents = 0, failed = 0;
  auto take_in = [&](const std::string& path) {
    try {
      const kvtread::TakenIn in =
          kvtread::TakeIn(*engine, readers, o.archive, path, how, o.separator_code);
      if (!in.added) {
        std::printf("%s: già nella coda dell'archivio (sha256 %s), non aggiunto\n",
                    kvt::OneLine(in.name).c_str(), in.sha256.c_str());
        return;
      }
      ++added;
      documents += in.documents;
      std::printf("%s: %s, %s in coda, %s da parte\n", kvt::OneLine(in.name).c_str(),
                  Counted(in.pages, "pagina", "pagine").c_str(),
                  Counted(in.documents, "documento", "documenti").c_str(),
                  Counted(in.set_aside, "pagina", "pagine").c_str());
    } catch (const kvt::Error& e) {
      // One scan that cannot be kept does not stop the others.
      ++failed;
      std::printf("%s: non preso: %s\n", kvt::OneLine(kvtfiles::BaseName(path)).c_str(),
                  kvt::OneLine(e.Description()).c_str());
    }
    std::fflush(stdout);
  };
  if (!o.watch) {
    for (const auto& path : scans()) take_in(path.string());
    std::printf("%s, %s da archiviare\n", Counted(added, "file preso", "file presi").c_str(),
                Counted(documents, "documento", "documenti").c_str());
    return failed > 0 ? 1 : 0;
  }
  // Watching: a scan is taken in once its size and time of change held for a look (a scanner
  // still writing it is left for the next); each only once in this run, and a run again adds
  // nothing twice anyway. Ends when the program is stopped.
  std::map<std::string, std::pair<std::uintmax_t, std::filesystem::file_time_type>> seen;
  std::set<std::string> done;
  std::printf("Controllo di %s ogni 2 secondi (Ctrl+C per finire)\n", o.from.c_str());
  std::fflush(stdout);
  for (;;) {
    for (const auto& path : scans()) {
      const std::string key = path.string();
      if (done.contains(key)) continue;
      std::error_code ec;
      const auto now = std::make_pair(std::filesystem::file_size(path, ec),
                                      std::filesystem::last_write_time(path, ec));
      if (ec) continue;
      const auto it = seen.find(key);
      if (it == seen.end() || it->second != now) {
        seen[key] = now;
        continue;
      }
      take_in(key);
      done.insert(key);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
  }
}

// One page of the archive's documents meeting every --where, as CSV (id, then the form's
// fields, then names only stored values carry); the count and how to ask for the next page go
// to standard error.
int FindDocuments(const Options& o) {
  if (o.limit < 1) throw UsageError{"--limit must be at least 1"};
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  const auto names = engine->GetFormFields(o.archive);
  if (names.empty()) {
    kvtengine::ThrowNoArchive(o.archive, "kvtfields");
  }
  std::vector<kvtengine::Criterion> criteria;
  for (const auto& w : o.where) criteria.push_back(kvtengine::ParseCriterion(w, "kvtfields"));
  if (!o.text.empty()) {
    kvtengine::Criterion words;
    words.op = kvtengine::Criterion::Op::kWords;
    words.value = o.text;
    criteria.push_back(std::move(words));
  }
  // One more than the page: whether a next page exists comes with it.
  auto ids = engine->SearchDocuments(o.archive, criteria, o.after, o.limit + 1);
  const bool more = ids.size() > static_cast<std::size_t>(o.limit);
  if (more) ids.pop_back();
  std::vector<kvtengine::StoredDocument> page;
  engine->ReadDocumentsById(ids,
                            [&](kvtengine::StoredDocument&& d) { page.push_back(std::move(d)); });
  std::vector<std::string> columns = {"id"};
  std::map<std::string, std::size_t> column_of;
  for (const auto& n : names) column_of.emplace(n, columns.size()), columns.push_back(n);
  for (const auto& d : page) {
    for (const auto& [field, v] : d.values) {
      if (column_of.emplace(field, columns.size()).second) columns.push_back(field);
    }
  }
  // Field names are cells too: a spreadsheet would run a name starting with "=" as well.
  std::vector<std::string> header;
  for (const auto& c : columns) header.push_back(kvtapp::SpreadsheetSafe(c));
  std::string csv = kvtapp::CsvRow(header, ';');
  for (const auto& d : page) {
    std::vector<std::string> row(columns.size());
    row[0] = std::to_string(d.id);
    for (const auto& [field, v] : d.values) {
      row[column_of[field]] = kvtapp::SpreadsheetSafe(kvt::JoinText(v));
    }
    csv += kvtapp::CsvRow(row, ';');
  }
  WriteOut(o.out, {o.db}, csv);
  const std::int64_t total = engine->CountDocuments(o.archive, criteria);
  std::fprintf(stderr, "%zu %s di %lld", page.size(), page.size() == 1 ? "documento" : "documenti",
               static_cast<long long>(total));
  if (more) {
    std::fprintf(stderr, "; i seguenti: --after %d", ids.back());
  }
  std::fprintf(stderr, "\n");
  return 0;
}

int ImportDocuments(const Options& o) {
  const std::string& file = o.file;
  // Read a row at a time: a file of any size in constant memory.
  std::ifstream in(file, std::ios::binary);
  if (!in) throw kvt::Error(2, "kvtfields", "cannot read '" + file + "'");
  std::error_code size_error;
  const auto file_size = std::filesystem::file_size(file, size_error);
  kvtapp::CsvReader reader(in);
  std::size_t rows_read = 0;
  int line = 0;
  auto next = [&](std::vector<std::string>& row) {
    try {
      if (!reader.Next(row, line)) return false;
    } catch (const std::runtime_error& e) {
      throw kvt::Error(2, "kvtfields", file + ": " + e.what());
    }
    if (!o.raw) {
      for (auto& cell : row) cell = kvtapp::FromSpreadsheetSafe(std::move(cell));
    }
    return true;
  };
  std::vector<std::string> header;
  if (!next(header)) throw kvt::Error(2, "kvtfields", file + ": no header row");
  // The report is checked before anything is stored: a report that would overwrite the
  // database or the rows stops the import at once.
  std::optional<kvtapp::OutputFile> report;
  if (!o.report.empty()) report.emplace(o.report, std::vector<std::string>{o.db, file});

  Headless host;
  const auto e = OpenNamedForm(host, o);  // once: every row is entered on the same form
  kvtapp::Workspace& w = *e->Work();
  for (const auto& name : header) {
    if (w.Fields().Index(name) == 0) {
      throw kvt::Error(
          2, "kvtfields",
          file + ": column '" + kvt::Printable(name) + "' is no field of '" + o.archive + "'");
    }
  }
  auto put_report = [&](const std::string& line) {
    if (report) {
      report->Write(line);
    } else {
      std::fputs(line.c_str(), stderr);
    }
  };
  const bool terminal = isatty(fileno(stderr)) != 0;
  kvtapp::ImportOptions options;
  options.store = !o.dry_run;
  options.skip = o.skip;
  options.atomic = o.atomic;
  options.rows_per_commit = o.batch;
  options.allow_duplicates = o.allow_duplicates;
  if (!o.files_from.empty()) options.files_from = o.files_from;
  kvtapp::ImportResult result;
  try {
    kvtapp::ImportRows(
        w, header,
        [&](std::vector<std::string>& row) {
          const bool got = next(row);
          rows_read += got;
          return got;
        },
        host.TakeMessages(), options,
        [&](std::size_t r, const std::vector<std::pair<std::string, std::string>>& reasons) {
          for (const auto& [field, why] : reasons) {
            put_report(file + ":" + std::to_string(line) + ": riga " + std::to_string(r) +
                       (field.empty() ? "" : ", campo ") + field + ": " + kvt::Printable(why) +
                       "\n");
          }
        },
        [&](std::size_t done, std::size_t) {
          // How far into the file, by its bytes: the rows are not counted beforehand.
          if (!terminal || done % 50 != 0 || size_error || file_size == 0) return;
          const auto at = static_cast<std::uintmax_t>(std::max<std::streamoff>(0, in.tellg()));
          const std::size_t bar =
              static_cast<std::size_t>(30 * std::min(at, file_size) / file_size);
          std::fprintf(stderr, "\r[%s%s] %zu", std::string(bar, '#').c_str(),
                       std::string(30 - bar, '.').c_str(), done);
        },
        result);
    if (terminal && rows_read >= 50) std::fputc('\n', stderr);
  } catch (const kvt::Error&) {
    // Say exactly what is in the database, so that a rerun with --skip stores the rest once.
    if (terminal) std::fputc('\n', stderr);
    const std::string stopped =
        o.dry_run ? std::string("nulla salvato (prova)\n")
                  : std::to_string(result.committed) + " documenti salvati fino alla riga " +
                        std::to_string(result.committed_through) + "; il resto no" +
                        " (per riprendere: --skip " + std::to_string(result.committed_through) +
                        ")" + "\n";
    std::fprintf(stderr, "%s: %s", file.c_str(), stopped.c_str());
    if (report) {
      report->Write(stopped);
      report->Commit();
    }
    throw;
  }
  if (report) report->Commit();
  std::printf("%s: %zu righe %s, %zu rifiutate, di %zu", file.c_str(), result.accepted,
              o.dry_run ? "accettate (prova: nulla salvato)" : "salvate", result.refused,
              rows_read);
  if (result.skipped) std::printf(" (%zu saltate)", result.skipped);
  std::printf("\n");
  return result.refused == 0 ? 0 : 1;
}

// archive check | import | export
int ArchiveCommand(const std::string& what, const Options& o) {
  const std::string &file = o.file, &db = o.db, &archive = o.archive, &out = o.out;
  const bool replace = o.replace;
  if (what == "check" || what == "import") {
    const kvtarchive::Read read = kvtarchive::ReadArchiveFile(file);
    for (const auto& p : read.problems) std::fprintf(stderr, "%s\n", p.ToString().c_str());
    if (!read.problems.empty()) return 1;
    if (what == "check") {
      std::printf("%s: archive %s, %zu fields, %zu forms: no problems\n", file.c_str(),
                  read.archive.name.c_str(), read.archive.fields.size(), read.archive.forms.size());
      return 0;
    }
    auto engine = kvtapp::OpenEngine(db, /*create=*/true);
    kvtarchive::ImportArchive(*engine, read.archive, replace);
    std::printf("archive %s imported into %s: %zu fields, %zu forms\n", read.archive.name.c_str(),
                engine->Where().c_str(), read.archive.fields.size(), read.archive.forms.size());
    return 0;
  }
  if (what == "export") {
    auto engine = kvtapp::OpenEngine(db, /*create=*/false);
    const std::string text = kvtarchive::ExportArchive(*engine, archive);
    WriteOut(out, {db}, text);
    return 0;
  }
  throw UsageError{"archive needs check, import or export, not '" + what + "'"};
}

// copy --from --to
int Copy(const Options& o) {
  auto from = kvtapp::OpenEngine(o.file, /*create=*/false);
  auto to = kvtapp::OpenEngine(o.out, /*create=*/true);
  const kvtapp::CopyReport r = kvtapp::CopyDatabase(*from, *to);
  std::printf("copied from %s to %s:\n", from->Where().c_str(), to->Where().c_str());
  for (const auto& a : r.archives) {
    std::printf(
        "  archive %s: %zu fields, %zu forms (%zu layouts), %zu codes, %zu documents (%zu "
        "deleted, in the history)\n",
        a.name.c_str(), a.fields, a.forms, a.layouts, a.codes, a.documents, a.deleted);
  }
  std::printf("  %zu scripts, %zu autocomplete values, %zu files\n", r.scripts, r.learnt, r.files);
  return 0;
}

// roles setup | grant: the office's roles on a PostgreSQL database.
int Roles(const std::string& what, const Options& o, const std::string& user,
          const std::string& role) {
  auto engine = kvtapp::OpenEngine(o.db, /*create=*/false);
  auto* pg = dynamic_cast<kvtpg::PgEngine*>(engine.get());
  if (!pg) {
    throw kvt::Error(2, "kvtfields",
                     engine->Where() +
                         " is a file: who may change it is up to the file's permissions; roles "
                         "are for a PostgreSQL database");
  }
  if (what == "setup") {
    pg->SetUpRoles();
    std::printf(
        "roles kvt_designer, kvt_clerk, kvt_reader ready on %s (nothing granted to PUBLIC)\n",
        pg->Where().c_str());
  } else {
    pg->GrantRole(user, role);
    std::printf("%s is now %s on %s\n", kvt::Printable(user).c_str(), role.c_str(),
                pg->Where().c_str());
  }
  return 0;
}

// One check of the self-check: a name and a test that throws or returns false on failure.
struct Check {
  const char* name;
  std::function<bool()> run;
};

int SelfCheck() {
  using namespace kvt;
  std::printf("%s, locale %s\n", kVersion.c_str(), CurrentLocale().c_str());
  const std::vector<Check> checks = {
      {"locale it_IT reads 1.234,5 as a number",
       [] { return ParseLocaleNumber("1.234,5") == 1234.5; }},
      {"upper case through ICU", [] { return ToUpper("àbc") == "ÀBC"; }},
      {"integers round half to even",
       [] { return CInt(Variant(2.5)) == 2 && CInt(Variant(3.5)) == 4; }},
      {"dates read and print as dd/mm/yyyy",
       [] { return CStr(Variant(CDate(Variant("05/12/2026")))) == "05/12/2026"; }},
      {"late-bound calls by name and by member id",
       [] {
         ObjectRef o = Dictionary::Create();
         CallMethod(o, "ADD", "k", 42);
         std::array<Variant, 1> key{Variant("k")};
         return CLng(Invoke(o, kDefaultMember, MemberKind::kGet, key)) == 42;
       }},
  };
  int failed = 0;
  for (const auto& c : checks) {
    bool ok = false;
    std::string why;
    try {
      ok = c.run();
    } catch (const Error& e) {
      why = " (error " + std::to_string(e.Number()) + ": " + e.Description() + ")";
    }
    std::printf("%s  %s%s\n", ok ? "ok  " : "FAIL", c.name, why.c_str());
    failed += ok ? 0 : 1;
  }
  std::printf("%zu passed, %d failed\n", checks.size() - static_cast<std::size_t>(failed), failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kvtfields: data-entry forms from field definitions kept in a database, on the\n"
      "headless window system"};
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("--verbose", verbose,
               "at the end, say on standard error how many requests went to the database (its "
               "round trips)");
  app.fallthrough();  // --verbose after the command too
  Options o;
  auto db = [&](CLI::App* c, bool required = true) {
    auto* opt = c->add_option(
        "--db", o.db,
        "the database: a file, or PostgreSQL (postgresql://user@host/db or libpq keywords)");
    if (required) opt->required();
  };
  auto archive = [&](CLI::App* c) {
    c->add_option("--archive", o.archive, "the archive")->required();
  };
  auto form = [&](CLI::App* c) {
    c->add_option("--form", o.form, "the archive's form")->required();
  };

  auto* demo = app.add_subcommand("demo", "play a data-entry session on the sample archive");
  demo->footer(
      "Creates the sample archive (with its script) in the database when it is not there, builds "
      "its entry form and plays a session: typing, a refused value and its fix, a code added to "
      "a combo, the script's total, saving, and the retained fields copied into the next "
      "document. After each step it prints the form as text.");
  demo->add_option("--db", o.db,
                   "the database: a file (default kvtfields-demo.kvtdb) or a PostgreSQL "
                   "connection string");
  auto* show = app.add_subcommand("show", "print the text picture of an archive's form");
  db(show);
  archive(show);
  form(show);
  auto* enter = app.add_subcommand("enter", "enter and store one document, as a person would");
  enter->footer(
      "Each named field is entered, its value pasted in, and left (so its checks and scripts "
      "run); then required fields are checked and the document is stored. A refused document "
      "prints the Italian messages (and any message box the form showed), stores nothing and "
      "exits with 1. Combo fields take a code, date fields a date (dd/mm/yyyy). A value that "
      "could not be stored as given (longer than its field, a tab or other control character, a "
      "line end in a one-line field) or a field given twice is refused with exit 2.");
  db(enter);
  archive(enter);
  form(enter);
  enter->add_flag("--allow-duplicates", o.allow_duplicates,
                  "store it even when its index fields equal a stored document's");
  std::vector<std::string> sets;
  enter->add_option("--set", sets, "NAME=VALUE, one field's value (repeat for more)")
      ->required()
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

  auto* archives = app.add_subcommand(
      "archive",
      "archive files: check, import, export (docs/archive-format.md); check-files; export-bag, "
      "import-bag, check-bag");
  archives->require_subcommand(1);
  auto* check = archives->add_subcommand(
      "check",
      "Checks an archive file: every problem as FILE:LINE:COLUMN: message; exit 1 if any.");
  check->add_option("FILE", o.file, "the archive file")->required();
  auto* import = archives->add_subcommand(
      "import", "Creates or replaces the archive in the database, in one transaction.");
  import->add_option("FILE", o.file, "the archive file")->required();
  db(import);
  import->add_flag("--replace", o.replace, "replace an archive that has documents");
  auto* exporter = archives->add_subcommand("export", "Writes an archive as an archive file.");
  db(exporter);
  archive(exporter);
  exporter->add_option("--out", o.out, "the file to write (default: standard output)");

  auto* check_files = archives->add_subcommand(
      "check-files",
      "Reads every kept file again and compares it with its SHA-256: each damaged or missing "
      "file by archive, document and field; exit 1 if any.");
  db(check_files);
  check_files->add_option("--archive", o.archive, "only the files this archive's documents name");

  auto* settings = archives->add_subcommand(
      "settings",
      "Shows the archive's settings, or sets one: --separatore, the barcode of the separator "
      "sheets its scanned stacks are split at (intake --split codice).");
  db(settings);
  archive(settings);
  auto* set_separator = settings->add_option(
      "--separatore", o.setting_separator,
      "* any characters, ? any one (\"SEP-*\"); \"\" takes it away: any barcode");

  auto* reindex = archives->add_subcommand(
      "reindex",
      "Reads the words off the pages of every kept file not read yet (or read by an older "
      "reader): a PDF's own text, otherwise OCR in Italian. Each file is kept as it is read: "
      "run again, it goes on where it stopped.");
  db(reindex);
  reindex->add_option("--workers", o.workers, "files read at once (default: one per core)")
      ->check(Whole(1));
  reindex->add_flag("--parole", o.words_only,
                    "reads no page: makes the documents' searched words anew from the words "
                    "already read, a thousand documents a transaction");
  reindex
      ->add_option("--after", o.after,
                   "with --parole: goes on after this document, where a run stopped")
      ->check(Whole(0));

  auto* export_bag = archives->add_subcommand(
      "export-bag",
      "Writes the archive whole as a BagIt bag (RFC 8493) in a new folder: definitions, every "
      "document with every version, every file, all listed with their SHA-256.");
  db(export_bag);
  archive(export_bag);
  export_bag->add_option("--out", o.out, "the new folder")->required();
  auto* import_bag = archives->add_subcommand(
      "import-bag", "Makes a new database from a bag export-bag wrote, in one transaction.");
  import_bag->add_option("BAG", o.file, "the bag's folder")->required();
  import_bag
      ->add_option("--db", o.db,
                   "the new database: a file not there yet, or an empty "
                   "PostgreSQL database")
      ->required();
  auto* check_bag = archives->add_subcommand(
      "check-bag", "Checks a bag as RFC 8493 says: every problem on a line; exit 1 if any.");
  check_bag->add_option("BAG", o.file, "the bag's folder")->required();

  auto* documents = app.add_subcommand(
      "documents",
      "documents: import from CSV, export to CSV or JSON, find, show, correct, attach, file, "
      "delete, history, deleted, restore, pdf");
  documents->require_subcommand(1);
  auto* doc_import = documents->add_subcommand(
      "import",
      "Enters every row of a CSV file (a header of field names; ';' or ',') through the form, as "
      "enter does; stores the rows that pass and reports each refused one. Exit 0 when every row "
      "was stored, 1 when some were refused.");
  doc_import->add_option("FILE", o.file, "the CSV file")->required();
  db(doc_import);
  archive(doc_import);
  form(doc_import);
  doc_import->add_flag("--dry-run", o.dry_run, "check every row, store nothing");
  doc_import->add_option("--report", o.report, "write the refused rows here (default: stderr)");
  doc_import
      ->add_option("--skip", o.skip,
                   "pass over the first N data rows (stored by an import that stopped)")
      ->check(Whole(0, 1LL << 40));
  doc_import
      ->add_option("--batch", o.batch,
                   "rows stored to a transaction (default 2000; fewer let other programs write "
                   "sooner, an error loses less work)")
      ->check(Whole(1, 1000000));
  doc_import->add_flag("--atomic", o.atomic,
                       "store every row in one transaction: all the accepted rows or none");
  doc_import->add_flag("--allow-duplicates", o.allow_duplicates,
                       "store rows whose index fields equal a stored document's (without it "
                       "such a row is refused as a probable duplicate)");
  doc_import->add_option("--files-from", o.files_from,
                         "the cells of file-link fields name files in this folder (or absolute "
                         "paths), kept in the archive with their rows; a file that cannot be "
                         "kept refuses its row");
  doc_import->add_flag("--raw", o.raw,
                       "take cells as they are (without it, the apostrophe export puts before "
                       "=, +, -, @ is removed)");
  auto* doc_export = documents->add_subcommand("export", "Writes the stored documents.");
  db(doc_export);
  archive(doc_export);
  doc_export->add_option("--format", o.format, "csv (default) or json")
      ->check(CLI::IsMember({"csv", "json"}));
  doc_export->add_option("--separator", o.separator, "; (default) or ,")
      ->check(CLI::IsMember({";", ","}));
  doc_export->add_option("--out", o.out, "the file to write (default: standard output)");
  doc_export->add_flag("--raw", o.raw,
                       "write cells as they are (without it, a cell starting with =, +, -, @, a "
                       "tab or a carriage return gets an apostrophe before it, so that a "
                       "spreadsheet shows it as text)");

  auto* doc_delete = documents->add_subcommand(
      "delete",
      "Deletes one stored document of the archive; its history keeps it (restore brings it "
      "back). Exit 3 when it changed since --version: nothing deleted.");
  db(doc_delete);
  archive(doc_delete);
  doc_delete->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));
  doc_delete->add_option("--version", o.version, "the version read (default: whichever is stored)")
      ->check(Whole(1));

  auto* doc_show = documents->add_subcommand(
      "show", "Prints a stored document's version and its values, one FIELD=VALUE a line.");
  db(doc_show);
  archive(doc_show);
  doc_show->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));

  auto* doc_correct = documents->add_subcommand(
      "correct",
      "Corrects a stored document as enter enters one: the stored values on the form, each "
      "--set entered over them, then the same rules. Exit 0 stored, 1 refused by the rules, 3 "
      "when someone changed it since --version (nothing written; who and what on stderr).");
  db(doc_correct);
  archive(doc_correct);
  form(doc_correct);
  doc_correct->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));
  doc_correct->add_option("--version", o.version, "the version the correction starts from")
      ->required()
      ->check(Whole(1));
  doc_correct->add_option("--set", sets, "NAME=VALUE, one field's new value (repeat for more)")
      ->required()
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  doc_correct->add_flag("--allow-duplicates", o.allow_duplicates,
                        "store it even when its index fields equal another document's");

  auto* doc_attach = documents->add_subcommand(
      "attach",
      "Keeps a file in the archive and names it in a document's file-link field: a new version "
      "of the document, file and version stored together. Exit 3 when someone changed it since "
      "--version (nothing written).");
  db(doc_attach);
  archive(doc_attach);
  doc_attach->add_option("--form", o.form, "the form (default: the archive's first)");
  doc_attach->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));
  doc_attach->add_option("--field", o.field, "the file-link field")->required();
  doc_attach->add_option("--file", o.file,
                         "the file (default: the path the field holds, as kept before the "
                         "archive kept files)");
  doc_attach->add_option("--version", o.version, "the version the change starts from")
      ->required()
      ->check(Whole(1));
  doc_attach->add_flag("--allow-duplicates", o.allow_duplicates,
                       "store it even when its index fields equal another document's");

  auto* doc_file = documents->add_subcommand(
      "file", "Writes the file a document's file-link field names, checked against its SHA-256.");
  db(doc_file);
  archive(doc_file);
  doc_file->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));
  doc_file->add_option("--field", o.field, "the file-link field")->required();
  doc_file->add_option("--out", o.out,
                       "the file to write, whole or not at all (default: standard output)");

  auto* doc_history = documents->add_subcommand(
      "history",
      "Prints every version of a document, deleted ones too: who, when (UTC), how, and the "
      "fields each changed (before -> after).");
  db(doc_history);
  archive(doc_history);
  doc_history->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));

  auto* doc_deleted =
      documents->add_subcommand("deleted", "Lists the archive's deleted documents, newest first.");
  db(doc_deleted);
  archive(doc_deleted);

  auto* doc_restore = documents->add_subcommand(
      "restore",
      "Makes an older version of a document (or a deleted one's last) its newest version.");
  db(doc_restore);
  archive(doc_restore);
  doc_restore->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));
  doc_restore->add_option("--version", o.version, "the version to bring back")
      ->required()
      ->check(Whole(1));

  auto* doc_pdf = documents->add_subcommand(
      "pdf", "Writes one stored document as a PDF: captions and values as on the form.");
  db(doc_pdf);
  archive(doc_pdf);
  form(doc_pdf);
  doc_pdf->add_option("--id", o.id, "the document's number")->required()->check(Whole(1));
  doc_pdf->add_option("--out", o.out, "the file to write (default: standard output)");
  auto* doc_find = documents->add_subcommand(
      "find", "Prints one page of the documents meeting every --where, as CSV.");
  doc_find->footer(
      "FIELD=VALUE equal, FIELD^START starts with, FIELD~TEXT contains (~TEXT: in any field), "
      "FIELD=FROM..TO a range, ends included (FROM.. or ..TO open); text in any letter case, "
      "dates and numbers as written in Italian. The page is in order of entry; the count and "
      "the --after of the next page are printed on standard error.");
  db(doc_find);
  archive(doc_find);
  doc_find->add_option("--where", o.where, "a search condition (repeat for more)");
  doc_find->add_option("--text", o.text,
                       "words on the pages of its files: every word, \"a phrase\", a prefix*");
  doc_find->add_option("--limit", o.limit, "documents per page (default 50)")->check(Whole(1));
  doc_find->add_option("--after", o.after, "the last document number of the page before")
      ->check(Whole(0));
  doc_find->add_option("--out", o.out, "the file to write (default: standard output)");

  auto* copy = app.add_subcommand(
      "copy", "copy archives, scripts, code lists, autocomplete values, documents and their files");
  copy->footer(
      "Copies everything the first database holds into the second, in one transaction of the "
      "second: a file into a PostgreSQL database (postgresql://user@host/db), or back. An "
      "archive the second one already has stops the copy before anything is written (exit 2).");
  copy->add_option("--from", o.file, "the database to copy from")->required();
  copy->add_option("--to", o.out, "the database to copy into (a new file is made)")->required();

  auto* intake = app.add_subcommand(
      "intake",
      "Takes scans into the archive's queue of documents to file: each file kept, its pages read, "
      "split into documents at blank pages (or kept whole), every page in the ledger.");
  db(intake);
  archive(intake);
  intake->add_option("--from", o.from, "a PDF, TIFF, JPEG or PNG file, or a folder of them");
  intake->add_option("--split", o.split,
                     "pagine-bianche (a blank page ends a document; default), codice (a "
                     "separator sheet with a barcode does) or intero");
  intake->add_option("--separatore", o.separator_code,
                     "the barcode of a separator sheet (--split codice): * any characters, ? "
                     "any one (default: the archive's setting, else * any barcode)");
  intake->add_flag("--watch", o.watch,
                   "keep watching the folder: each scan taken in once the scanner finished it");
  intake
      ->add_option("--leave", o.leave,
                   "put back in the queue the item of this number, taken by a program that "
                   "stopped (the ledger's first column)")
      ->check(CLI::PositiveNumber);
  intake->add_flag("--ledger", o.ledger,
                   "print the ledger instead: where every page of every stack went, who, when");
  intake->add_option("--out", o.out, "the file the ledger goes to (default: standard output)");
  intake->add_option("--workers", o.workers, "pages read at once (default: one per core)")
      ->check(Whole(1));

  auto* roles = app.add_subcommand(
      "roles", "PostgreSQL: the office's roles (designer, clerk, reader) and who holds them");
  roles->require_subcommand(1);
  auto* roles_setup = roles->add_subcommand(
      "setup",
      "Makes the roles kvt_designer (everything), kvt_clerk (documents, their history, codes, "
      "learnt values; reads the rest) and kvt_reader (reads) and grants them on the database, "
      "taking every right from PUBLIC. Run it as the database's owner, with CREATEROLE; again "
      "after an upgrade.");
  db(roles_setup);
  std::string grant_user, grant_role;
  auto* roles_grant = roles->add_subcommand(
      "grant", "Gives an existing login one role, taking away the other two.");
  db(roles_grant);
  roles_grant->add_option("USER", grant_user, "the login")->required();
  roles_grant->add_option("ROLE", grant_role, "kvt_designer, kvt_clerk or kvt_reader")
      ->required()
      ->check(CLI::IsMember({"kvt_designer", "kvt_clerk", "kvt_reader"}));

  auto* typelib = app.add_subcommand("typelib", "print the type library kvtFields 4.1 as JSON");
  auto* selfcheck =
      app.add_subcommand("selfcheck", "check locale, numbers, dates and late binding");

  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    for (const auto* c : app.get_subcommands({})) known = known || c->get_name() == argv[1];
    if (!known) {
      std::fprintf(stderr, "kvtfields: unknown command '%s' (try --help)\n", argv[1]);
      return 2;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "kvtfields: %s (try --help)\n", e.what());
    return 2;
  }
  const std::string command = app.get_subcommands().front()->get_name();
  // Said however the command ends.
  struct TripReport {
    bool on;
    ~TripReport() {
      if (on) {
        std::fprintf(stderr, "kvtfields: %lld richieste al database\n",
                     static_cast<long long>(kvtengine::ProcessRoundTrips()));
      }
    }
  } trip_report{verbose};
  try {
    for (const std::string& s : sets) {
      const auto eq = s.find('=');
      if (eq == std::string::npos || eq == 0) {
        throw UsageError{"--set needs NAME=VALUE, got '" + s + "'"};
      }
      o.sets.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    }
    if (*demo) return Demo(o);
    if (*show) return Show(o);
    if (*enter) return Enter(o);
    if (*check) return ArchiveCommand("check", o);
    if (*import) return ArchiveCommand("import", o);
    if (*exporter) return ArchiveCommand("export", o);
    if (*doc_import) return ImportDocuments(o);
    if (*doc_export) return ExportDocuments(o);
    if (*doc_delete) return DeleteDocument(o);
    if (*doc_show) return ShowDocument(o);
    if (*doc_correct) return CorrectDocument(o);
    if (*doc_attach) return AttachFile(o);
    if (*doc_file) return WriteFileOut(o);
    if (*check_files) return CheckFiles(o);
    if (*reindex) return ReindexFiles(o);
    if (*settings) return ArchiveSettings(o, set_separator->count() > 0);
    if (*export_bag) return ExportBag(o);
    if (*import_bag) return ImportBag(o);
    if (*check_bag) return CheckBag(o);
    if (*doc_history) return DocumentHistory(o);
    if (*doc_deleted) return DeletedDocuments(o);
    if (*doc_restore) return RestoreDocument(o);
    if (*doc_find) return FindDocuments(o);
    if (*doc_pdf) return DocumentPdf(o);
    if (*copy) return Copy(o);
    if (*intake) return Intake(o);
    if (*roles_setup) return Roles("setup", o, {}, {});
    if (*roles_grant) return Roles("grant", o, grant_user, grant_role);
    if (*typelib) {
      WriteOut("", {}, kvtfields::TypeLibraryJson());
      return 0;
    }
    if (*selfcheck) return SelfCheck();
    return 2;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kvtfields %s: %s\n", command.c_str(), kvt::Printable(e.message).c_str());
  } catch (const kvt::Error& e) {
    if (e.Number() == kvt::kObjectErrorBase + kvtengine::kNoPermission) {
      // Said to the person in their language: what the account may not do, nothing changed.
      const kvtapp::Problem p = kvtapp::ProblemOf(e);
      std::fprintf(stderr, "kvtfields %s: %s Non è stato cambiato nulla. (%s)\n", command.c_str(),
                   p.happened.c_str(), kvt::Printable(e.Description()).c_str());
      return 2;
    }
    // Object errors read best in hexadecimal (0x80040302), the runtime's classic ones in decimal.
    const char* format = e.Number() >= kvt::kObjectErrorBase
                             ? "kvtfields %s: %s (error 0x%08X, %s)\n"
                             : "kvtfields %s: %s (error %u, %s)\n";
    std::fprintf(stderr, format, command.c_str(), kvt::Printable(e.Description()).c_str(),
                 e.Number(), e.Source().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvtfields %s: %s\n", command.c_str(), e.what());
  }
  return 2;
}
