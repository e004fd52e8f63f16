#include "reading/item_pages.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPdfDocument>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cmath>
#include <cstdio>
#include <functional>

#include "engine/common/engine_error.h"
#include "engine/common/file_store.h"

namespace kvtread {

namespace {

constexpr const char* kSource = "kvtfields.reading";

[[noreturn]] void Refuse(const std::string& stack, const std::string& why) {
  throw kvtengine::EngineError(
      kvtengine::kFileRefused, kSource,
      "Le pagine della pila " + stack + " non si possono separare: " + why);
}

// Gives each page from `first` (from 1), `count` of them, as drawn (a PDF page at the budget's
// resolution, on white) or scanned, with its resolution.
void EachPage(const std::string& bytes, const std::string& stack, int first, int count,
              const PageBudget& budget, const std::function<void(const QImage&, int dpi)>& each) {
  auto too_big = [&](std::int64_t w, std::int64_t h, int page) {
    if (w > 0 && h > 0 && w * h <= budget.max_pixels) return;
    Refuse(stack, "la pagina " + std::to_string(page) + " è troppo grande");
  };
  if (bytes.size() >= 5 && bytes.compare(0, 5, "%PDF-") == 0) {
    QTemporaryFile file;
    if (!file.open() ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.flush()) {
      Refuse(stack, "non si può scrivere il file temporaneo");
    }
    QPdfDocument pdf;
    if (pdf.load(file.fileName()) != QPdfDocument::Error::None ||
        pdf.pageCount() < first + count - 1) {
      Refuse(stack, "il PDF è danneggiato o ha meno pagine");
    }
    for (int p = first - 1; p < first - 1 + count; ++p) {
      const QSizeF points = pdf.pagePointSize(p);
      const QSize pixels(static_cast<int>(std::lround(points.width() / 72.0 * budget.dpi)),
                         static_cast<int>(std::lround(points.height() / 72.0 * budget.dpi)));
      too_big(pixels.width(), pixels.height(), p + 1);
      const QImage drawn = pdf.render(p, pixels);
      if (drawn.isNull()) Refuse(stack, "la pagina " + std::to_string(p + 1) + " non si disegna");
      QImage white(drawn.size(), QImage::Format_RGB32);
      white.fill(Qt::white);
      QPainter(&white).drawImage(0, 0, drawn);
      each(white, budget.dpi);
    }
    return;
  }
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  for (int p = first - 1; p < first - 1 + count; ++p) {
    if ((p > 0 && !reader.jumpToImage(p)) || !reader.canRead()) {
      Refuse(stack, "la pagina " + std::to_string(p + 1) + " non si legge");
    }
    const QSize size = reader.size();
    if (size.isValid()) too_big(size.width(), size.height(), p + 1);
    const QImage image = reader.read();
    if (image.isNull()) Refuse(stack, "la pagina " + std::to_string(p + 1) + " non si legge");
    int dpi = static_cast<int>(std::lround(image.dotsPerMeterX() * 0.0254));
    if (dpi < 70 || dpi > 1200) dpi = 300;
    each(image, dpi);
  }
}

// Writes a PDF of scanned pages, an image filling each page, object by object as pages come:
// the same pages give the same bytes (no date, no id), so a cut made again is the file kept.
class PdfOfScans {
 public:
  explicit PdfOfScans(QFile& out) : out_(out) { Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"); }

  void Add(const QImage& scan, int dpi) {
    QByteArray data;
    std::string dict;
    const int w = scan.width(), h = scan.height();
    if (scan.depth() == 1) {
      // Black and white stays so, losslessly: one bit a pixel, 1 white, rows packed.
      const QImage bits = scan.convertToFormat(QImage::Format_Mono,
                                               QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)});
      QByteArray rows;
      const int row = (w + 7) / 8;
      rows.reserve(static_cast<qsizetype>(row) * h);
      for (int y = 0; y < h; ++y)
        rows.append(reinterpret_cast<const char*>(bits.constScanLine(y)), row);
      data = qCompress(rows, 9).mid(4);  // a zlib stream after Qt's four bytes of length
      dict = "/ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /FlateDecode";
    } else {
      const bool grey = scan.isGrayscale();
      const QImage pixels =
          scan.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
      QBuffer buffer(&data);
      buffer.open(QIODevice::WriteOnly);
      QImageWriter writer(&buffer, "jpeg");
      writer.setQuality(85);
      if (!writer.write(pixels))
        throw std::runtime_error("JPEG: " + writer.errorString().toStdString());
      dict = std::string("/ColorSpace ") + (grey ? "/DeviceGray" : "/DeviceRGB") +
             " /BitsPerComponent 8 /Filter /DCTDecode";
    }
    const double pw = w * 72.0 / dpi, ph = h * 72.0 / dpi;
    char box[96];
    std::snprintf(box, sizeof box, "%.2f 0 0 %.2f 0 0", pw, ph);
    const std::string draw = std::string("q ") + box + " cm /Scan Do Q\n";
    const int page = Begin();
    pages_.push_back(page);
    std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", pw, ph);
    Put("<< /Type /Page /Parent 1 0 R /MediaBox " + std::string(box) +
        " /Resources << /XObject << /Scan " + std::to_string(page + 1) + " 0 R >> >> /Contents " +
        std::to_string(page + 2) + " 0 R >>\nendobj\n");
    Begin();
    Put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " +
        std::to_string(h) + " " + dict + " /Length " + std::to_string(data.size()) +
        " >>\nstream\n");
    Put(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    Put("\nendstream\nendobj\n");
    Begin();
    Put("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw +
        "endstream\nendobj\n");
  }

  // The page tree, the catalogue and the cross-reference table.
  void Finish() {
    offsets_[0] = written_;
    Put("1 0 obj\n<< /Type /Pages /Count " + std::to_string(pages_.size()) + " /Kids [");
    for (const int p : pages_) Put(std::to_string(p) + " 0 R ");
    Put("] >>\nendobj\n");
    const int catalog = Begin();
    Put("<< /Type /Catalog /Pages 1 0 R >>\nendobj\n");
    const std::int64_t xref = written_;
    Put("xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n");
    for (const std::int64_t at : offsets_) {
      char line[24];
      std::snprintf(line, sizeof line, "%010lld 00000 n \n", static_cast<long long>(at));
      Put(line);
    }
    Put("trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " +
        std::to_string(catalog) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
  }

 private:
  // Starts the next object; object 1, the page tree, is written last.
  int Begin() {
    offsets_.push_back(written_);
    const int number = static_cast<int>(offsets_.size());
    Put(std::to_string(number) + " 0 obj\n");
    return number;
  }
  void Put(std::string_view text) {
    if (out_.write(text.data(), static_cast<qint64>(text.size())) !=
        static_cast<qint64>(text.size())) {
      throw std::runtime_error("scrittura non riuscita: " + out_.errorString().toStdString());
    }
    written_ += static_cast<std::int64_t>(text.size());
  }

  QFile& out_;
  std::int64_t written_ = 0;
  std::vector<std::int64_t> offsets_{0};  // object 1's place, filled in by Finish
  std::vector<int> pages_;
};

// "pila.tif" → "pila p. 3-6.pdf".
std::string CutName(const std::string& stack, int first, int count) {
  const auto dot = stack.find_last_of('.');
  std::string stem = dot == std::string::npos || dot == 0 ? stack : stack.substr(0, dot);
  std::erase_if(stem, [](char c) { return c == '/' || c == '\\'; });
  if (stem.empty()) stem = "pila";
  return stem + " p. " + std::to_string(first) +
         (count > 1 ? "-" + std::to_string(first + count - 1) : std::string()) + ".pdf";
}

}  // namespace

void KeepItemPages(kvtengine::ArchiveEngine& engine, const kvtfiles::StoredFile& stack,
                   const std::string& bytes, const kvtfiles::FileReading& reading,
                   std::vector<kvtengine::IntakeItem>& items, const PageBudget& budget) {
  const auto read = static_cast<std::int32_t>(reading.pages.size());
  for (auto& item : items) {
    if (item.state != kvtengine::IntakeItem::State::kQueued) continue;
    if (item.first_page == 1 && item.pages >= std::max(stack.pages, read)) continue;
    QTemporaryDir dir;
    if (!dir.isValid()) Refuse(item.name, "non si può creare una cartella temporanea");
    const std::string name = CutName(item.name, item.first_page, item.pages);
    QFile out(dir.filePath(QString::fromStdString(name)));
    if (!out.open(QIODevice::WriteOnly)) Refuse(item.name, out.errorString().toStdString());
    try {
      PdfOfScans pdf(out);
      EachPage(bytes, item.name, item.first_page, item.pages, budget,
               [&](const QImage& page, int dpi) { pdf.Add(page, dpi); });
      pdf.Finish();
      if (!out.flush()) throw std::runtime_error(out.errorString().toStdString());
    } catch (const kvt::Error&) {
      throw;
    } catch (const std::exception& e) {
      Refuse(item.name, e.what());
    }
    out.close();
    const kvtfiles::StoredFile cut = kvtengine::KeepFile(engine, out.fileName().toStdString());
    item.pages_sha256 = cut.sha256;

    // The words of these pages were read with the stack: they are the cut's, never read again.
    kvtfiles::FileReading mine;
    if (read < item.first_page + item.pages - 1 ||
        (engine.FindReading(cut.sha256, mine) && mine.reader == reading.reader)) {
      continue;
    }
    mine = {};
    mine.reader = reading.reader;
    mine.read_at = reading.read_at;
    const auto begin = reading.pages.begin() + (item.first_page - 1);
    mine.pages.assign(begin, begin + item.pages);
    engine.KeepReading(cut.sha256, mine);
  }
}

}  // namespace kvtread
