#include "find_dialog.h"

#include <QAbstractTableModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcutEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "file_dialogs.h"
#include "host/common/standard_controls.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtdesk {
namespace {

// A button whose letter (Alt+letter) acts at once, as a menu item's does: Qt's own animates a
// click for a tenth of a second, and keys typed meanwhile would go where the click then moves
// the focus from.
class KeyButton final : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::Shortcut && !static_cast<QShortcutEvent*>(e)->isAmbiguous() &&
        isEnabled()) {
      click();
      return true;
    }
    return QPushButton::event(e);
  }
};

QString Q(const std::string& s) {
  return QString::fromStdString(s);
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

FindDialog::FindDialog(QWidget* parent, kvtapp::EntrySession& session, Hooks hooks)
    : QDialog(parent), session_(session), hooks_(std::move(hooks)) {
  auto& w = *session_.Work();
  setWindowTitle("Trova documenti");
  auto* column = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  search_field_ = new QComboBox(this);
  search_field_->addItem("Tutti i campi", QString());
  std::vector<DocumentsModel::Column> columns;
  // The form's own fields, empty, to type criteria into: text starts with (* anywhere),
  // numbers and dates a value or a range, a combo one of its codes.
  auto* by_form = new QWidget;
  auto* grid = new QGridLayout(by_form);
  grid->setContentsMargins(4, 4, 4, 4);
  inputs_.clear();
  for (std::int32_t i = 1; i <= w.Fields().Count(); ++i) {
    auto field = w.Fields().Item(kvt::Variant(i));
    const std::string caption = kvtapp::Caption(*field);
    DocumentsModel::Column c{
        field->Name(), caption, w.Engine().KindOf(w.Archive(), field->Name()), {}};
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
      QObject::connect(input.codes.data(), &QComboBox::currentIndexChanged, this,
                       [this] { RunSearch(); });
      label->setBuddy(input.codes);
      input.codes->setAccessibleName(Q(caption));
    } else {
      input.text = new QLineEdit(by_form);
      input.text->setPlaceholderText(
          c.kind == kvtengine::SearchKind::kText ? "inizia con... (* ovunque)" : "valore, o da..a");
      label->setBuddy(input.text);
      input.text->setAccessibleName(Q(caption));
    }
    const int at = static_cast<int>(inputs_.size());
    grid->addWidget(label, at / 2, (at % 2) * 2);
    grid->addWidget(input.text ? static_cast<QWidget*>(input.text) : input.codes, at / 2,
                    (at % 2) * 2 + 1);
    inputs_.push_back(input);
    columns.push_back(std::move(c));
    search_field_->addItem(Q(caption), Q(field->Name()));
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  auto* form_area = new QScrollArea(this);
  form_area->setWidget(by_form);
  form_area->setWidgetResizable(true);
  form_area->setMaximumHeight(by_form->sizeHint().height() + 8);
  form_area->setMinimumHeight(std::min(by_form->sizeHint().height() + 8, 200));
  search_field_->setToolTip("Il campo in cui cercare");
  filter_ = new QLineEdit(this);
  filter_->setPlaceholderText("Cerca...");
  filter_->setToolTip(
      "Testo: inizia con (con * contiene); numeri e date: un valore o un intervallo da..a");
  // How many were found, or why a criterion was refused: a line of its own, so that a long
  // sentence neither widens the dialog nor squeezes the search box.
  found_ = new QLabel(this);
  found_->setWordWrap(true);
  row->addWidget(search_field_);
  row->addWidget(filter_, 1);
  // Words on the pages of the documents' files, with the criteria above in one search.
  words_ = new QLineEdit(this);
  words_->setPlaceholderText("parole nelle pagine: tutte, \"una frase\", inizio*");
  words_->setToolTip(
      "Le parole lette dalle pagine dei file dei documenti: ognuna deve esserci; tra virgolette "
      "una frase, con * le parole che iniziano così");
  words_->setAccessibleName("Parole nelle pagine");
  auto* words_label = new QLabel("Pa&role:", this);
  words_label->setBuddy(words_);
  auto* words_row = new QHBoxLayout();
  words_row->addWidget(words_label);
  words_row->addWidget(words_, 1);
  table_ = new QTableView(this);
  documents_ = new DocumentsModel(w.EngineRef(), w.Archive(), std::move(columns), this);
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
  column->addLayout(words_row);
  column->addWidget(table_, 1);
  // What was found, on paper or in a PDF.
  auto* actions = new QHBoxLayout();
  auto* print = new KeyButton("&Stampa...", this);
  auto* pdf = new KeyButton("Esporta &PDF...", this);
  print->setAutoDefault(false);
  pdf->setAutoDefault(false);
  QObject::connect(print, &QPushButton::clicked, this, [this] { hooks_.print(); });
  QObject::connect(pdf, &QPushButton::clicked, this, [this] {
    const QString path =
        ChooseFileToSave(this, "Esporta PDF", "documenti.pdf", "Documenti PDF (*.pdf)");
    if (!path.isEmpty()) hooks_.pdf(path.toStdString());
  });
  auto* clear = new KeyButton("Pu&lisci", this);
  clear->setAutoDefault(false);
  clear->setToolTip("Toglie ogni criterio: tutti i documenti");
  QObject::connect(clear, &QPushButton::clicked, this, [this] { ClearCriteria(); });
  // Sorting by keys: the list's current column (Left and Right choose it), again the other way;
  // the list keeps the focus, to walk it and open with Enter.
  auto* sort = new KeyButton("&Ordina per la colonna", this);
  sort->setAutoDefault(false);
  sort->setToolTip(
      "Ordina per la colonna della cella corrente dell'elenco (frecce sinistra e destra per "
      "sceglierla); di nuovo, al contrario");
  QObject::connect(sort, &QPushButton::clicked, this, [this] {
    const QModelIndex current = table_->currentIndex();
    SortFound(current.isValid() ? current.column() : 0);
    table_->setFocus();
  });
  actions->addWidget(clear);
  actions->addWidget(sort);
  actions->addStretch(1);
  actions->addWidget(print);
  actions->addWidget(pdf);
  column->addLayout(actions);
  // Tab goes as the eye reads: the quick search, the form's fields in form order, the words,
  // the list, the buttons.
  QWidget* previous = filter_;
  QWidget::setTabOrder(search_field_, filter_);
  for (const auto& input : inputs_) {
    QWidget* next = input.text ? static_cast<QWidget*>(input.text) : input.codes;
    QWidget::setTabOrder(previous, next);
    previous = next;
  }
  for (QWidget* next :
       {static_cast<QWidget*>(words_), static_cast<QWidget*>(table_), static_cast<QWidget*>(clear),
        static_cast<QWidget*>(sort), static_cast<QWidget*>(print), static_cast<QWidget*>(pdf)}) {
    QWidget::setTabOrder(previous, next);
    previous = next;
  }
  // As tall as the screen allows: the list shows as many documents as fit.
  const QRect screen =
      parent && parent->screen() ? parent->screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  resize(std::min(900, screen.width() * 9 / 10), std::max(420, screen.height() * 8 / 10));
  // A search per pause in typing, not per key.
  auto* pause = new QTimer(this);
  pause->setObjectName("kvtSearchPause");
  pause->setSingleShot(true);
  pause->setInterval(250);
  QObject::connect(pause, &QTimer::timeout, this, [this] { RunSearch(); });
  for (QLineEdit* typed : {filter_.data(), words_.data()}) {
    QObject::connect(typed, &QLineEdit::textChanged, pause,
                     static_cast<void (QTimer::*)()>(&QTimer::start));
  }
  QObject::connect(search_field_.data(), &QComboBox::currentIndexChanged, this,
                   [this] { RunSearch(); });
  for (const auto& input : inputs_) {
    if (!input.text) continue;
    QObject::connect(input.text.data(), &QLineEdit::textChanged, pause,
                     static_cast<void (QTimer::*)()>(&QTimer::start));
  }
  // A header sorts by its field as the field's kind orders; again, the other way.
  auto* header = table_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::AscendingOrder);
  QObject::connect(header, &QHeaderView::sectionClicked, this, [this, header](int section) {
    // The header has turned its indicator already: that is the order asked for.
    SortFound(section, header->sortIndicatorOrder());
  });
  auto open = [this] { Open(); };
  QObject::connect(table_.data(), &QTableView::activated, this, open);
  // Enter in the search box or a field searches at once and opens the first document found.
  auto search_and_open = [this, pause, open] {
    pause->stop();
    if (!RunSearch() || documents_->rowCount({}) == 0) return;
    table_->setCurrentIndex(documents_->index(0, 0));
    open();
  };
  for (QLineEdit* typed : {filter_.data(), words_.data()}) {
    QObject::connect(typed, &QLineEdit::returnPressed, this, search_and_open);
    typed->installEventFilter(this);
  }
  for (const auto& input : inputs_) {
    if (input.text) {
      QObject::connect(input.text.data(), &QLineEdit::returnPressed, this, search_and_open);
      input.text->installEventFilter(this);
    }
  }
}

bool FindDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier) {
      // From what was typed to what it found, without tabbing past every criterion; what was
      // typed last is searched first.
      if (auto* pause = findChild<QTimer*>("kvtSearchPause"); pause && pause->isActive()) {
        pause->stop();
        RunSearch();
      }
      if (documents_->rowCount({}) > 0) table_->setFocus(Qt::TabFocusReason);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void FindDialog::Open() {
  const QModelIndex current = table_->currentIndex();
  if (!current.isValid()) return;
  const int id = documents_->data(current, Qt::UserRole).toInt();
  hide();
  hooks_.open(id, documents_->Criteria(), documents_->SortedIds());
}

void FindDialog::Present() {
  if (!RunSearch()) return;
  show();
  raise();
  activateWindow();
  filter_->setFocus();
}

std::int64_t FindDialog::Total() const {
  return documents_ ? documents_->Total() : 0;
}

const std::vector<kvtengine::Criterion>& FindDialog::Criteria() const {
  return documents_->Criteria();
}

bool FindDialog::RunSearch() {
  if (!documents_) return false;
  std::vector<kvtengine::Criterion> criteria;
  auto add = [&](const std::string& field, const std::string& typed) {
    if (typed.empty()) return;
    auto c = session_.CriterionOf(field, typed);
    if (!c.value.empty() || !c.to.empty()) criteria.push_back(std::move(c));
  };
  add(search_field_->currentData().toString().toStdString(),
      filter_->text().trimmed().toStdString());
  if (const std::string words = words_->text().trimmed().toStdString(); !words.empty()) {
    kvtengine::Criterion c;
    c.op = kvtengine::Criterion::Op::kWords;
    c.value = words;
    criteria.push_back(std::move(c));
  }
  for (const auto& input : inputs_) {
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
      found_->setText(Q(session_.RefusedCriterion(criteria)));
      found_->setToolTip(Q(e.Description()));
      return true;
    }
    hooks_.failure(
        kvtapp::EntrySession::Failure("I documenti non si leggono.", e, "Riaprire il database."));
    return false;
  } catch (const std::exception& e) {
    hooks_.failure(
        kvtapp::EntrySession::Failure("I documenti non si leggono.", e, "Riaprire il database."));
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
  // The first document current: the list is walked by keys from there, Enter opens it.
  if (documents_->rowCount({}) > 0) table_->setCurrentIndex(documents_->index(0, 0));
  const auto total = documents_->Total();
  found_->setText(QLocale(QLocale::Italian, QLocale::Italy).toString(total) +
                  (total == 1 ? " documento" : " documenti"));
  found_->setToolTip(QString());
  return true;
}

void FindDialog::ClearCriteria() {
  {
    // One search for all of it, not one per field emptied.
    std::vector<std::unique_ptr<QSignalBlocker>> quiet;
    quiet.push_back(std::make_unique<QSignalBlocker>(filter_.data()));
    quiet.push_back(std::make_unique<QSignalBlocker>(search_field_.data()));
    quiet.push_back(std::make_unique<QSignalBlocker>(words_.data()));
    filter_->clear();
    words_->clear();
    search_field_->setCurrentIndex(0);
    for (const auto& input : inputs_) {
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

bool FindDialog::SortFound(int column, std::optional<Qt::SortOrder> asked) {
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
    hooks_.failure(
        kvtapp::EntrySession::Failure("I documenti non si leggono.", e, "Riaprire il database."));
    return false;
  }
  header->setSortIndicator(column, order);
  return true;
}

}  // namespace kvtdesk
