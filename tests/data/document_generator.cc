#include "document_generator.h"

#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTransform>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace kvttestdata {
namespace {

// Values from the seed alone: mt19937_64's outputs are the same everywhere, unlike the
// standard distributions.
class Dice {
 public:
  Dice(std::uint64_t seed, int n) : r_(seed * 1000003u + static_cast<std::uint64_t>(n)) {}
  int Upto(int n) { return static_cast<int>(r_() % static_cast<std::uint64_t>(n)); }
  template <class T, std::size_t N>
  const T& Pick(const T (&from)[N]) {
    return from[Upto(static_cast<int>(N))];
  }

 private:
  std::mt19937_64 r_;
};

constexpr const char* kCompanies[] = {"Rossi Forniture S.r.l.", "Bianchi & Figli S.n.c.",
                                      "Tipografia Esposito",    "Ferramenta Colombo S.p.A.",
                                      "Studio Ricci Associati", "Marino Trasporti S.r.l.",
                                      "Greco Alimentari",       "Bruno Elettronica S.r.l.",
                                      "Gallo Arredamenti",      "Conti & Costa Edilizia"};
constexpr const char* kItems[] = {
    "Risma carta A4 80 g", "Toner nero",        "Cartella sospesa", "Raccoglitore ad anelli",
    "Busta a sacco",       "Penna a sfera blu", "Scatola archivio", "Etichette adesive",
    "Cucitrice da tavolo", "Nastro adesivo"};
constexpr const char* kCities[] = {"Milano", "Torino", "Bologna", "Firenze", "Napoli", "Bari"};
constexpr const char* kLetterText[] = {"con la presente Vi comunichiamo che la merce ordinata",
                                       "è stata spedita in data odierna a mezzo corriere.",
                                       "Restiamo a disposizione per ogni chiarimento e",
                                       "cogliamo l'occasione per porgere distinti saluti.",
                                       "Si prega di voler verificare la documentazione allegata",
                                       "e di restituirne copia firmata entro trenta giorni."};

std::string Money(int cents) {
  char text[32];
  std::snprintf(text, sizeof text, "%d,%02d", cents / 100, cents % 100);
  return text;
}

std::string TwoDigits(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// A codice fiscale of the right form with its check letter.
std::string CodiceFiscale(Dice& dice) {
  std::string cf;
  for (int i = 0; i < 6; ++i) cf += static_cast<char>('A' + dice.Upto(26));
  cf += TwoDigits(40 + dice.Upto(60));
  cf += "ABCDEHLMPRST"[dice.Upto(12)];
  cf += TwoDigits(1 + dice.Upto(28));
  cf += static_cast<char>('A' + dice.Upto(12));
  cf += TwoDigits(dice.Upto(100)).substr(0, 2) + std::to_string(dice.Upto(10));
  cf += CodiceFiscaleCheck(cf);
  return cf;
}

// A4 in points, the unit every page is drawn in.
constexpr double kPageWidth = 595.0, kPageHeight = 842.0;

void DrawStackPage(QPainter& p, const Document& d, int page);

void DrawPage(QPainter& p, const Document& d, int page) {
  if (d.supplier >= 0) return DrawStackPage(p, d, page);
  const double m = 56;  // margins, 2 cm
  p.setPen(Qt::black);
  QFont title("DejaVu Sans", 16, QFont::Bold);
  QFont body("DejaVu Sans", 10);
  QFont small("DejaVu Sans", 8);
  double y = m;
  p.setFont(title);
  const char* heading = d.kind == Kind::kInvoice        ? "FATTURA"
                        : d.kind == Kind::kDeliveryNote ? "DOCUMENTO DI TRASPORTO"
                                                        : "LETTERA";
  p.drawText(QPointF(m, y + 16), heading);
  p.setFont(body);
  p.drawText(QPointF(kPageWidth - m - 170, y + 12),
             QString("N. %1 del %2")
                 .arg(QString::fromStdString(d.Value("NumeroDocumento")))
                 .arg(QString::fromStdString(d.Value("DataDocumento"))));
  y += 48;
  p.drawText(QPointF(m, y), QString("Spett.le %1").arg(QString::fromStdString(d.Value("Cliente"))));
  y += 16;
  if (!d.Value("CodiceFiscale").empty()) {
    p.drawText(QPointF(m, y),
               "Codice fiscale: " + QString::fromStdString(d.Value("CodiceFiscale")));
    y += 16;
  }
  if (d.kind == Kind::kInvoice) {
    p.drawText(QPointF(m, y), QString("Quantità: %1    Prezzo unitario: € %2")
                                  .arg(QString::fromStdString(d.Value("Quantita")))
                                  .arg(QString::fromStdString(d.Value("Prezzo"))));
    y += 16;
  } else if (d.kind == Kind::kDeliveryNote) {
    p.drawText(QPointF(m, y), "Colli: " + QString::fromStdString(d.Value("Quantita")));
    y += 16;
  }
  y += 16;
  p.drawLine(QPointF(m, y), QPointF(kPageWidth - m, y));
  y += 20;
  // The body's lines, shared out over the pages.
  const std::size_t per_page =
      (d.lines.size() + static_cast<std::size_t>(d.pages) - 1) / static_cast<std::size_t>(d.pages);
  for (std::size_t i = static_cast<std::size_t>(page) * per_page;
       i < d.lines.size() && i < (static_cast<std::size_t>(page) + 1) * per_page; ++i) {
    p.drawText(QPointF(m, y), QString::fromStdString(d.lines[i]));
    y += 16;
  }
  if (page + 1 == d.pages && d.kind == Kind::kInvoice) {
    y += 12;
    p.setFont(QFont("DejaVu Sans", 11, QFont::Bold));
    p.drawText(QPointF(kPageWidth - m - 170, y),
               "Totale € " + QString::fromStdString(d.Value("Totale")));
  }
  p.setFont(small);
  p.drawText(QPointF(m, kPageHeight - m / 2),
             QString("Pagina %1 di %2").arg(page + 1).arg(d.pages));
}

// The stack's suppliers: each prints every kind of document on a template of its own.
constexpr const char* kSuppliers[] = {
    "Cartiera Rossi",    "Bianchi Forniture", "Tipografia Esposito", "Ferramenta Colombo",
    "Studio Ricci",      "Marino Trasporti",  "Greco Alimentari",    "Bruno Elettronica",
    "Gallo Arredamenti", "Costa Edilizia",    "Lombardi Ufficio",    "Moretti Imballaggi"};
constexpr const char* kStreets[] = {"Via Garibaldi 12",  "Corso Vittorio Emanuele 48",
                                    "Viale Monza 101",   "Piazza Cavour 3",
                                    "Via Mazzini 27",    "Via del Porto 9",
                                    "Via Roma 154",      "Corso Francia 66",
                                    "Via Nazionale 210", "Viale Europa 15",
                                    "Via Leopardi 8",    "Strada Provinciale 31"};
constexpr const char* kTowns[] = {"20121 Milano",  "10128 Torino", "20052 Monza",  "40124 Bologna",
                                  "50123 Firenze", "16126 Genova", "80133 Napoli", "10138 Torino",
                                  "70122 Bari",    "37122 Verona", "35121 Padova", "25121 Brescia"};
constexpr const char* kMonths[] = {"gennaio",   "febbraio", "marzo",    "aprile",
                                   "maggio",    "giugno",   "luglio",   "agosto",
                                   "settembre", "ottobre",  "novembre", "dicembre"};

// Where a supplier's template puts the document's number, date and total on the first page
// (points), and how it writes the date.
struct Template {
  int align;  // the name: left, centre or right
  QRectF number, date, total;
  const char *number_label, *date_label, *total_label;
  int date_style;             // 05/12/2026, 5 dicembre 2026, 05.12.26
  bool labels_above = false;  // a table: the labels a row over the values
};

Template TemplateOf(int supplier) {
  Template t{};
  t.align = supplier % 3;
  switch ((supplier / 3) % 4) {
    case 0:  // a column on the right, under the letterhead
      t.number = {390, 150, 140, 18}, t.date = {390, 170, 140, 18};
      t.number_label = "N.", t.date_label = "del";
      break;
    case 1:  // one line under the title
      t.number = {116, 185, 100, 18}, t.date = {280, 185, 150, 18};
      t.number_label = "Numero", t.date_label = "Data";
      break;
    case 2:  // a table: labels, then values
      t.number = {300, 208, 110, 18}, t.date = {420, 208, 119, 18};
      t.number_label = "Documento n.", t.date_label = "Data documento", t.labels_above = true;
      break;
    default:  // a block on the left
      t.number = {116, 220, 110, 18}, t.date = {116, 238, 150, 18};
      t.number_label = "Doc. n.", t.date_label = "Data";
  }
  switch ((supplier / 2) % 3) {
    case 0:
      t.total = {440, 272, 100, 18}, t.total_label = "Totale documento";
      break;
    case 1:
      t.total = {150, 292, 100, 18}, t.total_label = "Totale";
      break;
    default:
      t.total = {440, 760, 100, 18}, t.total_label = "TOTALE A PAGARE";
  }
  t.date_style = (supplier + supplier / 3) % 3;
  return t;
}

// "1.234,50": cents as a supplier prints them, thousands marked.
std::string PrintedMoney(int cents) {
  std::string whole = std::to_string(cents / 100);
  for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) {
    whole.insert(static_cast<std::size_t>(i), ".");
  }
  return whole + "," + Money(cents % 100).substr(2);
}

const char* TitleOf(Kind kind) {
  switch (kind) {
    case Kind::kInvoice:
      return "FATTURA";
    case Kind::kCreditNote:
      return "NOTA DI CREDITO";
    case Kind::kDeliveryNote:
      return "DOCUMENTO DI TRASPORTO";
    case Kind::kCarriageInvoice:
      return "FATTURA ACCOMPAGNATORIA";
    default:
      return "LETTERA";
  }
}

// A stack document's page as its supplier's program prints it.
void DrawStackPage(QPainter& p, const Document& d, int page) {
  const double m = 56;
  const Template t = TemplateOf(d.supplier);
  const auto text = [](const std::string& s) { return QString::fromStdString(s); };
  p.setPen(Qt::black);
  const QFont body("DejaVu Sans", 10);
  const QFont bold("DejaVu Sans", 10, QFont::Bold);
  const int align = t.align == 0 ? Qt::AlignLeft : t.align == 1 ? Qt::AlignHCenter : Qt::AlignRight;
  const QRectF line(m, 0, kPageWidth - 2 * m, 18);
  p.setFont(QFont("DejaVu Sans", 18, QFont::Bold));
  p.drawText(line.translated(0, 36).adjusted(0, 0, 0, 12), align | Qt::AlignVCenter,
             text(kSuppliers[d.supplier]));
  p.setFont(QFont("DejaVu Sans", 8));
  p.drawText(line.translated(0, 72), align | Qt::AlignVCenter,
             QString("%1 - %2").arg(kStreets[d.supplier], kTowns[d.supplier]));
  p.drawText(line.translated(0, 88), align | Qt::AlignVCenter,
             QString("P.IVA %1").arg(12345670001LL + 7919LL * d.supplier));
  double y = 350;  // under the parcels, a line under the total placed highest
  if (page == 0) {
    p.setFont(QFont("DejaVu Sans", 12, QFont::Bold));
    p.drawText(QRectF(m, 150, 320, 20), Qt::AlignLeft | Qt::AlignVCenter, TitleOf(d.kind));
    const auto labelled = [&](const QRectF& place, const char* label, const std::string& value) {
      p.setFont(body);
      if (t.labels_above) {
        p.drawText(place.translated(0, -18), Qt::AlignLeft | Qt::AlignVCenter, label);
      } else {
        p.drawText(QRectF(place.left() - 120, place.top(), 116, place.height()),
                   Qt::AlignRight | Qt::AlignVCenter, label);
      }
      p.setFont(bold);
      p.drawText(place, Qt::AlignLeft | Qt::AlignVCenter, text(value));
    };
    labelled(t.number, t.number_label, d.Value("NumeroDocumento"));
    labelled(t.date, t.date_label, d.lines.front());
    if (d.kind == Kind::kDeliveryNote) {
      labelled(t.total.translated(0, 22), "Colli", d.Value("Quantita"));
    } else {
      labelled(t.total, t.total_label, d.lines[1]);
    }
  } else {
    y = 60;
  }
  // The items, shared out over the pages after the first two lines (the date and total as
  // printed).
  p.setFont(body);
  const std::size_t first = page == 0 ? 2 : 2 + 20 + static_cast<std::size_t>(page - 1) * 36;
  const std::size_t count = page == 0 ? 20 : 36;
  for (std::size_t i = first; i < d.lines.size() && i < first + count; ++i) {
    p.drawText(QPointF(m, y), text(d.lines[i]));
    y += 16;
  }
  p.setFont(QFont("DejaVu Sans", 8));
  p.drawText(QPointF(m, kPageHeight - m / 2),
             QString("Pagina %1 di %2").arg(page + 1).arg(d.pages));
}

void WriteLe16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xff);
  out += static_cast<char>(v >> 8);
}
void WriteLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

}  // namespace

std::string Document::Value(const std::string& field) const {
  for (const auto& [name, value] : fields) {
    if (name == field) return value;
  }
  return {};
}

char CodiceFiscaleCheck(const std::string& first15) {
  // The values of characters in odd places (1st, 3rd, ...), digits then letters.
  static constexpr int kOdd[] = {1,  0,  5, 7, 9, 13, 15, 17, 19, 21, 2,  4,  18,
                                 20, 11, 3, 6, 8, 12, 14, 16, 10, 22, 25, 24, 23};
  static constexpr int kOddDigits[] = {1, 0, 5, 7, 9, 13, 15, 17, 19, 21};
  int sum = 0;
  for (std::size_t i = 0; i < first15.size() && i < 15; ++i) {
    const char c = first15[i];
    const bool digit = c >= '0' && c <= '9';
    const int index = digit ? c - '0' : c - 'A';
    if (i % 2 == 0) {
      sum += digit ? kOddDigits[index] : kOdd[index];
    } else {
      sum += index;
    }
  }
  return static_cast<char>('A' + sum % 26);
}

Document MakeDocument(std::uint64_t seed, int n) {
  Dice dice(seed, n);
  Document d;
  d.kind = static_cast<Kind>((n - 1) % 3);
  const char* stem = d.kind == Kind::kInvoice        ? "fattura"
                     : d.kind == Kind::kDeliveryNote ? "ddt"
                                                     : "lettera";
  char number[16];
  std::snprintf(number, sizeof number, "%04d", n);
  d.stem = std::string(stem) + "-" + number;
  const std::string date = TwoDigits(1 + dice.Upto(28)) + "/" + TwoDigits(1 + dice.Upto(12)) + "/" +
                           std::to_string(2024 + dice.Upto(3));
  const std::string company = dice.Pick(kCompanies);
  d.fields.emplace_back("NumeroDocumento", std::to_string(100 + n * 7 + dice.Upto(5)));
  d.fields.emplace_back("DataDocumento", date);
  if (d.kind == Kind::kLetter) {
    d.fields.emplace_back("Cliente", company);
    d.lines.push_back(std::string(dice.Pick(kCities)) + ", " + date);
    d.lines.push_back("");
    d.lines.push_back("Egregi Signori,");
    for (int i = 0; i < 4; ++i) d.lines.push_back(dice.Pick(kLetterText));
    return d;
  }
  d.fields.emplace_back("TipoDocumento", d.kind == Kind::kInvoice ? "FAT" : "DDT");
  d.fields.emplace_back("Cliente", company);
  d.fields.emplace_back("CodiceFiscale", CodiceFiscale(dice));
  const int quantity = 1 + dice.Upto(40);
  d.fields.emplace_back("Quantita", std::to_string(quantity));
  const int items = 3 + dice.Upto(30);
  d.pages = items > 24 ? 2 : 1;
  if (d.kind == Kind::kInvoice) {
    const int cents = 100 + dice.Upto(20000);
    d.fields.emplace_back("Prezzo", Money(cents));
    d.fields.emplace_back("Totale", Money(cents * quantity));
    for (int i = 0; i < items; ++i) {
      d.lines.push_back(std::string(dice.Pick(kItems)) + "   q.tà " +
                        std::to_string(1 + dice.Upto(9)));
    }
  } else {
    for (int i = 0; i < items; ++i) {
      d.lines.push_back("Collo " + std::to_string(i + 1) + ": " + dice.Pick(kItems));
    }
  }
  return d;
}

Document MakeStackDocument(std::uint64_t seed, int n) {
  Dice dice(seed, n);
  Document d;
  constexpr Kind kKinds[] = {Kind::kInvoice, Kind::kCreditNote, Kind::kDeliveryNote,
                             Kind::kCarriageInvoice};
  d.kind = dice.Pick(kKinds);
  d.supplier = dice.Upto(static_cast<int>(std::size(kSuppliers)));
  char stem[32];
  std::snprintf(stem, sizeof stem, "pila-%04d", n);
  d.stem = stem;
  const int day = 1 + dice.Upto(28), month = 1 + dice.Upto(12);
  const std::string date = TwoDigits(day) + "/" + TwoDigits(month) + "/2026";
  const Template t = TemplateOf(d.supplier);
  d.fields.emplace_back("NumeroDocumento", std::to_string(1000 + dice.Upto(9000)));
  d.fields.emplace_back("DataDocumento", date);
  d.fields.emplace_back("TipoDocumento", d.kind == Kind::kCreditNote     ? "NC"
                                         : d.kind == Kind::kDeliveryNote ? "DDT"
                                                                         : "FAT");
  std::string name = kSuppliers[d.supplier];
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  d.fields.emplace_back("Cliente", name);
  // The first two lines are the date and the total as printed; the items follow.
  d.lines.push_back(t.date_style == 0   ? date
                    : t.date_style == 1 ? std::to_string(day) + " " + kMonths[month - 1] + " 2026"
                                        : TwoDigits(day) + "." + TwoDigits(month) + ".26");
  if (d.kind == Kind::kDeliveryNote) {
    d.fields.emplace_back("Quantita", std::to_string(1 + dice.Upto(40)));
    d.lines.push_back("");
  } else {
    const int cents = 1000 + dice.Upto(500000);
    d.fields.emplace_back("Totale", Money(cents));
    d.lines.push_back(PrintedMoney(cents));
  }
  d.places = {{"NumeroDocumento", t.number}, {"DataDocumento", t.date}, {"Cliente", {}}};
  // A delivery note's parcels are printed a line under where an invoice has its total.
  if (d.kind == Kind::kDeliveryNote) {
    d.places.emplace_back("Quantita", t.total.translated(0, 22));
  } else {
    d.places.emplace_back("Totale", t.total);
  }
  // The name in the letterhead, where its alignment puts it (about 13.5 points a letter).
  const double width = 13.5 * static_cast<double>(name.size());
  const double left = t.align == 0   ? 56.0
                      : t.align == 1 ? (kPageWidth - width) / 2
                                     : kPageWidth - 56.0 - width;
  d.places[2].second = QRectF(left, 36, width, 30);
  d.pages = 1 + dice.Upto(5);
  const int items = 20 + 36 * (d.pages - 1) - (d.pages > 1 ? dice.Upto(20) : 12 + dice.Upto(6));
  for (int i = 0; i < items; ++i) {
    d.lines.push_back(std::string(dice.Pick(kItems)) + "   q.tà " +
                      std::to_string(1 + dice.Upto(9)));
  }
  return d;
}

void WritePdf(const Document& d, const std::string& path) {
  QPdfWriter pdf(QString::fromStdString(path));
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
  pdf.setResolution(72);  // a unit a point
  pdf.setCreator("kvtfields test documents");
  QPainter p(&pdf);
  for (int page = 0; page < d.pages; ++page) {
    if (page > 0) pdf.newPage();
    DrawPage(p, d, page);
  }
  if (!p.end()) throw std::runtime_error("cannot write " + path);
}

std::vector<QImage> Scan(const Document& d, int dpi, std::uint64_t seed) {
  std::vector<QImage> pages;
  Dice dice(seed, 7919);
  const double scale = dpi / 72.0;
  const QSize size(static_cast<int>(kPageWidth * scale), static_cast<int>(kPageHeight * scale));
  for (int page = 0; page < d.pages; ++page) {
    QImage clean(size, QImage::Format_RGB32);
    clean.fill(Qt::white);
    {
      QPainter p(&clean);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::TextAntialiasing);
      p.scale(scale, scale);
      DrawPage(p, d, page);
    }
    // Skewed as a sheet fed a little crooked, then grey with speckles and a paper tone.
    const double degrees = (dice.Upto(301) - 150) / 100.0;
    QImage skewed(size, QImage::Format_RGB32);
    skewed.fill(Qt::white);
    {
      QPainter p(&skewed);
      p.setRenderHint(QPainter::SmoothPixmapTransform);
      p.translate(size.width() / 2.0, size.height() / 2.0);
      p.rotate(degrees);
      p.translate(-size.width() / 2.0, -size.height() / 2.0);
      p.drawImage(0, 0, clean);
    }
    QImage grey = skewed.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
      uchar* row = grey.scanLine(y);
      for (int x = 0; x < grey.width(); ++x) {
        int v = row[x] - 12 + dice.Upto(9);            // paper is never white
        if (dice.Upto(4000) == 0) v = dice.Upto(120);  // a speck of dust
        row[x] = static_cast<uchar>(std::clamp(v, 0, 255));
      }
    }
    grey.setDotsPerMeterX(static_cast<int>(dpi / 0.0254));
    grey.setDotsPerMeterY(static_cast<int>(dpi / 0.0254));
    pages.push_back(std::move(grey));
  }
  return pages;
}

void WriteTiff(const std::vector<QImage>& pages, int dpi, const std::string& path) {
  // Little-endian TIFF: header, then per page its pixels, its resolution and its directory.
  std::string out = "II";
  WriteLe16(out, 42);
  WriteLe32(out, 0);  // the first directory's offset, set below
  std::size_t link = 4;
  for (const QImage& page : pages) {
    const QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
    const auto w = static_cast<std::uint32_t>(grey.width());
    const auto h = static_cast<std::uint32_t>(grey.height());
    const auto pixels = static_cast<std::uint32_t>(out.size());
    for (std::uint32_t y = 0; y < h; ++y) {
      out.append(reinterpret_cast<const char*>(grey.constScanLine(static_cast<int>(y))), w);
    }
    if (out.size() % 2) out += '\0';
    const auto resolution = static_cast<std::uint32_t>(out.size());
    WriteLe32(out, static_cast<std::uint32_t>(dpi));
    WriteLe32(out, 1);
    const auto directory = static_cast<std::uint32_t>(out.size());
    for (int i = 0; i < 4; ++i)
      out[link + static_cast<std::size_t>(i)] = static_cast<char>((directory >> (8 * i)) & 0xff);
    struct Entry {
      std::uint16_t tag, type;
      std::uint32_t count, value;
    };
    const Entry entries[] = {
        {256, 4, 1, w},     {257, 4, 1, h},          {258, 3, 1, 8},          {259, 3, 1, 1},
        {262, 3, 1, 1},     {273, 4, 1, pixels},     {277, 3, 1, 1},          {278, 4, 1, h},
        {279, 4, 1, w * h}, {282, 5, 1, resolution}, {283, 5, 1, resolution}, {296, 3, 1, 2},
    };
    WriteLe16(out, static_cast<std::uint16_t>(std::size(entries)));
    for (const Entry& e : entries) {
      WriteLe16(out, e.tag);
      WriteLe16(out, e.type);
      WriteLe32(out, e.count);
      WriteLe32(out, e.value);
    }
    link = out.size();
    WriteLe32(out, 0);  // the next directory, set by the next page
  }
  std::ofstream file(path, std::ios::binary);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

std::vector<WrittenDocument> WriteSet(const std::string& dir, int count, std::uint64_t seed) {
  std::vector<WrittenDocument> written;
  std::string json = "[\n";
  for (int n = 1; n <= count; ++n) {
    WrittenDocument w{MakeDocument(seed, n), {}, {}};
    w.pdf = dir + "/" + w.document.stem + ".pdf";
    w.scan = dir + "/" + w.document.stem + ".tif";
    WritePdf(w.document, w.pdf);
    WriteTiff(Scan(w.document, 200, seed + static_cast<std::uint64_t>(n)), 200, w.scan);
    json += std::string(n > 1 ? ",\n" : "") + "  {\"pdf\": \"" + w.document.stem +
            ".pdf\", \"scan\": \"" + w.document.stem +
            ".tif\", \"pages\": " + std::to_string(w.document.pages) + ", \"fields\": {";
    bool first = true;
    for (const auto& [field, value] : w.document.fields) {
      json += std::string(first ? "" : ", ") + "\"" + field + "\": \"" + value + "\"";
      first = false;
    }
    json += "}}";
    written.push_back(std::move(w));
  }
  std::ofstream(dir + "/verita.json") << json << "\n]\n";
  return written;
}

}  // namespace kvttestdata
