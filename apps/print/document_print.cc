#include "print/document_print.h"

#include <QBuffer>
#include <QDate>
#include <QFont>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>

#include "common/document_session.h"
#include "host/common/standard_controls.h"
#include "runtime/text.h"

namespace kvtprint {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

std::string Text(const kvt::Variant& v) {
  if (v.IsNull() || v.IsEmpty()) return {};
  try {
    return kvt::JoinText(v);
  } catch (const kvt::Error&) {
    return {};  // an object: nothing to print
  }
}

// What a page holds, laid out before anything is painted so that the footer can say how many
// pages there are.
struct Item {
  QRect rect;
  QString text;
  bool bold = false;
};
struct Page {
  std::vector<Item> items;
  std::vector<std::int32_t> ids;  // the documents on it, for the header
};

QString DocumentName(std::int32_t id) {
  return id ? "Documento " + QString::number(id) : QString("Documento non salvato");
}

}  // namespace

FormPrint::FormPrint(kvtapp::Workspace& w) {
  auto& fields = w.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    Field f{field->Name(), kvtapp::Caption(*field), {}};
    if (auto* combo = dynamic_cast<kvthost::CodeCombo*>(field->LinkedControl().get())) {
      f.codes = combo->Entries();
    }
    fields_.push_back(std::move(f));
  }
}

PrintedDocument FormPrint::Of(const kvtengine::StoredDocument& d) const {
  PrintedDocument out{d.id, {}};
  std::vector<bool> used(d.values.size(), false);
  for (const auto& f : fields_) {
    std::string value;
    for (std::size_t v = 0; v < d.values.size(); ++v) {
      if (used[v] || d.values[v].first != f.name) continue;
      used[v] = true;
      value = Text(d.values[v].second);
      break;
    }
    for (const auto& [code, description] : f.codes) {
      if (!value.empty() && code == value && !description.empty()) {
        value += " - " + description;
        break;
      }
    }
    out.lines.emplace_back(f.caption, std::move(value));
  }
  for (std::size_t v = 0; v < d.values.size(); ++v) {
    if (!used[v]) out.lines.emplace_back(d.values[v].first, Text(d.values[v].second));
  }
  return out;
}

PrintedDocument FormPrint::OnForm(kvtapp::Workspace& w, std::int32_t id) {
  kvtengine::StoredDocument d;
  d.id = id;
  auto& fields = w.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    d.values.emplace_back(field->Name(), field->Value());
  }
  return FormPrint(w).Of(d);
}

bool Paint(QPagedPaintDevice& device, const std::string& archive,
           const std::vector<PrintedDocument>& docs) {
  QPainter painter;
  if (!painter.begin(&device)) return false;
  QFont plain("DejaVu Sans", 10);
  // No ligatures: "fi" stays two letters a reader can search for and copy.
  plain.setStyleStrategy(QFont::PreferNoShaping);
  QFont bold = plain;
  bold.setBold(true);
  QFont heading = bold;
  heading.setPointSize(12);
  const QFontMetrics line(plain, &device), head(heading, &device);
  const int width = device.width(), height = device.height();
  const int gap = line.height() / 2;
  const int top = head.height() * 2, bottom = height - line.height() * 2;
  const int caption_width = width * 35 / 100;
  constexpr int kWrap = Qt::TextWordWrap | Qt::TextWrapAnywhere;

  std::vector<Page> pages(1);
  int y = top;
  auto room = [&](int h) {
    if (y + h <= bottom || y == top) return;
    pages.emplace_back();
    y = top;
  };
  for (const auto& d : docs) {
    room(head.height() * 3);  // a heading is never alone at the foot of a page
    if (y != top) y += head.height();
    pages.back().items.push_back({QRect(0, y, width, head.height()), DocumentName(d.id), true});
    pages.back().ids.push_back(d.id);
    y += head.height() + gap;
    for (const auto& [caption, value] : d.lines) {
      const QString c = Q(caption), v = Q(value).replace("\r\n", "\n");
      painter.setFont(bold);
      const int ch =
          painter.boundingRect(QRect(0, 0, caption_width - gap, height), kWrap, c).height();
      painter.setFont(plain);
      const int vh =
          painter.boundingRect(QRect(0, 0, width - caption_width, height), kWrap, v).height();
      const int h = std::min(std::max({ch, vh, line.height()}), bottom - top);
      room(h);
      if (pages.back().ids.empty() || pages.back().ids.back() != d.id) {
        // Continued from the page before: said so, the reader may hold this page alone.
        pages.back().ids.push_back(d.id);
        pages.back().items.push_back(
            {QRect(0, y, width, head.height()), DocumentName(d.id) + " (segue)", true});
        y += head.height() + gap;
      }
      pages.back().items.push_back({QRect(0, y, caption_width - gap, h), c, true});
      pages.back().items.push_back({QRect(caption_width, y, width - caption_width, h), v, false});
      y += h + gap / 2;
    }
  }
  if (docs.empty()) pages.back().items.push_back({QRect(0, y, width, top), "Nessun documento"});

  const QString today = QDate::currentDate().toString("dd/MM/yyyy");
  const int count = static_cast<int>(pages.size());
  for (int n = 0; n < count; ++n) {
    if (n > 0 && !device.newPage()) return false;
    const Page& page = pages[static_cast<std::size_t>(n)];
    QString header = Q(archive);
    if (page.ids.size() == 1) header += " - " + DocumentName(page.ids.front());
    if (page.ids.size() > 1) {
      // Named one by one: a sorted list is in no order of numbers a range could say.
      constexpr std::size_t kNamed = 4;
      header += " - Documenti ";
      for (std::size_t i = 0; i < page.ids.size() && i < kNamed; ++i) {
        header += (i ? ", " : "") + QString::number(page.ids[i]);
      }
      if (page.ids.size() > kNamed) {
        header += " e altri " + QString::number(page.ids.size() - kNamed);
      }
    }
    painter.setFont(bold);
    painter.drawText(QRect(0, 0, width, head.height()), Qt::AlignLeft | Qt::AlignVCenter, header);
    painter.setFont(plain);
    painter.drawText(QRect(0, 0, width, head.height()), Qt::AlignRight | Qt::AlignVCenter, today);
    painter.drawLine(0, head.height() + gap / 2, width, head.height() + gap / 2);
    for (const auto& item : page.items) {
      painter.setFont(item.bold ? bold : plain);
      painter.drawText(item.rect, kWrap, item.text);
    }
    painter.setFont(plain);
    painter.drawText(QRect(0, bottom + line.height() / 2, width, line.height()), Qt::AlignHCenter,
                     "Pagina " + QString::number(n + 1) + " di " + QString::number(count));
  }
  return painter.end();
}

QByteArray Pdf(const std::string& archive, const std::vector<PrintedDocument>& docs) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&buffer);
    pdf.setResolution(300);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
    pdf.setTitle(Q(archive));
    pdf.setCreator("kvtfields");
    if (!Paint(pdf, archive, docs)) return {};
  }
  return bytes;
}

}  // namespace kvtprint
