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
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "engine/common/engine_error.h"
#include "engine/common/file_store.h"
#include "reading/scans_pdf.h"

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
                   std::vector<kvtengine::IntakeItem>& items, const PageBudget& budget,
                   const std::vector<EncodedPage>* encoded) {
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
      ScansPdf pdf(out);
      const auto first = static_cast<std::size_t>(item.first_page - 1);
      const bool ready =
          encoded && encoded->size() >= first + static_cast<std::size_t>(item.pages) &&
          std::all_of(encoded->begin() + static_cast<std::ptrdiff_t>(first),
                      encoded->begin() + static_cast<std::ptrdiff_t>(first) + item.pages,
                      [](const EncodedPage& e) { return !e.data.empty(); });
      if (ready) {
        for (int p = 0; p < item.pages; ++p)
          pdf.Add((*encoded)[first + static_cast<std::size_t>(p)]);
      } else {
        EachPage(bytes, item.name, item.first_page, item.pages, budget,
                 [&](const QImage& page, int dpi) { pdf.Add(EncodePage(page, dpi)); });
      }
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
