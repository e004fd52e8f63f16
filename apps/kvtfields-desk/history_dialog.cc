#include "history_dialog.h"

#include <QBrush>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "common/document_files.h"
#include "common/document_session.h"
#include "runtime/text.h"

namespace kvtdesk {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QString Shown(const kvt::Variant* v) {
  if (!v || v->IsNull() || v->IsEmpty()) return {};
  return Q(kvtapp::ShownValue(kvt::JoinText(*v)));  // a file by its name, not its reference
}

}  // namespace

std::string VersionText(const kvtengine::VersionInfo& v) {
  return std::to_string(v.version) + " · " + kvtapp::ChangeWord(v.change) + " da " +
         kvtapp::Author(v.saved_by) + " · " + kvtapp::LocalTime(v.saved_at);
}

HistoryDialog::HistoryDialog(QWidget* parent, std::int32_t id,
                             std::vector<kvtengine::DocumentVersion> history,
                             std::function<std::string(const std::string&)> caption,
                             std::function<void(std::int32_t version)> restore)
    : QDialog(parent), id_(id), caption_(std::move(caption)) {
  setWindowTitle(Q("Cronologia del documento " + std::to_string(id)));
  auto* column = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  versions_ = new QListWidget(this);
  versions_->setAccessibleName("Versioni");
  versions_->setMinimumWidth(400);
  values_ = new QTableWidget(0, 3, this);
  values_->setHorizontalHeaderLabels({"Campo", "Valore", "Prima"});
  values_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  values_->setSelectionBehavior(QAbstractItemView::SelectRows);
  values_->verticalHeader()->hide();
  values_->horizontalHeader()->setStretchLastSection(true);
  values_->setAccessibleName("Valori della versione");
  auto* versions_label = new QLabel("&Versioni:", this);
  versions_label->setBuddy(versions_);
  auto* left = new QVBoxLayout();
  left->addWidget(versions_label);
  left->addWidget(versions_);
  row->addLayout(left);
  row->addWidget(values_, 1);
  column->addLayout(row);
  auto* note = new QLabel(
      "In evidenza i campi cambiati da questa versione; «Prima» mostra il "
      "valore che avevano.",
      this);
  note->setWordWrap(true);
  column->addWidget(note);
  auto* buttons = new QHBoxLayout();
  restore_button_ = new QPushButton("&Ripristina questa versione", this);
  auto* close = new QPushButton("&Chiudi", this);
  buttons->addStretch();
  buttons->addWidget(restore_button_);
  buttons->addWidget(close);
  column->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  connect(versions_, &QListWidget::currentRowChanged, this, [this](int r) { ShowVersion(r); });
  connect(restore_button_, &QPushButton::clicked, this, [this, restore = std::move(restore)] {
    if (const std::int32_t v = SelectedVersion()) restore(v);
  });
  resize(960, 480);
  SetHistory(std::move(history));
}

void HistoryDialog::SetHistory(std::vector<kvtengine::DocumentVersion> history) {
  history_ = std::move(history);
  versions_->clear();
  for (auto it = history_.rbegin(); it != history_.rend(); ++it) {
    versions_->addItem(Q(VersionText(*it)));
  }
  versions_->setCurrentRow(0);
  ShowVersion(0);
}

std::int32_t HistoryDialog::SelectedVersion() const {
  const int row = versions_->currentRow();
  if (row < 0 || row >= static_cast<int>(history_.size())) return 0;
  return history_[history_.size() - 1 - static_cast<std::size_t>(row)].version;
}

void HistoryDialog::SelectVersion(std::int32_t version) {
  for (std::size_t i = 0; i < history_.size(); ++i) {
    if (history_[i].version == version) {
      versions_->setCurrentRow(static_cast<int>(history_.size() - 1 - i));
    }
  }
}

void HistoryDialog::ShowVersion(int row) {
  values_->setRowCount(0);
  if (row < 0 || row >= static_cast<int>(history_.size())) {
    restore_button_->setEnabled(false);
    return;
  }
  const std::size_t at = history_.size() - 1 - static_cast<std::size_t>(row);
  const auto& version = history_[at];
  const auto* before = at > 0 ? &history_[at - 1].values : nullptr;
  // The newest version is what is stored; a deletion holds nothing to bring back.
  restore_button_->setEnabled(row != 0 && version.change != kvtengine::Change::kDelete);
  // A deletion shows what it took away.
  const auto& shown =
      version.change == kvtengine::Change::kDelete && before ? *before : version.values;
  QFont bold = values_->font();
  bold.setBold(true);
  const QBrush marked(QColor(255, 236, 179));
  for (const auto& [field, value] : shown) {
    const int r = values_->rowCount();
    values_->insertRow(r);
    const bool changed =
        std::find(version.changed.begin(), version.changed.end(), field) != version.changed.end();
    auto* name = new QTableWidgetItem(Q(caption_(field)));
    auto* now = new QTableWidgetItem(version.change == kvtengine::Change::kDelete ? QString()
                                                                                  : Shown(&value));
    auto* then = new QTableWidgetItem();
    if (changed && before) {
      // An empty value said as such: a blank cell would read as "not changed".
      const QString was = Shown(kvtengine::FindValue(*before, field));
      if (history_[at - 1].change == kvtengine::Change::kDelete) {
        then->setText("(eliminato)");
      } else {
        then->setText(was.isEmpty() ? "(vuoto)" : was);
      }
    }
    for (auto* item : {name, now, then}) {
      if (changed) {
        item->setFont(bold);
        item->setBackground(marked);
        item->setForeground(QBrush(Qt::black));
      }
    }
    if (changed) name->setToolTip("Cambiato da questa versione");
    values_->setItem(r, 0, name);
    values_->setItem(r, 1, now);
    values_->setItem(r, 2, then);
  }
  values_->resizeColumnsToContents();
}

DeletedDialog::DeletedDialog(QWidget* parent,
                             std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> deleted,
                             std::function<void(std::int32_t id)> history,
                             std::function<void(std::int32_t id)> restore)
    : QDialog(parent), deleted_(std::move(deleted)) {
  setWindowTitle("Documenti eliminati");
  auto* column = new QVBoxLayout(this);
  table_ = new QTableWidget(static_cast<int>(deleted_.size()), 3, this);
  table_->setHorizontalHeaderLabels({"Documento", "Eliminato da", "Eliminato il"});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setAccessibleName("Documenti eliminati");
  for (std::size_t i = 0; i < deleted_.size(); ++i) {
    const auto& [id, v] = deleted_[i];
    const int r = static_cast<int>(i);
    auto* number = new QTableWidgetItem(QString::number(id));
    number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->setItem(r, 0, number);
    table_->setItem(r, 1, new QTableWidgetItem(Q(kvtapp::Author(v.saved_by))));
    table_->setItem(r, 2, new QTableWidgetItem(Q(kvtapp::LocalTime(v.saved_at))));
  }
  if (!deleted_.empty()) table_->selectRow(0);
  column->addWidget(new QLabel(deleted_.empty() ? "Nessun documento eliminato."
                                                : "I documenti eliminati, i più recenti prima:",
                               this));
  column->addWidget(table_);
  auto* buttons = new QHBoxLayout();
  auto* show_history = new QPushButton("&Cronologia...", this);
  auto* bring_back = new QPushButton("&Ripristina", this);
  auto* close = new QPushButton("&Chiudi", this);
  show_history->setEnabled(!deleted_.empty());
  bring_back->setEnabled(!deleted_.empty());
  buttons->addStretch();
  buttons->addWidget(show_history);
  buttons->addWidget(bring_back);
  buttons->addWidget(close);
  column->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::close);
  connect(show_history, &QPushButton::clicked, this, [this, history = std::move(history)] {
    if (const std::int32_t id = Selected()) history(id);
  });
  connect(bring_back, &QPushButton::clicked, this, [this, restore] {
    if (const std::int32_t id = Selected()) restore(id);
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this, restore](int, int) {
    if (const std::int32_t id = Selected()) restore(id);
  });
  resize(460, 360);
}

std::int32_t DeletedDialog::Selected() const {
  const int row = table_->currentRow();
  if (row < 0 || row >= static_cast<int>(deleted_.size())) return 0;
  return deleted_[static_cast<std::size_t>(row)].first;
}

}  // namespace kvtdesk
