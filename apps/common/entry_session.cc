#include "common/entry_session.h"

#include <algorithm>
#include <utility>

#include "common/open_engine.h"
#include "common/problem.h"
#include "engine/common/engine_error.h"
#include "engine/files/stored_file.h"
#include "host/common/standard_controls.h"
#include "runtime/dictionary.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtapp {
namespace {

// A number as an Italian reader groups it: 1.234.567.
std::string Grouped(std::int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ".");
  }
  return n < 0 ? "-" + digits : digits;
}

Reply Done(bool done = true) {
  Reply r;
  r.done = done;
  return r;
}

Reply Shown(Notice notice, bool done = false) {
  Reply r;
  r.notice = std::move(notice);
  r.done = done;
  return r;
}

}  // namespace

EntrySession::EntrySession(Workspace::PersonOn person_on, std::shared_ptr<kvt::Platform> platform)
    : person_on_(std::move(person_on)), platform_(std::move(platform)) {}

EntrySession::~EntrySession() {
  ReturnIntake();
  // The document session refers to the workspace: it goes first.
  document_.reset();
  work_.reset();
}

Notice EntrySession::Failure(const std::string& what, const std::exception& e,
                             const std::string& todo) {
  // What failed, why in Italian, what to do; the original text (often the database's own, in
  // English) only under the details.
  const Problem problem = ProblemOf(e);
  return {what + "\n\n" + problem.happened + "\n\n" + (problem.todo.empty() ? todo : problem.todo),
          problem.details};
}

Notice EntrySession::Refusal(const std::string& what, const std::string& todo) {
  return {what + "\n\n" + todo, {}};
}

void EntrySession::SetStatus(std::string text, std::string detail) {
  status_ = std::move(text);
  status_detail_ = std::move(detail);
}

void EntrySession::SayReadOnly(const std::string& refused) {
  SetStatus("Il tuo account può solo consultare i documenti: non può " + refused);
}

void EntrySession::Open(const std::string& db, const std::string& archive, const std::string& form,
                        bool create) {
  auto next = std::make_unique<Workspace>(person_on_, platform_);
  auto in = next->Enter();
  next->Open(db, create);
  Install(std::move(next), db, archive, form);
}

void EntrySession::Open(std::shared_ptr<kvtengine::ArchiveEngine> engine,
                        const std::string& archive, const std::string& form) {
  auto next = std::make_unique<Workspace>(person_on_, platform_);
  auto in = next->Enter();
  const std::string where = engine->Where();
  next->Use(std::move(engine));
  Install(std::move(next), where, archive, form);
}

void EntrySession::Install(std::unique_ptr<Workspace> next, const std::string& db,
                           const std::string& archive, const std::string& form) {
  auto in = next->Enter();
  if (on_progress) next->OnProgress(on_progress);
  next->Build(archive, form);
  if (next->Fields().Count() == 0) {
    throw kvt::Error(2, "kvtfields-desk", "the archive " + archive + " has no fields");
  }
  pending_ = nullptr;
  ReturnIntake();
  if (on_replacing) on_replacing();
  document_.reset();
  work_ = std::move(next);
  db_ = db;
  archive_ = archive;
  entry_form_ = form;
  work_->Host().Errors().on_add = [this](const kvthost::ErrorList::Entry& e) {
    SetStatus(e.message);
    if (on_status) on_status();
  };
  work_->OnRefused([this](const std::string& why) {
    SetStatus(why);
    noted_ = true;  // stays while the clerk is in the field
    if (on_status) on_status();
    if (on_refused) on_refused(why);
  });
  Follow(work_->Window());
  document_ = std::make_unique<DocumentSession>(*work_);
  walk_.reset();
  walk_id_ = -1;
  last_stored_ = 0;
  modified_mark_ = false;
  Built();
}

void EntrySession::Start() {
  // What the account may not do is not offered; the server would refuse it anyway.
  try {
    rights_ = work_->Engine().AccountRights();
  } catch (const std::exception&) {
    rights_ = {};  // unknown: offered, and a refusal is said when it comes
  }
  if (!rights_.documents) SayReadOnly("salvarli");
  work_->Fields().FocusOnFirstControl();
}

void EntrySession::Built() {
  ++built_;
  mark_stale_ = false;  // a new baseline: whatever went unfollowed before no longer counts
  RefreshMark();
}

void EntrySession::Follow(kvthost::Form& form) {
  errors_seen_ = work_->Host().Errors().Entries().size();
  // The form may outlive the workspace the session holds (while one replaces another).
  kvthost::Form* followed = &form;
  auto current = [this, followed] { return work_ && &work_->Window() == followed; };
  form.on_active_changed = [this, current] {
    if (!current()) return;
    auto& list = work_->Host().Errors();
    if (list.Entries().size() == errors_seen_ && !noted_) SetStatus({});  // stale
    noted_ = false;
    errors_seen_ = list.Entries().size();
    if (on_status) on_status();
    if (on_focus_moved) on_focus_moved();
  };
  form.on_note = [this, current](kvthost::Control&, const std::string& note) {
    if (!current()) return;
    SetStatus(note);
    noted_ = true;  // said as the field is left: the move that follows keeps it
    if (on_status) on_status();
    if (on_refused) on_refused(note);  // why the field keeps the focus, where the eye is
  };
  form.on_focus_refused = [this, current](kvthost::Control&) {
    if (!current()) return;
    // A refusal without a message of its own (a script's check) still says why the focus stays.
    auto& list = work_->Host().Errors();
    if (list.Entries().size() == errors_seen_) {
      const auto field = FocusedField();
      SetStatus(field ? "Valore non accettato nel campo \"" + Caption(*field) + "\""
                      : std::string("Valore non accettato"));
    }
    errors_seen_ = list.Entries().size();
    if (on_status) on_status();
    if (on_refused) on_refused(status_);
  };
  form.on_control_changed = [this, current](kvthost::Control& c, kvthost::Control::Aspect a) {
    if (!current() || !document_) return;
    if (a != kvthost::Control::Aspect::kContent && a != kvthost::Control::Aspect::kSelection) {
      return;
    }
    if (a == kvthost::Control::Aspect::kContent && on_content) on_content();
    // Nobody draws the mark (a batch entering rows): it is worked out when asked for.
    if (!on_changed) {
      mark_stale_ = true;
      return;
    }
    if (mark_stale_) Remark();
    bool mark = modified_mark_;
    try {
      mark = document_->FollowChange(c);
    } catch (const std::exception&) {
      return;  // a control being taken down: the next command sets the mark
    }
    if (mark != modified_mark_) {
      modified_mark_ = mark;
      if (on_changed) on_changed();
    }
  };
}

void EntrySession::RefreshMark() const {
  if (mark_stale_ && !on_changed) return;  // nobody draws it: worked out when asked for
  Remark();
}

void EntrySession::Remark() const {
  // As the controls' changes were followed: no read of the whole form, unless changes went
  // unfollowed meanwhile.
  try {
    if (mark_stale_ && document_) document_->Resync();
    mark_stale_ = false;
    modified_mark_ = document_ && document_->Followed();
  } catch (const std::exception&) {
    modified_mark_ = false;  // a form that cannot be read holds nothing to save
  }
}

bool EntrySession::ModifiedMark() const {
  if (mark_stale_) Remark();
  return modified_mark_;
}

std::string EntrySession::Title() const {
  if (!work_) return "kvtfields";
  std::string title = archive_ + " - " + work_->FormName() + " - " + ShortName(db_);
  if (Id()) title = "Documento " + std::to_string(Id()) + " - " + title;
  if (ModifiedMark()) title = "* " + title;  // unsaved changes
  return title;
}

Reply EntrySession::Ask(Question q, std::function<Reply(int)> then) {
  pending_ = std::move(then);
  Reply r;
  r.question = std::move(q);
  return r;
}

Reply EntrySession::Answer(int answer) {
  if (!pending_) return {};
  auto then = std::move(pending_);
  pending_ = nullptr;
  auto in = work_ ? work_->Enter() : kvt::PlatformScope(platform_);
  return then(answer);
}

Reply EntrySession::Leave(std::function<Reply()> then) {
  if (!document_ || !rights_.documents) return then();  // nothing this account could store
  try {
    auto in = work_->Enter();
    if (!document_->Modified()) return then();
  } catch (const std::exception&) {
    return then();  // a form that cannot be read holds nothing to save
  }
  return Ask({"salva-modifiche", kSaveChangesQuestion, kvt::kMsgBoxYesNoCancel},
             [this, then = std::move(then)](int answer) -> Reply {
               if (answer == kvt::kMsgBoxAnswerNo) return then();
               if (answer != kvt::kMsgBoxAnswerYes) return Done(false);
               return SaveThen([this, then](bool saved) -> Reply {
                 if (saved && !document_->Modified()) return then();
                 return Done(false);
               });
             });
}

Reply EntrySession::New() {
  return Begin(&DocumentSession::New, "Nuovo documento",
               {"Il modulo non si ricostruisce.", "Riaprire il database."});
}

Reply EntrySession::Next() {
  return Begin(&DocumentSession::Next, "Nuovo documento con i campi riportati",
               {"Il documento successivo non si prepara.", "Usare Documento > Nuovo."});
}

Reply EntrySession::Begin(void (DocumentSession::*start)(), std::string said,
                          std::pair<std::string, std::string> failed) {
  if (!work_) return {};
  return Leave([this, start, said = std::move(said), failed = std::move(failed)] {
    try {
      auto in = work_->Enter();
      ReturnIntake();
      (document_.get()->*start)();
      ForgetWalkOfAll();
      Built();
      SetStatus(said);
      return Done();
    } catch (const std::exception& e) {
      return Shown(Failure(failed.first, e, failed.second));
    }
  });
}

Reply EntrySession::Save() {
  return SaveThen([](bool saved) { return Done(saved); });
}

Reply EntrySession::SaveThen(std::function<Reply(bool saved)> then) {
  if (!work_ || !document_) return then(false);
  if (!rights_.documents) {
    SayReadOnly("salvarli");
    return then(false);
  }
  try {
    auto in = work_->Enter();
    work_->Host().Errors().Clear();
    errors_seen_ = 0;
    if (intake_ && document_->Id() == 0) {
      document_->StoreWith(
          [this, item = intake_->id](std::int32_t id) { work_->Engine().FileIntake(item, id); });
    }
    SaveOutcome outcome = document_->Save();
    if (outcome.result == SaveOutcome::Result::kDuplicate) {
      // Probably typed twice; the person may know better (two invoices can share a number).
      return Ask(
          {"doppione", outcome.Message() + "\n\nSalvare comunque questo documento?",
           kvt::kMsgBoxOkCancel},
          [this, then = std::move(then)](int answer) -> Reply {
            if (answer != kvt::kMsgBoxAnswerOk) {
              SetStatus("Documento non salvato: è probabilmente un doppione");
              return then(false);
            }
            try {
              return AfterSave(document_->Save(/*allow_duplicate=*/true), then);
            } catch (const std::exception& e) {
              return Shown(Failure("Il documento non è stato salvato; il modulo è rimasto com'era.",
                                   e, "Riprovare o correggere i valori."));
            }
          });
    }
    return AfterSave(std::move(outcome), then);
  } catch (const std::exception& e) {
    return Shown(Failure("Il documento non è stato salvato; il modulo è rimasto com'era.", e,
                         "Riprovare o correggere i valori."));
  }
}

Reply EntrySession::AfterSave(SaveOutcome outcome, const std::function<Reply(bool saved)>& then) {
  if (outcome.result == SaveOutcome::Result::kConflict) return SettleConflict(outcome, then);
  if (outcome.Stored() && !outcome.corrected && walk_ && walk_->Criteria().empty() &&
      !walk_->Given()) {
    // The newest document: last in the walk of them all.
    walk_->Append(outcome.id);
    walk_id_ = outcome.id;
    walk_index_ = walk_->Count() - 1;
  }
  if (outcome.Stored()) last_stored_ = outcome.id;
  const bool filed = intake_ && outcome.Stored() && !outcome.corrected;
  if (filed) intake_.reset();  // filed with the document
  Reply shown = Stored(outcome);
  if (filed && outcome.result == SaveOutcome::Result::kStored && !outcome.merged) {
    SetStatus(status_ + "; pagine tolte dalla coda");
  }
  RefreshMark();
  const bool saved = outcome.Stored() || outcome.result == SaveOutcome::Result::kUnchanged;
  Reply r = then(saved);
  if (!r.notice) r.notice = std::move(shown.notice);
  if (outcome.Stored() && !r.touched) r.touched = outcome.id;
  return r;
}

Reply EntrySession::Stored(const SaveOutcome& outcome) {
  using Result = SaveOutcome::Result;
  const std::string named = document_->NamedFirst(outcome.id);
  switch (outcome.result) {
    case Result::kStored:
      if (outcome.merged) {
        std::string fields;
        for (const auto& f : outcome.conflict.fields) {
          fields += (fields.empty() ? "" : ", ") + CaptionOf(work_->Fields(), f.name);
        }
        SetStatus(named + " corretto insieme alle modifiche di " +
                  Author(outcome.conflict.now.saved_by) + " (" + fields + ")");
        break;
      }
      SetStatus(named + (outcome.corrected ? " corretto" : " salvato"));
      break;
    case Result::kUnchanged:
      SetStatus("Nessuna modifica da salvare: il " + document_->Named(outcome.id) +
                " è già salvato");
      break;
    case Result::kRefused:
    case Result::kDuplicate:
      return Shown(Refusal("Il documento non si salva:\n\n" + outcome.Message(),
                           "Compilare o correggere i campi indicati, poi Salva."));
    case Result::kConflict:
      return Shown(Refusal(outcome.Message(), "Salvare di nuovo per rivedere la scelta."));
  }
  return Done();
}

Reply EntrySession::SettleConflict(SaveOutcome outcome,
                                   const std::function<Reply(bool saved)>& then) {
  // Someone else's change came first. Fields only one of the two changed are merged; the person
  // decides only on the fields both changed, knowing whose and what, and Enter changes nothing.
  const bool deleted = outcome.conflict.now.change == kvtengine::Change::kDelete;
  const std::int32_t id = document_->Id();
  if (!deleted && outcome.both_changed.empty()) {
    return AfterSave(document_->Merge(/*mine_where_both=*/false), then);
  }
  const std::string who = Author(outcome.conflict.now.saved_by);
  std::string prompt;
  if (deleted) {
    prompt =
        outcome.Message() + "\n\nSalvare comunque i tuoi valori?\n\nSì: il documento torna " +
        "con i tuoi valori (l'eliminazione resta nella cronologia).\nNo: lascia il documento " +
        "eliminato (le tue modifiche si perdono).\nAnnulla: resta sul modulo senza salvare.";
  } else {
    prompt = "Il " + document_->Named(id) + " è stato modificato da " + who + " il " +
             LocalTime(outcome.conflict.now.saved_at) +
             " dopo che l'hai aperto. Avete cambiato entrambi:";
    auto shown = [](const std::string& v) {
      return v.empty() ? std::string("(vuoto)") : "\"" + v + "\"";
    };
    for (const auto& [name, mine, theirs] : outcome.both_changed) {
      prompt += "\n  " + CaptionOf(work_->Fields(), name) + ": tuo " + shown(mine) + ", suo " +
                shown(theirs);
    }
    prompt += "\n\nGli altri campi cambiati da te o da " + who + " vengono uniti.\n\n" +
              "Sì: per questi campi valgono i tuoi valori.\nNo: per questi campi valgono i " +
              "suoi.\nAnnulla: resta sul modulo senza salvare.";
  }
  return Ask(
      {"conflitto", prompt, kvt::kMsgBoxYesNoCancel | kvt::kMsgBoxDefaultButton3},
      [this, deleted, id, then](int answer) -> Reply {
        try {
          if (answer == kvt::kMsgBoxAnswerYes || (!deleted && answer == kvt::kMsgBoxAnswerNo)) {
            return AfterSave(deleted ? document_->KeepMine()
                                     : document_->Merge(
                                           /*mine_where_both=*/answer == kvt::kMsgBoxAnswerYes),
                             then);
          }
          if (answer == kvt::kMsgBoxAnswerNo) {
            const std::string named = document_->Named(id);
            document_->New();
            LeftBehind(id, "Il " + named + " resta eliminato");
            return then(false);
          }
        } catch (const std::exception& e) {
          return Shown(Failure("Il documento non è stato salvato; il modulo è rimasto com'era.", e,
                               "Riprovare o correggere i valori."));
        }
        SetStatus("Documento non salvato: un altro utente lo ha cambiato");
        return then(false);
      });
}

void EntrySession::LeftBehind(std::int32_t id, const std::string& said) {
  if (walk_) walk_->Forget(id);
  walk_id_ = -1;
  Built();
  SetStatus(said);
}

Reply EntrySession::Delete() {
  if (!document_) return {};
  if (!rights_.documents) {
    SayReadOnly("eliminarli");
    return {};
  }
  const std::int32_t id = document_->Id();
  if (id == 0) {
    SetStatus("Il documento non è ancora salvato: non c'è niente da eliminare");
    return {};
  }
  // Named now: once deleted, the document is no longer there to read its name from.
  const std::string named = document_->Named(id);
  const std::string named_first = document_->NamedFirst(id);
  return Ask({"elimina",
              "Eliminare il " + named +
                  "?\n\nResterà nella cronologia: Visualizza > Documenti eliminati lo ripristina.",
              kvt::kMsgBoxOkCancel},
             [this, id, named, named_first](int answer) -> Reply {
               if (answer != kvt::kMsgBoxAnswerOk) return {};
               try {
                 document_->Delete();
                 LeftBehind(id, named_first + " eliminato");
                 Reply r = Done();
                 r.touched = id;
                 return r;
               } catch (const std::exception& e) {
                 return Shown(Failure("Il " + named + " non è stato eliminato.", e, "Riprovare."));
               }
             });
}

Reply EntrySession::Undo() {
  if (!work_ || !document_) return {};
  try {
    auto in = work_->Enter();
    // Values offered under the box go first: closed, and what was typed stays.
    if (auto box = std::dynamic_pointer_cast<kvthost::TextBoxBase>(work_->Window().Active());
        box && !box->Suggestions().empty()) {
      box->ShowSuggestions({});
      return Done();
    }
    if (work_->Window().RevertFocused()) return Done();  // the field back to its value on entry
    if (!document_->Modified()) return {};
    document_->Revert();
    RefreshMark();
    SetStatus("Modifiche annullate");
    return Done();
  } catch (const std::exception& e) {
    return Shown(Failure("Le modifiche non si annullano.", e, "Documento > Nuovo."));
  }
}

Reply EntrySession::FirstField() {
  if (!work_ || !document_) return {};
  try {
    return document_->FocusFirstField() ? Done() : Reply{};
  } catch (const std::exception& e) {
    return Shown(Failure("Il primo campo non si raggiunge.", e, "Tab."));
  }
}

Reply EntrySession::NextMissing() {
  if (!work_ || !document_) return {};
  try {
    if (document_->FocusNextMissing()) return Done();
    if (document_->MissingRequired().empty()) SetStatus("Nessun campo obbligatorio è vuoto");
    return {};
  } catch (const std::exception& e) {
    return Shown(Failure("Il campo obbligatorio vuoto non si raggiunge.", e, "Tab."));
  }
}

Reply EntrySession::CopyPrevious() {
  if (!work_ || !document_) return {};
  try {
    auto in = work_->Enter();
    const auto control = work_->Window().Active();
    const auto field = FocusedField();
    if (!field) {
      SetStatus("Il valore del documento precedente va in un campo: entrare prima nel campo");
      return {};
    }
    if (std::dynamic_pointer_cast<kvthost::FileLinker>(control)) {
      SetStatus("Un file si allega con Documento > Allega file");
      return {};
    }
    // From a new document: the one this session stored last, else the archive's last.
    auto& walk = Walk();
    (void)Where();
    std::int32_t before = 0;
    if (walk_index_ >= 0) {
      before = walk.At(walk_index_ - 1);
    } else if (Id() == 0 && last_stored_ != 0) {
      before = last_stored_;
    } else if (Id() == 0) {
      before = walk.Last();
    }
    if (before == 0) {
      SetStatus("Non c'è un documento precedente da cui copiare");
      return {};
    }
    const auto values =
        std::dynamic_pointer_cast<kvt::Dictionary>(work_->Engine().LoadDocument(before));
    const kvt::Variant value =
        values && values->Exists(field->Name()) ? values->Item(field->Name()) : kvt::Variant();
    const bool empty = value.IsNull() || value.IsEmpty() || kvt::CStr(value).empty();
    // Through the control, as the person would: its rules, case and scripts apply.
    auto& person = work_->Person();
    if (std::dynamic_pointer_cast<kvthost::DatePicker>(control)) {
      person.PickDate(empty ? kvt::Variant::Null() : value);
    } else if (std::dynamic_pointer_cast<kvthost::CodeCombo>(control)) {
      if (empty) {
        person.Clear();
      } else {
        person.Choose(kvt::CStr(value));
      }
    } else {
      person.Clear();
      if (!empty) person.Paste(kvt::CStr(value));
    }
    SetStatus("\"" + field->Label() + "\" come nel documento precedente");
    return Done();
  } catch (const std::exception& e) {
    return Shown(Failure("Il valore del documento precedente non si copia.", e, "Scriverlo."));
  }
}

std::shared_ptr<kvtfields::FieldType> EntrySession::FocusedField() {
  const auto control = work_->Window().Active();
  if (!control) return nullptr;
  auto& fields = work_->Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto f = fields.Item(kvt::Variant(i));
    if (f->LinkedControl() == control) return f;
  }
  return nullptr;
}

Reply EntrySession::TogglePin() {
  if (!work_ || !document_) return {};
  try {
    auto in = work_->Enter();
    const auto field = FocusedField();
    if (!field) {
      SetStatus("Si mantiene il campo in cui si è: entrare prima nel campo");
      return {};
    }
    const std::string caption = "\"" + Caption(*field) + "\"";
    if (field->IsRetainInMemory()) {
      SetStatus(caption + " passa già al documento successivo: lo riporta l'archivio");
      return {};
    }
    if (std::dynamic_pointer_cast<kvthost::FileLinker>(field->LinkedControl())) {
      SetStatus("Un file non passa al documento successivo: si allega a ciascuno");
      return {};
    }
    const bool on = !document_->Pinned().count(field->Name());
    document_->Pin(field->Name(), on);
    SetStatus(on ? caption + " mantenuto: passa ai documenti successivi"
                 : caption + " non più mantenuto");
    return Done();
  } catch (const std::exception& e) {
    return Shown(Failure("Il campo non si mantiene.", e, "Riscriverlo nel documento successivo."));
  }
}

void EntrySession::ForgetWalkOfAll() {
  // Counted again when next needed: other people may have stored documents since.
  if (walk_ && walk_->Criteria().empty() && !walk_->Given()) walk_.reset();
  walk_id_ = -1;
}

DocumentWalk& EntrySession::Walk() {
  if (!walk_) {
    walk_ = std::make_unique<DocumentWalk>(work_->EngineRef(), archive_);
    walk_id_ = -1;
  }
  return *walk_;
}

EntrySession::Position EntrySession::Where() {
  Position p;
  if (!work_) return p;
  std::int64_t count = 0;
  try {
    auto& walk = Walk();
    if (walk_id_ != Id()) {
      walk_index_ = Id() ? walk.IndexOf(Id()) : -1;
      walk_id_ = Id();
    }
    count = walk.Count();
  } catch (const std::exception&) {
    // The database is gone: the navigator says nothing and leads nowhere, the form stays.
    walk_.reset();
    return p;
  }
  // What was found is said so: the archive may hold more.
  const bool found = !walk_->Criteria().empty() || walk_->Given();
  const std::string total =
      Grouped(count) + (found ? (count == 1 ? " trovato" : " trovati") : std::string());
  if (walk_index_ >= 0) {
    p.text = Grouped(walk_index_ + 1) + " di " + total;
  } else if (count == 0) {
    p.text = found ? "Nessun documento trovato" : "Nessun documento";
  } else if (Id()) {
    p.text = "– di " + total;  // not among those found
  } else {
    p.text = "Nuovo, " + total + (found ? "" : count == 1 ? " documento" : " documenti");
  }
  p.first = count > 0 && walk_index_ != 0;
  p.previous = count > 0 && walk_index_ != 0;
  p.next = walk_index_ >= 0 && walk_index_ + 1 < count;
  p.last = count > 0 && walk_index_ + 1 != count;
  return p;
}

Reply EntrySession::Move(Step step) {
  if (!work_ || !document_) return {};
  try {
    auto& walk = Walk();
    (void)Where();
    const std::int64_t at = walk_index_;
    std::int64_t index = -1;
    switch (step) {
      case Step::kFirst:
        index = 0;
        break;
      case Step::kPrevious:
        index = at < 0 ? -2 : at - 1;  // from a new document: the last one stored
        break;
      case Step::kNext:
        index = at < 0 ? -1 : at + 1;
        break;
      case Step::kLast:
        index = -2;
        break;
    }
    std::int32_t id = 0;
    if (index == -2) {
      id = walk.Last();
      index = walk.Count() - 1;
    } else {
      id = walk.At(index);
    }
    if (id == 0) {
      SetStatus("Non ci sono altri documenti");
      return {};
    }
    if (id == Id()) return {};
    return Leave([this, id, index] {
      Reply r = OpenStored(id);
      if (Id() == id) {
        walk_id_ = id;
        walk_index_ = index;
      }
      return r;
    });
  } catch (const std::exception& e) {
    return Shown(Failure("I documenti non si leggono.", e, "Riaprire il database."));
  }
}

Reply EntrySession::Correct(std::int32_t id) {
  if (!document_) return {};
  return Leave([this, id] { return OpenStored(id); });
}

Reply EntrySession::OpenFound(std::int32_t id, std::vector<kvtengine::Criterion> criteria,
                              std::vector<std::int32_t> sorted) {
  if (!document_) return {};
  return Leave([this, id, criteria = std::move(criteria), sorted = std::move(sorted)]() mutable {
    try {
      // The navigator walks what was found from here on.
      walk_ = sorted.empty()
                  ? std::make_unique<DocumentWalk>(work_->EngineRef(), archive_, criteria)
                  : std::make_unique<DocumentWalk>(std::move(sorted));
      walk_id_ = -1;
    } catch (const std::exception& e) {
      return Shown(Failure("I documenti non si leggono.", e, "Riaprire il database."));
    }
    return OpenStored(id);
  });
}

Reply EntrySession::OpenStored(std::int32_t id) {
  try {
    auto in = work_->Enter();
    ReturnIntake();
    document_->Open(id, review_form_);
    Built();
    std::string said = "Correzione del " + document_->Named(id) + ": Salva registra le correzioni";
    if (!document_->Extras().empty()) {
      // Values the form has no field for (renamed since, or not on this form) stay stored as
      // they are; the person is told they exist.
      std::string extras;
      for (const auto& [name, v] : document_->Extras()) {
        std::string text = kvt::JoinText(v);  // Null and Empty as ""
        if (kvt::CharLength(text) > 40)
          text = text.substr(0, kvt::ByteOffsetOfChar(text, 40)) + "…";
        extras += (extras.empty() ? "" : "; ") + kvt::Printable(name) + " = \"" +
                  kvt::Printable(text) + "\"";
      }
      said += ". Valori fuori dal modulo, conservati: " + extras;
      SetStatus(said, said);
    } else {
      SetStatus(said);
    }
    work_->Fields().FocusOnFirstControl();
    return Done();
  } catch (const std::exception& e) {
    Reply r = Shown(Failure("Il documento " + std::to_string(id) + " non si apre.", e,
                            "Scegliere un altro documento."));
    try {
      document_->New();
    } catch (const std::exception&) {
      // The form stays as the failure left it; the next command says why.
    }
    Built();
    return r;
  }
}

Reply EntrySession::Restore(std::int32_t id, std::int32_t version, std::int32_t base) {
  if (!work_ || !document_) return {};
  if (!rights_.documents) {
    SayReadOnly("ripristinarli");
    return {};
  }
  return Leave([this, id, version, base] {
    try {
      const std::int32_t made = work_->Engine().RestoreDocument(id, version, base);
      ForgetWalkOfAll();         // a deleted one is back among the archive's documents
      Reply r = OpenStored(id);  // a failure to open it is said; the version is back all the same
      r.done = true;
      SetStatus(document_->NamedFirst(id) + ": ripristinata la versione " +
                std::to_string(version) + " (ora versione " + std::to_string(made) + ")");
      r.touched = id;
      return r;
    } catch (const std::exception& e) {
      return Shown(Failure("La versione " + std::to_string(version) + " del documento " +
                               std::to_string(id) + " non è stata ripristinata.",
                           e, "Riaprire la cronologia e riprovare."));
    }
  });
}

kvtengine::Criterion EntrySession::CriterionOf(const std::string& field, const std::string& text) {
  kvtengine::Criterion c{field, kvtengine::Criterion::Op::kContains, text, ""};
  // As the engine compares the field: text, or a number or date.
  const bool text_field =
      field.empty() || work_->Engine().KindOf(archive_, field) == kvtengine::SearchKind::kText;
  if (const auto dots = text.find(".."); dots != std::string::npos) {
    c = {field, kvtengine::Criterion::Op::kRange, text.substr(0, dots), text.substr(dots + 2)};
  } else if (text.find('*') != std::string::npos || field.empty()) {
    std::erase(c.value, '*');
  } else {
    // Text starts with what is typed; a number or date is equal to it.
    c.op = text_field ? kvtengine::Criterion::Op::kPrefix : kvtengine::Criterion::Op::kEqual;
  }
  return c;
}

std::string EntrySession::RefusedCriterion(const std::vector<kvtengine::Criterion>& criteria) {
  // Which one, in the person's words: the engine's text names the field's inner name.
  for (const auto& c : criteria) {
    const auto kind =
        c.field.empty() ? kvtengine::SearchKind::kText : work_->Engine().KindOf(archive_, c.field);
    try {
      (void)kvtengine::KeyConditionOf(c, kind, "kvtfields-desk");
      continue;
    } catch (const kvt::Error&) {
    }
    if (c.op == kvtengine::Criterion::Op::kWords) {
      return "Parole: scrivere almeno una parola da cercare nelle pagine.";
    }
    if (c.field.empty()) return "In tutti i campi si cerca un testo, non un intervallo.";
    const std::string caption = CaptionOf(work_->Fields(), c.field);
    if (kind == kvtengine::SearchKind::kDate) {
      return caption + ": scrivere una data (gg/mm/aaaa) o un intervallo da..a.";
    }
    if (kind == kvtengine::SearchKind::kNumber) {
      return caption + ": scrivere un numero o un intervallo da..a.";
    }
    return caption + ": criterio non valido.";
  }
  return "Criterio non valido.";
}

void EntrySession::ReturnIntake() {
  if (!intake_) return;
  const std::int64_t id = intake_->id;
  intake_.reset();
  try {
    work_->Engine().LeaveIntake(id);
  } catch (const std::exception&) {
    // Left by another way already (intake --leave), or the database is gone: a stopped
    // program's item is put back by intake --leave.
  }
}

std::int64_t EntrySession::IntakeWaiting() {
  if (!work_) return 0;
  try {
    return work_->Engine().IntakeWaiting(archive_);
  } catch (const std::exception&) {
    return 0;
  }
}

Reply EntrySession::TakeIntake() {
  if (!work_ || !document_) return {};
  if (!rights_.documents) {
    SayReadOnly("archiviare le pagine in coda");
    return Done(false);
  }
  return Leave([this]() -> Reply {
    try {
      auto in = work_->Enter();
      ReturnIntake();
      // The form's first file-link field names the pages.
      std::shared_ptr<kvthost::FileLinker> link;
      auto& fields = work_->Fields();
      for (std::int32_t i = 1; i <= fields.Count() && !link; ++i) {
        link = std::dynamic_pointer_cast<kvthost::FileLinker>(
            fields.Item(kvt::Variant(i))->LinkedControl());
      }
      if (!link) {
        return Shown(
            Refusal("Il modulo non ha un campo per i file: le pagine in coda non si "
                    "possono archiviare con esso.",
                    "Aprire un modulo dell'archivio che abbia un campo per i file."));
      }
      auto item = work_->Engine().TakeIntake(archive_);
      if (!item) {
        SetStatus("Nessun documento da archiviare: la coda di " + archive_ + " è vuota");
        return Done(false);
      }
      kvtfiles::FileRef ref{item->sha256, item->name};
      if (!item->pages_sha256.empty()) {
        kvtfiles::StoredFile cut;
        if (!work_->Engine().FindFile(item->pages_sha256, cut)) {
          work_->Engine().LeaveIntake(item->id);
          throw kvtengine::EngineError(
              kvtengine::kBadFile, "kvtfields-desk",
              "Le pagine separate della pila " + item->name + " mancano dall'archivio");
        }
        ref = {cut.sha256, cut.name};
      }
      intake_ = std::move(item);
      document_->Next();
      ForgetWalkOfAll();
      Built();
      link = nullptr;  // the form was built again
      for (std::int32_t i = 1; i <= fields.Count() && !link; ++i) {
        link = std::dynamic_pointer_cast<kvthost::FileLinker>(
            fields.Item(kvt::Variant(i))->LinkedControl());
      }
      if (link) link->LetText(kvtfiles::FileRefText(ref));
      document_->Settle();
      mark_stale_ = false;
      RefreshMark();
      const std::int32_t last = intake_->first_page + intake_->pages - 1;
      SetStatus("Da archiviare: " + intake_->name + ", pagin" +
                (intake_->pages == 1
                     ? "a " + std::to_string(last)
                     : "e " + std::to_string(intake_->first_page) + "-" + std::to_string(last)) +
                "; Salva lo archivia e apre il successivo");
      return Done();
    } catch (const std::exception& e) {
      ReturnIntake();
      return Shown(Failure("Le pagine in coda non si aprono.", e, "Riprovare più tardi."));
    }
  });
}

}  // namespace kvtapp
