#include "desk_window.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTranslator>
#include <QVBoxLayout>

#include <map>
#include <optional>

#include "archives/sample_archive.h"
#include "common/open_engine.h"
#include "common/output_file.h"
#include "common/problem.h"
#include "host/qt/qt_control.h"
#include "host/qt/qt_person.h"
#include "runtime/dictionary.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtdesk {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// What Enter does, kept per user: 1 moves to the next field, 0 saves.
int KeyReturnSetting() {
  return QSettings("kvtfields", "kvtfields-desk").value("Settings/keyreturn", 1).toInt();
}

// The window reads the setting through its coordinator, as the field viewer does.
void ApplySettings(kvtapp::Workspace& w) {
  w.Host().Settings().SaveSetting("Settings", "keyreturn", kvt::Variant(KeyReturnSetting()));
  w.Window().SetMultiLineTakesEnter(true);  // a memo still takes its lines
}

}  // namespace

// The archive's documents meeting the search, as a table fetched a page at a time while it
// scrolls: one engine query per page, so that an archive of millions opens at once.
class DocumentsModel final : public QAbstractTableModel {
 public:
  struct Column {
    std::string field, caption;
    kvtengine::SearchKind kind = kvtengine::SearchKind::kText;
    std::map<std::string, std::string> codes;  // a combo's: code to description
  };
  DocumentsModel(std::shared_ptr<kvtengine::ArchiveEngine> engine, std::string archive,
                 std::vector<Column> columns, QObject* parent)
      : QAbstractTableModel(parent),
        engine_(std::move(engine)),
        archive_(std::move(archive)),
        columns_(std::move(columns)) {}
  /// Starts over with these criteria and reads the first page; what the engine refuses
  /// (a date that is none) is raised and the table left as it was.
  void Search(std::vector<kvtengine::Criterion> criteria) {
    const auto total = engine_->CountDocuments(archive_, criteria);
    beginResetModel();
    criteria_ = std::move(criteria);
    docs_.clear();
    total_ = total;
    more_ = true;
    sorted_.reset();
    endResetModel();
    fetchMore({});
  }
  /// Sorts by a column as its field's kind orders (dates as dates, numbers as numbers, text
  /// without regard to case), empty values last. The whole result is read first: false, and
  /// nothing changed, when it holds more than kSortLimit documents.
  static constexpr std::int64_t kSortLimit = 5000;
  bool SortBy(int column, Qt::SortOrder order) {
    if (column < 0 || column > static_cast<int>(columns_.size())) return false;
    if (total_ > kSortLimit) return false;
    while (more_) fetchMore({});
    std::vector<std::pair<std::optional<std::string>, std::size_t>> keys;
    for (std::size_t i = 0; i < docs_.size(); ++i) {
      if (column == 0) {
        char key[16];
        std::snprintf(key, sizeof key, "%010d", docs_[i].id);
        keys.emplace_back(key, i);
        continue;
      }
      const Column& c = columns_[static_cast<std::size_t>(column - 1)];
      std::optional<std::string> key;
      for (const auto& [name, value] : docs_[i].values) {
        if (name == c.field) key = kvtengine::SearchKey(c.kind, value);
      }
      keys.emplace_back(std::move(key), i);
    }
    std::stable_sort(keys.begin(), keys.end(), [order](const auto& a, const auto& b) {
      if (!a.first || !b.first) return a.first.has_value() && !b.first.has_value();
      return order == Qt::AscendingOrder ? *a.first < *b.first : *b.first < *a.first;
    });
    Q_EMIT layoutAboutToBeChanged();
    std::vector<kvtengine::StoredDocument> sorted;
    sorted.reserve(docs_.size());
    for (const auto& k : keys) sorted.push_back(std::move(docs_[k.second]));
    docs_ = std::move(sorted);
    sorted_.emplace(column, order);
    Q_EMIT layoutChanged();
    return true;
  }
  void sort(int column, Qt::SortOrder order) override { SortBy(column, order); }
  /// The documents in the order shown, when they were sorted (all read); empty otherwise.
  /// The column and order of the last sort since the search, if any.
  std::optional<std::pair<int, Qt::SortOrder>> SortedBy() const { return sorted_; }
  std::vector<std::int32_t> SortedIds() const {
    std::vector<std::int32_t> ids;
    if (!sorted_) return ids;  // in entry order: the walk reads them from the engine
    for (const auto& d : docs_) ids.push_back(d.id);
    return ids;
  }
  std::int64_t Total() const { return total_; }
  const std::vector<kvtengine::Criterion>& Criteria() const { return criteria_; }
  bool canFetchMore(const QModelIndex& parent) const override { return !parent.isValid() && more_; }
  void fetchMore(const QModelIndex& parent) override {
    if (parent.isValid() || !more_) return;
    const std::int32_t after = docs_.empty() ? 0 : docs_.back().id;
    // One more than the page: whether another follows comes with it.
    auto ids = engine_->SearchDocuments(archive_, criteria_, after, kPage + 1);
    more_ = static_cast<std::int32_t>(ids.size()) > kPage;
    if (more_) ids.pop_back();
    std::vector<kvtengine::StoredDocument> page;
    engine_->ReadDocumentsById(
        ids, [&](kvtengine::StoredDocument&& d) { page.push_back(std::move(d)); });
    if (page.empty()) return;
    const int first = static_cast<int>(docs_.size());
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    for (auto& d : page) docs_.push_back(std::move(d));
    endInsertRows();
  }
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(docs_.size());
  }
  int columnCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size()) + 1;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(docs_.size())) return {};
    const auto& d = docs_[static_cast<std::size_t>(index.row())];
    if (role == Qt::UserRole) return d.id;
    const Column* c =
        index.column() == 0 ? nullptr : &columns_[static_cast<std::size_t>(index.column() - 1)];
    if (role == Qt::TextAlignmentRole) {
      // Numbers and dates line up on the right, as a reader compares them.
      const bool right = !c || c->kind != kvtengine::SearchKind::kText;
      return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole) return {};
    if (!c) return d.id;
    for (const auto& [name, value] : d.values) {
      if (name != c->field) continue;
      if (value.IsNull() || value.IsEmpty()) return {};
      std::string text = kvt::JoinText(value);
      // A code with its description, as the combo shows it.
      if (auto it = c->codes.find(text); it != c->codes.end() && !it->second.empty()) {
        text += " - " + it->second;
      }
      return Q(text);
    }
    return {};
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 0) return "N.";
    return Q(columns_[static_cast<std::size_t>(section - 1)].caption);
  }

 private:
  static constexpr std::int32_t kPage = 100;
  std::shared_ptr<kvtengine::ArchiveEngine> engine_;
  std::string archive_;
  std::vector<Column> columns_;
  std::vector<kvtengine::Criterion> criteria_;
  std::vector<kvtengine::StoredDocument> docs_;
  std::int64_t total_ = 0;
  bool more_ = false;
  std::optional<std::pair<int, Qt::SortOrder>> sorted_;  // the column and order, once sorted
};

bool SpeakItalian() {
  auto* app = QCoreApplication::instance();
  if (!app) return false;
  auto* words = new QTranslator(app);
  if (!words->load(QLocale(QLocale::Italian, QLocale::Italy), "qtbase", "_",
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete words;
    return false;
  }
  QCoreApplication::installTranslator(words);
  return true;
}

void MarkRequiredFields(kvtapp::Workspace& w) {
  auto form = std::dynamic_pointer_cast<kvthost::qt::QtForm>(w.WindowRef());
  if (!form || !form->ClientArea()) return;
  for (QLabel* old : form->ClientArea()->findChildren<QLabel*>("kvtRequiredMark")) delete old;
  auto& fields = w.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    if (!field->IsRequired()) continue;
    auto* caption = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedLabel().get());
    auto* label = caption ? qobject_cast<QLabel*>(caption->Widget()) : nullptr;
    if (!label || label->isHidden()) continue;
    auto* mark = new QLabel("*", form->ClientArea());
    mark->setObjectName("kvtRequiredMark");
    mark->setStyleSheet("color: #c00000; font-weight: bold;");
    mark->setToolTip("Campo obbligatorio");
    mark->setAccessibleName("obbligatorio");
    // Just before the caption, where a reader's eye starts.
    mark->setContentsMargins(0, 0, 0, 0);
    mark->setFixedWidth(mark->fontMetrics().horizontalAdvance('*') + 1);
    mark->move(std::max(0, label->x() - mark->width() - 1), label->y());
    mark->show();
  }
}

// What a screen reader says of each input: its field's caption as the name, the description
// as the description; the caption is the input's buddy (a click or its mnemonic leads there).
void NameInputs(kvtapp::Workspace& w) {
  auto& fields = w.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    auto* input = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedControl().get());
    QWidget* widget = input ? input->FocusWidget() : nullptr;
    if (!widget) continue;
    const std::string caption = kvtapp::Caption(*field);
    widget->setAccessibleName(Q(caption));
    widget->setAccessibleDescription(Q(field->Descr()));
    auto* label_control = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedLabel().get());
    if (auto* label = label_control ? qobject_cast<QLabel*>(label_control->Widget()) : nullptr) {
      label->setBuddy(widget);
    }
  }
}

kvtapp::Workspace::PersonOn QtPersonOn() {
  return [](std::shared_ptr<kvthost::Form> form) -> std::unique_ptr<kvthost::IPerson> {
    return std::make_unique<kvthost::qt::QtPerson>(
        std::dynamic_pointer_cast<kvthost::qt::QtForm>(std::move(form)));
  };
}

DeskWindow::DeskWindow(std::string db, std::string archive, std::string form, bool make_sample)
    : archive_(std::move(archive)), entry_form_(std::move(form)), make_sample_(make_sample) {
  setWindowTitle("kvtfields");
  message_ = new QLabel(this);
  statusBar()->addWidget(message_, 1);
  BuildMenus();
  OpenDatabase(db);
  // The modified mark follows the form: comparing its values is cheaper than following every
  // control of every rebuilt form.
  auto* watch = new QTimer(this);
  QObject::connect(watch, &QTimer::timeout, this, [this] {
    const bool modified = session_ && session_->Modified();
    if (modified != modified_shown_) RefreshTitle();
  });
  watch->start(300);
}

DeskWindow::~DeskWindow() {
  CloseFieldViewer();
  ReleaseForm();
  work_.reset();
}

void DeskWindow::ReleaseForm() {
  // The form's window belongs to the library's viewer, which closes it: the scroll area must
  // not delete it too.
  if (auto* scroll = qobject_cast<QScrollArea*>(centralWidget())) scroll->takeWidget();
}

void DeskWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Apri database...", QKeySequence::Open, [this] {
    const QString path = QFileDialog::getOpenFileName(this, "Apri database", QString(),
                                                      "Archivi kvtfields (*.kvtdb);;Tutti (*)");
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
  file->addAction("Scegli a&rchivio...", QKeySequence(Qt::CTRL | Qt::Key_R),
                  [this] { ChooseArchive(); });
  file->addSeparator();
  file->addAction("&Stampa documento...", QKeySequence::Print, [this] { Print(false); });
  file->addAction("Esporta documento in &PDF...", [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, "Esporta PDF", "documento.pdf", "Documenti PDF (*.pdf)");
    if (!path.isEmpty()) ExportPdf(path.toStdString(), false);
  });
  file->addSeparator();
  file->addAction("&Impostazioni...", [this] { ChooseSettings(); });
  file->addSeparator();
  file->addAction("&Esci", QKeySequence::Quit, [this] { close(); });
  QMenu* doc = menuBar()->addMenu("&Documento");
  doc->addAction("&Nuovo", QKeySequence::New, [this] { NewDocument(); });
  save_action_ = doc->addAction("&Salva", QKeySequence::Save, [this] { Save(); });
  doc->addAction("Documento s&uccessivo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
                 [this] { NextDocument(); });
  doc->addAction("&Annulla modifiche", QKeySequence(Qt::Key_Escape), [this] { UndoChanges(); });
  delete_action_ = doc->addAction("&Elimina documento...", [this] { DeleteDocument(); });
  doc->addSeparator();
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
      {Step::kNext, "Documento s&eguente", QKeySequence(Qt::CTRL | Qt::Key_PageDown),
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
}

void DeskWindow::ChooseArchive() {
  if (!work_) return;
  try {
    QStringList archives;
    for (const auto& a : work_->Engine().ListArchives()) archives << Q(a);
    bool ok = false;
    const QString archive =
        QInputDialog::getItem(this, "Archivio", "Archivio:", archives,
                              static_cast<int>(archives.indexOf(Q(archive_))), false, &ok);
    if (!ok) return;
    QStringList forms;
    for (const auto& f : work_->Engine().ListForms(archive.toStdString())) forms << Q(f);
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

bool DeskWindow::OpenArchive(const std::string& archive, const std::string& form) {
  if (!MayLeaveDocument()) return false;
  const std::string old_archive = archive_, old_form = entry_form_;
  archive_ = archive;
  entry_form_ = form;
  if (find_) find_->deleteLater();  // its columns were the old archive's fields
  find_ = nullptr;
  sized_ = false;
  if (OpenDatabase(db_)) return true;
  // The new form was never built: the one open, with what was typed in it, stays.
  archive_ = old_archive;
  entry_form_ = old_form;
  return false;
}

bool DeskWindow::OpenDatabase(const std::string& db) {
  if (db != db_ && !MayLeaveDocument()) return false;
  try {
    Open(db);
    return true;
  } catch (const std::exception& e) {
    // Another archive of the database open, or another database.
    ShowFailure(db == db_ ? "L'archivio " + archive_ + " (modulo " + entry_form_ + ") non si apre."
                          : "Il database " + kvtapp::Shown(db) + " non si apre.",
                e, "Scegliere un altro database con File > Apri database.");
    return false;
  }
}

void DeskWindow::Open(const std::string& db) {
  auto next = std::make_unique<kvtapp::Workspace>(QtPersonOn());
  next->OnProgress([this](int done, int total) { ShowProgress(done, total); });
  // Only the sample database is made when missing; any other file must exist.
  next->Open(db, /*create=*/make_sample_ && db_.empty());
  next->Build(archive_, entry_form_);
  if (next->Fields().Count() == 0) {
    throw kvt::Error(2, "kvtfields-desk", "the archive " + archive_ + " has no fields");
  }
  ReleaseForm();
  session_.reset();
  work_ = std::move(next);
  db_ = db;
  ApplySettings(*work_);
  work_->Host().on_menu_click = [this](const std::string& item) {
    // Enter when the person chose to save with it: save, and with Ctrl the next document.
    if (item == "miSalva") Save();
    if (item == "miNuovo") NextDocument();
  };
  work_->Host().Errors().on_add = [this](const kvthost::ErrorList::Entry& e) {
    message_->setText(Q(e.message));
  };
  FollowForm(work_->Window());
  session_ = std::make_unique<kvtapp::DocumentSession>(*work_);
  walk_.reset();
  walk_id_ = -1;
  ShowForm();
  RememberPlace(db);
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

namespace {

// Scrolls the least that shows `rect` (in the scrolled widget's coordinates) whole; one larger
// than the view shows its start, where a caption and the beginning of a box are.
void ShowWhole(QScrollArea& scroll, const QRect& rect) {
  const QSize view = scroll.viewport()->size();
  auto follow = [](QScrollBar* bar, int from, int to, int room) {
    int at = bar->value();
    if (to > at + room) at = to - room;
    if (from < at) at = from;
    bar->setValue(at);
  };
  follow(scroll.horizontalScrollBar(), rect.left(), rect.right() + 1, view.width());
  follow(scroll.verticalScrollBar(), rect.top(), rect.bottom() + 1, view.height());
}

}  // namespace

void DeskWindow::FollowForm(kvthost::Form& form) {
  auto& errors = work_->Host().Errors();
  errors_seen_ = errors.Entries().size();
  // The form may outlive the workspace the window holds (while one replaces another).
  kvthost::Form* followed = &form;
  auto current = [this, followed] { return work_ && &work_->Window() == followed; };
  form.on_active_changed = [this, current] {
    if (!current()) return;
    auto& list = work_->Host().Errors();
    if (list.Entries().size() == errors_seen_ && !noted_) message_->clear();  // stale
    noted_ = false;
    errors_seen_ = list.Entries().size();
    // The view follows the focus through a form larger than the window: the whole box with
    // its caption, not only the part where the caret is.
    auto* scroll = qobject_cast<QScrollArea*>(centralWidget());
    const auto active = work_->Window().Active();
    auto* q = dynamic_cast<kvthost::qt::QtControl*>(active.get());
    if (!scroll || !q || !q->Widget() || !scroll->widget()) return;
    QRect shown(q->Widget()->mapTo(scroll->widget(), QPoint(0, 0)), q->Widget()->size());
    auto& fields = work_->Fields();
    if (fields.Index(active->Name()) != 0) {
      auto* caption = dynamic_cast<kvthost::qt::QtControl*>(
          fields.Item(kvt::Variant(active->Name()))->LinkedLabel().get());
      if (caption && caption->Widget() && caption->Widget()->isVisible()) {
        shown |= QRect(caption->Widget()->mapTo(scroll->widget(), QPoint(0, 0)),
                       caption->Widget()->size());
      }
    }
    ShowWhole(*scroll, shown.adjusted(-8, -8, 8, 8));
  };
  form.on_note = [this, current](kvthost::Control&, const std::string& note) {
    if (!current()) return;
    message_->setText(Q(note));
    noted_ = true;  // said as the field is left: the move that follows keeps it
  };
  form.on_focus_refused = [this, current](kvthost::Control&) {
    if (!current()) return;
    // A refusal without a message of its own (a script's check) still says why the focus stays.
    auto& list = work_->Host().Errors();
    if (list.Entries().size() == errors_seen_) message_->setText("Valore non accettato");
    errors_seen_ = list.Entries().size();
  };
}

void DeskWindow::ShowForm() {
  auto form = std::dynamic_pointer_cast<kvthost::qt::QtForm>(work_->WindowRef());
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(form->Window());  // a form of thousands of fields scrolls
  form->Window()->show();
  form->Show();
  setCentralWidget(scroll);
  RefreshTitle();
  MarkRequired();
  ApplyRights();
  work_->Fields().FocusOnFirstControl();
}

void DeskWindow::SayReadOnly(const char* refused) {
  message_->setText(
      QString("Il tuo account può solo consultare i documenti: non può %1").arg(refused));
}

void DeskWindow::ApplyRights() {
  // What the account may not do is not offered; the server would refuse it anyway.
  try {
    rights_ = work_->Engine().AccountRights();
  } catch (const std::exception&) {
    rights_ = {};  // unknown: offered, and a refusal is said when it comes
  }
  for (QAction* a : {save_action_.data(), delete_action_.data()}) {
    if (a) a->setEnabled(rights_.documents);
  }
  if (!rights_.documents) {
    SayReadOnly("salvarli");
  }
}

void DeskWindow::MarkRequired() {
  MarkRequiredFields(*work_);
  NameInputs(*work_);
}

QString DeskWindow::FoundText() const {
  return found_ ? found_->text() : QString();
}

QString DeskWindow::StatusText() const {
  return message_ ? message_->text() : QString();
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

void DeskWindow::RefreshTitle() {
  if (!work_) return;
  std::string title = archive_ + " - " + work_->FormName() + " - " + kvtapp::ShortName(db_);
  if (Correcting()) title = "Documento " + std::to_string(Correcting()) + " - " + title;
  modified_shown_ = session_ && session_->Modified();
  if (modified_shown_) title = "* " + title;  // unsaved changes
  setWindowTitle(Q(title));
  RefreshPosition();
}

void DeskWindow::ForgetWalkOfAll() {
  // Counted again when next needed: other people may have stored documents since.
  if (walk_ && walk_->Criteria().empty() && !walk_->Given()) walk_.reset();
  walk_id_ = -1;
}

kvtapp::DocumentWalk& DeskWindow::Walk() {
  if (!walk_) {
    walk_ = std::make_unique<kvtapp::DocumentWalk>(work_->EngineRef(), archive_);
    walk_id_ = -1;
  }
  return *walk_;
}

void DeskWindow::RefreshPosition() {
  if (!position_ || !work_) return;
  std::int64_t count = 0;
  try {
    auto& walk = Walk();
    if (walk_id_ != Correcting()) {
      walk_index_ = Correcting() ? walk.IndexOf(Correcting()) : -1;
      walk_id_ = Correcting();
    }
    count = walk.Count();
  } catch (const std::exception&) {
    // The database is gone: the navigator says nothing and leads nowhere, the form stays.
    walk_.reset();
    position_->clear();
    for (QAction* a : steps_) a->setEnabled(false);
    return;
  }
  const QLocale italian(QLocale::Italian, QLocale::Italy);
  // What was found is said so: the archive may hold more.
  const bool found = !walk_->Criteria().empty() || walk_->Given();
  const QString total =
      italian.toString(count) + (found ? (count == 1 ? " trovato" : " trovati") : QString());
  if (walk_index_ >= 0) {
    position_->setText(italian.toString(walk_index_ + 1) + " di " + total);
  } else if (count == 0) {
    position_->setText(found ? "Nessun documento trovato" : "Nessun documento");
  } else if (Correcting()) {
    position_->setText("– di " + total);  // not among those found
  } else {
    position_->setText("Nuovo, " + total + (found ? "" : count == 1 ? " documento" : " documenti"));
  }
  steps_[0]->setEnabled(count > 0 && walk_index_ != 0);
  steps_[1]->setEnabled(count > 0 && walk_index_ != 0);
  steps_[2]->setEnabled(walk_index_ >= 0 && walk_index_ + 1 < count);
  steps_[3]->setEnabled(count > 0 && walk_index_ + 1 != count);
}

QString DeskWindow::PositionText() const {
  return position_ ? position_->text() : QString();
}

QAction* DeskWindow::StepAction(Step step) const {
  return steps_[static_cast<int>(step)];
}

void DeskWindow::Move(Step step) {
  if (!work_ || !session_) return;
  try {
    auto& walk = Walk();
    RefreshPosition();
    const std::int64_t at = walk_index_;
    std::int32_t id = 0;
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
    if (index == -2) {
      id = walk.Last();
      index = walk.Count() - 1;
    } else {
      id = walk.At(index);
    }
    if (id == 0) {
      message_->setText("Non ci sono altri documenti");
      return;
    }
    if (id == Correcting() || !MayLeaveDocument()) return;
    OpenStored(id);
    if (Correcting() == id) {
      walk_id_ = id;
      walk_index_ = index;
      RefreshPosition();
    }
  } catch (const std::exception& e) {
    ShowFailure("I documenti non si leggono.", e, "Riaprire il database.");
  }
}

void DeskWindow::ShowError(const std::string& what, const std::string& todo) {
  kvt::CurrentPlatform().MsgBox(what + "\n\n" + todo, kvt::kMsgBoxOkOnly, "kvtfields");
}

void DeskWindow::ShowFailure(const std::string& what, const std::exception& e,
                             const std::string& todo) {
  // What failed, why in Italian, what to do; the original text (often the database's own,
  // in English) only under the details.
  const kvtapp::Problem problem = kvtapp::ProblemOf(e);
  const std::string prompt =
      what + "\n\n" + problem.happened + "\n\n" + (problem.todo.empty() ? todo : problem.todo);
  if (auto* qt = dynamic_cast<kvthost::qt::QtDesktop*>(&kvt::CurrentPlatform())) {
    qt->ShowProblem(prompt, problem.details, "kvtfields");
  } else {
    kvt::CurrentPlatform().MsgBox(prompt + "\n\nDettagli: " + problem.details, kvt::kMsgBoxOkOnly,
                                  "kvtfields");
  }
}

void DeskWindow::NewDocument() {
  if (!work_ || !MayLeaveDocument()) return;
  try {
    session_->New();
    ForgetWalkOfAll();
    MarkRequired();
    RefreshTitle();
    message_->setText("Nuovo documento");
  } catch (const std::exception& e) {
    ShowFailure("Il modulo non si ricostruisce.", e, "Riaprire il database.");
  }
}

void DeskWindow::ShowOutcome(const kvtapp::SaveOutcome& outcome) {
  using Result = kvtapp::SaveOutcome::Result;
  const std::string id = std::to_string(outcome.id);
  switch (outcome.result) {
    case Result::kStored:
      if (outcome.merged) {
        std::string fields;
        for (const auto& f : outcome.conflict.fields) {
          fields += (fields.empty() ? "" : ", ") + kvtapp::CaptionOf(work_->Fields(), f.name);
        }
        message_->setText(Q("Documento " + id + " corretto insieme alle modifiche di " +
                            kvtapp::Author(outcome.conflict.now.saved_by) + " (" + fields + ")"));
        break;
      }
      message_->setText(Q("Documento " + id + (outcome.corrected ? " corretto" : " salvato")));
      break;
    case Result::kUnchanged:
      message_->setText(Q("Nessuna modifica da salvare: il documento " + id + " è già salvato"));
      break;
    case Result::kRefused:
    case Result::kDuplicate:
      ShowError("Il documento non si salva:\n\n" + outcome.Message(),
                "Compilare o correggere i campi indicati, poi Salva.");
      break;
    case Result::kConflict:
      ShowError(outcome.Message(), "Salvare di nuovo per rivedere la scelta.");
      break;
  }
}

bool DeskWindow::Save() {
  if (!work_ || !session_) return false;
  if (!rights_.documents) {
    SayReadOnly("salvarli");
    return false;
  }
  try {
    work_->Host().Errors().Clear();
    errors_seen_ = 0;
    kvtapp::SaveOutcome outcome = session_->Save();
    if (outcome.result == kvtapp::SaveOutcome::Result::kDuplicate) {
      // Probably typed twice; the person may know better (two invoices can share a number).
      const int answer = kvt::CurrentPlatform().MsgBox(
          outcome.Message() + "\n\nSalvare comunque questo documento?", kvt::kMsgBoxOkCancel,
          "kvtfields");
      if (answer != kvt::kMsgBoxAnswerOk) {
        message_->setText("Documento non salvato: è probabilmente un doppione");
        return false;
      }
      outcome = session_->Save(/*allow_duplicate=*/true);
    }
    if (outcome.result == kvtapp::SaveOutcome::Result::kConflict) {
      if (!SettleConflict(outcome)) return false;
    }
    if (outcome.Stored() && !outcome.corrected && walk_ && walk_->Criteria().empty() &&
        !walk_->Given()) {
      // The newest document: last in the walk of them all.
      walk_->Append(outcome.id);
      walk_id_ = outcome.id;
      walk_index_ = walk_->Count() - 1;
    }
    ShowOutcome(outcome);
    RefreshTitle();
    if (outcome.Stored()) RefreshHistory(outcome.id);
    return outcome.Stored() || outcome.result == kvtapp::SaveOutcome::Result::kUnchanged;
  } catch (const std::exception& e) {
    ShowFailure("Il documento non è stato salvato; il modulo è rimasto com'era.", e,
                "Riprovare o correggere i valori.");
    return false;
  }
}

void DeskWindow::NextDocument() {
  if (!work_ || !MayLeaveDocument()) return;
  try {
    session_->Next();
    ForgetWalkOfAll();
    MarkRequired();
    RefreshTitle();
    message_->setText("Nuovo documento con i campi riportati");
  } catch (const std::exception& e) {
    ShowFailure("Il documento successivo non si prepara.", e, "Usare Documento > Nuovo.");
  }
}

bool DeskWindow::SettleConflict(kvtapp::SaveOutcome& outcome) {
  // Someone else's change came first. Fields only one of the two changed are merged; the person
  // decides only on the fields both changed, knowing whose and what, and Enter changes nothing.
  const bool deleted = outcome.conflict.now.change == kvtengine::Change::kDelete;
  const std::int32_t id = session_->Id();
  if (!deleted && outcome.both_changed.empty()) {
    outcome = session_->Merge(/*mine_where_both=*/false);
    return outcome.result != kvtapp::SaveOutcome::Result::kConflict || SettleConflict(outcome);
  }
  const std::string who = kvtapp::Author(outcome.conflict.now.saved_by);
  std::string prompt;
  if (deleted) {
    prompt =
        outcome.Message() + "\n\nSalvare comunque i tuoi valori?\n\nSì: il documento torna " +
        "con i tuoi valori (l'eliminazione resta nella cronologia).\nNo: lascia il documento " +
        "eliminato (le tue modifiche si perdono).\nAnnulla: resta sul modulo senza salvare.";
  } else {
    prompt = "Il documento " + std::to_string(id) + " è stato modificato da " + who + " il " +
             kvtapp::LocalTime(outcome.conflict.now.saved_at) +
             " dopo che l'hai aperto. Avete cambiato entrambi:";
    auto shown = [](const std::string& v) {
      return v.empty() ? std::string("(vuoto)") : "\"" + v + "\"";
    };
    for (const auto& [name, mine, theirs] : outcome.both_changed) {
      prompt += "\n  " + kvtapp::CaptionOf(work_->Fields(), name) + ": tuo " + shown(mine) +
                ", suo " + shown(theirs);
    }
    prompt += "\n\nGli altri campi cambiati da te o da " + who + " vengono uniti.\n\n" +
              "Sì: per questi campi valgono i tuoi valori.\nNo: per questi campi valgono i " +
              "suoi.\nAnnulla: resta sul modulo senza salvare.";
  }
  const int answer = kvt::CurrentPlatform().MsgBox(
      prompt, kvt::kMsgBoxYesNoCancel | kvt::kMsgBoxDefaultButton3, "kvtfields");
  if (answer == kvt::kMsgBoxAnswerYes || (!deleted && answer == kvt::kMsgBoxAnswerNo)) {
    outcome = deleted ? session_->KeepMine()
                      : session_->Merge(/*mine_where_both=*/answer == kvt::kMsgBoxAnswerYes);
    return outcome.result != kvtapp::SaveOutcome::Result::kConflict || SettleConflict(outcome);
  }
  if (answer == kvt::kMsgBoxAnswerNo) {
    session_->New();
    LeftBehind(id, "Il documento " + std::to_string(id) + " resta eliminato");
    return false;
  }
  message_->setText("Documento non salvato: un altro utente lo ha cambiato");
  return false;
}

void DeskWindow::LeftBehind(std::int32_t id, const std::string& said) {
  if (walk_) walk_->Forget(id);
  walk_id_ = -1;
  MarkRequired();
  RefreshTitle();
  message_->setText(Q(said));
}

bool DeskWindow::MayLeaveDocument() {
  if (!session_ || !rights_.documents) return true;  // nothing this account could store
  try {
    if (!session_->Modified()) return true;
  } catch (const std::exception&) {
    return true;  // a form that cannot be read holds nothing to save
  }
  const int answer =
      kvt::CurrentPlatform().MsgBox(kSaveChangesQuestion, kvt::kMsgBoxYesNoCancel, "kvtfields");
  if (answer == kvt::kMsgBoxAnswerNo) return true;
  if (answer == kvt::kMsgBoxAnswerYes) return Save() && !session_->Modified();
  return false;
}

bool DeskWindow::DeleteDocument() {
  if (!session_) return false;
  if (!rights_.documents) {
    SayReadOnly("eliminarli");
    return false;
  }
  const std::int32_t id = session_->Id();
  if (id == 0) {
    message_->setText("Il documento non è ancora salvato: non c'è niente da eliminare");
    return false;
  }
  const int answer = kvt::CurrentPlatform().MsgBox(
      "Eliminare il documento " + std::to_string(id) +
          "?\n\nResterà nella cronologia: Visualizza > Documenti eliminati lo ripristina.",
      kvt::kMsgBoxOkCancel, "kvtfields");
  if (answer != kvt::kMsgBoxAnswerOk) return false;
  try {
    session_->Delete();
    LeftBehind(id, "Documento " + std::to_string(id) + " eliminato");
    RefreshHistory(id);
    return true;
  } catch (const std::exception& e) {
    ShowFailure("Il documento " + std::to_string(id) + " non è stato eliminato.", e, "Riprovare.");
    return false;
  }
}

void DeskWindow::ShowHistory(std::int32_t id) {
  if (!work_ || !session_) return;
  if (id == 0) id = session_->Id();
  if (id == 0) {
    message_->setText("Il documento non è ancora salvato: non ha una cronologia");
    return;
  }
  try {
    auto history = work_->Engine().History(id);
    if (history_) history_->close();
    // A field's caption from the form; a name the form no longer has stays as stored.
    std::map<std::string, std::string> captions;
    for (std::int32_t i = 1; i <= work_->Fields().Count(); ++i) {
      auto field = work_->Fields().Item(kvt::Variant(i));
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
    if (!rights_.documents) history_->RestoreButton()->setVisible(false);
    history_->show();
  } catch (const std::exception& e) {
    ShowFailure("La cronologia del documento " + std::to_string(id) + " non si legge.", e,
                "Riprovare.");
  }
}

bool DeskWindow::RestoreVersion(std::int32_t id, std::int32_t version, std::int32_t base) {
  if (!work_ || !session_) return false;
  if (!rights_.documents) {
    SayReadOnly("ripristinarli");
    return false;
  }
  if (!MayLeaveDocument()) return false;
  try {
    const std::int32_t made = work_->Engine().RestoreDocument(id, version, base);
    ForgetWalkOfAll();  // a deleted one is back among the archive's documents
    OpenStored(id);
    message_->setText(Q("Documento " + std::to_string(id) + ": ripristinata la versione " +
                        std::to_string(version) + " (ora versione " + std::to_string(made) + ")"));
    RefreshHistory(id);
    if (deleted_) deleted_->close();
    return true;
  } catch (const std::exception& e) {
    ShowFailure("La versione " + std::to_string(version) + " del documento " + std::to_string(id) +
                    " non è stata ripristinata.",
                e, "Riaprire la cronologia e riprovare.");
    return false;
  }
}

void DeskWindow::RefreshHistory(std::int32_t id) {
  // An open history of the document shows its newest version too.
  if (!history_ || history_->Id() != id) return;
  try {
    history_->SetHistory(work_->Engine().History(id));
  } catch (const std::exception&) {
    history_->close();  // read again when asked for
  }
}

void DeskWindow::ShowDeleted() {
  if (!work_) return;
  try {
    if (deleted_) deleted_->close();
    deleted_ = new DeletedDialog(
        this, work_->Engine().DeletedDocuments(work_->Archive()),
        [this](std::int32_t id) { ShowHistory(id); },
        [this](std::int32_t id) {
          try {
            // The version before its deletion, as the history read now has it.
            const auto history = work_->Engine().History(id);
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

void DeskWindow::UndoChanges() {
  if (!work_ || !session_) return;
  try {
    if (work_->Window().RevertFocused()) return;  // the field back to its value on entry
    if (!session_->Modified()) return;
    session_->Revert();
    RefreshTitle();
    message_->setText("Modifiche annullate");
  } catch (const std::exception& e) {
    ShowFailure("Le modifiche non si annullano.", e, "Documento > Nuovo.");
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
  if (work_) ApplySettings(*work_);
  if (viewer_work_) ApplySettings(*viewer_work_);
}

void DeskWindow::closeEvent(QCloseEvent* event) {
  if (MayLeaveDocument()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void DeskWindow::FindDocuments() {
  if (!work_) return;
  if (!find_) {
    find_ = new QDialog(this);
    find_->setWindowTitle("Trova documenti");
    auto* column = new QVBoxLayout(find_);
    auto* row = new QHBoxLayout();
    search_field_ = new QComboBox(find_);
    search_field_->addItem("Tutti i campi", QString());
    std::vector<DocumentsModel::Column> columns;
    // The form's own fields, empty, to type criteria into: text starts with (* anywhere),
    // numbers and dates a value or a range, a combo one of its codes.
    auto* by_form = new QWidget;
    auto* grid = new QGridLayout(by_form);
    grid->setContentsMargins(4, 4, 4, 4);
    criteria_inputs_.clear();
    for (std::int32_t i = 1; i <= work_->Fields().Count(); ++i) {
      auto field = work_->Fields().Item(kvt::Variant(i));
      const std::string caption = kvtapp::Caption(*field);
      DocumentsModel::Column c{
          field->Name(), caption, work_->Engine().KindOf(work_->Archive(), field->Name()), {}};
      auto* label = new QLabel(Q(caption + ":"), by_form);
      CriterionInput input{field->Name(), c.kind, nullptr, nullptr};
      if (auto* combo = dynamic_cast<kvthost::CodeCombo*>(field->LinkedControl().get())) {
        input.codes = new QComboBox(by_form);
        input.codes->addItem("(qualsiasi)", QString());
        for (const auto& [code, description] : combo->Entries()) {
          if (code.empty()) continue;
          c.codes.emplace(code, description);
          input.codes->addItem(Q(description.empty() ? code : code + " - " + description), Q(code));
        }
        QObject::connect(input.codes.data(), &QComboBox::currentIndexChanged, find_,
                         [this] { RunSearch(); });
        label->setBuddy(input.codes);
        input.codes->setAccessibleName(Q(caption));
      } else {
        input.text = new QLineEdit(by_form);
        input.text->setPlaceholderText(c.kind == kvtengine::SearchKind::kText
                                           ? "inizia con... (* ovunque)"
                                           : "valore, o da..a");
        label->setBuddy(input.text);
        input.text->setAccessibleName(Q(caption));
      }
      const int at = static_cast<int>(criteria_inputs_.size());
      grid->addWidget(label, at / 2, (at % 2) * 2);
      grid->addWidget(input.text ? static_cast<QWidget*>(input.text) : input.codes, at / 2,
                      (at % 2) * 2 + 1);
      criteria_inputs_.push_back(input);
      columns.push_back(std::move(c));
      search_field_->addItem(Q(caption), Q(field->Name()));
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    auto* form_area = new QScrollArea(find_);
    form_area->setWidget(by_form);
    form_area->setWidgetResizable(true);
    form_area->setMaximumHeight(by_form->sizeHint().height() + 8);
    form_area->setMinimumHeight(std::min(by_form->sizeHint().height() + 8, 200));
    search_field_->setToolTip("Il campo in cui cercare");
    filter_ = new QLineEdit(find_);
    filter_->setPlaceholderText("Cerca...");
    filter_->setToolTip(
        "Testo: inizia con (con * contiene); numeri e date: un valore o un intervallo da..a");
    // How many were found, or why a criterion was refused: a line of its own, so that a long
    // sentence neither widens the dialog nor squeezes the search box.
    found_ = new QLabel(find_);
    found_->setWordWrap(true);
    row->addWidget(search_field_);
    row->addWidget(filter_, 1);
    table_ = new QTableView(find_);
    documents_ =
        new DocumentsModel(work_->EngineRef(), work_->Archive(), std::move(columns), find_);
    table_->setModel(documents_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    // One line a document, columns as wide as their captions and first page.
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    column->addLayout(row);
    column->addWidget(found_);
    column->addWidget(form_area);
    column->addWidget(table_, 1);
    // What was found, on paper or in a PDF.
    auto* actions = new QHBoxLayout();
    auto* print = new QPushButton("&Stampa...", find_);
    auto* pdf = new QPushButton("Esporta &PDF...", find_);
    print->setAutoDefault(false);
    pdf->setAutoDefault(false);
    QObject::connect(print, &QPushButton::clicked, find_, [this] { Print(true); });
    QObject::connect(pdf, &QPushButton::clicked, find_, [this] {
      const QString path = QFileDialog::getSaveFileName(find_, "Esporta PDF", "documenti.pdf",
                                                        "Documenti PDF (*.pdf)");
      if (!path.isEmpty()) ExportPdf(path.toStdString(), true);
    });
    auto* clear = new QPushButton("Pu&lisci", find_);
    clear->setAutoDefault(false);
    clear->setToolTip("Toglie ogni criterio: tutti i documenti");
    QObject::connect(clear, &QPushButton::clicked, find_, [this] { ClearCriteria(); });
    actions->addWidget(clear);
    actions->addStretch(1);
    actions->addWidget(print);
    actions->addWidget(pdf);
    column->addLayout(actions);
    // Tab goes as the eye reads: the quick search, the form's fields in form order, the list,
    // the buttons.
    QWidget* previous = filter_;
    QWidget::setTabOrder(search_field_, filter_);
    for (const auto& input : criteria_inputs_) {
      QWidget* next = input.text ? static_cast<QWidget*>(input.text) : input.codes;
      QWidget::setTabOrder(previous, next);
      previous = next;
    }
    for (QWidget* next : {static_cast<QWidget*>(table_), static_cast<QWidget*>(clear),
                          static_cast<QWidget*>(print), static_cast<QWidget*>(pdf)}) {
      QWidget::setTabOrder(previous, next);
      previous = next;
    }
    find_->resize(760, 420);
    // A search per pause in typing, not per key.
    auto* pause = new QTimer(find_);
    pause->setSingleShot(true);
    pause->setInterval(250);
    QObject::connect(pause, &QTimer::timeout, find_, [this] { RunSearch(); });
    QObject::connect(filter_.data(), &QLineEdit::textChanged, pause,
                     static_cast<void (QTimer::*)()>(&QTimer::start));
    QObject::connect(search_field_.data(), &QComboBox::currentIndexChanged, find_,
                     [this] { RunSearch(); });
    for (const auto& input : criteria_inputs_) {
      if (!input.text) continue;
      QObject::connect(input.text.data(), &QLineEdit::textChanged, pause,
                       static_cast<void (QTimer::*)()>(&QTimer::start));
    }
    // A header sorts by its field as the field's kind orders; again, the other way.
    auto* header = table_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    QObject::connect(header, &QHeaderView::sectionClicked, find_, [this, header](int section) {
      // The header has turned its indicator already: that is the order asked for.
      SortFound(section, header->sortIndicatorOrder());
    });
    auto open = [this] {
      const QModelIndex current = table_->currentIndex();
      if (!current.isValid()) return;
      const int id = documents_->data(current, Qt::UserRole).toInt();
      find_->hide();
      if (!MayLeaveDocument()) return;
      try {
        // The navigator walks what was found from here on.
        auto sorted = documents_->SortedIds();
        walk_ = sorted.empty() ? std::make_unique<kvtapp::DocumentWalk>(
                                     work_->EngineRef(), work_->Archive(), documents_->Criteria())
                               : std::make_unique<kvtapp::DocumentWalk>(std::move(sorted));
        walk_id_ = -1;
      } catch (const std::exception& e) {
        ShowFailure("I documenti non si leggono.", e, "Riaprire il database.");
        return;
      }
      OpenStored(id);
    };
    QObject::connect(table_.data(), &QTableView::activated, find_, open);
    // Enter in the search box or a field searches at once and opens the first document found.
    auto search_and_open = [this, pause, open] {
      pause->stop();
      if (!RunSearch() || documents_->rowCount({}) == 0) return;
      table_->setCurrentIndex(documents_->index(0, 0));
      open();
    };
    QObject::connect(filter_.data(), &QLineEdit::returnPressed, find_, search_and_open);
    for (const auto& input : criteria_inputs_) {
      if (input.text) {
        QObject::connect(input.text.data(), &QLineEdit::returnPressed, find_, search_and_open);
      }
    }
  }
  if (!RunSearch()) return;
  find_->show();
  find_->raise();
  find_->activateWindow();
  filter_->setFocus();
}

kvtengine::Criterion DeskWindow::CriterionOf(const std::string& field, std::string text) {
  kvtengine::Criterion c{field, kvtengine::Criterion::Op::kContains, text, ""};
  // As the engine compares the field: text, or a number or date.
  const bool text_field = field.empty() || work_->Engine().KindOf(work_->Archive(), field) ==
                                               kvtengine::SearchKind::kText;
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

std::string DeskWindow::RefusedCriterion(const std::vector<kvtengine::Criterion>& criteria) {
  // Which one, in the person's words: the engine's text names the field's inner name.
  for (const auto& c : criteria) {
    const auto kind = c.field.empty() ? kvtengine::SearchKind::kText
                                      : work_->Engine().KindOf(work_->Archive(), c.field);
    try {
      (void)kvtengine::KeyConditionOf(c, kind, "kvtfields-desk");
      continue;
    } catch (const kvt::Error&) {
    }
    if (c.field.empty()) return "In tutti i campi si cerca un testo, non un intervallo.";
    const std::string caption = kvtapp::CaptionOf(work_->Fields(), c.field);
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

bool DeskWindow::RunSearch() {
  if (!documents_) return false;
  std::vector<kvtengine::Criterion> criteria;
  auto add = [&](const std::string& field, const std::string& typed) {
    if (typed.empty()) return;
    auto c = CriterionOf(field, typed);
    if (!c.value.empty() || !c.to.empty()) criteria.push_back(std::move(c));
  };
  add(search_field_->currentData().toString().toStdString(),
      filter_->text().trimmed().toStdString());
  for (const auto& input : criteria_inputs_) {
    if (input.text) add(input.field, input.text->text().trimmed().toStdString());
    if (input.codes && !input.codes->currentData().toString().isEmpty()) {
      criteria.push_back({input.field, kvtengine::Criterion::Op::kEqual,
                          input.codes->currentData().toString().toStdString(), ""});
    }
  }
  try {
    documents_->Search(criteria);
  } catch (const kvt::Error& e) {
    if (e.Number() == 5) {  // what was typed, not the database
      found_->setText(Q(RefusedCriterion(criteria)));
      found_->setToolTip(Q(e.Description()));
      return true;
    }
    ShowFailure("I documenti non si leggono.", e, "Riaprire il database.");
    return false;
  } catch (const std::exception& e) {
    ShowFailure("I documenti non si leggono.", e, "Riaprire il database.");
    return false;
  }
  if (!sized_) {
    table_->resizeColumnsToContents();
    // The number column as wide as a number of millions, whatever the first page held.
    table_->setColumnWidth(0, std::max(table_->columnWidth(0),
                                       table_->fontMetrics().horizontalAdvance("00000000") + 12));
    sized_ = true;
  }
  table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);  // entry order
  const auto total = documents_->Total();
  found_->setText(QLocale(QLocale::Italian, QLocale::Italy).toString(total) +
                  (total == 1 ? " documento" : " documenti"));
  found_->setToolTip(QString());
  return true;
}

void DeskWindow::ClearCriteria() {
  if (!find_) return;
  {
    // One search for all of it, not one per field emptied.
    std::vector<std::unique_ptr<QSignalBlocker>> quiet;
    quiet.push_back(std::make_unique<QSignalBlocker>(filter_.data()));
    quiet.push_back(std::make_unique<QSignalBlocker>(search_field_.data()));
    filter_->clear();
    search_field_->setCurrentIndex(0);
    for (const auto& input : criteria_inputs_) {
      if (input.text) {
        quiet.push_back(std::make_unique<QSignalBlocker>(input.text.data()));
        input.text->clear();
      }
      if (input.codes) {
        quiet.push_back(std::make_unique<QSignalBlocker>(input.codes.data()));
        input.codes->setCurrentIndex(0);
      }
    }
  }
  RunSearch();
  filter_->setFocus();
}

bool DeskWindow::SortFound(int column, std::optional<Qt::SortOrder> asked) {
  if (!documents_) return false;
  auto* header = table_->horizontalHeader();
  const auto last = documents_->SortedBy();
  const Qt::SortOrder order =
      asked ? *asked
            : (last && *last == std::make_pair(column, Qt::AscendingOrder) ? Qt::DescendingOrder
                                                                           : Qt::AscendingOrder);
  try {
    if (!documents_->SortBy(column, order)) {
      header->setSortIndicator(-1, Qt::AscendingOrder);
      found_->setText(
          "Troppi documenti per ordinarli (più di " +
          QLocale(QLocale::Italian, QLocale::Italy).toString(DocumentsModel::kSortLimit) +
          "): restringere la ricerca");
      return false;
    }
  } catch (const std::exception& e) {
    ShowFailure("I documenti non si leggono.", e, "Riaprire il database.");
    return false;
  }
  header->setSortIndicator(column, order);
  return true;
}

void DeskWindow::Correct(std::int32_t id) {
  if (MayLeaveDocument()) OpenStored(id);
}

void DeskWindow::OpenStored(std::int32_t id) {
  try {
    session_->Open(id, review_form_);
    MarkRequired();
    RefreshTitle();
    std::string said =
        "Correzione del documento " + std::to_string(id) + ": Salva registra le correzioni";
    if (!session_->Extras().empty()) {
      // Values the form has no field for (renamed since, or not on this form) stay stored as they
      // are; the person is told they exist.
      std::string extras;
      for (const auto& [name, v] : session_->Extras()) {
        std::string text = v.IsNull() || v.IsEmpty() ? std::string() : kvt::JoinText(v);
        if (kvt::CharLength(text) > 40)
          text = text.substr(0, kvt::ByteOffsetOfChar(text, 40)) + "…";
        extras += (extras.empty() ? "" : "; ") + kvt::Printable(name) + " = \"" +
                  kvt::Printable(text) + "\"";
      }
      said += ". Valori fuori dal modulo, conservati: " + extras;
      message_->setToolTip(Q(said));
    } else {
      message_->setToolTip({});
    }
    message_->setText(Q(said));
    activateWindow();
    work_->Fields().FocusOnFirstControl();
  } catch (const std::exception& e) {
    ShowFailure("Il documento " + std::to_string(id) + " non si apre.", e,
                "Scegliere un altro documento.");
    session_->New();
    MarkRequired();
    RefreshTitle();
  }
}

std::optional<std::vector<kvtprint::PrintedDocument>> DeskWindow::ToPrint(bool found) {
  if (!work_) return std::nullopt;
  std::vector<kvtprint::PrintedDocument> docs;
  try {
    if (!found) {
      docs.push_back(kvtprint::FormPrint::OnForm(*work_, Correcting()));
      return docs;
    }
    if (!documents_) return docs;
    // A page each a document: thousands of pages are a question first.
    constexpr std::int64_t kAsk = 500;
    const std::int64_t total = documents_->Total();
    if (total > kAsk &&
        kvt::CurrentPlatform().MsgBox(
            "Sono stati trovati " + std::to_string(total) + " documenti: stamparli tutti?",
            kvt::kMsgBoxOkCancel, "kvtfields") != kvt::kMsgBoxAnswerOk) {
      return std::nullopt;
    }
    const kvtprint::FormPrint print(*work_);
    std::int32_t after = 0;
    for (;;) {
      const auto ids =
          work_->Engine().SearchDocuments(work_->Archive(), documents_->Criteria(), after, 500);
      if (ids.empty()) break;
      work_->Engine().ReadDocumentsById(
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
    kvtapp::OutputFile out(path, {db_});
    out.Write(std::string_view(pdf.constData(), static_cast<std::size_t>(pdf.size())));
    out.Commit();
  } catch (const std::exception& e) {
    ShowFailure("Il PDF " + path + " non è stato scritto.", e,
                "Scegliere un'altra cartella o un altro nome.");
    return false;
  }
  message_->setText(Q("PDF scritto: " + path));
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
  message_->setText("Stampa inviata");
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
  if (!work_) return;
  try {
    // The viewer shows the document in its own window, with its keys (Ctrl+Alt+C copies the
    // retained values, Ctrl+Alt+V pastes them, Enter saves).
    CloseFieldViewer();
    viewer_work_ = std::make_unique<kvtapp::Workspace>(QtPersonOn());
    viewer_work_->Open(db_, false);
    viewer_work_->Build(archive_, review_form_);
    ApplySettings(*viewer_work_);
    viewer_work_->Fields().SetFieldsValue(work_->Fields().FieldsValue());
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
    viewer_frame_ = frame;
    frame->show();
  } catch (const std::exception& e) {
    ShowFailure("Il visualizzatore non si apre.", e, "Riprovare.");
  }
}

}  // namespace kvtdesk
