#include "host/qt/qt_control.h"

#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QTextBlock>
#include <QToolButton>
#include <QWidgetAction>
#include <cmath>
#include <functional>

#include "host/common/control_view.h"
#include "host/common/typed_date.h"
#include "host/qt/qt_form.h"
#include "host/qt/qt_text.h"
#include "runtime/class_registry.h"
#include "runtime/text.h"

namespace kvthost::qt {
namespace {

using Aspect = Control::Aspect;

QColor ColorOf(std::int32_t bgr) {
  return QColor::fromRgb(BgrToRgb(bgr));
}

QtForm* FormOf(const Control& c) {
  return dynamic_cast<QtForm*>(c.OwnerForm().get());
}

int Px(const Control& c, std::int32_t twips) {
  const QtForm* f = FormOf(c);
  return TwipsToPixels(twips, f ? f->Dpi() : 96);
}

// What every control's widget shows the same way.
void ShowCommon(Control& c, QWidget* w, Aspect a, bool fill_background = true) {
  if (!w) return;
  switch (a) {
    case Aspect::kGeometry:
      w->setGeometry(Px(c, c.Left()), Px(c, c.Top()), Px(c, c.Width()), Px(c, c.Height()));
      break;
    case Aspect::kVisible:
      w->setVisible(c.Visible());
      break;
    case Aspect::kEnabled:
      w->setEnabled(c.Enabled());
      break;
    case Aspect::kColors: {
      // Most controls keep the default colours: a palette of their own costs every widget.
      if (!w->testAttribute(Qt::WA_SetPalette) && c.BackColor() == kWhite &&
          c.ForeColor() == kBlack) {
        break;
      }
      QPalette p = w->palette();
      if (fill_background) {
        p.setColor(QPalette::Base, ColorOf(c.BackColor()));
        p.setColor(QPalette::Window, ColorOf(c.BackColor()));
      }
      p.setColor(QPalette::Text, ColorOf(c.ForeColor()));
      p.setColor(QPalette::WindowText, ColorOf(c.ForeColor()));
      w->setPalette(p);
      break;
    }
    case Aspect::kToolTip:
      w->setToolTip(ToQt(c.ToolTipText()));
      break;
    case Aspect::kFont: {
      auto font = std::dynamic_pointer_cast<Font>(c.Font());
      QFont f = w->font();
      f.setBold(font->Bold());
      f.setItalic(font->Italic());
      w->setFont(f);
      break;
    }
    default:
      break;
  }
}

// A control drawn as a frame around an editor: the frame takes the place, the editor the rest.
void ShowComposite(Control& c, QWidget* frame, QWidget* editor, Aspect a) {
  const bool place = a == Aspect::kGeometry || a == Aspect::kVisible || a == Aspect::kEnabled;
  ShowCommon(c, place ? frame : editor, a);
}

constexpr Aspect kCommonAspects[] = {Aspect::kGeometry, Aspect::kEnabled, Aspect::kColors,
                                     Aspect::kToolTip, Aspect::kVisible};

// Shows everything a control has when its widget is made; fonts only when one was asked for.
template <class C>
void ShowAll(C& c, std::initializer_list<Aspect> own) {
  for (Aspect a : own) c.Show(a);
  for (Aspect a : kCommonAspects) c.Show(a);
}

// A Qt signal handler for a control: it holds the control weakly (the widget may outlive it)
// and runs under its form's guard, so that no error crosses Qt's event loop.
template <class C, class F>
auto Handler(C& control, F f) {
  std::weak_ptr<kvt::Object> weak = control.weak_from_this();
  return [weak, f](auto&&... args) {
    auto self = weak.lock();
    if (!self) return;
    auto& me = static_cast<C&>(*self);
    if (QtForm* form = FormOf(me)) form->Guard([&] { f(me, args...); });
  };
}

QWidget* Client(QtForm& form) {
  return form.ClientArea();
}

// ---- Label

class QtLabel final : public Label, public QtControl {
 public:
  void AttachTo(QtForm& form) override {
    widget_ = new QLabel(Client(form));
    ShowAll(*this, {Aspect::kContent, Aspect::kAppearance});
  }
  void Show(Aspect a) {
    auto* label = static_cast<QLabel*>(widget_.data());
    if (!label) return;
    if (a == Aspect::kContent) label->setText(ToQt(Caption()));
    if (a == Aspect::kAppearance || a == Aspect::kColors) {
      label->setAutoFillBackground(BackStyle() == 1);
    }
    ShowCommon(*this, label, a, BackStyle() == 1);
    if (a == Aspect::kContent || a == Aspect::kFont || a == Aspect::kGeometry) FitCaption();
  }

 protected:
  void OnChanged(Aspect a) override { Show(a); }

 private:
  // An auto-sized label is as wide as its caption in the font the screen shows it in.
  void FitCaption() {
    if (!AutoSize() || fitting_ || !widget_) return;
    const int dpi = FormOf(*this) ? FormOf(*this)->Dpi() : 96;
    // Measuring text is the dear part: only a new caption or font is measured again.
    const QFont font = widget_->font();
    if (Caption() != measured_caption_ || font != measured_font_) {
      const QFontMetrics m(font);
      measured_caption_ = Caption();
      measured_font_ = font;
      measured_ = QSize(m.horizontalAdvance(ToQt(measured_caption_)) + 2, m.height());
    }
    const std::int32_t w = PixelsToTwips(measured_.width(), dpi);
    const std::int32_t h = PixelsToTwips(measured_.height(), dpi);
    if (w == Width() && h == Height()) return;
    fitting_ = true;
    LetWidth(w);
    LetHeight(h);
    fitting_ = false;
  }
  bool fitting_ = false;
  std::string measured_caption_;
  QFont measured_font_;
  QSize measured_;
};

// ---- Text boxes

// Suggestions under a text box; a click accepts one.
QListWidget* MakeSuggestionList(QWidget* parent, const std::function<void(int)>& accept) {
  auto* list = new QListWidget(parent);
  list->setFocusPolicy(Qt::NoFocus);
  list->hide();
  QObject::connect(list, &QListWidget::itemClicked,
                   [list, accept](QListWidgetItem* item) { accept(list->row(item)); });
  return list;
}

template <class Base>
class QtText final : public Base, public QtControl {
 public:
  void AttachTo(QtForm& form) override {
    DetachWidget();  // another kind of editor: the old one may be inside its own event
    multi_line_shown_ = Base::MultiLine();
    if (multi_line_shown_) {
      auto* edit = new QPlainTextEdit(Client(form));
      edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
      edit->setTabChangesFocus(true);
      widget_ = edit;
    } else {
      widget_ = new QLineEdit(Client(form));
    }
    widget_->setContextMenuPolicy(Qt::NoContextMenu);  // edits go through the control
    widget_->setAcceptDrops(false);
    ShowAll(*this, {Aspect::kContent, Aspect::kAppearance, Aspect::kSelection});
  }
  QListWidget* SuggestionList() const override { return list_; }
  void ReadSelection() override {
    const std::string text = Base::Text();
    int start = 0, end = 0;
    if (auto* line = qobject_cast<QLineEdit*>(widget_.data())) {
      start = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
      end = line->hasSelectedText() ? line->selectionEnd() : start;
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget_.data())) {
      const QTextCursor cur = plain->textCursor();
      start = cur.selectionStart();
      end = cur.selectionEnd();
    } else {
      return;
    }
    const std::int32_t from = ControlPosition(text, start);
    const std::int32_t to = ControlPosition(text, end);
    if (from == Base::SelStart() && to - from == Base::SelLength()) return;
    Base::LetSelStart(from);
    Base::LetSelLength(to - from);
  }
  void Show(Aspect a) {
    QWidget* w = widget_;
    if (!w) return;
    if (a == Aspect::kAppearance && Base::MultiLine() != multi_line_shown_) {
      if (QtForm* f = FormOf(*this)) {
        const bool had_focus = w->hasFocus();
        AttachTo(*f);  // another kind of editor; the form takes to it as to any new widget
        f->AdoptWidget(*this);
        if (had_focus) widget_->setFocus();
      }
      return;
    }
    // What the widget shows is the control's view: text and selection as a renderer counts.
    const bool text_changed = a == Aspect::kContent || a == Aspect::kSelection;
    const TextShown shown = text_changed ? ShownTextOf(*this) : TextShown{};
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
      if (a == Aspect::kContent && line->text() != ToQt(shown.text))
        line->setText(ToQt(shown.text));
      if (a == Aspect::kAppearance) line->setReadOnly(Base::Locked());
      if (text_changed) {
        if (shown.sel_length > 0) {
          line->setSelection(shown.sel_start, shown.sel_length);
        } else {
          line->setCursorPosition(shown.sel_start);
        }
      }
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
      if (a == Aspect::kContent && plain->toPlainText() != ToQt(shown.text)) {
        plain->setPlainText(ToQt(shown.text));
      }
      if (a == Aspect::kAppearance) plain->setReadOnly(Base::Locked());
      if (text_changed) {
        QTextCursor cur = plain->textCursor();
        cur.setPosition(shown.sel_start);
        cur.setPosition(shown.sel_start + shown.sel_length, QTextCursor::KeepAnchor);
        plain->setTextCursor(cur);
      }
    }
    if (a == Aspect::kList) ShowSuggestions();
    ShowCommon(*this, w, a);
  }

 protected:
  void OnChanged(Aspect a) override { Show(a); }

 private:
  void ShowSuggestions() {
    const std::vector<std::string> values = Base::Suggestions();
    QWidget* parent = widget_ ? widget_->parentWidget() : nullptr;
    if (!parent) return;
    if (!list_) {
      list_ = MakeSuggestionList(
          parent, Handler(*this, [](QtText& me, int row) { me.AcceptSuggestion(row); }));
    }
    list_->clear();
    for (const auto& v : values) list_->addItem(ToQt(v));
    const QRect g = widget_->geometry();
    list_->setGeometry(g.left(), g.bottom() + 1, g.width(),
                       std::min<int>(static_cast<int>(values.size()), 8) * 18 + 4);
    // The mark follows the keys; the list never takes the focus from the box.
    list_->setCurrentRow(Base::MarkedSuggestion());
    list_->setVisible(!values.empty());
    list_->raise();
  }
  bool multi_line_shown_ = false;
  QPointer<QListWidget> list_;

 public:
  ~QtText() override {
    // The list lives on the form's client area: it goes with its box, not with the form.
    if (list_) list_->deleteLater();
  }
};

// ---- Code/description combo

// The combo's entries as Qt reads them: straight from the control, no copy, so that a list of
// thousands of codes costs nothing until the person opens it. The model belongs to the widget,
// which Qt deletes later than the control may go (a form rebuilt while its old widgets wait for
// the event loop): it holds the control weakly and answers an empty list once it is gone.
class EntriesModel final : public QAbstractListModel {
 public:
  EntriesModel(const std::shared_ptr<const CodeCombo>& combo, QObject* parent)
      : QAbstractListModel(parent), combo_(combo) {}
  int rowCount(const QModelIndex& parent) const override {
    auto combo = combo_.lock();
    return parent.isValid() || !combo ? 0 : static_cast<int>(combo->Entries().size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    auto combo = combo_.lock();
    // A view may ask for a row it counted before the list changed: out of range is no entry.
    if (!combo || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= combo->Entries().size()) {
      return {};
    }
    if (role == Qt::EditRole)
      return ToQt(combo->Entries()[static_cast<std::size_t>(index.row())].first);
    return ToQt(combo->EntryText(index.row()));
  }
  void Reset() {
    beginResetModel();
    endResetModel();
  }
  /// The control is going: the views see an empty list from now on.
  void Drop() {
    beginResetModel();
    combo_.reset();
    endResetModel();
  }

 private:
  std::weak_ptr<const CodeCombo> combo_;
};

// A combo box that asks before its list opens: the list is fitted to its entries then, not
// while a form of hundreds of combos is built (measuring every entry of every list cost more
// than building the form).
class CodeBox final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> before_popup;

  void showPopup() override {
    if (before_popup) before_popup();
    QComboBox::showPopup();
  }
  // A few characters wide, never measured over the entries. (Qt's own policy for that makes
  // the popup's list at once, for every combo of the form.)
  QSize sizeHint() const override {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QFontMetrics metrics = fontMetrics();
    const QSize text(metrics.horizontalAdvance(QLatin1Char('x')) * 4, metrics.height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
  }
  QSize minimumSizeHint() const override { return sizeHint(); }
};

class QtCombo final : public CodeCombo, public QtControl {
 public:
  void AttachTo(QtForm& form) override {
    auto* box = new CodeBox(Client(form));
    box->before_popup = Handler(*this, [](QtCombo& me) { me.FitList(); });
    model_ = new EntriesModel(std::dynamic_pointer_cast<const CodeCombo>(shared_from_this()), box);
    box->setModel(model_);
    MakeEditable(*box, true);
    widget_ = box;
    auto with = [this](auto f) { return Handler(*this, f); };
    QObject::connect(box, &QComboBox::activated, box,
                     with([](QtCombo& me, int row) { me.ChooseRow(row); }));
    ShowAll(*this, {Aspect::kList, Aspect::kAppearance});
  }
  QWidget* FocusWidget() const override { return widget_; }
  void SelectBoxText() override {
    CodeCombo::SelectBoxText();
    auto* box = static_cast<QComboBox*>(widget_.data());
    if (box && box->lineEdit()) {
      // Selected from its end back to the start: a narrow box still shows the code.
      const auto n = static_cast<int>(box->lineEdit()->text().size());
      box->lineEdit()->setSelection(n, -n);
    }
  }
  std::string BoxText() const override {
    auto* box = static_cast<QComboBox*>(widget_.data());
    return box && box->lineEdit() ? FromQt(box->lineEdit()->text()) : EntryText(Position());
  }
  void Show(Aspect a) {
    auto* box = static_cast<QComboBox*>(widget_.data());
    if (!box) return;
    if (a == Aspect::kList || a == Aspect::kAppearance) {
      const QSignalBlocker block(box);
      model_->Reset();
      if (a == Aspect::kList) fitted_ = false;  // fitted again when the list opens
      MakeEditable(*box, !Locked());
    }
    if (a == Aspect::kList || a == Aspect::kAppearance || a == Aspect::kSelection) {
      const QSignalBlocker block(box);
      box->setCurrentIndex(Position());
      if (box->lineEdit()) {
        box->lineEdit()->setText(
            Position() < 0 ? QString()
                           : model_->data(model_->index(Position()), Qt::DisplayRole).toString());
        // A narrow box shows the code, not the end of its description.
        if (!box->hasFocus()) box->lineEdit()->setCursorPosition(0);
      }
    }
    ShowCommon(*this, box, a);
  }

 protected:
  void OnChanged(Aspect a) override { Show(a); }

 private:
  void ChooseRow(int row) {
    if (row >= 0 && static_cast<std::size_t>(row) < Entries().size()) {
      Choose(Entries()[static_cast<std::size_t>(row)].first);
    }
    Show(Aspect::kSelection);  // a locked combo shows its code again
  }
  // Entering the combo completes codes as they are typed; the completer learns the list then,
  // not while the form is built.
  void MarkEntry() override {
    CodeCombo::MarkEntry();
    auto* box = static_cast<QComboBox*>(widget_.data());
    QCompleter* completer = box && box->lineEdit() ? box->lineEdit()->completer() : nullptr;
    if (completer && completer->model() != model_) completer->setModel(model_);
  }
  // The box takes typed codes through an editor of its own. Qt's own way to make a combo
  // editable builds a completer over the whole list at once (milliseconds a combo, seconds for
  // a form of hundreds); this editor's completer is empty until the combo is entered.
  void MakeEditable(QComboBox& box, bool editable) {
    if (!editable || box.lineEdit()) {
      box.setEditable(editable);
      return;
    }
    auto* edit = new QLineEdit(&box);
    edit->setContextMenuPolicy(Qt::NoContextMenu);  // edits go through the control
    auto* completer = new QCompleter(edit);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::InlineCompletion);
    edit->setCompleter(completer);
    box.setLineEdit(edit);
    box.setInsertPolicy(QComboBox::NoInsert);
  }
  // The popup's list is made by Qt when first asked for: it is set up as it first opens, so
  // that a form of hundreds of combos makes none of them.
  void FitList() {
    auto* box = static_cast<QComboBox*>(widget_.data());
    if (!box || fitted_) return;
    if (!popup_ready_) {
      box->setMaxVisibleItems(20);
      // The open list keeps the usual colours when the box has the focus colour: a list of
      // hundreds of codes all in the highlight would be hard to read.
      const QPalette usual = box->parentWidget() ? box->parentWidget()->palette() : QPalette();
      for (QWidget* list : {static_cast<QWidget*>(box->view()), box->view()->parentWidget()}) {
        if (!list) continue;
        QPalette colours = list->palette();
        for (auto role : {QPalette::Base, QPalette::Window, QPalette::Text, QPalette::WindowText}) {
          colours.setColor(role, usual.color(role));  // set: no longer inherited from the box
        }
        list->setPalette(colours);
      }
      popup_ready_ = true;
    }
    FitListWidth(*box);
    fitted_ = true;
  }
  // The open list as wide as its longest "code - description" (within the screen), so that
  // codes that start alike can be told apart by their descriptions.
  void FitListWidth(QComboBox& box) {
    const QFontMetrics metrics(box.view()->font());
    int widest = 0;
    for (int row = 0; row < model_->rowCount({}); ++row) {
      widest = std::max(widest, metrics.horizontalAdvance(
                                    model_->data(model_->index(row), Qt::DisplayRole).toString()));
    }
    const QScreen* screen = box.screen();
    const int room = screen ? screen->availableGeometry().width() - 40 : widest + 40;
    box.view()->setMinimumWidth(std::min(widest + 40, room));  // room for the scroll bar
  }
  QPointer<EntriesModel> model_;  // owned by the widget, which may go first or last
  bool fitted_ = false;           // the open list is as wide as the entries it holds now
  bool popup_ready_ = false;      // the open list is set up

 public:
  ~QtCombo() override {
    if (model_) model_->Drop();
  }
};

// ---- Date picker

// Qt's date editor cannot hold "no date"; this one can: a check box (when the picker has one),
// a masked day/month/year editor that is blank for no date, and a calendar to pick from.
const QDate kEpoch(1899, 12, 30);  // day 0 of a date serial
constexpr const char* kDateMask = "99/99/9999; ";

// The date editor: blank for no date; the day/month/year mask appears while the person is in it.
class DateEditor final : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
  /// Called for F4 or Alt+Down: the calendar, as a combo opens its list.
  std::function<void()> on_calendar;
  void ShowDate(const QString& shown) {
    if (shown.isEmpty() && !hasFocus()) {
      setInputMask(QString());
      setText(QString());
    } else {
      if (inputMask().isEmpty()) setInputMask(kDateMask);
      if (text() != shown && !(shown.isEmpty() && text() == "//")) setText(shown);
      if (!hasFocus()) setCursorPosition(0);  // a narrow box shows the day, not the year's end
    }
  }

 protected:
  void focusInEvent(QFocusEvent* e) override {
    if (inputMask().isEmpty()) setInputMask(kDateMask);
    QLineEdit::focusInEvent(e);
  }
  void focusOutEvent(QFocusEvent* e) override {
    QLineEdit::focusOutEvent(e);
    if (text() == "//") setInputMask(QString());
  }
  void keyPressEvent(QKeyEvent* e) override {
    const bool open =
        e->key() == Qt::Key_F4 || (e->key() == Qt::Key_Down && e->modifiers() == Qt::AltModifier);
    if (open && on_calendar) {
      on_calendar();
      return;
    }
    QLineEdit::keyPressEvent(e);
  }
};

QDate QtDate(const kvt::Variant& v) {
  return kEpoch.addDays(static_cast<qint64>(std::floor(kvt::CDate(v).serial)));
}

class QtDatePicker final : public DatePicker, public QtControl {
 public:
  void AttachTo(QtForm& form) override {
    auto* frame = new QWidget(Client(form));
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    check_ = new QCheckBox(frame);
    check_->setFocusPolicy(Qt::NoFocus);
    edit_ = new DateEditor(frame);
    edit_->setContextMenuPolicy(Qt::NoContextMenu);
    auto* pick = new QToolButton(frame);
    pick->setText(QString::fromUtf8("\u25BE"));  // a small arrow: the calendar
    pick->setFixedWidth(14);                     // the date itself needs the room
    pick->setFocusPolicy(Qt::NoFocus);
    pick->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(pick);
    auto* calendar = new QCalendarWidget(menu);
    calendar->setLocale(QLocale(QLocale::Italian, QLocale::Italy));  // months and days as typed
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(calendar);
    menu->addAction(action);
    pick->setMenu(menu);
    row->addWidget(check_);
    row->addWidget(edit_, 1);
    row->addWidget(pick);
    widget_ = frame;
    frame->setFocusProxy(edit_);
    auto with = [this](auto f) { return Handler(*this, f); };
    QObject::connect(check_.data(), &QCheckBox::clicked, frame, with([](QtDatePicker& me, bool on) {
                       me.PickDate(on ? kvt::Variant(kvt::Today()) : kvt::Variant::Null());
                     }));
    QObject::connect(edit_.data(), &QLineEdit::textEdited, frame,
                     with([](QtDatePicker& me, const QString&) { me.Typed(); }));
    QObject::connect(calendar, &QCalendarWidget::clicked, frame,
                     with([menu](QtDatePicker& me, QDate d) {
                       menu->hide();
                       me.PickDate(kvt::Variant(kvt::MakeDate(d.year(), d.month(), d.day())));
                     }));
    // By keys: F4 opens it on the date shown (today when none), the arrows move the day,
    // Enter picks it and goes back to the editor, Esc closes it and changes nothing.
    QObject::connect(calendar, &QCalendarWidget::activated, frame,
                     with([menu](QtDatePicker& me, QDate d) {
                       menu->hide();
                       me.PickDate(kvt::Variant(kvt::MakeDate(d.year(), d.month(), d.day())));
                       if (me.edit_) me.edit_->setFocus(Qt::PopupFocusReason);
                     }));
    edit_->on_calendar = with([menu, calendar, pick](QtDatePicker& me) {
      const kvt::Variant v = me.Value();
      calendar->setSelectedDate(v.IsNull() ? QDate::currentDate() : QtDate(v));
      menu->popup(pick->mapToGlobal(QPoint(0, pick->height())));
      calendar->setFocus(Qt::PopupFocusReason);
    });
    ShowAll(*this, {Aspect::kContent, Aspect::kAppearance});
  }
  QWidget* FocusWidget() const override { return edit_; }
  // Leaving: what is in the editor must be a date, or nothing. "2/3/2025" is read as one; a
  // part missing or a day the month does not have keeps the focus and says why.
  bool Commit() override {
    if (!edit_) return true;
    const std::string text = FromQt(edit_->text());
    if (text.find_first_not_of(" /") == std::string::npos) {
      if (CheckBox() && !Value().IsNull()) PickDate(kvt::Variant::Null());
      Show(Aspect::kContent);  // without a check box there is no "no date": the date again
      return true;
    }
    const TypedDate typed = ReadTypedDate(text);
    if (!typed.date) {
      Note(typed.refusal);
      edit_->selectAll();
      return false;
    }
    const kvt::Variant now = Value();
    if (now.IsNull() || std::floor(kvt::CDate(now).serial) != typed.date->serial) {
      PickDate(kvt::Variant(*typed.date));
    }
    Show(Aspect::kContent);  // written out whole: 02/03/2025
    return true;
  }
  bool Pending() const override {
    if (!edit_) return false;
    const QString text = edit_->text();
    const kvt::Variant v = Value();
    const QString shown = v.IsNull() ? QString() : QtDate(v).toString("dd/MM/yyyy");
    return text != shown && !(shown.isEmpty() && (text.isEmpty() || text == "//"));
  }
  void Show(Aspect a) {
    if (!widget_ || !edit_) return;
    if (a == Aspect::kAppearance) check_->setVisible(CheckBox());
    if (a == Aspect::kContent || a == Aspect::kAppearance) {
      const QSignalBlocker block_check(check_.data());
      const kvt::Variant v = Value();
      edit_->ShowDate(v.IsNull() ? QString() : QtDate(v).toString("dd/MM/yyyy"));
      check_->setChecked(!v.IsNull());
    }
    ShowComposite(*this, widget_, edit_, a);
  }

 protected:
  void OnChanged(Aspect a) override { Show(a); }

 private:
  // A complete, real date typed is picked; a cleared editor is no date (with a check box).
  void Typed() {
    const QString text = edit_->text();
    if (text == "//" || text.isEmpty()) {
      if (CheckBox()) PickDate(kvt::Variant::Null());
      return;
    }
    const QDate d = QDate::fromString(text, "dd/MM/yyyy");
    if (d.isValid()) PickDate(kvt::Variant(kvt::MakeDate(d.year(), d.month(), d.day())));
  }
  QPointer<QCheckBox> check_;
  QPointer<DateEditor> edit_;
};

// ---- File link

class QtFileLinker final : public FileLinker, public QtControl {
 public:
  void AttachTo(QtForm& form) override {
    auto* frame = new QWidget(Client(form));
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    edit_ = new QLineEdit(frame);
    edit_->setContextMenuPolicy(Qt::NoContextMenu);
    auto* browse = new QToolButton(frame);
    browse->setText("...");
    browse->setFixedWidth(22);
    browse->setFocusPolicy(Qt::NoFocus);
    row->addWidget(edit_, 1);
    row->addWidget(browse);
    widget_ = frame;
    frame->setFocusProxy(edit_);
    QObject::connect(browse, &QToolButton::clicked, frame,
                     Handler(*this, [frame](QtFileLinker& me, bool) {
                       const QString path = QFileDialog::getOpenFileName(frame, "Collega un file");
                       if (!path.isEmpty()) me.Browse(FromQt(path));
                     }));
    ShowAll(*this, {Aspect::kContent, Aspect::kAppearance});
  }
  QWidget* FocusWidget() const override { return edit_; }
  void Show(Aspect a) {
    if (!widget_ || !edit_) return;
    if (a == Aspect::kContent && edit_->text() != ToQt(Text())) {
      edit_->setText(ToQt(Text()));
      edit_->setCursorPosition(static_cast<int>(edit_->text().size()));
    }
    ShowComposite(*this, widget_, edit_, a);
  }

 protected:
  void OnChanged(Aspect a) override { Show(a); }

 private:
  QPointer<QLineEdit> edit_;
};

// ---- Status bar

class QtStatusBar final : public StatusBar, public QtControl {
 public:
  void AttachTo(QtForm& form) override {
    auto* label = new QLabel(Client(form)->parentWidget());
    label->setFrameShape(QFrame::StyledPanel);
    // A long message is cut at the window's edge; it never widens the window.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setContentsMargins(4, 1, 4, 1);
    widget_ = label;
    Show(Aspect::kContent);
    ShowCommon(*this, label, Aspect::kToolTip);
    ShowCommon(*this, label, Aspect::kVisible);
  }
  void Show(Aspect a) {
    auto* label = static_cast<QLabel*>(widget_.data());
    if (!label) return;
    if (a == Aspect::kContent) label->setText(ToQt(Describe()));
    // The form docks the bar at the bottom: its own geometry is not the bar's.
    if (a != Aspect::kGeometry) ShowCommon(*this, label, a);
  }

 protected:
  void OnChanged(Aspect a) override { Show(a); }
};

template <class C>
void Register(const char* class_name) {
  kvt::ClassRegistry::Instance().Register(class_name, {}, [] { return std::make_shared<C>(); });
}

}  // namespace

void QtControl::DetachWidget() {
  if (!widget_) return;
  widget_->hide();
  widget_->deleteLater();
  widget_ = nullptr;
}

void RegisterQtControlClasses() {
  Register<QtLabel>(kvtfields::kLabelClass);
  Register<QtText<PlainTextBox>>(kvtfields::kPlainTextBoxClass);
  Register<QtText<MultiLineTextBox>>(kvtfields::kTextBoxClass);
  Register<QtCombo>(kvtfields::kComboClass);
  Register<QtDatePicker>(kvtfields::kDatePickerClass);
  Register<QtFileLinker>(kvtfields::kFileLinkerClass);
  Register<QtStatusBar>(kvtfields::kStatusBarClass);
}

}  // namespace kvthost::qt
