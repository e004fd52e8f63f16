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
#include <map>
#include <mutex>

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

void EachPage(const std::string& path, const std::string& stack, int first, int count,
              const PageBudget& budget, const std::function<void(const QImage&, int dpi)>& each) {
  auto too_big = [&](std::int64_t w, std::int64_t h, int page) {
    if (w > 0 && h > 0 && w * h <= budget.max_pixels) return;
    Refuse(stack, "la pagina " + std::to_string(page) + " è troppo grande");
  };
  QFile input(QString::fromStdString(path));
  if (!input.open(QIODevice::ReadOnly)) Refuse(stack, "non si può aprire");
  if (input.peek(5) == "%PDF-") {
    QPdfDocument pdf;
    if (pdf.load(QString::fromStdString(path)) != QPdfDocument::Error::None ||
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
  QImageReader reader(&input);
  // Asked first, as the reader of the pages does: the TIFF reader finds its pages then.
  if (!reader.canRead() || std::max(1, reader.imageCount()) < first + count - 1) {
    Refuse(stack, "le pagine non si leggono");
  }
  for (int p = first - 1; p < first - 1 + count; ++p) {
    if (p > 0 && !reader.jumpToImage(p)) {
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

struct PageSpill::Impl {
  QTemporaryFile file;
  mutable std::mutex m;
  std::map<int, std::pair<EncodedPage, qint64>> pages;  // without their data, and where it is
};

PageSpill::PageSpill() : impl_(std::make_unique<Impl>()) {
  if (!impl_->file.open()) throw std::runtime_error("non si può creare un file temporaneo");
}

PageSpill::~PageSpill() = default;

void PageSpill::Put(int page, const EncodedPage& encoded) {
  std::lock_guard lock(impl_->m);
  auto& file = impl_->file;
  const qint64 at = file.size();
  if (!file.seek(at) || file.write(encoded.data.data(), static_cast<qint64>(encoded.data.size())) !=
                            static_cast<qint64>(encoded.data.size())) {
    throw std::runtime_error("scrittura del file temporaneo non riuscita: " +
                             file.errorString().toStdString());
  }
  EncodedPage meta = encoded;
  meta.data = std::to_string(encoded.data.size());  // its length, until taken back
  impl_->pages[page] = {std::move(meta), at};
}

std::optional<EncodedPage> PageSpill::Get(int page) const {
  std::lock_guard lock(impl_->m);
  const auto it = impl_->pages.find(page);
  if (it == impl_->pages.end()) return std::nullopt;
  EncodedPage out = it->second.first;
  const auto size = static_cast<qint64>(std::stoll(out.data));
  auto& file = impl_->file;
  if (!file.seek(it->second.second)) return std::nullopt;
  const QByteArray data = file.read(size);
  if (data.size() != size) return std::nullopt;
  out.data.assign(data.constData(), static_cast<std::size_t>(data.size()));
  return out;
}

void KeepItemPages(kvtengine::ArchiveEngine& engine, const kvtfiles::StoredFile& stack,
                   const std::string& path, const kvtfiles::FileReading& reading,
                   std::vector<kvtengine::IntakeItem>& items, const PageBudget& budget,
                   const PageSpill* spill) {
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
      std::vector<EncodedPage> kept;
      for (int p = item.first_page - 1; spill && p < item.first_page - 1 + item.pages; ++p) {
        auto page = spill->Get(p);
        if (!page) break;
        kept.push_back(std::move(*page));
      }
      if (kept.size() == static_cast<std::size_t>(item.pages)) {
        for (const auto& page : kept) pdf.Add(page);
      } else {
        EachPage(path, item.name, item.first_page, item.pages, budget,
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
