#include "desk_window.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <thread>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QToolTip>

#include <map>
#include <optional>

#include "common/document_files.h"
#include "common/field_boxes.h"
#include "common/open_engine.h"
#include "common/output_file.h"
#include "file_dialogs.h"
#include "host/common/standard_controls.h"
#include "host/qt/qt_control.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtdesk {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

DeskWindow::DeskWindow(std::string db, std::string archive, std::string form, bool make_sample)
    : archive_(std::move(archive)),
      entry_form_(std::move(form)),
      entry_(QtPersonOn()),
      make_sample_(make_sample) {
  setWindowTitle("kvtfields");
  message_ = new QLabel(this);
  statusBar()->addWidget(message_, 1);
  BuildPreview();
  BuildMenus();
  entry_.on_progress = [this](int done, int total) { ShowProgress(done, total); };
  entry_.on_status = [this] { ShowStatus(); };
  // Where the eye is: a key refused is said beside the field as well as in the status line.
  entry_.on_refused = [](const std::string& why) {
    if (QWidget* w = QApplication::focusWidget()) {
      QToolTip::showText(w->mapToGlobal(QPoint(0, w->height())), Q(why), w);
    }
  };
  entry_.on_focus_moved = [this] {
    FollowFocus();
    FollowProposals();
  };
  // The unsaved-changes mark follows the controls' changes as the person types.
  entry_.on_changed = [this] {
    setWindowTitle(Q(entry_.Title()));
    UpdatePreview();
  };
  // A proposed value typed over is the clerk's from then on.
  entry_.on_content = [this] { FollowProposals(); };
  // The old form leaves its frame before its workspace goes, which closes it.
  entry_.on_replacing = [this] { ReleaseForm(); };
  OpenDatabase(db);
}

DeskWindow::~DeskWindow() {
  CloseFieldViewer();
  ReleaseForm();
}

void DeskWindow::ReleaseForm() {
  // The form's window belongs to the library's viewer, which closes it: the scroll area must
  // not delete it too.
  if (auto* scroll = qobject_cast<QScrollArea*>(centralWidget())) scroll->takeWidget();
}

bool DeskWindow::Run(kvtapp::Reply reply) {
  for (;;) {
    if (reply.notice) Show(*reply.notice);
    if (reply.touched) RefreshHistory(reply.touched);
    if (!reply.question) break;
    const int answer =
        kvt::CurrentPlatform().MsgBox(reply.question->text, reply.question->buttons, "kvtfields");
    reply = entry_.Answer(answer);
  }
  Redraw();
  return reply.done;
}

void DeskWindow::Show(const kvtapp::Notice& notice) {
  if (notice.details.empty()) {
    kvt::CurrentPlatform().MsgBox(notice.text, kvt::kMsgBoxOkOnly, "kvtfields");
  } else if (auto* qt = dynamic_cast<kvthost::qt::QtDesktop*>(&kvt::CurrentPlatform())) {
    qt->ShowProblem(notice.text, notice.details, "kvtfields");
  } else {
    kvt::CurrentPlatform().MsgBox(notice.text + "\n\nDettagli: " + notice.details,
                                  kvt::kMsgBoxOkOnly, "kvtfields");
  }
}

void DeskWindow::ShowError(const std::string& what, const std::string& todo) {
  Show(kvtapp::EntrySession::Refusal(what, todo));
}

void DeskWindow::ShowFailure(const std::string& what, const std::exception& e,
                             const std::string& todo) {
  Show(kvtapp::EntrySession::Failure(what, e, todo));
}

void DeskWindow::ShowStatus() {
  message_->setText(Q(entry_.Status()));
  message_->setToolTip(Q(entry_.StatusDetail()));
}

void DeskWindow::Redraw() {
  if (!Work()) return;
  setWindowTitle(Q(entry_.Title()));
  ShowStatus();
  if (marked_ != entry_.FormsBuilt()) MarkRequired();
  if (entry_.Document() && (pins_marked_.first != entry_.FormsBuilt() ||
                            pins_marked_.second != entry_.Document()->Pinned())) {
    MarkPinnedFields(*Work(), entry_.Document()->Pinned());
    pins_marked_ = {entry_.FormsBuilt(), entry_.Document()->Pinned()};
  }
  if (!position_) return;
  const auto at = entry_.Where();
  position_->setText(Q(at.text));
  const bool can[] = {at.first, at.previous, at.next, at.last};
  for (int i = 0; i < 4; ++i) steps_[i]->setEnabled(can[i]);
  UpdatePreview();
}

void DeskWindow::BuildPreview() {
  preview_ = new PreviewPane(this);
  preview_->on_word = [this](const std::string& words, int page, const QRectF& place) {
    PutWords(words, page, place);
  };
  preview_dock_ = new QDockWidget("Anteprima", this);
  preview_dock_->setObjectName("anteprima");  // its place and size are remembered by name
  preview_dock_->setWidget(preview_);
  preview_dock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::RightDockWidgetArea, preview_dock_);
  resizeDocks({preview_dock_}, {420}, Qt::Horizontal);
  setAcceptDrops(true);
  restoreState(QSettings("kvtfields", "kvtfields-desk").value("Window/state").toByteArray());
}

std::shared_ptr<kvthost::FileLinker> DeskWindow::FileLink(std::string* name) const {
  if (!Work()) return nullptr;
  auto& fields = Work()->Fields();
  std::shared_ptr<kvthost::FileLinker> first;
  const auto active = Work()->Window().Active();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    auto link = std::dynamic_pointer_cast<kvthost::FileLinker>(field->LinkedControl());
    if (!link) continue;
    if (link == active || !first) {
      first = link;
      if (name) *name = field->Name();
      if (link == active) break;
    }
  }
  return first;
}

void DeskWindow::KeepPickedFiles() {
  auto& fields = Work()->Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    auto link = std::dynamic_pointer_cast<kvthost::FileLinker>(field->LinkedControl());
    if (!link) continue;
    link->SetChooser([this](const std::string& path) -> std::optional<std::string> {
      try {
        return kvtapp::ChooseFile(*Work(), path);
      } catch (const std::exception& e) {
        ShowFailure("Il file non si può allegare.", e,
                    "Scegliere un altro file, o controllare che si possa leggere.");
        return std::nullopt;
      }
    });
  }
}

bool DeskWindow::AttachFile(const std::string& path) {
  std::string name;
  auto link = FileLink(&name);
  if (!link) {
    ShowError("Il modulo non ha un campo per i file.", "Allegare il file da un altro modulo.");
    return false;
  }
  const std::string before = link->Text();
  if (Work()->Window().Active() != link) Work()->Person().Focus(name);
  link->Browse(path);
  Redraw();
  return link->Text() != before || kvtfiles::ParseFileRef(link->Text()).has_value();
}

void DeskWindow::UpdatePreview() {
  if (!preview_ || !Work()) return;
  // Called at every change the person makes: only the form's file links are looked at, found
  // once per build of the form, and the rest only when what they hold changed.
  if (links_built_ != entry_.FormsBuilt()) {
    links_.clear();
    auto& fields = Work()->Fields();
    for (std::int32_t i = 1; i <= fields.Count(); ++i) {
      auto field = fields.Item(kvt::Variant(i));
      if (auto link = std::dynamic_pointer_cast<kvthost::FileLinker>(field->LinkedControl()))
        links_.emplace_back(link, field->Name());
    }
    links_built_ = entry_.FormsBuilt();
    shown_link_.clear();
  }
  // The first file link holding a kept or picked file.
  std::string name, text;
  for (const auto& [weak, field] : links_) {
    const auto link = weak.lock();
    if (!link || !kvtfiles::ParseFileRef(link->Text())) continue;
    name = field;
    text = link->Text();
    break;
  }
  const std::string shown = entry_.Database() + "\n" + std::to_string(entry_.Id()) + "\n" + text;
  if (shown == shown_link_) return;
  shown_link_ = shown;
  const auto ref = kvtfiles::ParseFileRef(text);
  const std::string whose =
      (entry_.Id() ? "documento " + std::to_string(entry_.Id()) + ", " : std::string()) + "campo " +
      name;
  // A file picked is shown from where it is until the save keeps it.
  std::string chosen;
  if (ref) {
    kvtfiles::StoredFile kept;
    const std::string* path = Work()->ChosenFile(ref->sha256);
    if (path && !Work()->Engine().FindFile(ref->sha256, kept)) chosen = *path;
  }
  preview_->ShowFile(entry_.Database(), ref, whose, chosen);
}

namespace {

// A date as written on a page: day, month and year parted by '/', '.' or '-' (a year of two
// digits is this century's), or the month by its Italian name ("5 dicembre 2026", "5 dic.
// 2026"); nothing for anything else, or a day that is none.
std::optional<kvt::Variant> PageDate(const std::string& word) {
  int parts[3] = {0, 0, 0};
  int part = 0, digits = 0;
  std::string month_name;
  for (const char c : word) {
    if (c >= '0' && c <= '9') {
      if (!month_name.empty() && part == 1) {
        part = 2;  // the year after the month's name
        digits = 0;
      }
      if (++digits > (part == 2 ? 4 : 2)) return std::nullopt;
      parts[part] = parts[part] * 10 + (c - '0');
    } else if ((c == '/' || c == '.' || c == '-') && digits > 0 && part < 2 && month_name.empty()) {
      ++part;
      digits = 0;
    } else if (part <= 1 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
      if (part == 0) {
        if (digits == 0) return std::nullopt;
        part = 1;
      }
      month_name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    } else if ((c == ' ' || c == '.') && (digits > 0 || !month_name.empty())) {
      continue;
    } else {
      return std::nullopt;
    }
  }
  if (!month_name.empty()) {
    static constexpr const char* kMonths[] = {"gennaio",   "febbraio", "marzo",    "aprile",
                                              "maggio",    "giugno",   "luglio",   "agosto",
                                              "settembre", "ottobre",  "novembre", "dicembre"};
    parts[1] = 0;
    for (int m = 0; m < 12; ++m) {
      const std::string_view full = kMonths[m];
      // The whole name, or its first three letters ("dic").
      if (month_name == full || (month_name.size() == 3 && full.substr(0, 3) == month_name)) {
        parts[1] = m + 1;
      }
    }
    if (parts[1] == 0) return std::nullopt;
  }
  if (part != 2 || (digits != 2 && digits != 4)) return std::nullopt;
  const int year = digits == 2 ? 2000 + parts[2] : parts[2];
  const int month = parts[1], day = parts[0];
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap)) {
    return std::nullopt;
  }
  return kvt::Variant(kvt::MakeDate(year, month, day));
}

// The same, after the label a box took with it ("del", "Data:", "Milano, lì"): the words before
// the first number are passed over when the rest is a date.
std::optional<kvt::Variant> LabelledPageDate(const std::string& words) {
  if (auto date = PageDate(words)) return date;
  const auto number = words.find_first_of("0123456789");
  if (number == std::string::npos || number == 0) return std::nullopt;
  return PageDate(words.substr(number));
}

}  // namespace

constexpr std::int16_t kKeyA = 65, kCtrl = 2;

bool DeskWindow::PutWord(const std::string& word) {
  if (!Work()) return false;
  auto& person = Work()->Person();
  const std::string field = person.Focused();
  auto& fields = Work()->Fields();
  if (field.empty() || fields.Index(field) == 0) {
    entry_.SetStatus("Fare clic prima nel campo in cui mettere la parola.");
    ShowStatus();
    return false;
  }
  auto control = fields.Item(kvt::Variant(field))->LinkedControl();
  if (dynamic_cast<kvthost::DatePicker*>(control.get())) {
    const auto date = LabelledPageDate(word);
    if (!date) {
      entry_.SetStatus("\"" + word + "\" non è una data.");
      ShowStatus();
      return false;
    }
    person.PickDate(*date);
  } else {
    std::string text = word;
    // "1.234,50" on the page is 1234,50 in a number field: the points only group the digits.
    // A label taken with the number ("N. 2044", "Colli 12") is not part of it.
    if (Work()->Engine().KindOf(Work()->Archive(), field) == kvtengine::SearchKind::kNumber) {
      std::string digits;
      std::istringstream words(word);
      for (std::string w; words >> w;) {
        if (w.find_first_of("0123456789") != std::string::npos) digits += w;
      }
      if (!digits.empty()) text = digits;
      std::erase(text, '.');
    }
    // Typed over the whole field, through its own checks: a word it refuses leaves it as it was.
    person.PressKey(kKeyA, kCtrl);
    person.Type(text);
  }
  Redraw();
  return true;
}

namespace {

// The text a field holds, as compared to tell a value typed over.
std::string FieldText(kvtapp::Workspace& w, const std::string& field) {
  auto& fields = w.Fields();
  if (fields.Index(field) == 0) return {};
  return kvt::JoinText(fields.Item(kvt::Variant(field))->Value());
}

// The same text but for the letter case a field may give it as it is left.
bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

QWidget* InputOf(kvtapp::Workspace& w, const std::string& field) {
  auto& fields = w.Fields();
  if (fields.Index(field) == 0) return nullptr;
  auto* q = dynamic_cast<kvthost::qt::QtControl*>(
      fields.Item(kvt::Variant(field))->LinkedControl().get());
  return q ? q->FocusWidget() : nullptr;
}

// A value is a few words: a box over more was drawn over too much of the page.
constexpr std::size_t kMostWords = 12, kMostBytes = 200;
constexpr double kMostOfPage = 0.15;  // of the page's area

// The look of a field holding a proposed value, until it is accepted or typed over.
constexpr const char* kProposedStyle = "background-color: #ffe0a0; color: #000000;";

}  // namespace

bool DeskWindow::PutWords(const std::string& words, int page, const QRectF& place) {
  if (!Work()) return false;
  if (words.empty()) {
    entry_.SetStatus("Nessuna parola nel riquadro: disegnarlo sopra le parole da prendere.");
    ShowStatus();
    return false;
  }
  const std::size_t count = kvtengine::SearchWords(words).size();
  if (count > kMostWords || words.size() > kMostBytes ||
      place.width() * place.height() > kMostOfPage) {
    entry_.SetStatus("Il riquadro prende troppo della pagina (" + std::to_string(count) +
                     (count == 1 ? " parola" : " parole") +
                     "): disegnarlo attorno al solo valore.");
    ShowStatus();
    return false;
  }
  if (taken_built_ != entry_.FormsBuilt()) taken_.clear();
  taken_built_ = entry_.FormsBuilt();
  const std::string field = Work()->Person().Focused();
  if (!PutWord(words)) return false;
  if (Work()->Fields().Index(field) == 0) return true;
  Unmark(field);
  kvtengine::FieldBox box;
  box.archive = entry_.Archive();
  box.form = entry_.EntryForm();
  box.field = field;
  box.page = page;
  box.x = place.x();
  box.y = place.y();
  box.width = place.width();
  box.height = place.height();
  taken_[field] = {box, words, FieldText(*Work(), field)};
  return true;
}

bool DeskWindow::TakeIntake() {
  if (!Work()) return false;
  if (!Run(entry_.TakeIntake()) || !entry_.Intake()) return false;
  ProposeValues();
  Redraw();
  PrepareNextIntake();
  return true;
}

void DeskWindow::PrepareNextIntake() {
  if (!preview_) return;
  try {
    // The pages the queue would give next, drawn while the clerk works on these: most often
    // they are what Save brings.
    auto& engine = Work()->Engine();
    const auto next = engine.NextIntake(entry_.Archive());
    if (!next) return;
    kvtfiles::FileRef ref{next->sha256, next->name};
    if (!next->pages_sha256.empty()) {
      kvtfiles::StoredFile cut;
      if (!engine.FindFile(next->pages_sha256, cut)) return;
      ref = {cut.sha256, cut.name};
    }
    preview_->Prepare(entry_.Database(), ref);
  } catch (const std::exception&) {
    // nothing made ready: the next pages are drawn when they come
  }
}

std::map<std::string, std::string> DeskWindow::Proposals() const {
  std::map<std::string, std::string> out;
  for (const auto& [field, p] : proposed_) out[field] = p.text;
  return out;
}

std::optional<kvtfiles::FileRef> DeskWindow::ShownFile() const {
  for (const auto& [weak, field] : links_) {
    const auto link = weak.lock();
    if (auto ref = link ? kvtfiles::ParseFileRef(link->Text()) : std::nullopt) return ref;
  }
  return std::nullopt;
}

void DeskWindow::ProposeValues() {
  for (const auto& [field, p] : proposed_) Unmark(field);
  proposed_.clear();
  taken_.clear();
  taken_built_ = entry_.FormsBuilt();
  focused_.clear();
  const auto ref = ShownFile();
  kvtfiles::FileReading reading;
  try {
    if (!ref || !Work()->Engine().FindReading(ref->sha256, reading)) return;
    boxes_ = Work()->Engine().FieldBoxes(entry_.Archive(), entry_.EntryForm());
  } catch (const std::exception&) {
    return;  // nothing proposed: the clerk types, as without learnt places
  }
  if (boxes_.empty()) return;
  auto& person = Work()->Person();
  auto& fields = Work()->Fields();
  const std::string start = person.Focused();
  const std::string said = entry_.Status();  // moving through the fields clears it
  proposing_ = true;
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    const std::string name = fields.Item(kvt::Variant(i))->Name();
    const auto proposal = kvtapp::Propose(boxes_, name, reading);
    if (!proposal) continue;
    if (!person.Focus(name)) break;  // the field before refused to be left
    const std::string before = FieldText(*Work(), name);
    if (!PutWord(proposal->text)) continue;
    const std::string now = FieldText(*Work(), name);
    if (now == before || now.empty()) continue;  // the field's rules refused it
    QWidget* input = InputOf(*Work(), name);
    proposed_[name] = {proposal->box, proposal->text, now, input ? input->styleSheet() : QString()};
    if (input) input->setStyleSheet(kProposedStyle);
  }
  if (!start.empty()) person.Focus(start);
  proposing_ = false;
  if (!proposed_.empty()) {
    entry_.SetStatus(said + (said.empty() ? "" : "; ") + std::to_string(proposed_.size()) +
                     (proposed_.size() == 1 ? " valore proposto" : " valori proposti") +
                     " dalla pagina: Tab li accetta, scrivere li sostituisce");
  }
  focused_.clear();
  FollowProposals();
}

void DeskWindow::Unmark(const std::string& field) {
  const auto it = proposed_.find(field);
  if (it == proposed_.end()) return;
  if (QWidget* input = InputOf(*Work(), field)) input->setStyleSheet(it->second.style);
  proposed_.erase(it);
}

void DeskWindow::FollowProposals() {
  if (proposing_ || !Work()) return;
  if (taken_built_ != entry_.FormsBuilt()) {
    // Another document: the marked inputs went with the form they were on.
    proposed_.clear();
    taken_.clear();
    taken_built_ = entry_.FormsBuilt();
  }
  const std::string now = Work()->Person().Focused();
  for (auto it = proposed_.begin(); it != proposed_.end();) {
    const std::string field = it->first;
    ++it;
    const auto& p = proposed_.at(field);
    if (!SameText(FieldText(*Work(), field), p.text)) {
      Unmark(field);  // typed over
    } else if (field == focused_ && now != field) {
      // Left as proposed: accepted, and the place it came from used once more.
      taken_[field] = {p.box, p.words, p.text};
      Unmark(field);
    }
  }
  if (now == focused_) return;
  focused_ = now;
  const auto it = proposed_.find(now);
  if (it == proposed_.end()) {
    if (preview_) preview_->MarkProposed(0, {});
    return;
  }
  if (preview_) {
    const auto& b = it->second.box;
    preview_->MarkProposed(b.page, QRectF(b.x, b.y, b.width, b.height));
  }
  // Selected whole, so that what the clerk types replaces it; once the focus has settled.
  QMetaObject::invokeMethod(
      this,
      [this, now] {
        if (Work() && Work()->Person().Focused() == now && proposed_.count(now)) {
          Work()->Person().PressKey(kKeyA, kCtrl);
        }
      },
      Qt::QueuedConnection);
}

void DeskWindow::LearnPlaces() {
  if (taken_built_ != entry_.FormsBuilt() || taken_.empty() || !Work()) return;
  const auto ref = ShownFile();
  try {
    kvtfiles::FileReading reading;
    if (!ref || !Work()->Engine().FindReading(ref->sha256, reading)) return;
    if (boxes_.empty() || boxes_.front().archive != entry_.Archive()) {
      boxes_ = Work()->Engine().FieldBoxes(entry_.Archive(), entry_.EntryForm());
    }
    // One write for all the places: the clerk waits for it between documents.
    Work()->Engine().Transaction([&] {
      for (auto& [field, t] : taken_) {
        // Changed since (the field's own case aside): not from the page.
        if (!SameText(FieldText(*Work(), field), t.text)) continue;
        kvtapp::Remember(Work()->Engine(), t.box, t.words, reading, boxes_);
      }
    });
  } catch (const std::exception&) {
    // The document is stored; only what would be proposed next time is not learnt, and the
    // places known are read again.
    boxes_.clear();
  }
  taken_.clear();
}

void DeskWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1 &&
      event->mimeData()->urls().front().isLocalFile()) {
    event->acceptProposedAction();
  }
}

void DeskWindow::dropEvent(QDropEvent* event) {
  const auto urls = event->mimeData()->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  AttachFile(urls.front().toLocalFile().toStdString());
}

bool DeskWindow::OpenArchive(const std::string& archive, const std::string& form) {
  if (!MayLeaveDocument()) return false;
  const std::string old_archive = archive_, old_form = entry_form_;
  archive_ = archive;
  entry_form_ = form;
  if (find_) find_->deleteLater();  // its columns were the old archive's fields
  find_ = nullptr;
  if (OpenDatabase(entry_.Database())) return true;
  // The new form was never built: the one open, with what was typed in it, stays.
  archive_ = old_archive;
  entry_form_ = old_form;
  return false;
}

bool DeskWindow::OpenDatabase(const std::string& db) {
  if (db != entry_.Database() && !MayLeaveDocument()) return false;
  try {
    Open(db);
    return true;
  } catch (const std::exception& e) {
    // Another archive of the database open, or another database.
    ShowFailure(db == entry_.Database()
                    ? "L'archivio " + archive_ + " (modulo " + entry_form_ + ") non si apre."
                    : "Il database " + kvtapp::Shown(db) + " non si apre.",
                e, "Scegliere un altro database con File > Apri database.");
    return false;
  }
}

void DeskWindow::Open(const std::string& db) {
  // Only the sample database is made when missing; any other file must exist.
  const bool create = make_sample_ && entry_.Database().empty();
  entry_.Open(db, archive_, entry_form_, create);
  ApplySettings(*Work());
  Work()->Host().on_menu_click = [this](const std::string& item) {
    // Enter when the person chose to save with it: save, and with Ctrl the next document.
    if (item == "miSalva") Save();
    if (item == "miNuovo") NextDocument();
  };
  ShowForm();
  RememberPlace(db);
  ReadPages(db);
}

void DeskWindow::ReadPages(const std::string& db) {
  if (reading_ && reading_db_ == db) return;
  reading_.reset();
  reading_db_ = db;
  // A core is left to the person's own work; the others read, after everything else.
  const int workers = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
  reading_ = std::make_unique<kvtread::PageReading>(
      [db] { return kvtapp::OpenEngine(db, /*create=*/false); }, workers);
  reading_->SetNice(10);
  const QPointer<DeskWindow> self(this);
  reading_->Start(
      [self](const kvtread::ReadProgress&) {
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
              if (self && self->preview_) self->preview_->Refresh();
            },
            Qt::QueuedConnection);
      },
      /*stay=*/true);
}

void DeskWindow::FollowFocus() {
  // The view follows the focus through a form larger than the window: the whole box with its
  // caption, not only the part where the caret is.
  auto* scroll = qobject_cast<QScrollArea*>(centralWidget());
  const auto active = Work()->Window().Active();
  auto* q = dynamic_cast<kvthost::qt::QtControl*>(active.get());
  if (!scroll || !q || !q->Widget() || !scroll->widget()) return;
  QRect shown(q->Widget()->mapTo(scroll->widget(), QPoint(0, 0)), q->Widget()->size());
  auto& fields = Work()->Fields();
  if (fields.Index(active->Name()) != 0) {
    auto* caption = dynamic_cast<kvthost::qt::QtControl*>(
        fields.Item(kvt::Variant(active->Name()))->LinkedLabel().get());
    if (caption && caption->Widget() && caption->Widget()->isVisible()) {
      shown |= QRect(caption->Widget()->mapTo(scroll->widget(), QPoint(0, 0)),
                     caption->Widget()->size());
    }
  }
  ShowWhole(*scroll, shown.adjusted(-8, -8, 8, 8));
}

void DeskWindow::ShowForm() {
  auto form = std::dynamic_pointer_cast<kvthost::qt::QtForm>(Work()->WindowRef());
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(form->Window());  // a form of thousands of fields scrolls
  form->Window()->show();
  form->Show();
  setCentralWidget(scroll);
  Redraw();
  entry_.Start();
  ApplyRights();
  ShowStatus();
}

void DeskWindow::ApplyRights() {
  for (QAction* a : {save_action_.data(), delete_action_.data()}) {
    if (a) a->setEnabled(entry_.MayStore());
  }
}

void DeskWindow::MarkRequired() {
  MarkRequiredFields(*Work());
  NameInputs(*Work());
  KeepPickedFiles();
  marked_ = entry_.FormsBuilt();
}

QString DeskWindow::StatusText() const {
  return message_ ? message_->text() : QString();
}

QString DeskWindow::PositionText() const {
  return position_ ? position_->text() : QString();
}

QAction* DeskWindow::StepAction(Step step) const {
  return steps_[static_cast<int>(step)];
}

void DeskWindow::Move(Step step) {
  if (Run(entry_.Move(static_cast<kvtapp::EntrySession::Step>(step)))) activateWindow();
}

void DeskWindow::NewDocument() {
  Run(entry_.New());
}

bool DeskWindow::Save() {
  const bool from_queue = entry_.Intake().has_value();
  const std::int32_t before = entry_.Id();
  const bool saved = Run(entry_.Save());
  if (saved && before == 0 && entry_.Id() != 0) LearnPlaces();
  if (saved && reading_) reading_->Wake();  // a file kept with it is read next
  // The queue's pages filed: the next ones come, as the clerk works through the stack.
  if (saved && from_queue && !entry_.Intake()) {
    // What was stored, then what came next (or that the queue is empty).
    const std::string stored = entry_.Status();
    TakeIntake();
    entry_.SetStatus(stored + ". " + entry_.Status());
    ShowStatus();
  }
  return saved;
}

void DeskWindow::NextDocument() {
  if (Run(entry_.Next()) && reading_) reading_->Wake();
}

bool DeskWindow::MayLeaveDocument() {
  return Run(entry_.Leave([] {
    kvtapp::Reply r;
    r.done = true;
    return r;
  }));
}

bool DeskWindow::DeleteDocument() {
  return Run(entry_.Delete());
}

bool DeskWindow::RestoreVersion(std::int32_t id, std::int32_t version, std::int32_t base) {
  if (!Run(entry_.Restore(id, version, base))) return false;
  activateWindow();
  if (deleted_) deleted_->close();
  return true;
}

void DeskWindow::UndoChanges() {
  Run(entry_.Undo());
}

void DeskWindow::PlaceOnScreen() {
  const QByteArray left =
      QSettings("kvtfields", "kvtfields-desk").value("Window/geometry").toByteArray();
  if (!left.isEmpty() && restoreGeometry(left)) return;
  const QRect screen =
      (this->screen() ? this->screen() : QApplication::primaryScreen())->availableGeometry();
  resize(screen.width() * 9 / 10, screen.height() * 9 / 10);
  move(screen.center() - rect().center());
}

void DeskWindow::PutToday() {
  auto picker = Work()
                    ? std::dynamic_pointer_cast<kvthost::DatePicker>(Work()->WindowRef()->Active())
                    : nullptr;
  if (!picker) {
    entry_.SetStatus("La data di oggi va in un campo data: entrare prima nella data");
    ShowStatus();
    return;
  }
  picker->PickDate(kvt::Variant(kvt::Today()));
}

void DeskWindow::Correct(std::int32_t id) {
  if (Run(entry_.Correct(id))) activateWindow();
}

void DeskWindow::closeEvent(QCloseEvent* event) {
  if (MayLeaveDocument()) {
    QSettings settings("kvtfields", "kvtfields-desk");
    settings.setValue("Window/state", saveState());
    settings.setValue("Window/geometry", saveGeometry());
    event->accept();
  } else {
    event->ignore();
  }
}

void DeskWindow::FindDocuments() {
  if (!Work()) return;
  if (!find_) {
    kvtdesk::FindDialog::Hooks hooks;
    hooks.open = [this](std::int32_t id, std::vector<kvtengine::Criterion> criteria,
                        std::vector<std::int32_t> sorted) {
      // The words searched for are marked on the pages of every document found by them.
      std::vector<kvtengine::WordTerm> terms;
      for (const auto& c : criteria) {
        if (c.op != kvtengine::Criterion::Op::kWords) continue;
        try {
          for (auto& t : kvtengine::ParseWords(c.value, "kvtfields-desk")) terms.push_back(t);
        } catch (const kvt::Error&) {
          // no word in it: nothing to mark
        }
      }
      preview_->Highlight(std::move(terms));
      if (Run(entry_.OpenFound(id, std::move(criteria), std::move(sorted)))) activateWindow();
    };
    hooks.print = [this] { Print(true); };
    hooks.pdf = [this](const std::string& path) { ExportPdf(path, true); };
    hooks.failure = [this](const kvtapp::Notice& notice) { Show(notice); };
    find_ = new kvtdesk::FindDialog(this, entry_, std::move(hooks));
  }
  find_->Present();
}

const std::vector<DeskWindow::CriterionInput>& DeskWindow::CriteriaInputs() const {
  static const std::vector<CriterionInput> none;
  return find_ ? find_->Inputs() : none;
}

void DeskWindow::ClearCriteria() {
  if (find_) find_->ClearCriteria();
}

bool DeskWindow::SortFound(int column, std::optional<Qt::SortOrder> order) {
  return find_ && find_->SortFound(column, order);
}

void DeskWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Apri database...", QKeySequence::Open, [this] {
    const QString path =
        ChooseFileToOpen(this, "Apri database", "Archivi kvtfields (*.kvtdb);;Tutti (*)");
    if (!path.isEmpty()) OpenDatabase(path.toStdString());
  });
  file->addAction("Apri database di re&te...", [this] {
    // A shared archive on the office's server; the password, when one is needed, comes from
    // the string or from the user's ~/.pgpass and is never shown again.
    bool ok = false;
    const QString where = QInputDialog::getText(
        this, "Apri database di rete",
        "Connessione PostgreSQL (postgresql://utente@server/database):", QLineEdit::Normal,
        QString(), &ok);
    if (!ok || where.trimmed().isEmpty()) return;
    const std::string text = where.trimmed().toStdString();
    if (!kvtapp::IsServer(text)) {
      // Not echoed: a mistyped string may still hold a password.
      ShowError("Il testo scritto non è una connessione PostgreSQL.",
                "Scrivere postgresql://utente@server/database oppure host=... dbname=....");
      return;
    }
    OpenDatabase(text);
  });
  // Filled as it opens: the list changes with every database opened.
  QMenu* recent = file->addMenu("Database &recenti");
  QObject::connect(recent, &QMenu::aboutToShow, recent, [this, recent] {
    recent->clear();
    const QStringList dbs = RecentDatabases();
    for (int i = 0; i < dbs.size(); ++i) {
      const QString db = dbs[i];
      recent->addAction(QString("&%1 %2").arg(i + 1).arg(Q(kvtapp::Shown(db.toStdString()))),
                        [this, db] { OpenDatabase(db.toStdString()); });
    }
    if (dbs.isEmpty()) recent->addAction("(nessuno)")->setEnabled(false);
  });
  file->addAction("Scegli ar&chivio...", QKeySequence(Qt::CTRL | Qt::Key_R),
                  [this] { ChooseArchive(); });
  file->addSeparator();
  file->addAction("&Stampa documento...", QKeySequence::Print, [this] { Print(false); });
  file->addAction("Esporta documento in &PDF...", [this] {
    const QString path =
        ChooseFileToSave(this, "Esporta PDF", "documento.pdf", "Documenti PDF (*.pdf)");
    if (!path.isEmpty()) ExportPdf(path.toStdString(), false);
  });
  file->addSeparator();
  file->addAction("&Impostazioni...", [this] { ChooseSettings(); });
  file->addSeparator();
  file->addAction("&Esci", QKeySequence::Quit, [this] { close(); });
  QMenu* doc = menuBar()->addMenu("&Documento");
  doc->addAction("&Nuovo", QKeySequence::New, [this] { NewDocument(); });
  save_action_ = doc->addAction("&Salva", QKeySequence::Save, [this] { Save(); });
  doc->addAction("Documento su&ccessivo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
                 [this] { NextDocument(); });
  doc->addAction("&Annulla modifiche", QKeySequence(Qt::Key_Escape), [this] { UndoChanges(); });
  doc->addAction("Pr&imo campo", QKeySequence(Qt::CTRL | Qt::Key_Home),
                 [this] { Run(entry_.FirstField()); });
  doc->addAction("Campo obbligatorio &mancante", QKeySequence(Qt::Key_F8),
                 [this] { Run(entry_.NextMissing()); });
  doc->addAction("Valore del &documento precedente", QKeySequence(Qt::CTRL | Qt::Key_Apostrophe),
                 [this] { Run(entry_.CopyPrevious()); });
  doc->addAction("Data di &oggi", QKeySequence(Qt::CTRL | Qt::Key_Semicolon),
                 [this] { PutToday(); });
  doc->addAction("Mantieni il &valore nel successivo", QKeySequence(Qt::Key_F7),
                 [this] { Run(entry_.TogglePin()); });
  delete_action_ = doc->addAction("&Elimina documento...", [this] { DeleteDocument(); });
  doc->addSeparator();
  doc->addAction("Allega &file...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), [this] {
    if (!Work()) return;
    const QString path = ChooseFileToOpen(this, "Allega un file al documento");
    if (!path.isEmpty()) AttachFile(path.toStdString());
  });
  intake_action_ = doc->addAction("Da arc&hiviare", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D),
                                  [this] { TakeIntake(); });
  // How many wait, counted when the menu opens.
  connect(doc, &QMenu::aboutToShow, this, [this] {
    if (!intake_action_) return;
    const std::int64_t waiting = entry_.IntakeWaiting();
    intake_action_->setText(QString("Da arc&hiviare (%1)").arg(waiting));
  });
  doc->addAction("&Trova documenti...", QKeySequence::Find, [this] { FindDocuments(); });
  // The record navigator: in the menu and a toolbar, with keys a text box leaves alone.
  doc->addSeparator();
  QToolBar* bar = addToolBar("Navigazione");
  bar->setObjectName("kvtNavigator");
  bar->setMovable(false);
  struct StepShown {
    Step step;
    const char* text;
    QKeySequence keys;
    QStyle::StandardPixmap icon;
  };
  const StepShown shown[] = {
      {Step::kFirst, "&Primo documento", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_PageUp),
       QStyle::SP_MediaSkipBackward},
      {Step::kPrevious, "Documento p&recedente", QKeySequence(Qt::CTRL | Qt::Key_PageUp),
       QStyle::SP_MediaSeekBackward},
      {Step::kNext, "Documento se&guente", QKeySequence(Qt::CTRL | Qt::Key_PageDown),
       QStyle::SP_MediaSeekForward},
      {Step::kLast, "&Ultimo documento", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_PageDown),
       QStyle::SP_MediaSkipForward},
  };
  for (const auto& s : shown) {
    QAction* action = doc->addAction(style()->standardIcon(s.icon), s.text, s.keys,
                                     [this, step = s.step] { Move(step); });
    action->setToolTip(QString(s.text).remove('&') + " (" +
                       s.keys.toString(QKeySequence::NativeText) + ")");
    steps_[static_cast<int>(s.step)] = action;
    bar->addAction(action);
    if (s.step == Step::kPrevious) {
      position_ = new QLabel(bar);
      position_->setObjectName("kvtPosition");
      position_->setMinimumWidth(position_->fontMetrics().horizontalAdvance("000.000 di 000.000"));
      position_->setAlignment(Qt::AlignCenter);
      bar->addWidget(position_);
    }
  }
  QMenu* view = menuBar()->addMenu("&Visualizza");
  view->addAction("&Visualizzatore campi", QKeySequence(Qt::Key_F11),
                  [this] { OpenFieldViewer(); });
  view->addAction("&Cronologia del documento...", QKeySequence(Qt::CTRL | Qt::Key_H),
                  [this] { ShowHistory(); });
  view->addAction("Documenti &eliminati...", [this] { ShowDeleted(); });
  view->addSeparator();
  QAction* pane = preview_dock_->toggleViewAction();
  pane->setText("&Anteprima del file");
  pane->setShortcut(QKeySequence(Qt::Key_F9));
  view->addAction(pane);
  view->addAction("Pagina s&uccessiva", QKeySequence(Qt::ALT | Qt::Key_PageDown),
                  [this] { preview_->NextPage(); });
  view->addAction("Pagina &precedente", QKeySequence(Qt::ALT | Qt::Key_PageUp),
                  [this] { preview_->PreviousPage(); });
  view->addAction("&Ingrandisci", QKeySequence(Qt::CTRL | Qt::Key_Plus),
                  [this] { preview_->ZoomIn(); });
  view->addAction("&Riduci", QKeySequence(Qt::CTRL | Qt::Key_Minus),
                  [this] { preview_->ZoomOut(); });
  view->addAction("A&datta alla larghezza", QKeySequence(Qt::CTRL | Qt::Key_0),
                  [this] { preview_->FitWidth(); });
  // The pane's Apri, by keys: the pane takes no focus (the keys stay with the form).
  view->addAction("Apri il file &fuori dal programma",
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), [this] {
                    if (!preview_->OpenOutside()) {
                      entry_.SetStatus("Nessun file da aprire: il documento non ne ha");
                      ShowStatus();
                    }
                  });
}

void DeskWindow::ChooseArchive() {
  if (!Work()) return;
  try {
    QStringList archives;
    for (const auto& a : Work()->Engine().ListArchives()) archives << Q(a);
    bool ok = false;
    const QString archive =
        QInputDialog::getItem(this, "Archivio", "Archivio:", archives,
                              static_cast<int>(archives.indexOf(Q(archive_))), false, &ok);
    if (!ok) return;
    QStringList forms;
    for (const auto& f : Work()->Engine().ListForms(archive.toStdString())) forms << Q(f);
    if (forms.isEmpty()) forms << Q(entry_form_);
    // Proposed: the form in use when the archive is the same, else the one named for entry.
    int proposed =
        archive.toStdString() == archive_ ? static_cast<int>(forms.indexOf(Q(entry_form_))) : -1;
    for (int i = 0; i < forms.size() && proposed < 0; ++i) {
      if (forms[i].contains("Inserimento", Qt::CaseInsensitive)) proposed = i;
    }
    const QString form = QInputDialog::getItem(this, "Modulo", "Modulo di inserimento:", forms,
                                               std::max(proposed, 0), false, &ok);
    if (ok) OpenArchive(archive.toStdString(), form.toStdString());
  } catch (const std::exception& e) {
    ShowFailure("Gli archivi non si leggono.", e, "Riaprire il database.");
  }
}

QStringList DeskWindow::RecentDatabases() {
  return QSettings("kvtfields", "kvtfields-desk").value("Recent/databases").toStringList();
}

void DeskWindow::RememberPlace(const std::string& db) {
  // A file by its whole path (it opens from anywhere); a server without its password but with
  // its other settings: a server reached over verified TLS is reached so again.
  QString key;
  try {
    key = Q(kvtapp::Reopenable(db));
  } catch (const std::exception&) {
    return;  // opened, so readable; nothing is kept that could not be opened again
  }
  QStringList dbs = RecentDatabases();
  dbs.removeAll(key);
  dbs.prepend(key);
  while (dbs.size() > 6) dbs.removeLast();
  QSettings settings("kvtfields", "kvtfields-desk");
  settings.setValue("Recent/databases", dbs);
  settings.setValue("Last/database", key);
  settings.setValue("Last/archive", Q(archive_));
  settings.setValue("Last/form", Q(entry_form_));
}

std::optional<DeskWindow::Place> DeskWindow::LastPlace() {
  const QSettings settings("kvtfields", "kvtfields-desk");
  Place place{settings.value("Last/database").toString().toStdString(),
              settings.value("Last/archive").toString().toStdString(),
              settings.value("Last/form").toString().toStdString()};
  if (place.db.empty() || place.archive.empty() || place.form.empty()) return std::nullopt;
  return place;
}

void DeskWindow::ShowProgress(int done, int total) {
  // Forms of a few hundred fields build in a blink; larger ones show how far they are, and
  // the window keeps painting (the person's input waits until the form is there).
  constexpr int kShownFrom = 500, kEvery = 25;
  if (total < kShownFrom || (done % kEvery != 0 && done != total)) return;
  if (!progress_) {
    progress_ = new QProgressDialog("Preparazione del modulo...", QString(), 0, total, this);
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(0);
  }
  progress_->setMaximum(total);
  progress_->setValue(done);
  ++progress_shown_;
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (done == total) {
    progress_->deleteLater();
    progress_ = nullptr;
  }
}

void DeskWindow::ShowHistory(std::int32_t id) {
  if (!Work()) return;
  if (id == 0) id = entry_.Id();
  if (id == 0) {
    entry_.SetStatus("Il documento non è ancora salvato: non ha una cronologia");
    ShowStatus();
    return;
  }
  try {
    auto history = Work()->Engine().History(id);
    if (history_) history_->close();
    // A field's caption from the form; a name the form no longer has stays as stored.
    std::map<std::string, std::string> captions;
    for (std::int32_t i = 1; i <= Work()->Fields().Count(); ++i) {
      auto field = Work()->Fields().Item(kvt::Variant(i));
      captions.emplace(field->Name(), kvtapp::Caption(*field));
    }
    history_ = new HistoryDialog(
        this, id, std::move(history),
        [captions](const std::string& field) {
          const auto it = captions.find(field);
          return it == captions.end() ? field : it->second;
        },
        [this, id](std::int32_t version) {
          // From the newest version the dialog showed: a change since then is a conflict.
          RestoreVersion(id, version, history_ ? history_->NewestVersion() : 0);
        });
    history_->setAttribute(Qt::WA_DeleteOnClose);
    if (!entry_.MayStore()) history_->RestoreButton()->setVisible(false);
    history_->show();
  } catch (const std::exception& e) {
    ShowFailure("La cronologia del documento " + std::to_string(id) + " non si legge.", e,
                "Riprovare.");
  }
}

void DeskWindow::RefreshHistory(std::int32_t id) {
  // An open history of the document shows its newest version too.
  if (!history_ || history_->Id() != id) return;
  try {
    history_->SetHistory(Work()->Engine().History(id));
  } catch (const std::exception&) {
    history_->close();  // read again when asked for
  }
}

void DeskWindow::ShowDeleted() {
  if (!Work()) return;
  try {
    if (deleted_) deleted_->close();
    deleted_ = new DeletedDialog(
        this, Work()->Engine().DeletedDocuments(Work()->Archive()),
        [this](std::int32_t id) { ShowHistory(id); },
        [this](std::int32_t id) {
          try {
            // The version before its deletion, as the history read now has it.
            const auto history = Work()->Engine().History(id);
            if (history.size() < 2) return;
            RestoreVersion(id, history[history.size() - 2].version, history.back().version);
          } catch (const std::exception& e) {
            ShowFailure("Il documento " + std::to_string(id) + " non si ripristina.", e,
                        "Riprovare.");
          }
        });
    deleted_->setAttribute(Qt::WA_DeleteOnClose);
    deleted_->show();
  } catch (const std::exception& e) {
    ShowFailure("I documenti eliminati non si leggono.", e, "Riprovare.");
  }
}

void DeskWindow::ChooseSettings() {
  const QStringList choices = {"Passa al campo successivo", "Salva il documento"};
  bool ok = false;
  const QString chosen = QInputDialog::getItem(this, "Impostazioni", "Il tasto Invio:", choices,
                                               KeyReturnSetting() == 0 ? 1 : 0, false, &ok);
  if (!ok) return;
  QSettings("kvtfields", "kvtfields-desk")
      .setValue("Settings/keyreturn", chosen == choices[1] ? 0 : 1);
  if (Work()) ApplySettings(*Work());
  if (viewer_work_) ApplySettings(*viewer_work_);
}

std::optional<std::vector<kvtprint::PrintedDocument>> DeskWindow::ToPrint(bool found) {
  if (!Work()) return std::nullopt;
  std::vector<kvtprint::PrintedDocument> docs;
  try {
    if (!found) {
      docs.push_back(kvtprint::FormPrint::OnForm(*Work(), Correcting()));
      return docs;
    }
    if (!find_) return docs;
    // A page each a document: thousands of pages are a question first.
    constexpr std::int64_t kAsk = 500;
    const std::int64_t total = find_->Total();
    if (total > kAsk &&
        kvt::CurrentPlatform().MsgBox(
            "Sono stati trovati " + std::to_string(total) + " documenti: stamparli tutti?",
            kvt::kMsgBoxOkCancel, "kvtfields") != kvt::kMsgBoxAnswerOk) {
      return std::nullopt;
    }
    const kvtprint::FormPrint print(*Work());
    std::int32_t after = 0;
    for (;;) {
      const auto ids =
          Work()->Engine().SearchDocuments(Work()->Archive(), find_->Criteria(), after, 500);
      if (ids.empty()) break;
      Work()->Engine().ReadDocumentsById(
          ids, [&](kvtengine::StoredDocument&& d) { docs.push_back(print.Of(d)); });
      after = ids.back();
    }
    return docs;
  } catch (const std::exception& e) {
    ShowFailure("I documenti da stampare non si leggono.", e, "Riprovare.");
    return std::nullopt;
  }
}

bool DeskWindow::ExportPdf(const std::string& path, bool found) {
  const auto docs = ToPrint(found);
  if (!docs) return false;
  try {
    const QByteArray pdf = kvtprint::Pdf(archive_, *docs);
    if (pdf.isEmpty()) throw kvt::Error(2, "kvtfields-desk", "the PDF could not be painted");
    // Whole or not at all, and never over the database itself.
    kvtapp::OutputFile out(path, {entry_.Database()});
    out.Write(std::string_view(pdf.constData(), static_cast<std::size_t>(pdf.size())));
    out.Commit();
  } catch (const std::exception& e) {
    ShowFailure("Il PDF " + path + " non è stato scritto.", e,
                "Scegliere un'altra cartella o un altro nome.");
    return false;
  }
  entry_.SetStatus("PDF scritto: " + path);
  ShowStatus();
  return true;
}

void DeskWindow::Print(bool found) {
  const auto docs = ToPrint(found);
  if (!docs) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(Q(archive_));
  QPrintDialog dialog(&printer, this);
  dialog.setWindowTitle("Stampa");
  if (dialog.exec() != QDialog::Accepted) return;
  if (!kvtprint::Paint(printer, archive_, *docs)) {
    ShowError("La stampa non è riuscita.", "Controllare la stampante e riprovare.");
    return;
  }
  entry_.SetStatus("Stampa inviata");
  ShowStatus();
}

void DeskWindow::CloseFieldViewer() {
  // The viewer's window belongs to the library's viewer: the frame gives it back first.
  if (auto* frame = qobject_cast<QScrollArea*>(viewer_frame_.data())) {
    frame->takeWidget();
    delete frame;
  }
  viewer_work_.reset();
}

void DeskWindow::OpenFieldViewer() {
  if (!Work()) return;
  try {
    // The viewer shows the document in its own window, with its keys (Ctrl+Alt+C copies the
    // retained values, Ctrl+Alt+V pastes them, Enter saves).
    CloseFieldViewer();
    viewer_work_ = std::make_unique<kvtapp::Workspace>(QtPersonOn());
    viewer_work_->Open(entry_.Database(), false);
    viewer_work_->Build(archive_, entry_.ReviewForm());
    ApplySettings(*viewer_work_);
    viewer_work_->Fields().SetFieldsValue(Work()->Fields().FieldsValue());
    viewer_work_->Host().on_menu_click = [this](const std::string& item) {
      if (item == "miSalva") Save();
    };
    auto form = std::dynamic_pointer_cast<kvthost::qt::QtForm>(viewer_work_->WindowRef());
    form->LetCaption("Visualizzatore campi - " + archive_);
    // A window inside the screen that scrolls when the fields need more room.
    auto* frame = new QScrollArea;
    frame->setAttribute(Qt::WA_DeleteOnClose, false);
    frame->setWindowTitle(Q("Visualizzatore campi - " + archive_));
    form->Show();
    frame->setWidget(form->Window());
    const QRect screen =
        this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize want =
        form->Window()->size() + QSize(frame->frameWidth() * 2 + 20, frame->frameWidth() * 2 + 20);
    frame->resize(std::min(want.width(), screen.width() * 9 / 10),
                  std::min(want.height(), screen.height() * 9 / 10));
    frame->move(screen.topLeft() + QPoint(24, 24));
    // Esc closes it, as a clerk closes any window of a look; the viewer's own keys are others.
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), frame);
    close->setContext(Qt::WindowShortcut);
    QObject::connect(close, &QShortcut::activated, frame, &QWidget::close);
    viewer_frame_ = frame;
    frame->show();
  } catch (const std::exception& e) {
    ShowFailure("Il visualizzatore non si apre.", e, "Riprovare.");
  }
}

}  // namespace kvtdesk
